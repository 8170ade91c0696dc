#include "dbmanager.h"
#include "mariadbfixture.h"
#include "tenantleases.h"
#include "testmain.h"

#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <thread>

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
};

YXA_TEST_CLASS(TenantLeasesTest)
#include "tst_tenantleases.moc"
