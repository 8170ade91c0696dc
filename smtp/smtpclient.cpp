#include "smtpclient.h"

#include "emailaddress.h"
#include "mimemessage.h"
#include "smtplogging.h"

#include <QDeadlineTimer>
#include <QSslSocket>
#include <QTcpSocket>

#include <cstring>
#include <limits>

namespace {
const QString secretText = QStringLiteral("<secret>");

const char dataEnd[] = "\r\n.\r\n";
const int dataEndSize = int(sizeof(dataEnd)) - 1;

// Makes the message text safe for the DATA phase (RFC 5321, 4.5.2): every
// line end becomes CRLF, and a line that begins with "." gets a second one.
// The CRLF "." CRLF that ends the data is appended, so that the whole DATA
// goes out in one write: sent apart, the short tail waits for the server's
// delayed ACK. Two passes, so that the output is allocated once at its
// final size.
QByteArray dataTransparent(QByteArray in)
{
    const char *src = in.constData();
    const int n = in.size();
    int extra = 0;
    bool lineStart = true;
    for (int i = 0; i < n; ++i) {
        const char c = src[i];
        if (lineStart && c == '.')
            ++extra;
        if (c == '\r') {
            if (i + 1 < n && src[i + 1] == '\n')
                ++i;
            else
                ++extra;
            lineStart = true;
        } else if (c == '\n') {
            ++extra;
            lineStart = true;
        } else {
            lineStart = false;
        }
    }
    if (extra == 0) {
        in.append(dataEnd, dataEndSize);
        return in;
    }

    QByteArray out;
    out.resize(n + extra + dataEndSize);
    char *dst = out.data();
    lineStart = true;
    for (int i = 0; i < n; ++i) {
        const char c = src[i];
        if (lineStart && c == '.')
            *dst++ = '.';
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < n && src[i + 1] == '\n')
                ++i;
            *dst++ = '\r';
            *dst++ = '\n';
            lineStart = true;
        } else {
            *dst++ = c;
            lineStart = false;
        }
    }
    memcpy(dst, dataEnd, size_t(dataEndSize));
    return out;
}

// The same bytes as dataTransparent() of the UTF-8 of the pieces joined, in
// one pass over the text: neither the joined text nor its UTF-8 copy is
// made. Runs of non-ASCII characters are converted by QString's own UTF-8
// encoder (a surrogate pair never spans ASCII, so the run gives the bytes
// the whole text would); their bytes are never ".", CR or LF.
QByteArray dataTransparent(const QStringList &pieces)
{
    qint64 units = 0;
    bool asciiSeams = true; // no surrogate pair can span two pieces
    for (int k = 0; k < pieces.size(); ++k) {
        units += pieces.at(k).size();
        if (k + 1 < pieces.size() && !pieces.at(k).isEmpty() && pieces.at(k).back().unicode() >= 0x80)
            asciiSeams = false;
    }
    // Room for the text, some stuffing and the end line; grown when short.
    const qint64 capacity = units + units / 64 + 64;
    if (!asciiSeams || capacity > std::numeric_limits<int>::max() / 2)
        return dataTransparent(pieces.join(QString()).toUtf8());

    QByteArray out(int(capacity), Qt::Uninitialized);
    char *dst = out.data();
    char *end = dst + out.size();
    const auto room = [&](qint64 need) {
        if (end - dst >= need)
            return;
        const int used = int(dst - out.constData());
        out.resize(int(qMax<qint64>(qint64(out.size()) * 2, used + need)));
        dst = out.data() + used;
        end = out.data() + out.size();
    };
    bool lineStart = true;
    bool skipLf = false; // a CR was just written as CRLF: its LF is part of it
    for (const QString &piece : pieces) {
        const ushort *src = reinterpret_cast<const ushort *>(piece.constData());
        const int n = piece.size();
        for (int i = 0; i < n; ++i) {
            const ushort c = src[i];
            if (c >= 0x80) {
                int j = i + 1;
                while (j < n && src[j] >= 0x80)
                    ++j;
                const QByteArray utf8 = QStringView(piece).mid(i, j - i).toUtf8();
                room(utf8.size());
                memcpy(dst, utf8.constData(), size_t(utf8.size()));
                dst += utf8.size();
                i = j - 1;
                lineStart = false;
                skipLf = false;
                continue;
            }
            room(3);
            if (skipLf) {
                skipLf = false;
                if (c == '\n')
                    continue;
            }
            if (lineStart && c == '.')
                *dst++ = '.';
            if (c == '\r' || c == '\n') {
                *dst++ = '\r';
                *dst++ = '\n';
                lineStart = true;
                skipLf = c == '\r';
            } else {
                *dst++ = char(c);
                lineStart = false;
            }
        }
    }
    room(dataEndSize);
    memcpy(dst, dataEnd, size_t(dataEndSize));
    dst += dataEndSize;
    out.truncate(int(dst - out.constData()));
    return out;
}

