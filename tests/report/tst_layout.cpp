// Laying reports out over pages: furniture on every page, page breaks and
// their fit tests, groups, page counts, invisible pages, printer ranges and
// HTML mode. Read back from the PDF with pdftotext / pdfinfo.
#include "layouttestutil.h"
#include "rptpageobject.h"
#include "rpttestcaller.h"
#include "testmain.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace RptOut;

namespace {

// Page header, title, master header/data/footer, summary and page footer.
QString furnitureReport(int titleHeight, int rowHeight, const QString &masterDataExtra = QString())
{
    return reports(a4Page(
        band(QStringLiteral("PageHeader"), 30, label(QStringLiteral("PAGEHEAD"), 0, 0, 300, 25))
        + band(QStringLiteral("ReportTitle"), titleHeight,
            label(QStringLiteral("TITLE"), 0, 0, 300, 25))
        + band(QStringLiteral("MasterHeader"), 30, label(QStringLiteral("COLHEAD"), 0, 0, 300, 25))
        + band(QStringLiteral("MasterData"), rowHeight,
            label(QStringLiteral("row [name]"), 0, 0, 300, 25), masterDataExtra)
        + band(
            QStringLiteral("MasterFooter"), 30, label(QStringLiteral("MASTERFOOT"), 0, 0, 300, 25))
        + band(QStringLiteral("ReportSummary"), 30, label(QStringLiteral("SUMMARY"), 0, 0, 300, 25))
        + band(QStringLiteral("PageFooter"), 50,
            label(QStringLiteral("page <Page> of <TotalPages>"), 0, 10, 400, 25))));
}

QStringList names(int n, const QString &prefix = QStringLiteral("r"))
{
    QStringList list;
    for (int i = 0; i < n; ++i)
        list.append(prefix + QString::number(i));
    return list;
}

QVariantList variants(const QStringList &list)
{
    QVariantList v;
    for (const QString &s : list)
        v.append(s);
    return v;
}

} // namespace

class LayoutTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString pdf(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".pdf")); }

