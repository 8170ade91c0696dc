// Hostile values in every field that reaches a statement, a header or an SMTP
// command: quotes, backslashes, CR/LF, NUL, very long strings and invalid
// UTF-8 in addresses, subjects and bodies; identifiers from the API that try
// to break out of the outcome update; malformed tenant settings. Nothing may
// alter a statement, add a header or a recipient, or crash.
#include "fakemandrill.h"
#include "logcapture.h"
#include "mailingpluginsmtpclient.h"
#include "mailingpluginworker.h"
#include "mailtenant.h"
#include "mariadbfixture.h"
#include "queueaudit.h"
#include "runningworker.h"
#include "smtppeer.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

namespace {
const QString kDb = QStringLiteral("yxa_faults_hostile");
const QByteArray kEvil = QByteArrayLiteral("evil@evil.test");

// Header names of a message, continuation lines folded into their header.
QList<QByteArray> headerNames(const QByteArray &eml)
{
    QList<QByteArray> names;
    for (const QByteArray &raw : eml.split('\n')) {
        const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
        if (line.isEmpty())
            break;
        if (line.startsWith(' ') || line.startsWith('\t'))
            continue;
        names << line.left(line.indexOf(':')).toLower();
    }
    return names;
}

} // namespace

class HostileInputTest : public QObject
{
    Q_OBJECT

private:
    SmtpPeer server;

