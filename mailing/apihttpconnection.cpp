#include "apihttpconnection.h"

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
    resetReply();
    pendingRequest = request;
    if (ready) {
        writePending();
    } else if (!opened) {
        opened = true;
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
    pendingRequest.clear();
    // Bytes that arrived before the request are no reply to it.
    if (!buffer.isEmpty())
        fail(QStringLiteral("the server sent data before the request"));
}

void ApiHttpConnection::onReadyRead()
{
    const QByteArray data = socket->readAll();
    if (data.isEmpty())
        return;
    if (!busy || !written) {
        // Nothing was asked: a server that talks now is out of step, and
        // the connection can carry no further request.
        if (busy)
            fail(QStringLiteral("the server sent data before the request"));
        else {
            shutDown();
            emit closedWhileIdle();
        }
        return;
    }
    receivedAny = true;
    buffer.append(data);
    if (!parse())
        return;
}

void ApiHttpConnection::onDisconnected()
{
    if (closedForGood)
        return;
    if (busy && written && state == ReadState::UntilClose) {
        buffer.append(socket->readAll());
        reply.body.append(buffer);
        buffer.clear();
        keepAlive = false;
        complete();
        return;
    }
    if (busy) {
        const QString why = socket->error() == QAbstractSocket::RemoteHostClosedError
                || socket->error() == QAbstractSocket::UnknownSocketError
            ? QStringLiteral("the connection closed before a complete reply")
            : socket->errorString();
        fail(why);
        return;
    }
    shutDown();
    emit closedWhileIdle();
}

bool ApiHttpConnection::parse()
{
    for (;;) {
        switch (state) {
        case ReadState::StatusLine:
        case ReadState::Headers:
        case ReadState::ChunkSize:
        case ReadState::ChunkEnd:
        case ReadState::Trailers: {
            const int end = buffer.indexOf("\r\n");
            if (end < 0) {
                if (buffer.size() > kMaxHeaderBytes) {
                    fail(QStringLiteral("a reply line is too long"));
                    return false;
                }
                return true;
            }
            const QByteArray line = buffer.left(end);
            buffer.remove(0, end + 2);
            headerBytes += end + 2;
            if (headerBytes > kMaxHeaderBytes) {
                fail(QStringLiteral("the reply's head is too large"));
                return false;
            }
            if (state == ReadState::StatusLine) {
                // "HTTP/1.1 200 OK": version, three digits, optional reason.
                if (!line.startsWith("HTTP/1.") || line.size() < 12 || line.at(8) != ' ') {
                    fail(QStringLiteral("the reply is not HTTP"));
                    return false;
                }
                bool ok = false;
                const int code = line.mid(9, 3).toInt(&ok);
                if (!ok || code < 100 || code > 999 || (line.size() > 12 && line.at(12) != ' ')) {
                    fail(QStringLiteral("the reply's status line is malformed"));
                    return false;
                }
                reply.statusCode = code;
                reply.reasonPhrase = line.mid(13);
                httpOneZero = line.at(7) == '0';
                keepAlive = !httpOneZero;
                state = ReadState::Headers;
            } else if (state == ReadState::Headers) {
                if (!line.isEmpty()) {
                    if (!parseHeaderLine(line))
                        return false;
                    continue;
                }
                if (reply.statusCode < 200) {
                    // An interim reply: the real one follows.
                    reply = ApiHttpResult();
                    state = ReadState::StatusLine;
                    contentLength = -1;
                    chunked = false;
                    continue;
                }
                startBody();
                if (state == ReadState::Body && remaining == 0) {
                    complete();
                    return true;
                }
            } else if (state == ReadState::ChunkSize) {
                const int extension = line.indexOf(';');
                const QByteArray digits = (extension < 0 ? line : line.left(extension)).trimmed();
                bool ok = false;
                const qint64 size = digits.toLongLong(&ok, 16);
                if (!ok || size < 0 || digits.isEmpty()) {
                    fail(QStringLiteral("a chunk size of the reply is malformed"));
                    return false;
                }
                if (reply.body.size() + size > kMaxBodyBytes) {
                    fail(QStringLiteral("the reply is too large"));
                    return false;
                }
                remaining = size;
                state = size == 0 ? ReadState::Trailers : ReadState::ChunkData;
            } else if (state == ReadState::ChunkEnd) {
                if (!line.isEmpty()) {
                    fail(QStringLiteral("a chunk of the reply is malformed"));
                    return false;
                }
                state = ReadState::ChunkSize;
            } else if (line.isEmpty()) {
                complete();
                return true;
            }
            break;
        }
        case ReadState::Body:
        case ReadState::ChunkData: {
            const qint64 take = qMin<qint64>(remaining, buffer.size());
            reply.body.append(buffer.constData(), int(take));
            buffer.remove(0, int(take));
            remaining -= take;
            if (remaining > 0)
                return true;
            if (state == ReadState::Body) {
                complete();
                return true;
            }
            state = ReadState::ChunkEnd;
            break;
        }
        case ReadState::UntilClose:
            if (reply.body.size() + buffer.size() > kMaxBodyBytes) {
                fail(QStringLiteral("the reply is too large"));
                return false;
            }
            reply.body.append(buffer);
            buffer.clear();
            return true;
        }
    }
}

