#include "apihttpconnection.h"

#include <QSslConfiguration>
#include <QSslSocket>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

ApiHttpConnection::ApiHttpConnection(const QString &host, quint16 port, bool tls, QObject *parent)
    : QObject(parent)
    , socket(new QSslSocket(this))
    , host(host)
    , port(port)
    , tls(tls)
{
    idleTimer.setSingleShot(true);
    idleTimer.setInterval(kIdleMs);
    connect(&idleTimer, &QTimer::timeout, this, [this] {
        if (busy)
            return;
        shutDown();
        emit closedWhileIdle();
    });
    connect(socket, &QSslSocket::readyRead, this, &ApiHttpConnection::onReadyRead);
    connect(socket, &QSslSocket::bytesWritten, this, [this](qint64 bytes) { sentBytes += bytes; });
    connect(socket, &QSslSocket::disconnected, this, &ApiHttpConnection::onDisconnected);
    connect(socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        // A failed connect or handshake never reaches "disconnected".
        if (socket->state() != QAbstractSocket::ConnectedState)
            onDisconnected();
    });
    if (tls)
        connect(socket, &QSslSocket::encrypted, this, &ApiHttpConnection::onConnected);
    else
        connect(socket, &QSslSocket::connected, this, &ApiHttpConnection::onConnected);
}

ApiHttpConnection::~ApiHttpConnection()
{
    socket->disconnect(this);
    socket->abort();
}

bool ApiHttpConnection::stillOpen()
{
    if (!isIdle())
        return false;
    // The thread may have been busy past the idle time-out: the server may
    // be about to drop the connection, so no request goes into it.
    if (idleClock.isValid() && idleClock.elapsed() >= kIdleMs) {
        shutDown();
        emit closedWhileIdle();
        return false;
    }
#ifdef Q_OS_UNIX
    // A close that reached us while the thread was busy is seen now, not
    // after a send went into it. (Under TLS, unread bytes may be the
    // server's session tickets, which are no reason to go.)
    const qintptr fd = socket->socketDescriptor();
    if (ready && fd >= 0) {
        char byte;
        const ssize_t n = ::recv(int(fd), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0 || (n > 0 && !tls)) {
            shutDown();
            emit closedWhileIdle();
            return false;
        }
    }
#endif
    return true;
}

void ApiHttpConnection::start(const QByteArray &request)
{
    Q_ASSERT(isIdle());
    idleTimer.stop();
    busy = true;
    written = false;
    parser.reset();
    pendingRequest = request;
    requestSize = request.size();
    sentBytes = 0;
    if (ready) {
        writePending();
    } else if (!opened) {
        opened = true;
        if (tls && !caCertificates.isEmpty()) {
            // The host name is still checked against the certificate.
            QSslConfiguration configuration = socket->sslConfiguration();
            configuration.setCaCertificates(caCertificates);
            socket->setSslConfiguration(configuration);
        }
        if (tls)
            socket->connectToHostEncrypted(host, port);
        else
            socket->connectToHost(host, port);
    }
}

void ApiHttpConnection::abort()
{
    busy = false;
    shutDown();
}

void ApiHttpConnection::onConnected()
{
    // Nagle would hold back the tail of a request until the server ACKs
    // the start of it, which servers delay by up to 40 ms.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    ready = true;
    if (busy)
        writePending();
    else
        startIdle();
}

void ApiHttpConnection::writePending()
{
    if (pendingRequest.isEmpty())
        return;
    written = true;
    if (socket->write(pendingRequest) != pendingRequest.size()) {
        fail(socket->errorString());
        return;
    }
    // Out now, not when the event loop comes round: the sender may spend the
    // next milliseconds writing the previous mail's outcome to its database.
    socket->flush();
    pendingRequest.clear();
}

void ApiHttpConnection::onReadyRead()
{
    const QByteArray data = socket->readAll();
    if (data.isEmpty())
        return;
    if (!busy || !written) {
        // Nothing was asked: a server that talks now is out of step, and
        // the connection can carry no further request.
        if (busy) {
            fail(QStringLiteral("the server sent data before the request"));
        } else {
            shutDown();
            emit closedWhileIdle();
        }
        return;
    }
    switch (parser.feed(data)) {
    case ApiHttpReplyParser::Status::Complete:
        complete();
        break;
    case ApiHttpReplyParser::Status::Failed:
        fail(parser.error());
        break;
    case ApiHttpReplyParser::Status::NeedMore:
        break;
    }
}

void ApiHttpConnection::onDisconnected()
{
    if (closedForGood)
        return;
    if (!busy) {
        shutDown();
        emit closedWhileIdle();
        return;
    }
    if (written) {
        parser.feed(socket->readAll());
        if (parser.closed() == ApiHttpReplyParser::Status::Complete) {
            complete();
            return;
        }
    }
    const bool plainClose = socket->error() == QAbstractSocket::RemoteHostClosedError
        || socket->error() == QAbstractSocket::UnknownSocketError;
    fail(plainClose && written ? parser.error() : socket->errorString());
}

void ApiHttpConnection::complete()
{
    ApiHttpResult result;
    result.replied = true;
    result.requestWritten = true;
    result.statusCode = parser.statusCode();
    result.reasonPhrase = parser.reasonPhrase();
    result.body = parser.body();
    ++completedRequests;
    busy = false;
    // Anything beyond the reply answers nothing that was asked.
    const bool reusable
        = parser.keepAlive() && !parser.hasLeftover() && socket->bytesAvailable() == 0;
    parser.reset();
    if (!reusable)
        shutDown();
    else
        startIdle();
    report(result);
}

void ApiHttpConnection::fail(const QString &error)
{
    ApiHttpResult result;
    result.error = error;
    result.statusCode = parser.statusCode();
    result.noReplyByte = written && !parser.receivedAny();
    result.requestWritten = requestWritten();
    busy = false;
    shutDown();
    report(result);
}

void ApiHttpConnection::startIdle()
{
    idleTimer.start();
    idleClock.start();
}

void ApiHttpConnection::report(const ApiHttpResult &result)
{
    // Never from inside start(): whoever hands out requests is not
    // re-entered while it does.
    QMetaObject::invokeMethod(
        this, [this, result] { emit finished(result); }, Qt::QueuedConnection);
}

void ApiHttpConnection::shutDown()
{
    closedForGood = true;
    idleTimer.stop();
    pendingRequest.clear();
    socket->disconnect(this);
    socket->abort();
}
