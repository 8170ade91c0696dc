#pragma once

#include "apihttpconnection.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QUrl>

#include <functional>

// POSTs to the mail API for every transport of one thread, over kept-alive
// connections: at most kConnectionsPerServer to one server, further
// requests wait their turn.
//
// A request may be sent again only when the caller says it may: a send
// request is written at most once, and a connection that drops before the
// reply ends it with an error, since the server may have acted on it. A
// request that may be repeated (a question) is written again once on a
// fresh connection when a reused connection ends before any byte of a reply.
//
// The time-out counts from the moment a connection takes the request up to
// the complete reply; waiting for a free connection does not count, so
// requests queued behind slow ones do not fail unsent. Replies come back in
// this thread; a request whose `context` is gone by the time it would be
// written is dropped unsent, and cancelUnsent() ends a context's requests
// that are not written yet with a `cancelled` result.
class ApiHttpClient : public QObject
{
public:
    static constexpr int kConnectionsPerServer = 6;
    using Callback = std::function<void(const ApiHttpResult &)>;

    // The client of the calling thread, created on first use; it goes with
    // the thread (with the application in the main thread).
    static ApiHttpClient *forThread();

    explicit ApiHttpClient(QObject *parent = nullptr);
    ~ApiHttpClient() override;

    void post(const QUrl &url, const QByteArray &contentType, const QByteArray &body, int timeoutMs,
        bool mayRepeat, QObject *context, Callback done);

    // The CAs that HTTPS connections opened from now on trust (empty: the
    // system's); the transports of a thread all hand in the plug-in's list.
    void setCaCertificates(const QList<QSslCertificate> &certificates);

    // Open connections, for tests and diagnostics.
    int connectionCount() const;

    void cancelUnsent(QObject *context);

private:
    struct Request;
    struct Server
    {
        QString host;
        quint16 port = 0;
        bool tls = false;
        QList<ApiHttpConnection *> connections;
        QList<QSharedPointer<Request>> queue;
    };

    void dispatch(const QString &key);
    void onFinished(const QString &key, ApiHttpConnection *connection, const ApiHttpResult &result);
    void dropConnection(Server &server, ApiHttpConnection *connection);
    void finish(const QSharedPointer<Request> &request, const ApiHttpResult &result);

    QHash<QString, Server> servers;
    QHash<ApiHttpConnection *, QSharedPointer<Request>> active;
    QList<QSslCertificate> caCertificates;
};
