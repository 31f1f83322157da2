#include "metrics/MetricsServer.h"

#include "base/Clock.h"
#include "metrics/MetricsRegistry.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtHttpServer/QHttpServerRequest>
#include <QtHttpServer/QHttpServerResponder>

namespace tarvok {

namespace {

// What the server keeps of one connection: the bytes of its request so far
// and the deadline by which it must have ended.
class ConnectionGuard : public QObject {
public:
    explicit ConnectionGuard(QTcpSocket* socket) : QObject(socket) {}
    qint64 received = 0;
    bool answered = false;
    std::unique_ptr<TimerHandle> deadline;
};

ConnectionGuard* guardOf(QTcpSocket* socket)
{
    // (No meta-object of its own: found by its C++ type.)
    if (socket)
        for (QObject* child : socket->children())
            if (auto* guard = dynamic_cast<ConnectionGuard*>(child))
                return guard;
    return nullptr;
}

void armDeadline(ConnectionGuard* guard, QTcpSocket* socket, Clock& clock, qint64 ms)
{
    QPointer<QTcpSocket> s(socket);
    guard->deadline = clock.singleShot(ms, [s] {
        if (s)
            s->abort();
    });
}

} // namespace

class MetricsServer::BoundedTcpServer : public QTcpServer {
public:
    BoundedTcpServer(Clock& clock, const Limits& limits) : clock_(clock), limits_(limits) {}
    int open() const { return open_; }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (open_ >= limits_.maxConnections) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        ++open_;
        connect(socket, &QObject::destroyed, this, [this] { --open_; });
        // The socket holds no more than one request may take; the request
        // stays in it until the server has read all of it.
        socket->setReadBufferSize(limits_.maxRequestBytes);
        auto* guard = new ConnectionGuard(socket);
        armDeadline(guard, socket, clock_, limits_.requestTimeoutMs);
        // Connected before the HTTP server's own handler, so this one sees
        // the bytes first.
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, guard] {
            if (guard->answered)
                return;
            guard->received += socket->bytesAvailable();
            if (guard->received < limits_.maxRequestBytes)
                return;
            // Too large: the request goes no further. What the client still
            // sends is read and dropped until it has taken the answer and
            // closed (closing first would reset the connection and could
            // lose the answer), or until the deadline.
            guard->answered = true;
            disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
            if (socket->isTransactionStarted())
                socket->commitTransaction();
            socket->readAll();
            connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->write("HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain\r\n"
                          "Content-Length: 18\r\nConnection: close\r\n\r\nRequest too large\n");
            armDeadline(guard, socket, clock_, limits_.responseTimeoutMs);
        });
        addPendingConnection(socket);
    }

private:
    Clock& clock_;
    const Limits& limits_;
    int open_ = 0;
};

MetricsServer::MetricsServer(const MetricsRegistry& registry, Clock& clock, Limits limits, QObject* parent)
    : QAbstractHttpServer(parent), registry_(registry), clock_(clock), limits_(limits)
{
    writers_.setMaxThreadCount(1);
}

MetricsServer::MetricsServer(const MetricsRegistry& registry, Clock& clock, QObject* parent)
    : MetricsServer(registry, clock, Limits(), parent)
{
}

MetricsServer::~MetricsServer()
{
    // A text still being written is dropped with its answer.
    writers_.clear();
    writers_.waitForDone();
}

bool MetricsServer::start(const ListenAddress& where, QString* error)
{
    auto* tcp = new BoundedTcpServer(clock_, limits_);
    if (!tcp->listen(where.address, where.port)) {
        if (error)
            *error = QStringLiteral("メトリクスの待ち受けを %1 で開始できません: %2")
                         .arg(where.toString(), tcp->errorString());
        delete tcp;
        return false;
    }
    bind(tcp); // the HTTP server takes it as its child
    tcp_ = tcp;
    return true;
}

quint16 MetricsServer::port() const
{
    return tcp_ && tcp_->isListening() ? tcp_->serverPort() : 0;
}

int MetricsServer::openConnections() const
{
    return tcp_ ? tcp_->open() : 0;
}

bool MetricsServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    using Status = QHttpServerResponder::StatusCode;
    ConnectionGuard* guard = guardOf(socket);
    if (guard && guard->answered)
        return true;
    QHttpServerResponder responder = makeResponder(request, socket);
    const QByteArray plainText = QByteArrayLiteral("text/plain; charset=utf-8");
    const QByteArray close = QByteArrayLiteral("close");
    if (request.url().path() != QLatin1String("/metrics")) {
        responder.write(QByteArrayLiteral("Not Found\n"), {{"Content-Type", plainText}, {"Connection", close}},
                        Status::NotFound);
    } else if (request.method() != QHttpServerRequest::Method::Get) {
        responder.write(QByteArrayLiteral("Method Not Allowed\n"),
                        {{"Content-Type", plainText}, {"Allow", "GET"}, {"Connection", close}}, Status::MethodNotAllowed);
    } else {
        // The snapshot here, the text on the worker, the answer back here
        // (if the client is still there).
        const ExpositionFormat format = MetricsRegistry::formatForAccept(request.value("Accept"));
        auto snapshot = registry_.snapshot();
        auto pending = std::make_shared<QHttpServerResponder>(std::move(responder));
        QPointer<QTcpSocket> client(socket);
        if (guard) {
            guard->answered = true;
            armDeadline(guard, socket, clock_, limits_.responseTimeoutMs);
        }
        writers_.start([this, snapshot, format, pending, client] {
            QByteArray text;
            MetricsRegistry::render(*snapshot, format, text);
            QMetaObject::invokeMethod(
                this,
                [pending, client, format, text = std::move(text)] {
                    if (!client || client->state() != QAbstractSocket::ConnectedState)
                        return;
                    pending->write(text,
                                   {{"Content-Type", MetricsRegistry::contentType(format)}, {"Connection", "close"}},
                                   QHttpServerResponder::StatusCode::Ok);
                    client->disconnectFromHost();
                },
                Qt::QueuedConnection);
        });
        return true;
    }
    if (guard) {
        guard->answered = true;
        armDeadline(guard, socket, clock_, limits_.responseTimeoutMs);
    }
    socket->disconnectFromHost();
    return true;
}

void MetricsServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // handleRequest answers every request; nothing is left for here.
    (void)request;
    socket->abort();
}

} // namespace tarvok
