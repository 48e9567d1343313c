#include "forms/modulewindow.h"

ModuleWindow::ModuleWindow(QWidget* parent) : QWidget(parent, Qt::Window) {}

ModuleWindow::~ModuleWindow() {
    AbandonExchanges(this);
    ReleasePendingRequests(this);
}

QString ModuleWindow::send(const QString& address, const QString& port, const Continuation& handler,
                           int length) {
    ConnectionRef started;
    const QString error =
        SendCommand(address, port, handler, RequestBuffer.data(), length, ReceiveBuffer_, &started);
    if (error.isEmpty()) {
        AddPendingRequest(handler, this, started);
        lastExchange_[handler.flow] = started;
    }
    return error;
}

ConnectionRef ModuleWindow::openExchange(int flow) const {
    const auto it = lastExchange_.find(flow);
    ConnectionRef c = it == lastExchange_.end() ? nullptr : it->second.lock();
    return c && !c->delivered && !c->Interrupted ? c : nullptr;
}
