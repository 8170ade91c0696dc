#include "cateringtenant.h"
#include "logcapture.h"
#include "mariadbfixture.h"
#include "sendslotrule.h"
#include "tabloraworker.h"
#include "testmain.h"

#include <QSqlQuery>
#include <QTimer>
#include <QtTest>

#include <memory>

// When an orderable is due at its supplier: the send-slot rule, skip days,
// segments that have started, unordered and supplier-less orderables, and
// what gets recorded in cat_orderables.sent.
class SendSlotTest : public QObject
{
    Q_OBJECT

private:
    CateringTenant tenant { QStringLiteral("yxa_cat_slots") };
    std::unique_ptr<TabloraWorker> worker;
    // Meal day of the standard fixture, with Wednesday and Thursday before it.
    const QDate friday = nextFriday(QDate(2030, 1, 1));
    const QDate wednesday = friday.addDays(-2);
    const QDate thursday = friday.addDays(-1);

    static QString sqlDate(const QDate &d) { return d.toString(Qt::ISODate); }

    bool seed(const QStringList &statements)
    {
        for (const QString &sql : statements) {
            QString error;
            if (!tenant.exec(sql, &error)) {
                qWarning("%s", qPrintable(error));
                return false;
            }
        }
        return true;
    }

    // Supplier 1 with one address, lunch from 12:00, one food, and two send
    // slots: two days before at 10:00 (id 5), one day before at 14:00 (id 6).
    bool seedSupplier()
    {
        return seed({ QStringLiteral(
                          "INSERT INTO cat_suppliers (supplierID, name) VALUES (1, 'Slnko')"),
            QStringLiteral("INSERT INTO cat_suppliermails (supplierID, mail) VALUES (1, "
                           "'objednavky@slnko.test')"),
            QStringLiteral(
                "INSERT INTO cat_segments (segmentID, name, start) VALUES (1, 'Obed', '12:00:00')"),
            QStringLiteral(
                "INSERT INTO cat_foods (foodID, name, supplierID) VALUES (1, 'Guláš', 1)"),
            QStringLiteral("INSERT INTO branches (bid, name) VALUES (1, 'Centrum')"),
            QStringLiteral(
                "INSERT INTO vars (name, value) VALUES ('globalEmail', 'jedalen@firma.test')"),
            QStringLiteral(
                "INSERT INTO cat_promailsdelay (proMailDelayID, supplierID, sendtime, daysto) "
                "VALUES (5, 1, '10:00:00', 2), (6, 1, '14:00:00', 1)") });
    }

    bool addOrderable(int id, const QDate &day, int quantity, int foodID = 1, int locked = 1)
    {
        QStringList sql { QStringLiteral(
            "INSERT INTO cat_orderables (orderableID, segmentID, date, bid, foodID, locked) "
            "VALUES (%1, 1, '%2', 1, %3, %4)")
                              .arg(id)
                              .arg(sqlDate(day))
                              .arg(foodID)
                              .arg(locked) };
        if (quantity > 0)
            sql << QStringLiteral("INSERT INTO cat_orders (orderableID, uid, quantity, ordered) "
                                  "VALUES (%1, 7, %2, 'Obed, Guláš, Centrum')")
                       .arg(id)
                       .arg(quantity);
        return seed(sql);
    }

    QVariant sentOf(int orderableID) const
    {
        return tenant.scalar(
            QStringLiteral("SELECT sent FROM cat_orderables WHERE orderableID = %1")
                .arg(orderableID));
    }

    int mailCount() const
    {
        return tenant.scalar(QStringLiteral("SELECT COUNT(*) FROM emails")).toInt();
    }

    // Slots the current tick found due, as "orderableID:slot" items.
    QStringList due() const
    {
        QStringList list;
        for (const OrderRecord &order : worker->dueOrders())
            list << QStringLiteral("%1:%2").arg(order.orderableID).arg(order.proMailDelayID);
        return list;
    }

