// The mailing plug-in as the host drives it: ini settings, the schema scan
// over many schemas, one worker thread per schema with pending mail, the
// single-database mode, and a destruction that does not hang or kill.
#include "mailingplugin.h"
#include "dbmanager.h"
#include "fakemandrill.h"
#include "logcapture.h"
#include "mailtenant.h"
#include "mariadbfixture.h"
#include "smtptestsupport.h"
#include "retryschedule.h"
#include "testmain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPluginLoader>
#include <QSet>
#include <QSqlQuery>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {
const QString kInfo = QStringLiteral("yxa_mail_info");
const QString kTenant1 = QStringLiteral("yxa_mail_t1"); // pending mail
const QString kTenant2 = QStringLiteral("yxa_mail_t2"); // nothing pending at first
const QString kTenantOld = QStringLiteral("yxa_mail_t3"); // ver_db 17.04.03
const QString kTenantOff = QStringLiteral("yxa_mail_t4"); // schema disabled
const QString kSingle = QStringLiteral("yxa_mail_single");
} // namespace

class MailingPluginTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dataDir;

    int iniCount = 0;
    QString iniDir;

    // A fresh data directory each time: QSettings caches a file by name and
    // may miss a rewrite of the same size within the same second.
    void writeIni(const QString &text)
    {
        iniDir = dataDir.filePath(QString::number(++iniCount));
        QVERIFY(QDir().mkpath(iniDir));
        qputenv("YXA_DATA_DIR", iniDir.toUtf8());
        QFile file(iniDir + QStringLiteral("/yxa.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }

    QSqlDatabase infoConnection()
    {
        return MariaDbFixture::rootConnection(QStringLiteral("mailing.plugin.info"), kInfo);
    }

    // As the host hands it over: not yet open, so that DBManager::setInfoDB
    // opens it and records that the information database is there.
    QSqlDatabase closedInfoConnection(const QString &name)
    {
        return MariaDbFixture::connection(
            name, kInfo, QStringLiteral("root"), MariaDbFixture::rootPassword());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dataDir.isValid());
        qputenv("YXA_DATA_DIR", dataDir.path().toUtf8());
    }

    void cleanupTestCase()
    {
        qunsetenv("YXA_DATA_DIR");
        for (const QString &db : { kTenant1, kTenant2, kTenantOld, kTenantOff, kSingle })
            MariaDbFixture::dropDatabase(db, db);
        MariaDbFixture::dropDatabase(kInfo);
    }

    void versionInformation()
    {
        MailingPlugin plugin;
        QCOMPARE(plugin.getVersion(), QStringLiteral("1.1.2"));
        const QMap<QString, QString> info = plugin.getVerInfo();
        QCOMPARE(info.value("VER"), QStringLiteral("1.1.2"));
        QCOMPARE(info.value("vodraType"), QStringLiteral("PLG.ML"));
        QCOMPARE(info.value("KEXDB"), QStringLiteral("20.03.05"));
        QVERIFY(QFile::exists(plugin.settingsFileName())
            || plugin.settingsFileName().endsWith("/yxa.ini"));
    }

    void loadsAsModule()
    {
        QString dir = qEnvironmentVariable("YXA_BINARY_DIR");
        if (dir.isEmpty())
            dir = QStringLiteral(YXA_TEST_BINARY_DIR);
        QPluginLoader loader(dir + QStringLiteral("/plugins/libmailing.so"));
        QVERIFY2(loader.load(), qPrintable(loader.errorString()));
        QCOMPARE(loader.metaData().value("IID").toString(),
            QStringLiteral("com.velkor.yxa.ServerInterface"));
        QCOMPARE(loader.metaData().value("className").toString(), QStringLiteral("MailingPlugin"));
        QObject *instance = loader.instance();
        QVERIFY(instance);
        QCOMPARE(loader.instance(), instance);
        auto *server = qobject_cast<ServerInterface *>(instance);
        QVERIFY(server);
        QVERIFY(qobject_cast<DatabaseManagerInterface *>(instance));
        QVERIFY(qobject_cast<VerInfoInterface *>(instance));
        QCOMPARE(server->getVersion(), QStringLiteral("1.1.2"));
        LogCapture log;
        QVERIFY(!server->start());
        QVERIFY(log.contains(
            QStringLiteral("!!! MailingPlugin: Database manager not initialized !!!")));
        QVERIFY(loader.unload());
    }

    void iniSettings_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QByteArray>("envUrl");
        QTest::addColumn<uint>("workerInterval");
        QTest::addColumn<int>("schemaInterval");
        QTest::addColumn<QString>("apiUrl");
        QTest::addColumn<QString>("apiKey");
        QTest::addColumn<int>("timeoutMs");

        const QString key = MandrillApiSettings::defaultApiKey();
        const QString url = QStringLiteral("https://mandrillapp.com");
        QTest::newRow("defaults") << "" << QByteArray() << 10000u << 3600000 << url << key << 60000;
        QTest::newRow("interval 3 is raised to 5 s")
            << "interval=3\n"
            << QByteArray() << 5000u << 3600000 << url << key << 60000;
        QTest::newRow("interval 6") << "interval=6\n"
                                    << QByteArray() << 6000u << 3600000 << url << key << 60000;
        QTest::newRow("checkInterval 0 is 10 s")
            << "checkInterval=0\n"
            << QByteArray() << 10000u << 10000 << url << key << 60000;
        QTest::newRow("api settings")
            << "apiUrl=http://127.0.0.1:8025\napiKey=OwnKey123\nrequestTimeout=5\n"
            << QByteArray() << 10000u << 3600000 << "http://127.0.0.1:8025"
            << "OwnKey123" << 5000;
        QTest::newRow("not an http url")
            << "apiUrl=ftp://files.example.test\nrequestTimeout=never\n"
            << QByteArray() << 10000u << 3600000 << url << key << 60000;
        QTest::newRow("environment replaces the default")
            << "" << QByteArray("http://relay.local:9000") << 10000u << 3600000
            << "http://relay.local:9000" << key << 60000;
        QTest::newRow("ini wins over the environment")
            << "apiUrl=https://api.example.test\n"
            << QByteArray("http://relay.local:9000") << 10000u << 3600000
            << "https://api.example.test" << key << 60000;
    }

    // caFile adds a PEM bundle to the system's CAs; a file that yields no
    // certificate is logged and the system's CAs stay the only ones.
    void caFileFromIni_data()
    {
        QTest::addColumn<QString>("file"); // under the certificate directory; empty: no key
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("logged");
        QTest::newRow("no caFile") << "" << false << false;
        QTest::newRow("the private CA") << "ca.pem" << true << false;
        QTest::newRow("a missing file") << "nothing-here.pem" << false << true;
        QTest::newRow("a key, no certificate") << "ca.key" << false << true;
    }

    void caFileFromIni()
    {
        QFETCH(QString, file);
        QFETCH(bool, trusted);
        QFETCH(bool, logged);
        QTemporaryDir certDir;
        QVERIFY(certDir.isValid());
        const QString error = SmtpTest::makeCertificates(certDir.path());
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QString path = file.isEmpty() ? QString() : certDir.filePath(file);
        writeIni(QStringLiteral("[MailingPlugin]\n")
            + (path.isEmpty() ? QString() : QStringLiteral("caFile=%1\n").arg(path)));
        LogCapture log;
        MailingPlugin plugin;
        const MandrillApiSettings api = plugin.getApiSettings();
        QCOMPARE(api.caFile, path);
        const QSslCertificate ca = SmtpTest::caCertificates(certDir.path()).value(0);
        QVERIFY(!ca.isNull());
        QCOMPARE(api.caCertificates.contains(ca), trusted);
        // The system's CAs stay trusted beside the private one.
        if (trusted)
            QCOMPARE(
                api.caCertificates.size(), QSslConfiguration::systemCaCertificates().size() + 1);
        else
            QVERIFY(api.caCertificates.isEmpty());
        QCOMPARE(log.contains(QStringLiteral("holds no readable PEM certificate")), logged);
    }

    void passDefaultsFromIni_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<uint>("mailsPerPass");
        QTest::addColumn<uint>("passSeconds");
        QTest::newRow("one mail per pass by default") << "" << 1u << 30u;
        QTest::newRow("bursts allowed") << "mailsPerPass=500\npassSeconds=45\n" << 500u << 45u;
        // Zero is below the minimum and a word no number: both are refused
        // for their defaults, as the host's check of yxa.ini reports them.
        QTest::newRow("zero and nonsense give the defaults") << "mailsPerPass=0\npassSeconds=soon\n"
                                                             << 1u << 30u;
    }

    void reloadSettingsReadsTheFileAgain()
    {
        writeIni(
            QStringLiteral("[MailingPlugin]\ninterval=20\ncheckInterval=600\nmailsPerPass=1\n"));
        MailingPlugin plugin;
        QCOMPARE(plugin.getWorkerInterval(), 20000u);
        QFile file(plugin.settingsFileName());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[MailingPlugin]\ninterval=7\ncheckInterval=120\nmailsPerPass=50\n"
                   "apiUrl=http://relay.local:9000\napiKey=NewKey\n");
        file.close();
        plugin.reloadSettings();
        QCOMPARE(plugin.getWorkerInterval(), 7000u);
        QCOMPARE(plugin.getSchemaTimerInterval(), 120000);
        QCOMPARE(plugin.getMailsPerPass(), 50u);
        QCOMPARE(
            plugin.getApiSettings().apiUrl.toString(), QStringLiteral("http://relay.local:9000"));
        QCOMPARE(plugin.getApiSettings().apiKey, QStringLiteral("NewKey"));
        // A reload never starts the scans of a plug-in that was not started.
        QVERIFY(!plugin.isSchemaTimerActive());
    }

    void passDefaultsFromIni()
    {
        QFETCH(QString, ini);
        QFETCH(uint, mailsPerPass);
        QFETCH(uint, passSeconds);
        writeIni(QStringLiteral("[MailingPlugin]\n") + ini);
        MailingPlugin plugin;
        QCOMPARE(plugin.getMailsPerPass(), mailsPerPass);
        QCOMPARE(plugin.getPassSeconds(), passSeconds);
    }

    void retryScheduleFromIni_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("schedule");
        QTest::addColumn<uint>("days");
        QTest::newRow("defaults") << ""
                                  << "60,300,900,3600,14400" << 30u;
        QTest::newRow("own schedule and days") << "retrySchedule=10,20,30\nattemptHistoryDays=7\n"
                                               << "10,20,30" << 7u;
        QTest::newRow("empty: one attempt") << "retrySchedule=\n"
                                            << "" << 30u;
        QTest::newRow("nonsense keeps the default") << "retrySchedule=soon\n"
                                                    << "60,300,900,3600,14400" << 30u;
    }

    void retryScheduleFromIni()
    {
        QFETCH(QString, ini);
        QFETCH(QString, schedule);
        QFETCH(uint, days);
        writeIni(QStringLiteral("[MailingPlugin]\n") + ini);
        MailingPlugin plugin;
        QCOMPARE(plugin.getRetrySchedule().toString(), schedule);
        QCOMPARE(plugin.getHistoryDays(), days);
    }

    void retryWaitsAreJittered()
    {
        const RetrySchedule schedule;
        QCOMPARE(schedule.attempts(), 6);
        QSet<int> seen;
        for (int i = 0; i < 200; ++i) {
            const int wait = schedule.delayAfter(2);
            QVERIFY2(wait >= 270 && wait <= 330, qPrintable(QString::number(wait)));
            seen << wait;
        }
        // Deferred together, they do not all come back in the same second.
        QVERIFY(seen.size() > 10);
        QCOMPARE(schedule.delayAfter(6), -1);
        QCOMPARE(RetrySchedule::none().delayAfter(1), -1);
    }

    void iniSettings()
    {
        QFETCH(QString, ini);
        QFETCH(QByteArray, envUrl);
        QFETCH(uint, workerInterval);
        QFETCH(int, schemaInterval);
        QFETCH(QString, apiUrl);
        QFETCH(QString, apiKey);
        QFETCH(int, timeoutMs);
        writeIni(QStringLiteral("[MailingPlugin]\n") + ini);
        if (!envUrl.isEmpty())
            qputenv("MAILINGPLUGIN_APIURL", envUrl);
        MailingPlugin plugin;
        qunsetenv("MAILINGPLUGIN_APIURL");
        QCOMPARE(plugin.settingsFileName(), iniDir + QStringLiteral("/yxa.ini"));
        QCOMPARE(plugin.getWorkerInterval(), workerInterval);
        QCOMPARE(plugin.getSchemaTimerInterval(), schemaInterval);
        const MandrillApiSettings api = plugin.getApiSettings();
        QCOMPARE(api.apiUrl.toString(), apiUrl);
        QCOMPARE(api.apiKey, apiKey);
        QCOMPARE(api.requestTimeoutMs, timeoutMs);
        QCOMPARE(api.sendUrl().path(), QStringLiteral("/api/1.0/messages/send.json"));
        QCOMPARE(api.infoUrl().path(), QStringLiteral("/api/1.0/messages/info.json"));
    }

    void multiTenantScan()
    {
        YXA_REQUIRE_MARIADB();
        writeIni(QStringLiteral("[MailingPlugin]\ncheckSchemasLimit=1000\n"));
        QString error;
        QVERIFY2(MariaDbFixture::createInfoDatabase(kInfo, &error), qPrintable(error));
        const QStringList files { QStringLiteral("tenant.sql") };
        QVERIFY2(MariaDbFixture::createTenant(kInfo, "tok-0500", kTenant1, 1, files, &error),
            qPrintable(error));
        QVERIFY2(MariaDbFixture::createTenant(kInfo, "tok-1500", kTenant2, 1, files, &error),
            qPrintable(error));
        QVERIFY2(MariaDbFixture::createTenant(kInfo, "tok-2499", kTenantOld, 1, files, &error),
            qPrintable(error));
        QVERIFY2(MariaDbFixture::createTenant(kInfo, "tok-x", kTenantOff, 0, files, &error),
            qPrintable(error));
        // The other 2497 enabled schemas have no usable credentials.
        QStringList values;
        for (int i = 0; i < 2500; ++i) {
            if (i != 500 && i != 1500 && i != 2499)
                values << QStringLiteral("('tok-%1', 'nodb_%1', '', '', 1)")
                              .arg(i, 4, 10, QLatin1Char('0'));
        }
        QVERIFY(MariaDbFixture::exec(infoConnection(),
            QStringLiteral("INSERT INTO `schemas` (token, name, user, pass, status) VALUES ")
                + values.join(QLatin1Char(',')),
            &error));

        QList<uint> pending;
        for (int i = 0; i < 3; ++i)
            pending << MailTenant::insertMail(
                kTenant1, QStringLiteral("r%1@example.test").arg(i), "S", "B", {}, 10 + i);
        QVERIFY(MailTenant::setVar(kTenantOld, "ver_db", "17.04.03"));
        const uint oldMail = MailTenant::insertMail(kTenantOld, QStringLiteral("old@example.test"));
        const uint offMail = MailTenant::insertMail(kTenantOff, QStringLiteral("off@example.test"));

        FakeMandrill fake;
        QVERIFY(fake.start().isEmpty());
        DBManager manager;
        manager.setDebugLevel(1);
        manager.setInfoDB(closedInfoConnection(QStringLiteral("YXA.InfoDB.scan")));
        QVERIFY(manager.isInfoDB());

        auto plugin = std::make_unique<MailingPlugin>();
        plugin->setDBManager(&manager);
        plugin->setDebugLevel(1);
        plugin->setApiSettings(fake.apiSettings());
        plugin->setWorkerInterval(200);

        LogCapture log;
        QVERIFY(QMetaObject::invokeMethod(plugin.get(), "checkSchemas"));
        QCOMPARE(log.count(QStringLiteral("DBManager::loadTokens(limit: 1000, offset: 0)")), 1);
        QCOMPARE(log.count(QStringLiteral("DBManager::loadTokens(limit: 1000, offset: 1000)")), 1);
        QCOMPARE(log.count(QStringLiteral("DBManager::loadTokens(limit: 1000, offset: 2000)")), 1);
        QCOMPARE(log.count(QStringLiteral("DBManager::loadTokens(")), 3);
        QCOMPARE(plugin->workerTokens(), QStringList { "tok-0500" });
        QCOMPARE(plugin->workerThreads().size(), 1);
        QCOMPARE(plugin->workerThreads().at(0)->objectName(), QStringLiteral("MailingPlugin_1"));
        QCOMPARE(plugin->workerThreads().at(0)->priority(), QThread::LowPriority);
        const QString summary
            = QStringLiteral("MailingPlugin::checkSchemas() - active workers: %1 / 2500 schemas "
                             "checked (total enabled schemas: 2500)");
        QCOMPARE(log.count(summary.arg(1)), 1);
        QVERIFY(log.contains(
            QStringLiteral("Database version is 17.04.03 and minimal required is 17.04.04!")));

        // Nothing new: the same workers, no new thread.
        QVERIFY(QMetaObject::invokeMethod(plugin.get(), "checkSchemas"));
        QCOMPARE(plugin->workerThreads().size(), 1);
        QCOMPARE(log.count(summary.arg(1)), 2);

        // Mail appears in a schema that had none: it gets a worker on the next scan.
        const uint later = MailTenant::insertMail(kTenant2, QStringLiteral("later@example.test"));
        QVERIFY(QMetaObject::invokeMethod(plugin.get(), "checkSchemas"));
        QCOMPARE(plugin->workerTokens(), (QStringList { "tok-0500", "tok-1500" }));
        QCOMPARE(plugin->workerThreads().at(1)->objectName(), QStringLiteral("MailingPlugin_2"));

        for (uint mid : qAsConst(pending))
            QTRY_COMPARE_WITH_TIMEOUT(
                MailTenant::row(kTenant1, mid).status, QStringLiteral("S"), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(
            MailTenant::row(kTenant2, later).status, QStringLiteral("S"), 20000);
        for (uint mid : qAsConst(pending))
            QVERIFY(MailTenant::row(kTenant1, mid)
                        .apiID.toString()
                        .startsWith(QStringLiteral("fake-")));
        QCOMPARE(fake.sendCount(), 4);
        QCOMPARE(MailTenant::row(kTenantOld, oldMail).status, QStringLiteral("Q"));
        QVERIFY(MailTenant::row(kTenantOld, oldMail).done.isNull());
        QVERIFY(MailTenant::row(kTenantOff, offMail).done.isNull());
        QVERIFY(MailTenant::row(kTenantOff, offMail).apiID.isNull());

        QElapsedTimer clock;
        clock.start();
        plugin.reset();
        QVERIFY(clock.elapsed() < 10000);
        QVERIFY(!log.contains(QStringLiteral("terminating")));
    }

    void stopThenStart()
    {
        YXA_REQUIRE_MARIADB();
        QVERIFY(
            !MariaDbFixture::scalar(infoConnection(), "SELECT COUNT(*) FROM `schemas`").isNull());
        MailTenant::insertMail(kTenant1, QStringLiteral("again@example.test"));
        FakeMandrill fake;
        QVERIFY(fake.start().isEmpty());
        DBManager manager;
        manager.setInfoDB(closedInfoConnection(QStringLiteral("YXA.InfoDB.stop")));
        QVERIFY(manager.isInfoDB());
        MailingPlugin plugin;
        plugin.setDBManager(&manager);
        plugin.setApiSettings(fake.apiSettings());
        QVERIFY(plugin.start());
        QVERIFY(plugin.isSchemaTimerActive());
        // The first scan comes 1 s after start().
        QCOMPARE(plugin.workerThreads().size(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(plugin.workerThreads().size(), 1, 10000);
        plugin.stop();
        QVERIFY(!plugin.isSchemaTimerActive());
        QVERIFY(plugin.start());
        QVERIFY(plugin.isSchemaTimerActive());
        QTest::qWait(1600);
        QCOMPARE(plugin.workerThreads().size(), 1);
        QCOMPARE(plugin.workerTokens(), QStringList { "tok-0500" });

        // stop() right after start() also cancels the pending first scan.
        MailingPlugin stopped;
        stopped.setDBManager(&manager);
        QVERIFY(stopped.start());
        stopped.stop();
        QTest::qWait(1300);
        QCOMPARE(stopped.workerThreads().size(), 0);
    }

    void singleDatabaseMode()
    {
        YXA_REQUIRE_MARIADB();
        const QString error = MailTenant::create(kSingle);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QList<uint> mids;
        for (int i = 0; i < 3; ++i)
            mids << MailTenant::insertMail(
                kSingle, QStringLiteral("s%1@example.test").arg(i), "S", "B", {}, 10 + i);
        FakeMandrill fake;
        QVERIFY(fake.start().isEmpty());
        DBManager manager;
        QSqlDatabase kex = MailTenant::connection(QStringLiteral("YXA.KEXDB"), kSingle);
        QVERIFY(kex.open());
        manager.setKexDB(kex);
        QVERIFY(!manager.isInfoDB());

        auto plugin = std::make_unique<MailingPlugin>();
        plugin->setDBManager(&manager);
        plugin->setApiSettings(fake.apiSettings());
        plugin->setWorkerInterval(200);
        LogCapture log;
        QVERIFY(plugin->start());
        QVERIFY(!plugin->isSchemaTimerActive());
        QVERIFY(plugin->hasSingleDatabaseWorker());
        QVERIFY(plugin->singleDatabaseThread()->isRunning());
        for (uint mid : qAsConst(mids))
            QTRY_COMPARE_WITH_TIMEOUT(
                MailTenant::row(kSingle, mid).status, QStringLiteral("S"), 20000);
        QCOMPARE(fake.sendCount(), 3);
        QVERIFY(plugin->workerThreads().isEmpty());

        QElapsedTimer clock;
        clock.start();
        plugin.reset();
        QVERIFY(clock.elapsed() < 10000);
        QVERIFY(!log.contains(QStringLiteral("terminating")));
    }

    void destructionWhileWorkerIsBusy()
    {
        YXA_REQUIRE_MARIADB();
        QVERIFY(MailTenant::exec(kSingle, QStringLiteral("DELETE FROM emails")));
        const uint mid = MailTenant::insertMail(kSingle, QStringLiteral("slow@example.test"));
        // The API takes 30 s to answer; the host wants the plug-in gone now.
        FakeMandrill fake(QJsonObject {
            { "send", QJsonArray { QJsonObject { { "delay", 30 }, { "default", true } } } } });
        QVERIFY(fake.start().isEmpty());
        DBManager manager;
        QSqlDatabase kex = MailTenant::connection(QStringLiteral("YXA.KEXDB"), kSingle);
        manager.setKexDB(kex);
        auto plugin = std::make_unique<MailingPlugin>();
        plugin->setDBManager(&manager);
        plugin->setApiSettings(fake.apiSettings(60000));
        plugin->setWorkerInterval(200);
        QVERIFY(plugin->start());
        QTRY_COMPARE_WITH_TIMEOUT(fake.sendCount(), 1, 10000);

        LogCapture log;
        QElapsedTimer clock;
        clock.start();
        plugin.reset();
        // The report is awaited for a while, not for the whole request time-out.
        QVERIFY2(clock.elapsed() < 13000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!log.contains(QStringLiteral("terminating")));
        QVERIFY(log.contains(QStringLiteral("still had mail in flight")));
        // No report came: the row is left as it was.
        QVERIFY(MailTenant::row(kSingle, mid).done.isNull());
        QVERIFY(MailTenant::row(kSingle, mid).apiID.isNull());

        // A report that comes while the plug-in stops is still written.
        const uint late = MailTenant::insertMail(kSingle, QStringLiteral("late@example.test"));
        fake.setScript(QJsonObject {
            { "send", QJsonArray { QJsonObject { { "delay", 2 }, { "default", true } } } } });
        plugin = std::make_unique<MailingPlugin>();
        plugin->setDBManager(&manager);
        plugin->setApiSettings(fake.apiSettings(60000));
        plugin->setWorkerInterval(200);
        QVERIFY(plugin->start());
        QTRY_COMPARE_WITH_TIMEOUT(fake.sendCount(), 3, 10000);
        plugin.reset();
        QCOMPARE(MailTenant::row(kSingle, late).status, QStringLiteral("S"));
    }
};

YXA_TEST_CLASS(MailingPluginTest)
#include "mailingplugintest.moc"
