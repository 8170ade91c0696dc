#pragma once

#include "mailinterface.h"
#include "smtpclient.h"
#include "smtpsettings.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>

#include <memory>
#include <vector>

// The SMTP transport of a mailing worker: delivers one queued `emails` row
// per sendMail() call through the tenant's SMTP server and reports exactly
// one status word through sentDone() ("sent", "error", "neterror", "bad",
// "invalid" or "rejected"), always with an empty identifier.
//
// The body goes out as text/html when it holds a tag (the test the Mandrill
// transport applies), otherwise as text/plain; quoted-printable when one of
// its lines would be longer than SMTP carries. Message-ID and Date come from
// the MIME model.
//
// By default each call is self-contained: a fresh SmtpClient and
// MimeMessage, connect, log in when a user and password are set, send, quit;
// everything is released before the call returns. sendMail() blocks the
// calling thread for the whole dialogue.
//
// With setKeepSession(true) (the worker's bursts) the session outlives the
// call: EHLO, STARTTLS and AUTH happen once, each mail is MAIL/RCPT/DATA, a
// mail the server refused is followed by RSET, and endSession() sends QUIT.
// A session the server closed, or one that failed in a way that leaves its
// state unknown (a time-out, a 421), is dropped; the next mail opens a new
// one. New settings end the session too.
//
// Wiring (worker thread): Mailing::toSend -> sendMail (queued),
// sentDone -> Mailing::sentReply (direct); keep the settings current with
// setSettings().
class MailingPluginSmtpClient : public QObject, public MailInterface
{
    Q_OBJECT
    Q_PROPERTY(SmtpSettings settings READ settings WRITE setSettings NOTIFY settingsChanged)
public:
    explicit MailingPluginSmtpClient(QObject *parent = nullptr);
    ~MailingPluginSmtpClient() override;

    void setDebugLevel(unsigned char level);
    unsigned char getDebugLevel() const;

    SmtpSettings settings() const;

    // The SmtpClient::SmtpError code of the last smtpError() raised during
    // the most recent send, or -1 when that send raised none.
    int lastError() const;

    // The CAs that TLS sessions trust (the plug-in's caFile with the
    // system's); empty keeps the socket's defaults. The server's host name
    // is checked either way. Takes effect with the next session.
    void setCaCertificates(const QList<QSslCertificate> &certificates);
    QList<QSslCertificate> getCaCertificates() const { return caCertificates; }

    void setKeepSession(bool keep);
    bool keepsSession() const { return keepSession; }
    // Sessions opened so far (for tests and benchmarks).
    int sessionCount() const { return sessionsOpened; }
    bool hasSession() const { return session != nullptr; }

public slots:
    bool sendMail(uint mid, QString from, QString to, QString subject, QByteArray body,
        const QByteArray &mailData) override;
    void setSettings(SmtpSettings settings);
    // QUIT and close; nothing when no session is open.
    void endSession();

signals:
    void sentDone(uint mid, QString status, QString apiID = QString());
    // Comes just before the sentDone() of a mail that was not sent: "temporary"
    // (a 4xx reply, or a connection that failed or dropped before the end of
    // the message was written), "unknown" (the end of the message was
    // written and no reply came: the server may have the mail) or "refused"
    // (5xx, a refused certificate or login, or the row or settings unusable).
    // reply is the server's reply or the network's error, never a password.
    void attemptFailed(uint mid, QString transport, QString kind, QString reply);
    void settingsChanged(SmtpSettings settings);

private slots:
    void smtpClientError(SmtpClient::SmtpError e);

private:
    // The open session when it can carry another mail, otherwise a new one;
    // ok is false when connecting or logging in failed.
    SmtpClient *openSession(const SmtpSettings &s, bool *ok);
    // Whether the session can go on after a mail that failed (RSET sent).
    bool recover(SmtpClient *client);
    // Kind and reply text of a failed send (see attemptFailed()).
    QPair<QString, QString> failureOf(SmtpClient *client, const SmtpSettings &s) const;
    void refuse(uint mid, const QString &status, const QString &reason);

    // What a mail data document yields: its attachments decoded, or the
    // reason it could not be read.
    struct DataAttachment
    {
        QByteArray bytes;
        QString name;
        QString type;
    };
    struct MailData
    {
        QByteArray document;
        QString parseError;
        std::vector<DataAttachment> attachments;
    };
    // The rows of a newsletter all carry the same document: reading and
    // decoding it took more than everything else of a mail, so the last
    // one read is kept for the session and read again only when it changes.
    const MailData &readMailData(const QByteArray &document);

    unsigned char debugLevel = 0;
    SmtpSettings m_settings;
    int m_lastError = -1;
    // A time-out or drop was signalled during the current send.
    bool networkFault = false;
    bool keepSession = false;
    std::unique_ptr<SmtpClient> session;
    int sessionsOpened = 0;
    MailData lastMailData;
    QList<QSslCertificate> caCertificates;
    // The warning about AUTH over plain TCP is given once per transport,
    // that is per tenant and run, not once per mail.
    bool clearAuthWarned = false;
};
