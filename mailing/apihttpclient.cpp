#include "apihttpclient.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

struct ApiHttpClient::Request
{
    QByteArray bytes;
    int timeoutMs = 0;
    bool mayRepeat = false;
    bool repeated = false;
    QPointer<QObject> context;
    Callback done;
    // A child of the client, deleted later: the request may end inside its
    // own time-out.
    QTimer *deadline = nullptr;
    ApiHttpConnection *connection = nullptr;

    ~Request()
    {
        if (deadline)
            deadline->deleteLater();
    }
};

namespace {
QByteArray requestBytes(const QUrl &url, const QByteArray &contentType, const QByteArray &body)
{
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    const int defaultPort = url.scheme() == QLatin1String("https") ? 443 : 80;
    if (url.port(defaultPort) != defaultPort)
        host += ':' + QByteArray::number(url.port());

    QByteArray bytes;
    bytes.reserve(200 + target.size() + body.size());
    bytes += "POST " + target + " HTTP/1.1\r\nHost: " + host
        + "\r\nUser-Agent: yxa-mailing\r\nAccept: application/json\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    bytes += body;
    return bytes;
}
} // namespace

ApiHttpClient *ApiHttpClient::forThread()
{
    // One per thread: the transports of all tenants that share a worker
    // thread share its connections.
    static thread_local QPointer<ApiHttpClient> client;
    if (!client) {
        client = new ApiHttpClient;
        QThread *thread = QThread::currentThread();
        if (QCoreApplication::instance() && thread == QCoreApplication::instance()->thread())
            client->setParent(QCoreApplication::instance());
        else
            connect(thread, &QThread::finished, client.data(), &QObject::deleteLater);
    }
    return client;
}

ApiHttpClient::ApiHttpClient(QObject *parent)
    : QObject(parent)
{
}

ApiHttpClient::~ApiHttpClient()
{
    for (Server &server : servers)
        qDeleteAll(server.connections);
}

void ApiHttpClient::setCaCertificates(const QList<QSslCertificate> &certificates)
{
    caCertificates = certificates;
}

int ApiHttpClient::connectionCount() const
{
    int count = 0;
    for (const Server &server : servers)
        count += server.connections.size();
    return count;
}

void ApiHttpClient::post(const QUrl &url, const QByteArray &contentType, const QByteArray &body,
    int timeoutMs, bool mayRepeat, QObject *context, Callback done)
{
    const bool tls = url.scheme() == QLatin1String("https");
    auto request = QSharedPointer<Request>::create();
    request->deadline = new QTimer(this);
    request->mayRepeat = mayRepeat;
    request->timeoutMs = timeoutMs;
    request->context = context;
    request->done = std::move(done);
    if (!url.isValid() || url.host().isEmpty() || (!tls && url.scheme() != QLatin1String("http"))) {
        ApiHttpResult result;
        result.error = QStringLiteral("the URL is not an http or https URL");
        // Reported from the event loop, as every other outcome.
        QTimer::singleShot(0, this, [this, request, result] { finish(request, result); });
        return;
    }
    request->bytes = requestBytes(url, contentType, body);

    const quint16 port = quint16(url.port(tls ? 443 : 80));
    const QString key
        = url.scheme() + QLatin1Char('|') + url.host() + QLatin1Char('|') + QString::number(port);
    Server &server = servers[key];
    server.host = url.host();
    server.port = port;
    server.tls = tls;
    server.queue.append(request);

    request->deadline->setSingleShot(true);
    QWeakPointer<Request> weak = request;
    connect(request->deadline, &QTimer::timeout, this, [this, key, weak] {
        const QSharedPointer<Request> late = weak.toStrongRef();
        if (!late)
            return;
        ApiHttpResult result;
        result.timedOut = true;
        result.error = QStringLiteral("no reply in time");
        auto it = servers.find(key);
        if (it != servers.end()) {
            it->queue.removeOne(late);
            if (ApiHttpConnection *connection = late->connection) {
                result.requestWritten = connection->requestWritten();
                active.remove(connection);
                // The server may still answer this request: the
                // connection cannot carry another one.
                connection->abort();
                dropConnection(*it, connection);
            }
        }
        finish(late, result);
        dispatch(key);
    });
    dispatch(key);
}

