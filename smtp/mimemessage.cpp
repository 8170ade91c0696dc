#include "mimemessage.h"

#include "mimeheader_p.h"
#include "mimemultipart.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>

namespace {
// The local time of now as a Date header (RFC 2822, whole seconds). A burst
// renders many messages a second, and every formatting of a local time asks
// the C library for the time zone again (a look at /etc/localtime each
// time): the text is kept for the second it shows, per thread.
QString dateText()
{
    thread_local qint64 second = -1;
    thread_local QString text;
    const qint64 now = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (now != second) {
        text = QDateTime::fromSecsSinceEpoch(now).toString(Qt::RFC2822Date);
        second = now;
    }
    return text;
}
} // namespace

MimeMessage::MimeMessage(bool createAutoMimeContent, QObject *parent)
    : QObject(parent)
    , autoMimeContentCreated(createAutoMimeContent)
{
    // Until a sender is set the message has an empty one, which renders as
    // "From: <>" and the null reverse path instead of crashing a caller that
    // forgot it.
    sender = new EmailAddress(QString(), QString(), this);
    if (createAutoMimeContent)
        content = new MimeMultiPart(MimeMultiPart::Mixed);
}

MimeMessage::~MimeMessage()
{
    if (autoMimeContentCreated)
        delete content;
}

void MimeMessage::setSender(EmailAddress *e)
{
    if (!e)
        return;
    sender = e;
    e->setParent(this);
}

void MimeMessage::setReplyTo(EmailAddress *e)
{
    replyTo = e;
}

void MimeMessage::addRecipient(EmailAddress *rcpt, RecipientType type)
{
    if (!rcpt)
        return;
    switch (type) {
    case Cc:
        recipientsCc.append(rcpt);
        break;
    case Bcc:
        recipientsBcc.append(rcpt);
        break;
    case To:
    default:
        recipientsTo.append(rcpt);
        break;
    }
    rcpt->setParent(this);
}

void MimeMessage::addTo(EmailAddress *rcpt)
{
    addRecipient(rcpt, To);
}

void MimeMessage::addCc(EmailAddress *rcpt)
{
    addRecipient(rcpt, Cc);
}

void MimeMessage::addBcc(EmailAddress *rcpt)
{
    addRecipient(rcpt, Bcc);
}

void MimeMessage::setSubject(const QString &subject)
{
    this->subject = subject;
}

void MimeMessage::setInReplyTo(const QString &inReplyTo)
{
    mInReplyTo = inReplyTo;
}

void MimeMessage::addPart(MimePart *part)
{
    if (auto *multi = qobject_cast<MimeMultiPart *>(content))
        multi->addPart(part);
}

void MimeMessage::setContent(MimePart *content)
{
    if (autoMimeContentCreated) {
        autoMimeContentCreated = false;
        delete this->content;
    }
    this->content = content;
}

void MimeMessage::setHeaderEncoding(MimePart::Encoding encoding)
{
    hEncoding = encoding;
}

const EmailAddress &MimeMessage::getSender() const
{
    return *sender;
}

EmailAddress *MimeMessage::getReplyTo() const
{
    return replyTo;
}

const QList<EmailAddress *> &MimeMessage::getRecipients(RecipientType type) const
{
    switch (type) {
    case Cc:
        return recipientsCc;
    case Bcc:
        return recipientsBcc;
    case To:
    default:
        return recipientsTo;
    }
}

const QString &MimeMessage::getSubject() const
{
    return subject;
}

const QList<MimePart *> MimeMessage::getParts() const
{
    if (auto *multi = qobject_cast<MimeMultiPart *>(content))
        return multi->getParts();
    return QList<MimePart *>() << content;
}

MimePart &MimeMessage::getContent()
{
    return *content;
}

QString MimeMessage::mailbox(const EmailAddress &address) const
{
    QString out;
    const QString name = address.getName();
    if (!name.isEmpty()) {
        out += QLatin1Char(' ');
        if (hEncoding == MimePart::EncodingBase64
            || (hEncoding != MimePart::EncodingQuotedPrintable && !MimeHeader::isAscii(name)))
            out += MimeHeader::base64Words(name);
        else if (hEncoding == MimePart::EncodingQuotedPrintable)
            out += MimeHeader::quotedPrintableWord(name);
        else
            out += MimeHeader::singleLine(name);
    }
    out += QLatin1String(" <") + MimeHeader::singleLine(address.getAddress()) + QLatin1Char('>');
    return out;
}

