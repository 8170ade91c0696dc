#include "mariadbfixture.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

    QProcessEnvironment hostEnvironment()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("YXA_DATA_DIR"), dir.filePath(QStringLiteral("etc")));
        env.insert(QStringLiteral("YXA_LOG_DIR"), dir.filePath(QStringLiteral("log")));
        // Several hosts run on this machine at once: no listener unless asked.
        env.insert(QStringLiteral("HOST_METRICSLISTEN"), QString());
        return env;
    }

    Result run(const QStringList &args, int timeoutMs = 60000)
    {
        QProcess process;
        process.setProcessEnvironment(hostEnvironment());
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

    // yxa.ini in the data directory the host is given; a null text removes it.
    void writeYxaIni(const QString &text)
    {
        QDir().mkpath(dir.filePath(QStringLiteral("etc")));
        const QString path = dir.filePath(QStringLiteral("etc/yxa.ini"));
        QFile::remove(path);
        if (text.isNull())
            return;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
    }

    static int readPort(const QString &fileName)
    {
        QFile file(fileName);
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
    }

    static int freePort()
    {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost, 0))
            return 0;
        return server.serverPort();
    }

    struct HttpReply
    {
        int status = 0;
        QByteArray body;
    };

    static HttpReply httpGet(int port, const QByteArray &path)
    {
        HttpReply reply;
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        if (!socket.waitForConnected(5000))
            return reply;
        socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        QByteArray data;
        while (socket.waitForReadyRead(5000))
            data += socket.readAll();
        data += socket.readAll();
        const int headerEnd = data.indexOf("\r\n\r\n");
        if (!data.startsWith("HTTP/1.1 ") || headerEnd < 0)
            return reply;
        reply.status = data.mid(9, 3).toInt();
        reply.body = data.mid(headerEnd + 4);
        return reply;
    }

    static QString promtoolComplaint(const QByteArray &exposition)
    {
        const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
        if (promtool.isEmpty())
            return QStringLiteral("promtool (Debian package prometheus) is not installed");
        QProcess process;
        process.start(promtool, { QStringLiteral("check"), QStringLiteral("metrics") });
        process.waitForStarted();
        process.write(exposition);
        process.closeWriteChannel();
        process.waitForFinished(30000);
        const QString said
            = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())
                  .trimmed();
        if (process.exitCode() != 0 || !said.isEmpty())
            return QStringLiteral("promtool: ") + said;
        return QString();
    }

    // A datagram socket in the place of systemd's NOTIFY_SOCKET.
    struct NotifySocket
    {
        int fd = -1;
        QString path;
        QStringList messages;

        bool open(const QString &socketPath)
        {
            path = socketPath;
            fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            const QByteArray bytes = QFile::encodeName(path);
            if (fd < 0 || size_t(bytes.size()) >= sizeof address.sun_path)
                return false;
            std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
            return ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        }
        void drain()
        {
            char buffer[4096];
            ssize_t got = 0;
            while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                messages << QString::fromUtf8(buffer, int(got));
        }
        int count(const QString &line)
        {
            drain();
            int n = 0;
            for (const QString &message : qAsConst(messages))
                n += message.split(QLatin1Char('\n')).contains(line) ? 1 : 0;
            return n;
        }
        ~NotifySocket()
        {
            if (fd >= 0)
                ::close(fd);
            QFile::remove(path);
        }
    };

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
        // The settings in effect are there, the password masked, and so is
        // the word that yxa.ini is missing.
        QVERIFY2(result.err.contains(
                     QStringLiteral("yxa-host: setting [InfoDB] password = (set) (file)")),
            qPrintable(result.err));
        QVERIFY(
            result.err.contains(QStringLiteral("yxa-host: setting [Host] debugLevel = 1 (file)")));
        QVERIFY(result.err.contains(
            QStringLiteral("yxa-host: setting [MailingPlugin] interval = 10 (default)")));
        QVERIFY(result.err.contains(
            QStringLiteral("/etc/yxa.ini does not exist: the mailing plug-in runs on "
                           "defaults and the environment")));
        QVERIFY(result.err.contains(QStringLiteral("with the API key built into the plug-in")));
    }

    void checkConfig_data()
    {
        QTest::addColumn<QString>("hostIni");
        QTest::addColumn<QString>("yxaIni");
        QTest::addColumn<bool>("connect");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("said");
        const QString kex = databaseSection(QStringLiteral("KexDB"), QStringLiteral("mysql"));
        const QString plugins = QStringLiteral("[Host]\nplugins=mailing\n");
        QTest::newRow("clean") << kex + plugins << "[MailingPlugin]\ninterval=20\napiKey=k-123\n"
                               << false << 0
                               << QStringList { "configuration OK",
                                      "[KexDB] password = (set) (file)",
                                      "[MailingPlugin] interval = 20 (file)",
                                      "[MailingPlugin] apiKey = (set) (file)" };
        QTest::newRow("misspelt key is a warning")
            << kex + plugins + "[InfoDB]\npasword=x\n"
            << "" << false << 0
            << QStringList { "warning: ", "unknown key [InfoDB] pasword: did you mean password?",
                   "configuration OK" };
        QTest::newRow("value that does not parse")
            << kex + plugins << "[MailingPlugin]\ninterval=five\n"
            << false << 1
            << QStringList { "error: ", "1 error(s)",
                   "[MailingPlugin] interval=five is refused (a whole number from 0 to 86400 "
                   "expected); "
                   "the default 10 is used",
                   "[MailingPlugin] interval = 10 (default)" };
        QTest::newRow("yxa.ini missing")
            << kex + plugins << QString() << false << 0
            << QStringList { "warning: ", "yxa.ini does not exist",
                   "the API key built into the plug-in", "configuration OK" };
        QTest::newRow("no database")
            << plugins << "" << false << 1 << QStringList { "no database configured" };
        QTest::newRow("unknown plug-in")
            << kex + "[Host]\nplugins=mailing,mailer\n"
            << "" << false << 1 << QStringList { "unknown plug-in 'mailer'" };
        // Nothing listens on port 1: only --connect would notice.
        QTest::newRow("connects to nothing unasked") << "[KexDB]\nport=1\ndatabase=x\n"
                + plugins << "" << false << 0 << QStringList { "configuration OK" };
        QTest::newRow("connect") << kex + plugins << "" << true << 0
                                 << QStringList { "[KexDB] mysql: connected", "configuration OK" };
        QTest::newRow("connect, login refused")
            << QString(kex).replace(MariaDbFixture::rootPassword(), QStringLiteral("wrong-one"))
                + plugins
            << "" << true << 1
            << QStringList { "error: [KexDB] mysql on 127.0.0.1", "Access denied for user 'root'" };
    }

    void checkConfig()
    {
        QFETCH(QString, hostIni);
        QFETCH(QString, yxaIni);
        QFETCH(bool, connect);
        QFETCH(int, exitCode);
        QFETCH(QStringList, said);
        if (connect)
            YXA_REQUIRE_MARIADB();
        writeYxaIni(yxaIni);
        QStringList args { QStringLiteral("--check-config"), QStringLiteral("--config"),
            writeConfig(QStringLiteral("check.ini"), hostIni) };
        if (connect)
            args << QStringLiteral("--connect");
        const Result result = run(args);
        writeYxaIni(QString());
        QVERIFY2(result.exitCode == exitCode, qPrintable(result.out + result.err));
        for (const QString &text : said)
            QVERIFY2(result.out.contains(text),
                qPrintable(text + QStringLiteral(" not in:\n") + result.out));
        QVERIFY(!result.out.contains(MariaDbFixture::rootPassword()));
        QVERIFY(!result.out.contains(QStringLiteral("k-123")));
    }

    void refusedLoginShowsServerText()
    {
        YXA_REQUIRE_MARIADB();
        const QString config = writeConfig(QStringLiteral("denied.ini"),
            databaseSection(QStringLiteral("InfoDB"), QStringLiteral("mysql"))
                    .replace(MariaDbFixture::rootPassword(), QStringLiteral("not-the-password"))
                + QStringLiteral("[Host]\nplugins=mailing\ninfoDBRetry=1\n"));
        const Result result = run({ QStringLiteral("--config"), config, QStringLiteral("--run-for"),
            QStringLiteral("2") });
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.err.contains(QStringLiteral(
                     "information database \"mysql\" refused the login: Access denied "
                     "for user 'root'")),
            qPrintable(result.err));
        // Tried again after a second, and still no network fault.
        QVERIFY2(result.err.contains(QStringLiteral(
                     "information database \"mysql\" still refuses the login: Access denied")),
            qPrintable(result.err));
        QVERIFY(!result.err.contains(QStringLiteral("not reachable")));
        QVERIFY(!result.err.contains(QStringLiteral("not-the-password")));
    }

    void metricsAndHealth()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        const QString info = QStringLiteral("hz_info");
        QVERIFY2(MariaDbFixture::createDatabase(
                     info, info, QStringLiteral("pw-hz"), { QStringLiteral("info.sql") }, &error),
            qPrintable(error));
        QVERIFY2(MariaDbFixture::createTenant(info, QStringLiteral("hz1"), QStringLiteral("hz_t1"),
                     1, { QStringLiteral("tenant.sql") }, &error),
            qPrintable(error));
        QSqlDatabase tenant
            = MariaDbFixture::connection(QStringLiteral("hz.t1"), QStringLiteral("hz_t1"),
                QStringLiteral("hz_t1"), MariaDbFixture::tenantPassword(QStringLiteral("hz_t1")));
        QVERIFY(tenant.open());
        QVERIFY(MariaDbFixture::exec(tenant,
            QStringLiteral("INSERT INTO emails (`from`, `to`, subject, body, created) "
                           "VALUES ('a@example.org', 'b@example.org', 'hi', 'x', 1)")));

        // The API is played by the fake; the host serves metrics on a free port.
        QProcess api;
        const QString portFile = dir.filePath(QStringLiteral("api.port"));
        api.start(QStringLiteral("/usr/bin/python3"),
            { qEnvironmentVariable("YXA_SOURCE_DIR")
                    + QStringLiteral("/tests/support/fake-mandrill.py"),
                QStringLiteral("--record"), dir.filePath(QStringLiteral("api.jsonl")),
                QStringLiteral("--port-file"), portFile, QStringLiteral("--max-seconds"),
                QStringLiteral("120") });
        QVERIFY(api.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(readPort(portFile) > 0, 10000);
        const int apiPort = readPort(portFile);
        const int port = freePort();
        QVERIFY(port > 0);
        const QString config = writeConfig(QStringLiteral("hz.ini"),
            QStringLiteral(
                "[InfoDB]\nhost=127.0.0.1\nport=%1\ndatabase=%2\nuser=%2\npassword=pw-hz\n"
                "[Host]\nplugins=mailing\nleaseSeconds=10\nmetricsListen=127.0.0.1:%3\n")
                .arg(MariaDbFixture::port())
                .arg(info)
                .arg(port));
        writeYxaIni(QStringLiteral("[MailingPlugin]\ninterval=5\napiUrl=http://127.0.0.1:%1\n")
                        .arg(apiPort));
        QProcess host;
        QProcessEnvironment env = hostEnvironment();
        env.remove(QStringLiteral("HOST_METRICSLISTEN"));
        host.setProcessEnvironment(env);
        host.start(hostBinary(), { QStringLiteral("--config"), config });
        QVERIFY(host.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(httpGet(port, "/healthz").status, 200, 20000);
        QCOMPARE(httpGet(port, "/healthz").body, QByteArray("{\"status\":\"ok\"}\n"));

        // The queued mail goes out through the API and is counted.
        const QByteArray sentSeries = "yxa_mails_total{status=\"S\",transport=\"api\"} 1\n";
        QTRY_VERIFY_WITH_TIMEOUT(httpGet(port, "/metrics").body.contains(sentSeries), 30000);
        const QByteArray metrics = httpGet(port, "/metrics").body;
        QVERIFY2(promtoolComplaint(metrics).isEmpty(), qPrintable(promtoolComplaint(metrics)));
        for (const QByteArray &line :
            { QByteArray("yxa_db_connection_budget 32\n"), QByteArray("yxa_info_db_up 1\n"),
                QByteArray("yxa_mail_send_duration_seconds_count{transport=\"api\"} 1\n"),
                QByteArray("yxa_plugin_info{plugin=\"mailing\",version=\"1.1.2\"} 1\n"),
                QByteArray("yxa_schema_scan_success 1\n"),
                QByteArray("yxa_mail_attempts_total{kind=\"accepted\"} 1\n"),
                QByteArray("yxa_mails_retry_waiting 0\n"), QByteArray("yxa_mail_oldest_pending_age_seconds "),
                QByteArray("yxa_build_info{qt_version=") })
            QVERIFY2(metrics.contains(line), (line + "missing in:\n" + metrics).constData());
        QVERIFY(!metrics.contains("hz1"));
        QCOMPARE(httpGet(port, "/nothing").status, 404);

        // The information database stops answering this host's user.
        QSqlDatabase root = MariaDbFixture::rootConnection();
        QVERIFY(MariaDbFixture::exec(root, QStringLiteral("DROP USER 'hz_info'@'%'")));
        QSqlQuery sessions(root);
        QVERIFY(sessions.exec(QStringLiteral(
            "SELECT id FROM information_schema.processlist WHERE user = 'hz_info'")));
        QStringList ids;
        while (sessions.next())
            ids << sessions.value(0).toString();
        for (const QString &id : qAsConst(ids))
            MariaDbFixture::exec(root, QStringLiteral("KILL ") + id);
        QTRY_COMPARE_WITH_TIMEOUT(httpGet(port, "/healthz").status, 503, 30000);
        const QJsonObject reason = QJsonDocument::fromJson(httpGet(port, "/healthz").body).object();
        QCOMPARE(reason.value(QStringLiteral("status")).toString(), QStringLiteral("unhealthy"));
        QVERIFY(reason.value(QStringLiteral("reasons"))
                    .toVariant()
                    .toStringList()
                    .contains(QStringLiteral("the information database does not answer")));
        QVERIFY(httpGet(port, "/metrics").body.contains("yxa_info_db_up 0\n"));

        // And it is back.
        QVERIFY(MariaDbFixture::exec(
            root, QStringLiteral("CREATE USER 'hz_info'@'%' IDENTIFIED BY 'pw-hz'")));
        QVERIFY(MariaDbFixture::exec(
            root, QStringLiteral("GRANT ALL PRIVILEGES ON hz_info.* TO 'hz_info'@'%'")));
        QTRY_COMPARE_WITH_TIMEOUT(httpGet(port, "/healthz").status, 200, 30000);

        host.terminate();
        QVERIFY(host.waitForFinished(20000));
        QCOMPARE(host.exitCode(), 0);
        api.kill();
        api.waitForFinished();
        writeYxaIni(QString());
        tenant.close();
    }

    void metricsPortInUseIsOneWarning()
    {
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        const QString config = writeConfig(QStringLiteral("busy.ini"),
            databaseSection(QStringLiteral("KexDB"), QStringLiteral("host_kex"))
                + QStringLiteral("[Host]\nplugins=mailing\nmetricsListen=127.0.0.1:%1\n")
                      .arg(squatter.serverPort()));
        QProcess process;
        QProcessEnvironment env = hostEnvironment();
        env.remove(QStringLiteral("HOST_METRICSLISTEN"));
        process.setProcessEnvironment(env);
        process.start(hostBinary(),
            { QStringLiteral("--config"), config, QStringLiteral("--run-for"),
                QStringLiteral("2") });
        QVERIFY(process.waitForFinished(30000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(err.count(QStringLiteral("metrics and health are not served on 127.0.0.1:%1")
                               .arg(squatter.serverPort())),
            1);
        QVERIFY2(err.contains(QStringLiteral("plug-in mailing started")), qPrintable(err));
    }

    void systemdNotifications()
    {
        NotifySocket notify;
        QVERIFY(notify.open(dir.filePath(QStringLiteral("notify.sock"))));
        const QString config = writeConfig(QStringLiteral("notify.ini"),
            databaseSection(QStringLiteral("KexDB"), QStringLiteral("host_kex"))
                + QStringLiteral("[Host]\nplugins=mailing\n"));
        QProcess process;
        QProcessEnvironment env = hostEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), notify.path);
        env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000"));
        process.setProcessEnvironment(env);
        process.start(hostBinary(), { QStringLiteral("--config"), config });
        QVERIFY(process.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(notify.count(QStringLiteral("READY=1")), 1, 20000);
        // Pings every 200 ms from the event loop.
        QTRY_VERIFY_WITH_TIMEOUT(notify.count(QStringLiteral("WATCHDOG=1")) >= 3, 5000);
        QCOMPARE(notify.count(QStringLiteral("STOPPING=1")), 0);

        ::kill(pid_t(process.processId()), SIGHUP);
        QTRY_COMPARE_WITH_TIMEOUT(notify.count(QStringLiteral("READY=1")), 2, 10000);
        QCOMPARE(notify.count(QStringLiteral("RELOADING=1")), 1);
        QCOMPARE(process.state(), QProcess::Running);

        process.terminate();
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(notify.count(QStringLiteral("STOPPING=1")), 1);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(
            err.contains(QStringLiteral("yxa-host: reload: no setting changed")), qPrintable(err));
    }

    void sighupReloadsWithoutLosingMailOrLease()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        const QString info = QStringLiteral("hup_info");
        QVERIFY2(MariaDbFixture::createInfoDatabase(info, &error), qPrintable(error));
        QVERIFY2(MariaDbFixture::createTenant(info, QStringLiteral("hup1"),
                     QStringLiteral("hup_t1"), 1, { QStringLiteral("tenant.sql") }, &error),
            qPrintable(error));
        QSqlDatabase tenant
            = MariaDbFixture::connection(QStringLiteral("hup.t1"), QStringLiteral("hup_t1"),
                QStringLiteral("hup_t1"), MariaDbFixture::tenantPassword(QStringLiteral("hup_t1")));
        QVERIFY(tenant.open());
        const QString insert
            = QStringLiteral("INSERT INTO emails (`from`, `to`, subject, body, created) VALUES "
                             "('a@example.org', 'b@example.org', '%1', 'x', 1)");
        QVERIFY(MariaDbFixture::exec(tenant, insert.arg(QStringLiteral("before"))));
        QProcess api;
        const QString portFile = dir.filePath(QStringLiteral("hup-api.port"));
        api.start(QStringLiteral("/usr/bin/python3"),
            { qEnvironmentVariable("YXA_SOURCE_DIR")
                    + QStringLiteral("/tests/support/fake-mandrill.py"),
                QStringLiteral("--record"), dir.filePath(QStringLiteral("hup-api.jsonl")),
                QStringLiteral("--port-file"), portFile, QStringLiteral("--max-seconds"),
                QStringLiteral("120") });
        QVERIFY(api.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(readPort(portFile) > 0, 10000);
        const QString apiUrl = QStringLiteral("http://127.0.0.1:%1").arg(readPort(portFile));

        const QString hostText = databaseSection(QStringLiteral("InfoDB"), info)
            + QStringLiteral("[Host]\nplugins=mailing\nleaseSeconds=%1\ndebugLevel=%2\n");
        const QString config = writeConfig(QStringLiteral("hup.ini"), hostText.arg(10).arg(0));
        // A pass every ten minutes: only the reload can make the second mail leave soon.
        writeYxaIni(QStringLiteral("[MailingPlugin]\ninterval=600\napiUrl=%1\n").arg(apiUrl));
        QProcess host;
        host.setProcessEnvironment(hostEnvironment());
        host.start(hostBinary(), { QStringLiteral("--config"), config });
        QVERIFY(host.waitForStarted());

        QSqlDatabase infoDb = MariaDbFixture::rootConnection(QStringLiteral("hup.info"), info);
        const QString leaseHolder
            = QStringLiteral("SELECT holder FROM tenant_leases WHERE token = 'hup1' AND plugin "
                             "= 'mailing' AND expires > UNIX_TIMESTAMP()");
        QTRY_VERIFY_WITH_TIMEOUT(
            !MariaDbFixture::scalar(infoDb, leaseHolder).toString().isEmpty(), 20000);
        const QString holder = MariaDbFixture::scalar(infoDb, leaseHolder).toString();
        QVERIFY(MariaDbFixture::exec(tenant, insert.arg(QStringLiteral("after"))));

        writeConfig(QStringLiteral("hup.ini"), hostText.arg(20).arg(1));
        writeYxaIni(
            QStringLiteral("[MailingPlugin]\ninterval=5\napiUrl=%1\nintervall=7\n").arg(apiUrl));
        ::kill(pid_t(host.processId()), SIGHUP);

        const QString sentBoth
            = QStringLiteral("SELECT COUNT(*) FROM emails WHERE status = 'S' AND done IS NOT NULL");
        QTRY_COMPARE_WITH_TIMEOUT(MariaDbFixture::scalar(tenant, sentBoth).toInt(), 2, 30000);
        QCOMPARE(host.state(), QProcess::Running);
        // Still this host's tenant, under the same lease.
        QCOMPARE(MariaDbFixture::scalar(infoDb, leaseHolder).toString(), holder);

        host.terminate();
        QVERIFY(host.waitForFinished(20000));
        QCOMPARE(host.exitCode(), 0);
        const QString err = QString::fromUtf8(host.readAllStandardError());
        for (const QString &line : { QStringLiteral("yxa-host: reload: [Host] debugLevel: 0 -> 1"),
                 QStringLiteral("yxa-host: reload: [Host] leaseSeconds: 10 -> 20 (needs a restart "
                                "to take effect)"),
                 QStringLiteral("yxa-host: reload: [MailingPlugin] interval: 600 -> 5"),
                 QStringLiteral("unknown key [MailingPlugin] intervall: did you mean interval?"),
                 // Written only at debug level 1: the plug-in took the new level.
                 QStringLiteral("MailingPlugin::reloadSettings() - interval 5000 ms") })
            QVERIFY2(err.contains(line), qPrintable(line + QStringLiteral(" not in:\n") + err));
        QCOMPARE(
            MariaDbFixture::scalar(tenant, QStringLiteral("SELECT COUNT(*) FROM emails")).toInt(),
            2);
        api.kill();
        api.waitForFinished();
        writeYxaIni(QString());
        tenant.close();
        infoDb.close();
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
        process.setProcessEnvironment(hostEnvironment());
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
        process.setProcessEnvironment(hostEnvironment());
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