void ApiHttpClient::cancelUnsent(QObject *context)
{
    ApiHttpResult result;
    result.cancelled = true;
    result.error = QStringLiteral("withdrawn before it was written");
    QList<QSharedPointer<Request>> cancelled;
    for (auto it = servers.begin(); it != servers.end(); ++it) {
        Server &server = *it;
        for (auto q = server.queue.begin(); q != server.queue.end();) {
            if ((*q)->context == context) {
                cancelled << *q;
                q = server.queue.erase(q);
            } else {
                ++q;
            }
        }
        // Not all of it out yet (still connecting): a server cannot act on a
        // request it has not seen whole, so the connection is given up.
        const QList<ApiHttpConnection *> connections = server.connections;
        for (ApiHttpConnection *connection : connections) {
            const QSharedPointer<Request> request = active.value(connection);
            if (request && request->context == context && !connection->requestWritten()) {
                request->connection = nullptr;
                connection->abort();
                dropConnection(server, connection);
                cancelled << request;
            }
        }
    }
    for (const QSharedPointer<Request> &request : qAsConst(cancelled))
        finish(request, result);
    const QStringList keys = servers.keys();
    for (const QString &key : keys)
        dispatch(key);
}

void ApiHttpClient::dispatch(const QString &key)
{
    auto it = servers.find(key);
    if (it == servers.end())
        return;
    Server &server = *it;
    while (!server.queue.isEmpty()) {
        QSharedPointer<Request> request = server.queue.first();
        if (!request->context) {
            server.queue.removeFirst();
            request->deadline->stop();
            continue;
        }
        ApiHttpConnection *connection = nullptr;
        for (;;) {
            ApiHttpConnection *candidate = nullptr;
            for (ApiHttpConnection *open : qAsConst(server.connections)) {
                if (open->isIdle() && !active.contains(open)) {
                    candidate = open;
                    break;
                }
            }
            if (!candidate)
                break;
            if (candidate->stillOpen()) {
                connection = candidate;
                break;
            }
            dropConnection(server, candidate);
        }
        if (!connection) {
            if (server.connections.size() >= kConnectionsPerServer)
                return;
            connection = new ApiHttpConnection(server.host, server.port, server.tls, this);
            connection->setCaCertificates(caCertificates);
            connect(connection, &ApiHttpConnection::finished, this,
                [this, key, connection](
                    const ApiHttpResult &result) { onFinished(key, connection, result); });
            connect(connection, &ApiHttpConnection::closedWhileIdle, this, [this, key, connection] {
                // With its last reply still on the way, the reply takes
                // the connection along.
                if (active.contains(connection))
                    return;
                auto found = servers.find(key);
                if (found != servers.end())
                    dropConnection(*found, connection);
            });
            server.connections.append(connection);
        }
        server.queue.removeFirst();
        request->connection = connection;
        active.insert(connection, request);
        // A question asked again keeps the time it started with.
        if (!request->deadline->isActive())
            request->deadline->start(request->timeoutMs);
        connection->start(request->bytes);
    }
}

void ApiHttpClient::onFinished(
    const QString &key, ApiHttpConnection *connection, const ApiHttpResult &result)
{
    const QSharedPointer<Request> request = active.take(connection);
    auto it = servers.find(key);
    const bool reused = connection->isReused();
    if (it != servers.end() && connection->isClosed())
        dropConnection(*it, connection);
    if (request) {
        request->connection = nullptr;
        // A kept connection the server closed as the question went out:
        // asking again on a fresh one is harmless.
        if (!result.replied && result.noReplyByte && request->mayRepeat && !request->repeated
            && reused && it != servers.end()) {
            request->repeated = true;
            it->queue.prepend(request);
        } else {
            finish(request, result);
        }
    }
    dispatch(key);
}

void ApiHttpClient::dropConnection(Server &server, ApiHttpConnection *connection)
{
    server.connections.removeOne(connection);
    active.remove(connection);
    connection->disconnect(this);
    connection->deleteLater();
}

void ApiHttpClient::finish(const QSharedPointer<Request> &request, const ApiHttpResult &result)
{
    request->deadline->stop();
    if (request->context && request->done)
        request->done(result);
}
