#include "mariadbfixture.h"
#include "testmain.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The stand-in host binary: configuration, exit codes, and a real run against
// an information database with both plug-ins.
class YxaHostTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    static QString hostBinary() { return qEnvironmentVariable("YXA_BINARY_DIR") + QStringLiteral("/bin/yxa-host"); }

    struct Result
    {
        int exitCode = -1;
        QString err;
    };

    Result run(const QStringList &args, int timeoutMs = 60000)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("YXA_DATA_DIR"), dir.filePath(QStringLiteral("etc")));
        env.insert(QStringLiteral("YXA_LOG_DIR"), dir.filePath(QStringLiteral("log")));
        process.setProcessEnvironment(env);
        process.start(hostBinary(), args);
        Result result;
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            result.err = QStringLiteral("timed out");
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    QString writeConfig(const QString &name, const QString &text)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(text.toUtf8());
        return path;
    }

    QString databaseSection(const QString &group, const QString &database)
    {
        return QStringLiteral("[%1]\nhost=127.0.0.1\nport=%2\ndatabase=%3\nuser=root\npassword=%4\n")
            .arg(group)
            .arg(MariaDbFixture::port())
            .arg(database, MariaDbFixture::rootPassword());
    }

private slots:
    void errorExits_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("config");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing config") << QStringList { "--config", "/nonexistent/host.ini" } << QString() << 1
                                        << "does not exist";
        QTest::newRow("unknown plug-in") << QStringList() << "[Host]\nplugins=mailing,nosuch\n" << 1
                                         << "unknown plug-in 'nosuch'";
        QTest::newRow("bad option") << QStringList { "--no-such-option" } << QString() << 2 << "Unknown option";
        QTest::newRow("bad run-for") << QStringList { "--run-for", "soon" } << "[Host]\n" << 2 << "--run-for";
        QTest::newRow("empty plug-in list") << QStringList() << "[Host]\nplugins=\n" << 1 << "no plug-in started";
        QTest::newRow("no database") << QStringList() << "[Host]\nplugins=mailing\n" << 1
                                     << "no database configured: name one in [KexDB]";
    }

    void errorExits()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, config);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        if (!config.isEmpty())
            args << QStringLiteral("--config") << writeConfig(QStringLiteral("err.ini"), config);
        const Result result = run(args);
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
    }

    void runsBothPluginsAgainstAnInformationDatabase()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        QVERIFY2(MariaDbFixture::createInfoDatabase(QStringLiteral("host_info"), &error), qPrintable(error));
        QVERIFY2(MariaDbFixture::createDatabase(QStringLiteral("host_kex"), QString(), QString(),
                                                { QStringLiteral("tenant.sql") }, &error),
                 qPrintable(error));
        QVERIFY2(MariaDbFixture::createTenant(QStringLiteral("host_info"), QStringLiteral("h1"), QStringLiteral("host_t1"),
                                              1, { QStringLiteral("tenant.sql"), QStringLiteral("catering.sql") }, &error),
                 qPrintable(error));
        const QString config = writeConfig(
            QStringLiteral("host.ini"),
            databaseSection(QStringLiteral("InfoDB"), QStringLiteral("host_info"))
                + databaseSection(QStringLiteral("KexDB"), QStringLiteral("host_kex"))
                + QStringLiteral("[Host]\nplugins=mailing,tablora\ndebugLevel=1\n"));
        const Result result = run({ QStringLiteral("--config"), config, QStringLiteral("--run-for"), QStringLiteral("3") });
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QVERIFY2(result.err.contains(QStringLiteral("plug-in mailing started")), qPrintable(result.err));
        QVERIFY2(result.err.contains(QStringLiteral("plug-in tablora started")), qPrintable(result.err));
        QVERIFY(result.err.contains(QStringLiteral("VER=1.1.2")));
        QVERIFY(result.err.contains(QStringLiteral("VER=2.3.0")));
        QVERIFY(result.err.contains(QStringLiteral("yxa-host: stopped")));
        // Secrets stay out of the log.
        QVERIFY(!result.err.contains(MariaDbFixture::rootPassword()));
    }

    void waitsForInformationDatabase()
    {
        YXA_REQUIRE_MARIADB();
        const QString info = QStringLiteral("host_late_info");
        MariaDbFixture::dropDatabase(info);
        const QString config = writeConfig(
            QStringLiteral("late.ini"),
            databaseSection(QStringLiteral("InfoDB"), info)
                + QStringLiteral("[Host]\nplugins=mailing\ndebugLevel=1\ninfoDBRetry=1\n"));
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("YXA_DATA_DIR"), dir.filePath(QStringLiteral("etc")));
        process.setProcessEnvironment(env);
        process.start(hostBinary(), { QStringLiteral("--config"), config, QStringLiteral("--run-for"), QStringLiteral("60") });
        QVERIFY(process.waitForStarted());
        QString err;
        const auto notReachable = [&] {
            err += QString::fromUtf8(process.readAllStandardError());
            return err.count(QStringLiteral("information database \"host_late_info\"")) >= 2;
        };
        // Tried again and again, and nothing starts meanwhile.
        QTRY_VERIFY_WITH_TIMEOUT(notReachable(), 20000);
        QVERIFY2(!err.contains(QStringLiteral("plug-in mailing")), qPrintable(err));
        QVERIFY(err.contains(QStringLiteral("information database \"host_late_info\" is not reachable")));
        QVERIFY(err.contains(QStringLiteral("information database \"host_late_info\" is still not reachable")));

        QString error;
        QVERIFY2(MariaDbFixture::createInfoDatabase(info, &error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT((err += QString::fromUtf8(process.readAllStandardError()))
                                     .contains(QStringLiteral("plug-in mailing started")),
                                 20000);
        QVERIFY2(err.contains(QStringLiteral("MailingPlugin - is info db: YES")), qPrintable(err));
        QVERIFY(!err.contains(QStringLiteral("Driver not loaded")));
        process.terminate();
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 0);
        MariaDbFixture::dropDatabase(info);
    }

    void sigtermStopsCleanly()
    {
        const QString config = writeConfig(QStringLiteral("sig.ini"),
                                           databaseSection(QStringLiteral("KexDB"), QStringLiteral("host_kex"))
                                               + QStringLiteral("[Host]\nplugins=mailing\n"));
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("YXA_DATA_DIR"), dir.filePath(QStringLiteral("etc")));
        process.setProcessEnvironment(env);
        process.start(hostBinary(), { QStringLiteral("--config"), config });
        QVERIFY(process.waitForStarted());
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += process.readAllStandardError()).contains("plug-in mailing"), 20000);
        process.terminate();
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }
};

YXA_TEST_CLASS(YxaHostTest)
#include "tst_yxahost.moc"
