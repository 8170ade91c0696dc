#pragma once

#include "apihttpreplyparser.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QTimer>

class QSslSocket;

// What became of one request on an API connection.
struct ApiHttpResult
{
    // A complete reply came back, whatever its status code.
    bool replied = false;
    int statusCode = 0;
    QByteArray reasonPhrase;
    QByteArray body;
    // Why no complete reply came back.
    QString error;
    // The request was written, but not a single byte of a reply came back
    // before the connection ended: the server may or may not have acted on it.
    bool noReplyByte = false;
    bool timedOut = false;
    // Every byte of the request left: from here on the server may have acted
    // on it, whatever becomes of the reply. Before, it cannot have.
    bool requestWritten = false;
    // Withdrawn by its sender before all of it was written.
    bool cancelled = false;
};

// One kept-alive HTTP/1.1 connection to an API server, carrying one request
// at a time. Each request leaves in a single write on a socket without
// Nagle's delay, so a small POST travels as one segment and the server never
// sits on half a request waiting for a delayed ACK.
//
// A connection that stays idle for kIdleMs closes itself, well before
// servers commonly drop idle keep-alive connections, so a request is rarely
// written into a connection the server is just closing.
class ApiHttpConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr int kIdleMs = 30000;

    ApiHttpConnection(const QString &host, quint16 port, bool tls, QObject *parent = nullptr);
    ~ApiHttpConnection() override;

    // The CAs a TLS connection trusts instead of the socket's defaults; set
    // before the first start(). Empty keeps the defaults.
    void setCaCertificates(const QList<QSslCertificate> &certificates)
    {
        caCertificates = certificates;
    }

    // Open and carrying no request.
    bool isIdle() const { return !closedForGood && !busy; }
    bool isClosed() const { return closedForGood; }
    // Still fit to carry a request: not idle for too long, and no close or
    // stray bytes from the server waiting unread. Looks at the socket once
    // (no wait); a connection found gone ends as closedWhileIdle().
    bool stillOpen();
    // The whole request of the open exchange has left.
    bool requestWritten() const { return written && sentBytes >= requestSize; }
    // Has carried a complete request and reply before.
    bool isReused() const { return completedRequests > 0; }

    // Sends `request` (head and body, complete) once the connection is up.
    // finished() follows exactly once, from the event loop, unless abort()
    // comes first.
    void start(const QByteArray &request);
    // Closes the connection at once; no finished() for the open request.
    void abort();

signals:
    void finished(const ApiHttpResult &result);
    // The connection closed while it carried no request.
    void closedWhileIdle();

private:
    void onConnected();
    void onReadyRead();
    void onDisconnected();
    void writePending();
    void complete();
    void fail(const QString &error);
    void report(const ApiHttpResult &result);
    void startIdle();
    void shutDown();

    QSslSocket *socket = nullptr;
    const QString host;
    const quint16 port;
    const bool tls;
    bool opened = false;
    bool ready = false;
    bool busy = false;
    bool closedForGood = false;
    bool written = false;
    int completedRequests = 0;
    qint64 requestSize = 0;
    qint64 sentBytes = 0;
    QByteArray pendingRequest;
    QList<QSslCertificate> caCertificates;
    QTimer idleTimer;
    QElapsedTimer idleClock;
    ApiHttpReplyParser parser;
};
