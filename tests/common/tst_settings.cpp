#include "buildstamp.h"
#include "configcheck.h"
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

    void configCheck_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("inEffect");
        QTest::newRow("clean") << "host.ini"
                               << "[Host]\ndebugLevel=2\nplugins=mailing,tablora\n"
                               << ""
                               << "Host/plugins"
                               << "mailing,tablora";
        QTest::newRow("misspelt key") << "host.ini"
                                      << "[InfoDB]\npasword=x\n"
                                      << "unknown key [InfoDB] pasword: did you mean password?"
                                      << "InfoDB/password"
                                      << "";
        QTest::newRow("wrong capital") << "yxa.ini"
                                       << "[MailingPlugin]\nApiKey=k\n"
                                       << "unknown key [MailingPlugin] ApiKey: did you mean apiKey?"
                                       << "MailingPlugin/apiKey"
                                       << "";
        QTest::newRow("far from all") << "host.ini"
                                      << "[Host]\ncolour=blue\n"
                                      << "unknown key [Host] colour is ignored"
                                      << "Host/debugLevel"
                                      << "0";
        QTest::newRow("misspelt group") << "host.ini"
                                        << "[Hots]\ndebugLevel=1\n"
                                        << "unknown group [Hots]: did you mean [Host]?"
                                        << "Host/debugLevel"
                                        << "0";
        QTest::newRow("outside a group") << "host.ini"
                                         << "debugLevel=1\n"
                                         << "key debugLevel stands outside a group"
                                         << "Host/debugLevel"
                                         << "0";
        QTest::newRow("word for a number") << "yxa.ini"
                                           << "[MailingPlugin]\ninterval=five\n"
                                           << "[MailingPlugin] interval=five is refused (a whole "
                                              "number from 0 to 86400 expected); "
                                              "the default 10 is used"
                                           << "MailingPlugin/interval"
                                           << "10";
        QTest::newRow("below the minimum") << "host.ini"
                                           << "[Host]\nmaxConnections=1\n"
                                           << "[Host] maxConnections=1 is refused (a whole number "
                                              "of at least 2 expected); the default 32 is used"
                                           << "Host/maxConnections"
                                           << "32";
        QTest::newRow("port out of range")
            << "host.ini"
            << "[KexDB]\nport=70000\n"
            << "[KexDB] port=70000 is refused (a whole number from 1 to 65535"
            << "KexDB/port"
            << "3306";
        QTest::newRow("not a boolean") << "host.ini"
                                       << "[Host]\ncloseInfoDB=maybe\n"
                                       << "closeInfoDB=maybe is refused (true or false expected)"
                                       << "Host/closeInfoDB"
                                       << "false";
        QTest::newRow("boolean word") << "host.ini"
                                      << "[Host]\ncloseInfoDB=Yes\n"
                                      << ""
                                      << "Host/closeInfoDB"
                                      << "Yes";
        QTest::newRow("not a URL")
            << "yxa.ini"
            << "[MailingPlugin]\napiUrl=ftp://relay\n"
            << "apiUrl=ftp://relay is refused (an http(s) URL with a host expected)"
            << "MailingPlugin/apiUrl"
            << "https://mandrillapp.com";
        QTest::newRow("timeout fraction") << "yxa.ini"
                                          << "[MailingPlugin]\nrequestTimeout=0.5\n"
                                          << ""
                                          << "MailingPlugin/requestTimeout"
                                          << "0.5";
        QTest::newRow("listener off") << "host.ini"
                                      << "[Host]\nmetricsListen=\n"
                                      << ""
                                      << "Host/metricsListen"
                                      << "";
        QTest::newRow("listener without port")
            << "host.ini"
            << "[Host]\nmetricsListen=localhost\n"
            << "metricsListen=localhost is refused (host:port (or empty)"
            << "Host/metricsListen"
            << "127.0.0.1:9464";
    }

    void configCheck()
    {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(QString, problem);
        QFETCH(QString, key);
        QFETCH(QString, inEffect);
        QTemporaryDir dir;
        QFile file(dir.filePath(kind));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        file.close();
        const ConfigCheck check(kind, file.fileName());
        QVERIFY(check.exists());
        QStringList texts;
        for (const ConfigCheck::Problem &found : check.problems())
            texts << found.text;
        if (problem.isEmpty()) {
            QVERIFY2(texts.isEmpty(), qPrintable(texts.join(QLatin1Char('\n'))));
        } else {
            QCOMPARE(texts.size(), 1);
            QVERIFY2(texts.first().startsWith(file.fileName() + QStringLiteral(": ")),
                qPrintable(texts.first()));
            QVERIFY2(texts.first().contains(problem), qPrintable(texts.first()));
            // Names the host does not know are ignored: a warning, not an error.
            const bool unknownName = problem.startsWith(QStringLiteral("unknown"))
                || problem.startsWith(QStringLiteral("key "));
            QCOMPARE(check.errorCount(), unknownName ? 0 : 1);
        }
        QCOMPARE(check.text(key.section(QLatin1Char('/'), 0, 0), key.section(QLatin1Char('/'), 1)),
            inEffect);
    }

    void configEnvironmentAndSecrets()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("host.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[InfoDB]\npassword=s3cret-in-file\n");
        file.close();
        qputenv("KEXDB_PASSWORD", "s3cret-from-env");
        qputenv("HOST_DEBUGLEVEL", "two");
        qputenv("INFODB_PASSWORD", "loses-to-the-file");
        const ConfigCheck check(QStringLiteral("host.ini"), file.fileName());
        qunsetenv("KEXDB_PASSWORD");
        qunsetenv("HOST_DEBUGLEVEL");
        qunsetenv("INFODB_PASSWORD");
        QCOMPARE(check.text(QStringLiteral("InfoDB"), QStringLiteral("password")),
            QStringLiteral("s3cret-in-file"));
        QCOMPARE(check.text(QStringLiteral("KexDB"), QStringLiteral("password")),
            QStringLiteral("s3cret-from-env"));
        // A variable that does not parse is refused like a file value.
        QCOMPARE(check.integer(QStringLiteral("Host"), QStringLiteral("debugLevel")), 0);
        QCOMPARE(check.problems().size(), 1);
        QVERIFY(check.problems().first().text.contains(
            QStringLiteral("[Host] debugLevel=two is refused")));
        const QString lines = check.effectiveLines().join(QLatin1Char('\n'));
        QVERIFY(lines.contains(QStringLiteral("[InfoDB] password = (set) (file)")));
        QVERIFY(lines.contains(
            QStringLiteral("[KexDB] password = (set) (environment KEXDB_PASSWORD)")));
        QVERIFY(lines.contains(QStringLiteral("[Host] leaseSeconds = 60 (default)")));
        QVERIFY(!lines.contains(QStringLiteral("s3cret")));
    }

    void configChanges_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QStringList>("changes");
        QTest::newRow("nothing") << "[Host]\ndebugLevel=1\n"
                                 << "[Host]\ndebugLevel=1\n"
                                 << QStringList();
        QTest::newRow("run-time value")
            << "[Host]\ndebugLevel=0\n"
            << "[Host]\ndebugLevel=2\ninfoDBRetry=5\n"
            << QStringList { "[Host] debugLevel: 0 -> 2", "[Host] infoDBRetry: 30 -> 5" };
        QTest::newRow("needs a restart")
            << "[InfoDB]\nport=3306\n"
            << "[InfoDB]\nport=3307\n"
            << QStringList { "[InfoDB] port: 3306 -> 3307 (needs a restart to take effect)" };
        QTest::newRow("secret") << "[KexDB]\npassword=old-one\n"
                                << "[KexDB]\npassword=new-one\n"
                                << QStringList {
                                       "[KexDB] password changed (needs a restart to take effect)"
                                   };
        QTest::newRow("back to default")
            << "[Host]\nplugins=mailing\n"
            << ""
            << QStringList { "[Host] plugins: mailing -> mailing,tablora (needs a "
                             "restart to take effect)" };
    }

    void configChanges()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QStringList, changes);
        QTemporaryDir dir;
        const auto write = [&](const QString &name, const QString &text) {
            QFile file(dir.filePath(name));
            file.open(QIODevice::WriteOnly);
            file.write(text.toUtf8());
            return file.fileName();
        };
        const ConfigCheck first(QStringLiteral("host.ini"), write(QStringLiteral("a.ini"), before));
        const ConfigCheck second(QStringLiteral("host.ini"), write(QStringLiteral("b.ini"), after));
        QCOMPARE(second.changesSince(first), changes);
    }

    void nearestKey_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("nearest");
        QTest::newRow("one letter missing") << "pasword"
                                            << "password";
        QTest::newRow("swapped letters") << "itnerval"
                                         << "interval";
        QTest::newRow("case only") << "MAILSPERPASS"
                                   << "mailsPerPass";
        QTest::newRow("two slips in a long word") << "chekIntervall"
                                                  << "checkInterval";
        QTest::newRow("nothing close") << "colour"
                                       << "";
        QTest::newRow("short word, far") << "x"
                                         << "";
    }

    void nearestKey()
    {
        QFETCH(QString, word);
        QFETCH(QString, nearest);
        const QStringList known { "password", "interval", "checkInterval", "mailsPerPass",
            "passSeconds", "apiKey" };
        QCOMPARE(ConfigKeys::nearest(word, known), nearest);
    }

    void everyKeyDefaultParses()
    {
        // A default that its own check refused would be replaced by itself.
        for (const ConfigKey &key : ConfigKeys::all()) {
            const bool emptyAllowed
                = key.kind == ConfigKey::Kind::Text || key.kind == ConfigKey::Kind::Address;
            if (QByteArray(key.defaultValue).isEmpty() && emptyAllowed)
                continue;
            QVERIFY2(
                ConfigCheck::parses(key, QLatin1String(key.defaultValue)), qPrintable(key.path()));
        }
    }
};

YXA_TEST_CLASS(KexDbSettingsTest)
YXA_TEST_CLASS(EnviroSettingsTest)
#include "tst_settings.moc"
