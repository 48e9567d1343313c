#pragma once
// What the exporter's HTTP face hands the exporter and takes back: one request at a time, on the
// exporter's thread, answered once, then or later.
#include <QByteArray>
#include <QUrlQuery>
#include <functional>
#include <utility>
#include <vector>

struct HttpRequest {
    QByteArray method;
    QByteArray path;  // without the query
    QUrlQuery query;
    std::vector<std::pair<QByteArray, QByteArray>> headers;  // names in lower case

    // The value of a header by its lower-case name; empty when the request has none.
    QByteArray header(const QByteArray& lowerName) const {
        for (const auto& [name, value] : headers) {
            if (name == lowerName)
                return value;
        }
        return {};
    }
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType = QByteArrayLiteral("text/plain; charset=utf-8");
    QByteArray body;
};

// Answers one request, once; called on the exporter's thread. A client that has gone by then
// is written nothing.
using HttpRespond = std::function<void(HttpResponse)>;
using HttpHandler = std::function<void(const HttpRequest&, HttpRespond)>;
