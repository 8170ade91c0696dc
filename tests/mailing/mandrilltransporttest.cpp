// The Mandrill transport against the fake API (tests/support/fake-mandrill.py):
// the exact request bodies, and what every kind of reply is reported as.
#include "apihttpclient.h"
#include "envirosettings.h"
#include "fakemandrill.h"
#include "logcapture.h"
#include "mailingpluginclient.h"
#include "smtptestsupport.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

namespace {
const QString kFrom = QStringLiteral("office@tenant.test");
const QString kTo = QStringLiteral("supplier@example.test");

QJsonObject sendScript(const QJsonValue &entry)
{
    return QJsonObject { { QStringLiteral("send"), QJsonArray { entry } } };
}

QJsonObject infoScript(const QJsonValue &entry)
{
    return QJsonObject { { QStringLiteral("info"), QJsonArray { entry } } };
}

// A whole reply as the server writes it, for framings the fake's own
// replies never use; "LENGTH" in the head becomes the body's size.
QJsonObject rawReply(QByteArray head, bool chunked)
{
    const QByteArray json = "[{\"email\": \"x@example.test\", \"status\": \"sent\", "
                            "\"_id\": \"raw-1\", \"reject_reason\": null}]";
    QByteArray body = json;
    if (chunked)
        body = QByteArray::number(json.size() - 10, 16) + "\r\n" + json.left(json.size() - 10)
            + "\r\n" + QByteArray::number(10, 16) + "\r\n" + json.right(10) + "\r\n0\r\n\r\n";
    head.replace("LENGTH", QByteArray::number(body.size()));
    return QJsonObject { { QStringLiteral("raw"),
        QString::fromLatin1(head + "Content-Type: application/json\r\n\r\n" + body) } };
}
} // namespace

