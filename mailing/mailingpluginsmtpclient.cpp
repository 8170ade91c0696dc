#include "mailingpluginsmtpclient.h"

#include "emailaddress.h"
#include "jsonguard.h"
#include "mailinglogging.h"
#include "mimeattachment.h"
#include "mimeencoding_p.h"
#include "mimehtml.h"
#include "mimemessage.h"
#include "mimetext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QTcpSocket>

#include <memory>
#include <vector>

namespace {
const char *errorText(int e)
{
    switch (e) {
    case SmtpClient::ConnectionTimeoutError:
        return "Connection timeout";
    case SmtpClient::ResponseTimeoutError:
        return "Response timeout";
    case SmtpClient::SendDataTimeoutError:
        return "Send data timeout";
    case SmtpClient::AuthenticationFailedError:
        return "Authentication failed";
    case SmtpClient::ServerError:
        return "Server error";
    case SmtpClient::ClientError:
        return "Client error";
    }
    return "Unknown error";
}

// A failed send during which the client raised no error (an unexpected
// reply code, say) is an "error", never the word of an earlier mail.
QString statusFor(int e)
{
    switch (e) {
    case SmtpClient::ConnectionTimeoutError:
    case SmtpClient::ResponseTimeoutError:
    case SmtpClient::SendDataTimeoutError:
        return QStringLiteral("neterror");
    case SmtpClient::AuthenticationFailedError:
        return QStringLiteral("invalid");
    case SmtpClient::ClientError:
        return QStringLiteral("bad");
    case SmtpClient::ServerError:
    default:
        return QStringLiteral("error");
    }
}

// SMTP servers refuse lines over 998 octets (RFC 5321, 4.5.3.1.6); such a
// body goes out quoted-printable, which folds it. Counted in the UTF-8 that
// is sent, where a byte that was no UTF-8 has become three, and with CR and
// LF alike ending a line, as they do on the wire.
bool hasOverlongLine(const QByteArray &utf8)
{
    int length = 0;
    for (const char c : utf8) {
        if (c == '\n' || c == '\r')
            length = 0;
        else if (++length > 998)
            return true;
    }
    return false;
}

// The test the Mandrill transport uses to send a body as "html": any tag.
bool looksLikeHtml(const QString &text)
{
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    return tag.match(text).hasMatch();
}

// "type/subtype", optionally followed by parameters, all ASCII (a header
// carries no raw 8-bit text) and short enough for its header line.
bool isMediaType(const QString &type)
{
    static const QRegularExpression mediaType(QStringLiteral(
        "^[A-Za-z0-9][A-Za-z0-9!#$&^_.+-]{0,126}/[A-Za-z0-9][A-Za-z0-9!#$&^_.+-]{0,126}"
        "(;[\\t\\x20-\\x7e]*)?\\z"));
    return type.size() <= 900 && mediaType.match(type).hasMatch();
}

// Line ends of a hostile address shown, not obeyed, in the log.
QString visible(QString text)
{
    return text.replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
}
} // namespace

MailingPluginSmtpClient::MailingPluginSmtpClient(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<SmtpSettings>("SmtpSettings");
    qRegisterMetaType<SmtpClient::SmtpError>("SmtpClient::SmtpError");
}

MailingPluginSmtpClient::~MailingPluginSmtpClient()
{
    endSession();
}

void MailingPluginSmtpClient::setDebugLevel(unsigned char level)
{
    debugLevel = level;
}

unsigned char MailingPluginSmtpClient::getDebugLevel() const
{
    return debugLevel;
}

SmtpSettings MailingPluginSmtpClient::settings() const
{
    return m_settings;
}

int MailingPluginSmtpClient::lastError() const
{
    return m_lastError;
}

void MailingPluginSmtpClient::setSettings(SmtpSettings settings)
{
    if (settings == m_settings)
        return;
    // The open session belongs to the old server or account.
    endSession();
    m_settings = settings;
    emit settingsChanged(settings);
}

void MailingPluginSmtpClient::setCaCertificates(const QList<QSslCertificate> &certificates)
{
    caCertificates = certificates;
}

