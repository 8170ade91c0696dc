// The mail data document (emails.data) as the SMTP transport reads it: the
// "attachments" array becomes MIME parts of the message that goes out.
//
// MailingPluginSmtpClient::sendMail() is driven whole against a loopback
// SMTP server in a thread of its own, which accepts everything and keeps the
// DATA it received. Checked: the row is reported "sent", every line of the
// message fits SMTP's 998 octets, every header line is a header (no value
// broke out of its line) and there is one attachment part per attachment
// with content.
#include "fuzzsupport.h"
#include "jsonguard.h"
#include "mailingpluginsmtpclient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QRegularExpression>

namespace {

QMutex dataMutex;
QByteArray lastData;

void smtpSession(Fuzz::LoopbackServer &server)
{
    server.write("220 fuzz ESMTP\r\n");
    for (;;) {
        const QByteArray line = server.readLine();
        if (line.isEmpty())
            return;
        const QByteArray verb = line.left(4).toUpper();
        if (verb == "EHLO") {
            server.write("250-fuzz\r\n250 AUTH PLAIN LOGIN\r\n");
        } else if (verb == "DATA") {
            server.write("354 go ahead\r\n");
            QByteArray data;
            for (;;) {
                const QByteArray dataLine = server.readLine();
                if (dataLine.isEmpty() || dataLine == ".\r\n")
                    break;
                data += dataLine;
            }
            {
                QMutexLocker lock(&dataMutex);
                lastData = data;
            }
            server.write("250 queued\r\n");
        } else if (verb == "QUIT") {
            server.write("221 bye\r\n");
            return;
        } else {
            server.write("250 ok\r\n");
        }
    }
}

Fuzz::LoopbackServer *server = nullptr;

// Attachments the transport must turn into parts, counted the way the
// document is meant to be read.
int expectedAttachments(const QByteArray &document)
{
    QString error;
    const QJsonDocument doc = JsonGuard::parse(document, &error);
    if (!error.isEmpty())
        return 0;
    int n = 0;
    for (const QJsonValue &value : doc.object().value(QLatin1String("attachments")).toArray()) {
        if (value.toObject().contains(QLatin1String("content")))
            ++n;
    }
    return n;
}

void checkMessage(const QByteArray &data, const QByteArray &input, int attachments)
{
    static const QRegularExpression headerLine(QStringLiteral("^[!-9;-~]+:"));
    const QList<QByteArray> lines = data.split('\n');
    bool inHeader = true; // the message starts with its header block
    int dispositions = 0;
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (i + 1 == lines.size() && line.isEmpty())
            break;
        if (!line.endsWith('\r'))
            Fuzz::fail("message line not ended by CRLF", input);
        line.chop(1);
        if (line.size() > 998)
            Fuzz::fail("message line longer than 998 octets", input);
        if (line.startsWith("--") && !line.contains(' ')) {
            inHeader = true; // a boundary; the part's header block follows
            continue;
        }
        if (!inHeader)
            continue;
        if (line.isEmpty()) {
            inHeader = false;
            continue;
        }
        if (line.startsWith(' ') || line.startsWith('\t'))
            continue;
        if (!headerLine.match(QString::fromLatin1(line)).hasMatch())
            Fuzz::fail("a header block holds a line that is no header", line);
        if (line.startsWith("Content-Disposition: attachment"))
            ++dispositions;
    }
    if (dispositions != attachments)
        Fuzz::fail("attachment parts do not match the document's attachments", input);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::fuzzInit(argc, argv, Fuzz::App::Core);
    server = new Fuzz::LoopbackServer(smtpSession);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray document = Fuzz::bytes(data, size);
    {
        QMutexLocker lock(&dataMutex);
        lastData.clear();
    }

    MailingPluginSmtpClient transport;
    SmtpSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = server->port();
    settings.connectionType = 0;
    transport.setSettings(settings);
    QString status;
    QObject::connect(&transport, &MailingPluginSmtpClient::sentDone,
        [&status](uint, const QString &word, const QString &) { status = word; });

    transport.sendMail(7, QStringLiteral("from@example.org"), QStringLiteral("to@example.org"),
        QStringLiteral("Objednávka"), QByteArray("Dobrý deň,\r\n.\r\nobjednávka v prílohe.\r\n"),
        document);
    if (status != QLatin1String("sent"))
        Fuzz::fail("mail with a valid envelope not sent", status.toUtf8());

    QByteArray received;
    {
        QMutexLocker lock(&dataMutex);
        received = lastData;
    }
    checkMessage(received, document, expectedAttachments(document));
    return 0;
}