class MandrillTransportTest : public QObject
{
    Q_OBJECT

private slots:
    void checkHtml_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("html");
        QTest::newRow("bold tag") << "a <b>word</b> b" << true;
        QTest::newRow("lone less-than") << "1 < 2" << false;
        QTest::newRow("plain") << "plain text" << false;
        QTest::newRow("empty tag") << "<>" << true;
        QTest::newRow("break") << "line<br/>line" << true;
    }

    void checkHtml()
    {
        QFETCH(QString, text);
        QFETCH(bool, html);
        MailingPluginClient client;
        QCOMPARE(client.checkHtml(text), html);
    }

    void sendRequestBody_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("html") << QByteArray("<p>Order <b>42</b></p>") << "html"
                              << "<p>Order <b>42</b></p>";
        QTest::newRow("lone less-than is text") << QByteArray("1 < 2") << "text"
                                                << "1 < 2";
        QTest::newRow("utf-8 text")
            << QByteArray("Objedn\xc3\xa1vka") << "text" << QString::fromUtf8("Objedn\xc3\xa1vka");
        QTest::newRow("cut at zero byte") << QByteArray("before\0<b>after</b>", 19) << "text"
                                          << "before";
    }

    void sendRequestBody()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, key);
        QFETCH(QString, text);

        FakeMandrill fake;
        const QString error = fake.start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        MailingPluginClient client;
        client.setApiSettings(fake.apiSettings());
        QSignalSpy done(&client, &MailingPluginClient::sentDone);
        QVERIFY(client.sendMail(77, kFrom, kTo, QStringLiteral("Order"), body, QByteArray()));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);

        const QList<QJsonObject> requests = fake.requests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.at(0).value("method").toString(), QStringLiteral("POST"));
        QCOMPARE(requests.at(0).value("path").toString(), FakeMandrill::sendPath());
        QCOMPARE(requests.at(0).value("content_type").toString(),
            QStringLiteral("application/x-www-form-urlencoded"));
        // The body is the indented JSON text.
        QVERIFY(requests.at(0).value("raw").toString().contains(QStringLiteral("\n    \"key\"")));

        const QJsonObject expected {
            { "key", MandrillApiSettings::defaultApiKey() },
            { "headers", QJsonObject { { "Reply-To", kFrom } } },
            { "message",
                QJsonObject { { key, text }, { "auto_text", true }, { "subject", "Order" },
                    { "from_email", kFrom },
                    { "to", QJsonArray { QJsonObject { { "email", kTo }, { "type", "to" } } } },
                    { "metadata", QJsonObject { { "mid", 77 } } } } },
        };
        QCOMPARE(requests.at(0).value("body").toObject(), expected);
        QCOMPARE(done.at(0).at(0).toUInt(), 77u);
        QCOMPARE(done.at(0).at(1).toString(), QStringLiteral("sent"));
        QCOMPARE(done.at(0).at(2).toString(), QStringLiteral("fake-1"));
    }

    void documentStartsMessageAndTransportKeysWin()
    {
        FakeMandrill fake;
        QVERIFY(fake.start().isEmpty());
        MailingPluginClient client;
        client.setApiSettings(fake.apiSettings());
        QSignalSpy done(&client, &MailingPluginClient::sentDone);
        const QJsonArray attachments { QJsonObject { { "type", "application/pdf" },
            { "name", "order.pdf" }, { "content", "JVBERi0xLjQK" } } };
        const QJsonObject document {
            { "attachments", attachments },
            { "subject", "from the document" },
            { "from_email", "doc@example.test" },
            { "to", QJsonArray { QJsonObject { { "email", "other@example.test" } } } },
            { "metadata", QJsonObject { { "mid", 1 }, { "x", "y" } } },
            { "html", "<i>document body</i>" },
            { "important", true },
        };
        client.sendMail(9, kFrom, kTo, QStringLiteral("Row subject"), QByteArray("plain body"),
            QJsonDocument(document).toJson());
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);

        const QJsonObject message
            = fake.requests().at(0).value("body").toObject().value("message").toObject();
        QCOMPARE(message.value("attachments").toArray(), attachments);
        QCOMPARE(message.value("important").toBool(), true);
        QCOMPARE(message.value("subject").toString(), QStringLiteral("Row subject"));
        QCOMPARE(message.value("from_email").toString(), kFrom);
        QCOMPARE(message.value("to").toArray().size(), 1);
        QCOMPARE(message.value("to").toArray().at(0).toObject().value("email").toString(), kTo);
        QCOMPARE(message.value("metadata").toObject(), (QJsonObject { { "mid", 9 } }));
        QCOMPARE(message.value("text").toString(), QStringLiteral("plain body"));
        QVERIFY(!message.contains("html"));
    }

    void brokenDocumentCostsOnlyItsKeys()
    {
        FakeMandrill fake;
        QVERIFY(fake.start().isEmpty());
        MailingPluginClient client;
        client.setApiSettings(fake.apiSettings());
        QSignalSpy done(&client, &MailingPluginClient::sentDone);
        LogCapture log;
        client.sendMail(
            3, kFrom, kTo, QStringLiteral("S"), QByteArray("b"), QByteArray("{ not json"));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
        QVERIFY(
            log.contains(QStringLiteral("MailingPluginClient::sendMail() - data parse error:")));
        const QJsonObject message
            = fake.requests().at(0).value("body").toObject().value("message").toObject();
        QVERIFY(!message.contains("attachments"));
        QCOMPARE(message.value("text").toString(), QStringLiteral("b"));
        QCOMPARE(done.at(0).at(1).toString(), QStringLiteral("sent"));
    }

    void sendReply_data()
    {
        QTest::addColumn<QJsonValue>("entry");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("apiID");
        QTest::addColumn<QString>("kind"); // of the failure reported beside the word; "": none

        const QJsonObject errorObject { { "status", "error" }, { "code", -1 },
            { "name", "Invalid_Key" }, { "message", "Invalid API key" } };
        QTest::newRow("sent") << QJsonValue(FakeMandrill::reply(200,
            QJsonArray { QJsonObject { { "email", kTo }, { "status", "sent" }, { "_id", "abc" },
                { "reject_reason", QJsonValue() } } }))
                              << "sent"
                              << "abc"
                              << "";
        QTest::newRow("queued") << QJsonValue("queued") << "queued"
                                << "fake-1"
                                << "";
        QTest::newRow("rejected") << QJsonValue("rejected") << "rejected"
                                  << "fake-1"
                                  << "refused";
        QTest::newRow("invalid") << QJsonValue("invalid") << "invalid"
                                 << "fake-1"
                                 << "refused";
        QTest::newRow("two results report the last") << QJsonValue(FakeMandrill::reply(200,
            QJsonArray {
                QJsonObject { { "email", "a@x" }, { "status", "sent" }, { "_id", "first" } },
                QJsonObject { { "email", "b@x" }, { "status", "rejected" }, { "_id", "second" },
                    { "reject_reason", "hard-bounce" } } }))
                                                     << "rejected"
                                                     << "second"
                                                     << "refused";
        QTest::newRow("HTTP 500") << QJsonValue(FakeMandrill::reply(500, errorObject)) << "neterror"
                                  << ""
                                  << "temporary";
        QTest::newRow("HTTP 429") << QJsonValue(FakeMandrill::rawReply(429, "slow down"))
                                  << "neterror"
                                  << ""
                                  << "temporary";
        QTest::newRow("HTTP 400") << QJsonValue(FakeMandrill::reply(400, errorObject)) << "neterror"
                                  << ""
                                  << "refused";
        QTest::newRow("error object") << QJsonValue(FakeMandrill::reply(200, errorObject)) << ""
                                      << ""
                                      << "";
        QTest::newRow("empty body") << QJsonValue(FakeMandrill::rawReply(200, "")) << "error"
                                    << ""
                                    << "unknown";
        // Unreadable: the mail may have left, so it must end, not be sent again.
        QTest::newRow("invalid JSON")
            << QJsonValue(FakeMandrill::rawReply(200, "[{\"status\": ")) << "error"
            << ""
            << "unknown";
        // Read as Qt reads it: the last value of a name wins.
        QTest::newRow("repeated member name") << QJsonValue(FakeMandrill::rawReply(
            200, "[{\"status\": \"sent\", \"status\": \"queued\", \"_id\": \"d\"}]"))
                                              << "queued"
                                              << "d"
                                              << "";
        QTest::newRow("empty array") << QJsonValue(FakeMandrill::reply(200, QJsonArray())) << ""
                                     << ""
                                     << "";
        QTest::newRow("connection dropped")
            << QJsonValue(QJsonObject { { "drop", true } }) << "neterror"
            << ""
            << "unknown";
        QTest::newRow("no reply in time")
            << QJsonValue(QJsonObject { { "delay", 5 }, { "default", true } }) << "neterror"
            << ""
            << "unknown";
        // The chunk-size lines are framing, not head: 20,000 of them are
        // far more than the head may hold, and still a valid reply.
        QTest::newRow("20,000 one-byte chunks")
            << QJsonValue(QJsonObject { { "chunked", true }, { "chunk", 1 },
                   { "json",
                       QJsonArray { QJsonObject { { "email", "$EMAIL" }, { "status", "sent" },
                           { "_id", "many" }, { "reject_reason", QJsonValue() },
                           { "padding", QString(20000, QLatin1Char('p')) } } } } })
            << "sent"
            << "many"
            << "";
        QTest::newRow("Chunked in capitals")
            << QJsonValue(rawReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n", true))
            << "sent"
            << "raw-1"
            << "";
        // A reply whose end is in doubt (RFC 9112, 6.1 and 6.3) is no reply.
        QTest::newRow("chunked beside Content-Length")
            << QJsonValue(rawReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                                   "Content-Length: LENGTH\r\n",
                   true))
            << "neterror"
            << ""
            << "unknown";
        QTest::newRow("Content-Length before chunked")
            << QJsonValue(rawReply("HTTP/1.1 200 OK\r\nContent-Length: LENGTH\r\n"
                                   "Transfer-Encoding: chunked\r\n",
                   true))
            << "neterror"
            << ""
            << "unknown";
        QTest::newRow("HTTP/1.0 with chunked")
            << QJsonValue(rawReply("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n", true))
            << "neterror"
            << ""
            << "unknown";
        QTest::newRow("gzip, chunked")
            << QJsonValue(rawReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n", true))
            << "neterror"
            << ""
            << "unknown";
        QTest::newRow("chunked twice")
            << QJsonValue(rawReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                                   "Transfer-Encoding: chunked\r\n",
                   true))
            << "neterror"
            << ""
            << "unknown";
    }

    void sendReply()
    {
        QFETCH(QJsonValue, entry);
        QFETCH(QString, status);
        QFETCH(QString, apiID);
        QFETCH(QString, kind);

        FakeMandrill fake(sendScript(entry));
        QVERIFY(fake.start().isEmpty());
        MailingPluginClient client;
        client.setApiSettings(fake.apiSettings(1000));
        QSignalSpy done(&client, &MailingPluginClient::sentDone);
        QSignalSpy failures(&client, &MailingPluginClient::attemptFailed);
        QElapsedTimer clock;
        clock.start();
        client.sendMail(5, kFrom, kTo, QStringLiteral("S"), QByteArray("b"), QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
        // The timeout is the client's, not the server's delay.
        QVERIFY(clock.elapsed() < 4000);
        QCOMPARE(done.at(0).at(0).toUInt(), 5u);
        QCOMPARE(done.at(0).at(1).toString(), status);
        QCOMPARE(done.at(0).at(2).toString(), apiID);
        // Whether it may be tried again is said once, before the word.
        QCOMPARE(failures.count(), kind.isEmpty() ? 0 : 1);
        if (!kind.isEmpty()) {
            QCOMPARE(failures.at(0).at(1).toString(), QStringLiteral("api"));
            QCOMPARE(failures.at(0).at(2).toString(), kind);
            QVERIFY(!failures.at(0).at(3).toString().isEmpty());
        }
        QTest::qWait(50);
        QCOMPARE(done.count(), 1);
        // Written once, whatever became of it.
        QCOMPARE(fake.sendCount(), 1);
    }

    void checkReply_data()
    {
        QTest::addColumn<QJsonValue>("entry");
        QTest::addColumn<bool>("reported");
        QTest::addColumn<QString>("status");

        QTest::newRow("sent") << QJsonValue("sent") << true << "sent";
        QTest::newRow("queued") << QJsonValue("queued") << true << "queued";
        QTest::newRow("rejected") << QJsonValue("rejected") << true << "rejected";
        QTest::newRow("bounced is bad") << QJsonValue("bounced") << true << "bad";
        QTest::newRow("deferred stays unknown") << QJsonValue("deferred") << true << "deferred";
        QTest::newRow("refused") << QJsonValue(FakeMandrill::reply(500,
            QJsonObject { { "status", "error" }, { "code", 11 }, { "name", "Unknown_Message" },
                { "message", "No message" } }))
                                 << false << "";
        QTest::newRow("error object") << QJsonValue(FakeMandrill::reply(200,
            QJsonObject { { "status", "error" }, { "code", 11 }, { "name", "Unknown_Message" },
                { "message", "No message" } }))
                                      << false << "";
        QTest::newRow("empty body") << QJsonValue(FakeMandrill::rawReply(200, "")) << false << "";
        QTest::newRow("no state") << QJsonValue(
            FakeMandrill::reply(200, QJsonObject { { "_id", "$ID" } }))
                                  << false << "";
        QTest::newRow("no reply in time")
            << QJsonValue(QJsonObject { { "delay", 5 }, { "default", true } }) << false << "";
    }

    void checkReply()
    {
        QFETCH(QJsonValue, entry);
        QFETCH(bool, reported);
        QFETCH(QString, status);

        FakeMandrill fake(infoScript(entry));
        QVERIFY(fake.start().isEmpty());
        MailingPluginClient client;
        client.setApiSettings(fake.apiSettings(1000));
        QSignalSpy done(&client, &MailingPluginClient::sentDone);
        client.checkMail(41, QStringLiteral("api-41"));
        QCOMPARE(client.pendingCheckCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(client.pendingCheckCount(), 0, 10000);

        const QList<QJsonObject> requests = fake.requests(FakeMandrill::infoPath());
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.at(0).value("body").toObject(),
            (QJsonObject { { "key", MandrillApiSettings::defaultApiKey() }, { "id", "api-41" } }));
        QCOMPARE(requests.at(0).value("content_type").toString(),
            QStringLiteral("application/x-www-form-urlencoded"));
        QCOMPARE(done.count(), reported ? 1 : 0);
        if (reported) {
            QCOMPARE(done.at(0).at(0).toUInt(), 41u);
            QCOMPARE(done.at(0).at(1).toString(), status);
            QCOMPARE(done.at(0).at(2).toString(), QStringLiteral("api-41"));
        }
    }

    void failedCheckIsNotReportedAgainstSend()
    {
        FakeMandrill fake(QJsonObject {
            { "send", QJsonArray { QJsonObject { { "delay", 1.0 }, { "default", true } } } },
            { "info",
                QJsonArray { FakeMandrill::reply(500, QJsonObject { { "status", "error" } }),
                    FakeMandrill::rawReply(200, "") } } });
        QVERIFY(fake.start().isEmpty());
        MailingPluginClient client;
        client.setApiSettings(fake.apiSettings());
        QSignalSpy done(&client, &MailingPluginClient::sentDone);
        client.sendMail(100, kFrom, kTo, QStringLiteral("S"), QByteArray("b"), QByteArray());
        client.checkMail(7, QStringLiteral("old-7"));
        client.checkMail(8, QStringLiteral("old-8"));
        QTRY_COMPARE_WITH_TIMEOUT(client.pendingCheckCount(), 0, 10000);
        QCOMPARE(done.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
        QCOMPARE(done.at(0).at(0).toUInt(), 100u);
        QCOMPARE(done.at(0).at(1).toString(), QStringLiteral("sent"));
    }

    void oneOpenCheckPerIdentifier()
    {
        FakeMandrill fake(infoScript(QJsonObject { { "delay", 0.5 }, { "default", true } }));
        QVERIFY(fake.start().isEmpty());
        MailingPluginClient client;
        client.setApiSettings(fake.apiSettings());
        QSignalSpy done(&client, &MailingPluginClient::sentDone);
        client.checkMail(5, QStringLiteral("same"));
        client.checkMail(5, QStringLiteral("same"));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
        QTest::qWait(200);
        QCOMPARE(done.count(), 1);
        QCOMPARE(fake.infoCount(), 1);
        // Answered: the next pass may ask again.
        client.checkMail(5, QStringLiteral("same"));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 10000);
        QCOMPARE(fake.infoCount(), 2);
    }

    // Requests share one kept-alive connection until the server ends it;
    // a send is never written twice, a question is asked again once.
    void keptConnection()
    {
        const QJsonObject chunkedQueued { { "chunked", true },
            { "json",
                QJsonArray { QJsonObject {
                    { "email", "$EMAIL" }, { "status", "queued" }, { "_id", "chunk-$N" } } } } };
        FakeMandrill fake(QJsonObject {
            { "send",
                QJsonArray { "sent", chunkedQueued,
                    QJsonObject { { "close", true }, { "default", true } }, "sent",
                    QJsonObject { { "drop", true } }, "sent",
                    QJsonObject { { "hangup", 0.05 }, { "default", true } }, "sent" } },
            { "info", QJsonArray { "sent", QJsonObject { { "drop", true } }, "sent" } } });
        QVERIFY(fake.start().isEmpty());
        MailingPluginClient client;
        client.setApiSettings(fake.apiSettings());
        QSignalSpy done(&client, &MailingPluginClient::sentDone);
        const QStringList expected { "sent", "queued", "sent", "sent", "neterror", "sent", "sent",
            "sent" };
        for (int i = 0; i < expected.size(); ++i) {
            // The server hangs up while this thread does not look: the next
            // send must notice before it writes, not lose the mail.
            if (i == 7)
                QThread::msleep(400);
            client.sendMail(
                uint(i + 1), kFrom, kTo, QStringLiteral("S"), QByteArray("b"), QByteArray());
            QTRY_COMPARE_WITH_TIMEOUT(done.count(), i + 1, 10000);
            QCOMPARE(done.at(i).at(1).toString(), expected.at(i));
        }
        QCOMPARE(done.at(1).at(2).toString(), QStringLiteral("chunk-2"));
        const QList<QJsonObject> sends = fake.requests(FakeMandrill::sendPath());
        QCOMPARE(sends.size(), expected.size());
        QStringList peers;
        for (const QJsonObject &request : sends)
            peers << request.value("peer").toString();
        QCOMPARE(peers.at(1), peers.at(0));
        QCOMPARE(peers.at(2), peers.at(0));
        QVERIFY(peers.at(3) != peers.at(2));
        QCOMPARE(peers.at(4), peers.at(3));
        QVERIFY(peers.at(5) != peers.at(4));
        QVERIFY(peers.at(7) != peers.at(6));

        client.checkMail(1, QStringLiteral("fake-1"));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 9, 10000);
        client.checkMail(2, QStringLiteral("fake-2"));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 10, 10000);
        QCOMPARE(done.at(9).at(0).toUInt(), 2u);
        QCOMPARE(done.at(9).at(1).toString(), QStringLiteral("sent"));
        QCOMPARE(fake.infoCount(), 3);
    }

    // The API is reached over HTTPS with the server's certificate checked.
    void waitingForAConnectionIsNotSending()
    {
        // Every connection to the server is busy with a slow reply: the
        // requests behind them wait, and their time-out starts only when
        // they are written.
        FakeMandrill fake(QJsonObject {
            { "send", QJsonArray { QJsonObject { { "delay", 1.5 }, { "default", true } } } } });
        QVERIFY(fake.start().isEmpty());
        std::vector<std::unique_ptr<MailingPluginClient>> clients;
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        const int count = ApiHttpClient::kConnectionsPerServer + 2;
        for (int i = 0; i < count; ++i) {
            clients.push_back(std::make_unique<MailingPluginClient>());
            clients.back()->setApiSettings(fake.apiSettings(2500));
            spies.push_back(std::make_unique<QSignalSpy>(clients.back().get(), &MailingPluginClient::sentDone));
            clients.back()->sendMail(uint(i + 1), kFrom, kTo, QStringLiteral("S"), QByteArray("b"), QByteArray());
        }
        for (int i = 0; i < count; ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(spies[size_t(i)]->count(), 1, 10000);
            QCOMPARE(spies[size_t(i)]->at(0).at(1).toString(), QStringLiteral("sent"));
        }
        QCOMPARE(fake.sendCount(), count);

        // A request withdrawn before it was written reports "unsent"; the
        // server never sees it.
        FakeMandrill slow(QJsonObject {
            { "send", QJsonArray { QJsonObject { { "delay", 1.0 }, { "default", true } } } } });
        QVERIFY(slow.start().isEmpty());
        clients.clear();
        spies.clear();
        for (int i = 0; i < count; ++i) {
            clients.push_back(std::make_unique<MailingPluginClient>());
            clients.back()->setApiSettings(slow.apiSettings(10000));
            spies.push_back(std::make_unique<QSignalSpy>(clients.back().get(), &MailingPluginClient::sentDone));
            clients.back()->sendMail(uint(i + 1), kFrom, kTo, QStringLiteral("S"), QByteArray("b"), QByteArray());
        }
        QTRY_COMPARE_WITH_TIMEOUT(slow.sendCount(), ApiHttpClient::kConnectionsPerServer, 5000);
        clients.back()->cancelUnsent();
        QTRY_COMPARE_WITH_TIMEOUT(spies.back()->count(), 1, 1000);
        QCOMPARE(spies.back()->at(0).at(1).toString(), QStringLiteral("unsent"));
        for (int i = 0; i < count - 1; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(spies[size_t(i)]->count(), 1, 10000);
        QCOMPARE(slow.sendCount(), count - 1);
    }

    void httpsChecksTheServer()
    {
        QTemporaryDir certDir;
        QVERIFY(certDir.isValid());
        const QString certError = SmtpTest::makeCertificates(certDir.path());
        QVERIFY2(certError.isEmpty(), qPrintable(certError));
        FakeMandrill fake;
        fake.useTls(certDir.filePath("server.pem"), certDir.filePath("server.key"));
        QVERIFY(fake.start().isEmpty());
        MailingPluginClient client;
        client.setApiSettings(fake.apiSettings());
        QSignalSpy done(&client, &MailingPluginClient::sentDone);

        client.sendMail(1, kFrom, kTo, QStringLiteral("S"), QByteArray("b"), QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
        QCOMPARE(done.at(0).at(1).toString(), QStringLiteral("neterror"));
        QCOMPARE(fake.sendCount(), 0);

        const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
        QSslConfiguration trusting = saved;
        trusting.setCaCertificates(SmtpTest::caCertificates(certDir.path()));
        QSslConfiguration::setDefaultConfiguration(trusting);
        client.sendMail(2, kFrom, kTo, QStringLiteral("S"), QByteArray("b"), QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 10000);
        QSslConfiguration::setDefaultConfiguration(saved);
        QCOMPARE(done.at(1).at(1).toString(), QStringLiteral("sent"));
        QCOMPARE(fake.sendCount(), 1);
    }

    // Only a reply framed one clear way leaves its connection fit for the
    // next request.
    void framingDecidesTheConnection_data()
    {
        QTest::addColumn<QJsonValue>("entry");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("kept");
        QTest::newRow("Content-Length")
            << QJsonValue(rawReply("HTTP/1.1 200 OK\r\nContent-Length: LENGTH\r\n", false))
            << "sent" << true;
        QTest::newRow("chunked") << QJsonValue(
            rawReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n", true))
                                 << "sent" << true;
        QTest::newRow("chunked beside Content-Length") << QJsonValue(
            rawReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                     "Content-Length: LENGTH\r\n",
                true)) << "neterror" << false;
        QTest::newRow("gzip, chunked")
            << QJsonValue(rawReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n", true))
            << "neterror" << false;
    }

    void framingDecidesTheConnection()
    {
        QFETCH(QJsonValue, entry);
        QFETCH(QString, status);
        QFETCH(bool, kept);
        FakeMandrill fake(QJsonObject { { "send", QJsonArray { entry, "sent" } } });
        QVERIFY(fake.start().isEmpty());
        MailingPluginClient client;
        client.setApiSettings(fake.apiSettings(3000));
        QSignalSpy done(&client, &MailingPluginClient::sentDone);
        client.sendMail(1, kFrom, kTo, QStringLiteral("S"), QByteArray("b"), QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
        QCOMPARE(done.at(0).at(1).toString(), status);
        client.sendMail(2, kFrom, kTo, QStringLiteral("S"), QByteArray("b"), QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 10000);
        QCOMPARE(done.at(1).at(1).toString(), QStringLiteral("sent"));
        const QList<QJsonObject> sends = fake.requests(FakeMandrill::sendPath());
        QCOMPARE(sends.size(), 2);
        QCOMPARE(sends.at(1).value("peer") == sends.at(0).value("peer"), kept);
    }

    // caFile names a private CA that is trusted besides the system's; the
    // server's certificate must still name the host that was asked.
    void privateCaOverHttps_data()
    {
        QTest::addColumn<bool>("withCaFile");
        QTest::addColumn<bool>("rightName");
        QTest::addColumn<QString>("status");
        QTest::newRow("caFile trusts the private CA") << true << true << "sent";
        QTest::newRow("without caFile the CA is unknown") << false << true << "neterror";
        QTest::newRow("a certificate for another name is refused") << true << false << "neterror";
    }

    void privateCaOverHttps()
    {
        QFETCH(bool, withCaFile);
        QFETCH(bool, rightName);
        QFETCH(QString, status);
        QTemporaryDir certDir;
        QTemporaryDir otherDir;
        QVERIFY(certDir.isValid() && otherDir.isValid());
        QString error = SmtpTest::makeCertificates(certDir.path());
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QString serverDir = certDir.path();
        if (!rightName) {
            error = SmtpTest::makeServerCertificate(
                certDir.path(), otherDir.path(), QStringLiteral("mail.example.test"));
            QVERIFY2(error.isEmpty(), qPrintable(error));
            serverDir = otherDir.path();
        }
        FakeMandrill fake;
        fake.useTls(serverDir + "/server.pem", serverDir + "/server.key");
        QVERIFY(fake.start().isEmpty());

        MandrillApiSettings settings = fake.apiSettings(3000);
        if (withCaFile) {
            const QString iniPath = otherDir.filePath("yxa.ini");
            QFile file(iniPath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[MailingPlugin]\ncaFile=" + certDir.filePath("ca.pem").toUtf8() + "\n");
            file.close();
            EnviroSettings ini(iniPath, QSettings::IniFormat);
            ini.beginGroup("MailingPlugin");
            const MandrillApiSettings read = MandrillApiSettings::fromSettings(ini);
            QCOMPARE(read.caFile, certDir.filePath("ca.pem"));
            QVERIFY(
                read.caCertificates.contains(SmtpTest::caCertificates(certDir.path()).value(0)));
            settings.caFile = read.caFile;
            settings.caCertificates = read.caCertificates;
        }
        MailingPluginClient client;
        client.setApiSettings(settings);
        QSignalSpy done(&client, &MailingPluginClient::sentDone);
        client.sendMail(1, kFrom, kTo, QStringLiteral("S"), QByteArray("b"), QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
        QCOMPARE(done.at(0).at(1).toString(), status);
        QCOMPARE(fake.sendCount(), status == QLatin1String("sent") ? 1 : 0);
    }

    void apiKeyFromSettingsAndNeverLogged()
    {
        FakeMandrill fake(QJsonObject { { "send", QJsonArray { "queued" } } });
        QVERIFY(fake.start().isEmpty());
        MandrillApiSettings settings = fake.apiSettings();
        settings.apiKey = QStringLiteral("Secret-Key-0123456789");
        MailingPluginClient client;
        client.setDebugLevel(2);
        client.setApiSettings(settings);
        QSignalSpy done(&client, &MailingPluginClient::sentDone);
        LogCapture log;
        client.sendMail(
            1, kFrom, kTo, QStringLiteral("S"), QByteArray("b"), QByteArray("{ broken"));
        client.checkMail(2, QStringLiteral("id-2"));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 10000);
        const QList<QJsonObject> requests = fake.requests();
        QCOMPARE(requests.size(), 2);
        for (const QJsonObject &request : requests)
            QCOMPARE(request.value("body").toObject().value("key").toString(), settings.apiKey);
        QVERIFY(log.lines().size() > 3);
        for (const QString &line : log.lines()) {
            QVERIFY2(!line.contains(settings.apiKey), qPrintable(line));
            QVERIFY2(!line.contains(MandrillApiSettings::defaultApiKey()), qPrintable(line));
        }
    }
};

YXA_TEST_CLASS(MandrillTransportTest)
#include "mandrilltransporttest.moc"
