// The tenant's MariaDB server goes away and comes back on the same port while
// a mailing worker runs: once with nothing in flight, once while a mail is out
// at the API and more wait in the queue. The worker must serve again without
// a restart of its own, and every mail must end sent exactly once.
#include "fakemandrill.h"
#include "logcapture.h"
#include "privatemariadb.h"
#include "queueaudit.h"
#include "runningworker.h"
#include "testmain.h"

#include <QDateTime>
#include <QJsonArray>
#include <QSqlQuery>
#include <QTest>

namespace {
const QString kDb = QStringLiteral("yxa_faults_restart");
} // namespace

class DatabaseRestartTest : public QObject
{
    Q_OBJECT

private:
    PrivateMariaDb server;

    QSqlDatabase root()
    {
        QSqlDatabase db = server.root(QStringLiteral("faults.restart.root"), kDb);
        if (!db.isOpen() || !QSqlQuery(db).exec(QStringLiteral("SELECT 1"))) {
            db.close();
            db.open();
        }
        return db;
    }

    uint insertMail(const QString &to, qint64 created)
    {
        QSqlQuery query(root());
        query.prepare(QStringLiteral("INSERT INTO emails (type, `from`, `to`, subject, body, created) "
                                     "VALUES('C', 'sender@example.test', :to, 'S', 'B', :created)"));
        query.bindValue(QStringLiteral(":to"), to);
        query.bindValue(QStringLiteral(":created"), created);
        return query.exec() ? query.lastInsertId().toUInt() : 0;
    }

    QString status(uint mid)
    {
        QSqlQuery query(root());
        if (query.exec(QStringLiteral("SELECT status, done FROM emails WHERE mid=%1").arg(mid))
            && query.next() && !query.value(1).isNull())
            return query.value(0).toString();
        return QString();
    }

    static int sendsFor(const FakeMandrill &fake, uint mid)
    {
        int n = 0;
        for (const QJsonObject &request : fake.requests(FakeMandrill::sendPath()))
            n += request.value("body").toObject().value("message").toObject().value("metadata")
                         .toObject().value("mid").toInt() == int(mid) ? 1 : 0;
        return n;
    }

private slots:
    void initTestCase()
    {
        QString error = server.start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        error = server.createTenant(kDb);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void cleanupTestCase()
    {
        QSqlDatabase::database(QStringLiteral("faults.restart.root"), false).close();
    }

    void restartWhileIdleAndWhileMailIsOut()
    {
        // The third send takes a while, so that the server can go while it is out.
        const QJsonObject quick { { "default", true } };
        FakeMandrill fake(QJsonObject { { "send",
            QJsonArray { quick, quick, QJsonObject { { "delay", 2.5 }, { "default", true } }, quick } } });
        QVERIFY(fake.start().isEmpty());
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QList<uint> mids;
        mids << insertMail(QStringLiteral("before@example.test"), now - 100);
        QVERIFY(mids.last());

        LogCapture log;
        RunningWorker running(
            server.connection(QStringLiteral("faults.restart.tenant"), kDb, kDb, QStringLiteral("pw-") + kDb),
            fake.apiSettings(10000), 150);
        QTRY_COMPARE_WITH_TIMEOUT(status(mids.last()), QStringLiteral("S"), 15000);

        // 1. The server goes while the queue is idle.
        QVERIFY(server.kill());
        QTest::qWait(1500); // several failing polls
        QString error = server.restart();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        mids << insertMail(QStringLiteral("after-idle@example.test"), now - 90);
        QVERIFY(mids.last());
        QTRY_COMPARE_WITH_TIMEOUT(status(mids.last()), QStringLiteral("S"), 20000);

        // 2. The server goes while one mail is out and two more are pending.
        const int sendsBefore = fake.sendCount();
        QList<uint> inFlight;
        for (int i = 0; i < 3; ++i) {
            inFlight << insertMail(QStringLiteral("out%1@example.test").arg(i), now - 80 + i);
            QVERIFY(inFlight.last());
        }
        QTRY_VERIFY_WITH_TIMEOUT(fake.sendCount() > sendsBefore, 10000);
        QVERIFY(server.kill());
        // The reply arrives while the server is away, and the two mails read
        // with it are handed out too.
        QTRY_VERIFY_WITH_TIMEOUT(fake.sendCount() >= sendsBefore + 3, 15000);
        QTest::qWait(300);
        error = server.restart();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        mids << inFlight;
        for (uint mid : qAsConst(inFlight))
            QTRY_COMPARE_WITH_TIMEOUT(status(mid), QStringLiteral("S"), 30000);

        // Serves again: a new mail goes out once.
        mids << insertMail(QStringLiteral("last@example.test"), now);
        QTRY_COMPARE_WITH_TIMEOUT(status(mids.last()), QStringLiteral("S"), 20000);
        QTest::qWait(1000);

        const QueueAudit audit(root());
        QVERIFY2(audit.violations().isEmpty(), qPrintable(audit.violations().join('\n')));
        QCOMPARE(audit.rows(), mids.size());
        QCOMPARE(audit.count(QueueAudit::Final), mids.size());
        for (uint mid : qAsConst(mids)) {
            QSqlQuery query(root());
            QVERIFY(query.exec(QStringLiteral("SELECT sent FROM emails WHERE mid=%1").arg(mid)) && query.next());
            QCOMPARE(query.value(0).toInt(), 1);
        }
        // No mail lost.
        QStringList doubled;
        for (uint mid : qAsConst(mids)) {
            QVERIFY(sendsFor(fake, mid) >= 1);
            if (sendsFor(fake, mid) > 1)
                doubled << QString::number(mid);
        }
        // None handed to the API twice: the outcome of a send whose update
        // failed is kept and written once the database is back.
        QCOMPARE(doubled.join(','), QString());
    }
};

YXA_TEST_CLASS(DatabaseRestartTest)
#include "databaserestarttest.moc"
