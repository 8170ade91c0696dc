#include "mariadbfixture.h"
#include "systemrun.h"
#include "testmain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

// Scale-out of the real host: two yxa-host processes over one information
// database share the tenants of both plug-ins and never send anything twice,
// also when one of them is killed; and one host among many tenants stays
// within its connection budget on a server with few connections to spare.
class ScaleOutTest : public QObject
{
    Q_OBJECT

    static constexpr int kLeaseSeconds = 10;
    // The mailing plug-in scans every 10 s and polls every 5 s (SystemRun's yxa.ini).
    static constexpr int kScanSeconds = 10;
    static constexpr int kPollSeconds = 5;
    static constexpr int kTickSeconds = 60;
    static const int kApiTenants = 4;

    std::unique_ptr<SystemRun> run;
    QStringList apiTenants;
    QStringList cateringTenants;

    static QSqlDatabase tenant(const QString &name)
    {
        return MariaDbFixture::rootConnection(QStringLiteral("so.") + name, name);
    }

    static int count(const QString &database, const QString &sql)
    {
        return MariaDbFixture::scalar(tenant(database), sql).toInt();
    }

    static bool addApiMails(const QString &database, const QString &tag, int mails)
    {
        QStringList rows;
        for (int n = 1; n <= mails; ++n)
            rows << QStringLiteral("('N', 'info@%1.example', '%1-%2@example.org', 'Správa %2', 'Dobrý deň.', "
                                   "UNIX_TIMESTAMP() - %3, '')")
                        .arg(database, tag + QString::number(n))
                        .arg(mails - n);
        return MariaDbFixture::exec(tenant(database),
                                    QStringLiteral("INSERT INTO emails (type, `from`, `to`, subject, body, created, data) "
                                                   "VALUES ")
                                        + rows.join(QStringLiteral(", ")));
    }

    bool createApiTenant(const QString &database, QString *error)
    {
        if (!MariaDbFixture::createTenant(QStringLiteral("so_info"), QStringLiteral("tok-") + database, database, 1,
                                          { QStringLiteral("tenant.sql") }, error))
            return false;
        apiTenants << database;
        return MariaDbFixture::exec(tenant(database),
                                    QStringLiteral("INSERT INTO vars (name, value) VALUES ('mailingType', '0'), "
                                                   "('globalEmail', 'info@%1.example')")
                                        .arg(database),
                                    error)
            && addApiMails(database, QStringLiteral("m"), 3);
    }

    // Mails that left through the fake API, by recipient.
    QMap<QString, int> apiSendsByRecipient() const
    {
        QMap<QString, int> sends;
        for (const QJsonObject &request : run->apiRequests()) {
            if (request.value(QStringLiteral("path")).toString() != QStringLiteral("/api/1.0/messages/send.json"))
                continue;
            const QJsonObject message = request.value(QStringLiteral("body")).toObject().value(QStringLiteral("message")).toObject();
            const QJsonArray to = message.value(QStringLiteral("to")).toArray();
            ++sends[to.isEmpty() ? QString() : to.first().toObject().value(QStringLiteral("email")).toString()];
        }
        return sends;
    }

    // Rows of a tenant that are not delivered, or were given up.
    static int undelivered(const QString &database)
    {
        return count(database, QStringLiteral("SELECT COUNT(*) FROM emails WHERE status <> 'S' OR done IS NULL"));
    }

    bool allDelivered(int ordersPerCateringTenant) const
    {
        for (const QString &db : apiTenants) {
            if (undelivered(db) != 0)
                return false;
        }
        for (const QString &db : cateringTenants) {
            if (undelivered(db) != 0
                || count(db, QStringLiteral("SELECT COUNT(*) FROM emails WHERE type = 'C'")) < ordersPerCateringTenant)
                return false;
        }
        return true;
    }