    bool tick(const QDate &day, const QTime &time)
    {
        return CateringTenant::tickAt(worker.get(), QDateTime(day, time));
    }

    // "id:daysto:hh:mm" items of supplier 1; "-" as the time stands for NULL.
    static QVector<SupplierTimeRecord> parseSlots(const QString &text)
    {
        QVector<SupplierTimeRecord> list;
        for (const QString &item : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QStringList parts = item.split(QLatin1Char(':'));
            SupplierTimeRecord slot;
            slot.proMailDelayID = parts.value(0).toInt();
            slot.supplierID = 1;
            slot.daysto = parts.value(1).toInt();
            if (parts.value(2) != QLatin1String("-"))
                slot.sendtime = QTime(parts.value(2).toInt(), parts.value(3).toInt());
            list.append(slot);
        }
        return list;
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
        worker.reset(new TabloraWorker(tenant.connection(QStringLiteral("cat.slots.worker"))));
        worker->start();
        worker->pollTimer()->stop(); // the test drives the ticks
    }

    void cleanup() { worker.reset(); }

    void cleanupTestCase() { tenant.drop(); }

    void slotsFireOnceEachInOrder()
    {
        QVERIFY(seedSupplier());
        QVERIFY(addOrderable(1, friday, 2));

        struct Step
        {
            QDate day;
            QTime time;
            QString due;
            int sent;
            int mails;
        };
        const Step steps[] = {
            { wednesday, QTime(9, 59), QString(), 0, 0 },
            { wednesday, QTime(10, 0), QString(), 0, 0 }, // a slot at exactly now has not passed
            { wednesday, QTime(10, 1), QStringLiteral("1:5"), 5, 1 },
            { wednesday, QTime(10, 2), QString(), 5, 1 },
            { wednesday, QTime(23, 59), QString(), 5, 1 },
            { thursday, QTime(13, 59), QString(), 5, 1 },
            { thursday, QTime(14, 1), QStringLiteral("1:6"), 6, 2 },
            { thursday, QTime(20, 0), QString(), 6, 2 },
            { friday, QTime(9, 0), QString(), 6, 2 },
        };
        for (const Step &step : steps) {
            const QByteArray where
                = QStringLiteral("%1 %2").arg(step.day.toString(), step.time.toString()).toUtf8();
            QVERIFY2(tick(step.day, step.time), where.constData());
            QVERIFY2(due().join(QLatin1Char(' ')) == step.due,
                (where + " due: " + due().join(QLatin1Char(' ')).toUtf8()).constData());
            QVERIFY2(sentOf(1).toInt() == step.sent, where.constData());
            QVERIFY2(mailCount() == step.mails, where.constData());
        }

        // A slot stored later whose send moment lies before slot 6 changes nothing.
        QVERIFY(seed({ QStringLiteral(
            "INSERT INTO cat_promailsdelay (proMailDelayID, supplierID, sendtime, daysto) "
            "VALUES (9, 1, '10:00:00', 3)") }));
        QVERIFY(tick(friday, QTime(9, 30)));
        QVERIFY(due().isEmpty());
        QCOMPARE(sentOf(1).toInt(), 6);
        QCOMPARE(mailCount(), 2);
        QCOMPARE(worker->sendSlots().size(), 3);
        QCOMPARE(worker->sendSlots().first().proMailDelayID, 9); // earliest send moment first
    }

