#include "mariadbfixture.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
        QString out;
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
        result.out = QString::fromUtf8(process.readAllStandardOutput());
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
    void operatorSeesAndRequeuesTheQueue()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        const QString info = QStringLiteral("host_ops_info");
        QVERIFY2(MariaDbFixture::createInfoDatabase(info, &error), qPrintable(error));
        for (const QString &db : { QStringLiteral("host_ops1"), QStringLiteral("host_ops2") })
            QVERIFY2(MariaDbFixture::createTenant(info, QStringLiteral("tok-") + db, db, 1,
                         { QStringLiteral("tenant.sql") }, &error),
                qPrintable(error));
        QSqlDatabase one = MariaDbFixture::rootConnection(QStringLiteral("ops.1"), QStringLiteral("host_ops1"));
        QSqlDatabase two = MariaDbFixture::rootConnection(QStringLiteral("ops.2"), QStringLiteral("host_ops2"));
        // Tenant 1: two pending (one of them an hour old), one waiting for a
        // retry, an 'E' of today, a 'B' of two days ago and a delivered mail.
        QVERIFY(MariaDbFixture::exec(one,
            QStringLiteral("INSERT INTO emails (mid, type, `from`, `to`, subject, body, created, status, done, "
                           "apiID, sent) VALUES "
                           "(1, 'N', 'a@x.test', 'p1@x.test', 's', 'b', UNIX_TIMESTAMP() - 3600, 'Q', NULL, NULL, 0), "
                           "(2, 'N', 'a@x.test', 'p2@x.test', 's', 'b', UNIX_TIMESTAMP() - 60, 'Q', NULL, NULL, 0), "
                           "(3, 'N', 'a@x.test', 'w@x.test', 's', 'b', UNIX_TIMESTAMP() - 60, 'Q', NULL, NULL, 0), "
                           "(4, 'N', 'a@x.test', 'e@x.test', 's', 'b', UNIX_TIMESTAMP() - 600, 'E', "
                           "UNIX_TIMESTAMP() - 300, NULL, 0), "
                           "(5, 'N', 'a@x.test', 'b@x.test', 's', 'b', UNIX_TIMESTAMP() - 200000, 'B', "
                           "UNIX_TIMESTAMP() - 172800, NULL, 0), "
                           "(6, 'N', 'a@x.test', 's@x.test', 's', 'b', UNIX_TIMESTAMP() - 100, 'S', 1800000000, 'id-6', 1)")));
        QVERIFY(MariaDbFixture::exec(one, QStringLiteral("CREATE TABLE IF NOT EXISTS email_retries (mid INT UNSIGNED "
                                                         "NOT NULL PRIMARY KEY) ENGINE=InnoDB")));
        QVERIFY(MariaDbFixture::exec(one, QStringLiteral("INSERT INTO email_retries (mid) VALUES (3)")));
        // Tenant 2 (no retry table): one mail out at a host right now.
        QVERIFY(MariaDbFixture::exec(two,
            QStringLiteral("INSERT INTO emails (mid, type, `from`, `to`, subject, body, created, status, apiID) VALUES "
                           "(1, 'N', 'a@x.test', 'o@x.test', 's', 'b', UNIX_TIMESTAMP(), 'Q', 'yxa-claim:h:1:w1:5')")));
        QVERIFY(MariaDbFixture::exec(MariaDbFixture::rootConnection(QStringLiteral("ops.info"), info),
            QStringLiteral("INSERT INTO tenant_leases (token, plugin, holder, expires) VALUES "
                           "('tok-host_ops1', 'mailing', 'hostA:42:mailing:abc', UNIX_TIMESTAMP() + 600), "
                           "('tok-host_ops1', 'tablora', 'hostB:7:tablora:def', UNIX_TIMESTAMP() - 5)")));
        const QString config = writeConfig(QStringLiteral("ops.ini"),
            databaseSection(QStringLiteral("InfoDB"), info) + QStringLiteral("[Host]\nmaxConnections=4\n"));

        Result result = run({ QStringLiteral("--config"), config, QStringLiteral("--status"), QStringLiteral("--json") });
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        const QJsonObject document = QJsonDocument::fromJson(result.out.toUtf8()).object();
        const QJsonArray tenants = document.value(QStringLiteral("tenants")).toArray();
        QCOMPARE(tenants.size(), 2);
        const QJsonObject first = tenants.at(0).toObject();
        QCOMPARE(first.value(QStringLiteral("schema")).toString(), QStringLiteral("host_ops1"));
        QCOMPARE(first.value(QStringLiteral("pending")).toInt(), 2);
        QCOMPARE(first.value(QStringLiteral("waitingForRetry")).toInt(), 1);
        QCOMPARE(first.value(QStringLiteral("failed24h")).toObject().value(QStringLiteral("E")).toInt(), 1);
        QCOMPARE(first.value(QStringLiteral("failed24h")).toObject().value(QStringLiteral("B")).toInt(), 0);
        QVERIFY(qAbs(first.value(QStringLiteral("oldestPendingSeconds")).toInt() - 3600) < 60);
        QCOMPARE(first.value(QStringLiteral("lastSent")).toDouble(), 1800000000.0);
        // Only a lease still running names a host.
        QCOMPARE(first.value(QStringLiteral("holders")).toObject(),
            QJsonObject({ { QStringLiteral("mailing"), QStringLiteral("hostA:42") } }));
        QCOMPARE(tenants.at(1).toObject().value(QStringLiteral("inFlight")).toInt(), 1);
        QCOMPARE(document.value(QStringLiteral("totals")).toObject().value(QStringLiteral("pending")).toInt(), 2);

        result = run({ QStringLiteral("--config"), config, QStringLiteral("--status") });
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QVERIFY(result.out.contains(QStringLiteral("host_ops2")));
        for (const QString &line : result.out.split(QLatin1Char('\n')))
            QVERIFY2(line.size() <= 80, qPrintable(line));

        // Pending and waiting rows are refused; the failed one goes again.
        result = run({ QStringLiteral("--config"), config, QStringLiteral("--requeue"), QStringLiteral("host_ops1"),
            QStringLiteral("--mid"), QStringLiteral("2,3,4,99") });
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QVERIFY2(result.out.startsWith(QStringLiteral("1 mails queued again")), qPrintable(result.out));
        QVERIFY(result.out.contains(QStringLiteral("mid 2 left as it is: pending")));
        QVERIFY(result.out.contains(QStringLiteral("mid 3 left as it is: waiting for a retry")));
        QVERIFY(result.out.contains(QStringLiteral("mid 99 left as it is: no such mail")));
        QCOMPARE(MariaDbFixture::scalar(one, QStringLiteral("SELECT CONCAT(status, IFNULL(done, '-')) FROM emails "
                                                            "WHERE mid = 4")).toString(),
            QStringLiteral("Q-"));
        // By age: the 'B' of two days ago, by token; the out row is never touched.
        result = run({ QStringLiteral("--config"), config, QStringLiteral("--requeue"), QStringLiteral("tok-host_ops1"),
            QStringLiteral("--failed-since"), QStringLiteral("3d") });
        QVERIFY2(result.out.startsWith(QStringLiteral("1 mails queued again")), qPrintable(result.out));
        QCOMPARE(MariaDbFixture::scalar(one, QStringLiteral("SELECT COUNT(*) FROM emails WHERE done IS NULL")).toInt(), 5);
        result = run({ QStringLiteral("--config"), config, QStringLiteral("--requeue"), QStringLiteral("host_ops2"),
            QStringLiteral("--mid"), QStringLiteral("1") });
        QVERIFY(result.out.contains(QStringLiteral("mid 1 left as it is: out at a transport now")));
        result = run({ QStringLiteral("--config"), config, QStringLiteral("--requeue"), QStringLiteral("nobody") });
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.err.contains(QStringLiteral("no enabled tenant")));
        for (const QString &db : { QStringLiteral("host_ops1"), QStringLiteral("host_ops2") })
            MariaDbFixture::dropDatabase(db, db);
        MariaDbFixture::dropDatabase(info);
    }
};

YXA_TEST_CLASS(YxaHostTest)
#include "tst_yxahost.moc"