QString chopLineEnd(QString text)
{
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}
} // namespace

SmtpClient::SmtpClient(
    const QString &host, int port, ConnectionType connectionType, QObject *parent)
    : QObject(parent)
    , host(host)
    , port(port)
    , connectionType(connectionType)
    , trace(qEnvironmentVariableIntValue("YXA_SMTP_TRACE") == 1)
{
    qRegisterMetaType<SmtpClient::SmtpError>("SmtpClient::SmtpError");
    setConnectionType(connectionType);
}

SmtpClient::~SmtpClient()
{
    delete socket;
}

const QString &SmtpClient::getHost() const
{
    return host;
}

void SmtpClient::setHost(const QString &host)
{
    this->host = host;
}

int SmtpClient::getPort() const
{
    return port;
}

void SmtpClient::setPort(int port)
{
    this->port = port;
}

const QString &SmtpClient::getName() const
{
    return name;
}

void SmtpClient::setName(const QString &name)
{
    this->name = name;
}

SmtpClient::ConnectionType SmtpClient::getConnectionType() const
{
    return connectionType;
}

void SmtpClient::setConnectionType(ConnectionType type)
{
    connectionType = type;
    delete socket;
    socket = nullptr;
    switch (type) {
    case TcpConnection:
        socket = new QTcpSocket(this);
        break;
    case SslConnection:
    case TlsConnection:
        socket = new QSslSocket(this);
        break;
    }
    if (socket) {
        connect(socket, &QAbstractSocket::stateChanged, this, &SmtpClient::socketStateChanged);
        connect(socket, &QAbstractSocket::errorOccurred, this, &SmtpClient::socketError);
        connect(socket, &QIODevice::readyRead, this, &SmtpClient::socketReadyRead);
    }
}

const QString &SmtpClient::getUser() const
{
    return user;
}

void SmtpClient::setUser(const QString &user)
{
    this->user = user;
}

const QString &SmtpClient::getPassword() const
{
    return password;
}

void SmtpClient::setPassword(const QString &password)
{
    this->password = password;
}

SmtpClient::AuthMethod SmtpClient::getAuthMethod() const
{
    return authMethod;
}

void SmtpClient::setAuthMethod(AuthMethod method)
{
    authMethod = method;
}

const QString &SmtpClient::getResponseText() const
{
    return responseText;
}

int SmtpClient::getResponseCode() const
{
    return responseCode;
}

int SmtpClient::getConnectionTimeout() const
{
    return connectionTimeout;
}

void SmtpClient::setConnectionTimeout(int msec)
{
    connectionTimeout = msec;
}

int SmtpClient::getResponseTimeout() const
{
    return responseTimeout;
}

void SmtpClient::setResponseTimeout(int msec)
{
    responseTimeout = msec;
}

int SmtpClient::getSendMessageTimeout() const
{
    return sendMessageTimeout;
}

void SmtpClient::setSendMessageTimeout(int msec)
{
    sendMessageTimeout = msec;
}

QTcpSocket *SmtpClient::getSocket()
{
    return socket;
}

void SmtpClient::setSslConfiguration(const QSslConfiguration &configuration)
{
    sslConfiguration = configuration;
    hasSslConfiguration = true;
}