    // The rule on its own, no database: 2030-01-07 is a Monday.
    void slotRule_data()
    {
        QTest::addColumn<QString>("slotList");
        QTest::addColumn<bool>("skip");
        QTest::addColumn<QString>("holidays");
        QTest::addColumn<QDate>("meal");
        QTest::addColumn<int>("sent");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<int>("due");

        const QDate mon(2030, 1, 7), tue(2030, 1, 8), wed(2030, 1, 9), thu(2030, 1, 10),
            fri(2030, 1, 11), sat(2030, 1, 12), sun(2030, 1, 13), nextMon(2030, 1, 14);
        const QString twoSlots = QStringLiteral("5:2:10:00 6:1:14:00");
        auto at = [](const QDate &day, int h, int m) { return QDateTime(day, QTime(h, m)); };

        QTest::newRow("slot time is now")
            << twoSlots << false << QString() << fri << 0 << at(wed, 10, 0) << -1;
        QTest::newRow("first slot passed")
            << twoSlots << false << QString() << fri << 0 << at(wed, 10, 1) << 5;
        QTest::newRow("second slot passed")
            << twoSlots << false << QString() << fri << 5 << at(thu, 14, 1) << 6;
        QTest::newRow("earlier slot added later")
            << QStringLiteral("9:3:10:00 5:2:10:00 6:1:14:00") << false << QString() << fri << 6
            << at(fri, 9, 30) << -1;
        QTest::newRow("NULL time passes at midnight")
            << QStringLiteral("5:1:-") << false << QString() << fri << 0 << at(thu, 0, 0) << 5;

        // Working days counted from a free day must not bring an earlier
        // slot back after a later one was sent.
        const QStringList weekend { QStringLiteral("Sat 00:01"), QStringLiteral("Sat 14:01"),
            QStringLiteral("Sun 00:01"), QStringLiteral("Sun 14:01") };
        QTest::newRow("skip, Thursday: first slot")
            << twoSlots << true << QString() << nextMon << 0 << at(thu, 10, 1) << 5;
        QTest::newRow("skip, Friday before second")
            << twoSlots << true << QString() << nextMon << 5 << at(fri, 13, 59) << -1;
        QTest::newRow("skip, Friday: second slot")
            << twoSlots << true << QString() << nextMon << 5 << at(fri, 14, 1) << 6;
        for (const QString &when : weekend) {
            const QDate day = when.startsWith(QLatin1String("Sat")) ? sat : sun;
            const QTime time = QTime::fromString(when.mid(4), QStringLiteral("hh:mm"));
            QTest::newRow(qPrintable(QStringLiteral("skip, sent, ") + when))
                << twoSlots << true << QString() << nextMon << 6 << QDateTime(day, time) << -1;
        }
        const QString wednesdayOff = wed.toString(Qt::ISODate);
        QTest::newRow("mid-week holiday, Monday")
            << twoSlots << true << wednesdayOff << thu << 0 << at(mon, 10, 1) << 5;
        QTest::newRow("mid-week holiday, Tuesday")
            << twoSlots << true << wednesdayOff << thu << 5 << at(tue, 14, 1) << 6;
        QTest::newRow("mid-week holiday, on it")
            << twoSlots << true << wednesdayOff << thu << 6 << at(wed, 0, 1) << -1;

        // The stored slot is gone: the most recent passed one is sent once.
        QTest::newRow("sent slot deleted")
            << QStringLiteral("5:2:10:00") << false << QString() << fri << 6 << at(thu, 15, 0) << 5;
        QTest::newRow("sent slot deleted, then sent")
            << QStringLiteral("5:2:10:00") << false << QString() << fri << 5 << at(thu, 15, 0)
            << -1;
        QTest::newRow("slot moved behind the sent one")
            << QStringLiteral("5:1:16:00 6:1:14:00") << false << QString() << fri << 6
            << at(thu, 15, 0) << -1;
        QTest::newRow("slot moved behind the sent one, passed")
            << QStringLiteral("5:1:16:00 6:1:14:00") << false << QString() << fri << 6
            << at(thu, 16, 1) << 5;

        // Equal days and time: the slot id orders them, whatever the input order.
        QTest::newRow("twin slots, sent the later id")
            << QStringLiteral("8:1:10:00 7:1:10:00") << false << QString() << fri << 8
            << at(thu, 10, 1) << -1;
        QTest::newRow("twin slots, other order") << QStringLiteral("7:1:10:00 8:1:10:00") << false
                                                 << QString() << fri << 0 << at(thu, 10, 1) << 8;

        // Each meal day is decided on its own (one mail per day follows).
        QTest::newRow("Friday tick, Saturday meal")
            << QStringLiteral("5:1:10:00") << true << QString() << sat << 0 << at(fri, 9, 0) << 5;
        QTest::newRow("Friday tick, Sunday meal")
            << QStringLiteral("5:1:10:00") << true << QString() << sun << 0 << at(fri, 9, 0) << 5;
        QTest::newRow("Friday tick, Monday meal")
            << QStringLiteral("5:1:10:00") << true << QString() << nextMon << 0 << at(fri, 9, 0)
            << -1;
    }

