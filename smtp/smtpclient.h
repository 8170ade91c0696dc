#pragma once

#include "smtpreply.h"

#include <QAbstractSocket>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

class MimeMessage;
class QTcpSocket;

// Submits rendered MimeMessages to an SMTP server, synchronously: every
// step blocks on the socket with a time-out in the caller's thread, so no
// event loop is needed. Use it in this order: construct, set credentials,
// connectToHost(), login() when the server wants it, sendMail() once or
// several times over the same session (reset() after a mail the server
// refused), quit(), destroy.
//
// Waiting: each reply gets the response time-out, except the one after the
// end of the message text, which gets the send time-out (the server may scan
// the message before it answers). With STARTTLS, a server that sent anything
// beyond its 220 before the handshake is refused with ServerError: those
// bytes would otherwise be read as a reply inside TLS. A reply of more than
// maxReplyLines lines or maxReplyBytes bytes closes the connection and
// counts as ResponseTimeoutError, so a server can not grow our memory.
//
// Failures come back as false and, at the points documented for each step,
// as the synchronous signal smtpError(); the text of the reply that caused
// it is in getResponseText().
//
// sendMail() sends MimeMessage::toByteParts(), which is the UTF-8 of
// toString() unjoined.
//
// The message text is sent SMTP-transparent: a line starting with "." gets a
// second "." and a bare CR or LF becomes CRLF, so a body can not end the
// DATA phase early. Addresses holding CR, LF, "<" or ">" are refused before
// anything of the envelope is sent.
//
// With YXA_SMTP_TRACE=1 in the environment every line sent and received is
// written at debug level (category yxa.smtp) as "C: ..." and "S: ...",
// AUTH secrets replaced by "<secret>".
class SmtpClient : public QObject
{
    Q_OBJECT
public:
    // Fixed underlying types: values outside the lists arrive from settings
    // and must stay representable.
    enum ConnectionType : int { TcpConnection = 0, SslConnection = 1, TlsConnection = 2 };
    Q_ENUM(ConnectionType)

    enum AuthMethod : int { AuthPlain = 0, AuthLogin = 1 };
    Q_ENUM(AuthMethod)

    enum SmtpError : int {
        ConnectionTimeoutError = 0,
        ResponseTimeoutError = 1,
        SendDataTimeoutError = 2,
        AuthenticationFailedError = 3,
        ServerError = 4,
        ClientError = 5
    };
    Q_ENUM(SmtpError)

    explicit SmtpClient(const QString &host = QStringLiteral("localhost"), int port = 25,
        ConnectionType connectionType = TcpConnection, QObject *parent = nullptr);
    ~SmtpClient() override;

    const QString &getHost() const;
    void setHost(const QString &host);
    int getPort() const;
    void setPort(int port);
    const QString &getName() const;
    void setName(const QString &name);
    ConnectionType getConnectionType() const;
    // Replaces the socket: a QTcpSocket for TcpConnection, a QSslSocket for
    // the two TLS types, none for any other value.
    void setConnectionType(ConnectionType type);
    const QString &getUser() const;
    void setUser(const QString &user);
    const QString &getPassword() const;
    void setPassword(const QString &password);
    AuthMethod getAuthMethod() const;
    void setAuthMethod(AuthMethod method);
    const QString &getResponseText() const;
    int getResponseCode() const;
    int getConnectionTimeout() const;
    void setConnectionTimeout(int msec);
    int getResponseTimeout() const;
    void setResponseTimeout(int msec);
    int getSendMessageTimeout() const;
    void setSendMessageTimeout(int msec);
    QTcpSocket *getSocket();

    // What a failed step leaves for its caller to judge (connectToHost(),
    // login() and sendMail() each start afresh): the last complete reply,
    // the first 4xx or 5xx reply of the step, whether the end of the
    // message was written (a mail without a reply after that may have been
    // delivered), and whether a TLS handshake failed on the certificate.
    const SmtpReply &lastReply() const { return last; }
    const SmtpReply &refusalReply() const { return refusal; }
    bool messageWritten() const { return dataWritten; }
    bool certificateRefused() const { return certificateErrors; }

    // TLS settings for the TLS connection types, applied when connecting;
    // without a call the socket's defaults hold. Needed where the server's
    // certificate comes from a private CA.
    void setSslConfiguration(const QSslConfiguration &configuration);

    bool connectToHost();
    bool login();
    bool login(const QString &user, const QString &password, AuthMethod method = AuthPlain);
    bool sendMail(MimeMessage &email);
    // With pipelining allowed and announced by the server (RFC 2920), MAIL,
    // RCPT and DATA of a mail leave in one write and their replies are read
    // after it: two round trips fewer per mail. Off by default. When one of
    // them is refused, the replies after it raise no signal of their own, so
    // the error is that of the command the server refused.
    void setPipelining(bool allowed);
    // Whether the last EHLO reply named the extension (case-insensitive).
    bool hasExtension(const QString &keyword) const;
    // RSET: ends a transaction the server refused half-way, so that the
    // session can carry the next mail. True on 250.
    bool reset();
    void quit();

signals:
    void smtpError(SmtpClient::SmtpError e);

protected slots:
    void socketStateChanged(QAbstractSocket::SocketState state);
    void socketError(QAbstractSocket::SocketError error);
    void socketReadyRead();

protected:
    class ResponseTimeoutException
    {
    };
    class SendMessageTimeoutException
    {
    };

    void waitForResponse();
    void sendMessage(const QString &text);

private:
    void sendLine(const QString &text, const QString &traceText);
    void writeAll(const QByteArray &bytes);
    // Sends the message text (its pieces one after the other) and the "."
    // line that ends the DATA phase; false (and ClientError) when the
    // message is too large to send.
    bool sendData(const QList<QByteArray> &pieces);
    void waitForResponse(int msec);
    bool expect(int code);

    // A reply line may hold 512 bytes (RFC 5321, 4.5.3.1.5) and the longest
    // EHLO replies have a few dozen lines; anything far beyond that is no
    // SMTP server.
    static constexpr int maxReplyBytes = 16 * 1024;
    static constexpr int maxReplyLines = 256;
    // Logs, closes the connection and ends the running operation as a time-out.
    [[noreturn]] void replyTooLarge();

    QTcpSocket *socket = nullptr;
    QString host;
    int port;
    ConnectionType connectionType;
    QString name = QStringLiteral("localhost");
    QString user;
    QString password;
    AuthMethod authMethod = AuthPlain;
    int connectionTimeout = 5000;
    int responseTimeout = 5000;
    int sendMessageTimeout = 60000;
    QString responseText;
    int responseCode = 0;
    QSslConfiguration sslConfiguration;
    bool hasSslConfiguration = false;
    bool trace = false;
    bool pipelining = false;
    // Replies read while a pipelined command already failed raise no signal.
    bool quietReplies = false;
    // The lines of the last reply read, and the extensions of the last EHLO.
    QStringList replyLines;
    QStringList extensions;
    SmtpReply last;
    SmtpReply refusal;
    bool dataWritten = false;
    bool certificateErrors = false;
};

Q_DECLARE_METATYPE(SmtpClient::SmtpError)
