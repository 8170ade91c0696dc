// Transport faults against a running mailing worker: SMTP servers that refuse,
// drop the line, stall or cannot speak TLS, and an API that answers 500,
// garbage, an error object or nothing. After each fault every row is in
// exactly one queue state, nothing was delivered twice, and the worker serves
// again as soon as the peer behaves.
#include "fakemandrill.h"
#include "logcapture.h"
#include "mailingpluginworker.h"
#include "mailtenant.h"
#include "mariadbfixture.h"
#include "queueaudit.h"
#include "runningworker.h"
#include "smtppeer.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QSqlQuery>
#include <QTest>

namespace {
const QString kDb = QStringLiteral("yxa_faults_transport");

bool allFinal(const QList<uint> &mids)
{
    for (uint mid : mids)
        if (MailTenant::row(kDb, mid).done.isNull())
            return false;
    return true;
}

int midOf(const QJsonObject &request)
{
    return request.value("body").toObject().value("message").toObject().value("metadata")
        .toObject().value("mid").toInt();
}

// "attempt kind reply" of each attempt at a row, in order.
QStringList historyOf(uint mid)
{
    QStringList entries;
    QSqlQuery query(MailTenant::root(kDb));
    if (query.exec(QStringLiteral("SELECT attempt, kind, reply FROM email_attempts WHERE mid = %1 "
                                  "ORDER BY attempt")
                       .arg(mid))) {
        while (query.next())
            entries << QStringLiteral("%1 %2 %3")
                           .arg(query.value(0).toString(), query.value(1).toString(),
                               query.value(2).toString());
    }
    return entries;
}

// Subjects of the messages the real server holds.
QStringList receivedSubjects(const SmtpPeer &peer)
{
    QStringList subjects;
    for (int i = 1; i <= peer.messageCount(); ++i) {
        const QByteArray eml = peer.eml(i);
        for (const QByteArray &line : eml.split('\n'))
            if (line.startsWith("Subject: "))
                subjects << QString::fromUtf8(line.mid(9).trimmed());
    }
    return subjects;
}
} // namespace

class MailTransportFaultTest : public QObject
{
    Q_OBJECT

private:
    SmtpPeer realServer;

    QSqlDatabase source() { return MailTenant::connection(QStringLiteral("faults.transport"), kDb); }