    void slotRule()
    {
        QFETCH(QString, slotList);
        QFETCH(bool, skip);
        QFETCH(QString, holidays);
        QFETCH(QDate, meal);
        QFETCH(int, sent);
        QFETCH(QDateTime, now);
        QFETCH(int, due);

        QSet<QDate> freeDays;
        for (const QString &day : holidays.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            freeDays.insert(QDate::fromString(day, Qt::ISODate));
        QHash<uint, bool> skipDays;
        if (skip)
            skipDays.insert(1, true);
        const SendSlotRule rule(parseSlots(slotList), skipDays, freeDays, now);
        QCOMPARE(rule.dueSlot(1, meal, sent), due);
    }

    void weekendSendsEachSlotOnce()
    {
        QVERIFY(seedSupplier());
        QVERIFY(tenant.exec(QStringLiteral(
            "INSERT INTO vars (name, value) VALUES ('tabl_skipFreeDays', '{\"1\": true}')")));
        const QDate monday = friday.addDays(3);
        QVERIFY(addOrderable(1, monday, 2));
        for (int hours = 0; hours < 4 * 24; hours += 2) {
            const QDateTime at = QDateTime(thursday, QTime(0, 1)).addSecs(hours * 3600);
            QVERIFY(tick(at.date(), at.time()));
        }
        QCOMPARE(mailCount(), 2);
        QCOMPARE(sentOf(1).toInt(), 6);
    }

    void failedReadLeavesOrdersDue_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("supplier addresses") << QStringLiteral("cat_suppliermails");
        QTest::newRow("branch names") << QStringLiteral("branches");
        QTest::newRow("holidays") << QStringLiteral("holidays");
    }

    void failedReadLeavesOrdersDue()
    {
        QFETCH(QString, table);
        QVERIFY(seedSupplier());
        QVERIFY(addOrderable(1, friday, 2));
        QVERIFY(tenant.exec(QStringLiteral("RENAME TABLE %1 TO %1_away").arg(table)));
        LogCapture log;
        const bool ticked = tick(wednesday, QTime(10, 1));
        QVERIFY(tenant.exec(QStringLiteral("RENAME TABLE %1_away TO %1").arg(table)));
        QVERIFY(ticked);
        QCOMPARE(mailCount(), 0);
        QVERIFY(sentOf(1).isNull());
        QCOMPARE(log.matching(QStringLiteral("configuration not fully read")).size(), 1);

        QVERIFY(tick(wednesday, QTime(10, 2)));
        QCOMPARE(mailCount(), 1);
        QCOMPARE(sentOf(1).toInt(), 5);
    }

    void tickReadsTheClockOnce()
    {
        QVERIFY(seedSupplier());
        QVERIFY(addOrderable(1, friday, 2));
        QVERIFY(CateringTenant::setTime(worker.get(), QDateTime(wednesday, QTime(10, 1))));
        // A clock that moves on at every reading: a tick that read it more
        // than once would mix the moments.
        int readings = 0;
        worker->setClock([this, &readings] {
            return QDateTime(wednesday, QTime(10, 1)).addSecs(3600 * readings++);
        });
        worker->timerTick();
        QCOMPARE(readings, 1);
        QCOMPARE(due(), QStringList { QStringLiteral("1:5") });
    }

