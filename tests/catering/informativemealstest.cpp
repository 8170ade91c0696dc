#include "cateringtenant.h"
#include "mariadbfixture.h"
#include "tabloraworker.h"
#include "testmain.h"

#include <QSqlQuery>
#include <QTimer>
#include <QtTest>

#include <memory>

// Automatic portions of informative meals (a soup that comes with every
// lunch) for every diner who ordered from the same supplier.
class InformativeMealsTest : public QObject
{
    Q_OBJECT

private:
    CateringTenant tenant { QStringLiteral("yxa_cat_informative") };
    std::unique_ptr<TabloraWorker> worker;
    const QDate today = QDate(2030, 3, 4);
    const QDate mealDay = today.addDays(3);

    static QString sqlDate(const QDate &d) { return d.toString(Qt::ISODate); }

    // Supplier 1 offers goulash (type 1) and two informative soups (type 2)
    // for lunch at branch 2; supplier 2 offers an informative soup as well.
    bool seed(int setting = 1)
    {
        return tenant.exec(QStringLiteral("INSERT INTO cat_suppliers (supplierID, name) VALUES (1, "
                                  "'Slnko'), (2, 'Mesiac')"))
            && tenant.exec(QStringLiteral(
                "INSERT INTO cat_segments (segmentID, name, start) VALUES (1, 'Obed', '12:00:00'), "
                "(2, 'Večera', '18:00:00')"))
            && tenant.exec(QStringLiteral(
                "INSERT INTO cat_types (typeID, name, informative) VALUES (1, 'Hlavné', 0), "
                "(2, 'Polievka', 1)"))
            && tenant.exec(
                QStringLiteral("INSERT INTO cat_foods (foodID, name, supplierID, typeID) VALUES "
                               "(1, 'Guláš', 1, 1), (2, 'Vývar', 1, 2), (3, 'Paradajková', 1, 2), "
                               "(4, 'Šošovicová', 2, 2), (5, 'Rezeň', 1, 1)"))
            && tenant.exec(QStringLiteral(
                "INSERT INTO vars (name, value) VALUES ('cat_autoInformativeMealsEnabled', '%1')")
                       .arg(setting));
    }

    bool orderable(
        int id, int foodID, const QDate &day, int bid = 2, int segment = 1, int locked = 1)
    {
        return tenant.exec(QStringLiteral(
            "INSERT INTO cat_orderables (orderableID, segmentID, date, bid, foodID, locked) "
            "VALUES (%1, %2, '%3', %4, %5, %6)")
                       .arg(id)
                       .arg(segment)
                       .arg(sqlDate(day))
                       .arg(bid)
                       .arg(foodID)
                       .arg(locked));
    }

    bool order(int orderableID, int uid, const QString &ordered, int quantity = 1)
    {
        QSqlQuery insert(tenant.root());
        insert.prepare(QStringLiteral(
            "INSERT INTO cat_orders (orderableID, uid, quantity, ordered) VALUES (?, ?, ?, ?)"));
        insert.addBindValue(orderableID);
        insert.addBindValue(uid);
        insert.addBindValue(quantity);
        insert.addBindValue(ordered);
        return insert.exec();
    }

    // The automatic rows as "orderableID uid quantity ordered" lines.
    QStringList autoRows() const
    {
        QStringList rows;
        QSqlQuery query(tenant.root());
        query.exec(QStringLiteral(
            "SELECT orderableID, uid, quantity, ordered FROM cat_orders "
            "WHERE ordered LIKE 'Tablora-auto%' ORDER BY orderableID, uid, orderID"));
        while (query.next())
            rows << QStringLiteral("%1 %2 %3 %4")
                        .arg(query.value(0).toInt())
                        .arg(query.value(1).toInt())
                        .arg(query.value(2).toInt())
                        .arg(query.value(3).toString());
        return rows;
    }

    bool tick()
    {
        return CateringTenant::tickAt(worker.get(), QDateTime(today, QTime(8, 0)));
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
        worker.reset(
            new TabloraWorker(tenant.connection(QStringLiteral("cat.informative.worker"))));
        worker->start();
        worker->pollTimer()->stop();
    }

    void cleanup() { worker.reset(); }
    void cleanupTestCase() { tenant.drop(); }

