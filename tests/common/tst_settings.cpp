#include "buildstamp.h"
#include "datadirhelper.h"
#include "envirosettings.h"
#include "kexdbsettings.h"
#include "logcapture.h"
#include "mariadbfixture.h"
#include "testmain.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// KexDbSettings on a real tenant database, connected as the tenant's user.
class KexDbSettingsTest : public QObject
{
    Q_OBJECT

    QSqlDatabase db;

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        QVERIFY2(MariaDbFixture::createDatabase(QStringLiteral("cmn_vars"), QStringLiteral("cmn_vars"),
                                                QStringLiteral("pw-vars"), { QStringLiteral("tenant.sql") }, &error),
                 qPrintable(error));
        db = MariaDbFixture::connection(QStringLiteral("cmn.vars"), QStringLiteral("cmn_vars"),
                                        QStringLiteral("cmn_vars"), QStringLiteral("pw-vars"));
        KexDbSettings store(db);
        QVERIFY(store.openDB());
    }

    void init() { QVERIFY(MariaDbFixture::exec(db, QStringLiteral("DELETE FROM vars"))); }

    void cleanupTestCase()
    {
        db.close();
        MariaDbFixture::dropDatabase(QStringLiteral("cmn_vars"), QStringLiteral("cmn_vars"));
    }

    void roundTrips()
    {
        KexDbSettings store(db);
        QCOMPARE(store.variableGet(QStringLiteral("missing"), QStringLiteral("dflt")).toString(), QStringLiteral("dflt"));
        QVERIFY(store.variableSet(QStringLiteral("interval"), 15));
        QCOMPARE(store.variableGet(QStringLiteral("interval"), 0).toInt(), 15);
        // Replacing an existing value with the same value still counts as success.
        QVERIFY(store.variableSet(QStringLiteral("interval"), 15));
        QVERIFY(store.variableSet(QStringLiteral("interval"), QStringLiteral("twenty")));
        QCOMPARE(store.variableGet(QStringLiteral("interval"), 0).toString(), QStringLiteral("twenty"));

        QVERIFY(MariaDbFixture::exec(db, QStringLiteral("INSERT INTO vars (name, value) VALUES ('nullish', NULL)")));
        const QVariant nullValue = store.variableGet(QStringLiteral("nullish"), QStringLiteral("dflt"));
        QVERIFY(nullValue.isNull());

        const QString slovak = QStringLiteral("Jedáleň – objednávka");
        QVERIFY(store.variableSet(QStringLiteral("LCNSN"), slovak));
        QCOMPARE(store.variableGet(QStringLiteral("LCNSN"), QString()).toString(), slovak);
    }

    void multipleValues()
    {
        KexDbSettings store(db);
        LogCapture log;
        QVERIFY(store.variableSetMultiple({ { QStringLiteral("a"), 1 }, { QStringLiteral("b"), QStringLiteral("two") } }));
        QVERIFY(store.variableSetMultiple({}));
        const auto values = store.variableGetMultiple(QStringList { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") });
        QCOMPARE(values.size(), 2);
        QCOMPARE(values.value(QStringLiteral("a")).toInt(), 1);
        QCOMPARE(values.value(QStringLiteral("b")).toString(), QStringLiteral("two"));
        QVERIFY(log.lines().isEmpty());

        // One entry too long for the column fails; the others are still written.
        const QString tooLong(300, QLatin1Char('x'));
        QVERIFY(!store.variableSetMultiple({ { QStringLiteral("c"), 3 }, { tooLong, 4 }, { QStringLiteral("z"), 26 } }));
        QCOMPARE(log.count(QStringLiteral("variableSet ERROR:")), 1);
        QCOMPARE(store.variableGet(QStringLiteral("c"), 0).toInt(), 3);
        QCOMPARE(store.variableGet(QStringLiteral("z"), 0).toInt(), 26);
    }

    void emptyNameListIssuesNoQuery()
    {
        // On a handle that cannot run anything, any query would log an error.
        KexDbSettings store { QSqlDatabase() };
        LogCapture log;
        QVERIFY(store.variableGetMultiple(QStringList()).isEmpty());
        QVERIFY(log.lines().isEmpty());
    }

    void failedReadIsToldFromNoKeys()
    {
        KexDbSettings store(db);
        bool ok = false;
        QVERIFY(store.variableGetMultiple(QStringList { QStringLiteral("absent") }, &ok).isEmpty());
        QVERIFY(ok);
        ok = false;
        QVERIFY(store.variableGetMultiple(QStringLiteral("absent"), &ok).isEmpty());
        QVERIFY(ok);

        KexDbSettings away(MariaDbFixture::connection(QStringLiteral("cmn.vars.away"), QStringLiteral("cmn_vars"),
                                                      QStringLiteral("cmn_vars"), QStringLiteral("wrong")));
        LogCapture log;
        QVERIFY(away.variableGetMultiple(QStringList { QStringLiteral("a") }, &ok).isEmpty());
        QVERIFY(!ok);
        ok = true;
        QVERIFY(away.variableGetMultiple(QStringLiteral("a"), &ok).isEmpty());
        QVERIFY(!ok);
    }

    void deletion()
    {
        KexDbSettings store(db);
        for (const char *name : { "mail", "mailer", "mail.host", "smtpHost" })
            QVERIFY(store.variableSet(QString::fromLatin1(name), 1));
        LogCapture log;
        QVERIFY(!store.variableDel(QStringLiteral("missing"), false));
        QVERIFY(log.lines().isEmpty());
        QCOMPARE(store.variableGetMultiple(QStringLiteral("mail")).size(), 3);
        QVERIFY(store.variableDel(QStringLiteral("mail"), true));
        QVERIFY(store.variableGetMultiple(QStringLiteral("mail")).isEmpty());
        QCOMPARE(store.variableGetMultiple(QString()).keys(), QStringList { QStringLiteral("smtpHost") });
        QVERIFY(store.variableDel(QStringLiteral("smtpHost"), false));
        QVERIFY(!store.variableDel(QStringLiteral("smtpHost"), false));
    }

    void hostileNamesStayData_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("quote") << QStringLiteral("it's");
        QTest::newRow("drop") << QStringLiteral("x'; DROP TABLE vars; --");
        QTest::newRow("backslash") << QStringLiteral("back\\slash'");
        QTest::newRow("or") << QStringLiteral("' OR '1'='1");
    }

    void hostileNamesStayData()
    {
        QFETCH(QString, name);
        KexDbSettings store(db);
        QVERIFY(store.variableSet(QStringLiteral("keep"), QStringLiteral("me")));
        QVERIFY(store.variableSet(name, QStringLiteral("value")));
        QCOMPARE(store.variableGet(name, QString()).toString(), QStringLiteral("value"));
        QCOMPARE(store.variableGetMultiple(QStringList { name, QStringLiteral("keep") }).size(), 2);
        QCOMPARE(store.variableGetMultiple(name).value(name).toString(), QStringLiteral("value"));
        QVERIFY(store.variableDel(name, false));
        QVERIFY(!store.variableDel(name, true));
        QCOMPARE(store.variableGet(QStringLiteral("keep"), QString()).toString(), QStringLiteral("me"));
        QCOMPARE(MariaDbFixture::scalar(db, QStringLiteral("SELECT COUNT(*) FROM vars")).toInt(), 1);
    }
};