    void unorderedIsNotMailedUntilOrdered()
    {
        QVERIFY(seedSupplier());
        QVERIFY(addOrderable(1, friday, 0));
        QVERIFY(tick(wednesday, QTime(10, 1)));
        QVERIFY(due().isEmpty());
        QVERIFY(sentOf(1).isNull());
        QCOMPARE(mailCount(), 0);

        // Quantity 0 in an order row is still nothing ordered.
        QVERIFY(seed({ QStringLiteral("INSERT INTO cat_orders (orderableID, uid, quantity, "
                                      "ordered) VALUES (1, 7, 0, 'x')") }));
        QVERIFY(tick(wednesday, QTime(11, 0)));
        QVERIFY(due().isEmpty());
        QVERIFY(sentOf(1).isNull());

        QVERIFY(seed({ QStringLiteral("INSERT INTO cat_orders (orderableID, uid, quantity, "
                                      "ordered) VALUES (1, 8, 3, 'y')") }));
        QVERIFY(tick(thursday, QTime(9, 0)));
        QCOMPARE(due(), QStringList { QStringLiteral("1:5") });
        QCOMPARE(sentOf(1).toInt(), 5);
        QCOMPARE(mailCount(), 1);
    }

    void foodWithoutSupplierIsNeverDue()
    {
        QVERIFY(seedSupplier());
        QVERIFY(seed({ QStringLiteral("INSERT INTO cat_foods (foodID, name, supplierID) VALUES (2, "
                                      "'Bez dodávateľa', NULL)") }));
        QVERIFY(addOrderable(1, friday, 2, 2));
        QVERIFY(tick(wednesday, QTime(10, 1)));
        QVERIFY(due().isEmpty());
        QVERIFY(tick(thursday, QTime(23, 0)));
        QVERIFY(due().isEmpty());
        QVERIFY(sentOf(1).isNull());
        QCOMPARE(mailCount(), 0);
    }

    void unlockedIsNeverDue()
    {
        QVERIFY(seedSupplier());
        QVERIFY(addOrderable(1, friday, 2, 1, 0));
        QVERIFY(tick(thursday, QTime(23, 0)));
        QVERIFY(due().isEmpty());
        QVERIFY(sentOf(1).isNull());
    }