QString MimeMessage::subjectText() const
{
    if (hEncoding == MimePart::EncodingBase64
        || (hEncoding != MimePart::EncodingQuotedPrintable && !MimeHeader::isAscii(subject)))
        return MimeHeader::base64Words(subject);
    if (hEncoding == MimePart::EncodingQuotedPrintable)
        return MimeHeader::quotedPrintableWord(subject);
    return MimeHeader::singleLine(subject);
}

QString MimeMessage::messageIdText()
{
    // Made once, so that a message rendered twice is still one message.
    if (!messageId.isEmpty())
        return messageId;
    // The sender's domain keeps the identifier unique beyond this host; one
    // that is not a plain host name (or none) gives way to "localhost".
    static const QRegularExpression hostName(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$"));
    const QString address = sender->getAddress();
    const int at = address.lastIndexOf(QLatin1Char('@'));
    QString domain = at < 0 ? QString() : QString::fromLatin1(QUrl::toAce(address.mid(at + 1)));
    if (domain.size() > 200 || !hostName.match(domain).hasMatch())
        domain = QStringLiteral("localhost");
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    messageId = QString::fromLatin1(
                    QByteArray(reinterpret_cast<const char *>(words), int(sizeof(words))).toHex())
        + QLatin1Char('@') + domain;
    return messageId;
}

QString MimeMessage::toString()
{
    const QStringList parts = toStringParts();
    if (parts.size() == 1)
        return parts.first();
    QString out;
    out.reserve(parts.at(0).size() + parts.at(1).size());
    out += parts.at(0);
    out += parts.at(1);
    return out;
}

QStringList MimeMessage::toStringParts()
{
    const QString head = headerText();
    if (!content)
        return QStringList { head };
    return QStringList { head, content->toString() };
}

QList<QByteArray> MimeMessage::toByteParts()
{
    const QByteArray head = headerText().toUtf8();
    if (!content)
        return QList<QByteArray> { head };
    return QList<QByteArray> { head, content->toBytes() };
}

QString MimeMessage::headerText()
{
    const QLatin1String crlf("\r\n");
    QString head;
    // Every header line is folded when it would be longer than SMTP allows.
    const auto addLine = [&head, crlf](const QString &line) {
        head += MimeHeader::fold(line) + crlf;
    };
    addLine(QLatin1String("From:") + mailbox(*sender));

    QStringList list;
    for (const EmailAddress *rcpt : qAsConst(recipientsTo))
        list << mailbox(*rcpt);
    addLine(QLatin1String("To:") + list.join(QLatin1Char(',')));

    if (!recipientsCc.isEmpty()) {
        list.clear();
        for (const EmailAddress *rcpt : qAsConst(recipientsCc))
            list << mailbox(*rcpt);
        addLine(QLatin1String("Cc:") + list.join(QLatin1Char(',')));
    }

    bool subjectFits = true;
    const QString subjectLine
        = MimeHeader::fold(QLatin1String("Subject: ") + subjectText(), &subjectFits);
    // A subject with a word too long to fold goes out in encoded words,
    // which split anywhere.
    head += (subjectFits ? subjectLine
                         : QLatin1String("Subject: ") + MimeHeader::base64Words(subject))
        + crlf;
    if (replyTo)
        addLine(QLatin1String("Reply-To: ") + mailbox(*replyTo));
    head += QLatin1String("MIME-Version: 1.0") + crlf;
    if (!mInReplyTo.isEmpty()) {
        const QString id = MimeHeader::singleLine(mInReplyTo);
        addLine(QLatin1String("In-Reply-To: <") + id + QLatin1Char('>'));
        addLine(QLatin1String("References: <") + id + QLatin1Char('>'));
    }
    head += QLatin1String("Date: ") + dateText() + crlf;
    // Large receivers refuse or penalise mail without one, and not every
    // submission server adds it.
    head += QLatin1String("Message-ID: <") + messageIdText() + QLatin1Char('>') + crlf;
    return head;
}
