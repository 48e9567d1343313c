#include "forms/modulewindow.h"

#include <QCloseEvent>

#include "link/pending.h"
#include "link/shell.h"

ModuleWindow::ModuleWindow(QWidget* parent, PendingTable& pending)
    : QWidget(parent, Qt::Window), pending_(pending) {}

ModuleWindow::~ModuleWindow() {
    endExchanges();
}

void ModuleWindow::endExchanges() {
    AbandonExchanges(this);
    pending_.release(this);
}

void ModuleWindow::abandon(int flow) {
    pending_.remove(this, flow);
}

void ModuleWindow::closeEvent(QCloseEvent* event) {
    RunGuarded([this] { formClose(); });
    event->accept();
}

QString ModuleWindow::send(const QString& address, const QString& port, const Continuation& handler,
                           const RequestFrame& request) {
    ConnectionRef started;
    const QString error = SendCommand(address, port, handler, request.data(), request.length,
                                      ReceiveBuffer_, &started);
    if (error.isEmpty() && !pending_.add(handler, this, started)) {
        // No slot to time it out: a command that could wait for ever is not left waiting.
        AbandonExchange(started);
        return QStringLiteral("Слишком много одновременных запросов");
    }
    return error;
}

bool ModuleWindow::sendRequest(const QString& address, const QString& port,
                               const Continuation& handler, uint8_t group, uint8_t type,
                               std::span<const uint8_t> payload) {
    const QString error = send(address, port, handler, BuildRequest(group, type, payload));
    if (error.isEmpty())
        return true;
    LogEvent(error);
    return false;
}
