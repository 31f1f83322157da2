#pragma once
// MetricsServer: the metrics endpoint, an HTTP server on the user-interface
// thread's event loop (Qt HttpServer parses the requests). It reads the
// registry and changes nothing.
//
//   GET /metrics       200, the registry in the text format, or OpenMetrics
//                      when the Accept header asks for it
//   other methods      405 (Allow: GET)
//   other paths        404
//
// A scrape takes a snapshot of the registry on this thread and writes the
// text out on a worker thread of the server's own (one at a time); the
// answer goes out from this thread when the text is ready. Every answer
// closes its connection. A connection whose request grows past
// Limits::maxRequestBytes gets 413 and is closed; one that has not sent a
// whole request within requestTimeoutMs, or has not taken its answer within
// responseTimeoutMs, is dropped. At most maxConnections are open at once;
// further ones are closed at once.

#include "metrics/ListenAddress.h"

#include <QThreadPool>
#include <QtHttpServer/QAbstractHttpServer>

namespace tarvok {

class Clock;
class MetricsRegistry;

class MetricsServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    struct Limits {
        qint64 maxRequestBytes = 16 * 1024;
        int maxConnections = 32;
        qint64 requestTimeoutMs = 10'000;
        qint64 responseTimeoutMs = 60'000;
    };

    // The registry and the clock must outlive the server.
    MetricsServer(const MetricsRegistry& registry, Clock& clock, Limits limits, QObject* parent = nullptr);
    MetricsServer(const MetricsRegistry& registry, Clock& clock, QObject* parent = nullptr);
    ~MetricsServer() override;

    // Starts listening; false with *error set (a message for the operator
    // naming the address and the system's reason).
    bool start(const ListenAddress& where, QString* error = nullptr);
    // The port listened on (0 when not listening): port 0 asks for any.
    quint16 port() const;
    int openConnections() const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    class BoundedTcpServer;
    const MetricsRegistry& registry_;
    Clock& clock_;
    Limits limits_;
    BoundedTcpServer* tcp_ = nullptr;
    QThreadPool writers_; // last: waited for before the rest goes
};

} // namespace tarvok