    void useSmtp(quint16 port, int type)
    {
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "1"));
        QVERIFY(MailTenant::setVar(kDb, "smtpHost", "127.0.0.1"));
        QVERIFY(MailTenant::setVar(kDb, "smtpPort", QString::number(port)));
        QVERIFY(MailTenant::setVar(kDb, "smtpType", QString::number(type)));
    }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        const QString error = MailTenant::create(kDb);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QString started = realServer.startReal();
        QVERIFY2(started.isEmpty(), qPrintable(started));
    }

    void init()
    {
        QVERIFY(MailTenant::exec(kDb, QStringLiteral("DELETE FROM emails")));
        QVERIFY(MailTenant::exec(kDb, QStringLiteral("DELETE FROM vars")));
    }

    void cleanupTestCase()
    {
        realServer.stop();
        MariaDbFixture::dropDatabase(kDb, kDb);
    }

    void smtpFault_data()
    {
        QTest::addColumn<QString>("mode"); // fault-smtp.py mode, or "tls" for TLS to the plain server
        QTest::addColumn<int>("mails");
        QTest::addColumn<QString>("errorText");
        QTest::newRow("421 at greeting") << "greet421" << 3 << "Server error";
        QTest::newRow("connection dropped during DATA") << "drop-data" << 3 << "";
        // The client's response time-out (5 s) is waited out once.
        QTest::newRow("server stalls") << "stall" << 1 << "timeout";
        QTest::newRow("TLS asked, server speaks plain") << "tls" << 3 << "";
    }

    void smtpFault()
    {
        QFETCH(QString, mode);
        QFETCH(int, mails);
        // One attempt, as without a schedule; tryingAgain covers the schedule.
        QVERIFY(MailTenant::setVar(kDb, "retrySchedule", ""));

        SmtpPeer fault;
        if (mode == QLatin1String("tls")) {
            useSmtp(realServer.port(), 1);
        } else {
            const QString started = fault.startFault(mode);
            QVERIFY2(started.isEmpty(), qPrintable(started));
            useSmtp(fault.port(), 0);
        }
        const int receivedBefore = realServer.messageCount();
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).left(12);

        QList<uint> faulted;
        for (int i = 0; i < mails; ++i)
            faulted << MailTenant::insertMail(kDb, QStringLiteral("f%1@example.test").arg(i),
                QStringLiteral("fault %1 %2").arg(tag).arg(i), "Body", {}, 100 + i);
        RunningWorker running(source(), MandrillApiSettings(), 150);
        QTRY_VERIFY_WITH_TIMEOUT(allFinal(faulted), 12000 * mails);

        QueueAudit audit(kDb);
        QVERIFY2(audit.violations().isEmpty(), qPrintable(audit.violations().join('\n')));
        for (uint mid : qAsConst(faulted)) {
            const MailTenant::Row row = MailTenant::row(kDb, mid);
            // A failed delivery is final and never counted as a success.
            QCOMPARE(row.status, QStringLiteral("E"));
            QCOMPARE(row.sent, 0u);
            QVERIFY(row.apiID.isNull());
        }
        // Nothing of it reached the real server.
        QCOMPARE(realServer.messageCount(), receivedBefore);
        if (mode != QLatin1String("tls")) {
            // One attempt per mail, no retries of final rows.
            QTRY_COMPARE_WITH_TIMEOUT(fault.connectionCount(), mails, 3000);
        }

        // The fault is gone: the same worker delivers new mail, once each.
        useSmtp(realServer.port(), 0);
        running.reloadSettings();
        QList<uint> healthy;
        for (int i = 0; i < 2; ++i)
            healthy << MailTenant::insertMail(kDb, QStringLiteral("h%1@example.test").arg(i),
                QStringLiteral("healthy %1 %2").arg(tag).arg(i));
        for (uint mid : qAsConst(healthy))
            QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, mid).status, QStringLiteral("S"), 15000);
        QTest::qWait(800); // a second delivery would land now
        QCOMPARE(realServer.messageCount(), receivedBefore + 2);
        const QStringList subjects = receivedSubjects(realServer);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(subjects.count(QStringLiteral("healthy %1 %2").arg(tag).arg(i)), 1);
        for (int i = 0; i < mails; ++i)
            QCOMPARE(subjects.count(QStringLiteral("fault %1 %2").arg(tag).arg(i)), 0);
        for (uint mid : qAsConst(faulted))
            QCOMPARE(MailTenant::row(kDb, mid).status, QStringLiteral("E"));
        const QueueAudit after(kDb);
        QVERIFY2(after.violations().isEmpty(), qPrintable(after.violations().join('\n')));
        QCOMPARE(after.count(QueueAudit::Final), mails + 2);
    }

    void apiFault_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<bool>("final"); // the row ends 'E'; otherwise it stays pending
        QTest::newRow("HTTP 500") << FakeMandrill::rawReply(500, "internal error") << true;
        // Unreadable: the mail may have left, so the row ends instead of going again.
        QTest::newRow("invalid JSON") << FakeMandrill::rawReply(200, "[{\"status\": \"se") << true;
        QTest::newRow("error object")
            << FakeMandrill::reply(200,
                   QJsonObject { { "status", "error" }, { "code", -1 }, { "name", "Invalid_Key" },
                       { "message", "Invalid API key" } })
            << false;
        QTest::newRow("empty body") << FakeMandrill::rawReply(200, "") << true;
        QTest::newRow("connection dropped") << QJsonObject { { "drop", true } } << true;
        QTest::newRow("never answers")
            << QJsonObject { { "delay", 4 }, { "default", true } } << true;
    }

    void apiFault()
    {
        QFETCH(QJsonObject, reply);
        QFETCH(bool, final);

        FakeMandrill fake(QJsonObject { { "send", QJsonArray { reply } } });
        QVERIFY(fake.start().isEmpty());
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "0"));
        QVERIFY(MailTenant::setVar(kDb, "retrySchedule", ""));
        QList<uint> mids;
        for (int i = 0; i < 2; ++i)
            mids << MailTenant::insertMail(
                kDb, QStringLiteral("api%1@example.test").arg(i), "S", "B", {}, 100 + i);

        LogCapture log;
        RunningWorker running(source(), fake.apiSettings(600), 150);
        if (final) {
            QTRY_VERIFY_WITH_TIMEOUT(allFinal(mids), 15000);
            for (uint mid : qAsConst(mids))
                QCOMPARE(MailTenant::row(kDb, mid).status, QStringLiteral("E"));
            QTest::qWait(600);
            // A final row is not tried again, and each was offered once.
            QStringList offers;
            for (uint mid : qAsConst(mids)) {
                int n = 0;
                for (const QJsonObject &request : fake.requests(FakeMandrill::sendPath()))
                    n += midOf(request) == int(mid) ? 1 : 0;
                QVERIFY(n >= 1);
                if (n != 1)
                    offers << QStringLiteral("mid %1 posted %2 times").arg(mid).arg(n);
            }
            QCOMPARE(offers.join(QStringLiteral("; ")), QString());
        } else {
            // Not accepted, so the rows stay pending and are offered again.
            QTRY_VERIFY_WITH_TIMEOUT(fake.sendCount() >= 4, 15000);
            for (uint mid : qAsConst(mids)) {
                const MailTenant::Row row = MailTenant::row(kDb, mid);
                QVERIFY(row.done.isNull());
                QVERIFY(row.apiID.isNull());
                QCOMPARE(row.sent, 0u);
            }
        }
        QueueAudit audit(kDb);
        QVERIFY2(audit.violations().isEmpty(), qPrintable(audit.violations().join('\n')));

        // The API recovers: everything still pending and any new mail goes out.
        fake.setScript(QJsonObject());
        const uint fresh = MailTenant::insertMail(kDb, QStringLiteral("fresh@example.test"));
        QList<uint> expectSent { fresh };
        if (!final)
            expectSent << mids;
        for (uint mid : qAsConst(expectSent))
            QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, mid).status, QStringLiteral("S"), 15000);
        QTest::qWait(800);

        // After the accepted send of a row no further send request names it.
        const QList<QJsonObject> sends = fake.requests(FakeMandrill::sendPath());
        for (uint mid : qAsConst(expectSent)) {
            const MailTenant::Row row = MailTenant::row(kDb, mid);
            QCOMPARE(row.sent, 1u);
            const int accepted = row.apiID.toString().mid(5).toInt(); // "fake-N"
            QVERIFY2(accepted > 0, qPrintable(row.apiID.toString()));
            int later = 0;
            for (int i = accepted; i < sends.size(); ++i)
                if (midOf(sends.at(i)) == int(mid))
                    ++later;
            QCOMPARE(later, 0);
            QCOMPARE(midOf(sends.value(accepted - 1)), int(mid));
        }
        const QueueAudit after(kDb);
        QVERIFY2(after.violations().isEmpty(), qPrintable(after.violations().join('\n')));
        QCOMPARE(after.count(QueueAudit::Pending), 0);
    }

    // A server that defers a mail twice and then takes it: the mail arrives
    // once, at the third attempt, and the history holds all three.
    void smtpDeferral_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("reply");
        QTest::newRow("451 to RCPT") << "defer-rcpt"
                                     << "451 4.7.1 try again later";
        QTest::newRow("421 at the greeting") << "defer-greet"
                                             << "421 4.3.2";
        QTest::newRow("452 after DATA") << "defer-data"
                                        << "452 4.3.1";
    }

    void smtpDeferral()
    {
        QFETCH(QString, mode);
        QFETCH(QString, reply);
        SmtpPeer fault;
        const QString started = fault.startFault(mode);
        QVERIFY2(started.isEmpty(), qPrintable(started));
        useSmtp(fault.port(), 0);
        QVERIFY(MailTenant::setVar(kDb, "retrySchedule", "1, 1, 1"));
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("d@example.test"));

        LogCapture log;
        RunningWorker running(source(), MandrillApiSettings(), 150);
        // Meanwhile the row looks pending to the tenant's applications.
        QTRY_VERIFY_WITH_TIMEOUT(historyOf(mid).size() == 1, 10000);
        QCOMPARE(MailTenant::row(kDb, mid).status, QStringLiteral("Q"));
        QVERIFY(MailTenant::row(kDb, mid).done.isNull());
        QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, mid).status, QStringLiteral("S"), 20000);
        QTest::qWait(2500); // a further attempt would come now
        QCOMPARE(fault.acceptedCount(), 1);
        QCOMPARE(fault.connectionCount(), 3);
        QCOMPARE(MailTenant::row(kDb, mid).sent, 1u);
        const QStringList history = historyOf(mid);
        QCOMPARE(history.size(), 3);
        QVERIFY2(history.at(0).startsWith(QStringLiteral("1 temporary "))
                && history.at(0).contains(reply),
            qPrintable(history.at(0)));
        QVERIFY2(
            history.at(1).startsWith(QStringLiteral("2 temporary ")), qPrintable(history.at(1)));
        QCOMPARE(history.at(2), QStringLiteral("3 accepted "));
        // One warning per failed attempt, naming tenant, row and reply.
        const QStringList warnings = log.matching(
            QStringLiteral("tenant \"%1\" mid: %2 via smtp, attempt ").arg(kDb).arg(mid));
        QCOMPARE(warnings.size(), 2);
        QVERIFY2(warnings.at(0).contains(QLatin1String("attempt 1 of 4, temporary"))
                && warnings.at(0).contains(reply),
            qPrintable(warnings.at(0)));
        QCOMPARE(
            log.count(
                QStringLiteral("tenant \"%1\" mid: %2 sent via smtp, attempt 3").arg(kDb).arg(mid)),
            1);
        QCOMPARE(
            MailTenant::count(kDb, QStringLiteral("mid IN (SELECT mid FROM email_retries)")), 0);
    }

    // The end of the message or the whole request went out and no reply
    // came: the receiver may have the mail, so it is never sent again.
    void unknownOutcomeIsNotRepeated_data()
    {
        QTest::addColumn<bool>("api");
        QTest::newRow("SMTP drop after the end of DATA") << false;
        QTest::newRow("API time-out after the request") << true;
    }

    void unknownOutcomeIsNotRepeated()
    {
        QFETCH(bool, api);
        SmtpPeer fault;
        FakeMandrill fake(QJsonObject {
            { "send", QJsonArray { QJsonObject { { "delay", 3 }, { "default", true } } } } });
        if (api) {
            QVERIFY(fake.start().isEmpty());
            QVERIFY(MailTenant::setVar(kDb, "mailingType", "0"));
        } else {
            const QString started = fault.startFault(QStringLiteral("drop-after-data"));
            QVERIFY2(started.isEmpty(), qPrintable(started));
            useSmtp(fault.port(), 0);
        }
        QVERIFY(MailTenant::setVar(kDb, "retrySchedule", "1,1"));
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("u@example.test"));
        RunningWorker running(source(), api ? fake.apiSettings(600) : MandrillApiSettings(), 150);
        QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, mid).status, QStringLiteral("E"), 15000);
        QTest::qWait(2500);
        QCOMPARE(api ? fake.sendCount() : fault.connectionCount(), 1);
        QCOMPARE(historyOf(mid).size(), 1);
        QVERIFY2(historyOf(mid).at(0).startsWith(QStringLiteral("1 unknown ")),
            qPrintable(historyOf(mid).at(0)));
    }

    // The API fails with 500 for a while: every mail goes out once after it recovers.
    void apiOutageIsRetried()
    {
        FakeMandrill fake(QJsonObject {
            { "send", QJsonArray { FakeMandrill::rawReply(500, "internal error") } } });
        QVERIFY(fake.start().isEmpty());
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "0"));
        QVERIFY(MailTenant::setVar(kDb, "retrySchedule", "1,1,1,1,1,1,1,1,1,1"));
        QList<uint> mids;
        for (int i = 0; i < 3; ++i)
            mids << MailTenant::insertMail(
                kDb, QStringLiteral("o%1@example.test").arg(i), "S", "B", {}, 100 + i);
        RunningWorker running(source(), fake.apiSettings(2000), 150);
        for (uint mid : qAsConst(mids))
            QTRY_VERIFY_WITH_TIMEOUT(historyOf(mid).size() >= 2, 15000);
        for (uint mid : qAsConst(mids))
            QVERIFY(MailTenant::row(kDb, mid).done.isNull());
        fake.setScript(QJsonObject());
        for (uint mid : qAsConst(mids))
            QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, mid).status, QStringLiteral("S"), 15000);
        QTest::qWait(1500);
        for (uint mid : qAsConst(mids)) {
            QCOMPARE(MailTenant::row(kDb, mid).sent, 1u);
            const QStringList history = historyOf(mid);
            QVERIFY2(history.last().startsWith(QStringLiteral("%1 accepted").arg(history.size())),
                qPrintable(history.join('|')));
            QCOMPARE(history.filter(QStringLiteral(" accepted")).size(), 1);
            QVERIFY2(
                history.first().contains(QLatin1String("HTTP 500")), qPrintable(history.first()));
            // Nothing of the row was posted after it was accepted.
            int posted = 0;
            for (const QJsonObject &request : fake.requests(FakeMandrill::sendPath()))
                posted += midOf(request) == int(mid) ? 1 : 0;
            QCOMPARE(posted, history.size());
        }
    }

    // The schema test of every scan opens the tenant's database and closes it
    // again: repeated scans leave no connection behind on the server.
    void repeatedSchemaTestsKeepConnectionsFlat()
    {
        MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        auto connections = [] {
            return MariaDbFixture::scalar(MailTenant::root(kDb),
                QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE USER = '%1'").arg(kDb))
                .toInt();
        };
        // No worker runs: once the cases before have gone, the user has none.
        QTRY_COMPARE_WITH_TIMEOUT(connections(), 0, 3000);
        const int before = 0;
        for (int scan = 0; scan < 20; ++scan) {
            MailingPluginWorker probe;
            probe.setDB(source());
            QVERIFY(probe.checkEmails());
            QVERIFY(!QSqlDatabase::database(probe.getConnectionName(), false).isOpen());
        }
        // The server drops a closed connection from its list a moment later.
        QTRY_COMPARE_WITH_TIMEOUT(connections(), before, 3000);
    }

    void checkFault_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::newRow("HTTP 500") << FakeMandrill::rawReply(500, "internal error");
        QTest::newRow("invalid JSON") << FakeMandrill::rawReply(200, "{\"state\": ");
        QTest::newRow("error object") << FakeMandrill::reply(200,
            QJsonObject { { "status", "error" }, { "code", 11 }, { "name", "Unknown_Message" },
                { "message", "No message exists with the id" } });
        QTest::newRow("connection dropped") << QJsonObject { { "drop", true } };
        QTest::newRow("never answers") << QJsonObject { { "delay", 4 }, { "default", true } };
    }

    // A mail the API only queued waits in 'Q' while the state requests fail;
    // it is never sent again, and turns 'S' once the API answers.
    void checkFault()
    {
        QFETCH(QJsonObject, reply);
        FakeMandrill fake(QJsonObject { { "send", QJsonArray { "queued" } },
            { "info", QJsonArray { reply } } });
        QVERIFY(fake.start().isEmpty());
        QVERIFY(MailTenant::setVar(kDb, "mailingType", "0"));
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("q@example.test"));
        RunningWorker running(source(), fake.apiSettings(600), 150);
        QTRY_VERIFY_WITH_TIMEOUT(fake.infoCount() >= 3, 15000);
        QueueAudit audit(kDb);
        QVERIFY2(audit.violations().isEmpty(), qPrintable(audit.violations().join('\n')));
        QCOMPARE(audit.state(mid), QueueAudit::AwaitingCheck);
        QCOMPARE(MailTenant::row(kDb, mid).apiID.toString(), QStringLiteral("fake-1"));

        // The API answers again; the next check settles the row.
        fake.setScript(QJsonObject { { "send", QJsonArray { "queued" } } });
        QTRY_COMPARE_WITH_TIMEOUT(MailTenant::row(kDb, mid).status, QStringLiteral("S"), 15000);
        QTest::qWait(500);
        const MailTenant::Row row = MailTenant::row(kDb, mid);
        QCOMPARE(row.sent, 1u);
        QVERIFY(!row.done.isNull());
        QCOMPARE(fake.sendCount(), 1);
        const QueueAudit after(kDb);
        QVERIFY2(after.violations().isEmpty(), qPrintable(after.violations().join('\n')));
    }
};

YXA_TEST_CLASS(MailTransportFaultTest)
#include "mailtransportfaulttest.moc"