    // What the server received since before: the checks every hostile send must pass.
    void verifyNothingInjected(int before, const QString &expectedRecipient)
    {
        for (int i = before + 1; i <= server.messageCount(); ++i) {
            const QJsonObject envelope = server.envelope(i);
            const QJsonArray rcpts = envelope.value("rcpt_tos").toArray();
            QCOMPARE(rcpts.size(), 1);
            QCOMPARE(rcpts.at(0).toString(), expectedRecipient);
            QVERIFY(!envelope.value("mail_from").toString().contains(QLatin1String(kEvil)));
            const QList<QByteArray> names = headerNames(server.eml(i));
            QCOMPARE(names.count("subject"), 1);
            QCOMPARE(names.count("from"), 1);
            QCOMPARE(names.count("to"), 1);
            QVERIFY(!names.contains("bcc"));
            QVERIFY(!names.contains("cc"));
            QVERIFY(!names.contains("x-injected"));
        }
    }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        const QString error = MailTenant::create(kDb);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QString started = server.startReal();
        QVERIFY2(started.isEmpty(), qPrintable(started));
    }

    void init()
    {
        QVERIFY(MailTenant::exec(kDb, QStringLiteral("DELETE FROM emails")));
        QVERIFY(MailTenant::exec(kDb, QStringLiteral("DELETE FROM vars")));
    }

    void cleanupTestCase()
    {
        server.stop();
        MariaDbFixture::dropDatabase(kDb, kDb);
    }

    void smtpFields_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("mustArrive");

        const QString to = QStringLiteral("victim@example.test");
        const QString from = QStringLiteral("sender@example.test");
        QTest::newRow("CRLF header in subject")
            << from << to << "Hello\r\nBcc: evil@evil.test\r\nX-Injected: yes" << QByteArray("B")
            << true;
        QTest::newRow("bare LF header in subject")
            << from << to << "Hello\nX-Injected: yes" << QByteArray("B") << true;
        QTest::newRow("bare CR in subject")
            << from << to << "Hello\rX-Injected: yes" << QByteArray("B") << true;
        QTest::newRow("RCPT smuggled in recipient")
            << from << "victim@example.test>\r\nRCPT TO:<evil@evil.test" << "S" << QByteArray("B")
            << false;
        QTest::newRow("RCPT smuggled in sender")
            << "sender@example.test>\r\nRCPT TO:<evil@evil.test>\r\nX-Injected: yes" << to << "S"
            << QByteArray("B") << false;
        QTest::newRow("dot line and commands in body")
            << from << to << "S"
            << QByteArray("line\r\n.\r\nMAIL FROM:<evil@evil.test>\r\nRCPT TO:<evil@evil.test>\r\n"
                          "DATA\r\nX-Injected: yes\r\n\r\n.\r\nQUIT\r\n")
            << true;
        QTest::newRow("quotes and backslashes")
            << from << to << "O'Brien \\\"quoted\\\"; DROP TABLE emails; -- \\"
            << QByteArray("it's \\ \"fine\"") << true;
        QTest::newRow("NUL in subject and body")
            << from << to << QString::fromUtf8("before\0after\r\nX-Injected: yes", 29)
            << QByteArray("body\0\r\nX-Injected: yes", 22) << true;
        QTest::newRow("invalid UTF-8 body")
            << from << to << QString::fromUtf8("bad \xff\xfe utf8") << QByteArray("\xc3\x28 \xff\xfe\xfd") << true;
        // One word far longer than an SMTP line: it goes out in encoded
        // words, so the server takes it.
        QTest::newRow("very long subject")
            << from << to << QString(20000, QLatin1Char('x')) + "\r\nX-Injected: yes"
            << QByteArray(100000, 'y') << true;
        QTest::newRow("very long recipient")
            << from << QString(5000, QLatin1Char('a')) + "@example.test" << "S" << QByteArray("B")
            << false;
    }

    // The SMTP transport itself, fed directly: only the transport stands
    // between these bytes and the server.
    void smtpFields()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, subject);
        QFETCH(QByteArray, body);
        QFETCH(bool, mustArrive);

        MailingPluginSmtpClient client;
        SmtpSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = server.port();
        settings.connectionType = 0;
        settings.email = QStringLiteral("office@example.test");
        client.setSettings(settings);
        QSignalSpy done(&client, &MailingPluginSmtpClient::sentDone);
        const int before = server.messageCount();
        const bool sent = client.sendMail(42, from, to, subject, body, QByteArray());
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.at(0).at(1).toString() == QLatin1String("sent"), sent);
        if (mustArrive)
            QVERIFY(sent);
        QTest::qWait(300);
        QCOMPARE(server.messageCount(), before + (sent ? 1 : 0));
        verifyNothingInjected(before, QStringLiteral("victim@example.test"));
    }

    // Identifiers from the API end up in the outcome update: one that tries to
    // close the quote must be stored as it is and touch no other row.
    void apiIdentifierCannotAlterUpdate_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("id");
        QTest::newRow("sent, quote break-out")
            << "sent" << "x', status='R', sent=99, done=NULL WHERE 1=1 -- ";
        QTest::newRow("queued, quote break-out")
            << "queued" << "y' WHERE mid > 0; UPDATE emails SET status='R' -- ";
        QTest::newRow("backslash escapes the quote") << "sent" << "z\\', status='R' -- \\";
        QTest::newRow("CR LF and NUL") << "sent" << QString::fromUtf8("a\r\nb\0c'", 7);
    }

    void apiIdentifierCannotAlterUpdate()
    {
        QFETCH(QString, status);
        QFETCH(QString, id);
        const QJsonObject reply { { "json",
            QJsonArray { QJsonObject { { "status", status }, { "_id", id }, { "email", "$EMAIL" },
                { "reject_reason", QJsonValue() } } } } };
        // The info answer keeps 'Q' rows queued.
        FakeMandrill fake(QJsonObject { { "send", QJsonArray { reply } },
            { "info", QJsonArray { QJsonObject { { "json",
                QJsonObject { { "_id", "$ID" }, { "state", "queued" },
                    { "metadata", QJsonObject { { "mid", "$MID" } } } } } } } } });
        QVERIFY(fake.start().isEmpty());
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "0"));
        const uint bystander = MailTenant::insertMail(kDb, QStringLiteral("b@example.test"));
        QVERIFY(MailTenant::exec(kDb,
            QStringLiteral("UPDATE emails SET status='S', done=1, sent=1 WHERE mid=%1").arg(bystander)));
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        {
            RunningWorker running(MailTenant::connection(QStringLiteral("faults.hostile"), kDb),
                fake.apiSettings(2000), 150);
            QTRY_VERIFY_WITH_TIMEOUT(!MailTenant::row(kDb, mid).apiID.isNull(), 10000);
            QTest::qWait(500);
        }
        const MailTenant::Row row = MailTenant::row(kDb, mid);
        QCOMPARE(row.apiID.toString(), id);
        QCOMPARE(row.status, status == QLatin1String("sent") ? QStringLiteral("S") : QStringLiteral("Q"));
        QCOMPARE(row.sent, status == QLatin1String("sent") ? 1u : 0u);
        const MailTenant::Row other = MailTenant::row(kDb, bystander);
        QCOMPARE(other.status, QStringLiteral("S"));
        QCOMPARE(other.sent, 1u);
        QCOMPARE(other.done.toUInt(), 1u);
        QCOMPARE(MailTenant::count(kDb, QStringLiteral("1=1")), 2);
        QueueAudit audit(kDb);
        QVERIFY2(audit.violations().isEmpty(), qPrintable(audit.violations().join('\n')));
    }

    // A "queued" reply whose identifier is empty or no string: the API took
    // the mail, so it leaves once, however many passes follow.
    void queuedWithoutIdIsSentOnce_data()
    {
        QTest::addColumn<QJsonValue>("id");
        QTest::newRow("empty string") << QJsonValue("");
        QTest::newRow("number") << QJsonValue(42);
        QTest::newRow("null") << QJsonValue(QJsonValue::Null);
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined);
    }

    void queuedWithoutIdIsSentOnce()
    {
        QFETCH(QJsonValue, id);
        QJsonObject result { { "status", "queued" }, { "email", "$EMAIL" },
            { "reject_reason", QJsonValue() } };
        if (!id.isUndefined())
            result.insert("_id", id);
        FakeMandrill fake(QJsonObject {
            { "send", QJsonArray { QJsonObject { { "json", QJsonArray { result } } } } } });
        QVERIFY(fake.start().isEmpty());
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "0"));
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        LogCapture log;
        {
            RunningWorker running(MailTenant::connection(QStringLiteral("faults.hostile"), kDb),
                fake.apiSettings(2000), 150);
            QTRY_VERIFY_WITH_TIMEOUT(!MailTenant::row(kDb, mid).apiID.isNull(), 10000);
            // Ten more poll intervals: each would have sent it again.
            QTest::qWait(1500);
        }
        QCOMPARE(fake.sendCount(), 1);
        QCOMPARE(fake.infoCount(), 0);
        const MailTenant::Row row = MailTenant::row(kDb, mid);
        QCOMPARE(row.status, QStringLiteral("Q"));
        QCOMPARE(row.apiID.toString(), QStringLiteral("yxa-queued-without-id"));
        QVERIFY(log.contains(QStringLiteral("queued without a message id")));
        QueueAudit audit(kDb);
        QVERIFY2(audit.violations().isEmpty(), qPrintable(audit.violations().join('\n')));
    }

    // Hostile addresses stored in the queue travel the whole worker road.
    void queuedRowsThroughWorker()
    {
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "1"));
        QVERIFY(MailTenant::setVar(kDb, "smtpHost", "127.0.0.1"));
        QVERIFY(MailTenant::setVar(kDb, "smtpPort", QString::number(server.port())));
        QVERIFY(MailTenant::setVar(kDb, "smtpType", "0"));
        // The tenant's own sender address is hostile too.
        QVERIFY(MailTenant::setVar(kDb, "mailingUseReplyTo", "1"));
        QVERIFY(MailTenant::setVar(
            kDb, "globalEmail", "office@example.test>\r\nRCPT TO:<evil@evil.test>\r\nBcc: evil@evil.test"));
        const int before = server.messageCount();
        QList<uint> mids;
        mids << MailTenant::insertMail(kDb, QStringLiteral("victim@example.test"),
            QStringLiteral("Hi\r\nBcc: evil@evil.test"), "B", {}, 10);
        mids << MailTenant::insertMail(kDb, QStringLiteral("victim@example.test\r\nRCPT TO:<evil@evil.test>"),
            QStringLiteral("S'; DELETE FROM emails; --"), "B", {}, 11);
        mids << MailTenant::insertMail(kDb, QStringLiteral("victim@example.test"), "S",
            "B", "{\"attachments\": [{\"name\": \"a\\r\\nX-Injected: yes\\\"\", \"type\": \"text/plain\\r\\nBcc: evil@evil.test\", \"content\": \"QUJD\"}]}", 12,
            QStringLiteral("a@example.test\r\nBcc: evil@evil.test"));
        {
            RunningWorker running(MailTenant::connection(QStringLiteral("faults.hostile"), kDb),
                MandrillApiSettings(), 150);
            for (uint mid : qAsConst(mids))
                QTRY_VERIFY_WITH_TIMEOUT(!MailTenant::row(kDb, mid).done.isNull(), 20000);
        }
        QCOMPARE(MailTenant::count(kDb, QStringLiteral("1=1")), 3);
        QueueAudit audit(kDb);
        QVERIFY2(audit.violations().isEmpty(), qPrintable(audit.violations().join('\n')));
        QCOMPARE(audit.count(QueueAudit::Final), 3);
        verifyNothingInjected(before, QStringLiteral("victim@example.test"));
        for (int i = before + 1; i <= server.messageCount(); ++i) {
            // Attachment headers carry no injected line either.
            const QByteArray eml = server.eml(i);
            for (const QByteArray &line : eml.split('\n'))
                QVERIFY2(!line.startsWith("X-Injected") && !line.startsWith("Bcc"), eml.constData());
        }
    }

    void malformedSettings_data()
    {
        QTest::addColumn<QVariantMap>("vars");
        QTest::addColumn<QString>("letter"); // empty: the row stays pending
        QTest::addColumn<QString>("logLine");
        const QVariantMap smtp { { "mailingType", "1" }, { "smtpHost", "127.0.0.1" }, { "smtpType", "0" } };
        QVariantMap port = smtp;
        port.insert("smtpPort", "abc");
        QTest::newRow("smtpPort abc") << port << "E" << "- invalid SMTP settings!";
        QVariantMap type = smtp;
        type.insert("mailingType", "7");
        QTest::newRow("mailingType 7")
            << type << "" << "setMailingType(7) - mailing type is not implemented!";
        QVariantMap conn = smtp;
        conn.insert("smtpType", "9");
        QTest::newRow("smtpType 9") << conn << "E" << "- invalid SMTP settings!";
        QVariantMap pass = smtp;
        pass.insert("smtpUser", "user");
        pass.insert("smtpPass", "%%%not*base64\r\n'\\");
        QTest::newRow("smtpPass not Base64") << pass << "B" << "Authentication failed";
    }

    void malformedSettings()
    {
        QFETCH(QVariantMap, vars);
        QFETCH(QString, letter);
        QFETCH(QString, logLine);

        SmtpPeer authServer;
        QString started = authServer.startReal({ QStringLiteral("--user"), QStringLiteral("user"),
            QStringLiteral("--password"), QStringLiteral("right"), QStringLiteral("--require-auth") });
        QVERIFY2(started.isEmpty(), qPrintable(started));
        if (!vars.contains("smtpPort"))
            vars.insert("smtpPort", QString::number(authServer.port()));
        for (auto it = vars.cbegin(); it != vars.cend(); ++it)
            QVERIFY(MailTenant::setVar(kDb, it.key(), it.value()));
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        LogCapture log;
        {
            RunningWorker running(MailTenant::connection(QStringLiteral("faults.hostile"), kDb),
                MandrillApiSettings(), 150, 1);
            if (letter.isEmpty())
                QTest::qWait(1500);
            else
                QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, mid).status, letter, 15000);
            QTRY_VERIFY_WITH_TIMEOUT(log.contains(logLine), 5000);
        }
        const MailTenant::Row row = MailTenant::row(kDb, mid);
        if (letter.isEmpty()) {
            QVERIFY(row.done.isNull());
            QVERIFY(row.apiID.isNull());
        }
        QCOMPARE(authServer.messageCount(), 0);
        // The stored secret never reaches a log line.
        if (vars.contains("smtpPass"))
            for (const QString &line : log.lines())
                QVERIFY(!line.contains(QStringLiteral("not*base64")));
        QueueAudit audit(kDb);
        QVERIFY2(audit.violations().isEmpty(), qPrintable(audit.violations().join('\n')));
    }

    // A queue table with columns of the tenant's own is served as usual; a
    // tenant without one gets no worker.
    void queueTableShape()
    {
        QVERIFY(MailTenant::exec(kDb,
            QStringLiteral("ALTER TABLE emails ADD COLUMN extra1 TEXT NULL, ADD COLUMN `extra'2` INT NOT NULL DEFAULT 7")));
        FakeMandrill fake;
        QVERIFY(fake.start().isEmpty());
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        {
            MailingPluginWorker probe;
            probe.setDB(MailTenant::connection(QStringLiteral("faults.probe"), kDb));
            QVERIFY(probe.checkEmails());
        }
        {
            RunningWorker running(MailTenant::connection(QStringLiteral("faults.hostile"), kDb),
                fake.apiSettings(2000), 150);
            QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, mid).status, QStringLiteral("S"), 10000);
        }
        QCOMPARE(fake.sendCount(), 1);
        QVERIFY(MailTenant::exec(kDb, QStringLiteral("ALTER TABLE emails DROP COLUMN extra1, DROP COLUMN `extra'2`")));

        const QString bare = QStringLiteral("yxa_faults_noqueue");
        QVERIFY(MariaDbFixture::createDatabase(bare, bare, MariaDbFixture::tenantPassword(bare),
            { QStringLiteral("tenant.sql") }));
        QVERIFY(MariaDbFixture::exec(MariaDbFixture::rootConnection(QStringLiteral("faults.bare"), bare),
            QStringLiteral("DROP TABLE emails")));
        MailingPluginWorker probe;
        probe.setDB(MailTenant::connection(QStringLiteral("faults.bare.probe"), bare));
        QVERIFY(!probe.checkEmails());
        MariaDbFixture::dropDatabase(bare, bare);
    }
};

YXA_TEST_CLASS(HostileInputTest)
#include "hostileinputtest.moc"
