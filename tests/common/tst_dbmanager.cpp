#include "dbmanager.h"
#include "logcapture.h"
#include "mariadbfixture.h"
#include "testmain.h"

#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <thread>

// DBManager against a real information database and real tenant databases
// with their own MySQL users.
class DBManagerTest : public QObject
{
    Q_OBJECT

private:
    static constexpr const char *infoName = "cmn_info";

    QSqlDatabase infoRoot() { return MariaDbFixture::rootConnection(QStringLiteral("cmn.inforoot"), QString::fromLatin1(infoName)); }

    QSqlDatabase infoHandle(const QString &connection = QStringLiteral("YXA.InfoDB"))
    {
        return MariaDbFixture::connection(connection, QString::fromLatin1(infoName), QStringLiteral("root"),
                                          MariaDbFixture::rootPassword());
    }

    void addSchemaRow(const QString &token, const QString &name, const QString &user, const QByteArray &pass, int status)
    {
        QSqlQuery q(infoRoot());
        q.prepare(QStringLiteral("INSERT INTO `schemas` (token, name, user, pass, status) VALUES (?, ?, ?, ?, ?)"));
        q.addBindValue(token);
        q.addBindValue(name);
        q.addBindValue(user.isNull() ? QStringLiteral("") : user);
        q.addBindValue(QString::fromLatin1(pass.toBase64()));
        q.addBindValue(status);
        QVERIFY_SQL(q, exec());
    }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        QVERIFY2(MariaDbFixture::createInfoDatabase(QString::fromLatin1(infoName), &error), qPrintable(error));
        QVERIFY2(MariaDbFixture::createTenant(QString::fromLatin1(infoName), QStringLiteral("t1"),
                                              QStringLiteral("cmn_t1"), 1, { QStringLiteral("tenant.sql") }, &error),
                 qPrintable(error));
        QVERIFY2(MariaDbFixture::createTenant(QString::fromLatin1(infoName), QStringLiteral("t2"),
                                              QStringLiteral("cmn_t2"), 0, { QStringLiteral("tenant.sql") }, &error),
                 qPrintable(error));
        // The tenant's real password is "secret"; the stored bytes carry a NUL and junk after it.
        QVERIFY2(MariaDbFixture::createDatabase(QStringLiteral("cmn_nul"), QStringLiteral("cmn_nul"),
                                                QStringLiteral("secret"), { QStringLiteral("tenant.sql") }, &error),
                 qPrintable(error));
        addSchemaRow(QStringLiteral("nul"), QStringLiteral("cmn_nul"), QStringLiteral("cmn_nul"),
                     QByteArray("secret\0junk", 11), 1);
        addSchemaRow(QStringLiteral("nouser"), QStringLiteral("cmn_t1"), QString(), QByteArray("pw-cmn_t1"), 1);
        addSchemaRow(QStringLiteral("nopass"), QStringLiteral("cmn_t1"), QStringLiteral("cmn_t1"), QByteArray(), 1);
    }

    void cleanupTestCase()
    {
        MariaDbFixture::dropDatabase(QStringLiteral("cmn_t1"), QStringLiteral("cmn_t1"));
        MariaDbFixture::dropDatabase(QStringLiteral("cmn_t2"), QStringLiteral("cmn_t2"));
        MariaDbFixture::dropDatabase(QStringLiteral("cmn_nul"), QStringLiteral("cmn_nul"));
    }

    void emptyTokenGivesKexDatabase()
    {
        DBManager manager;
        QSqlDatabase kex = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("cmn.kex"));
        manager.setKexDB(kex);
        const int before = QSqlDatabase::connectionNames().size();
        QCOMPARE(manager.getDatabase(QString()).connectionName(), QStringLiteral("cmn.kex"));
        QCOMPARE(QSqlDatabase::connectionNames().size(), before);
    }

    void connectionsArePerThread()
    {
        DBManager manager;
        manager.setInfoDB(infoHandle());
        QVERIFY(manager.isInfoDB());

        QSqlDatabase first = manager.getDatabase(QStringLiteral("t1"));
        QVERIFY(first.isOpen());
        QCOMPARE(first.databaseName(), QStringLiteral("cmn_t1"));
        QCOMPARE(first.userName(), QStringLiteral("cmn_t1"));
        QCOMPARE(first.connectOptions(), QStringLiteral("MYSQL_OPT_RECONNECT=1;CLIENT_IGNORE_SPACE=1"));
        QCOMPARE(first.connectionName(),
                 QString::asprintf("%p", static_cast<void *>(QThread::currentThreadId())) + QStringLiteral("_dbc_t1"));
        QCOMPARE(manager.getDatabase(QStringLiteral("t1")).connectionName(), first.connectionName());
        QVERIFY(manager.isDatabase(QStringLiteral("t1")));
        QVERIFY(manager.isConnection(QStringLiteral("t1")));
        QCOMPARE(manager.getDbConnRecord(QStringLiteral("t1")).pass, QStringLiteral("pw-cmn_t1"));

        QString otherName;
        bool otherOpen = false;
        bool otherSeesMine = true;
        // A plain thread: ThreadSanitizer sees its join, not QThread::wait()'s.
        std::thread thread([&] {
            QSqlDatabase db = manager.getDatabase(QStringLiteral("t1"));
            otherName = db.connectionName();
            otherOpen = db.isOpen();
            otherSeesMine = manager.isDatabase(QStringLiteral("t1")) && otherName == first.connectionName();
            db.close();
        });
        thread.join();
        QVERIFY(otherOpen);
        QVERIFY(!otherSeesMine);
        QVERIFY(otherName != first.connectionName());
        QVERIFY(otherName.endsWith(QStringLiteral("_dbc_t1")));

        // A closed connection is reopened for its own thread.
        first.close();
        QVERIFY(manager.getDatabase(QStringLiteral("t1")).isOpen());
        first.close();
        manager.addUnusedConnection(first.connectionName());
        manager.addUnusedConnection(otherName);
        manager.removeUnusedConnections();
        QVERIFY(!QSqlDatabase::contains(first.connectionName()));
        QVERIFY(!QSqlDatabase::contains(otherName));
        QVERIFY(!manager.isConnection(QStringLiteral("t1")));
    }

    void unusableSchemaRows_data()
    {
        QTest::addColumn<QString>("token");
        QTest::newRow("empty user") << QStringLiteral("nouser");
        QTest::newRow("empty password") << QStringLiteral("nopass");
        QTest::newRow("disabled schema") << QStringLiteral("t2");
        QTest::newRow("unknown token") << QStringLiteral("nosuch");
        QTest::newRow("injected token") << QStringLiteral("x' OR '1'='1");
    }

    void unusableSchemaRows()
    {
        QFETCH(QString, token);
        DBManager manager;
        manager.setInfoDB(infoHandle());
        const QSqlDatabase db = manager.getDatabase(token);
        QVERIFY(!db.isValid());
        QVERIFY(!manager.isDatabase(token));
        QVERIFY(!manager.isConnection(token));
        QVERIFY(manager.getDbConnRecord(token).name.isEmpty());
    }

    void passwordIsCutAtNul()
    {
        DBManager manager;
        manager.setInfoDB(infoHandle());
        QSqlDatabase db = manager.getDatabase(QStringLiteral("nul"));
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        QCOMPARE(manager.getDbConnRecord(QStringLiteral("nul")).pass, QStringLiteral("secret"));
        db.close();
    }

    void tokenQueries()
    {
        QSqlDatabase root = infoRoot();
        QVERIFY(MariaDbFixture::exec(root, QStringLiteral("DELETE FROM `schemas` WHERE token LIKE 'pg%'")));
        for (int i = 0; i < 7; ++i)
            addSchemaRow(QStringLiteral("pg%1").arg(i), QStringLiteral("cmn_pg"), QStringLiteral("u"), "p", i == 6 ? 0 : 1);

        DBManager manager;
        manager.setInfoDB(infoHandle());
        const unsigned enabled = MariaDbFixture::scalar(root, QStringLiteral("SELECT COUNT(*) FROM `schemas` WHERE status=1")).toUInt();
        const unsigned disabled = MariaDbFixture::scalar(root, QStringLiteral("SELECT COUNT(*) FROM `schemas` WHERE status=0")).toUInt();
        QCOMPARE(manager.tokensCount(true), enabled);
        QCOMPARE(manager.tokensCount(false), disabled);
        QCOMPARE(disabled, 2u);

        const QStringList all = manager.loadTokens(1000, 0);
        QCOMPARE(unsigned(all.size()), enabled);
        QStringList sorted = all;
        sorted.sort();
        QCOMPARE(all, sorted);
        QVERIFY(!all.contains(QStringLiteral("pg6")));
        // Offset first, then the row count.
        QCOMPARE(manager.loadTokens(2, 3), all.mid(3, 2));
        QCOMPARE(manager.loadTokens(50, 1000), QStringList());

        QCOMPARE(manager.getTokenBySchemaName(QStringLiteral("cmn_t1")).isEmpty(), false);
        QCOMPARE(manager.getTokenBySchemaName(QStringLiteral("cmn_t2")), QString()); // disabled
        QCOMPARE(manager.getTokenBySchemaName(QStringLiteral("x' OR '1'='1")), QString());

        QVERIFY(MariaDbFixture::exec(root, QStringLiteral("UPDATE `schemas` SET recalc = 0, maintenance = NULL")));
        QVERIFY(MariaDbFixture::exec(root, QStringLiteral("UPDATE `schemas` SET recalc = 5 WHERE token = 'pg0'")));
        QVERIFY(manager.setRecalculated(QStringLiteral("pg1")));
        QVERIFY(!manager.setRecalculated(QStringLiteral("pg6"))); // disabled rows are not stamped
        const QStringList recalc = manager.loadTokens4Recalculate(100);
        QCOMPARE(recalc.size(), int(enabled));
        QCOMPARE(recalc.last(), QStringLiteral("pg1"));
        QCOMPARE(recalc.at(recalc.size() - 2), QStringLiteral("pg0"));

        QVERIFY(manager.setMaintenance(QStringLiteral("pg2")));
        const QStringList due = manager.loadTokens4Maintenance(100);
        QVERIFY(!due.contains(QStringLiteral("pg2")));
        QCOMPARE(due.size(), int(enabled) - 1);
        QCOMPARE(manager.loadTokens4Maintenance(2).size(), 2);
    }

    void maintenanceIsThrottled()
    {
        QSqlDatabase root = infoRoot();
        DBManager manager;
        manager.setInfoDB(infoHandle());
        QVERIFY(MariaDbFixture::exec(root, QStringLiteral("UPDATE `schemas` SET maintenance = NULL WHERE token='t1'")));
        QVERIFY(manager.setMaintenance(QStringLiteral("t1")));
        QVERIFY(!MariaDbFixture::scalar(root, QStringLiteral("SELECT maintenance FROM `schemas` WHERE token='t1'")).isNull());
        QVERIFY(MariaDbFixture::exec(root, QStringLiteral("UPDATE `schemas` SET maintenance = NULL WHERE token='t1'")));
        // Within a second: true, and the database is not touched.
        QVERIFY(manager.setMaintenance(QStringLiteral("t1")));
        QVERIFY(MariaDbFixture::scalar(root, QStringLiteral("SELECT maintenance FROM `schemas` WHERE token='t1'")).isNull());
        QTest::qWait(1100);
        QVERIFY(manager.setMaintenance(QStringLiteral("t1")));
        QVERIFY(!MariaDbFixture::scalar(root, QStringLiteral("SELECT maintenance FROM `schemas` WHERE token='t1'")).isNull());
        // Unknown token: the update changes nothing and says so.
        QVERIFY(!manager.setMaintenance(QStringLiteral("nosuch")));
    }

    void unusedConnectionQueue()
    {
        DBManager manager;
        LogCapture log;

        manager.addUnusedConnection(QStringLiteral("YXA.KEXDB"));
        QCOMPARE(log.count(QStringLiteral("Master connection")), 1);
        manager.addUnusedConnection(QString::fromLatin1(QSqlDatabase::defaultConnection));
        QCOMPARE(log.count(QStringLiteral("Master connection")), 2);
        manager.addUnusedConnection(QStringLiteral("YXA.InfoDB"));
        QCOMPARE(log.count(QStringLiteral("Master connection")), 3);

        // A differently cased name is an ordinary connection.
        QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("yxa.kexdb"));
        manager.addUnusedConnection(QStringLiteral("yxa.kexdb"));
        manager.removeUnusedConnections();
        QVERIFY(!QSqlDatabase::contains(QStringLiteral("yxa.kexdb")));

        // An open connection is dropped from the queue but stays registered.
        QSqlDatabase open = infoHandle(QStringLiteral("cmn.active"));
        QVERIFY(open.open());
        manager.addUnusedConnection(QStringLiteral("cmn.active"));
        manager.removeUnusedConnections();
        QCOMPARE(log.count(QStringLiteral("can't remove active connection")), 1);
        QVERIFY(QSqlDatabase::contains(QStringLiteral("cmn.active")));
        manager.removeUnusedConnections();
        QCOMPARE(log.count(QStringLiteral("can't remove active connection")), 1);
        open.close();

        // Disabling empties the queue; while disabled nothing is queued or removed.
        manager.addUnusedConnection(QStringLiteral("cmn.active"));
        manager.setUnusedConnectionsEnabled(false);
        manager.setUnusedConnectionsEnabled(true);
        manager.removeUnusedConnections();
        QVERIFY(QSqlDatabase::contains(QStringLiteral("cmn.active")));
        manager.setUnusedConnectionsEnabled(false);
        manager.addUnusedConnection(QStringLiteral("cmn.active"));
        manager.removeUnusedConnections();
        manager.setUnusedConnectionsEnabled(true);
        manager.removeUnusedConnections();
        QVERIFY(QSqlDatabase::contains(QStringLiteral("cmn.active")));
        manager.addUnusedConnection(QStringLiteral("cmn.active"));
        manager.removeUnusedConnections();
        QVERIFY(!QSqlDatabase::contains(QStringLiteral("cmn.active")));
    }

    void closeInfoDBClosesAfterEveryQuery()
    {
        DBManager manager;
        QSqlDatabase info = infoHandle(QStringLiteral("cmn.closing"));
        manager.setInfoDB(info);
        manager.setCloseInfoDB(true);
        QVERIFY(!manager.loadTokens(10, 0).isEmpty());
        QVERIFY(!manager.getInfoDB().isOpen());
        // Every scan counts first: it reopens the database like the other queries.
        const unsigned enabled
            = MariaDbFixture::scalar(infoRoot(), QStringLiteral("SELECT COUNT(*) FROM `schemas` WHERE status=1")).toUInt();
        QVERIFY(enabled > 0);
        for (int scan = 0; scan < 2; ++scan) {
            QCOMPARE(manager.tokensCount(true), enabled);
            QVERIFY(!manager.getInfoDB().isOpen());
        }
        // The next reopening query works again and closes once more.
        QVERIFY(!manager.loadTokens(10, 0).isEmpty());
        QVERIFY(!manager.getInfoDB().isOpen());
        QVERIFY(manager.isInfoDB());
    }

    void alreadyOpenInfoDatabaseCounts()
    {
        DBManager manager;
        QSqlDatabase info = infoHandle(QStringLiteral("cmn.preopened"));
        QVERIFY(info.open());
        manager.setInfoDB(info);
        QVERIFY(manager.isInfoDB());
        QVERIFY(!manager.loadTokens(10, 0).isEmpty());
    }

    void unreachableInfoDatabase()
    {
        DBManager manager;
        QSqlDatabase bad = MariaDbFixture::connection(QStringLiteral("cmn.bad"), QStringLiteral("cmn_info"),
                                                      QStringLiteral("nobody"), QStringLiteral("wrong"));
        LogCapture log;
        manager.setInfoDB(bad);
        QVERIFY(!manager.isInfoDB());
        QCOMPARE(log.count(QStringLiteral("can NOT open! ERROR:")), 1);
        QCOMPARE(manager.loadTokens(10, 0), QStringList());
        QCOMPARE(manager.tokensCount(true), 0u);
        QVERIFY(!manager.getDatabase(QStringLiteral("t1")).isValid());
    }
};

YXA_TEST_CLASS(DBManagerTest)
#include "tst_dbmanager.moc"