bool SmtpClient::connectToHost()
{
    if (!socket) {
        qCWarning(yxaSmtp, "SmtpClient::connectToHost() - connection type %d has no socket",
            int(connectionType));
        return false;
    }

    auto *ssl = qobject_cast<QSslSocket *>(socket);
    if (ssl && hasSslConfiguration)
        ssl->setSslConfiguration(sslConfiguration);

    if (connectionType == SslConnection)
        ssl->connectToHostEncrypted(
            host, quint16(port), QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    else
        socket->connectToHost(host, quint16(port));

    if (!socket->waitForConnected(connectionTimeout)) {
        qCDebug(yxaSmtp, "SmtpClient::connectToHost() - %s", qUtf8Printable(socket->errorString()));
        emit smtpError(ConnectionTimeoutError);
        return false;
    }
    // Every command is one small segment that waits for its reply; with
    // Nagle's algorithm each would also wait for the server's delayed ACK.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // With TLS from the start the handshake belongs to establishing the
    // connection; a failed one would otherwise surface only as a silent
    // greeting.
    if (connectionType == SslConnection && !ssl->waitForEncrypted(connectionTimeout)) {
        qCDebug(yxaSmtp, "SmtpClient::connectToHost() - TLS handshake failed: %s",
            qUtf8Printable(ssl->errorString()));
        emit smtpError(ConnectionTimeoutError);
        return false;
    }
    if (connectionType == SslConnection)
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    try {
        waitForResponse();
        if (!expect(220))
            return false;

        sendMessage(QLatin1String("EHLO ") + name);
        waitForResponse();
        if (!expect(250))
            return false;

        if (connectionType != TlsConnection)
            return true;

        sendMessage(QStringLiteral("STARTTLS"));
        waitForResponse();
        if (!expect(220))
            return false;

        ssl->startClientEncryption();
        if (!ssl->waitForEncrypted(connectionTimeout)) {
            qCDebug(yxaSmtp, "SmtpClient::connectToHost() - TLS handshake failed: %s",
                qUtf8Printable(ssl->errorString()));
            emit smtpError(ConnectionTimeoutError);
            return false;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

        sendMessage(QLatin1String("EHLO ") + name);
        waitForResponse();
        return expect(250);
    } catch (const ResponseTimeoutException &) {
        return false;
    } catch (const SendMessageTimeoutException &) {
        return false;
    }
}

bool SmtpClient::expect(int code)
{
    if (responseCode == code)
        return true;
    emit smtpError(ServerError);
    return false;
}

bool SmtpClient::login()
{
    return login(user, password, authMethod);
}

bool SmtpClient::login(const QString &user, const QString &password, AuthMethod method)
{
    try {
        if (method == AuthPlain) {
            const QByteArray token
                = QByteArray(1, '\0') + user.toUtf8() + QByteArray(1, '\0') + password.toUtf8();
            sendLine(QLatin1String("AUTH PLAIN ") + QString::fromLatin1(token.toBase64()),
                QLatin1String("AUTH PLAIN ") + secretText);
            waitForResponse();
            if (responseCode != 235) {
                emit smtpError(AuthenticationFailedError);
                return false;
            }
        } else if (method == AuthLogin) {
            sendMessage(QStringLiteral("AUTH LOGIN"));
            waitForResponse();
            if (responseCode != 334) {
                emit smtpError(AuthenticationFailedError);
                return false;
            }
            sendLine(QString::fromLatin1(user.toUtf8().toBase64()), secretText);
            waitForResponse();
            if (responseCode != 334) {
                emit smtpError(AuthenticationFailedError);
                return false;
            }
            sendLine(QString::fromLatin1(password.toUtf8().toBase64()), secretText);
            waitForResponse();
            if (responseCode != 235) {
                emit smtpError(AuthenticationFailedError);
                return false;
            }
        }
        return true;
    } catch (const ResponseTimeoutException &) {
        emit smtpError(AuthenticationFailedError);
        return false;
    } catch (const SendMessageTimeoutException &) {
        emit smtpError(AuthenticationFailedError);
        return false;
    }
}

bool SmtpClient::sendMail(MimeMessage &email)
{
    QStringList recipients;
    for (const auto type : { MimeMessage::To, MimeMessage::Cc, MimeMessage::Bcc }) {
        for (const EmailAddress *rcpt : email.getRecipients(type))
            recipients << rcpt->getAddress();
    }
    const QString sender = email.getSender().getAddress();

    // An address that could end the command line or the angle brackets would
    // let a queued row add commands or recipients of its own.
    bool safe = EmailAddress::isEnvelopeSafe(sender);
    for (const QString &rcpt : qAsConst(recipients))
        safe = safe && EmailAddress::isEnvelopeSafe(rcpt);
    if (!safe) {
        qCWarning(yxaSmtp,
            "SmtpClient::sendMail() - an envelope address holds CR, LF, '<' or '>' or is "
            "longer than 254 octets; "
            "nothing sent");
        emit smtpError(ClientError);
        return false;
    }

    try {
        sendMessage(QLatin1String("MAIL FROM:<") + sender + QLatin1Char('>'));
        waitForResponse();
        if (responseCode != 250)
            return false;

        for (const QString &rcpt : qAsConst(recipients)) {
            sendMessage(QLatin1String("RCPT TO:<") + rcpt + QLatin1Char('>'));
            waitForResponse();
            if (responseCode != 250)
                return false;
        }

        sendMessage(QStringLiteral("DATA"));
        waitForResponse();
        if (responseCode != 354)
            return false;

        // The message, its CRLF and the closing "." line in one write.
        sendData(email.toStringParts());
        waitForResponse();
        return responseCode == 250;
    } catch (const ResponseTimeoutException &) {
        return false;
    } catch (const SendMessageTimeoutException &) {
        return false;
    }
}

void SmtpClient::quit()
{
    // Nothing to say goodbye to: a failed QUIT must not overwrite the error
    // that ended the session.
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    try {
        sendMessage(QStringLiteral("QUIT"));
    } catch (const SendMessageTimeoutException &) {
        const auto state = socket->state();
        if (state == QAbstractSocket::HostLookupState || state == QAbstractSocket::ConnectingState
            || state == QAbstractSocket::ConnectedState)
            socket->disconnectFromHost();
    }
}

void SmtpClient::waitForResponse()
{
    // The whole reply has to arrive within the response time-out: a server
    // that trickles bytes or sends endless continuation lines must not hold
    // the worker's thread for ever. An endless line is cut off the same way.
    const QDeadlineTimer deadline(responseTimeout);
    for (;;) {
        while (socket->canReadLine()) {
            responseText = QString::fromUtf8(socket->readLine());
            if (trace)
                qCDebug(yxaSmtp, "SmtpClient::trace() S: %s",
                    qUtf8Printable(chopLineEnd(responseText)));

            bool ok = false;
            const int code = responseText.leftRef(3).toInt(&ok);
            responseCode = ok ? code : 0;
            if (responseCode >= 400 && responseCode <= 499)
                emit smtpError(ServerError);
            if (responseCode >= 500 && responseCode <= 599)
                emit smtpError(ClientError);

            // "250 text" ends a reply, and so does a bare "250" (RFC 5321
            // allows the text to be left out); "250-text" announces more.
            if (responseText.size() > 3 && responseText.at(3) != QLatin1Char('-'))
                return;
        }
        if (socket->bytesAvailable() > maxReplyLineLength) {
            qCDebug(yxaSmtp, "SmtpClient::waitForResponse() - reply line longer than %d bytes",
                int(maxReplyLineLength));
            emit smtpError(ResponseTimeoutError);
            throw ResponseTimeoutException();
        }
        if (deadline.hasExpired() || !socket->waitForReadyRead(int(deadline.remainingTime()))) {
            if (trace)
                qCDebug(yxaSmtp, "SmtpClient::trace() no reply: %s",
                    qUtf8Printable(socket->errorString()));
            emit smtpError(ResponseTimeoutError);
            throw ResponseTimeoutException();
        }
    }
}

void SmtpClient::sendMessage(const QString &text)
{
    sendLine(text, text);
}

void SmtpClient::sendLine(const QString &text, const QString &traceText)
{
    if (trace)
        qCDebug(yxaSmtp, "SmtpClient::trace() C: %s", qUtf8Printable(traceText));
    writeAll(text.toUtf8() + "\r\n");
}

void SmtpClient::sendData(const QStringList &pieces)
{
    const QByteArray bytes = dataTransparent(pieces);
    if (trace) {
        const int dataSize = bytes.size() - dataEndSize;
        int start = 0;
        while (start < dataSize) {
            int end = bytes.indexOf("\r\n", start);
            if (end < 0 || end > dataSize)
                end = dataSize;
            qCDebug(
                yxaSmtp, "SmtpClient::trace() C: %s", bytes.mid(start, end - start).constData());
            start = end + 2;
        }
        qCDebug(yxaSmtp, "SmtpClient::trace() C: .");
    }
    writeAll(bytes);
}

void SmtpClient::writeAll(const QByteArray &bytes)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
        emit smtpError(SendDataTimeoutError);
        throw SendMessageTimeoutException();
    }
    socket->write(bytes);

    // One wait returns after the first chunk; the line is out only when the
    // socket's buffers (for TLS also the encrypted one) are empty.
    auto *ssl = qobject_cast<QSslSocket *>(socket);
    const QDeadlineTimer deadline(sendMessageTimeout);
    while (socket->bytesToWrite() > 0 || (ssl && ssl->encryptedBytesToWrite() > 0)) {
        const int remaining = int(qMax<qint64>(0, deadline.remainingTime()));
        if (remaining == 0 || !socket->waitForBytesWritten(remaining)) {
            emit smtpError(SendDataTimeoutError);
            throw SendMessageTimeoutException();
        }
    }
}

void SmtpClient::socketStateChanged(QAbstractSocket::SocketState state)
{
    if (trace)
        qCDebug(yxaSmtp, "SmtpClient::trace() socket state %d", int(state));
}

void SmtpClient::socketError(QAbstractSocket::SocketError error)
{
    if (trace)
        qCDebug(yxaSmtp, "SmtpClient::trace() socket error %d: %s", int(error),
            qUtf8Printable(socket ? socket->errorString() : QString()));
}

void SmtpClient::socketReadyRead() { }