void MailingPluginSmtpClient::setKeepSession(bool keep)
{
    if (!keep)
        endSession();
    keepSession = keep;
}

void MailingPluginSmtpClient::endSession()
{
    // Held for the mails of one session only.
    lastMailData = MailData();
    if (!session)
        return;
    session->quit();
    session.reset();
}

SmtpClient *MailingPluginSmtpClient::openSession(const SmtpSettings &s, bool *ok)
{
    *ok = true;
    if (session) {
        // The server may have closed an idle session or announced that it
        // will (421); both show only now. Nothing of this mail is sent yet,
        // so a new session carries it without any risk of a second copy.
        QTcpSocket *socket = session->getSocket();
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            socket->waitForReadyRead(0);
        if (socket && socket->state() == QAbstractSocket::ConnectedState && socket->bytesAvailable() == 0)
            return session.get();
        if (debugLevel)
            qCDebug(lcMailing, "MailingPluginSmtpClient::sendMail() - the server closed the session; opening a new one");
        if (socket)
            socket->abort();
        session.reset();
    }

    auto client = std::make_unique<SmtpClient>(s.host, s.port, SmtpClient::ConnectionType(s.connectionType));
    connect(client.get(), &SmtpClient::smtpError, this, &MailingPluginSmtpClient::smtpClientError);
    const bool authenticate = !s.user.isEmpty() && !s.password.isEmpty();
    if (authenticate) {
        client->setUser(s.user);
        client->setPassword(s.password);
    }
    client->setAuthMethod(SmtpClient::AuthMethod(s.authMethod));
    if (!caCertificates.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(caCertificates);
        client->setSslConfiguration(tls);
    }
    // Tenants rely on plain TCP with AUTH, so it stays; the operator should
    // know what it costs.
    if (authenticate && s.connectionType == SmtpClient::TcpConnection && !clearAuthWarned) {
        clearAuthWarned = true;
        qCWarning(lcMailing,
            "MailingPluginSmtpClient::sendMail() - connection type 0 logs in to %s:%u without "
            "encryption: the password of user \"%s\" crosses the network in clear",
            qUtf8Printable(s.host), uint(s.port), qUtf8Printable(visible(s.user)));
    }
    // A kept session pipelines where the server allows it; a session of
    // one mail speaks exactly as it always did.
    client->setPipelining(keepSession);
    ++sessionsOpened;
    // Logging in on a connection that failed could only fail again and turn
    // a network fault into an authentication one ("invalid" instead of
    // "neterror").
    *ok = client->connectToHost();
    if (*ok && authenticate)
        *ok = client->login();
    session = std::move(client);
    return session.get();
}