    // Waits until everything is delivered; the seconds it took, or -1.
    double waitForDelivery(int ordersPerCateringTenant, int timeoutSeconds)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutSeconds * 1000) {
            if (allDelivered(ordersPerCateringTenant))
                return timer.elapsed() / 1000.0;
            QTest::qWait(500);
        }
        return -1;
    }

    // (token, plug-in) -> the pid of the host that holds the lease.
    static QMap<QString, qint64> leaseHolders()
    {
        QMap<QString, qint64> holders;
        QSqlQuery query(tenant(QStringLiteral("so_info")));
        if (!query.exec(QStringLiteral("SELECT token, plugin, holder FROM tenant_leases")))
            return holders;
        while (query.next())
            holders.insert(query.value(0).toString() + QLatin1Char('/') + query.value(1).toString(),
                           query.value(2).toString().section(QLatin1Char(':'), 1, 1).toLongLong());
        return holders;
    }

    QString logs() const
    {
        QString text;
        for (int number = 0; number < run->hostCount(); ++number)
            text += QStringLiteral("--- host %1\n").arg(number) + run->hostLog(number).right(3000);
        return text;
    }

    // Every mail of every tenant went out once: rows, API and SMTP server agree.
    void checkEachMailOnce(int mailsPerApiTenant, int ordersPerCateringTenant)
    {
        const QMap<QString, int> sends = apiSendsByRecipient();
        for (auto send = sends.cbegin(); send != sends.cend(); ++send)
            QVERIFY2(send.value() == 1, qPrintable(QStringLiteral("%1 sent %2 times").arg(send.key()).arg(send.value())));
        QCOMPARE(sends.size(), apiTenants.size() * mailsPerApiTenant);
        for (const QString &db : apiTenants) {
            QCOMPARE(count(db, QStringLiteral("SELECT COUNT(*) FROM emails WHERE status = 'S' AND sent = 1 "
                                              "AND apiID LIKE 'fake-%'")),
                     mailsPerApiTenant);
            QCOMPARE(count(db, QStringLiteral("SELECT COUNT(*) FROM emails")), mailsPerApiTenant);
        }
        for (const QString &db : cateringTenants) {
            QCOMPARE(count(db, QStringLiteral("SELECT COUNT(*) FROM emails WHERE type = 'C' AND status = 'S' "
                                              "AND apiID IS NULL")),
                     ordersPerCateringTenant);
            QCOMPARE(count(db, QStringLiteral("SELECT COUNT(*) FROM emails")), ordersPerCateringTenant);
        }
        QCOMPARE(run->receivedMails().size(), cateringTenants.size() * ordersPerCateringTenant);
    }


    // A MariaDB server of the test's own, started with further options and
    // stopped when the object goes.
    struct PrivateServer {
        QTemporaryDir dir { QDir::tempPath() + QStringLiteral("/yxa-so-XXXXXX") };
        int port = 0;
        QString password;

        static QString script() { return SystemRun::sourceDir() + QStringLiteral("/tests/support/mariadb-server"); }

        bool start(const QStringList &options, QString *error)
        {
            QProcess server;
            server.setProcessChannelMode(QProcess::MergedChannels);
            server.start(script(), QStringList { QStringLiteral("start"), dir.path() } + options);
            if (!server.waitForFinished(120000) || server.exitCode() != 0) {
                *error = QStringLiteral("the private server did not start: ") + QString::fromUtf8(server.readAll());
                return false;
            }
            QFile portFile(dir.filePath(QStringLiteral("port")));
            QFile passwordFile(dir.filePath(QStringLiteral("root-password")));
            if (!portFile.open(QIODevice::ReadOnly) || !passwordFile.open(QIODevice::ReadOnly))
                return false;
            port = portFile.readAll().trimmed().toInt();
            password = QString::fromUtf8(passwordFile.readAll().trimmed());
            return port > 0;
        }

        // Runs SQL text through the mariadb client in one go.
        bool run(const QByteArray &sql, QString *error) const
        {
            QProcess client;
            client.setProcessChannelMode(QProcess::MergedChannels);
            client.start(script(), { QStringLiteral("client"), dir.path() });
            client.write(sql);
            client.closeWriteChannel();
            if (!client.waitForFinished(300000) || client.exitCode() != 0) {
                *error = QStringLiteral("SQL set-up failed: ") + QString::fromUtf8(client.readAll()).left(2000);
                return false;
            }
            return true;
        }

        QSqlDatabase connection(const QString &name, const QString &user, const QString &secret) const
        {
            QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                           : QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
            db.setHostName(QStringLiteral("127.0.0.1"));
            db.setPort(port);
            db.setUserName(user);
            db.setPassword(secret);
            return db;
        }

        ~PrivateServer()
        {
            QProcess::execute(script(), { QStringLiteral("stop"), dir.path() });
        }
    };

    static QByteArray readSql(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() + "\n" : QByteArray();
    }

    static int threadsOf(qint64 pid)
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        const QList<QByteArray> lines = status.readAll().split('\n');
        for (const QByteArray &line : lines) {
            if (line.startsWith("Threads:"))
                return line.mid(8).trimmed().toInt();
        }
        return 0;
    }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
    }

    void cleanupTestCase() { run.reset(); }

    void twoHostsServeEachMailAndOrderOnce()
    {
        QString error;
        QVERIFY2(MariaDbFixture::createInfoDatabase(QStringLiteral("so_info"), &error), qPrintable(error));
        QVERIFY2(MariaDbFixture::createDatabase(QStringLiteral("so_kex"), QString(), QString(),
                                                { QStringLiteral("tenant.sql") }, &error),
                 qPrintable(error));
        run = std::make_unique<SystemRun>();
        QVERIFY2(run->startSmtpServer(&error), qPrintable(error));
        QVERIFY2(run->startFakeApi(&error), qPrintable(error));

        for (int n = 1; n <= kApiTenants; ++n)
            QVERIFY2(createApiTenant(QStringLiteral("so_api%1").arg(n), &error), qPrintable(error));
        const QString data = qEnvironmentVariable("YXA_TEST_DATA_DIR") + QStringLiteral("/e2e/");
        for (int n = 1; n <= 2; ++n) {
            const QString db = QStringLiteral("so_cat%1").arg(n);
            QVERIFY2(MariaDbFixture::createTenant(QStringLiteral("so_info"), QStringLiteral("tok-") + db, db, 1,
                                                  { QStringLiteral("tenant.sql"), QStringLiteral("catering.sql"),
                                                    data + QStringLiteral("catering-tenant.sql") },
                                                  &error),
                     qPrintable(error));
            QVERIFY2(MariaDbFixture::exec(tenant(db),
                                          QStringLiteral("INSERT INTO vars (name, value) VALUES ('smtpHost', '127.0.0.1'), "
                                                         "('smtpPort', '%1'), ('smtpType', '0'), ('smtpMethod', '0')")
                                              .arg(run->smtpPort()),
                                          &error),
                     qPrintable(error));
            cateringTenants << db;
        }

        // Both hosts at once: their first scans race for the same tenants.
        const QMap<QString, QString> keys { { QStringLiteral("leaseSeconds"), QString::number(kLeaseSeconds) } };
        QCOMPARE(run->addHost(QStringLiteral("so_info"), QStringLiteral("so_kex"), keys, &error), 0);
        QCOMPARE(run->addHost(QStringLiteral("so_info"), QStringLiteral("so_kex"), keys, &error), 1);
        // A tenant that comes while both run is found by both hosts' scans.
        QTest::qWait(3000);
        QVERIFY2(createApiTenant(QStringLiteral("so_api5"), &error), qPrintable(error));

        // The catering workers tick a minute after they start.
        const double seconds = waitForDelivery(1, kTickSeconds + 90);
        QVERIFY2(run->hostRunning(0) && run->hostRunning(1), qPrintable(logs()));
        QVERIFY2(seconds >= 0, qPrintable(logs()));
        // Give a second delivery every chance: a scan and two polls.
        QTest::qWait((kScanSeconds + 2) * 1000);
        checkEachMailOnce(3, 1);

        // One host per tenant and plug-in, and both plug-ins hold their tenants.
        const QMap<QString, qint64> holders = leaseHolders();
        const QSet<qint64> hosts { run->hostPid(0), run->hostPid(1) };
        for (const QString &db : qAsConst(apiTenants))
            QVERIFY2(hosts.contains(holders.value(QStringLiteral("tok-%1/mailing").arg(db))), qPrintable(db));
        for (const QString &db : qAsConst(cateringTenants))
            QVERIFY2(hosts.contains(holders.value(QStringLiteral("tok-%1/tablora").arg(db))), qPrintable(db));
    }

    void aKilledHostsTenantsAreTakenOver()
    {
        QVERIFY(run && run->hostCount() == 2);
        // The host that serves the first catering tenant dies without a word.
        const qint64 victimPid = leaseHolders().value(QStringLiteral("tok-so_cat1/tablora"));
        const int victim = victimPid == run->hostPid(0) ? 0 : 1;
        const int survivor = 1 - victim;
        QCOMPARE(run->hostPid(victim), victimPid);
        run->killHost(victim);
        QElapsedTimer sinceKill;
        sinceKill.start();

        // New work for every tenant: one mail each, and new due orders (a day
        // later than the first ones) at both catering tenants.
        for (const QString &db : qAsConst(apiTenants))
            QVERIFY(addApiMails(db, QStringLiteral("late"), 1));
        for (const QString &db : qAsConst(cateringTenants)) {
            QVERIFY(MariaDbFixture::exec(tenant(db),
                                         QStringLiteral("INSERT INTO cat_orderables (orderableID, segmentID, date, bid, foodID, "
                                                        "locked) VALUES (31, 1, CURDATE() + INTERVAL 3 DAY, 1, 1, 1), "
                                                        "(34, 1, CURDATE() + INTERVAL 3 DAY, 1, 4, 1)")));
            QVERIFY(MariaDbFixture::exec(tenant(db),
                                         QStringLiteral("INSERT INTO cat_orders (orderableID, uid, quantity, ordered) VALUES "
                                                        "(31, 101, 2, 'web, Ján Novák, 2026-12-02 09:00')")));
        }

        // Mail: the lease runs out, the next look for orphans adopts the
        // tenant (every half lease), its worker polls.
        const int mailDeadline = kLeaseSeconds * 3 / 2 + kScanSeconds + kPollSeconds + 10;
        bool mailDone = false;
        while (!mailDone && sinceKill.elapsed() < mailDeadline * 1000) {
            QTest::qWait(500);
            mailDone = true;
            for (const QString &db : qAsConst(apiTenants))
                mailDone = mailDone && undelivered(db) == 0;
        }
        QVERIFY2(mailDone, qPrintable(QStringLiteral("pending mail %1 s after the kill\n").arg(mailDeadline) + logs()));
        qInfo("mail of the killed host's tenants out %.1f s after the kill", sinceKill.elapsed() / 1000.0);
        // Orders: the adopted catering worker ticks a minute after it starts.
        const int orderDeadline = kLeaseSeconds * 3 / 2 + kTickSeconds + kPollSeconds + 20;
        const double seconds = waitForDelivery(2, orderDeadline - int(sinceKill.elapsed() / 1000));
        QVERIFY2(seconds >= 0, qPrintable(QStringLiteral("orders not mailed %1 s after the kill\n").arg(orderDeadline) + logs()));
        qInfo("orders mailed %.1f s after the kill", sinceKill.elapsed() / 1000.0);
        QVERIFY2(run->hostRunning(survivor), qPrintable(logs()));

        QTest::qWait((kScanSeconds + 2) * 1000);
        checkEachMailOnce(4, 2);
        // The survivor holds every tenant now, for both plug-ins.
        const QMap<QString, qint64> holders = leaseHolders();
        for (auto lease = holders.cbegin(); lease != holders.cend(); ++lease)
            QVERIFY2(lease.value() == run->hostPid(survivor), qPrintable(lease.key()));
        QCOMPARE(holders.size(), apiTenants.size() + 2 * cateringTenants.size());
        run->stopHost(survivor);
    }

    void aFrozenHostHandsOverWithoutDroppingMail()
    {
        QVERIFY(run && run->hostCount() == 2);
        QString error;
        // Bursts whose replies take a moment, so that mail is in flight and
        // claimed rows wait at the API client when the host stalls. The
        // request time-out outlasts the stall: the replies are read on waking.
        QVERIFY(run->setApiScript(QJsonObject {
            { QStringLiteral("send"), QJsonArray { QJsonObject { { QStringLiteral("delay"), 0.3 },
                                                                  { QStringLiteral("default"), true } } } } }));
        run->setApiRequestTimeout(120);
        for (const QString &db : qAsConst(apiTenants)) {
            QVERIFY(MariaDbFixture::exec(tenant(db),
                QStringLiteral("INSERT INTO vars (name, value) VALUES ('mailsPerPass', '50'), ('passSeconds', '120')")));
            QVERIFY(addApiMails(db, QStringLiteral("frz"), 15));
        }
        const QMap<QString, QString> keys { { QStringLiteral("leaseSeconds"), QString::number(kLeaseSeconds) } };
        const int first = run->addHost(QStringLiteral("so_info"), QStringLiteral("so_kex"), keys, &error);
        const int second = run->addHost(QStringLiteral("so_info"), QStringLiteral("so_kex"), keys, &error);
        QVERIFY2(first >= 0 && second >= 0, qPrintable(error));

        // Both hosts at work on their tenants' bursts.
        const auto mailingLeases = [](qint64 pid) {
            int held = 0;
            const QMap<QString, qint64> holders = leaseHolders();
            for (auto lease = holders.cbegin(); lease != holders.cend(); ++lease)
                held += lease.key().endsWith(QStringLiteral("/mailing")) && lease.value() == pid;
            return held;
        };
        const auto claimed = [this] {
            int rows = 0;
            for (const QString &db : qAsConst(apiTenants))
                rows += count(db, QStringLiteral("SELECT COUNT(*) FROM emails WHERE apiID LIKE 'yxa-claim:%'"));
            return rows;
        };
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 60000
            && !(mailingLeases(run->hostPid(first)) > 0 && mailingLeases(run->hostPid(second)) > 0 && claimed() > 0))
            QTest::qWait(100);
        QVERIFY2(claimed() > 0, qPrintable(logs()));

        // The busier host stalls for longer than its leases: the other one takes its tenants over.
        const int victim = mailingLeases(run->hostPid(first)) >= mailingLeases(run->hostPid(second)) ? first : second;
        run->freezeHost(victim, true);
        QTest::qWait((kLeaseSeconds * 2 + 2) * 1000);
        run->freezeHost(victim, false);

        const double seconds = waitForDelivery(2, 120);
        QVERIFY2(seconds >= 0, qPrintable(logs()));
        QVERIFY2(run->hostLog(victim).contains(QStringLiteral("is served by another host now")), qPrintable(logs()));
        QTest::qWait((kScanSeconds + 2) * 1000);
        QCOMPARE(claimed(), 0);
        checkEachMailOnce(4 + 15, 2);
        run->stopHost(first);
        run->stopHost(second);
        // The next cases expect the API's prompt default replies.
        QVERIFY(run->setApiScript(QJsonObject()));
        run->setApiRequestTimeout(15);
    }

    void manyTenantsStayWithinTheBudget()
    {
        const int tenants = 200;
        const int budget = 24;
        const int serverConnections = 40;
        PrivateServer server;
        QString error;
        // Tables in the system tablespace: 2600 of them are made in seconds.
        QVERIFY2(server.start({ QStringLiteral("--max-connections=%1").arg(serverConnections),
                                QStringLiteral("--innodb-file-per-table=0") },
                              &error),
                 qPrintable(error));

        run = std::make_unique<SystemRun>();
        QVERIFY2(run->startSmtpServer(&error), qPrintable(error));
        QVERIFY2(run->startFakeApi(&error), qPrintable(error));

        // Every tenant has one pending mail and orders that are due; even
        // tenants mail by SMTP, odd ones through the API. The host has an
        // account of its own, the tenants share one, and a third account has
        // no rights at all: it only shows whether anybody can still connect.
        const QString source = SystemRun::sourceDir();
        const QByteArray schema = readSql(source + QStringLiteral("/sql/tenant.sql"))
            + readSql(source + QStringLiteral("/sql/catering.sql"))
            + readSql(qEnvironmentVariable("YXA_TEST_DATA_DIR") + QStringLiteral("/e2e/catering-tenant.sql"));
        QByteArray sql = "CREATE DATABASE so_info; CREATE DATABASE so_kex;\n"
                         "CREATE USER 'so_host'@'%' IDENTIFIED BY 'host-pw';\n"
                         "GRANT ALL PRIVILEGES ON so_info.* TO 'so_host'@'%';\n"
                         "GRANT ALL PRIVILEGES ON so_kex.* TO 'so_host'@'%';\n"
                         "CREATE USER 'so_tenant'@'%' IDENTIFIED BY 'tenant-pw';\n"
                         "GRANT ALL PRIVILEGES ON `so\\_t%`.* TO 'so_tenant'@'%';\n"
                         "CREATE USER 'so_probe'@'%' IDENTIFIED BY 'probe-pw';\n"
                         "USE so_kex;\n"
            + readSql(source + QStringLiteral("/sql/tenant.sql")) + "USE so_info;\n"
            + readSql(source + QStringLiteral("/sql/info.sql"))
            + QStringLiteral("INSERT INTO `schemas` (token, name, user, pass, status) SELECT CONCAT('tok', seq), "
                             "CONCAT('so_t', seq), 'so_tenant', TO_BASE64('tenant-pw'), 1 FROM seq_1_to_%1;\n")
                  .arg(tenants)
                  .toUtf8();
        for (int n = 1; n <= tenants; ++n) {
            sql += QStringLiteral("CREATE DATABASE so_t%1; USE so_t%1;\n").arg(n).toUtf8() + schema;
            sql += n % 2 ? QByteArray("UPDATE vars SET value = '0' WHERE name = 'mailingType';\n")
                         : QStringLiteral("INSERT INTO vars (name, value) VALUES ('smtpHost', '127.0.0.1'), "
                                          "('smtpPort', '%1'), ('smtpType', '0'), ('smtpMethod', '0');\n")
                               .arg(run->smtpPort())
                               .toUtf8();
            sql += QStringLiteral("INSERT INTO emails (type, `from`, `to`, subject, body, created, data) VALUES "
                                  "('N', 'info@t%1.example', 'client-%1@example.org', 'Faktúra', 'Dobrý deň.', "
                                  "UNIX_TIMESTAMP(), '');\n")
                       .arg(n)
                       .toUtf8();
        }
        QElapsedTimer timer;
        timer.start();
        QVERIFY2(server.run(sql, &error), qPrintable(error));
        qInfo("%d tenants set up in %.1f s", tenants, timer.elapsed() / 1000.0);

        QSqlDatabase root = server.connection(QStringLiteral("so.private.root"), QStringLiteral("root"), server.password);
        QVERIFY2(root.open(), qPrintable(root.lastError().text()));
        QStringList parts;
        for (int n = 1; n <= tenants; ++n)
            parts << QStringLiteral("SELECT type, status, done FROM so_t%1.emails").arg(n);
        const QString progress = QStringLiteral("SELECT COUNT(*), SUM(status = 'S' AND done IS NOT NULL), SUM(type = 'C') FROM (")
            + parts.join(QStringLiteral(" UNION ALL ")) + QStringLiteral(") AS mails");
        const QString hostConnections = QStringLiteral(
            "SELECT SUM(USER IN ('so_host', 'so_tenant')), SUM(USER = 'so_tenant') FROM information_schema.PROCESSLIST");

        run->setDatabaseServer(server.port, QStringLiteral("so_host"), QStringLiteral("host-pw"));
        QCOMPARE(run->addHost(QStringLiteral("so_info"), QStringLiteral("so_kex"),
                              { { QStringLiteral("maxConnections"), QString::number(budget) },
                                { QStringLiteral("leaseSeconds"), QString::number(kLeaseSeconds) } },
                              &error),
                 0);
        timer.restart();
        int peakHost = 0;
        int peakTenant = 0;
        int peakThreads = 0;
        int probes = 0;
        QStringList refused;
        bool done = false;
        QElapsedTimer lastCheck;
        lastCheck.start();
        // Ends well within the test function's own time limit, so that a
        // slow run fails with its states and the host's log.
        while (!done && timer.elapsed() < 180000 && run->hostRunning(0)) {
            QSqlQuery query(root);
            if (query.exec(hostConnections) && query.next()) {
                peakHost = qMax(peakHost, query.value(0).toInt());
                peakTenant = qMax(peakTenant, query.value(1).toInt());
            }
            peakThreads = qMax(peakThreads, threadsOf(run->hostPid(0)));
            if (lastCheck.elapsed() >= 1000) {
                lastCheck.restart();
                // Somebody else who wants in, with no rights that bend the limit.
                {
                    QSqlDatabase probe = server.connection(QStringLiteral("so.private.probe"), QStringLiteral("so_probe"),
                                                           QStringLiteral("probe-pw"));
                    ++probes;
                    if (!probe.open())
                        refused << probe.lastError().text();
                    probe.close();
                }
                done = query.exec(progress) && query.next() && query.value(0).toInt() == 2 * tenants
                    && query.value(1).toInt() == 2 * tenants && query.value(2).toInt() == tenants;
            }
            QTest::qWait(200);
        }
        const double seconds = timer.elapsed() / 1000.0;
        qInfo("%d tenants, %s after %.1f s: host connections at most %d (tenants %d), threads %d, %d probes",
              tenants, done ? "all delivered" : "not all delivered", seconds, peakHost, peakTenant, peakThreads, probes);
        QVERIFY2(run->hostRunning(0), qPrintable(logs()));
        if (!done) {
            QSqlQuery query(root);
            QString states;
            if (query.exec(QStringLiteral("SELECT type, status, done IS NULL, COUNT(*) FROM (")
                           + parts.join(QStringLiteral(" UNION ALL ")) + QStringLiteral(") AS mails GROUP BY 1, 2, 3"))) {
                while (query.next())
                    states += QStringLiteral("type %1 status %2 %3: %4\n")
                                  .arg(query.value(0).toString(), query.value(1).toString(),
                                       query.value(2).toBool() ? QStringLiteral("pending") : QStringLiteral("done"))
                                  .arg(query.value(3).toInt());
            }
            QFAIL(qPrintable(states + logs()));
        }
        QTest::qWait(kPollSeconds * 1000 + 1000);

        QVERIFY2(refused.isEmpty(), qPrintable(refused.join(QLatin1Char('\n'))));
        QVERIFY2(peakTenant <= budget, qPrintable(QString::number(peakTenant)));
        QVERIFY2(peakHost <= budget + 2, qPrintable(QString::number(peakHost)));
        QVERIFY2(peakThreads <= 2 * budget, qPrintable(QString::number(peakThreads)));
        // The server's own peak, which no sampling can miss: the host's budget
        // and its two own connections, our monitor, the probe and the root
        // connection that counts deliveries, and a connection or two that the
        // host has closed and counted back while the server still ends it.
        QSqlQuery status(root);
        QVERIFY(status.exec(QStringLiteral("SHOW GLOBAL STATUS WHERE Variable_name IN "
                                           "('Max_used_connections', 'Connection_errors_max_connections')")));
        QMap<QString, int> counters;
        while (status.next())
            counters.insert(status.value(0).toString(), status.value(1).toInt());
        QCOMPARE(counters.value(QStringLiteral("Connection_errors_max_connections"), -1), 0);
        QVERIFY2(counters.value(QStringLiteral("Max_used_connections")) <= budget + 2 + 3 + 2,
                 qPrintable(QString::number(counters.value(QStringLiteral("Max_used_connections")))));
        QVERIFY(!run->hostLog(0).contains(QStringLiteral("Too many connections")));

        // Each mail once: half by SMTP, half through the API, the orders too.
        QCOMPARE(run->receivedMails().size(), tenants);
        const QMap<QString, int> sends = apiSendsByRecipient();
        int apiSends = 0;
        for (auto send = sends.cbegin(); send != sends.cend(); ++send)
            apiSends += send.value();
        QCOMPARE(apiSends, tenants);
        for (int n = 1; n <= tenants; n += 2)
            QCOMPARE(sends.value(QStringLiteral("client-%1@example.org").arg(n)), 1);

        run->stopHost(0);
        run.reset();
        root.close();
    }
};

YXA_TEST_CLASS(ScaleOutTest)
#include "tst_scaleout.moc"
