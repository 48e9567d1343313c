#pragma once
// What every window that talks to a module shares: its ReceiveBuffer, the time-outs of its
// commands, and the guarantee that no answer and no time-out reaches it once it is gone.
#include <QWidget>

#include "flows/commands.h"
#include "link/exchange.h"

class QCloseEvent;
class PendingTable;

class ModuleWindow : public QWidget, public AnswerTarget {
    Q_OBJECT
  public:
    // `pending` counts the window's commands down to their time-outs on its owner's timer.
    ModuleWindow(QWidget* parent, PendingTable& pending);
    ~ModuleWindow() override;

    ReceiveBuffer& receiveBuffer() override { return ReceiveBuffer_; }
    // What the window's flows ask of the shared control states goes to whoever owns the windows.
    void lockModuleSettings(bool lock) override { emit moduleSettingsLockAsked(lock); }
    void setBusy(bool busy) override { emit busyAsked(busy); }

  signals:
    void moduleSettingsLockAsked(bool lock);
    void busyAsked(bool busy);
    // The operator closed the window and it has done what its close does.
    void closed();

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
    // Gives up the command of one flow: its answer and its time-out will not come.
    void abandon(int flow);

    // Binds one of this window's handlers; `flow` tells its exchanges and time-outs apart. Its
    // time-out ends as the handler is entered with an answer, a time-out or a failed send.
    template <class W>
    Continuation bind(int flow, void (W::*handler)(Sender)) {
        W* self = static_cast<W*>(this);
        return Continuation{this, flow, [self, flow, handler](Sender s) {
                                if (s == Sender::Answer || EndsUnanswered(s))
                                    self->abandon(flow);
                                (self->*handler)(s);
                            }};
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

  private:
    PendingTable& pending_;
};
