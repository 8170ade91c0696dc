// Where a page's records come from: the caller's signals, inline rows, an SQL
// query against the real MariaDB, and a data-source library.
#include "logcapture.h"
#include "mariadbfixture.h"
#include "rptdsinline.h"
#include "rptdsplugin.h"
#include "rptengine.h"
#include "rptpageobject.h"
#include "rptsql.h"
#include "rpttestcaller.h"
#include "rpttestutil.h"
#include "testmain.h"

#include <QBuffer>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QTest>
#include <QTextCodec>

using namespace RptTest;

namespace {

const QString kDatabase = QStringLiteral("rpt_test");

QString sqlSource(const QString &name, const QString &query, const QString &extra = QString())
{
    return QStringLiteral(
        "<DataSource type=\"SQL\" name=\"%1\" dbType=\"QMYSQL\" dbName=\"%2\" dbHost=\"%3\" "
        "dbUser=\"root\" dbPassword=\"%4\" dbPort=\"%5\" dbConnectionName=\"rpt_test_%1\" %6>"
        "  %7  </DataSource>")
        .arg(
            name, kDatabase, MariaDbFixture::host(), MariaDbFixture::rootPassword().toHtmlEscaped())
        .arg(MariaDbFixture::port())
        .arg(extra, query.toHtmlEscaped());
}

QString inlineSource(const QString &name, int rowCount, const QStringList &rows,
    const QString &delimiter = QStringLiteral(";"))
{
    QString children;
    for (const QString &r : rows)
        children += QStringLiteral("<Row value=\"%1\"/>").arg(r.toHtmlEscaped());
    return QStringLiteral(
        "<DataSource type=\"INLINE\" name=\"%1\" rowCount=\"%2\" delimiter=\"%3\">%4</DataSource>")
        .arg(name)
        .arg(rowCount)
        .arg(delimiter, children);
}

QString masterBand(int bandNo = 1, const QString &dataSourceName = QString())
{
    return QStringLiteral("<ReportBand type=\"MasterData\" bandNo=\"%1\" dataSourceName=\"%2\"/>")
        .arg(bandNo)
        .arg(dataSourceName);
}

QByteArray pngBytes()
{
    QImage image(5, 4, QImage::Format_RGB32);
    image.fill(Qt::green);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace

class DataSourceTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString why;
        if (!MariaDbFixture::isAvailable(&why))
            return; // the SQL cases fail with the reason themselves
        QSqlDatabase root = MariaDbFixture::rootConnection();
        QSqlQuery q(root);
        QVERIFY_SQL(q, exec(QStringLiteral("DROP DATABASE IF EXISTS rpt_test")));
        QVERIFY_SQL(q, exec(QStringLiteral("CREATE DATABASE rpt_test CHARACTER SET utf8mb4")));
        QVERIFY_SQL(q,
            exec(QStringLiteral(
                "CREATE TABLE rpt_test.customers (id INT PRIMARY KEY, name VARCHAR(64), "
                "city VARCHAR(64), logo BLOB) CHARACTER SET utf8mb4")));
        QVERIFY_SQL(q,
            prepare(QStringLiteral(
                "INSERT INTO rpt_test.customers VALUES (:id, :name, :city, :logo)")));
        const QStringList names { QStringLiteral("Anna"), QStringLiteral("Čaj s.r.o."),
            QStringLiteral("Tofu <vegan>") };
        const QStringList cities { QStringLiteral("Košice"), QStringLiteral("Brno"), QString() };
        for (int i = 0; i < 3; ++i) {
            q.bindValue(QStringLiteral(":id"), i + 1);
            q.bindValue(QStringLiteral(":name"), names.at(i));
            q.bindValue(QStringLiteral(":city"), cities.at(i));
            q.bindValue(QStringLiteral(":logo"), i == 0 ? pngBytes() : QByteArray());
            QVERIFY_SQL(q, exec());
        }
    }

    void cleanupTestCase()
    {
        if (MariaDbFixture::isAvailable())
            MariaDbFixture::dropDatabase(kDatabase);
    }

    // ---- the caller --------------------------------------------------------

