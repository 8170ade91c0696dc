// The SMTP client's reply reader fed arbitrary server bytes.
//
// The reader (SmtpClient::waitForResponse, protected) only works on the
// client's own connected socket, so the target connects that socket to an
// in-process loopback server, writes the input as everything the server
// ever says and then half-closes the server side: the client sees the bytes
// followed by end of stream, never a real time-out. It then walks the
// client through a whole session (greeting, EHLO, login, MAIL/RCPT/DATA,
// QUIT) over those replies.
//
// Input: the first byte chooses the session (bit 0: AUTH LOGIN instead of
// AUTH PLAIN, bit 1: no login, bit 2: three recipients), the rest is what
// the server sends.
#include "emailaddress.h"
#include "fuzzsupport.h"
#include "mimemessage.h"
#include "mimetext.h"
#include "smtpclient.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/socket.h>

namespace {

class ReplyClient : public SmtpClient
{
public:
    using SmtpClient::SmtpClient;

    // One reply; false when the stream ended first.
    bool reply()
    {
        try {
            waitForResponse();
        } catch (const ResponseTimeoutException &) {
            return false;
        }
        checkCode();
        return true;
    }

    bool say(const QString &line)
    {
        try {
            sendMessage(line);
        } catch (const SendMessageTimeoutException &) {
            return false;
        }
        return true;
    }

    // The code is the reply's first three digits, or 0 when it has none.
    void checkCode() const
    {
        const QString &text = getResponseText();
        const int code = getResponseCode();
        bool digits = text.size() >= 3;
        for (int i = 0; digits && i < 3; ++i)
            digits = text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9');
        const int expected = digits ? text.leftRef(3).toInt() : 0;
        if (digits ? code != expected : (code < -99 || code > 999))
            Fuzz::fail("reply code does not match the reply text", text.toUtf8());
    }
};

QTcpServer *server = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::fuzzInit(argc, argv, Fuzz::App::Core);
    qputenv("YXA_SMTP_TRACE", "1"); // the trace lines parse the reply too
    server = new QTcpServer;
    if (!server->listen(QHostAddress::LocalHost, 0))
        Fuzz::fail("cannot listen on loopback");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t flags = data[0];
    const QByteArray serverBytes = Fuzz::bytes(data + 1, size - 1);

    ReplyClient client(QStringLiteral("127.0.0.1"), server->serverPort());
    client.setResponseTimeout(2000);
    client.setSendMessageTimeout(2000);
    QTcpSocket *socket = client.getSocket();
    socket->connectToHost(QHostAddress::LocalHost, server->serverPort());
    if (!socket->waitForConnected(2000) || !server->waitForNewConnection(2000))
        Fuzz::fail("loopback connection failed");
    QTcpSocket *peer = server->nextPendingConnection();
    peer->write(serverBytes);
    while (peer->bytesToWrite() > 0) {
        if (!peer->waitForBytesWritten(2000))
            Fuzz::fail("loopback write failed");
    }
    ::shutdown(int(peer->socketDescriptor()), SHUT_WR);

    // connectToHost() would open a connection of its own; its dialogue is
    // replayed here step by step.
    bool ok = client.reply() && client.say(QStringLiteral("EHLO fuzz")) && client.reply();
    if (ok && !(flags & 2)) {
        client.login(QStringLiteral("user"), QStringLiteral("secret"),
            (flags & 1) ? SmtpClient::AuthLogin : SmtpClient::AuthPlain);
        client.checkCode();
    }
    if (ok) {
        // The part is not owned by the message and must outlive it.
        MimeText text(QStringLiteral("body\r\n.\r\nmore"));
        MimeMessage message(true);
        message.setSender(new EmailAddress(QStringLiteral("from@example.org"), QString()));
        const int recipients = (flags & 4) ? 3 : 1;
        for (int i = 0; i < recipients; ++i)
            message.addRecipient(
                new EmailAddress(QStringLiteral("to%1@example.org").arg(i), QString()),
                MimeMessage::To);
        message.setSubject(QStringLiteral("fuzz"));
        message.addPart(&text);
        client.sendMail(message);
        client.checkCode();
    }
    client.quit();
    delete peer;
    return 0;
}
