#pragma once

#include "emailaddress.h"
#include "mimepart.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// A whole Internet message: the header block (From, To, Cc, Subject,
// Reply-To, MIME-Version, In-Reply-To/References, Date, Message-ID) followed by one
// content part. The message owns its sender and recipients and, when built
// with automatic content, its multipart/mixed container; Reply-To and the
// parts added stay owned by the caller and must outlive toString().
//
// Header values never span lines: CR and LF in a subject, name, address or
// In-Reply-To become blanks. With the default header encoding, a subject or
// display name that is not plain ASCII is sent as RFC 2047 Base64 words.
class MimeMessage : public QObject
{
    Q_OBJECT
public:
    enum RecipientType { To = 0, Cc = 1, Bcc = 2 };

    explicit MimeMessage(bool createAutoMimeContent = true, QObject *parent = nullptr);
    ~MimeMessage() override;

    void setSender(EmailAddress *e);
    void setReplyTo(EmailAddress *e);
    void addRecipient(EmailAddress *rcpt, RecipientType type = To);
    void addTo(EmailAddress *rcpt);
    void addCc(EmailAddress *rcpt);
    void addBcc(EmailAddress *rcpt);
    void setSubject(const QString &subject);
    void setInReplyTo(const QString &inReplyTo);
    void addPart(MimePart *part);
    void setContent(MimePart *content);
    void setHeaderEncoding(MimePart::Encoding encoding);

    const EmailAddress &getSender() const;
    EmailAddress *getReplyTo() const;
    const QList<EmailAddress *> &getRecipients(RecipientType type = To) const;
    const QString &getSubject() const;
    const QList<MimePart *> getParts() const;
    MimePart &getContent();

    virtual QString toString();
    // The text of toString() in its pieces, the header block and (when there
    // is content) the content part's text: a sender that encodes the text
    // anyway need not join a copy of a whole attachment first. The header
    // block always ends with CRLF.
    QStringList toStringParts();
    // The same pieces as the bytes that are sent (UTF-8), each rendered
    // straight into bytes.
    QList<QByteArray> toByteParts();

protected:
    QString mailbox(const EmailAddress &address) const;
    QString subjectText() const;
    // The header block, ending with CRLF.
    QString headerText();
    // "random@domain-of-the-sender", the same for every rendering.
    QString messageIdText();

    EmailAddress *sender = nullptr;
    EmailAddress *replyTo = nullptr;
    QList<EmailAddress *> recipientsTo;
    QList<EmailAddress *> recipientsCc;
    QList<EmailAddress *> recipientsBcc;
    QString subject;
    QString mInReplyTo;
    MimePart *content = nullptr;
    bool autoMimeContentCreated = false;
    MimePart::Encoding hEncoding = MimePart::Encoding8Bit;
    QString messageId;
};
