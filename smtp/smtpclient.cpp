#include "smtpclient.h"

#include "emailaddress.h"
#include "mimeencoding_p.h"
#include "mimemessage.h"
#include "smtplogging.h"
#include "smtpreply.h"

#include <QDeadlineTimer>
#include <QSslSocket>
#include <QTcpSocket>

namespace {
const QString secretText = QStringLiteral("<secret>");

const int dataEndSize = 5; // CRLF "." CRLF

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

    refusal.clear();
    certificateErrors = false;
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
        certificateErrors = !ssl->sslHandshakeErrors().isEmpty();
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
        extensions = replyLines.mid(1);

        if (connectionType != TlsConnection)
            return true;

        sendMessage(QStringLiteral("STARTTLS"));
        waitForResponse();
        if (!expect(220))
            return false;
        // Whatever the server sent beyond its 220 arrived unprotected and
        // would be read as the first reply inside TLS: anyone on the path
        // could fake the answers of the session that way (RFC 3207, 6).
        if (socket->bytesAvailable() > 0) {
            qCWarning(yxaSmtp,
                "SmtpClient::connectToHost() - %lld bytes sent after the reply to STARTTLS; "
                "connection closed",
                qint64(socket->bytesAvailable()));
            socket->abort();
            emit smtpError(ServerError);
            return false;
        }

        ssl->startClientEncryption();
        if (!ssl->waitForEncrypted(connectionTimeout)) {
            certificateErrors = !ssl->sslHandshakeErrors().isEmpty();
            qCDebug(yxaSmtp, "SmtpClient::connectToHost() - TLS handshake failed: %s",
                qUtf8Printable(ssl->errorString()));
            emit smtpError(ConnectionTimeoutError);
            return false;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

        // What was announced before TLS no longer counts (RFC 3207, 4.2).
        extensions.clear();
        sendMessage(QLatin1String("EHLO ") + name);
        waitForResponse();
        if (!expect(250))
            return false;
        extensions = replyLines.mid(1);
        return true;
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
    refusal.clear();
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
    refusal.clear();
    dataWritten = false;
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

    const QString mailFrom = QLatin1String("MAIL FROM:<") + sender + QLatin1Char('>');
    try {
        if (pipelining && hasExtension(QStringLiteral("PIPELINING"))) {
            QStringList commands { mailFrom };
            for (const QString &rcpt : qAsConst(recipients))
                commands << QLatin1String("RCPT TO:<") + rcpt + QLatin1Char('>');
            commands << QStringLiteral("DATA");
            QByteArray batch;
            for (const QString &command : qAsConst(commands)) {
                if (trace)
                    qCDebug(yxaSmtp, "SmtpClient::trace() C: %s", qUtf8Printable(command));
                batch += command.toUtf8() + "\r\n";
            }
            writeAll(batch);
            // Every reply is read, also after a refusal, so that the session
            // stays in step for RSET and the next mail.
            bool refused = false;
            for (int i = 0; i < commands.size(); ++i) {
                const int expected = i + 1 < commands.size() ? 250 : 354;
                quietReplies = refused;
                waitForResponse();
                quietReplies = false;
                refused = refused || responseCode != expected;
            }
            if (refused && responseCode == 354) {
                // The server waits for a message of a mail that failed:
                // only closing the connection keeps it from being delivered.
                socket->abort();
                return false;
            }
            if (refused)
                return false;
        } else {
            sendMessage(mailFrom);
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
        }

        // The message, its CRLF and the closing "." line in one write.
        if (!sendData(email.toByteParts()))
            return false;
        dataWritten = true;
        // Only now does the server take the message in (content scanners,
        // queue writes): a slow answer is not a lost mail, so it gets the
        // send time-out, not the short one of the dialogue (RFC 5321
        // suggests ten minutes).
        waitForResponse(qMax(responseTimeout, sendMessageTimeout));
        return responseCode == 250;
    } catch (const ResponseTimeoutException &) {
        quietReplies = false;
        return false;
    } catch (const SendMessageTimeoutException &) {
        quietReplies = false;
        return false;
    }
}

void SmtpClient::setPipelining(bool allowed)
{
    pipelining = allowed;
}

bool SmtpClient::hasExtension(const QString &keyword) const
{
    for (const QString &line : extensions) {
        if (line.section(QLatin1Char(' '), 0, 0).compare(keyword, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool SmtpClient::reset()
{
    try {
        sendMessage(QStringLiteral("RSET"));
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
    waitForResponse(responseTimeout);
}

void SmtpClient::waitForResponse(int msec)
{
    // The whole reply has to arrive within the time-out: a server that
    // trickles bytes or sends endless continuation lines must not hold the
    // worker's thread for ever. An endless line is cut off the same way.
    const QDeadlineTimer deadline(msec);
    replyLines.clear();
    SmtpReply reply;
    qint64 replyBytes = 0;
    for (;;) {
        while (socket->canReadLine()) {
            const QByteArray line = socket->readLine();
            replyBytes += line.size();
            // Kept lines are the tenant server's to grow: a server that
            // never ends its reply must not fill the host's memory.
            if (replyBytes > maxReplyBytes || reply.lines().size() >= maxReplyLines)
                replyTooLarge();
            const bool complete = reply.addLine(line);
            responseText = reply.lastLine();
            responseCode = reply.code();
            replyLines = reply.lines();
            if (trace)
                qCDebug(yxaSmtp, "SmtpClient::trace() S: %s",
                    qUtf8Printable(chopLineEnd(responseText)));

            // Every line is examined, so a multi-line refusal signals once per line.
            if (!quietReplies) {
                const SmtpReply::Class kind = SmtpReply::classOf(responseCode);
                if (kind == SmtpReply::Temporary)
                    emit smtpError(ServerError);
                else if (kind == SmtpReply::Permanent)
                    emit smtpError(ClientError);
            }

            if (complete) {
                last = reply;
                if (refusal.isEmpty() && (reply.isTemporary() || reply.isPermanent()))
                    refusal = reply;
                return;
            }
        }
        if (replyBytes + socket->bytesAvailable() > maxReplyBytes)
            replyTooLarge();
        if (deadline.hasExpired() || !socket->waitForReadyRead(int(deadline.remainingTime()))) {
            if (trace)
                qCDebug(yxaSmtp, "SmtpClient::trace() no reply: %s",
                    qUtf8Printable(socket->errorString()));
            emit smtpError(ResponseTimeoutError);
            throw ResponseTimeoutException();
        }
    }
}

void SmtpClient::replyTooLarge()
{
    qCWarning(yxaSmtp,
        "SmtpClient::waitForResponse() - the server's reply is longer than %d lines or %d bytes; "
        "connection to %s:%d closed",
        maxReplyLines, maxReplyBytes, qUtf8Printable(host), port);
    // The rest of the reply would be read as the answers to later commands.
    socket->abort();
    replyLines.clear();
    emit smtpError(ResponseTimeoutError);
    throw ResponseTimeoutException();
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

bool SmtpClient::sendData(const QList<QByteArray> &pieces)
{
    QByteArray bytes;
    if (!MimeEncoding::smtpData(pieces, &bytes)) {
        qCWarning(yxaSmtp, "SmtpClient::sendMail() - message too large to send");
        emit smtpError(ClientError);
        return false;
    }
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
    return true;
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
