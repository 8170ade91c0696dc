// The mail data document (emails.data) as the Mandrill transport reads it:
// MailingPluginClient::sendMail() builds the send request's "message" from
// the document and posts it.
//
// The request goes to a loopback HTTP server in a thread of its own, which
// keeps the body and answers with a fixed "sent". Checked: the row is
// reported "sent" with the API's identifier, the body is a JSON object, the
// fields the transport sets hold the row's values, and every other member
// of the document reaches the message unchanged (attachments above all).
#include "fuzzsupport.h"
#include "jsonguard.h"
#include "mailingpluginclient.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QTimer>

#include <cstdlib>

namespace {

QMutex bodyMutex;
QByteArray lastBody;

void httpSession(Fuzz::LoopbackServer &server)
{
    int length = 0;
    for (;;) {
        const QByteArray line = server.readLine();
        if (line.isEmpty())
            return;
        if (line == "\r\n")
            break;
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toInt();
    }
    const QByteArray body = server.readBytes(length);
    {
        QMutexLocker lock(&bodyMutex);
        lastBody = body;
    }
    const QByteArray reply = R"([{"email":"to@example.org","status":"sent","_id":"fuzz-id"}])";
    server.write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n"
                 "Content-Length: "
        + QByteArray::number(reply.size()) + "\r\n\r\n" + reply);
}

Fuzz::LoopbackServer *server = nullptr;
MailingPluginClient *client = nullptr;

// Members the transport sets itself; everything else is the document's.
bool setByTransport(const QString &key)
{
    static const QStringList keys { "html", "text", "auto_text", "subject", "from_email", "to",
        "metadata" };
    return keys.contains(key);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::fuzzInit(argc, argv, Fuzz::App::Core);
    server = new Fuzz::LoopbackServer(httpSession);
    client = new MailingPluginClient;
    MandrillApiSettings api;
    api.apiUrl = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server->port()));
    api.apiKey = QStringLiteral("fuzz-key");
    api.requestTimeoutMs = 5000;
    client->setApiSettings(api);
    // libFuzzer ends the process with exit(): the last reply and its
    // network thread's objects are then still on their way to deletion,
    // which LeakSanitizer would report as a leak. Shut down as the worker
    // does, deleting the transport and letting the deferred deletions run.
    std::atexit([]() {
        delete client;
        client = nullptr;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray document = Fuzz::bytes(data, size);
    {
        QMutexLocker lock(&bodyMutex);
        lastBody.clear();
    }

    QString status, apiId;
    QEventLoop loop;
    const auto connection = QObject::connect(client, &MailingPluginClient::sentDone,
        [&](uint, const QString &word, const QString &id) {
            status = word;
            apiId = id;
            loop.quit();
        });
    QTimer::singleShot(8000, &loop, &QEventLoop::quit);
    client->sendMail(42, QStringLiteral("from@example.org"), QStringLiteral("to@example.org"),
        QStringLiteral("Objednávka"), QByteArray("<p>Dobrý deň</p>"), document);
    loop.exec();
    QObject::disconnect(connection);

    if (status != QLatin1String("sent") || apiId != QLatin1String("fuzz-id"))
        Fuzz::fail("mail not reported sent", (status + QLatin1Char(' ') + apiId).toUtf8());

    QByteArray body;
    {
        QMutexLocker lock(&bodyMutex);
        body = lastBody;
    }
    QJsonParseError error;
    const QJsonObject request = QJsonDocument::fromJson(body, &error).object();
    if (error.error != QJsonParseError::NoError)
        Fuzz::fail("request body is not JSON", body);
    if (request.value(QLatin1String("key")).toString() != QLatin1String("fuzz-key"))
        Fuzz::fail("request without the API key", body);
    const QJsonObject message = request.value(QLatin1String("message")).toObject();
    const QJsonArray to = message.value(QLatin1String("to")).toArray();
    if (to.size() != 1
        || to.at(0).toObject().value(QLatin1String("email")).toString()
            != QLatin1String("to@example.org")
        || message.value(QLatin1String("from_email")).toString()
            != QLatin1String("from@example.org")
        || message.value(QLatin1String("subject")).toString() != QStringLiteral("Objednávka")
        || message.value(QLatin1String("html")).toString() != QStringLiteral("<p>Dobrý deň</p>")
        || message.contains(QLatin1String("text"))
        || message.value(QLatin1String("metadata")).toObject().value(QLatin1String("mid")).toInt()
            != 42)
        Fuzz::fail("the row's own values did not reach the message", body);

    const QJsonObject original = JsonGuard::parse(document).object();
    for (auto it = original.constBegin(); it != original.constEnd(); ++it) {
        if (!setByTransport(it.key()) && message.value(it.key()) != it.value())
            Fuzz::fail("a member of the document was lost or changed", it.key().toUtf8());
    }
    return 0;
}
