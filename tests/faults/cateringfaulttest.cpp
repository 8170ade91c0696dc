// The catering worker when its database fails in the middle of a tick, and
// what repeated ticks leave behind: no order may be marked sent without its
// mail, no temporary PDF may stay on disk and no connection may pile up.
#include "../catering/cateringtenant.h"
#include "logcapture.h"
#include "mariadbfixture.h"
#include "tabloraworker.h"
#include "testmain.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>

namespace {
const QString kConnectOptions = QStringLiteral("MYSQL_OPT_RECONNECT=1;CLIENT_IGNORE_SPACE=1");
}

class CateringFaultTest : public QObject
{
    Q_OBJECT

private:
    CateringTenant tenant { QStringLiteral("yxa_faults_cat") };
    const QDate friday = nextFriday(QDate(2030, 1, 1));
    const QDate wednesday = friday.addDays(-2);

    int mails() const { return tenant.scalar(QStringLiteral("SELECT COUNT(*) FROM emails")).toInt(); }
    int sentOrderables() const
    {
        return tenant.scalar(QStringLiteral("SELECT COUNT(*) FROM cat_orderables WHERE sent = 5")).toInt();
    }

    QSqlDatabase workerConnection(const QString &name) const
    {
        QSqlDatabase db = tenant.connection(name);
        db.setConnectOptions(kConnectOptions);
        return db;
    }