    void startedSegmentIsNotRead_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<bool>("due");
        QTest::newRow("before the segment starts") << QTime(11, 59) << true;
        QTest::newRow("segment has started") << QTime(12, 1) << false;
    }

    void startedSegmentIsNotRead()
    {
        QFETCH(QTime, time);
        QFETCH(bool, due);
        QVERIFY(seedSupplier());
        QVERIFY(seed({ QStringLiteral(
            "INSERT INTO cat_promailsdelay (proMailDelayID, supplierID, sendtime, daysto) "
            "VALUES (7, 1, '08:00:00', 0)") }));
        QVERIFY(addOrderable(1, friday, 2));
        QVERIFY(tick(friday, time));
        QCOMPARE(!worker->dueOrders().isEmpty(), due);
        QCOMPARE(sentOf(1).isNull(), !due);
        if (due)
            QCOMPARE(sentOf(1).toInt(), 7);
    }

    // Every order mail is about one meal day: its subject, body sums and PDF.
    void twoDaysMakeTwoMails()
    {
        QVERIFY(seedSupplier());
        QVERIFY(addOrderable(1, friday, 2));
        QVERIFY(addOrderable(2, friday.addDays(1), 1));
        QVERIFY(tick(thursday, QTime(10, 1)));
        QCOMPARE(due(), (QStringList { QStringLiteral("1:5"), QStringLiteral("2:5") }));
        QCOMPARE(mailCount(), 2);
        QSqlQuery mails(tenant.root());
        QVERIFY_SQL(mails, exec(QStringLiteral("SELECT subject, body FROM emails ORDER BY mid")));
        for (const QDate &day : { friday, friday.addDays(1) }) {
            QVERIFY(mails.next());
            const QString subject = mails.value(0).toString();
            QVERIFY2(
                subject.contains(day.toString(QStringLiteral("dd.MM.yyyy"))), qPrintable(subject));
            const int portions = day == friday ? 2 : 1;
            QVERIFY2(
                mails.value(1).toString().contains(QStringLiteral("%1  x \tGuláš\n").arg(portions)),
                qPrintable(mails.value(1).toString()));
        }
        QCOMPARE(sentOf(1).toInt(), 5);
        QCOMPARE(sentOf(2).toInt(), 5);
    }

    void supplierWithoutAddressIsMarkedSent()
    {
        QVERIFY(seedSupplier());
        QVERIFY(tenant.exec(QStringLiteral("DELETE FROM cat_suppliermails")));
        QVERIFY(addOrderable(1, friday, 2));
        QVERIFY(tick(wednesday, QTime(10, 1)));
        QCOMPARE(due(), QStringList { QStringLiteral("1:5") });
        QCOMPARE(mailCount(), 0);
        QCOMPARE(sentOf(1).toInt(), 5);
        QVERIFY(tick(wednesday, QTime(10, 2)));
        QVERIFY(due().isEmpty());
    }

    void skipDays_data()
    {
        QTest::addColumn<QString>("skipSetting"); // empty: no vars row
        QTest::addColumn<int>("mondayHoliday"); // -1 none, else its freeDay
        QTest::addColumn<QTime>("time");
        QTest::addColumn<int>("daysto");
        QTest::addColumn<QString>("dueDays"); // days after the Friday that are due

        const QString on = QStringLiteral("{\"1\": true}");
        QTest::newRow("skip, after send time")
            << on << -1 << QTime(10, 1) << 3 << QStringLiteral("1 2 3");
        QTest::newRow("skip, before send time")
            << on << -1 << QTime(9, 59) << 3 << QStringLiteral("1 2");
        QTest::newRow("skip, Monday holiday")
            << on << 1 << QTime(10, 1) << 4 << QStringLiteral("1 2 3 4");
        QTest::newRow("skip, Monday holiday, before")
            << on << 1 << QTime(9, 59) << 4 << QStringLiteral("1 2 3");
        QTest::newRow("skip, Monday not a free day")
            << on << 0 << QTime(10, 1) << 3 << QStringLiteral("1 2 3");
        QTest::newRow("flag false") << QStringLiteral("{\"1\": false, \"2\": true}") << 1
                                    << QTime(10, 1) << 1 << QStringLiteral("1");
        QTest::newRow("flag as number")
            << QStringLiteral("{\"1\": 1}") << -1 << QTime(10, 1) << 1 << QStringLiteral("1");
        QTest::newRow("no setting") << QString() << 1 << QTime(10, 1) << 1 << QStringLiteral("1");
        QTest::newRow("array setting")
            << QStringLiteral("[1, 2]") << 1 << QTime(10, 1) << 1 << QStringLiteral("1");
    }

    void skipDays()
    {
        QFETCH(QString, skipSetting);
        QFETCH(int, mondayHoliday);
        QFETCH(QTime, time);
        QFETCH(int, daysto);
        QFETCH(QString, dueDays);

        QVERIFY(seedSupplier());
        QVERIFY(tenant.exec(QStringLiteral("DELETE FROM cat_promailsdelay")));
        QVERIFY(seed({ QStringLiteral(
            "INSERT INTO cat_promailsdelay (proMailDelayID, supplierID, sendtime, daysto) "
            "VALUES (5, 1, '10:00:00', 1)") }));
        for (int day = 1; day <= 5; ++day)
            QVERIFY(addOrderable(day, friday.addDays(day), 1));
        if (!skipSetting.isEmpty()) {
            QSqlQuery insert(tenant.root());
            insert.prepare(
                QStringLiteral("INSERT INTO vars (name, value) VALUES ('tabl_skipFreeDays', ?)"));
            insert.addBindValue(skipSetting);
            QVERIFY_SQL(insert, exec());
        }
        if (mondayHoliday >= 0)
            QVERIFY(seed({ QStringLiteral(
                "INSERT INTO holidays (date, name, freeDay) VALUES (%1, 'Sviatok', %2)")
                               .arg(friday.addDays(3).toJulianDay())
                               .arg(mondayHoliday) }));

        LogCapture log;
        QVERIFY(tick(friday, time));
        QCOMPARE(worker->sendSlots().size(), 1);
        QCOMPARE(worker->sendSlots().first().daysto, daysto);

        QStringList dueList;
        for (const OrderRecord &order : worker->dueOrders())
            dueList << QString::number(friday.daysTo(order.date));
        QCOMPARE(dueList.join(QLatin1Char(' ')), dueDays);

        const bool invalidForm = skipSetting.startsWith(QLatin1Char('['));
        QCOMPARE(
            !log.matching(QStringLiteral("Neplatný JSON formát pre tabl_skipFreeDays!")).isEmpty(),
            invalidForm);
        QCOMPARE(
            !log.matching(QStringLiteral("Nepodarilo sa načítať tabl_skipFreeDays z tabuľky vars!"))
                 .isEmpty(),
            skipSetting.isEmpty());
    }

    void companyAndSender()
    {
        QVERIFY(seedSupplier());
        QVERIFY(addOrderable(1, friday, 2));
        QSqlQuery insert(tenant.root());
        insert.prepare(QStringLiteral("INSERT INTO vars (name, value) VALUES ('LCNSN', ?)"));
        insert.addBindValue(CateringTenant::licenceName(QStringLiteral("Firma Ťažká, s.r.o.???")));
        QVERIFY_SQL(insert, exec());
        QVERIFY(tick(wednesday, QTime(10, 1)));
        QCOMPARE(worker->company(), QStringLiteral("Firma Ťažká, s.r.o.???"));
        QCOMPARE(worker->senderAddress(), QStringLiteral("jedalen@firma.test"));
        QCOMPARE(tenant.scalar(QStringLiteral("SELECT subject FROM emails")).toString(),
            QStringLiteral("Firma Ťažká, s.r.o.??? - Objednávka - %1, Obed, dodávateľ: Slnko")
                .arg(friday.toString(QStringLiteral("dd.MM.yyyy"))));
        QCOMPARE(tenant.scalar(QStringLiteral("SELECT `from` FROM emails")).toString(),
            QStringLiteral("jedalen@firma.test"));
    }

    void defaultSender_data()
    {
        QTest::addColumn<QVariant>("globalEmail"); // invalid: no row
        QTest::addColumn<QByteArray>("environment"); // empty: unset
        QTest::addColumn<QString>("expected");
        QTest::newRow("no row, no variable")
            << QVariant() << QByteArray() << QStringLiteral("noreply@localhost");
        QTest::newRow("empty row, no variable")
            << QVariant(QString()) << QByteArray() << QStringLiteral("noreply@localhost");
        QTest::newRow("no row, variable") << QVariant() << QByteArrayLiteral("orders@tenant.test")
                                          << QStringLiteral("orders@tenant.test");
        QTest::newRow("empty row, variable")
            << QVariant(QString()) << QByteArrayLiteral("orders@tenant.test")
            << QStringLiteral("orders@tenant.test");
    }

    void defaultSender()
    {
        QFETCH(QVariant, globalEmail);
        QFETCH(QByteArray, environment);
        QFETCH(QString, expected);
        if (environment.isEmpty())
            qunsetenv("YXA_DEFAULT_SENDER");
        else
            qputenv("YXA_DEFAULT_SENDER", environment);
        if (globalEmail.isValid())
            QVERIFY(tenant.exec(
                QStringLiteral("INSERT INTO vars (name, value) VALUES ('globalEmail', '')")));
        worker->getSender();
        qunsetenv("YXA_DEFAULT_SENDER");
        QCOMPARE(worker->senderAddress(), expected);
    }
};

YXA_TEST_CLASS(SendSlotTest)
#include "sendslottest.moc"
