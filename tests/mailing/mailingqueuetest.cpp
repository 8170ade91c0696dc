// The queue processor over a real tenant `emails` table: status words become
// letters, rows are read 100 oldest at a time, and only one mail is ever out.
#include "dbmanager.h"
#include "logcapture.h"
#include "mailing.h"
#include "mailtenant.h"
#include "mariadbfixture.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

namespace {
const QString kDb = QStringLiteral("yxa_mail_queue");
}

class MailingQueueTest : public QObject
{
    Q_OBJECT

private:
    QSqlDatabase db;
    void pass(Mailing &mailing) { QVERIFY(QMetaObject::invokeMethod(&mailing, "processQueue")); }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        const QString error = MailTenant::create(kDb);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        db = MailTenant::connection(QStringLiteral("mailing.queue.test"), kDb);
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
    }

    void init() { QVERIFY(MailTenant::exec(kDb, QStringLiteral("DELETE FROM emails"))); }

    void cleanupTestCase()
    {
        db.close();
        MariaDbFixture::dropDatabase(kDb, kDb);
    }

    void statusWordBecomesLetter_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("apiID");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<bool>("doneSet");
        QTest::addColumn<uint>("sent");
        QTest::addColumn<QVariant>("storedId");

        const QVariant null;
        QTest::newRow("sent abc") << "sent"
                                  << "abc"
                                  << "S" << true << 1u << QVariant("abc");
        QTest::newRow("sent blank id") << "sent"
                                       << ""
                                       << "S" << true << 1u << null;
        QTest::newRow("sent id of blanks") << "sent"
                                           << "   "
                                           << "S" << true << 1u << null;
        QTest::newRow("sent id with quote")
            << "sent"
            << "it's \\' \"x\" %1 --"
            << "S" << true << 1u << QVariant("it's \\' \"x\" %1 --");
        QTest::newRow("sent id injection") << "sent"
                                           << "x', status='R"
                                           << "S" << true << 1u << QVariant("x', status='R");
        QTest::newRow("queued id") << "queued"
                                   << "q-1"
                                   << "Q" << false << 0u << QVariant("q-1");
        // Taken by the API but named nothing: out of the pending set for good.
        QTest::newRow("queued blank id") << "queued"
                                         << ""
                                         << "Q" << false << 0u << QVariant("yxa-queued-without-id");
        QTest::newRow("error") << "error"
                               << "e-1"
                               << "E" << true << 0u << QVariant("e-1");
        QTest::newRow("neterror") << "neterror"
                                  << ""
                                  << "E" << true << 0u << null;
        QTest::newRow("bad") << "bad"
                             << ""
                             << "B" << true << 0u << null;
        QTest::newRow("invalid") << "invalid"
                                 << "i-1"
                                 << "B" << true << 0u << QVariant("i-1");
        QTest::newRow("rejected") << "rejected"
                                  << "r-1"
                                  << "R" << true << 0u << QVariant("r-1");
        QTest::newRow("Sent is unimplemented") << "Sent"
                                               << "x"
                                               << "Q" << false << 0u << null;
        QTest::newRow("empty word") << ""
                                    << ""
                                    << "Q" << false << 0u << null;
        QTest::newRow("deferred") << "deferred"
                                  << "d"
                                  << "Q" << false << 0u << null;
    }

    void statusWordBecomesLetter()
    {
        QFETCH(QString, word);
        QFETCH(QString, apiID);
        QFETCH(QString, letter);
        QFETCH(bool, doneSet);
        QFETCH(uint, sent);
        QFETCH(QVariant, storedId);

        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("to@example.test"));
        QVERIFY(mid > 0);
        Mailing mailing;
        mailing.initDB(db);
        LogCapture log;
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        mailing.sentReply(mid, word, apiID);

        const MailTenant::Row row = MailTenant::row(kDb, mid);
        QVERIFY(row.exists);
        QCOMPARE(row.status, letter);
        QCOMPARE(!row.done.isNull(), doneSet);
        if (doneSet)
            QVERIFY(row.done.toLongLong() >= before
                && row.done.toLongLong() <= QDateTime::currentSecsSinceEpoch());
        QCOMPARE(row.sent, sent);
        QCOMPARE(row.apiID.isNull(), storedId.isNull());
        if (!storedId.isNull())
            QCOMPARE(row.apiID.toString(), storedId.toString());
        const bool known
            = QStringList { "sent", "queued", "error", "neterror", "bad", "invalid", "rejected" }
                  .contains(word);
        QCOMPARE(
            log.contains(QStringLiteral("Mailing::sentReply() unimplemented status:")), !known);
        QVERIFY(mailing.isReady());
    }

    void firstReadTakesHundredOldest()
    {
        // Inserted newest first, so that "oldest" and "lowest mid" differ.
        QList<uint> byAge;
        for (int i = 0; i < 150; ++i)
            byAge.prepend(MailTenant::insertMail(kDb, QStringLiteral("r%1@example.test").arg(i),
                QStringLiteral("S%1").arg(i), "B", QByteArray(), 1000000 - i));
        Mailing mailing;
        mailing.initDB(db);
        QSignalSpy sends(&mailing, &Mailing::toSend);

        pass(mailing);
        QCOMPARE(sends.count(), 0); // a read pass sends nothing itself
        QCOMPARE(mailing.stackMids(), byAge.mid(0, 100));

        pass(mailing);
        QCOMPARE(sends.count(), 1);
        QCOMPARE(sends.at(0).at(0).toUInt(), byAge.at(0));
        QCOMPARE(mailing.outstandingMid(), byAge.at(0));

        // No report yet: nothing more leaves, however many passes run.
        LogCapture log;
        mailing.setDebugLevel(1);
        pass(mailing);
        pass(mailing);
        QCOMPARE(sends.count(), 1);
        QCOMPARE(log.count(QStringLiteral(
                     "Mailing::processQueue() - Stack processing (99): waiting for reply")),
            2);

        mailing.sentReply(byAge.at(0), QStringLiteral("sent"), QStringLiteral("id-0"));
        pass(mailing);
        QCOMPARE(sends.count(), 2);
        QCOMPARE(sends.at(1).at(0).toUInt(), byAge.at(1));
        QCOMPARE(MailTenant::row(kDb, byAge.at(0)).status, QStringLiteral("S"));
    }

    void emptyRecipientEndsBadWithoutTransport()
    {
        const uint first
            = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"), "A", "a", {}, 100);
        const uint empty = MailTenant::insertMail(kDb, QStringLiteral(""), "B", "b", {}, 101);
        const uint last
            = MailTenant::insertMail(kDb, QStringLiteral("c@example.test"), "C", "c", {}, 102);
        Mailing mailing;
        mailing.initDB(db);
        QSignalSpy sends(&mailing, &Mailing::toSend);

        pass(mailing);
        const MailTenant::Row row = MailTenant::row(kDb, empty);
        QCOMPARE(row.status, QStringLiteral("B"));
        QVERIFY(!row.done.isNull());
        QVERIFY(row.apiID.isNull());
        QCOMPARE(mailing.stackMids(), (QList<uint> { first, last }));

        for (int i = 0; i < 2; ++i) {
            pass(mailing);
            mailing.sentReply(sends.last().at(0).toUInt(), QStringLiteral("sent"), QString());
        }
        QCOMPARE(sends.count(), 2);
        for (const auto &send : sends)
            QVERIFY(send.at(0).toUInt() != empty);
    }

    void rowAtTransportIsNotReadAgain()
    {
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        Mailing mailing;
        mailing.initDB(db);
        QSignalSpy sends(&mailing, &Mailing::toSend);

        pass(mailing); // read
        pass(mailing); // hand out
        QCOMPARE(sends.count(), 1);
        // The stack is empty, so the next passes read the table again while
        // the row is still pending there.
        pass(mailing);
        pass(mailing);
        QVERIFY(mailing.stackMids().isEmpty());
        pass(mailing);
        QCOMPARE(sends.count(), 1);

        mailing.sentReply(mid, QStringLiteral("sent"), QStringLiteral("x"));
        QCOMPARE(MailTenant::row(kDb, mid).sent, 1u);
        pass(mailing);
        QVERIFY(mailing.stackMids().isEmpty());
        QCOMPARE(sends.count(), 1);
    }

    // The API took the mail without naming it: sending it again would
    // deliver it again, and there is no identifier to ask its state by.
    void queuedWithoutIdIsNeitherSentNorAskedAgain_data()
    {
        QTest::addColumn<QString>("apiID");
        QTest::newRow("empty") << "";
        QTest::newRow("blanks") << "  ";
        QTest::newRow("null") << QString();
    }

    void queuedWithoutIdIsNeitherSentNorAskedAgain()
    {
        QFETCH(QString, apiID);
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        Mailing mailing;
        mailing.initDB(db);
        QSignalSpy sends(&mailing, &Mailing::toSend);
        QSignalSpy checks(&mailing, &Mailing::toCheck);
        LogCapture log;
        pass(mailing); // read
        pass(mailing); // hand out
        QCOMPARE(sends.count(), 1);
        mailing.sentReply(mid, QStringLiteral("queued"), apiID);
        QVERIFY(log.contains(QStringLiteral("queued without a message id")));
        for (int i = 0; i < 4; ++i)
            pass(mailing);
        QCOMPARE(sends.count(), 1);
        QCOMPARE(checks.count(), 0);
        const MailTenant::Row row = MailTenant::row(kDb, mid);
        QCOMPARE(row.status, QStringLiteral("Q"));
        QVERIFY(row.done.isNull());
        QCOMPARE(row.sent, 0u);
        QCOMPARE(row.apiID.toString(), QStringLiteral("yxa-queued-without-id"));
    }

    void sendReplyWordsNotKnownHere_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<bool>("doneSet");
        QTest::addColumn<int>("sendsAfter");
        // Held at the provider as a queued mail is: asked about, never sent again.
        QTest::newRow("scheduled") << "scheduled" << "Q" << false << 1;
        // It may have left: it ends, never goes twice.
        QTest::newRow("unknown word") << "deferred" << "E" << true << 1;
        // The API answered with an error of its own and took nothing.
        QTest::newRow("error object") << "" << "Q" << false << 2;
    }

    void sendReplyWordsNotKnownHere()
    {
        QFETCH(QString, word);
        QFETCH(QString, letter);
        QFETCH(bool, doneSet);
        QFETCH(int, sendsAfter);
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("w@example.test"));
        DBManager budget;
        Mailing mailing;
        mailing.initDB(db);
        mailing.setHostLimits(&budget, {}, QStringLiteral("host-w:1"));
        QSignalSpy sends(&mailing, &Mailing::toSend);
        pass(mailing);
        pass(mailing);
        QCOMPARE(sends.count(), 1);
        mailing.sentReply(mid, word, QStringLiteral("p-1"));
        for (int i = 0; i < 3; ++i)
            pass(mailing);
        QCOMPARE(sends.count(), sendsAfter);
        const MailTenant::Row row = MailTenant::row(kDb, mid);
        QCOMPARE(row.status, letter);
        QCOMPARE(!row.done.isNull(), doneSet);
        QVERIFY(!row.apiID.toString().startsWith(QStringLiteral("yxa-claim:host-w:1:")) || sendsAfter == 2);
        MailTenant::exec(kDb, QStringLiteral("DELETE FROM emails WHERE mid = %1").arg(mid));
    }

    void twoHostsSendEachRowOnce()
    {
        // Two hosts serve the tenant at once for a moment (a lease that ran
        // out under one of them): both read the same rows.
        const uint first = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"), QStringLiteral("Subject"), "Body", {}, 10);
        const uint second = MailTenant::insertMail(kDb, QStringLiteral("b@example.test"), QStringLiteral("Subject"), "Body", {}, 20);
        DBManager budget;
        Mailing hostA;
        hostA.initDB(db);
        hostA.setHostLimits(&budget, {}, QStringLiteral("host-a:1"));
        QSqlDatabase otherDb = MailTenant::connection(QStringLiteral("mailing.queue.other"), kDb);
        Mailing hostB;
        hostB.initDB(otherDb);
        hostB.setHostLimits(&budget, {}, QStringLiteral("host-b:2"));
        QSignalSpy sendsA(&hostA, &Mailing::toSend);
        QSignalSpy sendsB(&hostB, &Mailing::toSend);

        pass(hostA);
        pass(hostB);
        QCOMPARE(hostA.stackMids(), (QList<uint> { first, second }));
        QCOMPARE(hostB.stackMids(), (QList<uint> { first, second }));
        // Between passes neither holds a connection of the budget.
        QCOMPARE(budget.connectionsInUse(), 0);
        pass(hostA);
        QCOMPARE(MailTenant::row(kDb, first).status, QStringLiteral("Q")); // the letter stays as applications know it
        pass(hostB);
        QCOMPARE(sendsA.count(), 1);
        QCOMPARE(sendsB.count(), 1);
        QCOMPARE(sendsA.at(0).at(0).toUInt(), first);
        QCOMPARE(sendsB.at(0).at(0).toUInt(), second);
        hostA.sentReply(first, QStringLiteral("sent"), QString());
        hostB.sentReply(second, QStringLiteral("sent"), QString());
        pass(hostA);
        pass(hostB);
        QCOMPARE(sendsA.count() + sendsB.count(), 2);
        QCOMPARE(MailTenant::row(kDb, first).sent, 1u);
        QCOMPARE(MailTenant::row(kDb, second).sent, 1u);
        QCOMPARE(MailTenant::count(kDb, QStringLiteral("status = 'S' AND apiID IS NULL")), 2);
        QCOMPARE(budget.connectionsInUse(), 0);
    }

    void failedAttemptWaitsOrEnds_data()
    {
        QTest::addColumn<QString>("schedule");
        QTest::addColumn<QString>("kind"); // empty: the transport said nothing of it
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("letter"); // "Q": the row waits
        QTest::addColumn<QString>("logged");
        QTest::newRow("temporary, waits") << "5,5"
                                          << "temporary"
                                          << "error"
                                          << "Q"
                                          << "attempt 1 of 3, temporary (error), next attempt at ";
        QTest::newRow("temporary, empty schedule")
            << ""
            << "temporary"
            << "error"
            << "E"
            << "attempt 1 of 1, temporary (error), final, 'E'";
        QTest::newRow("unknown outcome") << "5"
                                         << "unknown"
                                         << "neterror"
                                         << "E"
                                         << "attempt 1 of 2, unknown (neterror), final, 'E'";
        QTest::newRow("refused") << "5"
                                 << "refused"
                                 << "bad"
                                 << "B"
                                 << "attempt 1 of 2, refused (bad), final, 'B'";
        QTest::newRow("not judged") << "5"
                                    << ""
                                    << "error"
                                    << "E"
                                    << "attempt 1 of 2, refused (error), final, 'E'";
    }

    void failedAttemptWaitsOrEnds()
    {
        QFETCH(QString, schedule);
        QFETCH(QString, kind);
        QFETCH(QString, status);
        QFETCH(QString, letter);
        QFETCH(QString, logged);
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        DBManager budget;
        Mailing mailing;
        mailing.initDB(db);
        mailing.setHostLimits(&budget, {}, QStringLiteral("host-a:1"));
        mailing.setRetrySchedule(RetrySchedule::parse(schedule));
        mailing.setTransportName(QStringLiteral("smtp"));
        QSignalSpy sends(&mailing, &Mailing::toSend);
        QObject::connect(&mailing, &Mailing::toSend, &mailing, [] {});
        LogCapture log;
        pass(mailing);
        pass(mailing);
        QCOMPARE(sends.count(), 1);
        // The server's words reach the history as they came, whatever they hold.
        const QString reply = QStringLiteral("451 4.7.1 try again later ('%1' \\ \"x\");");
        if (!kind.isEmpty())
            mailing.attemptFailed(mid, QStringLiteral("smtp"), kind, reply);
        mailing.sentReply(mid, status, QString());
        QSqlQuery stored(MailTenant::root(kDb));
        QVERIFY(stored.exec(QStringLiteral("SELECT reply FROM email_attempts WHERE mid = %1").arg(mid)));
        QVERIFY(stored.next());
        QCOMPARE(stored.value(0).toString(), kind.isEmpty() ? QString("") : reply);

        const MailTenant::Row row = MailTenant::row(kDb, mid);
        QCOMPARE(row.status, letter);
        QCOMPARE(row.done.isNull(), letter == QLatin1String("Q"));
        QVERIFY(row.apiID.isNull()); // the claim is let go either way
        QCOMPARE(MailTenant::count(kDb, QStringLiteral("mid IN (SELECT mid FROM email_retries)")),
            letter == QLatin1String("Q") ? 1 : 0);
        QCOMPARE(
            MailTenant::count(kDb,
                QStringLiteral("mid IN (SELECT mid FROM email_attempts WHERE attempt = 1 AND "
                               "host = 'host-a:1' AND status = '%1' AND (next_at IS NULL) = %2)")
                    .arg(status)
                    .arg(letter == QLatin1String("Q") ? 0 : 1)),
            1);
        const QStringList lines
            = log.matching(QStringLiteral("Mailing::sentReply() - tenant \"%1\" mid: %2 via smtp, ")
                               .arg(kDb)
                               .arg(mid));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(logged), qPrintable(lines.first()));
        QCOMPARE(lines.first().contains(QLatin1String("451 4.7.1")), !kind.isEmpty());

        // A waiting row is not read before its time, by this host or any other.
        pass(mailing);
        pass(mailing);
        QCOMPARE(sends.count(), 1);
    }

    void deferredRowGoesOnAfterRestartOnce()
    {
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        DBManager budget;
        const RetrySchedule schedule = RetrySchedule::parse(QStringLiteral("1,1"));
        QSqlDatabase otherDb = MailTenant::connection(QStringLiteral("mailing.queue.other"), kDb);
        Mailing hostB;
        hostB.initDB(otherDb);
        hostB.setHostLimits(&budget, {}, QStringLiteral("host-b:2"));
        hostB.setRetrySchedule(schedule);
        QSignalSpy sendsB(&hostB, &Mailing::toSend);
        {
            Mailing hostA;
            hostA.initDB(db);
            hostA.setHostLimits(&budget, {}, QStringLiteral("host-a:1"));
            hostA.setRetrySchedule(schedule);
            QSignalSpy sendsA(&hostA, &Mailing::toSend);
            pass(hostA);
            pass(hostB);
            QCOMPARE(hostB.stackMids(), QList<uint> { mid });
            pass(hostA);
            QCOMPARE(sendsA.count(), 1);
            hostA.attemptFailed(mid, QStringLiteral("smtp"), QStringLiteral("temporary"),
                QStringLiteral("451 4.7.1 try again later"));
            hostA.sentReply(mid, QStringLiteral("error"), QString());
            // Host A is gone now (a restart, or the tenant moved).
        }
        // B read the row before A tried it: that attempt is made, so B's claim fails.
        pass(hostB);
        QCOMPARE(sendsB.count(), 0);
        // Due one second after the database's second of the failure.
        QTest::qSleep(2100); // no event loop: no timer pass of B takes the row first
        // One host after the other finds it due; the first claims it.
        Mailing hostC;
        hostC.initDB(db);
        hostC.setHostLimits(&budget, {}, QStringLiteral("host-c:3"));
        hostC.setRetrySchedule(schedule);
        QSignalSpy sendsC(&hostC, &Mailing::toSend);
        pass(hostC);
        pass(hostB);
        pass(hostC);
        pass(hostB);
        QCOMPARE(sendsC.count(), 1);
        QCOMPARE(sendsB.count(), 0);
        hostC.sentReply(mid, QStringLiteral("sent"), QString());
        QCOMPARE(MailTenant::row(kDb, mid).status, QStringLiteral("S"));
        QCOMPARE(MailTenant::row(kDb, mid).sent, 1u);
        QCOMPARE(
            MailTenant::count(kDb, QStringLiteral("mid IN (SELECT mid FROM email_retries)")), 0);
        QSqlQuery history(MailTenant::root(kDb));
        QVERIFY(history.exec(
            QStringLiteral("SELECT attempt, host, kind FROM email_attempts WHERE mid = %1 "
                           "ORDER BY attempt")
                .arg(mid)));
        QStringList entries;
        while (history.next())
            entries << QStringLiteral("%1 %2 %3")
                           .arg(history.value(0).toString(), history.value(1).toString(),
                               history.value(2).toString());
        QCOMPARE(entries,
            (QStringList {
                QStringLiteral("1 host-a:1 temporary"), QStringLiteral("2 host-c:3 accepted") }));
    }

    void claimOfADeadHostEndsTheRow()
    {
        const uint stale = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        const uint fresh = MailTenant::insertMail(kDb, QStringLiteral("b@example.test"));
        QVERIFY(MailTenant::exec(kDb, QStringLiteral("UPDATE emails SET apiID = CONCAT('yxa-claim:gone:7:', "
                                                     "UNIX_TIMESTAMP() - 700) WHERE mid = %1").arg(stale)));
        QVERIFY(MailTenant::exec(kDb, QStringLiteral("UPDATE emails SET apiID = CONCAT('yxa-claim:busy:8:', "
                                                     "UNIX_TIMESTAMP() - 30) WHERE mid = %1").arg(fresh)));
        DBManager budget;
        Mailing mailing;
        mailing.initDB(db);
        mailing.setHostLimits(&budget, {}, QStringLiteral("host-a:1"));
        QSignalSpy sends(&mailing, &Mailing::toSend);
        QSignalSpy checks(&mailing, &Mailing::toCheck);
        LogCapture log;
        pass(mailing);
        QCOMPARE(log.matching(QStringLiteral("when its host stopped; it ends 'E'")).size(), 1);
        QCOMPARE(MailTenant::row(kDb, stale).status, QStringLiteral("E"));
        QVERIFY(MailTenant::row(kDb, stale).done.toLongLong() > 0);
        // A claim still within its time belongs to a host that may be sending now.
        QVERIFY(MailTenant::row(kDb, fresh).done.isNull());
        QCOMPARE(sends.count() + checks.count(), 0);
    }

    void checkAnswerDoesNotFreeTransport()
    {
        const uint queued
            = MailTenant::insertMail(kDb, QStringLiteral("q@example.test"), "Q", "q", {}, 50);
        QVERIFY(MailTenant::exec(kDb,
            QStringLiteral("UPDATE emails SET status='Q', apiID='api-q' WHERE mid=%1")
                .arg(queued)));
        const uint first
            = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"), "A", "a", {}, 100);
        const uint second
            = MailTenant::insertMail(kDb, QStringLiteral("b@example.test"), "B", "b", {}, 101);
        Mailing mailing;
        mailing.initDB(db);
        QSignalSpy sends(&mailing, &Mailing::toSend);
        QSignalSpy checks(&mailing, &Mailing::toCheck);

        pass(mailing);
        QCOMPARE(checks.count(), 1);
        QCOMPARE(checks.at(0).at(0).toUInt(), queued);
        QCOMPARE(checks.at(0).at(1).toString(), QStringLiteral("api-q"));
        pass(mailing);
        QCOMPARE(sends.count(), 1);
        QCOMPARE(sends.at(0).at(0).toUInt(), first);

        // The answer about another row arrives while the first mail is out.
        mailing.sentReply(queued, QStringLiteral("sent"), QStringLiteral("api-q"));
        QVERIFY(!mailing.isReady());
        pass(mailing);
        QCOMPARE(sends.count(), 1);

        mailing.sentReply(first, QStringLiteral("sent"), QStringLiteral("api-1"));
        pass(mailing);
        QCOMPARE(sends.count(), 2);
        QCOMPARE(sends.at(1).at(0).toUInt(), second);
        QCOMPARE(MailTenant::row(kDb, queued).status, QStringLiteral("S"));
    }

    void resetRowIsSentAgain()
    {
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        Mailing mailing;
        mailing.initDB(db);
        QSignalSpy sends(&mailing, &Mailing::toSend);
        for (int round = 1; round <= 2; ++round) {
            pass(mailing);
            pass(mailing);
            QCOMPARE(sends.count(), round);
            mailing.sentReply(mid, QStringLiteral("sent"), QStringLiteral("id-%1").arg(round));
            QCOMPARE(MailTenant::row(kDb, mid).status, QStringLiteral("S"));
            // The writer's reset statement.
            if (round == 1)
                QVERIFY(MailTenant::exec(kDb,
                    QStringLiteral(
                        "UPDATE emails SET status = 'Q', done = NULL, apiID = NULL WHERE mid =%1")
                        .arg(mid)));
        }
        const MailTenant::Row row = MailTenant::row(kDb, mid);
        QCOMPARE(row.sent, 2u);
        QCOMPARE(row.apiID.toString(), QStringLiteral("id-2"));
    }

    void queuedRowsAskedOnEveryReadPass()
    {
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("q@example.test"));
        QVERIFY(MailTenant::exec(kDb,
            QStringLiteral("UPDATE emails SET status='Q', apiID='api-7' WHERE mid=%1").arg(mid)));
        Mailing mailing;
        mailing.initDB(db);
        QSignalSpy checks(&mailing, &Mailing::toCheck);
        QSignalSpy sends(&mailing, &Mailing::toSend);
        pass(mailing);
        pass(mailing);
        pass(mailing);
        QCOMPARE(checks.count(), 3);
        QCOMPARE(sends.count(), 0);
    }

    void lateStateAnswerDoesNotCountTwice()
    {
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("q@example.test"));
        QVERIFY(MailTenant::exec(kDb,
            QStringLiteral("UPDATE emails SET status='Q', apiID='api-9' WHERE mid=%1").arg(mid)));
        Mailing mailing;
        mailing.initDB(db);
        QSignalSpy checks(&mailing, &Mailing::toCheck);
        QSignalSpy sends(&mailing, &Mailing::toSend);
        // Two read passes ask about the row before the first answer lands.
        pass(mailing);
        pass(mailing);
        QCOMPARE(checks.count(), 2);
        mailing.sentReply(mid, QStringLiteral("sent"), QStringLiteral("api-9"));
        mailing.sentReply(mid, QStringLiteral("sent"), QStringLiteral("api-9"));
        mailing.sentReply(mid, QStringLiteral("queued"), QStringLiteral("api-9"));
        MailTenant::Row row = MailTenant::row(kDb, mid);
        QCOMPARE(row.status, QStringLiteral("S"));
        QCOMPARE(row.sent, 1u);

        // Reset by the writer, it is a new delivery and counts again.
        QVERIFY(MailTenant::exec(kDb,
            QStringLiteral(
                "UPDATE emails SET status = 'Q', done = NULL, apiID = NULL WHERE mid =%1")
                .arg(mid)));
        pass(mailing);
        pass(mailing);
        QCOMPARE(sends.count(), 1);
        mailing.sentReply(mid, QStringLiteral("queued"), QStringLiteral("api-10"));
        mailing.sentReply(mid, QStringLiteral("sent"), QStringLiteral("api-10"));
        row = MailTenant::row(kDb, mid);
        QCOMPARE(row.status, QStringLiteral("S"));
        QCOMPARE(row.sent, 2u);
    }

    void keptStateAnswerIsNotCountedTwice()
    {
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("q@example.test"));
        QVERIFY(MailTenant::exec(kDb,
            QStringLiteral("UPDATE emails SET status='Q', apiID='api-k' WHERE mid=%1").arg(mid)));
        const QString refuse
            = QStringLiteral("CREATE TRIGGER emails_refuse BEFORE UPDATE ON emails FOR EACH ROW "
                             "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'");
        QVERIFY(MailTenant::exec(kDb, QStringLiteral("DROP TRIGGER IF EXISTS emails_refuse")));
        Mailing mailing;
        mailing.initDB(db);
        QSignalSpy checks(&mailing, &Mailing::toCheck);
        pass(mailing);
        QCOMPARE(checks.count(), 1);

        // The answer cannot be written and is kept; meanwhile the row still
        // reads as queued.
        QVERIFY(MailTenant::exec(kDb, refuse));
        mailing.sentReply(mid, QStringLiteral("sent"), QStringLiteral("api-k"));
        pass(mailing);
        QCOMPARE(checks.count(), 1);
        QVERIFY(MailTenant::exec(kDb, QStringLiteral("DROP TRIGGER emails_refuse")));

        // An answer that does get written replaces the kept one.
        mailing.sentReply(mid, QStringLiteral("sent"), QStringLiteral("api-k"));
        pass(mailing);
        pass(mailing);
        const MailTenant::Row row = MailTenant::row(kDb, mid);
        QCOMPARE(row.status, QStringLiteral("S"));
        QCOMPARE(row.sent, 1u);
    }

    void noTransportNoHandOut()
    {
        const uint mid = MailTenant::insertMail(kDb, QStringLiteral("a@example.test"));
        Mailing mailing;
        mailing.initDB(db);
        pass(mailing);
        pass(mailing);
        pass(mailing);
        QCOMPARE(mailing.outstandingMid(), 0u);
        QCOMPARE(mailing.stackMids(), QList<uint> { mid });
        // Once a transport is wired, the waiting mail leaves.
        QSignalSpy sends(&mailing, &Mailing::toSend);
        pass(mailing);
        QCOMPARE(sends.count(), 1);
        QCOMPARE(mailing.outstandingMid(), mid);
    }

    void rowsLeaveOnePerInterval()
    {
        QList<uint> mids;
        for (int i = 0; i < 3; ++i)
            mids << MailTenant::insertMail(
                kDb, QStringLiteral("r%1@example.test").arg(i), "S", "B", {}, 10 + i);
        Mailing mailing;
        mailing.initDB(db);
        QElapsedTimer clock;
        QList<qint64> sentAt;
        // A transport that answers as soon as it gets the mail.
        connect(&mailing, &Mailing::toSend, &mailing, [&](uint mid) {
            sentAt << clock.elapsed();
            QMetaObject::invokeMethod(
                &mailing, [&mailing, mid]() { mailing.sentReply(mid, "sent", "x"); },
                Qt::QueuedConnection);
        });
        const int interval = 700;
        clock.start();
        QVERIFY(mailing.dbConnect());
        mailing.timerStart(interval);
        QTRY_COMPARE_WITH_TIMEOUT(sentAt.size(), 3, 10000);
        // First read after one interval, first mail 500 ms later, then one per interval.
        // (Coarse timers may fire up to 5 % early.)
        QVERIFY2(sentAt.at(0) >= interval + 440, qPrintable(QString::number(sentAt.at(0))));
        QVERIFY2(sentAt.at(1) - sentAt.at(0) >= interval - 50,
            qPrintable(QString::number(sentAt.at(1))));
        QVERIFY2(sentAt.at(2) - sentAt.at(1) >= interval - 50,
            qPrintable(QString::number(sentAt.at(2))));
        for (uint mid : qAsConst(mids))
            QCOMPARE(MailTenant::row(kDb, mid).status, QStringLiteral("S"));
        mailing.timerStop();
    }

    void burstSendsOneAtATimeWithinItsLimits_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<uint>("mailsPerPass");
        QTest::addColumn<uint>("passSeconds");
        QTest::addColumn<int>("replyMs");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("expected");
        QTest::newRow("mail limit") << 5 << 3u << 60u << 0 << "sent" << 3;
        QTest::newRow("time budget") << 5 << 100u << 1u << 400 << "sent" << 3;
        QTest::newRow("reads again until no row is left") << 130 << 500u << 60u << 0 << "sent" << 130;
        QTest::newRow("a network error ends the pass") << 5 << 100u << 60u << 0 << "neterror" << 1;
    }

    void burstSendsOneAtATimeWithinItsLimits()
    {
        QFETCH(int, rows);
        QFETCH(uint, mailsPerPass);
        QFETCH(uint, passSeconds);
        QFETCH(int, replyMs);
        QFETCH(QString, reply);
        QFETCH(int, expected);
        QVERIFY(MailTenant::exec(kDb,
            QStringLiteral("INSERT INTO emails (`from`, `to`, subject, body, created) SELECT "
                           "'a@example.test', CONCAT('r', seq, '@example.test'), 'S', 'B', seq FROM seq_1_to_%1")
                .arg(rows)));
        Mailing mailing;
        mailing.initDB(db);
        mailing.setPassLimits(mailsPerPass, passSeconds);
        mailing.setHostLimits(nullptr, {}, QStringLiteral("host-a:w1"));
        int inFlight = 0;
        int maxInFlight = 0;
        int sends = 0;
        int unclaimedSends = 0;
        connect(&mailing, &Mailing::toSend, &mailing, [&](uint mid) {
            ++sends;
            // Another host must see the claim before the mail leaves.
            if (!MailTenant::row(kDb, mid).apiID.toString().startsWith(
                    QLatin1String("yxa-claim:host-a:w1:")))
                ++unclaimedSends;
            maxInFlight = qMax(maxInFlight, ++inFlight);
            QTimer::singleShot(replyMs, &mailing, [&mailing, &inFlight, mid, reply] {
                --inFlight;
                mailing.sentReply(mid, reply, QString());
            });
        });
        int sentInPass = -1;
        connect(&mailing, &Mailing::passEnded, &mailing, [&] {
            if (sentInPass < 0)
                sentInPass = sends;
        });
        pass(mailing);
        pass(mailing);
        QTRY_VERIFY_WITH_TIMEOUT(sentInPass >= 0, 20000);
        QCOMPARE(sentInPass, expected);
        QCOMPARE(maxInFlight, 1);
        QCOMPARE(unclaimedSends, 0);
        QCOMPARE(MailTenant::count(kDb, QStringLiteral("done IS NOT NULL")), expected);
        QCOMPARE(MailTenant::count(kDb, QStringLiteral("apiID LIKE 'yxa-claim:%'")), 0);
    }

    // Within a burst the next row is claimed while a mail is out, and an
    // outcome is written once the next mail has left: a processor retired
    // in between writes the outcome it holds and lets the claimed row go.
    void retiredBurstLeavesTheNextRowPending()
    {
        QVERIFY(MailTenant::exec(kDb,
            QStringLiteral("INSERT INTO emails (`from`, `to`, subject, body, created) SELECT "
                           "'a@example.test', CONCAT('r', seq, '@example.test'), 'S', 'B', seq "
                           "FROM seq_1_to_5")));
        Mailing mailing;
        mailing.initDB(db);
        mailing.setPassLimits(100, 60);
        mailing.setHostLimits(nullptr, {}, QStringLiteral("host-a:w1"));
        int sends = 0;
        connect(&mailing, &Mailing::toSend, &mailing, [&](uint mid) {
            ++sends;
            QTimer::singleShot(5, &mailing, [&mailing, &sends, mid] {
                mailing.sentReply(mid, QStringLiteral("sent"), QString());
                if (sends == 3)
                    mailing.retire();
            });
        });
        // Whoever waits for drained() may take the connection away at once.
        int writtenWhenDrained = -1;
        connect(&mailing, &Mailing::drained, &mailing, [&writtenWhenDrained] {
            writtenWhenDrained = MailTenant::count(kDb, QStringLiteral("status = 'S'"));
        });
        pass(mailing);
        pass(mailing);
        QTRY_VERIFY(writtenWhenDrained >= 0);
        QTest::qWait(50);
        QCOMPARE(sends, 3);
        QCOMPARE(writtenWhenDrained, 3);
        QCOMPARE(MailTenant::count(kDb, QStringLiteral("done IS NULL AND apiID IS NULL")), 2);
    }

    // passSeconds shares the thread; a backlog does not wait an interval
    // between its passes.
    void backlogPassFollowsAtOnce()
    {
        QVERIFY(MailTenant::exec(kDb,
            QStringLiteral("INSERT INTO emails (`from`, `to`, subject, body, created) SELECT "
                           "'a@example.test', CONCAT('r', seq, '@example.test'), 'S', 'B', seq "
                           "FROM seq_1_to_250")));
        Mailing mailing;
        mailing.initDB(db);
        mailing.setPassLimits(100000, 1);
        connect(&mailing, &Mailing::toSend, &mailing, [&mailing](uint mid) {
            QTimer::singleShot(5, &mailing,
                [&mailing, mid] { mailing.sentReply(mid, QStringLiteral("sent"), QString()); });
        });
        int passes = 0;
        connect(&mailing, &Mailing::passEnded, &mailing, [&passes] { ++passes; });
        // An interval far longer than the test: only the follow-up passes can send it all.
        mailing.timerStart(600000);
        pass(mailing);
        pass(mailing);
        QTRY_VERIFY_WITH_TIMEOUT(
            MailTenant::count(kDb, QStringLiteral("done IS NULL")) == 0, 30000);
        QVERIFY2(passes >= 2, qPrintable(QString::number(passes)));
        QCOMPARE(MailTenant::count(kDb, QStringLiteral("status = 'S' AND sent = 1")), 250);
        mailing.timerStop();
    }

    void unreachableDatabaseIsLoggedPerPass()
    {
        QSqlDatabase broken = MariaDbFixture::connection(
            QStringLiteral("mailing.queue.broken"), kDb, kDb, QStringLiteral("wrong password"));
        Mailing mailing;
        mailing.initDB(broken);
        QSignalSpy sends(&mailing, &Mailing::toSend);
        LogCapture log;
        pass(mailing);
        pass(mailing);
        QCOMPARE(log.count(QStringLiteral("Mailing::processQueue() can't connect to KEXDB !")), 2);
        QVERIFY(log.contains(
            QStringLiteral("Mailing::dbConnect() to mailing.queue.broken - SQL ERROR:")));
        QCOMPARE(sends.count(), 0);
    }
};

YXA_TEST_CLASS(MailingQueueTest)
#include "mailingqueuetest.moc"