    // A tick of a fresh worker, on a thread of its own, as the plug-in runs it.
    bool tickOnThread(const QString &connectionName, const QTime &time,
        const std::function<void()> &whileRunning = {})
    {
        // A connection belongs to the thread that made it: every thread gets a name of its own.
        static int serial = 0;
        const QString name = connectionName + QString::number(++serial);
        bool ok = false;
        const QDateTime at(wednesday, time);
        // The end is told through an atomic as well: ThreadSanitizer cannot
        // see the ordering inside QThread::wait().
        std::atomic<bool> done { false };
        QThread *thread = QThread::create([this, name, at, &ok, &done] {
            {
                TabloraWorker worker(workerConnection(name));
                worker.start();
                worker.pollTimer()->stop();
                QString error;
                ok = CateringTenant::tickAt(&worker, at, &error);
                if (!ok)
                    qWarning("%s", qPrintable(error));
            }
            done.store(true);
        });
        thread->start();
        while (!done.load()) {
            if (whileRunning)
                whileRunning();
            QThread::msleep(20);
        }
        thread->wait();
        delete thread;
        return ok;
    }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        QVERIFY2(tenant.create(&error), qPrintable(error));
    }

    void init()
    {
        QVERIFY(tenant.clear());
        QVERIFY(tenant.exec(QStringLiteral("DROP TRIGGER IF EXISTS emails_stall")));
        QVERIFY(tenant.seedOneSupplier(friday));
    }

    void cleanupTestCase() { tenant.drop(); }

    // The worker's connection is killed while it inserts the second order
    // mail of a group: the group's first mail and its `sent` marks must go
    // together, and the next tick sends the group once.
    void connectionKilledMidTick()
    {
        // The trigger holds the second address's insert. It runs as its
        // definer, so the worker's connection is found by what it does.
        QVERIFY(tenant.exec(QStringLiteral(
            "CREATE TRIGGER emails_stall BEFORE INSERT ON emails FOR EACH ROW "
            "BEGIN IF NEW.`to` = 'b@slnko.test' THEN DO SLEEP(6); END IF; END")));
        bool killed = false;
        LogCapture log;
        tickOnThread(QStringLiteral("faults.cat.killed"), QTime(10, 1), [&] {
            if (killed)
                return;
            const QVariant id = tenant.scalar(QStringLiteral(
                "SELECT ID FROM information_schema.PROCESSLIST WHERE DB = '%1' "
                "AND INFO LIKE 'DO SLEEP(6)%' LIMIT 1").arg(tenant.database()));
            if (id.isValid() && !id.isNull())
                killed = tenant.exec(QStringLiteral("KILL CONNECTION %1").arg(id.toULongLong()));
        });
        QVERIFY(killed);
        // The worker saw the failure (in the insert or in the sent marks after it).
        QVERIFY(log.contains(QStringLiteral("not queued; it stays due")));

        // Whatever the tick managed, a sent mark never stands without its mails.
        const int marked = sentOrderables();
        QVERIFY2(marked == 0 || mails() == 2, qPrintable(QStringLiteral("%1 marked, %2 mails").arg(marked).arg(mails())));
        QVERIFY2(!(marked == 0 && mails() > 0), qPrintable(QStringLiteral("%1 mails for unmarked orders").arg(mails())));

        QVERIFY(tenant.exec(QStringLiteral("DROP TRIGGER emails_stall")));
        QVERIFY(tickOnThread(QStringLiteral("faults.cat.after"), QTime(10, 2)));
        QCOMPARE(mails(), 2);
        QCOMPARE(sentOrderables(), 3);
        QCOMPARE(tenant.scalar(QStringLiteral("SELECT COUNT(DISTINCT `to`) FROM emails")).toInt(), 2);
        QVERIFY(tickOnThread(QStringLiteral("faults.cat.again"), QTime(10, 3)));
        QCOMPARE(mails(), 2);
    }

    void malformedSkipFreeDays_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("not JSON") << QByteArray("every friday");
        QTest::newRow("truncated object") << QByteArray("{\"1\": [");
        QTest::newRow("array") << QByteArray("[1, 2]");
        QTest::newRow("quotes and comment") << QByteArray("'; DELETE FROM cat_orderables; -- \\");
        QTest::newRow("long") << QByteArray(200, '{') + QByteArray(200, '[');
    }

    // A malformed skip-days setting means no supplier skips free days: the
    // warning is logged and the orders go out as usual.
    void malformedSkipFreeDays()
    {
        QFETCH(QByteArray, value);
        QSqlQuery insert(tenant.root());
        insert.prepare(QStringLiteral("INSERT INTO vars (name, value) VALUES ('tabl_skipFreeDays', ?)"));
        insert.addBindValue(value);
        QVERIFY2(insert.exec(), qPrintable(insert.lastError().text()));
        LogCapture log;
        QVERIFY(tickOnThread(QStringLiteral("faults.cat.skipdays"), QTime(10, 1)));
        QVERIFY(log.contains(QStringLiteral("Neplatný JSON formát pre tabl_skipFreeDays!")));
        QCOMPARE(mails(), 2);
        QCOMPARE(sentOrderables(), 3);
        QCOMPARE(tenant.scalar(QStringLiteral("SELECT COUNT(*) FROM cat_orderables")).toInt(), 3);
    }

    // Order mails leave no temporary PDF behind, and repeated ticks do not
    // add connections on the server.
    void resourcesStayFlat()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        QCOMPARE(QDir::tempPath(), QDir(tmp.path()).canonicalPath());

        TabloraWorker worker(workerConnection(QStringLiteral("faults.cat.resources")));
        worker.start();
        worker.pollTimer()->stop();
        QSqlDatabase root = tenant.root();
        // Connections of this tenant's user only: other suites share the server.
        auto threads = [&] {
            QSqlQuery q(root);
            q.exec(QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE USER = '%1'")
                       .arg(tenant.database()));
            return q.next() ? q.value(0).toInt() : -1;
        };
        int baseline = -1;
        for (int round = 0; round < 6; ++round) {
            QString error;
            QVERIFY2(CateringTenant::tickAt(&worker, QDateTime(wednesday, QTime(10, 1 + round)), &error),
                qPrintable(error));
            QCOMPARE(mails(), 2 * (round + 1));
            QVERIFY2(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty(),
                qPrintable(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).join(',')));
            // Due again on the next tick.
            QVERIFY(tenant.exec(QStringLiteral("UPDATE cat_orderables SET sent = NULL")));
            if (round == 1)
                baseline = threads();
            else if (round > 1)
                QVERIFY(baseline >= 1);
            if (round > 1)
                QTRY_COMPARE_WITH_TIMEOUT(threads(), baseline, 3000);
        }
        if (oldTmp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", oldTmp);
    }
};

YXA_TEST_CLASS(CateringFaultTest)
#include "cateringfaulttest.moc"
