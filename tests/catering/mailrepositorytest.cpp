#include "mailrepository.h"
#include "cateringtenant.h"
#include "logcapture.h"
#include "mariadbfixture.h"
#include "testmain.h"

#include <QSqlQuery>
#include <QtTest>

// What MailRepository writes into and reads from the tenant's `emails`.
class MailRepositoryTest : public QObject
{
    Q_OBJECT

private:
    CateringTenant tenant { QStringLiteral("yxa_cat_mailrepo") };
    QSqlDatabase db;

    MailRecord orderMail() const
    {
        MailRecord mail;
        mail.type = QLatin1Char('C');
        mail.from = QStringLiteral("jedalen@firma.test");
        mail.to = QStringLiteral("objednavky@slnko.test");
        mail.subject = QStringLiteral("Firma - Objednávka - 11.01.2030, Obed, dodávateľ: Slnko");
        mail.body = QStringLiteral("Celkový súčet");
        mail.data = QByteArrayLiteral("{\"attachments\": []}");
        return mail;
    }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        QVERIFY2(tenant.create(&error), qPrintable(error));
        db = tenant.connection(QStringLiteral("cat.mailrepo"));
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
    }

    void init() { QVERIFY(tenant.clear()); }

    void cleanupTestCase()
    {
        db.close();
        tenant.drop();
    }

    void missingFieldsStoreNothing_data()
    {
        QTest::addColumn<QString>("field");
        QTest::newRow("no subject") << QStringLiteral("subject");
        QTest::newRow("no sender") << QStringLiteral("from");
        QTest::newRow("no recipient") << QStringLiteral("to");
    }

    void missingFieldsStoreNothing()
    {
        QFETCH(QString, field);
        MailRecord mail = orderMail();
        if (field == QLatin1String("subject"))
            mail.subject.clear();
        else if (field == QLatin1String("from"))
            mail.from.clear();
        else
            mail.to.clear();
        MailRepository repository;
        repository.setDB(db);
        QCOMPARE(repository.addMail(mail), 0);
        QCOMPARE(tenant.scalar(QStringLiteral("SELECT COUNT(*) FROM emails")).toInt(), 0);
    }

    void orderMailIsStoredPending()
    {
        MailRepository repository;
        repository.debug = true;
        repository.setDB(db);
        const int mid = repository.addMail(orderMail());
        QVERIFY(mid > 0);

        QSqlQuery row(tenant.root());
        QVERIFY_SQL(row,
            exec(QStringLiteral(
                "SELECT type, `from`, `to`, subject, body, aid, uid, data, done, apiID, "
                "sent, created, UNIX_TIMESTAMP() FROM emails WHERE mid = %1")
                     .arg(mid)));
        QVERIFY(row.next());
        QCOMPARE(row.value(0).toString(), QStringLiteral("C"));
        QCOMPARE(row.value(1).toString(), orderMail().from);
        QCOMPARE(row.value(2).toString(), orderMail().to);
        QCOMPARE(row.value(3).toString(), orderMail().subject);
        QCOMPARE(row.value(4).toString(), orderMail().body);
        QVERIFY(!row.value(5).isNull());
        QCOMPARE(row.value(5).toUInt(), 0u); // aid 0 is stored as 0
        QVERIFY(row.value(6).isNull()); // uid 0 is stored as NULL
        QCOMPARE(row.value(7).toByteArray(), orderMail().data);
        QVERIFY(row.value(8).isNull());
        QVERIFY(row.value(9).isNull());
        QCOMPARE(row.value(10).toUInt(), 0u);
        QVERIFY(qAbs(row.value(11).toLongLong() - row.value(12).toLongLong()) < 5);
    }

    void referencesAndNullType()
    {
        MailRecord mail = orderMail();
        mail.type = QChar();
        mail.aid = 12;
        mail.uid = 34;
        MailRepository repository;
        repository.setDB(db);
        const int mid = repository.addMail(mail);
        QVERIFY(mid > 0);
        QVERIFY(
            tenant.scalar(QStringLiteral("SELECT type IS NULL FROM emails WHERE mid = %1").arg(mid))
                .toBool());
        QCOMPARE(tenant.scalar(QStringLiteral("SELECT aid FROM emails WHERE mid = %1").arg(mid))
                     .toUInt(),
            12u);
        QCOMPARE(tenant.scalar(QStringLiteral("SELECT uid FROM emails WHERE mid = %1").arg(mid))
                     .toUInt(),
            34u);

        const MailRecord back = repository.loadMail(uint(mid));
        QVERIFY(back.type.isNull());
        QCOMPARE(back.aid, 12u);
        QCOMPARE(back.uid, 34u);
    }

    void quotesStayData()
    {
        MailRecord mail = orderMail();
        mail.subject = QStringLiteral("O'Brien \\ \"Bistro\"'); DROP TABLE emails; --");
        MailRepository repository;
        repository.setDB(db);
        const int mid = repository.addMail(mail);
        QVERIFY(mid > 0);
        QCOMPARE(repository.loadMail(uint(mid)).subject, mail.subject);
    }

    void failingInsertGivesMinusOne()
    {
        QVERIFY(tenant.exec(
            QStringLiteral("CREATE TRIGGER emails_refuse BEFORE INSERT ON emails FOR EACH ROW "
                           "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused by test'")));
        MailRepository repository;
        repository.setDB(db);
        QTest::ignoreMessage(QtCriticalMsg,
            QRegularExpression(
                QStringLiteral("^MailRepository::addMail\\(\\) SQL ERROR:.*refused by test")));
        QCOMPARE(repository.addMail(orderMail()), -1);
    }

    void loadMailReadsTheRow()
    {
        MailRepository repository;
        repository.setDB(db);
        const int mid = repository.addMail(orderMail());
        QVERIFY(mid > 0);
        QVERIFY(tenant.exec(
            QStringLiteral("UPDATE emails SET status = 'S', done = 1700000000, sent = 70000 "
                           "WHERE mid = %1")
                .arg(mid)));
        const MailRecord mail = repository.loadMail(uint(mid));
        QCOMPARE(mail.mid, uint(mid));
        QCOMPARE(mail.type, QLatin1Char('C'));
        QCOMPARE(mail.status, QStringLiteral("S"));
        QCOMPARE(mail.from, orderMail().from);
        QCOMPARE(mail.to, orderMail().to);
        QCOMPARE(mail.subject, orderMail().subject);
        QCOMPARE(mail.body, orderMail().body);
        QCOMPARE(mail.data, orderMail().data);
        QCOMPARE(mail.done, 1700000000u);
        QCOMPARE(mail.sent, quint16(70000 & 0xffff)); // kept in 16 bits
        QVERIFY(mail.created > 0);
        QCOMPARE(mail.uid, 0u);
    }

    void loadOfMissingOrZeroIsEmpty()
    {
        MailRepository repository;
        repository.setDB(db);
        QCOMPARE(repository.loadMail(4711).mid, 0u);
        QVERIFY(repository.loadMail(4711).subject.isEmpty());

        // 0 never reaches the database: not even a closed connection complains.
        MailRepository offline;
        offline.setDB(QSqlDatabase());
        QCOMPARE(offline.loadMail(0).mid, 0u);
        QCOMPARE(offline.resetMail(0), false);
    }

    void resetMakesTheRowPendingAgain()
    {
        MailRepository repository;
        repository.setDB(db);
        const int mid = repository.addMail(orderMail());
        QVERIFY(mid > 0);
        QVERIFY(tenant.exec(QStringLiteral(
            "UPDATE emails SET status = 'S', done = 1700000000, apiID = 'abc', sent = 1 "
            "WHERE mid = %1")
                                .arg(mid)));
        QVERIFY(repository.resetMail(uint(mid)));
        QSqlQuery row(tenant.root());
        QVERIFY_SQL(row,
            exec(QStringLiteral("SELECT status, done, apiID, sent FROM emails WHERE mid = %1")
                     .arg(mid)));
        QVERIFY(row.next());
        QCOMPARE(row.value(0).toString(), QStringLiteral("Q"));
        QVERIFY(row.value(1).isNull());
        QVERIFY(row.value(2).isNull());
        QCOMPARE(row.value(3).toUInt(), 1u);
    }

    void resetOfMissingKeyIsFalse()
    {
        MailRepository repository;
        repository.setDB(db);
        LogCapture log;
        QCOMPARE(repository.resetMail(4711), false);
        QVERIFY2(log.matching(QStringLiteral("MailRepository")).isEmpty(),
            qPrintable(log.lines().join(QLatin1Char('\n'))));
    }
};

YXA_TEST_CLASS(MailRepositoryTest)
#include "mailrepositorytest.moc"
