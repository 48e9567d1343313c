#pragma once
// What every window that talks to a module shares: its ReceiveBuffer, and the guarantee that
// no answer and no time-out reaches it once it is gone.
#include <QWidget>

#include "flows/commands.h"
#include "link/exchange.h"

class QCloseEvent;

class ModuleWindow : public QWidget, public AnswerTarget {
    Q_OBJECT
  public:
    explicit ModuleWindow(QWidget* parent);
    ~ModuleWindow() override;

    ReceiveBuffer& receiveBuffer() override { return ReceiveBuffer_; }

  protected:
    // What the window does when the operator closes it; run guarded by the close event.
    virtual void formClose() {}
    void closeEvent(QCloseEvent* event) override;
    // Gives up every exchange and time-out of the window: no answer reaches it any more.
    void endExchanges();
    // A window that is closed goes: nothing of it is left waiting, and it is deleted once the
    // event loop is back.
    void endAndDelete() {
        endExchanges();
        deleteLater();
    }

    // Binds one of this window's handlers; `flow` tells its exchanges and time-outs apart.
    template <class W>
    Continuation bind(int flow, void (W::*handler)(Sender)) {
        W* self = static_cast<W*>(this);
        return Continuation{this, flow, [self, handler](Sender s) { (self->*handler)(s); }};
    }

    // The usual send: on success registers the time-out and returns the empty text, otherwise
    // returns the error text (the caller logs it, as each flow orders its own steps).
    QString send(const QString& address, const QString& port, const Continuation& handler,
                 const RequestFrame& request);

    // Builds command `type` of `group` (a write with the block its flow built) and sends it; a
    // failure to send is logged here. True once the command is on its way.
    bool sendRequest(const QString& address, const QString& port, const Continuation& handler,
                     uint8_t group, uint8_t type, std::span<const uint8_t> payload = {});

    ReceiveBuffer ReceiveBuffer_{};
};