// EnviroSettings, DataDirHelper and the build stamp: no database needed.
class EnviroSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void enviroKey()
    {
        EnviroSettings settings(QStringLiteral("/nonexistent/x.ini"), QSettings::IniFormat);
        QCOMPARE(settings.enviroKey(QStringLiteral("a/b")), QStringLiteral("A_B"));
        QCOMPARE(settings.enviroKey(QStringLiteral("Mailing/port")), QStringLiteral("MAILING_PORT"));
        QSignalSpy spy(&settings, &EnviroSettings::prefixChanged);
        settings.setPrefix(QStringLiteral("p"));
        settings.setPrefix(QStringLiteral("p"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(settings.enviroKey(QStringLiteral("a/b")), QStringLiteral("P_A_B"));
        settings.setPrefix(QStringLiteral("app"));
        QCOMPARE(settings.enviroKey(QStringLiteral("smtp/host")), QStringLiteral("APP_SMTP_HOST"));
    }

    void precedence()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("yxa.ini"));
        {
            QSettings ini(file, QSettings::IniFormat);
            ini.setValue(QStringLiteral("MailingPlugin/interval"), 20);
        }
        qputenv("MAILINGPLUGIN_INTERVAL", "30");
        qputenv("MAILINGPLUGIN_CHECKINTERVAL", "120");
        EnviroSettings settings(file, QSettings::IniFormat);
        qputenv("MAILINGPLUGIN_CHECKSCHEMASLIMIT", "7"); // after the snapshot: not seen
        settings.beginGroup(QStringLiteral("MailingPlugin"));
        QCOMPARE(settings.value(QStringLiteral("interval"), 10).toString(), QStringLiteral("20"));
        const QVariant fromEnvironment = settings.value(QStringLiteral("checkInterval"), 3600);
        QCOMPARE(fromEnvironment.type(), QVariant::String);
        QCOMPARE(fromEnvironment.toString(), QStringLiteral("120"));
        QCOMPARE(settings.value(QStringLiteral("checkSchemasLimit"), 1000).toString(), QStringLiteral("1000"));
        // Through a QSettings reference the plain lookup answers.
        QSettings &plain = settings;
        QVERIFY(!plain.value(QStringLiteral("checkInterval")).isValid());
        qunsetenv("MAILINGPLUGIN_INTERVAL");
        qunsetenv("MAILINGPLUGIN_CHECKINTERVAL");
        qunsetenv("MAILINGPLUGIN_CHECKSCHEMASLIMIT");
    }

    void lookupsTracedOnlyAtDebugLevel()
    {
        EnviroSettings settings(QStringLiteral("/nonexistent/x.ini"), QSettings::IniFormat);
        LogCapture log;
        for (unsigned char level : { 0, 1, 2 }) {
            settings.setDebugLevel(level);
            settings.value(QStringLiteral("checkSchemasLimit"), 1000);
        }
        QCOMPARE(log.count(QStringLiteral("EnviroSettings::value() - key: 'checkSchemasLimit'")), 1);
    }

    void dataAndLogDirectories()
    {
        QTemporaryDir dir;
        const QString data = dir.filePath(QStringLiteral("etc/yxa"));
        const QString logs = dir.filePath(QStringLiteral("log"));
        qputenv("YXA_DATA_DIR", data.toUtf8());
        qputenv("YXA_LOG_DIR", logs.toUtf8());
        QCOMPARE(DataDirHelper::getDataDir(false, QStringLiteral("ignored")), data);
        QVERIFY(!QFileInfo::exists(data));
        QCOMPARE(DataDirHelper::getDataDir(true, QString()), data);
        QVERIFY(QFileInfo(data).isDir());
        QCOMPARE(DataDirHelper::getLogsDir(QStringLiteral("whatever")), logs);
        QVERIFY(QFileInfo(logs).isDir());
        QCOMPARE(DataDirHelper::dataDir, data);
        QCOMPARE(DataDirHelper::logsDir, logs);
        qunsetenv("YXA_DATA_DIR");
        qunsetenv("YXA_LOG_DIR");

        QCOMPARE(DataDirHelper::getDataDir(false, QString()),
                 QStringLiteral("/etc/") + QCoreApplication::applicationName().toLower());
        QCOMPARE(DataDirHelper::getLogsDir(QStringLiteral("anything")), QStringLiteral("/var/log/yxa"));
    }

    void validateDirReportsFailures()
    {
        LogCapture log;
        DataDirHelper::validateDir(QStringLiteral("/proc/yxa-cannot-exist/sub"));
        QCOMPARE(log.count(QStringLiteral("Directory '/proc/yxa-cannot-exist/sub' is not created!")), 1);
        QCOMPARE(log.count(QStringLiteral("is not writable!")), 1);
    }

    void buildStamp_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("stamp");
        QTest::newRow("two-digit day") << "Feb 13 2025" << "10:11:12" << "2502131011";
        QTest::newRow("padded day") << "Feb  3 2025" << "07:05:00" << "2502030705";
        QTest::newRow("bad date") << "Foo 13 2025" << "10:11:12" << "";
        QTest::newRow("bad time") << "Feb 13 2025" << "25:61" << "";
    }

    void buildStamp()
    {
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(QString, stamp);
        QCOMPARE(BuildStamp::fromCompilerTexts(date, time), stamp);
    }
};

YXA_TEST_CLASS(KexDbSettingsTest)
YXA_TEST_CLASS(EnviroSettingsTest)
#include "tst_settings.moc"
