// The endpoint over real loopback connections: paths and methods, the
// formats, the bounds on requests, connections and their time, several
// scrapers at once; and the listen addresses it accepts.

#include "base/Clock.h"
#include "metrics/MetricsRegistry.h"
#include "metrics/MetricsServer.h"
#include "targets/TargetList.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace tarvok;

namespace {

constexpr int WaitMs = 10'000;

// A raw client: sends its bytes and reads until the server closes.
struct Client {
    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    QByteArray received;
    bool closed = false;

    explicit Client(quint16 port)
    {
        QObject::connect(socket.get(), &QTcpSocket::readyRead, [this] { received += socket->readAll(); });
        QObject::connect(socket.get(), &QTcpSocket::disconnected, [this] { closed = true; });
        socket->connectToHost(QHostAddress::LocalHost, port);
    }
    void send(const QByteArray& bytes) { socket->write(bytes); }
    bool waitClosed() { return QTest::qWaitFor([this] { return closed; }, WaitMs); }
    QByteArray status() const { return received.left(received.indexOf("\r\n")); }
    QByteArray header(const QByteArray& name) const
    {
        const QByteArray head = received.left(received.indexOf("\r\n\r\n"));
        for (const QByteArray& line : head.split('\n'))
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        return {};
    }
    QByteArray body() const { return received.mid(received.indexOf("\r\n\r\n") + 4); }
};

struct Endpoint {
    TargetList list;
    MetricsRegistry registry{[this] { return &list; }, QStringLiteral("9.9")};
    ManualClock clock;
    MetricsServer server;
    quint16 port = 0;

    explicit Endpoint(MetricsServer::Limits limits = {}) : server(registry, clock, limits)
    {
        list.append(QStringLiteral("a.example"), QString());
        registry.runStarted();
        JudgedEcho e;
        e.targetIndex = 0;
        e.target = QStringLiteral("a.example");
        e.address = QStringLiteral("192.0.2.7");
        e.rttUs = 2000;
        registry.echoJudged(e);
        QString error;
        EXPECT_TRUE(server.start({QHostAddress(QHostAddress::LocalHost), 0}, &error)) << error.toStdString();
        port = server.port();
    }
};

QByteArray get(const char* path, const char* extra = "")
{
    return QByteArray("GET ") + path + " HTTP/1.1\r\nHost: localhost\r\n" + extra + "\r\n";
}

} // namespace

TEST(MetricsServer, PathsMethodsAndFormats)
{
    Endpoint ep;
    const struct {
        QByteArray request;
        QByteArray status;
        QByteArray contentType; // prefix
        QByteArray bodyHas;
    } cases[] = {
        {get("/metrics"), "HTTP/1.1 200 OK", "text/plain; version=0.0.4",
         "tarvok_echoes_total{target=\"a.example\",address=\"192.0.2.7\",result=\"ok\"} 1\n"},
        {get("/metrics?x=1", "Accept: application/openmetrics-text;version=1.0.0,text/plain;q=0.5\r\n"),
         "HTTP/1.1 200 OK", "application/openmetrics-text", "# EOF\n"},
        {get("/"), "HTTP/1.1 404 Not Found", "text/plain", "Not Found"},
        {get("/metrics/"), "HTTP/1.1 404 Not Found", "text/plain", ""},
        {get("/metricsx"), "HTTP/1.1 404 Not Found", "text/plain", ""},
        {"POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc", "HTTP/1.1 405 Method Not Allowed",
         "text/plain", ""},
        {"DELETE /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 405 Method Not Allowed", "text/plain", ""},
        {"PUT /other HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 404 Not Found", "text/plain", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.toStdString());
        Client client(ep.port);
        client.send(c.request);
        ASSERT_TRUE(client.waitClosed()) << client.received.left(300).toStdString() << " state " << client.socket->state();
        EXPECT_EQ(client.status(), c.status);
        EXPECT_TRUE(client.header("Content-Type").startsWith(c.contentType)) << client.header("Content-Type").data();
        EXPECT_EQ(client.header("Content-Length").toLongLong(), client.body().size());
        EXPECT_TRUE(client.body().contains(c.bodyHas));
        if (c.status.contains("405")) {
            EXPECT_EQ(client.header("Allow"), "GET");
        }
    }
    // The scrapes changed nothing.
    EXPECT_EQ(ep.registry.passes(), 0u);
    EXPECT_EQ(ep.registry.targetCount(), 1);
}

TEST(MetricsServer, SeveralScrapersAtOnce)
{
    Endpoint ep;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 8; ++i)
        clients.push_back(std::make_unique<Client>(ep.port));
    // Every request goes out in two pieces, interleaved with the others.
    for (auto& c : clients)
        c->send("GET /metr");
    ASSERT_TRUE(QTest::qWaitFor([&] { return ep.server.openConnections() == 8; }, WaitMs));
    for (auto& c : clients)
        c->send("ics HTTP/1.1\r\nHost: x\r\n\r\n");
    for (auto& c : clients) {
        ASSERT_TRUE(c->waitClosed());
        EXPECT_EQ(c->status(), "HTTP/1.1 200 OK");
        EXPECT_TRUE(c->body().contains("tarvok_build_info{version=\"9.9\"} 1\n"));
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return ep.server.openConnections() == 0; }, WaitMs));
}

