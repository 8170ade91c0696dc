// The mailing worker on a real tenant database: the schema test, the tenant's
// settings from `vars`, the transport switch, and delivery on its own thread
// through the fake Mandrill API and through a real SMTP server.
#include "dbmanager.h"
#include "fakemandrill.h"
#include "logcapture.h"
#include "mailing.h"
#include "mailingpluginclient.h"
#include "mailingpluginsmtpclient.h"
#include "mailingpluginworker.h"
#include "mailtenant.h"
#include "mariadbfixture.h"
#include "smtptestsupport.h"
#include "testmain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <memory>

namespace {
const QString kDb = QStringLiteral("yxa_mail_worker");

// A worker on its own thread, as the plug-in runs it.
struct ThreadedWorker
{
    QThread thread;
    MailingPluginWorker *worker = new MailingPluginWorker;

    ThreadedWorker(const QString &database, const MandrillApiSettings &api, uint intervalMs)
    {
        worker->setDB(MailTenant::connection(QStringLiteral("worker.test.source"), database));
        worker->setApiSettings(api);
        worker->setTimeInterval(intervalMs);
        worker->moveToThread(&thread);
        QObject::connect(&thread, &QThread::started, worker, &MailingPluginWorker::start);
        QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        thread.start(QThread::LowPriority);
    }
    ~ThreadedWorker()
    {
        thread.quit();
        thread.wait(10000);
    }
};

// Starts a Python SMTP peer that prints "READY <port>"; returns the port or 0.
int startPeer(QProcess &server, const QStringList &args)
{
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.start(QStringLiteral("/usr/bin/python3"), args);
    if (!server.waitForStarted(5000))
        return 0;
    QElapsedTimer clock;
    clock.start();
    while (!server.canReadLine() && server.state() != QProcess::NotRunning && clock.elapsed() < 15000)
        server.waitForReadyRead(200);
    const QByteArray ready = server.readLine().trimmed();
    return ready.startsWith("READY ") ? ready.mid(6).toInt() : 0;
}

void useSmtpServer(int port, int mailsPerPass)
{
    QVERIFY(MailTenant::setVar(kDb, "mailingType", "1"));
    QVERIFY(MailTenant::setVar(kDb, "smtpHost", "127.0.0.1"));
    QVERIFY(MailTenant::setVar(kDb, "smtpPort", QString::number(port)));
    QVERIFY(MailTenant::setVar(kDb, "smtpType", "0"));
    QVERIFY(MailTenant::setVar(kDb, "mailsPerPass", QString::number(mailsPerPass)));
    QVERIFY(MailTenant::setVar(kDb, "passSeconds", "120"));
}

// Rows to r1@example.test ... r<count>@example.test, oldest first.
bool insertNewsletter(int count)
{
    return MailTenant::exec(kDb,
        QStringLiteral("INSERT INTO emails (type, `from`, `to`, subject, body, created) SELECT 'C', "
                       "'news@example.test', CONCAT('r', seq, '@example.test'), 'Newsletter', "
                       "'Body', seq FROM seq_1_to_%1")
            .arg(count));
}
} // namespace

class MailingWorkerTest : public QObject
{
    Q_OBJECT

private:
    QSqlDatabase source()
    {
        return MailTenant::connection(QStringLiteral("worker.test.source"), kDb);
    }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        const QString error = MailTenant::create(kDb);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void init()
    {
        QVERIFY(MailTenant::exec(kDb, QStringLiteral("DELETE FROM emails")));
        QVERIFY(MailTenant::exec(kDb, QStringLiteral("DELETE FROM vars")));
        qunsetenv("YXA_DEFAULT_SENDER");
    }

    void cleanupTestCase() { MariaDbFixture::dropDatabase(kDb, kDb); }

