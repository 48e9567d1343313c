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
    }
    return error;
}