    void dinerGetsTheSoupOnce()
    {
        QVERIFY(seed());
        QVERIFY(orderable(1, 1, mealDay));
        QVERIFY(orderable(2, 2, mealDay));
        QVERIFY(order(1, 7, QStringLiteral("Obed, Guláš, Centrum, 7.3.2030")));
        QVERIFY(tick());
        QVERIFY(worker->autoInformativeMeals());
        QCOMPARE(autoRows(), QStringList { QStringLiteral("2 7 1 Tablora-auto, Guláš, Centrum") });
        QVERIFY(tick());
        QCOMPARE(autoRows().size(), 1);
    }

    void twoSoupsInOneRun()
    {
        QVERIFY(seed());
        QVERIFY(orderable(1, 1, mealDay));
        QVERIFY(orderable(2, 2, mealDay));
        QVERIFY(orderable(3, 3, mealDay));
        QVERIFY(order(1, 7, QStringLiteral("Obed, Guláš, Centrum")));
        QVERIFY(order(1, 8, QStringLiteral("Obed, Guláš, Sever")));
        QVERIFY(tick());
        QCOMPARE(autoRows(),
            (QStringList { QStringLiteral("2 7 1 Tablora-auto, Guláš, Centrum"),
                QStringLiteral("2 8 1 Tablora-auto, Guláš, Sever"),
                QStringLiteral("3 7 1 Tablora-auto, Guláš, Centrum"),
                QStringLiteral("3 8 1 Tablora-auto, Guláš, Sever") }));
        QVERIFY(tick());
        QCOMPARE(autoRows().size(), 4);
    }

    void oneSoupPerDinerWhateverTheOrders()
    {
        QVERIFY(seed());
        QVERIFY(orderable(1, 1, mealDay));
        QVERIFY(orderable(5, 5, mealDay));
        QVERIFY(orderable(2, 2, mealDay));
        QVERIFY(order(1, 7, QStringLiteral("Obed, Guláš, Centrum")));
        QVERIFY(order(5, 7, QStringLiteral("Obed, Rezeň, Centrum")));
        QVERIFY(order(1, 7, QStringLiteral("Obed, Guláš, Centrum"), 2));
        QVERIFY(tick());
        QCOMPARE(autoRows(), QStringList { QStringLiteral("2 7 1 Tablora-auto, Guláš, Centrum") });
    }

    void zeroQuantityBringsNothing()
    {
        QVERIFY(seed());
        QVERIFY(orderable(1, 1, mealDay));
        QVERIFY(orderable(2, 2, mealDay));
        QVERIFY(order(1, 7, QStringLiteral("Obed, Guláš, Centrum"), 0));
        QVERIFY(tick());
        QVERIFY(autoRows().isEmpty());
    }

    void orderTextWithoutSeparator_data()
    {
        QTest::addColumn<QString>("ordered");
        QTest::addColumn<QString>("automatic");
        QTest::newRow("no separator")
            << QStringLiteral("Guláš") << QStringLiteral("Tablora-auto, , ");
        QTest::newRow("two parts")
            << QStringLiteral("Obed, Guláš") << QStringLiteral("Tablora-auto, Guláš, ");
        QTest::newRow("empty parts kept")
            << QStringLiteral("Obed, , Centrum") << QStringLiteral("Tablora-auto, , Centrum");
        QTest::newRow("comma without blank")
            << QStringLiteral("Obed,Guláš,Centrum") << QStringLiteral("Tablora-auto, , ");
    }

    void orderTextWithoutSeparator()
    {
        QFETCH(QString, ordered);
        QFETCH(QString, automatic);
        QVERIFY(seed());
        QVERIFY(orderable(1, 1, mealDay));
        QVERIFY(orderable(2, 2, mealDay));
        QVERIFY(order(1, 7, ordered));
        QVERIFY(tick());
        QCOMPARE(autoRows(), QStringList { QStringLiteral("2 7 1 ") + automatic });
    }

