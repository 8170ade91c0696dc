// Cross-tab fields: the matrix with header, subtotal and total rows, the
// totals, the page breaks across parts and the extra pages in the count.
#include "rptcrosstabmatrix.h"
#include "rptcrosstabobject.h"
#include "rptfieldobject.h"
#include "rptpageobject.h"
#include "testmain.h"
#include "tst_rptlayoututil.h"

#include <QTemporaryDir>
#include <QTest>

using namespace RptOut;

namespace {

// A cross-tab of 80 units with rows of 20 (4 visible rows), two data
// columns and the total column.
QString crossTabReport(int colCount)
{
    const QString field = QStringLiteral(
                              "<TContainerField name=\"tab\" type=\"crossTab\" left=\"0\" top=\"0\" width=\"600\" "
                              "height=\"80\" fontFamily=\"Arial\" fontSize=\"9\" fontColor=\"rgba(0,0,0,255)\" "
                              "backgroundColor=\"rgba(255,255,255,0)\" colCount=\"%1\" rowHeight=\"20\" "
                              "headerIsVisible=\"1\" subtotalIsVisible=\"1\" totalByRowVisible=\"1\" "
                              "totalByColVisible=\"1\">"
                              "<Column caption=\"Soups\" width=\"0\"/><Column caption=\"Mains\" width=\"0\"/>"
                              "<Column caption=\"Sum\" width=\"0\"/></TContainerField>")
                              .arg(colCount);
    return reports(a4Page(band(QStringLiteral("ReportTitle"), 100, field)
                          + band(QStringLiteral("PageFooter"), 50,
                                 label(QStringLiteral("page <Page>/<TotalPages>"), 0, 10, 300, 25))));
}

// Announces 10 data rows and fills data row r with r + 1 and 100 (r + 1).
class CrossTabCaller : public QObject
{
public:
    explicit CrossTabCaller(RptEngine *engine)
    {
        connect(engine, &RptEngine::setField, this, [this](RptFieldObject &f) {
            if (f.fieldType == RptName::CrossTab && f.crossTab) {
                f.crossTab->setRowCount(10);
                ++announced;
            } else if (f.parentCrossTab) {
                const int row = RptCrossTabMatrix::cellRow(f.parentCrossTab, &f);
                const int col = RptCrossTabMatrix::cellCol(f.parentCrossTab, &f);
                const int data = RptCrossTabMatrix::dataRow(f.parentCrossTab, row);
                f.value = QString::number((data + 1) * (col == 0 ? 1 : 100));
                ++filled;
            }
        }, Qt::DirectConnection);
    }
    int announced = 0;
    int filled = 0;
};

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

        RptCrossTabObject *tab = engine.pageList.first()->crossTabs().first()->crossTab;
        QCOMPARE(tab->rowCount(), 17);
        QCOMPARE(tab->parts(), 5);
        QCOMPARE(tab->fields.size(), 17 * 3);
        QCOMPARE(caller.filled, 10 * 2);
        QVERIFY(caller.announced >= 1);

        // One page plus four extra parts.
        QCOMPARE(engine.totalPages(), 5);
        QCOMPARE(pdfPages(file), 5);

        QStringList rows;
        for (int p = 1; p <= 5; ++p) {
            QStringList lines = textLines(pdfText(file, p));
            QVERIFY2(lines.last() == QStringLiteral("page %1/5").arg(p), qPrintable(lines.join(QLatin1Char('|'))));
            lines.removeLast();
            // Four grid rows on every page but the last.
            QCOMPARE(lines.size(), p < 5 ? 4 : 1);
            rows += lines;
        }
        const QStringList expected {
            "Soups Mains Sum", "1 100 101", "2 200 202", "3 300 303", "4 400 404", "10 1000 1010",
            "Soups Mains Sum", "5 500 505", "6 600 606", "7 700 707", "8 800 808", "26 2600 2626",
            "Soups Mains Sum", "9 900 909", "10 1000 1010", "19 1900 1919",
            "55 5500 5555"};
        QCOMPARE(rows.join(QLatin1Char('|')), expected.join(QLatin1Char('|')));
    }

    void cellRolesOfTheMatrix()
    {
        RptEngine engine;
        QVERIFY(load(engine, crossTabReport(3)));
        RptCrossTabObject *tab = engine.pageList.first()->crossTabs().first()->crossTab;
        tab->setRowCount(10);
        RptCrossTabMatrix::build(tab);
        QCOMPARE(tab->fields.size(), 51);
        QCOMPARE(tab->fields.at(0)->objectName(), QStringLiteral("f00"));
        QCOMPARE(tab->fields.at(3 * 16 + 2)->objectName(), QStringLiteral("f216"));
        const QList<int> roles {1, 0, 0, 0, 0, 2, 1, 0, 0, 0, 0, 2, 1, 0, 0, 2, 3};
        for (int r = 0; r < 17; ++r)
            QCOMPARE(int(RptCrossTabMatrix::rowRole(tab, r)), roles.at(r));
        QCOMPARE(RptCrossTabMatrix::dataRow(tab, 1), 0);
        QCOMPARE(RptCrossTabMatrix::dataRow(tab, 7), 4);
        QCOMPARE(RptCrossTabMatrix::dataRow(tab, 14), 9);
        QCOMPARE(RptCrossTabMatrix::dataRow(tab, 5), -1);
        // Header cells carry their caption, the total column is a total.
        QCOMPARE(tab->fields.at(1)->value, QStringLiteral("Mains"));
        QVERIFY(RptCrossTabMatrix::isTotalCell(tab, tab->fields.at(3 + 2)));
        QVERIFY(!RptCrossTabMatrix::isTotalCell(tab, tab->fields.at(3 + 1)));
        QVERIFY(!RptCrossTabMatrix::isTotalCell(tab, tab->fields.at(2)));
        // Columns share the width; rows stack at the row height.
        QCOMPARE(tab->fields.at(4)->rect, QRect(200, 20, 200, 20));
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
        QCOMPARE(textLines(pdfText(file)), QStringList {"page 1/1"});
    }
};

YXA_TEST_CLASS(CrossTabTest)

#include "tst_rptcrosstab.moc"