    void announcesOneMasterBand()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, page(masterBand())));
        RptTestCaller caller(&engine);
        caller.recCount = 4;
        prepareRun(engine);
        QCOMPARE(caller.announced.size(), 1);
        QCOMPARE(caller.announced.first().reportPage, 0);
        QCOMPARE(caller.announced.first().dataSetNo, 1);
        QCOMPARE(caller.announced.first().dataSetName, QString());
        QCOMPARE(caller.announced.first().recCount, 0);
        QCOMPARE(engine.getRecCount(0, 1), 4);
        QCOMPARE(engine.getRecCount(0, QString()), 4);
        QCOMPARE(engine.getRecCount(1, 1), 0);
    }

    void announcesEveryNumberAndSkipsGaps_data()
    {
        QTest::addColumn<QString>("bands");
        QTest::addColumn<QList<int>>("numbers");
        QTest::newRow("none") << QString() << QList<int>();
        QTest::newRow("1 and 2") << masterBand(1, QStringLiteral("a")) + masterBand(2)
                                 << QList<int> { 1, 2 };
        QTest::newRow("1 and 3") << masterBand(1) + masterBand(3) << QList<int> { 1, 3 };
        QTest::newRow("only 2") << masterBand(2) << QList<int> { 2 };
    }
    void announcesEveryNumberAndSkipsGaps()
    {
        QFETCH(QString, bands);
        QFETCH(QList<int>, numbers);
        RptEngine engine;
        QVERIFY(loadXml(engine, page(bands)));
        RptTestCaller caller(&engine);
        prepareRun(engine);
        QList<int> seen;
        for (const DataSetInfo &info : caller.announced)
            seen << info.dataSetNo;
        QCOMPARE(seen, numbers);
        QCOMPARE(engine.dataSetInfoList().size(), numbers.size());
    }

    void recordCountsByNumberAndName()
    {
        RptEngine engine;
        QVERIFY(loadXml(
            engine, page(masterBand(1, QStringLiteral("a")) + masterBand(2, QStringLiteral("b")))));
        prepareRun(engine);
        QVERIFY(engine.setRecCount(0, 2, 5));
        QVERIFY(engine.setRecCount(0, QStringLiteral("a"), 7));
        QVERIFY(!engine.setRecCount(0, 9, 1));
        QVERIFY(!engine.setRecCount(1, QStringLiteral("a"), 1));
        QCOMPARE(engine.getRecCount(0, 1), 7);
        QCOMPARE(engine.getRecCount(0, QStringLiteral("b")), 5);
        QCOMPARE(engine.getRecCount(0, QStringLiteral("c")), 0);
    }

    void announcementsRestartEveryRun()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, page(masterBand())));
        RptTestCaller caller(&engine);
        caller.recCount = 2;
        prepareRun(engine);
        caller.recCount = 3;
        prepareRun(engine);
        QCOMPARE(engine.dataSetInfoList().size(), 1);
        QCOMPARE(engine.getRecCount(0, 1), 3);
    }

    void callerSuppliesImages()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, page(masterBand())));
        RptTestCaller caller(&engine);
        caller.image = QImage(3, 2, QImage::Format_RGB32);
        prepareRun(engine);
        QCOMPARE(engine.sectionValueImage(QStringLiteral("[photo]")).size(), QSize(3, 2));
        QCOMPARE(caller.asked, QStringList { QStringLiteral("photo") });
        QVERIFY(engine.sectionFieldImage(QStringLiteral("[photo]")).isNull());
    }

    // ---- inline rows -------------------------------------------------------

    void inlineRows()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(inlineSource(QStringLiteral("fruit"), 2,
                     { QStringLiteral("name;qty;note"), QStringLiteral("Apple;3;"),
                         QStringLiteral("Pear;5;ripe"), QStringLiteral("Plum;7;x") })
                + masterBand(1, QStringLiteral("fruit")))));
        RptTestCaller caller(&engine);
        prepareRun(engine);
        QCOMPARE(engine.getRecCount(0, QStringLiteral("fruit")), 2);
        // The first row names the columns; record n is the row after it.
        QCOMPARE(engine.sectionValue(QStringLiteral("[fruit.name]"), 0), QStringLiteral("Apple"));
        QCOMPARE(engine.sectionValue(QStringLiteral("[fruit.name]"), 1), QStringLiteral("Pear"));
        QCOMPARE(engine.sectionValue(QStringLiteral("[fruit.qty]"), 1), QStringLiteral("5"));
        QCOMPARE(engine.sectionValue(QStringLiteral("[fruit.note]"), 0), QString());
        QCOMPARE(engine.sectionValue(QStringLiteral("[fruit.note]"), 1), QStringLiteral("ripe"));
        // The count is the template's; rows beyond it are still there to read.
        QCOMPARE(engine.sectionValue(QStringLiteral("[fruit.name]"), 2), QStringLiteral("Plum"));
        QCOMPARE(engine.sectionValue(QStringLiteral("[fruit.name]"), 3), QString());
        QCOMPARE(engine.sectionValue(QStringLiteral("[fruit.colour]"), 0), QString());
        QVERIFY(caller.asked.isEmpty());
        // A variable without the source's name goes to the caller.
        engine.sectionValue(QStringLiteral("[name]"), 0);
        QCOMPARE(caller.asked, QStringList { QStringLiteral("name") });
    }

    void inlineCountWithoutBandIsAppended()
    {
        RptEngine engine;
        QVERIFY(loadXml(
            engine, page(inlineSource(QStringLiteral("fruit"), 3, { QStringLiteral("name") }))));
        prepareRun(engine);
        QCOMPARE(engine.dataSetInfoList().size(), 1);
        QCOMPARE(engine.dataSetInfoList().first().dataSetName, QStringLiteral("fruit"));
        QCOMPARE(engine.dataSetInfoList().first().dataSetNo, 1);
        QCOMPARE(engine.getRecCount(0, 1), 3);
    }

    void inlineCells()
    {
        QDomDocument doc;
        QVERIFY(doc.setContent(inlineSource(QStringLiteral("t"), 2,
            { QStringLiteral("aXbxc"), QStringLiteral("1X2x3"), QStringLiteral("XX") },
            QStringLiteral("X"))));
        RptDsInline source;
        source.loadXML(doc.documentElement());
        QCOMPARE(source.DSName(), QStringLiteral("t"));
        QCOMPARE(
            source.columnNames(), (QStringList { QStringLiteral("a"), QStringLiteral("bxc") }));
        QCOMPARE(source.columnCount(), 2);
        QCOMPARE(source.getRecordCount(), 2);
        QCOMPARE(source.getFieldValue(QStringLiteral("bxc"), 0), QStringLiteral("2x3"));
        QCOMPARE(source.getFieldValue(QStringLiteral("a"), 1), QString());
        QCOMPARE(source.getFieldValue(QStringLiteral("bxc"), 1), QString());
        QCOMPARE(source.getFieldValue(QStringLiteral("a"), -2), QString());
    }

    void emptyNameCapturesEveryVariable()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(inlineSource(
                     QString(), 1, { QStringLiteral("name;a.b"), QStringLiteral("Kiwi;dot") })
                + masterBand())));
        RptTestCaller caller(&engine);
        prepareRun(engine);
        QCOMPARE(engine.sectionValue(QStringLiteral("[name]"), 0), QStringLiteral("Kiwi"));
        QCOMPARE(engine.sectionValue(QStringLiteral("[a.b]"), 0), QStringLiteral("dot"));
        QCOMPARE(engine.sectionValue(QStringLiteral("[other]"), 0), QString());
        QVERIFY(caller.asked.isEmpty());
    }

    void otherTypesIgnored()
    {
        RptEngine engine;
        QVERIFY(loadXml(
            engine, page(QStringLiteral("<DataSource type=\"XML\" name=\"x\"/>") + masterBand())));
        prepareRun(engine);
        QVERIFY(!engine.pageList.first()->otherSource());
        QVERIFY(!engine.pageList.first()->sqlSource());
    }

    // ---- plug-in library ---------------------------------------------------

    void pluginSourceFromData()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(QStringLiteral("<DataSource type=\"INLINE\" plugin=\"%1\" name=\"plg\" "
                                "dsAliasName=\"alias1\"><Data><![CDATA[name;qty\nApple;3\nPear;5\n"
                                "Plum;7]]></Data></DataSource>")
                     .arg(QStringLiteral(RPT_TEST_DSPLUGIN))
                + masterBand(1, QStringLiteral("plg")))));
        RptTestCaller caller(&engine);
        prepareRun(engine);
        auto *source = qobject_cast<RptDsPlugin *>(engine.pageList.first()->otherSource());
        QVERIFY(source);
        QVERIFY(source->hasHandle());
        QCOMPARE(engine.getRecCount(0, QStringLiteral("plg")), 3);
        QCOMPARE(engine.sectionValue(QStringLiteral("[plg.name]"), 1), QStringLiteral("Pear"));
        QCOMPARE(engine.sectionValue(QStringLiteral("[plg.qty]"), 2), QStringLiteral("7"));
        QCOMPARE(engine.sectionValue(QStringLiteral("[plg.qty]"), 3), QString());
        QVERIFY(caller.asked.isEmpty());

        // What the library was handed: the alias and the whole template.
        QLibrary library(QStringLiteral(RPT_TEST_DSPLUGIN));
        QVERIFY(library.load());
        using GetHandle = QObject *(*)();
        auto getHandle = reinterpret_cast<GetHandle>(library.resolve("getHandle"));
        QVERIFY(getHandle);
        QObject *handle = getHandle();
        QString alias, xml, from;
        QVERIFY(QMetaObject::invokeMethod(handle, "seenAlias", Q_RETURN_ARG(QString, alias)));
        QVERIFY(QMetaObject::invokeMethod(handle, "seenXml", Q_RETURN_ARG(QString, xml)));
        QVERIFY(QMetaObject::invokeMethod(handle, "seenSource", Q_RETURN_ARG(QString, from)));
        QCOMPARE(alias, QStringLiteral("alias1"));
        QVERIFY(xml.startsWith(QLatin1String("<Reports")));
        QVERIFY(xml.contains(QLatin1String("dsAliasName=\"alias1\"")));
        QCOMPARE(from, QStringLiteral("str"));
    }

    void pluginSourceFromFile()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write("name\nOne\nTwo\n");
        file.flush();
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(QStringLiteral(
                "<DataSource type=\"INLINE\" plugin=\"%1\" name=\"f\" fileName=\"%2\"/>")
                     .arg(QStringLiteral(RPT_TEST_DSPLUGIN), file.fileName()))));
        prepareRun(engine);
        QCOMPARE(engine.getRecCount(0, 1), 2);
        QCOMPARE(engine.sectionValue(QStringLiteral("[f.name]"), 1), QStringLiteral("Two"));
    }

    void pluginThatDoesNotLoad()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(QStringLiteral("<DataSource type=\"INLINE\" plugin=\"/nonexistent/libnothing.so\" "
                                "name=\"n\"/>")
                + masterBand(1, QStringLiteral("n")))));
        RptTestCaller caller(&engine);
        caller.recCount = 9;
        LogCapture log;
        prepareRun(engine);
        QVERIFY(log.contains(QStringLiteral("Loading failed!")));
        QCOMPARE(engine.getRecCount(0, QStringLiteral("n")), 0);
        QCOMPARE(engine.sectionValue(QStringLiteral("[n.name]"), 0), QString());
    }

    // ---- SQL ---------------------------------------------------------------

    void sqlSourceFromTemplate()
    {
        YXA_REQUIRE_MARIADB();
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(sqlSource(QStringLiteral("customers"),
                     QStringLiteral("SELECT name, city FROM customers ORDER BY id"),
                     QStringLiteral("dbCoding=\"utf8mb4\""))
                + masterBand(1, QStringLiteral("customers")))));
        RptTestCaller caller(&engine);
        caller.recCount = 99;
        prepareRun(engine);
        RptSql *sql = engine.pageList.first()->sqlSource();
        QVERIFY(sql);
        QCOMPARE(sql->objectName(), QStringLiteral("customers"));
        QCOMPARE(
            sql->columnNames(), (QStringList { QStringLiteral("name"), QStringLiteral("city") }));
        QCOMPARE(engine.getRecCount(0, QStringLiteral("customers")), 3);
        QCOMPARE(
            engine.sectionValue(QStringLiteral("[customers.name]"), 0), QStringLiteral("Anna"));
        QCOMPARE(engine.sectionValue(QStringLiteral("[customers.name]"), 1),
            QStringLiteral("Čaj s.r.o."));
        QCOMPARE(
            engine.sectionValue(QStringLiteral("[customers.city]"), 0), QStringLiteral("Košice"));
        QCOMPARE(engine.sectionValue(QStringLiteral("[customers.city]"), 2), QString());
        engine.setRecNo(2);
        QCOMPARE(engine.sectionField(engine.pageList.first()->bands.first(),
                     QStringLiteral("<1+1> [customers.name]"), false),
            QStringLiteral("2 Tofu <vegan>"));
        QVERIFY(caller.asked.isEmpty());
        // The column name alone is no variable of the source.
        engine.sectionValue(QStringLiteral("[name]"), 0);
        QCOMPARE(caller.asked, QStringList { QStringLiteral("name") });

        LogCapture log;
        QCOMPARE(engine.sectionValue(QStringLiteral("[customers.name]"), 3), QString());
        QVERIFY(log.contains(QStringLiteral("recNo more than recordCount")));
    }

    void sqlCountGoesToFirstBand()
    {
        YXA_REQUIRE_MARIADB();
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(
                sqlSource(QStringLiteral("customers"), QStringLiteral("SELECT name FROM customers"))
                + masterBand())));
        prepareRun(engine);
        QCOMPARE(engine.getRecCount(0, 1), 3);
        QCOMPARE(engine.dataSetInfoList().size(), 1);

        RptEngine bare;
        QVERIFY(loadXml(bare,
            page(sqlSource(
                QStringLiteral("clients"), QStringLiteral("SELECT name FROM customers")))));
        prepareRun(bare);
        QCOMPARE(bare.dataSetInfoList().size(), 1);
        QCOMPARE(bare.dataSetInfoList().first().dataSetName, QStringLiteral("clients"));
        QCOMPARE(bare.getRecCount(0, 1), 3);
    }

    void sqlQueryThatFails()
    {
        YXA_REQUIRE_MARIADB();
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(sqlSource(QStringLiteral("customers"), QStringLiteral("SELECT nope FROM nowhere"))
                + masterBand(1, QStringLiteral("customers")))));
        LogCapture log;
        prepareRun(engine);
        QVERIFY(log.contains(QStringLiteral("RptSql::openQuery")));
        QCOMPARE(engine.getRecCount(0, QStringLiteral("customers")), 0);
        QCOMPARE(engine.sectionValue(QStringLiteral("[customers.name]"), 0), QString());
        QVERIFY(log.contains(QStringLiteral("Query is not active")));
    }

    void sqlDatabaseThatDoesNotOpen()
    {
        RptSqlConnection c;
        c.dsName = QStringLiteral("x");
        c.dbType = QStringLiteral("QMYSQL");
        c.dbHost = QStringLiteral("127.0.0.1");
        c.dbPort = 1;
        c.dbUser = QStringLiteral("nobody");
        c.dbPassword = QStringLiteral("secret-pw");
        c.dbConnectionName = QStringLiteral("rpt_test_closed");
        c.sqlQuery = QStringLiteral("SELECT 1");
        RptSql sql;
        sql.setConnection(c);
        LogCapture log;
        QVERIFY(!sql.openQuery());
        QVERIFY(log.contains(QStringLiteral("Failed open DB")));
        for (const QString &line : log.lines())
            QVERIFY2(!line.contains(QLatin1String("secret-pw")), qPrintable(line));
        QCOMPARE(sql.getRecordCount(), 0);
    }

    void sqlConnectionRemovedWithSource()
    {
        YXA_REQUIRE_MARIADB();
        {
            RptEngine engine;
            QVERIFY(loadXml(
                engine, page(sqlSource(QStringLiteral("customers"), QStringLiteral("SELECT 1")))));
            prepareRun(engine);
            QVERIFY(QSqlDatabase::contains(QStringLiteral("rpt_test_customers")));
            prepareRun(engine);
            QVERIFY(QSqlDatabase::contains(QStringLiteral("rpt_test_customers")));
        }
        QVERIFY(!QSqlDatabase::contains(QStringLiteral("rpt_test_customers")));
    }

    void laterSourceKeepsItsConnection()
    {
        RptSqlConnection c;
        c.dbType = QStringLiteral("QMYSQL");
        c.dbConnectionName = QStringLiteral("rpt_test_shared");
        auto *first = new RptSql;
        first->setConnection(c);
        RptSql second;
        second.setConnection(c);
        delete first;
        QVERIFY(QSqlDatabase::contains(QStringLiteral("rpt_test_shared")));
    }

    void userSqlConnection()
    {
        YXA_REQUIRE_MARIADB();
        RptEngine engine;
        // The template's own source is not read when the caller sets one.
        QVERIFY(loadXml(engine,
            page(inlineSource(QStringLiteral("cust"), 1,
                     { QStringLiteral("name"), QStringLiteral("Inline") })
                + masterBand(1, QStringLiteral("cust")))));
        engine.setUserSqlConnection(0, QStringLiteral("cust"), QStringLiteral("QMYSQL"), kDatabase,
            MariaDbFixture::host(), QStringLiteral("root"), MariaDbFixture::rootPassword(),
            MariaDbFixture::port(), QStringLiteral("rpt_user_conn"),
            QStringLiteral("SELECT name FROM customers ORDER BY id DESC"), QString(), QString());
        RptSqlConnection stored;
        QVERIFY(engine.getUserSqlConnection(0, stored));
        QVERIFY(stored.active);
        QCOMPARE(stored.dsName, QStringLiteral("cust"));
        prepareRun(engine);
        QCOMPARE(engine.getRecCount(0, QStringLiteral("cust")), 3);
        QCOMPARE(
            engine.sectionValue(QStringLiteral("[cust.name]"), 0), QStringLiteral("Tofu <vegan>"));
        QVERIFY(!engine.pageList.first()->otherSource());
        // Every run hands the connection to the rebuilt page again.
        prepareRun(engine);
        QCOMPARE(engine.sectionValue(QStringLiteral("[cust.name]"), 2), QStringLiteral("Anna"));

        engine.activateUserSqlConnection(0, false);
        prepareRun(engine);
        QVERIFY(!engine.pageList.first()->sqlSource());
        QCOMPARE(engine.sectionValue(QStringLiteral("[cust.name]"), 0), QStringLiteral("Inline"));
    }

    void sqlImages()
    {
        YXA_REQUIRE_MARIADB();
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(sqlSource(QStringLiteral("customers"),
                     QStringLiteral("SELECT name, logo FROM customers ORDER BY id"))
                + masterBand(1, QStringLiteral("customers")))));
        prepareRun(engine);
        QCOMPARE(
            engine.sectionFieldImage(QStringLiteral("[customers.logo]"), 0).size(), QSize(5, 4));
        QVERIFY(engine.sectionFieldImage(QStringLiteral("[customers.logo]"), 1).isNull());
        LogCapture log;
        QVERIFY(engine.sectionFieldImage(QStringLiteral("[customers.logo]"), 7).isNull());
        QVERIFY(log.contains(QStringLiteral("recNo more than recordCount")));
    }

    void charsetCodingIsScopedToTheQuery()
    {
        YXA_REQUIRE_MARIADB();
        QTextCodec *before = QTextCodec::codecForLocale();
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(sqlSource(QStringLiteral("customers"),
                     QStringLiteral("SELECT name, city FROM customers ORDER BY id"),
                     QStringLiteral("dbCoding=\"latin2\" charsetCoding=\"ISO-8859-2\""))
                + masterBand(1, QStringLiteral("customers")))));
        prepareRun(engine);
        // The latin2 bytes the server now sends decode right only with the
        // query's codec, and the process's codec is back afterwards.
        QCOMPARE(QTextCodec::codecForLocale(), before);
        QCOMPARE(engine.getRecCount(0, QStringLiteral("customers")), 3);
        QCOMPARE(
            engine.sectionValue(QStringLiteral("[customers.city]"), 0), QStringLiteral("Košice"));
        QCOMPARE(engine.sectionValue(QStringLiteral("[customers.name]"), 1),
            QStringLiteral("Čaj s.r.o."));
    }
};

YXA_TEST_CLASS(DataSourceTest)
#include "tst_datasources.moc"
