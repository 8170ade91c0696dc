#include "dbmanager.h"
#include "mariadbfixture.h"
#include "tenantleases.h"
#include "tenantsharing.h"
#include "testmain.h"

#include <QSqlQuery>
#include <QTest>
#include <QSet>
#include <QThread>

#include <memory>
#include <thread>
#include <vector>

// Two hosts over one information database, played by two managers with
// connections of their own; the database's clock is moved with the session
// timestamp of each manager's connection.
class TenantLeasesTest : public QObject
{
    Q_OBJECT

private:
    static constexpr const char *infoName = "cmn_lease_info";

    static QSqlDatabase infoConnection(const QString &name)
    {
        QSqlDatabase db = MariaDbFixture::connection(name, QString::fromLatin1(infoName),
            QStringLiteral("root"), MariaDbFixture::rootPassword());
        db.open();
        return db;
    }

    static void setClock(DBManager &manager, qint64 unixTime)
    {
        manager.withInfoDB([unixTime](QSqlDatabase &db) {
            return QSqlQuery(db).exec(QStringLiteral("SET timestamp = %1").arg(unixTime));
        });
    }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        QVERIFY2(MariaDbFixture::createInfoDatabase(QString::fromLatin1(infoName), &error),
            qPrintable(error));
        // Leases of disabled schemas are nobody's work and never show as orphans.
        QVERIFY(MariaDbFixture::exec(MariaDbFixture::rootConnection(QStringLiteral("lease.root"),
                                         QString::fromLatin1(infoName)),
            QStringLiteral("INSERT INTO `schemas` (token, name, status) VALUES ('t1', 'x', 1), "
                           "('off', 'y', 0)")));
    }

    void oneHolderAtATimeAndFailOver()
    {
        DBManager hostA(infoConnection(QStringLiteral("lease.a")), QSqlDatabase());
        DBManager hostB(infoConnection(QStringLiteral("lease.b")), QSqlDatabase());
        hostA.setInfoDB(hostA.getInfoDB());
        hostB.setInfoDB(hostB.getInfoDB());
        TenantLeases a(&hostA, QStringLiteral("mailing"));
        TenantLeases b(&hostB, QStringLiteral("mailing"));
        TenantLeases otherPlugin(&hostB, QStringLiteral("tablora"));
        QVERIFY(a.prepare());
        QVERIFY(b.prepare());
        QVERIFY(otherPlugin.prepare());
        const qint64 t0 = 2000000000;
        setClock(hostA, t0);
        setClock(hostB, t0);

        QVERIFY(a.take(QStringLiteral("t1")));
        QVERIFY(a.take(QStringLiteral("t1"))); // taking again is a renewal
        QVERIFY(!b.take(QStringLiteral("t1")));
        QVERIFY(otherPlugin.take(QStringLiteral("t1"))); // each plug-in leases on its own
        QVERIFY(a.take(QStringLiteral("off")));
        QVERIFY(b.orphans(10).isEmpty());
        QVERIFY(a.isCurrent());

        // Host A goes silent: after the lease the other host finds and takes the tenant.
        setClock(hostB, t0 + a.leaseSeconds() - 1);
        QVERIFY(!b.take(QStringLiteral("t1")));
        setClock(hostB, t0 + a.leaseSeconds() + 1);
        QCOMPARE(b.orphans(10), QStringList { QStringLiteral("t1") });
        QVERIFY(b.take(QStringLiteral("t1")));

        // A's renewal no longer brings the tenant back.
        setClock(hostA, t0 + a.leaseSeconds() + 2);
        bool ok = false;
        QVERIFY(!a.renew(&ok).contains(QStringLiteral("t1")));
        QVERIFY(ok);

        // A clean stop hands tenants over at once.
        b.releaseAll();
        QCOMPARE(a.orphans(10), QStringList { QStringLiteral("t1") });
        QVERIFY(a.take(QStringLiteral("t1")));
        QVERIFY(a.renew(&ok).contains(QStringLiteral("t1")));
    }

    void leasesOffWithoutTheTable()
    {
        QString error;
        QVERIFY2(MariaDbFixture::createDatabase(QStringLiteral("cmn_lease_ro"),
                     QStringLiteral("cmn_lease_ro"), QStringLiteral("ro"),
                     { QStringLiteral("info.sql") }, &error),
            qPrintable(error));
        QSqlDatabase root = MariaDbFixture::rootConnection();
        QVERIFY(MariaDbFixture::exec(root,
            QStringLiteral("REVOKE ALL PRIVILEGES ON `cmn_lease_ro`.* FROM "
                           "'cmn_lease_ro'@'%'")));
        QVERIFY(MariaDbFixture::exec(root,
            QStringLiteral("GRANT SELECT, UPDATE ON `cmn_lease_ro`.* TO "
                           "'cmn_lease_ro'@'%'")));
        QSqlDatabase db = MariaDbFixture::connection(QStringLiteral("lease.ro"),
            QStringLiteral("cmn_lease_ro"), QStringLiteral("cmn_lease_ro"), QStringLiteral("ro"));
        QVERIFY(db.open());
        DBManager host(db, QSqlDatabase());
        host.setInfoDB(db);
        TenantLeases leases(&host, QStringLiteral("mailing"));
        QVERIFY(!leases.prepare());
        QVERIFY(leases.take(QStringLiteral("any")));
        QVERIFY(leases.isCurrent());
        MariaDbFixture::dropDatabase(
            QStringLiteral("cmn_lease_ro"), QStringLiteral("cmn_lease_ro"));
    }

    void connectionBudget()
    {
        DBManager host;
        host.setMaxConnections(2);
        QVERIFY(host.acquireConnection());
        QVERIFY(host.acquireConnection());
        QVERIFY(!host.acquireConnection(50));
        std::thread releaser([&host] {
            QThread::msleep(100);
            host.releaseConnection();
        });
        QVERIFY(host.acquireConnection(5000)); // woken by the release
        releaser.join();
        QCOMPARE(host.connectionsInUse(), 2);
        QCOMPARE(host.connectionsPeak(), 2);
    }
    void takenOverTenantStopsAtOnce()
    {
        DBManager hostA(infoConnection(QStringLiteral("lease.ta")), QSqlDatabase());
        DBManager hostB(infoConnection(QStringLiteral("lease.tb")), QSqlDatabase());
        hostA.setInfoDB(hostA.getInfoDB());
        hostB.setInfoDB(hostB.getInfoDB());
        TenantLeases a(&hostA, QStringLiteral("turns"));
        TenantLeases b(&hostB, QStringLiteral("turns"));
        QVERIFY(a.prepare());
        QVERIFY(b.prepare());
        QVERIFY(a.take(QStringLiteral("t1")));
        QVERIFY(a.take(QStringLiteral("t2")));
        QVERIFY(a.isCurrent(QStringLiteral("t1")));
        QVERIFY(!a.isCurrent(QStringLiteral("t3")));

        // A stalled A: B took t1 over meanwhile. A's renewal confirms the
        // host, but t1's work stops with that same renewal, before its
        // worker is retired.
        QVERIFY(MariaDbFixture::exec(infoConnection(QStringLiteral("lease.tc")),
            QStringLiteral("UPDATE tenant_leases SET expires = 0 WHERE plugin = 'turns' AND token = 't1'")));
        QVERIFY(b.take(QStringLiteral("t1")));
        bool ok = false;
        const QSet<QString> held = a.renew(&ok);
        QVERIFY(ok);
        QCOMPARE(held, QSet<QString> { QStringLiteral("t2") });
        QVERIFY(a.isCurrent());
        QVERIFY(!a.isCurrent(QStringLiteral("t1")));
        QVERIFY(a.isCurrent(QStringLiteral("t2")));
        QVERIFY(b.isCurrent(QStringLiteral("t1")));
    }

    void hostsShareTheTenantsEvenly()
    {
        const QString info = QStringLiteral("cmn_share_info");
        QString error;
        QVERIFY2(MariaDbFixture::createInfoDatabase(info, &error), qPrintable(error));
        QSqlDatabase root = MariaDbFixture::rootConnection(QStringLiteral("share.root"), info);
        QVERIFY(MariaDbFixture::exec(root,
            QStringLiteral("INSERT INTO `schemas` (token, name, status) SELECT CONCAT('s', seq), "
                           "CONCAT('n', seq), 1 FROM seq_1_to_30")));

        // One host as the plug-ins run it: its sharing, and the tenants it serves.
        struct Host
        {
            DBManager manager;
            TenantSharing sharing;
            QSet<QString> serving;
            Host(const QString &name, const QString &database)
                : manager(MariaDbFixture::connection(name, database, QStringLiteral("root"),
                              MariaDbFixture::rootPassword()),
                    QSqlDatabase())
                , sharing(QStringLiteral("mailing"), name)
            {
                manager.getInfoDB().open();
                manager.setInfoDB(manager.getInfoDB());
                sharing.served = [this] { return QStringList(serving.begin(), serving.end()); };
                sharing.serve = [this](const QString &token) {
                    if (sharing.take(token))
                        serving.insert(token);
                };
                sharing.lose = [this](const QString &token) { serving.remove(token); };
                sharing.setUp(&manager);
            }
        };
        std::vector<std::unique_ptr<Host>> hosts;
        for (int i = 0; i < 3; ++i)
            hosts.push_back(std::make_unique<Host>(QStringLiteral("share.%1").arg(i), info));
        // The first host to scan finds every tenant.
        for (int i = 1; i <= 30; ++i)
            hosts[0]->sharing.serve(QStringLiteral("s%1").arg(i));

        const auto looks = [&hosts](int rounds) {
            for (int round = 0; round < rounds; ++round) {
                for (auto &host : hosts) {
                    host->sharing.renew();
                    host->sharing.adoptOrphans();
                }
            }
        };
        // Every tenant served exactly once, as the lease table says.
        const auto checkServedOnce = [&hosts, &root]() -> bool {
            QSet<QString> all;
            int total = 0;
            for (auto &host : hosts) {
                all += host->serving;
                total += host->serving.size();
                QSqlQuery held(root);
                if (!held.exec(QStringLiteral("SELECT COUNT(*) FROM tenant_leases WHERE plugin = 'mailing' "
                                              "AND holder = '%1' AND expires > UNIX_TIMESTAMP()")
                                   .arg(host->sharing.leases()->holder()))
                    || !held.next() || held.value(0).toInt() != host->serving.size())
                    return false;
            }
            return all.size() == 30 && total == 30;
        };

        looks(6);
        QVERIFY(checkServedOnce());
        for (auto &host : hosts)
            QVERIFY2(qAbs(host->serving.size() - 10) <= 2, qPrintable(QString::number(host->serving.size())));

        // A fourth host joins and gets its share within a few looks.
        hosts.push_back(std::make_unique<Host>(QStringLiteral("share.3"), info));
        looks(6);
        QVERIFY(checkServedOnce());
        for (auto &host : hosts)
            QVERIFY2(qAbs(host->serving.size() - 8) <= 2, qPrintable(QString::number(host->serving.size())));

        // One leaves for good: the others cover its tenants once its leases ran out.
        hosts.back()->sharing.shutdown();
        hosts.pop_back();
        looks(2);
        QVERIFY(checkServedOnce());
        MariaDbFixture::dropDatabase(info, QString());
    }
};

YXA_TEST_CLASS(TenantLeasesTest)
#include "tst_tenantleases.moc"