private slots:
    void noRecordsPrintsFurnitureOnOnePage()
    {
        RptEngine engine;
        QVERIFY(load(engine, furnitureReport(100, 30)));
        RptTestCaller caller(&engine);
        caller.recCount = 0;
        const QString file = pdf(QStringLiteral("empty"));
        engine.printPDF(file, false);
        QCOMPARE(pdfPages(file), 1);
        const QStringList lines = textLines(pdfText(file));
        QCOMPARE(lines,
            (QStringList {
                "PAGEHEAD", "TITLE", "COLHEAD", "MASTERFOOT", "SUMMARY", "page 1 of 1" }));
        QCOMPARE(engine.totalPages(), 1);
    }

    // Usable height 1188 - 40 - 20 = 1128; page footer 50 and master footer
    // 30 leave 1048. Page header 30 + title + master header 30 + one row of
    // 100: the row fits exactly with a title of 888.
    void rowThatExactlyFitsStays_data()
    {
        QTest::addColumn<int>("titleHeight");
        QTest::addColumn<int>("pages");
        QTest::newRow("exactly fills") << 888 << 1;
        QTest::newRow("one unit more") << 889 << 2;
    }
    void rowThatExactlyFitsStays()
    {
        QFETCH(int, titleHeight);
        QFETCH(int, pages);
        RptEngine engine;
        QVERIFY(load(engine, furnitureReport(titleHeight, 100)));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        caller.columns.insert(QStringLiteral("name"), { QStringLiteral("only") });
        QSignalSpy newPages(&engine, &RptEngine::newPage);
        const QString file = pdf(QStringLiteral("fit%1").arg(titleHeight));
        engine.printPDF(file, false);
        QCOMPARE(pdfPages(file), pages);
        QCOMPARE(engine.totalPages(), pages);
        QCOMPARE(newPages.count(), pages - 1);
        const QStringList last = textLines(pdfText(file, pages));
        QVERIFY2(last.contains(QStringLiteral("row only")), qPrintable(last.join('|')));
        if (pages == 2) {
            // The master header repeats above the moved row.
            QCOMPARE(last.mid(0, 3), (QStringList { "PAGEHEAD", "COLHEAD", "row only" }));
        }
    }

    void masterHeaderRepeatsAndEveryPageHasItsFooter()
    {
        RptEngine engine;
        QVERIFY(load(engine, furnitureReport(100, 40)));
        RptTestCaller caller(&engine);
        caller.recCount = 60;
        caller.columns.insert(QStringLiteral("name"), variants(names(60)));
        const QString file = pdf(QStringLiteral("many"));
        engine.printPDF(file, false);
        const int pages = pdfPages(file);
        // 60 rows of 40 units need more than two pages of about 25 rows.
        QVERIFY2(pages >= 3, qPrintable(QString::number(pages)));
        QCOMPARE(engine.totalPages(), pages);
        int rowsSeen = 0;
        for (int p = 1; p <= pages; ++p) {
            const QStringList lines = textLines(pdfText(file, p));
            QCOMPARE(lines.first(), QStringLiteral("PAGEHEAD"));
            QCOMPARE(lines.last(), QStringLiteral("page %1 of %2").arg(p).arg(pages));
            QCOMPARE(lines.count(QStringLiteral("COLHEAD")), 1);
            QCOMPARE(lines.count(QStringLiteral("TITLE")), p == 1 ? 1 : 0);
            for (const QString &l : lines) {
                if (l.startsWith(QLatin1String("row r"))) {
                    QCOMPARE(l, QStringLiteral("row r%1").arg(rowsSeen));
                    ++rowsSeen;
                }
            }
        }
        QCOMPARE(rowsSeen, 60);
    }

    void groupsSortAndSumOverTheirRows()
    {
        const QString xml = reports(a4Page(band(QStringLiteral("MasterHeader"), 30,
                                               label(QStringLiteral("COLHEAD"), 0, 0, 300, 25))
            + band(QStringLiteral("DataGroupHeader"), 30,
                label(QStringLiteral("GROUP [branch]"), 0, 0, 400, 25))
            + band(QStringLiteral("MasterData"), 30,
                label(QStringLiteral("[item]"), 0, 0, 300, 25)
                    + label(QStringLiteral("[quant]"), 400, 0, 100, 25),
                QStringLiteral("groupingField=\"[branch]\""))
            + band(QStringLiteral("DataGroupFooter"), 30,
                label(QStringLiteral("GROUPSUM <SUM([quant])>"), 0, 0, 400, 25),
                QStringLiteral("showInGroup=\"1\" groupLevel=\"0\""))
            + band(QStringLiteral("ReportSummary"), 30,
                label(QStringLiteral("TOTAL <SUM([quant])>"), 0, 0, 400, 25))));
        RptEngine engine;
        QVERIFY(load(engine, xml));
        RptTestCaller caller(&engine);
        caller.recCount = 7;
        caller.columns.insert(QStringLiteral("branch"),
            { "Nitra", "Bratislava", "Nitra", "Košice", "Bratislava", "Nitra", "Košice" });
        caller.columns.insert(QStringLiteral("item"), { "i0", "i1", "i2", "i3", "i4", "i5", "i6" });
        caller.columns.insert(QStringLiteral("quant"), { 1, 2, 4, 8, 16, 32, 64 });
        const QString file = pdf(QStringLiteral("groups"));
        engine.printPDF(file, false);
        QCOMPARE(pdfPages(file), 1);
        const QStringList expected { "COLHEAD", "GROUP Bratislava", "i1 2", "i4 16", "GROUPSUM 18",
            "GROUP Košice", "i3 8", "i6 64", "GROUPSUM 72", "GROUP Nitra", "i0 1", "i2 4", "i5 32",
            "GROUPSUM 37", "TOTAL 127" };
        QCOMPARE(textLines(pdfText(file)).join(QLatin1Char('|')), expected.join(QLatin1Char('|')));
    }

    // Numbers sort before texts and numerically; values that are equal as
    // numbers but written differently stay groups of their own. Each group
    // prints once, with its own sum.
    void mixedGroupValuesPrintEachGroupOnce_data()
    {
        QTest::addColumn<QVariantList>("values");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("numbers and text")
            << QVariantList { "2", "10", "1a", "2" }
            << QStringList { "GROUP 2", "row 1", "row 8", "SUM 9", "GROUP 10", "row 2", "SUM 2",
                   "GROUP 1a", "row 4", "SUM 4" };
        QTest::newRow("one number written four ways")
            << QVariantList { "1", "1.0", "1", "01" }
            << QStringList { "GROUP 01", "row 8", "SUM 8", "GROUP 1", "row 1", "row 4", "SUM 5",
                   "GROUP 1.0", "row 2", "SUM 2" };
    }
    void mixedGroupValuesPrintEachGroupOnce()
    {
        QFETCH(QVariantList, values);
        QFETCH(QStringList, expected);
        const QString xml = reports(a4Page(band(QStringLiteral("DataGroupHeader"), 30,
                                               label(QStringLiteral("GROUP [g]"), 0, 0, 300, 25))
            + band(QStringLiteral("MasterData"), 30,
                label(QStringLiteral("row [q]"), 0, 0, 300, 25),
                QStringLiteral("groupingField=\"[g]\""))
            + band(QStringLiteral("DataGroupFooter"), 30,
                label(QStringLiteral("SUM <SUM([q])>"), 0, 0, 300, 25),
                QStringLiteral("showInGroup=\"1\" groupLevel=\"0\""))));
        RptEngine engine;
        QVERIFY(load(engine, xml));
        RptTestCaller caller(&engine);
        caller.recCount = 4;
        caller.columns.insert(QStringLiteral("g"), values);
        caller.columns.insert(QStringLiteral("q"), { 1, 2, 4, 8 });
        const QString file = pdf(QStringLiteral("mixed"));
        engine.printPDF(file, false);
        QCOMPARE(textLines(pdfText(file)).join(QLatin1Char('|')), expected.join(QLatin1Char('|')));
    }

    // A grouped page whose record count is not above its page index still
    // prints its groups.
    void groupsOnALaterReportPageWithFewRecords()
    {
        const QString grouped = band(QStringLiteral("DataGroupHeader"), 30,
                                    label(QStringLiteral("GROUP [g]"), 0, 0, 300, 25))
            + band(QStringLiteral("MasterData"), 30,
                label(QStringLiteral("ROW [v]"), 0, 0, 300, 25),
                QStringLiteral("groupingField=\"[g]\""));
        const QString pages = a4Page(band(QStringLiteral("ReportTitle"), 30,
                                  label(QStringLiteral("FIRST"), 0, 0, 300, 25)))
            + a4Page(band(
                QStringLiteral("ReportTitle"), 30, label(QStringLiteral("SECOND"), 0, 0, 300, 25)))
            + a4Page(grouped);
        RptEngine engine;
        QVERIFY(load(engine, reports(pages)));
        RptTestCaller caller(&engine);
        caller.recCount = 2;
        caller.columns.insert(QStringLiteral("g"), { "b", "a" });
        caller.columns.insert(QStringLiteral("v"), { "one", "two" });
        const QString file = pdf(QStringLiteral("latepage"));
        engine.printPDF(file, false);
        QCOMPARE(pdfPages(file), 3);
        QCOMPARE(textLines(pdfText(file, 3)),
            (QStringList { "GROUP a", "ROW two", "GROUP b", "ROW one" }));
    }

    void groupsOnNewPagesWithTheirOwnNumbering()
    {
        const QString xml = reports(a4Page(band(QStringLiteral("DataGroupHeader"), 30,
                                               label(QStringLiteral("GROUP [g]"), 0, 0, 300, 25))
            + band(QStringLiteral("MasterData"), 30,
                label(QStringLiteral("<LineNo>. [v]"), 0, 0, 300, 25),
                QStringLiteral("groupingField=\"[g]\" startNewPage=\"1\" startNewNumeration=\"1\""))
            + band(QStringLiteral("PageFooter"), 50,
                label(QStringLiteral("<Page>/<TotalPages>"), 0, 10, 300, 25))));
        RptEngine engine;
        QVERIFY(load(engine, xml));
        RptTestCaller caller(&engine);
        caller.recCount = 3;
        caller.columns.insert(QStringLiteral("g"), { "a", "b", "a" });
        caller.columns.insert(QStringLiteral("v"), { "x0", "x1", "x2" });
        const QString file = pdf(QStringLiteral("newpage"));
        engine.printPDF(file, false);
        QCOMPARE(pdfPages(file), 2);
        QCOMPARE(textLines(pdfText(file, 1)), (QStringList { "GROUP a", "1. x0", "2. x2", "1/2" }));
        QCOMPARE(textLines(pdfText(file, 2)), (QStringList { "GROUP b", "1. x1", "2/2" }));
    }

    void threeGroupLevelsEndIndependently()
    {
        QString footers;
        for (int k = 0; k < 3; ++k) {
            footers += band(QStringLiteral("DataGroupFooter"), 30,
                label(QStringLiteral("END%1 [%2] <SUM([q])>").arg(k).arg(QChar('a' + k)), 0, 0, 500,
                    25),
                QStringLiteral("showInGroup=\"1\" groupLevel=\"%1\"").arg(k));
        }
        const QString xml = reports(a4Page(band(QStringLiteral("DataGroupHeader"), 30,
                                               label(QStringLiteral("HEAD [a]"), 0, 0, 400, 25))
            + band(QStringLiteral("MasterData"), 30, label(QStringLiteral("row[q]"), 0, 0, 300, 25),
                QStringLiteral("groupingField=\"[a],[b],[c]\""))
            + footers));
        RptEngine engine;
        QVERIFY(load(engine, xml));
        RptTestCaller caller(&engine);
        caller.recCount = 4;
        // Sorted: (A,x,1) (A,x,2) (A,y,2) (B,y,2). Each level ends only when
        // its own value changes: level 1 keeps "y" across the change of
        // level 0, and level 2 keeps "2" from the second row to the end, so
        // its footer sums 10 + 100 + 1000.
        caller.columns.insert(QStringLiteral("a"), { "B", "A", "A", "A" });
        caller.columns.insert(QStringLiteral("b"), { "y", "x", "y", "x" });
        caller.columns.insert(QStringLiteral("c"), { "2", "1", "2", "2" });
        caller.columns.insert(QStringLiteral("q"), { 1000, 1, 100, 10 });
        const QString file = pdf(QStringLiteral("levels"));
        engine.printPDF(file, false);
        const QStringList expected { "HEAD A", "row1", "END2 1 1", "row10", "END1 x 11", "row100",
            "END0 A 111", "HEAD B", "row1000", "END2 2 1110", "END1 y 1100", "END0 B 1000" };
        QCOMPARE(textLines(pdfText(file)).join(QLatin1Char('|')), expected.join(QLatin1Char('|')));
    }

    void invisiblePageCountsNothing_data()
    {
        QTest::addColumn<bool>("byScript");
        QTest::addColumn<int>("totalPages");
        // Hidden by the caller while the pages are counted: no pages.
        QTest::newRow("hidden before counting") << false << 2;
        // Hidden by the global script at the start of drawing: still counted.
        QTest::newRow("hidden by the global script") << true << 3;
    }
    void invisiblePageCountsNothing()
    {
        QFETCH(bool, byScript);
        QFETCH(int, totalPages);
        QString pages;
        for (int i = 1; i <= 3; ++i) {
            pages += a4Page(band(QStringLiteral("ReportTitle"), 30,
                                label(QStringLiteral("REPORT%1").arg(i), 0, 0, 300, 25))
                + band(
                    QStringLiteral("MasterData"), 30, label(QStringLiteral("[x]"), 0, 0, 300, 25))
                + band(QStringLiteral("PageFooter"), 50,
                    label(QStringLiteral("<Page>/<TotalPages>"), 0, 10, 300, 25)));
        }
        RptEngine engine;
        QVERIFY(load(engine,
            reports(pages,
                byScript ? QStringLiteral("RptEngine.pageList[1].setVisible(false);")
                         : QString())));
        QObject context;
        if (!byScript) {
            // The caller hides page 2 when its data set is announced, which
            // happens while the pages are counted.
            connect(
                &engine, &RptEngine::setDSInfo, &context,
                [&engine](DataSetInfo &info) {
                    if (info.reportPage == 1)
                        engine.pageList.at(1)->setVisible(false);
                },
                Qt::DirectConnection);
        }
        const QString file = pdf(QStringLiteral("invisible%1").arg(byScript));
        engine.printPDF(file, false);
        QCOMPARE(engine.totalPages(), totalPages);
        QCOMPARE(pdfPages(file), 2);
        const QStringList lines = textLines(pdfText(file));
        QCOMPARE(lines,
            (QStringList { "REPORT1", QStringLiteral("1/%1").arg(totalPages), "REPORT3",
                QStringLiteral("2/%1").arg(totalPages) }));
    }

    void printerRangePrintsOnlyItsPages()
    {
        QString pages;
        for (int i = 1; i <= 3; ++i) {
            pages += a4Page(band(QStringLiteral("ReportTitle"), 30,
                                label(QStringLiteral("REPORT%1").arg(i), 0, 0, 300, 25))
                + band(QStringLiteral("PageFooter"), 50,
                    label(QStringLiteral("<Page>/<TotalPages>"), 0, 10, 300, 25)));
        }
        RptEngine engine;
        QVERIFY(load(engine, reports(pages)));
        engine.printer()->setFromTo(2, 2);
        const QString file = pdf(QStringLiteral("range"));
        engine.printPDF(file, false);
        QCOMPARE(engine.totalPages(), 3);
        QCOMPARE(pdfPages(file), 1);
        QCOMPARE(textLines(pdfText(file)), (QStringList { "REPORT2", "2/3" }));
    }

    void htmlHasNoFurnitureNoBreaksAndEscapedText()
    {
        RptEngine engine;
        QVERIFY(load(engine, furnitureReport(100, 40)));
        RptTestCaller caller(&engine);
        caller.recCount = 60;
        QStringList values = names(60);
        values[59] = QStringLiteral("<b>bold</b> & co");
        caller.columns.insert(QStringLiteral("name"), variants(values));
        const QString file = m_dir.filePath(QStringLiteral("report.html"));
        engine.printHTML(file, false);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(f.readAll());
        QVERIFY(
            html.startsWith(QLatin1String("<HTML><HEAD><meta charset=\"UTF-8\"></HEAD><BODY>")));
        QVERIFY(html.endsWith(QLatin1String("</BODY></HTML>")));
        QVERIFY(!html.contains(QLatin1String("PAGEHEAD")));
        QVERIFY(!html.contains(QLatin1String("page 1 of")));
        QVERIFY(html.contains(QLatin1String(">row &lt;b&gt;bold&lt;/b&gt; &amp; co</div>")));
        QVERIFY(!html.contains(QLatin1String("<b>bold")));
        QCOMPARE(html.count(QLatin1String(">COLHEAD<")), 1);
        // One continuous sheet: title 100, master header 30, rows of 40.
        const QRegularExpression lastRow(QStringLiteral("top: (\\d+)px;[^>]*>row &lt;b"));
        const QRegularExpressionMatch m = lastRow.match(html);
        QVERIFY(m.hasMatch());
        QCOMPARE(m.captured(1).toInt(), 100 + 30 + 59 * 40);
        QVERIFY(html.contains(QLatin1String("position: absolute; left: 0px;top: 130px;")));
    }

    void everyReportPageStartsAPrintedPage()
    {
        // Three report pages each with one title: three printed pages.
        QString pages;
        for (int i = 1; i <= 3; ++i)
            pages += a4Page(band(QStringLiteral("ReportTitle"), 30,
                label(QStringLiteral("R%1 <Page>").arg(i), 0, 0, 300, 25)));
        RptEngine engine;
        QVERIFY(load(engine, reports(pages)));
        QSignalSpy newPages(&engine, &RptEngine::newPage);
        const QString file = pdf(QStringLiteral("three"));
        engine.printPDF(file, false);
        QCOMPARE(pdfPages(file), 3);
        QCOMPARE(newPages.count(), 2);
        QCOMPARE(newPages.at(0).at(0).toInt(), 2);
        QCOMPARE(textLines(pdfText(file, 3)), QStringList { "R3 3" });
    }
};

YXA_TEST_CLASS(LayoutTest)

#include "tst_layout.moc"
