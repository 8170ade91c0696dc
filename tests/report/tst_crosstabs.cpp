// Cross-tab fields: the matrix with header, subtotal and total rows, the
// totals, the page breaks across parts and the extra pages in the count.
#include "layouttestutil.h"
#include "rptcrosstabmatrix.h"
#include "rptcrosstabobject.h"
#include "rptfieldobject.h"
#include "rptpageobject.h"
#include "rpttestcaller.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace RptOut;
using Run = RptOut::RenderRun;

namespace {

// A cross-tab of 80 units with rows of 20 (4 visible rows), two data
// columns and the total column.
QString crossTabField(
    int colCount, const QString &name = QStringLiteral("tab"), bool headerAndSubtotal = true)
{
    return QStringLiteral(
        "<TContainerField name=\"%2\" type=\"crossTab\" left=\"0\" top=\"0\" width=\"600\" "
        "height=\"80\" fontFamily=\"Arial\" fontSize=\"9\" fontColor=\"rgba(0,0,0,255)\" "
        "backgroundColor=\"rgba(255,255,255,0)\" colCount=\"%1\" rowHeight=\"20\" "
        "headerIsVisible=\"%3\" subtotalIsVisible=\"%3\" totalByRowVisible=\"1\" "
        "totalByColVisible=\"1\">"
        "<Column caption=\"Soups\" width=\"0\"/><Column caption=\"Mains\" width=\"0\"/>"
        "<Column caption=\"Sum\" width=\"0\"/></TContainerField>")
        .arg(colCount)
        .arg(name)
        .arg(headerAndSubtotal ? 1 : 0);
}

QString crossTabReport(int colCount, const QString &summary = QString())
{
    return reports(a4Page(band(QStringLiteral("ReportTitle"), 100, crossTabField(colCount))
        + (summary.isEmpty() ? QString() : band(QStringLiteral("ReportSummary"), 100, summary))
        + band(QStringLiteral("PageFooter"), 50,
            label(QStringLiteral("page <Page>/<TotalPages>"), 0, 10, 300, 25))));
}

// Announces 10 data rows and fills data row r with r + 1 and 100 (r + 1),
// through the operations a caller has on the cross-tab.
class CrossTabCaller : public QObject
{
public:
    explicit CrossTabCaller(RptEngine *engine)
    {
        connect(
            engine, &RptEngine::setField, this,
            [this](RptFieldObject &f) {
                if (f.fieldType == RptName::CrossTab && f.crossTab) {
                    f.crossTab->setRowCount(10);
                    ++announced;
                } else if (f.parentCrossTab) {
                    const int data = f.parentCrossTab->fieldRow(&f);
                    const int col = f.parentCrossTab->fieldCol(&f);
                    f.value = QString::number((data + 1) * (col == 0 ? 1 : 100));
                    ++filled;
                }
            },
            Qt::DirectConnection);
    }
    int announced = 0;
    int filled = 0;
};

// The grid rows of all pages, the page footers checked and left out.
QStringList gridRows(const QString &file, int pages)
{
    QStringList rows;
    for (int p = 1; p <= pages; ++p) {
        QStringList lines = textLines(pdfText(file, p));
        if (lines.isEmpty() || lines.last() != QStringLiteral("page %1/%2").arg(p).arg(pages))
            return QStringList { QStringLiteral("page %1: ").arg(p)
                + lines.join(QLatin1Char('|')) };
        lines.removeLast();
        rows += lines;
    }
    return rows;
}

} // namespace

class CrossTabTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void rowsPartsTotalsAndPages()
    {
        RptEngine engine;
        QVERIFY(load(engine, crossTabReport(3)));
        CrossTabCaller caller(&engine);
        const QString file = m_dir.filePath(QStringLiteral("tab.pdf"));
        engine.printPDF(file, false);

        // Two data rows fit between header and subtotal: 5 parts of 4 rows,
        // then the total row on a page of its own.
        RptCrossTabObject *tab = engine.pageList.first()->crossTabs().first()->crossTab;
        QCOMPARE(tab->rowCount(), 21);
        QCOMPARE(tab->parts(), 6);
        QCOMPARE(tab->fields.size(), 21 * 3);
        QCOMPARE(caller.filled, 10 * 2);
        QVERIFY(caller.announced >= 1);

        // One page plus five extra parts.
        QCOMPARE(engine.totalPages(), 6);
        QCOMPARE(pdfPages(file), 6);
        for (int p = 1; p <= 6; ++p)
            QCOMPARE(textLines(pdfText(file, p)).size(), (p < 6 ? 4 : 1) + 1);
        // Each page opens with the header and closes with the subtotal of
        // its own rows.
        const QStringList expected { "Soups Mains Sum", "1 100 101", "2 200 202", "3 300 303",
            "Soups Mains Sum", "3 300 303", "4 400 404", "7 700 707", "Soups Mains Sum",
            "5 500 505", "6 600 606", "11 1100 1111", "Soups Mains Sum", "7 700 707", "8 800 808",
            "15 1500 1515", "Soups Mains Sum", "9 900 909", "10 1000 1010", "19 1900 1919",
            "55 5500 5555" };
        QCOMPARE(gridRows(file, 6).join(QLatin1Char('|')), expected.join(QLatin1Char('|')));
    }

    void partsCountTheirHeaderAndSubtotal_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("rowCount");
        QTest::addColumn<int>("parts");
        // The last part may share its page with the total row.
        QTest::newRow("3 rows") << 3 << 3 + 2 * 2 + 1 << 2;
        QTest::newRow("4 rows") << 4 << 4 + 2 * 2 + 1 << 3;
        QTest::newRow("none") << 0 << 1 << 1;
    }
    void partsCountTheirHeaderAndSubtotal()
    {
        QFETCH(int, rows);
        QFETCH(int, rowCount);
        QFETCH(int, parts);
        RptEngine engine;
        QVERIFY(load(engine, crossTabReport(3)));
        RptCrossTabObject *tab = engine.pageList.first()->crossTabs().first()->crossTab;
        tab->setRowCount(rows);
        QCOMPARE(tab->rowCount(), rowCount);
        QCOMPARE(tab->parts(), parts);
    }

    void cellRolesOfTheMatrix()
    {
        RptEngine engine;
        QVERIFY(load(engine, crossTabReport(3)));
        RptCrossTabObject *tab = engine.pageList.first()->crossTabs().first()->crossTab;
        tab->setRowCount(10);
        QVERIFY(!tab->isMatrixBuilt());
        tab->buildMatrix();
        QVERIFY(tab->isMatrixBuilt());
        QCOMPARE(tab->fields.size(), 63);
        QCOMPARE(tab->fields.at(0)->objectName(), QStringLiteral("f00"));
        QCOMPARE(tab->fields.at(3 * 16 + 2)->objectName(), QStringLiteral("f216"));
        // Per row: header (H), data row number, subtotal (S), total (T).
        const QStringList roles { "H", "0", "1", "S", "H", "2", "3", "S", "H", "4", "5", "S", "H",
            "6", "7", "S", "H", "8", "9", "S", "T" };
        for (int r = 0; r < 21; ++r) {
            RptFieldObject *first = tab->fields.at(r * 3);
            QCOMPARE(tab->fieldRow(first, true), r);
            QString role = QString::number(tab->fieldRow(first));
            if (tab->isHeaderField(first))
                role = QStringLiteral("H");
            else if (tab->isTotalField(first))
                role = r == 20 ? QStringLiteral("T") : QStringLiteral("S");
            QCOMPARE(role, roles.at(r));
        }
        // Header cells carry their caption, the total column is a total.
        QCOMPARE(tab->fields.at(1)->value, QStringLiteral("Mains"));
        QCOMPARE(tab->header(tab->fields.at(4)), QStringLiteral("Mains"));
        QCOMPARE(tab->fieldCol(tab->fields.at(4)), 1);
        QVERIFY(tab->isTotalField(tab->fields.at(3 + 2)));
        QVERIFY(!tab->isTotalField(tab->fields.at(3 + 1)));
        QVERIFY(!tab->isTotalField(tab->fields.at(2)));
        // The subtotal of the second page adds its two data rows only.
        for (int r : { 5, 6, 9 })
            tab->fields.at(r * 3)->value = QString::number(r);
        QCOMPARE(tab->total(tab->fields.at(7 * 3)), QStringLiteral("11"));
        QCOMPARE(tab->total(tab->fields.at(20 * 3)), QStringLiteral("20"));
        // Columns share the width; rows stack at the row height.
        QCOMPARE(tab->fields.at(4)->rect, QRect(200, 20, 200, 20));
    }

    // A second table, in the summary, needs pages the first one does not
    // count; it breaks them like any band and keeps all its rows.
    void secondCrossTabKeepsItsRows()
    {
        RptEngine engine;
        QVERIFY(load(engine, crossTabReport(3, crossTabField(3, QStringLiteral("tab2"), false))));
        CrossTabCaller caller(&engine);
        const QString file = m_dir.filePath(QStringLiteral("two.pdf"));
        engine.printPDF(file, false);
        // 6 pages for the first table; the second's 11 rows start below the
        // first's total row and take two more pages.
        QCOMPARE(engine.totalPages(), 8);
        QCOMPARE(pdfPages(file), 8);
        const QStringList rows = gridRows(file, 8);
        const int start = rows.indexOf(QStringLiteral("55 5500 5555"));
        QVERIFY2(start > 0, qPrintable(rows.join(QLatin1Char('|'))));
        QStringList expected;
        for (int r = 1; r <= 10; ++r)
            expected.append(QStringLiteral("%1 %2 %3").arg(r).arg(r * 100).arg(r * 101));
        expected.append(QStringLiteral("55 5500 5555"));
        QCOMPARE(rows.mid(start + 1).join(QLatin1Char('|')), expected.join(QLatin1Char('|')));
    }

    // The cells look like the cross-tab field; one without side colours
    // gets a grid in its border colour.
    void cellsTakeTheFieldsLook()
    {
        RptEngine engine;
        QVERIFY(load(engine,
            crossTabReport(3).replace(QLatin1String("rowHeight="),
                QLatin1String("borderWidth=\"4\" borderColor=\"rgba(0,0,255,255)\" rowHeight="))));
        CrossTabCaller caller(&engine);
        const QString file = m_dir.filePath(QStringLiteral("grid.pdf"));
        engine.printPDF(file, false);
        RptFieldObject *cell = engine.pageList.first()->crossTabs().first()->crossTab->fields.at(4);
        QCOMPARE(cell->font.family(), QStringLiteral("Arial"));
        QCOMPARE(cell->font.pointSize(), 9);
        const QImage page = pdfPageImage(file, 1, 150);
        // The line between the first two rows, inside the first cell.
        QVERIFY(near(QColor(page.pixel(pagePixel(100, 20, 150))), Qt::blue, 60));
        QVERIFY(near(QColor(page.pixel(pagePixel(100, 30, 150))), Qt::white, 2));
    }

    // rptrender with a data file: a row per record of the cross-tab's data
    // set, each column's value for it, the totals of the data, and as many
    // pages as the rows need, each with its header row.
    void rowsFromTheDataFileAcrossPages()
    {
        const int records = 23;
        QJsonArray meals;
        for (int i = 1; i <= records; ++i)
            meals.append(QJsonObject { { QStringLiteral("day"), QStringLiteral("Day %1").arg(i) },
                { QStringLiteral("soups"), i }, { QStringLiteral("mains"), 2 * i + 1 } });
        const QString data = m_dir.filePath(QStringLiteral("meals.json"));
        QVERIFY(writeText(data,
            QString::fromUtf8(QJsonDocument(QJsonObject { { QStringLiteral("datasets"),
                                                QJsonObject { { QStringLiteral("meals"), meals } } } })
                                  .toJson())));
        // 100 units of 20 per row: a header and four data rows a page.
        const QString field = QStringLiteral(
            "<TContainerField name=\"tab\" type=\"crossTab\" left=\"0\" top=\"0\" width=\"600\" "
            "height=\"100\" fontFamily=\"Arial\" fontSize=\"9\" dataSourceName=\"meals\" "
            "colCount=\"4\" rowHeight=\"20\" headerIsVisible=\"1\">"
            "<Column caption=\"Day\" value=\"[day]\"/><Column caption=\"Soups\" value=\"[soups]\"/>"
            "<Column caption=\"Mains\" value=\"[meals.mains]\"/><Column caption=\"All\"/>"
            "</TContainerField>");
        const QString tpl = m_dir.filePath(QStringLiteral("meals.xml"));
        QVERIFY(writeText(tpl,
            reports(a4Page(band(QStringLiteral("ReportTitle"), 120, field)
                + band(QStringLiteral("PageFooter"), 50,
                    label(QStringLiteral("page <Page>/<TotalPages>"), 0, 10, 300, 25))))));
        const Run check = rptrender(
            { QStringLiteral("--check"), QStringLiteral("--strict"), tpl, QStringLiteral("--data"), data });
        QCOMPARE(check.out, QString());
        QCOMPARE(check.exitCode, 0);
        const Run r = rptrender({ tpl, m_dir.filePath(QStringLiteral("meals.svg")),
            QStringLiteral("--data"), data });
        QCOMPARE(r.exitCode, 0);

        const int perPage = 4;
        const int pages = (records + perPage - 1) / perPage;
        QVERIFY(pages > 1);
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("meals-%1.svg").arg(pages + 1))));
        int soups = 0;
        int mains = 0;
        for (int p = 1; p <= pages; ++p) {
            QStringList expected { QStringLiteral("page %1/%2").arg(p).arg(pages),
                QStringLiteral("Day"), QStringLiteral("Soups"), QStringLiteral("Mains"),
                QStringLiteral("All") };
            for (int i = (p - 1) * perPage + 1; i <= qMin(records, p * perPage); ++i) {
                expected << QStringLiteral("Day %1").arg(i) << QString::number(i)
                         << QString::number(2 * i + 1) << QString::number(3 * i + 1);
                soups += i;
                mains += 2 * i + 1;
            }
            // The day column has no total.
            if (p == pages)
                expected << QString::number(soups) << QString::number(mains)
                         << QString::number(soups + mains);
            const QStringList texts
                = svgTexts(m_dir.filePath(QStringLiteral("meals-%1.svg").arg(p)));
            QCOMPARE(texts.join(QLatin1Char('|')), expected.join(QLatin1Char('|')));
        }
    }

    // The engine reads an inline source of the cross-tab's name itself; a
    // caller that sets cells still has the last word, and the totals add
    // up what it left.
    void inlineSourceFillsTheTableBeforeTheCaller()
    {
        const QString field = crossTabField(3, QStringLiteral("tab"), false)
                                  .replace(QLatin1String("colCount=\"3\""),
                                      QLatin1String("colCount=\"3\" dataSourceName=\"meals\""))
                                  .replace(QLatin1String("<Column caption=\"Soups\" width=\"0\"/>"),
                                      QLatin1String("<Column caption=\"Soups\" value=\"[meals.soups]\"/>"))
                                  .replace(QLatin1String("<Column caption=\"Mains\" width=\"0\"/>"),
                                      QLatin1String("<Column caption=\"Mains\" value=\"&lt;[meals.soups] * 10&gt;\"/>"));
        const QString source = QStringLiteral(
            "<DataSource type=\"INLINE\" name=\"meals\" rowCount=\"3\" delimiter=\";\">"
            "<Row value=\"soups\"/><Row value=\"4\"/><Row value=\"5\"/><Row value=\"6\"/>"
            "</DataSource>");
        RptEngine engine;
        QVERIFY(load(engine, reports(a4Page(source + band(QStringLiteral("ReportTitle"), 100, field)))));
        RptTestCaller caller(&engine);
        int cellsSeen = 0;
        QObject context;
        connect(
            &engine, &RptEngine::setField, &context,
            [&cellsSeen](RptFieldObject &f) {
                if (!f.parentCrossTab)
                    return;
                // The value of the data is there when the caller is asked.
                if (f.parentCrossTab->fieldRow(&f) == 1 && f.parentCrossTab->fieldCol(&f) == 0) {
                    if (f.value == QLatin1String("5"))
                        f.value = QStringLiteral("7");
                }
                ++cellsSeen;
            },
            Qt::DirectConnection);
        const QString file = m_dir.filePath(QStringLiteral("inline.pdf"));
        engine.printPDF(file, false);
        QCOMPARE(cellsSeen, 3 * 2);
        // Announced once, under its name, for the page's source to answer.
        QCOMPARE(caller.announced.size(), 1);
        QCOMPARE(caller.announced.first().dataSetName, QStringLiteral("meals"));
        QCOMPARE(caller.announced.first().dataSetNo, 0);
        QCOMPARE(textLines(pdfText(file)).join(QLatin1Char('|')),
            QStringLiteral("4 40 44|7 50 57|6 60 66|17 150 167"));
    }

    void noColumnsPrintsNothing()
    {
        RptEngine engine;
        QVERIFY(load(engine, crossTabReport(0)));
        CrossTabCaller caller(&engine);
        const QString file = m_dir.filePath(QStringLiteral("empty.pdf"));
        engine.printPDF(file, false);
        RptCrossTabObject *tab = engine.pageList.first()->crossTabs().first()->crossTab;
        QVERIFY(tab->fields.isEmpty());
        QCOMPARE(caller.filled, 0);
        // No cells, no extra pages.
        QCOMPARE(engine.totalPages(), 1);
        QCOMPARE(textLines(pdfText(file)), QStringList { "page 1/1" });
    }
};

YXA_TEST_CLASS(CrossTabTest)

#include "tst_crosstabs.moc"