    void checkEmails_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("pending");
        QTest::addColumn<bool>("expected");
        QTest::newRow("17.04.03 is refused") << "17.04.03" << true << false;
        QTest::newRow("17.04.04 is enough") << "17.04.04" << true << true;
        QTest::newRow("17.10.01") << "17.10.01" << true << true;
        QTest::newRow("no ver_db row") << QString() << true << true;
        QTest::newRow("no pending mail") << "17.10.01" << false << false;
    }

    void checkEmails()
    {
        QFETCH(QString, version);
        QFETCH(bool, pending);
        QFETCH(bool, expected);
        if (!version.isNull())
            QVERIFY(MailTenant::setVar(kDb, QStringLiteral("ver_db"), version));
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        if (!pending)
            QVERIFY(MailTenant::exec(
                kDb, QStringLiteral("UPDATE emails SET status='S', done=1 WHERE mid=%1").arg(mid)));

        MailingPluginWorker worker;
        LogCapture log;
        worker.setDB(source());
        QVERIFY(worker.getConnectionName().startsWith(
            QStringLiteral("YXA.%1.MailingPluginWorker.#%2.p0x").arg(kDb).arg(worker.getNumber())));
        QCOMPARE(worker.checkEmails(), expected);
        QCOMPARE(log.contains(QStringLiteral(
                     "Database version is 17.04.03 and minimal required is 17.04.04!")),
            version == QLatin1String("17.04.03"));
        // Opened only for the test.
        QVERIFY(!QSqlDatabase::database(worker.getConnectionName(), false).isOpen());
    }

    void checkEmailsWithoutQueueTable()
    {
        const QString bare = QStringLiteral("yxa_mail_bare");
        QVERIFY(
            MariaDbFixture::createDatabase(bare, bare, MariaDbFixture::tenantPassword(bare), {}));
        MailingPluginWorker worker;
        worker.setDB(MailTenant::connection(QStringLiteral("worker.test.bare"), bare));
        QVERIFY(!worker.checkEmails());

        MailingPluginWorker unreachable;
        unreachable.setDB(MariaDbFixture::connection(
            QStringLiteral("worker.test.denied"), bare, bare, QStringLiteral("wrong")));
        LogCapture log;
        QVERIFY(!unreachable.checkEmails());
        QVERIFY(log.contains(QStringLiteral("checkEmails() - can not open database! SQL ERROR:")));
        MariaDbFixture::dropDatabase(bare, bare);
    }

    void workerNumbersCount()
    {
        MailingPluginWorker first;
        MailingPluginWorker second;
        QCOMPARE(second.getNumber(), first.getNumber() + 1);
        QCOMPARE(MailingPluginWorker::workerCount.load(), second.getNumber());
    }

    void reloadPeriod_data()
    {
        QTest::addColumn<QVariantMap>("vars");
        QTest::addColumn<int>("periodMs");
        QTest::newRow("5 s counts as 10 s")
            << QVariantMap { { "mailingReloadSettingsInterval", 5 } } << 10000;
        QTest::newRow("30 s") << QVariantMap { { "mailingReloadSettingsInterval", 30 } } << 30000;
        QTest::newRow("missing key is 60 s") << QVariantMap { { "mailingType", 0 } } << 60000;
        QTest::newRow("no keys leaves 15 min") << QVariantMap {} << 900000;
    }

    void reloadPeriod()
    {
        QFETCH(QVariantMap, vars);
        QFETCH(int, periodMs);
        for (auto it = vars.cbegin(); it != vars.cend(); ++it)
            QVERIFY(MailTenant::setVar(kDb, it.key(), it.value()));
        MailingPluginWorker worker;
        worker.setDB(source());
        worker.start();
        QCOMPARE(worker.reloadInterval(), periodMs);
        QCOMPARE(worker.getMailingType(), qint8(0));
        QCOMPARE(worker.transportConnectionCount(), 2);
        QVERIFY(worker.queueProcessor()->isTimerActive());
        QCOMPARE(worker.queueProcessor()->interval(), 10000u);
    }

    void settingsFromVars()
    {
        QVERIFY(MailTenant::setVar(kDb, "smtpHost", "smtp.tenant.test"));
        QVERIFY(MailTenant::setVar(kDb, "smtpPort", "2525"));
        QVERIFY(MailTenant::setVar(kDb, "smtpUser", "mailer"));
        QVERIFY(MailTenant::setVar(
            kDb, "smtpPass", QString::fromLatin1(QByteArray("p\xc3\xa1ss\0tail", 9).toBase64())));
        QVERIFY(MailTenant::setVar(kDb, "smtpType", "2"));
        QVERIFY(MailTenant::setVar(kDb, "smtpMethod", "1"));
        QVERIFY(MailTenant::setVar(kDb, "mailingUseReplyTo", "1"));
        QVERIFY(MailTenant::setVar(kDb, "globalEmail", "office@tenant.test"));
        MailingPluginWorker worker;
        worker.setDB(source());
        worker.start();
        SmtpSettings expected;
        expected.host = QStringLiteral("smtp.tenant.test");
        expected.port = 2525;
        expected.user = QStringLiteral("mailer");
        expected.password = QString::fromUtf8("p\xc3\xa1ss");
        expected.connectionType = 2;
        expected.authMethod = 1;
        expected.useReplyTo = true;
        expected.email = QStringLiteral("office@tenant.test");
        QVERIFY(worker.getSmtpSettings() == expected);
        QVERIFY(worker.smtpTransport()->settings() == expected);
        QCOMPARE(worker.getGlobalEmail(), QStringLiteral("office@tenant.test"));
    }

    // The plug-in's caFile list goes to both transports of a worker.
    void caFileReachesBothTransports()
    {
        QTemporaryDir certDir;
        QVERIFY(certDir.isValid());
        const QString error = SmtpTest::makeCertificates(certDir.path());
        QVERIFY2(error.isEmpty(), qPrintable(error));
        MandrillApiSettings api;
        api.caFile = certDir.filePath("ca.pem");
        api.caCertificates = SmtpTest::caCertificates(certDir.path());
        QCOMPARE(api.caCertificates.size(), 1);
        MailingPluginWorker worker;
        worker.setDB(source());
        worker.setApiSettings(api);
        worker.start();
        QCOMPARE(worker.smtpTransport()->getCaCertificates(), api.caCertificates);
        QVERIFY(worker.mandrillTransport()->apiSettings() == api);
    }

    void retryScheduleFromVars_data()
    {
        QTest::addColumn<QVariant>("value"); // invalid: no such entry
        QTest::addColumn<QString>("schedule");
        QTest::newRow("the host's by default") << QVariant() << "30,90";
        QTest::newRow("the tenant's wins") << QVariant("5, 10,20") << "5,10,20";
        QTest::newRow("empty: one attempt") << QVariant("") << "";
        QTest::newRow("nonsense keeps the host's") << QVariant("1m,5m") << "30,90";
        QTest::newRow("zero keeps the host's") << QVariant("0") << "30,90";
    }

    void retryScheduleFromVars()
    {
        QFETCH(QVariant, value);
        QFETCH(QString, schedule);
        if (value.isValid())
            QVERIFY(MailTenant::setVar(kDb, "retrySchedule", value));
        MailingPluginWorker worker;
        worker.setDB(source());
        worker.setRetryDefaults(RetrySchedule::parse(QStringLiteral("30,90")), 7);
        worker.start();
        QCOMPARE(worker.queueProcessor()->schedule().toString(), schedule);
        QCOMPARE(worker.queueProcessor()->schedule().attempts(),
            schedule.isEmpty() ? 1 : schedule.count(',') + 2);
    }

    void globalEmailDefault_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing") << QVariant() << QString() << "noreply@localhost";
        QTest::newRow("empty") << QVariant("") << QString() << "noreply@localhost";
        QTest::newRow("missing, deployment default") << QVariant() << "mail@deploy.test"
                                                     << "mail@deploy.test";
        QTest::newRow("set") << QVariant("own@tenant.test") << "mail@deploy.test"
                             << "own@tenant.test";
    }

    void globalEmailDefault()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, environment);
        QFETCH(QString, expected);
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "0"));
        if (stored.isValid())
            QVERIFY(MailTenant::setVar(kDb, "globalEmail", stored));
        if (!environment.isEmpty())
            qputenv("YXA_DEFAULT_SENDER", environment.toUtf8());
        MailingPluginWorker worker;
        worker.setDB(source());
        worker.start();
        QCOMPARE(worker.getGlobalEmail(), expected);
        QCOMPARE(worker.getSmtpSettings().email, expected);
    }

    void switchingTransportKeepsOneWiring()
    {
        FakeMandrill fake;
        QVERIFY(fake.start().isEmpty());
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "0"));
        MailingPluginWorker worker;
        worker.setDB(source());
        worker.setApiSettings(fake.apiSettings());
        worker.setTimeInterval(200);
        worker.start();
        QCOMPARE(worker.getMailingType(), qint8(0));
        QCOMPARE(worker.transportConnectionCount(), 2);

        for (const char *type : { "1", "0", "1", "0" }) {
            QVERIFY(MailTenant::setVar(kDb, "mailingType", type));
            QVERIFY(QMetaObject::invokeMethod(&worker, "loadSettings"));
            QCOMPARE(int(worker.getMailingType()), QByteArray(type).toInt());
            QCOMPARE(worker.transportConnectionCount(), type[0] == '0' ? 2 : 1);
        }
        LogCapture log;
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "7"));
        QVERIFY(QMetaObject::invokeMethod(&worker, "loadSettings"));
        QCOMPARE(int(worker.getMailingType()), 7);
        QCOMPARE(worker.transportConnectionCount(), 0);
        QVERIFY(
            log.contains(QStringLiteral("setMailingType(7) - mailing type is not implemented!")));
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "0"));
        QVERIFY(QMetaObject::invokeMethod(&worker, "loadSettings"));

        // One mail, one request: no connection was left behind twice.
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, mid).status, QStringLiteral("S"), 10000);
        QTest::qWait(1000);
        QCOMPARE(fake.sendCount(), 1);
        const MailTenant::Row row = MailTenant::row(kDb, mid);
        QCOMPARE(row.sent, 1u);
        QCOMPARE(row.apiID.toString(), QStringLiteral("fake-1"));
    }

    void switchWhileMailIsOut()
    {
        // The API answers the send only after the tenant moved to SMTP.
        FakeMandrill fake(QJsonObject {
            { "send", QJsonArray { QJsonObject { { "delay", 2 }, { "default", true } } } } });
        QVERIFY(fake.start().isEmpty());
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "0"));
        const uint first = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        MailingPluginWorker worker;
        worker.setDB(source());
        worker.setApiSettings(fake.apiSettings());
        worker.setTimeInterval(200);
        worker.start();
        QTRY_COMPARE_WITH_TIMEOUT(fake.sendCount(), 1, 10000);
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "1"));
        QVERIFY(QMetaObject::invokeMethod(&worker, "loadSettings"));
        QCOMPARE(int(worker.getMailingType()), 1);
        // Its outcome is written once, and the queue goes on.
        QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, first).status, QStringLiteral("S"), 10000);
        QCOMPARE(worker.queueProcessor()->outstandingMid(), 0u);
        QCOMPARE(MailTenant::row(kDb, first).sent, 1u);

        // A mail read under an unknown type waits for a transport, and
        // leaves once the type is corrected.
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "7"));
        QVERIFY(QMetaObject::invokeMethod(&worker, "loadSettings"));
        const uint second = MailTenant::insertMail(kDb, QStringLiteral("b@example.test"));
        QTRY_COMPARE_WITH_TIMEOUT(
            worker.queueProcessor()->stackMids(), QList<uint> { second }, 5000);
        QTest::qWait(600);
        QCOMPARE(worker.queueProcessor()->outstandingMid(), 0u);
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "0"));
        QVERIFY(QMetaObject::invokeMethod(&worker, "loadSettings"));
        QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, second).status, QStringLiteral("S"), 10000);
        QCOMPARE(fake.sendCount(), 2);
        QCOMPARE(MailTenant::row(kDb, first).sent, 1u);
    }

    void failedSettingsReadKeepsTransport()
    {
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "1"));
        QVERIFY(MailTenant::setVar(kDb, "smtpHost", "smtp.tenant.test"));
        MailingPluginWorker worker;
        worker.setDB(source());
        worker.start();
        QCOMPARE(int(worker.getMailingType()), 1);
        QVERIFY(MailTenant::exec(kDb, QStringLiteral("RENAME TABLE vars TO vars_away")));
        LogCapture log;
        QVERIFY(QMetaObject::invokeMethod(&worker, "loadSettings"));
        QVERIFY(MailTenant::exec(kDb, QStringLiteral("RENAME TABLE vars_away TO vars")));
        QCOMPARE(int(worker.getMailingType()), 1);
        QCOMPARE(worker.getSmtpSettings().host, QStringLiteral("smtp.tenant.test"));
        QVERIFY(log.contains(
            QStringLiteral("loadSettings() - settings not read, the current ones stay")));
    }

    void pollsWhenDatabaseIsAwayAtStart()
    {
        MailingPluginWorker worker;
        worker.setDB(MariaDbFixture::connection(
            QStringLiteral("worker.test.away"), kDb, kDb, QStringLiteral("wrong")));
        worker.setTimeInterval(300);
        LogCapture log;
        worker.start();
        QVERIFY(log.contains(QStringLiteral("start() ERROR dbConnect")));
        // Each pass tries the connection again.
        QVERIFY(worker.queueProcessor()->isTimerActive());
        QCOMPARE(worker.queueProcessor()->interval(), 300u);
        QCOMPARE(worker.reloadInterval(), 10000);
    }

    void deliversOnItsThread_data()
    {
        QTest::addColumn<QJsonObject>("script");
        QTest::addColumn<QString>("letter");
        // The info replies are used in order over all rows: the first row is
        // asked twice, the others once.
        QTest::addColumn<int>("minInfoRequests");
        QTest::newRow("sent") << QJsonObject() << "S" << 0;
        QTest::newRow("queued then sent") << QJsonObject { { "send", QJsonArray { "queued" } },
            { "info", QJsonArray { "queued", "sent" } } }
                                          << "S" << 4;
        QTest::newRow("queued then bounced") << QJsonObject { { "send", QJsonArray { "queued" } },
            { "info", QJsonArray { "deferred", "bounced" } } }
                                             << "B" << 4;
        QTest::newRow("rejected") << QJsonObject { { "send", QJsonArray { "rejected" } } } << "R"
                                  << 0;
        QTest::newRow("no reply in time") << QJsonObject {
            { "send", QJsonArray { QJsonObject { { "delay", 5 }, { "default", true } } } }
        } << "E" << 0;
    }

    void deliversOnItsThread()
    {
        QFETCH(QJsonObject, script);
        QFETCH(QString, letter);
        QFETCH(int, minInfoRequests);

        FakeMandrill fake(script);
        QVERIFY(fake.start().isEmpty());
        QList<uint> mids;
        for (int i = 0; i < 3; ++i)
            mids << MailTenant::insertMail(
                kDb, QStringLiteral("r%1@example.test").arg(i), "S", "B", {}, 10 + i);
        {
            ThreadedWorker running(kDb, fake.apiSettings(700), 150);
            for (uint mid : qAsConst(mids))
                QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, mid).status, letter, 20000);
        }
        QCOMPARE(fake.sendCount(), 3);
        QVERIFY(fake.infoCount() >= minInfoRequests);
        for (int i = 0; i < mids.size(); ++i) {
            const MailTenant::Row row = MailTenant::row(kDb, mids.at(i));
            QCOMPARE(row.sent, letter == QLatin1String("S") ? 1u : 0u);
            QVERIFY(!row.done.isNull());
            if (letter != QLatin1String("E"))
                QVERIFY(row.apiID.toString().startsWith(QStringLiteral("fake-")));
        }
        // Sent one at a time, oldest first.
        const QList<QJsonObject> sends = fake.requests(FakeMandrill::sendPath());
        for (int i = 0; i < sends.size(); ++i)
            QCOMPARE(sends.at(i)
                         .value("body")
                         .toObject()
                         .value("message")
                         .toObject()
                         .value("metadata")
                         .toObject()
                         .value("mid")
                         .toInt(),
                int(mids.at(i)));
    }

    void smtpTransportDeliversAttachments()
    {
        QTemporaryDir maildir;
        QProcess server;
        server.setProcessChannelMode(QProcess::SeparateChannels);
        server.start(QStringLiteral("/usr/bin/python3"),
            { QStringLiteral(YXA_TEST_SOURCE_DIR "/tests/support/smtp-server.py"),
                QStringLiteral("--maildir"), maildir.path(), QStringLiteral("--mode"),
                QStringLiteral("plain") });
        QVERIFY(server.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(
            server.canReadLine() || server.state() == QProcess::NotRunning, 15000);
        const QByteArray ready = server.readLine().trimmed();
        QVERIFY2(ready.startsWith("READY "), ready.constData());
        const int port = ready.mid(6).toInt();

        static const char pdfBytes[] = "%PDF-1.4\n\x00\x01\x02\xff binary";
        const QByteArray pdf(pdfBytes, sizeof(pdfBytes) - 1);
        QByteArray csv;
        for (int i = 0; i < 300; ++i)
            csv += "line " + QByteArray::number(i) + ";\xc3\xa1\r\n";
        const QJsonObject document { { "attachments",
            QJsonArray { QJsonObject { { "type", "application/pdf" }, { "name", "order.pdf" },
                             { "content", QString::fromLatin1(pdf.toBase64()) } },
                QJsonObject { { "type", "text/csv" }, { "name", "list.csv" },
                    { "content", QString::fromLatin1(csv.toBase64()) } } } } };
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "1"));
        QVERIFY(MailTenant::setVar(kDb, "smtpHost", "127.0.0.1"));
        QVERIFY(MailTenant::setVar(kDb, "smtpPort", QString::number(port)));
        QVERIFY(MailTenant::setVar(kDb, "smtpType", "0"));
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("supplier@example.test"),
            "Order", "Body text", QJsonDocument(document).toJson());
        {
            ThreadedWorker running(kDb, MandrillApiSettings(), 150);
            QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, mid).status, QStringLiteral("S"), 20000);
        }
        server.terminate();
        server.waitForFinished(5000);
        const MailTenant::Row row = MailTenant::row(kDb, mid);
        QCOMPARE(row.sent, 1u);
        QVERIFY(row.apiID.isNull());

        const QStringList mails = QDir(maildir.path()).entryList({ QStringLiteral("*.eml") });
        QCOMPARE(mails.size(), 1);
        // Python's mail parser reads the attachments back.
        QProcess parse;
        parse.start(QStringLiteral("/usr/bin/python3"),
            { QStringLiteral("-c"),
                QStringLiteral("import sys, json, base64, email\n"
                               "m = email.message_from_binary_file(open(sys.argv[1], 'rb'))\n"
                               "print(json.dumps([[p.get_filename(), p.get_content_type(), "
                               "base64.b64encode(p.get_payload(decode=True)).decode()] "
                               "for p in m.walk() if p.get_filename()]))"),
                maildir.filePath(mails.at(0)) });
        QVERIFY(parse.waitForFinished(10000));
        const QJsonArray parts = QJsonDocument::fromJson(parse.readAllStandardOutput()).array();
        QCOMPARE(parts.size(), 2);
        QCOMPARE(parts.at(0).toArray().at(0).toString(), QStringLiteral("order.pdf"));
        QCOMPARE(parts.at(0).toArray().at(1).toString(), QStringLiteral("application/pdf"));
        QCOMPARE(QByteArray::fromBase64(parts.at(0).toArray().at(2).toString().toLatin1()), pdf);
        QCOMPARE(parts.at(1).toArray().at(0).toString(), QStringLiteral("list.csv"));
        QCOMPARE(QByteArray::fromBase64(parts.at(1).toArray().at(2).toString().toLatin1()), csv);
    }

    void burstGoesOverOneSession()
    {
        QTemporaryDir maildir;
        QProcess server;
        const int port = startPeer(server,
            { QStringLiteral(YXA_TEST_SOURCE_DIR "/tests/support/smtp-server.py"),
                QStringLiteral("--maildir"), maildir.path() });
        QVERIFY(port > 0);
        useSmtpServer(port, 500);
        QVERIFY(insertNewsletter(200));
        {
            ThreadedWorker running(kDb, MandrillApiSettings(), 150);
            QTRY_COMPARE_WITH_TIMEOUT(
                MailTenant::count(kDb, QStringLiteral("status = 'S' AND sent = 1")), 200, 60000);
        }
        server.terminate();
        server.waitForFinished(5000);
        QSet<QString> recipients;
        QSet<int> sessions;
        const QStringList envelopes = QDir(maildir.path()).entryList({ QStringLiteral("*.json") });
        for (const QString &name : envelopes) {
            QFile file(maildir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QJsonObject envelope = QJsonDocument::fromJson(file.readAll()).object();
            recipients << envelope.value("rcpt_tos").toArray().at(0).toString();
            sessions << envelope.value("peer").toArray().at(1).toInt();
        }
        QCOMPARE(envelopes.size(), 200);
        QCOMPARE(recipients.size(), 200);
        // One client port: every mail of the pass went over one connection.
        QCOMPARE(sessions.size(), 1);
    }

    void burstSurvivesAFailedMail_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("sessions");
        QTest::addColumn<int>("resets");
        QTest::addColumn<QString>("schedule");
        QTest::addColumn<int>("attempts");
        // The server may have the mail: never sent again, whatever the schedule.
        QTest::newRow("session dropped after the message")
            << "--drop-data-to" << 2 << 0 << "1" << 1;
        QTest::newRow("4xx to one recipient") << "--tempfail-rcpt" << 1 << 1 << "" << 1;
        // The deferred mail waits out the burst and goes in a session of its own.
        QTest::newRow("4xx to one recipient, tried again")
            << "--tempfail-rcpt" << 2 << 2 << "1" << 2;
    }

    void burstSurvivesAFailedMail()
    {
        QFETCH(QString, fault);
        QFETCH(int, sessions);
        QFETCH(int, resets);
        QFETCH(QString, schedule);
        QFETCH(int, attempts);
        QVERIFY(MailTenant::setVar(kDb, QStringLiteral("retrySchedule"), schedule));
        QTemporaryDir dir;
        const QString logPath = dir.filePath(QStringLiteral("peer.log"));
        QProcess server;
        const int port = startPeer(server,
            { QStringLiteral(YXA_TEST_SOURCE_DIR "/tests/mailing/burst-smtp.py"), QStringLiteral("--log"),
                logPath, fault, QStringLiteral("r4@example.test") });
        QVERIFY(port > 0);
        useSmtpServer(port, 50);
        QVERIFY(insertNewsletter(10));
        {
            ThreadedWorker running(kDb, MandrillApiSettings(), 150);
            QTRY_COMPARE_WITH_TIMEOUT(MailTenant::count(kDb, QStringLiteral("done IS NOT NULL")), 10, 30000);
        }
        server.terminate();
        server.waitForFinished(5000);
        QCOMPARE(MailTenant::count(kDb, QStringLiteral("`to` = 'r4@example.test' AND status = 'E' AND sent = 0")), 1);
        QCOMPARE(MailTenant::count(kDb, QStringLiteral("status = 'S' AND sent = 1")), 9);
        // Every attempt is in the history, the failed ones with the server's words.
        QCOMPARE(MailTenant::count(kDb,
                     QStringLiteral("mid IN (SELECT mid FROM email_attempts a "
                                    "WHERE a.mid = emails.mid AND a.kind = 'accepted')")),
            9);
        QSqlQuery history(MailTenant::root(kDb));
        QVERIFY(
            history.exec(QStringLiteral("SELECT a.attempt, a.kind, a.reply FROM email_attempts a "
                                        "JOIN emails e ON e.mid = a.mid WHERE e.`to` = "
                                        "'r4@example.test' ORDER BY a.attempt")));
        int rows = 0;
        while (history.next()) {
            ++rows;
            QCOMPARE(history.value(0).toInt(), rows);
            QCOMPARE(history.value(1).toString(),
                fault == QLatin1String("--tempfail-rcpt") ? QStringLiteral("temporary")
                                                          : QStringLiteral("unknown"));
            QVERIFY(!history.value(2).toString().isEmpty());
        }
        QCOMPARE(rows, attempts);
        QCOMPARE(
            MailTenant::count(kDb, QStringLiteral("mid IN (SELECT mid FROM email_retries)")), 0);

        QFile log(logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QStringList received;
        QSet<int> seen;
        int rsets = 0;
        for (const QByteArray &line : log.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            const QJsonObject entry = QJsonDocument::fromJson(line).object();
            seen << entry.value("session").toInt();
            if (entry.value("rset").toBool())
                ++rsets;
            else
                received << entry.value("rcpt").toArray().at(0).toString();
        }
        QCOMPARE(received.size(), 9);
        QCOMPARE(QSet<QString>(received.begin(), received.end()).size(), 9);
        QVERIFY(!received.contains(QStringLiteral("r4@example.test")));
        QCOMPARE(seen.size(), sessions);
        QCOMPARE(rsets, resets);
    }

    void retiredWorkerLeavesNothingClaimed()
    {
        // Host mode: every row is claimed before it goes out.
        DBManager budget;
        const auto claimedOrPending = [] {
            return MailTenant::count(kDb, QStringLiteral("apiID LIKE 'yxa-claim:%'"));
        };
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "0"));

        // A reply still on its way when the tenant goes: it is awaited and written.
        FakeMandrill fake(QJsonObject {
            { "send", QJsonArray { QJsonObject { { "delay", 1.5 }, { "default", true } } } } });
        QVERIFY(fake.start().isEmpty());
        const uint answered = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        {
            MailingPluginWorker worker;
            worker.setDB(source());
            worker.setApiSettings(fake.apiSettings(10000));
            worker.setTimeInterval(200);
            worker.setHostLimits(&budget, [] { return true; }, QStringLiteral("host-a"));
            worker.start();
            QTRY_COMPARE_WITH_TIMEOUT(fake.sendCount(), 1, 10000);
            QCOMPARE(claimedOrPending(), 1);
            QVERIFY(!worker.isQuiet());
            QSignalSpy retired(&worker, &MailingPluginWorker::retired);
            worker.retire();
            QTRY_COMPARE_WITH_TIMEOUT(retired.count(), 1, 10000);
            QCOMPARE(MailTenant::row(kDb, answered).status, QStringLiteral("S"));
            QCOMPARE(MailTenant::row(kDb, answered).sent, 1u);
            QVERIFY(worker.isQuiet());
        }

        // A request that never got its bytes out (the TLS handshake never
        // ends): the row goes back to the queue at once.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        MandrillApiSettings mute;
        mute.apiUrl = QUrl(QStringLiteral("https://127.0.0.1:%1").arg(silent.serverPort()));
        mute.requestTimeoutMs = 60000;
        const uint unsent = MailTenant::insertMail(kDb, QStringLiteral("b@example.test"));
        {
            MailingPluginWorker worker;
            worker.setDB(source());
            worker.setApiSettings(mute);
            worker.setTimeInterval(200);
            worker.setHostLimits(&budget, [] { return true; }, QStringLiteral("host-a"));
            worker.start();
            QTRY_COMPARE_WITH_TIMEOUT(claimedOrPending(), 1, 10000);
            QSignalSpy retired(&worker, &MailingPluginWorker::retired);
            QElapsedTimer clock;
            clock.start();
            worker.retire();
            QTRY_COMPARE_WITH_TIMEOUT(retired.count(), 1, 5000);
            QVERIFY(clock.elapsed() < 5000);
        }
        const MailTenant::Row row = MailTenant::row(kDb, unsent);
        QCOMPARE(row.status, QStringLiteral("Q"));
        QVERIFY(row.done.isNull());
        QVERIFY(row.apiID.isNull());
        QCOMPARE(claimedOrPending(), 0);

        // Whoever serves the tenant next sends it, once.
        {
            ThreadedWorker next(kDb, fake.apiSettings(10000), 150);
            QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, unsent).status, QStringLiteral("S"), 15000);
        }
        QCOMPARE(fake.sendCount(), 2);
    }
};

YXA_TEST_CLASS(MailingWorkerTest)
#include "mailingworkertest.moc"
