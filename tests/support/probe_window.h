#pragma once
// A window that talks to a module through the handler convention, one flow per command type,
// and records every entry of its handlers. Tests drive it like an operator would.
#include <QElapsedTimer>
#include <QString>
#include <map>
#include <vector>

#include "forms/modulewindow.h"
#include "link/pending.h"
#include "link/shell.h"
#include "support/windows.h"

class ProbeWindow : public ModuleWindow {
  public:
    struct Entry {
        int flow;
        Sender sender;
        int parsed;        // the type ParseAnswer returned; -1 for a time-out
        qint64 atMs;       // since the window was created
        QByteArray bytes;  // ReceiveBuffer as the handler saw it (first 16 bytes)
    };

    // Its time-outs count on the main window's timer, as every window's do.
    ProbeWindow(QString address, QString port)
        : ModuleWindow(nullptr, MainWindow()->Pending),
          address_(std::move(address)),
          port_(std::move(port)) {
        clock_.start();
    }

    // The operator's press (or the window's own tick) for command `type` of `group`.
    void press(uint8_t group, uint8_t type, Sender sender = Sender::Operator) {
        groups_[type] = group;
        handle(type, sender);
    }

    Continuation continuation(int flow) {
        return Continuation{this, flow, [this, flow](Sender s) { handle(flow, s); }};
    }

    void handle(int flow, Sender sender) {
        ++handled;
        if (EndsUnanswered(sender)) {
            abandon(flow);
            if (state_[flow] != 0)
                entries.push_back({flow, sender, -1, clock_.elapsed(), {}});
            state_[flow] = 0;
            return;
        }
        const bool waiting = state_[flow] != 0;
        if (waiting != (sender == Sender::Answer)) {
            ++ignored;
            return;
        }
        if (!waiting) {
            sentAtMs[flow] = clock_.elapsed();
            const QString error =
                send(address_, port_, continuation(flow), BuildRequest(groups_[flow], flow));
            if (!error.isEmpty()) {
                errors << error;
                return;
            }
            state_[flow] = flow;
            return;
        }
        abandon(flow);
        const int parsed = ParseAnswer(*this);
        entries.push_back({flow, sender, parsed, clock_.elapsed(),
                           QByteArray(reinterpret_cast<const char*>(ReceiveBuffer_.data()), 16)});
        state_[flow] = 0;
    }

    bool waiting(int flow) const {
        const auto it = state_.find(flow);
        return it != state_.end() && it->second != 0;
    }
    const ReceiveBuffer& buffer() const { return ReceiveBuffer_; }

    std::vector<Entry> entries;
    std::map<int, qint64> sentAtMs;
    QStringList errors;
    int ignored = 0;
    inline static int handled = 0;  // by every probe, also after it is gone

  private:
    QString address_, port_;
    std::map<int, int> state_;
    std::map<int, uint8_t> groups_;
    QElapsedTimer clock_;
};