TEST(MetricsServer, RequestsConnectionsAndTimeAreBounded)
{
    MetricsServer::Limits limits;
    limits.maxRequestBytes = 4096;
    limits.maxConnections = 3;
    limits.requestTimeoutMs = 5000;
    Endpoint ep(limits);

    // A request larger than the bound, in its headers or in a body: 413,
    // whatever follows is dropped; the server keeps no more of it.
    for (const QByteArray& big :
         {get("/metrics", "X-Pad: " + QByteArray(8000, 'x') + "\r\n"),
          QByteArray("POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000\r\n\r\n") +
              QByteArray(1'000'000, 'y')}) {
        Client client(ep.port);
        client.send(big);
        ASSERT_TRUE(QTest::qWaitFor([&] { return client.received.contains("\r\n\r\nRequest too large\n"); }, WaitMs));
        EXPECT_EQ(client.status(), "HTTP/1.1 413 Payload Too Large");
        ASSERT_TRUE(QTest::qWaitFor([&] { return client.socket->bytesToWrite() == 0; }, WaitMs));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return ep.server.openConnections() == 0; }, WaitMs));
    // Just below the bound still passes.
    {
        Client client(ep.port);
        client.send(get("/metrics", "X-Pad: " + QByteArray(3000, 'x') + "\r\n"));
        ASSERT_TRUE(client.waitClosed());
        EXPECT_EQ(client.status(), "HTTP/1.1 200 OK");
    }

    // Idle connections take the allowed places; one more is closed at once;
    // the idle ones are dropped at their deadline, and the place is free again.
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 3; ++i)
        idle.push_back(std::make_unique<Client>(ep.port));
    idle[0]->send("GET /metrics HTTP/1.1\r\n"); // never finished
    ASSERT_TRUE(QTest::qWaitFor([&] { return ep.server.openConnections() == 3; }, WaitMs));
    Client extra(ep.port);
    ASSERT_TRUE(extra.waitClosed());
    EXPECT_TRUE(extra.received.isEmpty());

    ep.clock.advance(4999);
    QTest::qWait(0);
    EXPECT_FALSE(idle[0]->closed);
    ep.clock.advance(1);
    for (auto& c : idle)
        ASSERT_TRUE(c->waitClosed());
    EXPECT_TRUE(idle[0]->received.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return ep.server.openConnections() == 0; }, WaitMs));
    Client again(ep.port);
    again.send(get("/metrics"));
    ASSERT_TRUE(again.waitClosed());
    EXPECT_EQ(again.status(), "HTTP/1.1 200 OK");
}

TEST(MetricsServer, ListenAddresses)
{
    const struct {
        const char* text;
        const char* address; // null: refused
        quint16 port;
    } cases[] = {
        {"9464", "127.0.0.1", 9464},
        {" 9464 ", "127.0.0.1", 9464},
        {"0.0.0.0:9100", "0.0.0.0", 9100},
        {"198.18.1.2:65535", "198.18.1.2", 65535},
        {"[::1]:9464", "::1", 9464},
        {"[::]:1", "::", 1},
        {"", nullptr, 0},
        {"0", nullptr, 0},
        {"65536", nullptr, 0},
        {"-5", nullptr, 0},
        {"+80", nullptr, 0},
        {"localhost:9464", nullptr, 0},
        {"1:9464", nullptr, 0},
        {":9464", nullptr, 0},
        {"::1:9464", nullptr, 0},
        {"[::1]9464", nullptr, 0},
        {"999.1.1.1:80", nullptr, 0},
        {"127.0.0.1:", nullptr, 0},
    };
    for (const auto& c : cases) {
        QString error;
        const auto where = parseListenAddress(QString::fromLatin1(c.text), &error);
        if (!c.address) {
            EXPECT_FALSE(where) << c.text;
            EXPECT_TRUE(error.contains(QString::fromLatin1(c.text))) << c.text;
            continue;
        }
        ASSERT_TRUE(where) << c.text;
        EXPECT_EQ(where->address, QHostAddress(QString::fromLatin1(c.address))) << c.text;
        EXPECT_EQ(where->port, c.port) << c.text;
    }

    // A port taken by another listener: refused with a message naming it.
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    TargetList list;
    MetricsRegistry registry([&] { return &list; });
    MetricsServer server(registry, Clock::system());
    QString error;
    EXPECT_FALSE(server.start({QHostAddress(QHostAddress::LocalHost), taken.serverPort()}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("127.0.0.1:%1").arg(taken.serverPort()))) << error.toStdString();
    EXPECT_EQ(server.port(), 0);
}