bool ApiHttpConnection::parseHeaderLine(const QByteArray &line)
{
    const int colon = line.indexOf(':');
    if (colon <= 0) {
        fail(QStringLiteral("a header line of the reply is malformed"));
        return false;
    }
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name == "content-length") {
        bool ok = false;
        const qint64 length = value.toLongLong(&ok);
        // Two different lengths leave the reply's end in doubt.
        if (!ok || length < 0 || (contentLength >= 0 && contentLength != length)) {
            fail(QStringLiteral("the reply's Content-Length is invalid"));
            return false;
        }
        if (length > kMaxBodyBytes) {
            fail(QStringLiteral("the reply is too large"));
            return false;
        }
        contentLength = length;
    } else if (name == "transfer-encoding") {
        const QList<QByteArray> codings = value.toLower().split(',');
        chunked = codings.last().trimmed() == "chunked";
        if (!chunked) {
            fail(QStringLiteral("the reply's transfer coding is not supported"));
            return false;
        }
    } else if (name == "connection") {
        const QByteArray options = value.toLower();
        if (options.contains("close"))
            keepAlive = false;
        else if (httpOneZero && options.contains("keep-alive"))
            keepAlive = true;
    }
    return true;
}

void ApiHttpConnection::startBody()
{
    const int code = reply.statusCode;
    if (code == 204 || code == 304) {
        state = ReadState::Body;
        remaining = 0;
    } else if (chunked) {
        state = ReadState::ChunkSize;
    } else if (contentLength >= 0) {
        state = ReadState::Body;
        remaining = contentLength;
    } else {
        state = ReadState::UntilClose;
        keepAlive = false;
        reply.body.append(buffer);
        buffer.clear();
    }
}

void ApiHttpConnection::complete()
{
    ApiHttpResult result = reply;
    result.replied = true;
    ++completedRequests;
    busy = false;
    // Anything beyond the reply answers nothing that was asked.
    const bool reusable = keepAlive && buffer.isEmpty() && socket->bytesAvailable() == 0;
    resetReply();
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
    result.statusCode = reply.statusCode;
    result.noReplyByte = written && !receivedAny;
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

void ApiHttpConnection::resetReply()
{
    buffer.clear();
    state = ReadState::StatusLine;
    reply = ApiHttpResult();
    receivedAny = false;
    keepAlive = true;
    httpOneZero = false;
    contentLength = -1;
    remaining = 0;
    headerBytes = 0;
    chunked = false;
}