    void settingSwitches_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("on");
        QTest::newRow("1") << QStringLiteral("1") << true;
        QTest::newRow("2") << QStringLiteral("2") << false;
        QTest::newRow("0") << QStringLiteral("0") << false;
        QTest::newRow("text") << QStringLiteral("yes") << false;
    }

    void settingSwitches()
    {
        QFETCH(QString, value);
        QFETCH(bool, on);
        QVERIFY(seed());
        QVERIFY(tenant.exec(QStringLiteral(
            "UPDATE vars SET value = '%1' WHERE name = 'cat_autoInformativeMealsEnabled'")
                        .arg(value)));
        QVERIFY(orderable(1, 1, mealDay));
        QVERIFY(orderable(2, 2, mealDay));
        QVERIFY(order(1, 7, QStringLiteral("Obed, Guláš, Centrum")));
        QVERIFY(tick());
        QCOMPARE(worker->autoInformativeMeals(), on);
        QCOMPARE(autoRows().size(), on ? 1 : 0);
    }

    void missingSettingKeepsTheFlag()
    {
        QVERIFY(seed(1));
        QVERIFY(tick());
        QVERIFY(worker->autoInformativeMeals());
        QVERIFY(tenant.exec(QStringLiteral("DELETE FROM vars")));
        QVERIFY(tick());
        QVERIFY(worker->autoInformativeMeals());
        QVERIFY(tenant.exec(QStringLiteral(
            "INSERT INTO vars (name, value) VALUES ('cat_autoInformativeMealsEnabled', '2')")));
        QVERIFY(tick());
        QVERIFY(!worker->autoInformativeMeals());
    }

    void onlyLockedCurrentOrderablesCount_data()
    {
        QTest::addColumn<int>("mainLocked");
        QTest::addColumn<int>("soupLocked");
        QTest::addColumn<int>("dayOffset"); // meal day relative to today
        QTest::addColumn<int>("expected");
        QTest::newRow("both locked, future") << 1 << 1 << 3 << 1;
        QTest::newRow("both locked, today") << 1 << 1 << 0 << 1;
        QTest::newRow("main order unlocked") << 0 << 1 << 3 << 0;
        QTest::newRow("soup unlocked") << 1 << 0 << 3 << 0;
        QTest::newRow("yesterday") << 1 << 1 << -1 << 0;
    }

    void onlyLockedCurrentOrderablesCount()
    {
        QFETCH(int, mainLocked);
        QFETCH(int, soupLocked);
        QFETCH(int, dayOffset);
        QFETCH(int, expected);
        QVERIFY(seed());
        QVERIFY(orderable(1, 1, today.addDays(dayOffset), 2, 1, mainLocked));
        QVERIFY(orderable(2, 2, today.addDays(dayOffset), 2, 1, soupLocked));
        QVERIFY(order(1, 7, QStringLiteral("Obed, Guláš, Centrum")));
        QVERIFY(tick());
        QCOMPARE(autoRows().size(), expected);
    }

    void otherSupplierSegmentBranchOrDayGetNothing()
    {
        QVERIFY(seed());
        QVERIFY(orderable(1, 1, mealDay));
        QVERIFY(orderable(2, 4, mealDay)); // soup of supplier 2
        QVERIFY(orderable(3, 2, mealDay, 2, 2)); // dinner, not lunch
        QVERIFY(orderable(4, 2, mealDay, 3)); // another branch
        QVERIFY(orderable(5, 2, mealDay.addDays(1))); // another day
        QVERIFY(order(1, 7, QStringLiteral("Obed, Guláš, Centrum")));
        QVERIFY(tick());
        QVERIFY(autoRows().isEmpty());
    }

    void automaticOrdersAreCountedForTheSupplier()
    {
        QVERIFY(seed());
        QVERIFY(tenant.exec(QStringLiteral(
            "INSERT INTO cat_promailsdelay (proMailDelayID, supplierID, sendtime, daysto) "
            "VALUES (5, 1, '07:00:00', 3)")));
        QVERIFY(orderable(1, 1, mealDay));
        QVERIFY(orderable(2, 2, mealDay));
        QVERIFY(order(1, 7, QStringLiteral("Obed, Guláš, Centrum")));
        QVERIFY(order(1, 8, QStringLiteral("Obed, Guláš, Sever")));
        QVERIFY(tick());
        QStringList due;
        for (const OrderRecord &record : worker->dueOrders())
            due << QStringLiteral("%1 x %2").arg(record.quantity).arg(record.name);
        QCOMPARE(due, (QStringList { QStringLiteral("2 x Guláš"), QStringLiteral("2 x Vývar") }));
    }

    void removeAutoInformativeMeals()
    {
        QVERIFY(seed());
        QVERIFY(orderable(1, 1, mealDay));
        QVERIFY(orderable(2, 2, mealDay));
        QVERIFY(order(1, 7, QStringLiteral("Obed, Guláš, Centrum")));
        QVERIFY(tick());
        QCOMPARE(autoRows().size(), 1);
        QVERIFY(QMetaObject::invokeMethod(
            worker.get(), "removeAutoInformativeMeals", Qt::DirectConnection));
        QVERIFY(autoRows().isEmpty());
        QCOMPARE(tenant.scalar(QStringLiteral("SELECT COUNT(*) FROM cat_orders")).toInt(), 1);
    }
};

YXA_TEST_CLASS(InformativeMealsTest)
#include "informativemealstest.moc"