bool MailingPluginSmtpClient::recover(SmtpClient *client)
{
    // After a time-out the next reply may still belong to this mail, and a
    // 421 closes the channel: only a plain refusal leaves a usable session.
    const bool timedOut = m_lastError == SmtpClient::ConnectionTimeoutError
        || m_lastError == SmtpClient::ResponseTimeoutError || m_lastError == SmtpClient::SendDataTimeoutError;
    QTcpSocket *socket = client->getSocket();
    if (timedOut || client->getResponseCode() == 421 || !socket
        || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    return client->reset();
}

bool MailingPluginSmtpClient::sendMail(uint mid, QString from, QString to, QString subject,
    QByteArray body, const QByteArray &mailData)
{
    if (debugLevel)
        qCDebug(lcMailing, "MailingPluginSmtpClient::sendMail(mid: %u)", mid);

    if (mid == 0 || from.isEmpty() || to.isEmpty() || subject.isEmpty() || body.isEmpty()) {
        qCWarning(lcMailing,
            "MailingPluginSmtpClient::sendMail(mid: %u) - invalid arguments (from: '%s', to: "
            "'%s', subject: '%s')!",
            mid, qUtf8Printable(from), qUtf8Printable(to), qUtf8Printable(subject));
        refuse(mid, QStringLiteral("rejected"), QStringLiteral("invalid arguments"));
        return false;
    }

    const SmtpSettings s = m_settings;
    // With Reply-To on, the global address is the envelope sender; a missing
    // or unusable one is a settings fault of the tenant, not of the row.
    const bool globalUnusable
        = s.useReplyTo && (s.email.isEmpty() || !EmailAddress::isEnvelopeSafe(s.email));
    if (s.port == 0 || s.host.isEmpty() || s.connectionType < 0 || s.connectionType > 2
        || globalUnusable) {
        qCWarning(
            lcMailing, "MailingPluginSmtpClient::sendMail(mid: %u) - invalid SMTP settings!", mid);
        refuse(mid, QStringLiteral("error"), QStringLiteral("invalid SMTP settings"));
        return false;
    }

    const QString senderAddress = s.useReplyTo ? s.email : from;
    if (!EmailAddress::isEnvelopeSafe(from) || !EmailAddress::isEnvelopeSafe(to)) {
        qCWarning(lcMailing,
            "MailingPluginSmtpClient::sendMail(mid: %u) - address holds CR, LF, '<' or '>' or is "
            "longer than 254 octets (from: '%s', to: '%s')!",
            mid, qUtf8Printable(visible(from)), qUtf8Printable(visible(to)));
        refuse(mid, QStringLiteral("bad"), QStringLiteral("unusable address"));
        return false;
    }

    if (debugLevel > 1)
        qCDebug(lcMailing) << "MailingPluginSmtpClient::sendMail(mid: " << mid
                           << ") - SMTP settings: connection type =" << s.connectionType
                           << "auth method =" << s.authMethod;

    m_lastError = -1;
    networkFault = false;

    // Parts and the Reply-To address are not owned by the message; they are
    // declared first so that they outlive it.
    EmailAddress replyTo(from, QString());
    const int nul = body.indexOf('\0');
    const QString text = QString::fromUtf8(nul < 0 ? body : body.left(nul));
    // Both transports show a body with a tag as HTML.
    const std::unique_ptr<MimeText> textPart
        = looksLikeHtml(text) ? std::make_unique<MimeHtml>(text) : std::make_unique<MimeText>(text);
    if (hasOverlongLine(text.toUtf8()))
        textPart->setEncoding(MimePart::EncodingQuotedPrintable);
    std::vector<std::unique_ptr<MimeAttachment>> attachments;

    MimeMessage message(true);
    message.setSender(new EmailAddress(senderAddress, QString()));
    if (s.useReplyTo)
        message.setReplyTo(&replyTo);
    message.addRecipient(new EmailAddress(to, QString()), MimeMessage::To);
    message.setSubject(subject);
    message.addPart(textPart.get());

    if (!mailData.isEmpty()) {
        const MailData &data = readMailData(mailData);
        if (!data.parseError.isEmpty())
            qCCritical(lcMailing, "MailingPluginSmtpClient::sendMail() - JSON data parse error: %s",
                qUtf8Printable(data.parseError));

        for (const DataAttachment &element : data.attachments) {
            auto part = std::make_unique<MimeAttachment>(element.bytes, element.name);
            // An empty or malformed type would leave the part without a
            // usable Content-Type; such a part goes out as octet stream.
            const QString &type = element.type;
            if (isMediaType(type))
                part->setContentType(type);
            else if (!type.isEmpty())
                qCWarning(lcMailing,
                    "MailingPluginSmtpClient::sendMail(mid: %u) - attachment type '%s' unusable, "
                    "sent as application/octet-stream",
                    mid, qUtf8Printable(visible(type.left(80))));
            message.addPart(part.get());
            attachments.push_back(std::move(part));
        }
    }

    bool ok = false;
    SmtpClient *client = openSession(s, &ok);
    const bool sent = ok && client->sendMail(message);
    // The word is taken before RSET or QUIT, whose own trouble must not
    // replace the error that ended the mail.
    const int mailError = m_lastError;
    const QString status = sent ? QStringLiteral("sent") : statusFor(mailError);
    const QPair<QString, QString> failure = sent ? QPair<QString, QString>() : failureOf(client, s);
    if (!ok || !keepSession || (!sent && !recover(client)))
        endSession();
    m_lastError = mailError;

    if (!sent)
        emit attemptFailed(mid, QStringLiteral("smtp"), failure.first, failure.second);
    emit sentDone(mid, status);
    return sent;
}

const MailingPluginSmtpClient::MailData &MailingPluginSmtpClient::readMailData(
    const QByteArray &document)
{
    if (!lastMailData.document.isNull() && lastMailData.document == document)
        return lastMailData;

    MailData data;
    data.document = document;
    const QJsonDocument json = JsonGuard::parse(document, &data.parseError);
    const QJsonArray list = data.parseError.isEmpty()
        ? json.object().value(QLatin1String("attachments")).toArray()
        : QJsonArray();
    for (const QJsonValue &value : list) {
        const QJsonObject element = value.toObject();
        if (!element.contains(QLatin1String("content")))
            continue;
        data.attachments.push_back(
            { MimeEncoding::fromBase64(
                  element.value(QLatin1String("content")).toString().toLatin1()),
                element.value(QLatin1String("name")).toString(),
                element.value(QLatin1String("type")).toString() });
    }
    lastMailData = std::move(data);
    return lastMailData;
}

void MailingPluginSmtpClient::refuse(uint mid, const QString &status, const QString &reason)
{
    emit attemptFailed(mid, QStringLiteral("smtp"), QStringLiteral("refused"), reason);
    emit sentDone(mid, status);
}

QPair<QString, QString> MailingPluginSmtpClient::failureOf(
    SmtpClient *client, const SmtpSettings &s) const
{
    const SmtpReply &refusal = client->refusalReply();
    QString kind;
    QString reply = refusal.summary();
    if (refusal.isTemporary()) {
        kind = QStringLiteral("temporary");
    } else if (refusal.isPermanent()) {
        kind = QStringLiteral("refused");
    } else if (client->messageWritten()) {
        // The server may have taken the mail just before the silence.
        kind = QStringLiteral("unknown");
    } else if (client->certificateRefused()) {
        kind = QStringLiteral("refused");
    } else if (networkFault) {
        // Without the final "." no server delivers anything.
        kind = QStringLiteral("temporary");
    } else {
        // A login the server refused, a reply out of place, a message too large.
        kind = QStringLiteral("refused");
    }
    if (reply.isEmpty()) {
        const QTcpSocket *socket = client->getSocket();
        reply = QString::fromLatin1(errorText(m_lastError));
        if (client->messageWritten())
            reply += QLatin1String(" after the end of the message");
        else if (!client->lastReply().isEmpty()
            && m_lastError != SmtpClient::ConnectionTimeoutError)
            reply += QLatin1String(" after: ") + client->lastReply().summary(200);
        if (socket && socket->error() != QAbstractSocket::UnknownSocketError)
            reply += QLatin1String(" (") + socket->errorString() + QLatin1Char(')');
    }
    // Servers have no business repeating credentials; should one do so,
    // they still stay out of the log and the history.
    if (!s.password.isEmpty()) {
        reply.replace(s.password, QLatin1String("<secret>"));
        reply.replace(
            QString::fromLatin1(s.password.toUtf8().toBase64()), QLatin1String("<secret>"));
    }
    return { kind, reply.left(300) };
}

void MailingPluginSmtpClient::smtpClientError(SmtpClient::SmtpError e)
{
    m_lastError = int(e);
    if (e == SmtpClient::ConnectionTimeoutError || e == SmtpClient::ResponseTimeoutError
        || e == SmtpClient::SendDataTimeoutError)
        networkFault = true;
    const auto *client = qobject_cast<const SmtpClient *>(sender());
    const QString raw = client ? client->getResponseText() : QString();
    if (debugLevel)
        qCDebug(lcMailing, "MailingPluginSmtpClient::smtpClientError(%i - %s) RAW response: '%s'",
            int(e), errorText(int(e)), qUtf8Printable(raw));
}
