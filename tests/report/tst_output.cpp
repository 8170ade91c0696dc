// Output operations: PDF and HTML files, what happens when they cannot be
// written, page settings on a printer of one's own, auto-height rows, rich
// text and images in HTML, charts, and two engines printing at once.
#include "layouttestutil.h"
#include "rptfieldobject.h"
#include "rptpageobject.h"
#include "rptreportprocessor.h"
#include "rpttestcaller.h"
#include "testmain.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>

#include <atomic>

using namespace RptOut;

namespace {

QString readAll(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

QString rowsReport(const QString &rowFields, int rowHeight = 30)
{
    return reports(a4Page(band(QStringLiteral("MasterData"), rowHeight, rowFields)
        + band(QStringLiteral("PageFooter"), 50,
            label(QStringLiteral("<Page>/<TotalPages>"), 0, 10, 300, 25))));
}

} // namespace

class OutputTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void unwritablePdfIsLoggedAndLeavesNoFile()
    {
        RptEngine engine;
        QVERIFY(load(engine, rowsReport(label(QStringLiteral("x"), 0, 0, 100, 25))));
        const QString file = QStringLiteral("/nonexistent-dir/out.pdf");
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("^QPdfWriter|^QPainter::begin")));
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(QStringLiteral(
                "^RptReportProcessor::printPreview\\(\"/nonexistent-dir/out.pdf\"\\) "
                "cannot paint on the printer")));
        engine.printPDF(file, false);
        QVERIFY(!QFile::exists(file));
        QVERIFY(!engine.processor()->lastRunPainted());
        // The engine is still usable afterwards.
        const QString good = m_dir.filePath(QStringLiteral("after.pdf"));
        engine.printPDF(good, false);
        QVERIFY(engine.processor()->lastRunPainted());
        QCOMPARE(pdfPages(good), 1);
    }

    void unwritableHtmlProducesNothing()
    {
        RptEngine engine;
        QVERIFY(load(engine, rowsReport(label(QStringLiteral("x"), 0, 0, 100, 25))));
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("^RptReportProcessor::printHTML")));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        engine.printHTML(QStringLiteral("/nonexistent-dir/out.html"), false);
        QVERIFY(caller.announced.isEmpty());
    }

    void pageSettingsOnAPrinterOfOnesOwn_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSizeF>("paperMm");
        QTest::newRow("portrait") << 0 << QSizeF(210, 297);
        QTest::newRow("landscape") << 1 << QSizeF(297, 210);
    }
    void pageSettingsOnAPrinterOfOnesOwn()
    {
        QFETCH(int, orientation);
        QFETCH(QSizeF, paperMm);
        RptEngine engine;
        QVERIFY(load(engine,
            reports(a4Page(QString(), QStringLiteral("orientation=\"%1\"").arg(orientation))
                        .replace(QLatin1String("orientation=\"0\" "), QString()))));
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        engine.setPageSettings(&printer, 0);
        const QSizeF size = printer.pageLayout().fullRect(QPageLayout::Millimeter).size();
        QCOMPARE(qRound(size.width()), qRound(paperMm.width()));
        QCOMPARE(qRound(size.height()), qRound(paperMm.height()));
        const QMarginsF m = printer.pageLayout().margins(QPageLayout::Millimeter);
        QCOMPARE(qRound(m.left() * 100), 501);
        // Landscape exchanges the top and right margins.
        QCOMPARE(qRound(m.top() * 100), orientation == 0 ? 1001 : 501);
        QCOMPARE(qRound(m.right() * 100), orientation == 0 ? 501 : 1001);
    }

    void autoHeightRowsGrowWithTheirText()
    {
        const QString longText = QStringLiteral("word ").repeated(80);
        RptEngine engine;
        QVERIFY(load(engine,
            rowsReport(
                label(QStringLiteral("[t]"), 0, 0, 300, 25, QStringLiteral("autoHeight=\"1\"")))));
        RptTestCaller caller(&engine);
        caller.recCount = 3;
        caller.columns.insert(
            QStringLiteral("t"), { QStringLiteral("short"), longText, QStringLiteral("last") });
        const QString file = m_dir.filePath(QStringLiteral("auto.html"));
        engine.printHTML(file, false);
        QString html = readAll(file);
        const QRegularExpression top(
            QStringLiteral("top: (\\d+)px;height: (\\d+)px;'>(short|word|last)"));
        QList<int> tops;
        QList<int> heights;
        QRegularExpressionMatchIterator it = top.globalMatch(
            html.replace(QRegularExpression(QStringLiteral("width: \\d+px;")), QString()));
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            tops.append(m.captured(1).toInt());
        }
        QCOMPARE(tops.size(), 3);
        QCOMPARE(tops.at(0), 0);
        QCOMPARE(tops.at(1), 30);
        // 400 characters in 300 units of width need many lines.
        QVERIFY2(tops.at(2) > 30 + 100, qPrintable(QString::number(tops.at(2))));
    }

    // Rows stay as high as their band; with several auto-height labels the
    // tallest decides.
    void autoHeightRowsNeverShrink_data()
    {
        QTest::addColumn<int>("bandHeight");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<int>("minTop");
        QTest::addColumn<int>("maxTop");
        const QString autoHeight = QStringLiteral("autoHeight=\"1\"");
        // Three lines of text overflow the 20-unit label, not the 100-unit band.
        QTest::newRow("text within the band")
            << 100 << label(QStringLiteral("[t] ").repeated(20), 0, 0, 300, 20, autoHeight) << 100
            << 100;
        QTest::newRow("tallest of two labels")
            << 30
            << label(QStringLiteral("[t] ").repeated(80), 0, 0, 300, 25, autoHeight)
                + label(QStringLiteral("[t]"), 400, 0, 300, 5, autoHeight)
            << 130 << 10000;
    }
    void autoHeightRowsNeverShrink()
    {
        QFETCH(int, bandHeight);
        QFETCH(QString, fields);
        QFETCH(int, minTop);
        QFETCH(int, maxTop);
        RptEngine engine;
        QVERIFY(load(engine, rowsReport(fields, bandHeight)));
        RptTestCaller caller(&engine);
        caller.recCount = 2;
        caller.columns.insert(
            QStringLiteral("t"), { QStringLiteral("word"), QStringLiteral("next") });
        const QString file = m_dir.filePath(QStringLiteral("grow.html"));
        engine.printHTML(file, false);
        const QRegularExpression next(QStringLiteral("top: (\\d+)px;[^>]*>next"));
        const QRegularExpressionMatch m = next.match(readAll(file));
        QVERIFY(m.hasMatch());
        const int top = m.captured(1).toInt();
        QVERIFY2(top >= minTop && top <= maxTop, qPrintable(QString::number(top)));
    }

    // Data in a rich-text field is text, as in the PDF, unless it brings a
    // <body> part; that part keeps its formatting but loses anything active.
    void htmlRichTextValuesAreData_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::newRow("markup as text")
            << "<img src=x onerror=alert(1)> & co"
            << "<b>Rich &lt;img src=x onerror=alert(1)&gt; &amp; co</b>" << QStringList { "<img" };
        QTest::newRow("body part")
            << "<html><body><i onclick=\"steal()\">fine</i><script>alert(1)</script>"
               "<a href=\"javascript:steal()\">link</a></body></html>"
            << "fine" << QStringList { "onclick", "<script", "alert", "<html", "steal" };
    }
    void htmlRichTextValuesAreData()
    {
        QFETCH(QString, value);
        QFETCH(QString, present);
        QFETCH(QStringList, absent);
        RptEngine engine;
        QVERIFY(load(engine,
            rowsReport(QStringLiteral(
                "<TContainerField type=\"textRich\" left=\"100\" top=\"0\" "
                "width=\"300\" height=\"25\" value=\"&lt;b&gt;Rich [t]&lt;/b&gt;\"/>"))));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        caller.columns.insert(QStringLiteral("t"), { value });
        const QString file = m_dir.filePath(QStringLiteral("hostile.html"));
        engine.printHTML(file, false);
        const QString html = readAll(file);
        QVERIFY2(html.contains(present), qPrintable(html));
        for (const QString &a : absent)
            QVERIFY2(!html.contains(a), qPrintable(html));
    }

    // What HTML shows of colours and sides follows what the PDF paints.
    void htmlColoursFollowThePainter()
    {
        RptEngine engine;
        QVERIFY(load(engine,
            rowsReport(QStringLiteral(
                "<TContainerField type=\"label\" value=\"ghost\" left=\"0\" top=\"0\" "
                "width=\"300\" height=\"25\" fontColor=\"rgba(0,0,0,0)\" "
                "borderColor=\"rgba(192,192,192,255)\" "
                "borderTop=\"rgba(255,255,255,0)\"/>"))));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        const QString file = m_dir.filePath(QStringLiteral("colours.html"));
        engine.printHTML(file, false);
        const QString html = readAll(file);
        // Transparent text stays invisible; sides without an attribute keep
        // their frame in the border colour, a switched-off side has none.
        QVERIFY2(html.contains(QLatin1String(
                     "style='color:transparent;background:transparent;"
                     "border-left: solid thin #c0c0c0;border-right: solid thin #c0c0c0;"
                     "border-top: solid thin transparent;border-bottom: solid thin #c0c0c0;")),
            qPrintable(html));
    }

    void htmlImagesAndRichText()
    {
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::green);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        const QString fields = QStringLiteral("<TContainerField type=\"image\" left=\"10\" "
                                              "top=\"5\" width=\"40\" height=\"30\" "
                                              "picture=\"%1\" imgFormat=\"PNG\"/>")
                                   .arg(QString::fromLatin1(png.toBase64()))
            + QStringLiteral("<TContainerField type=\"textRich\" left=\"100\" top=\"0\" "
                             "width=\"300\" height=\"25\" "
                             "value=\"&lt;b&gt;Rich [t]&lt;/b&gt;\"/>");
        RptEngine engine;
        QVERIFY(load(engine, rowsReport(fields)));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        caller.columns.insert(QStringLiteral("t"), { QStringLiteral("text") });
        const QString file = m_dir.filePath(QStringLiteral("rich.html"));
        engine.printHTML(file, false);
        const QString html = readAll(file);
        QVERIFY(html.contains(QLatin1String(
            "<div style='position: absolute; left: 10px;top: 5px;width: 40px;height: 30px;'>"
            "<img width=40 height=30 src=\"data:image/png;base64,")));
        const int start = html.indexOf(QLatin1String("base64,")) + 7;
        const QByteArray data = QByteArray::fromBase64(
            html.mid(start, html.indexOf(QLatin1Char('"'), start) - start).toLatin1());
        const QImage back = QImage::fromData(data, "PNG");
        QCOMPARE(back.size(), QSize(4, 4));
        QCOMPARE(QColor(back.pixel(1, 1)), QColor(Qt::green));
        // Rich text stays HTML, with its variable filled in.
        QVERIFY(html.contains(QLatin1String("><b>Rich text</b></div>")));
    }

    void richTextInPdfFillsItsVariables()
    {
        RptEngine engine;
        QVERIFY(load(engine,
            rowsReport(QStringLiteral(
                "<TContainerField type=\"textRich\" left=\"0\" top=\"0\" width=\"600\" "
                "height=\"25\" value=\"&lt;p&gt;Dear &lt;i&gt;[who]&lt;/i&gt;, "
                "thanks&lt;/p&gt;\"/>"))));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        caller.columns.insert(QStringLiteral("who"), { QStringLiteral("Ďurko") });
        const QString file = m_dir.filePath(QStringLiteral("rich.pdf"));
        engine.printPDF(file, false);
        QCOMPARE(textLines(pdfText(file)).first(), QStringLiteral("Dear Ďurko, thanks"));
    }

    void chartFieldsAskTheCallerForSeries()
    {
        const QString field
            = QStringLiteral("<TContainerField name=\"chart\" type=\"diagram\" left=\"0\" "
                             "top=\"0\" width=\"400\" height=\"300\" "
                             "caption=\"Meals\" showLegend=\"1\" "
                             "chartType=\"SeriesTypeLine\"><Series caption=\"s\" val=\"[q]\"/>"
                             "</TContainerField>");
        RptEngine engine;
        QVERIFY(load(engine, reports(a4Page(band(QStringLiteral("ReportTitle"), 400, field)))));
        int charts = 0;
        QString caption;
        QObject context;
        connect(
            &engine, &RptEngine::setChart, &context,
            [&](RptFieldObject &f, QtCharts::QChart &chart) {
                ++charts;
                caption = f.chartAttributes.value(QStringLiteral("caption")).toString();
                QCOMPARE(f.chartSeries.size(), 1);
                QCOMPARE(chart.title(), QStringLiteral("Meals"));
            },
            Qt::DirectConnection);
        connect(
            &engine, &RptEngine::setValueDiagram, &context,
            [](RptFieldObject &, QtCharts::QChart &chart) {
                auto *series = new QtCharts::QLineSeries;
                series->append(0, 1);
                series->append(1, 3);
                series->setPen(QPen(Qt::red, 4));
                chart.addSeries(series);
                chart.createDefaultAxes();
            },
            Qt::DirectConnection);
        const QString file = m_dir.filePath(QStringLiteral("chart.pdf"));
        engine.printPDF(file, false);
        QCOMPARE(charts, 1);
        QCOMPARE(caption, QStringLiteral("Meals"));
        QVERIFY(textLines(pdfText(file)).contains(QStringLiteral("Meals")));
    }

    // The engine draws a series from an inline source of the page itself;
    // the caller, asked after, finds it in the chart and may add to it.
    void chartSeriesReadAnInlineSource()
    {
        const QString field = QStringLiteral(
            "<DataSource type=\"INLINE\" name=\"sales\" rowCount=\"3\" delimiter=\";\">"
            "<Row value=\"month;amount\"/><Row value=\"May;4\"/><Row value=\"June;9\"/>"
            "<Row value=\"July;6\"/></DataSource>"
            "<ReportBand name=\"t\" type=\"ReportTitle\" height=\"400\">"
            "<TContainerField name=\"chart\" type=\"diagram\" value=\"[sales.month]\" "
            "left=\"0\" top=\"0\" width=\"600\" height=\"300\" caption=\"Sales\" "
            "chartType=\"SeriesTypeBar\"><Series caption=\"Amount\" graphDS=\"sales\" "
            "val=\"[sales.amount]\"/></TContainerField></ReportBand>");
        RptEngine engine;
        QVERIFY(load(engine, reports(a4Page(field))));
        QStringList seen;
        QObject context;
        connect(
            &engine, &RptEngine::setValueDiagram, &context,
            [&seen](RptFieldObject &, QtCharts::QChart &chart) {
                for (QtCharts::QAbstractSeries *s : chart.series()) {
                    const auto *bars = qobject_cast<QtCharts::QBarSeries *>(s);
                    if (!bars)
                        continue;
                    for (const QtCharts::QBarSet *set : bars->barSets()) {
                        QStringList values;
                        for (int i = 0; i < set->count(); ++i)
                            values.append(QString::number(set->at(i)));
                        seen.append(set->label() + QLatin1Char('=') + values.join(QLatin1Char(',')));
                    }
                }
            },
            Qt::DirectConnection);
        const QString file = m_dir.filePath(QStringLiteral("inlinechart.pdf"));
        engine.printPDF(file, false);
        QCOMPARE(seen, QStringList { QStringLiteral("Amount=4,9,6") });
        const QString words = pdfWords(file, 1).join(QLatin1Char(' '));
        for (const char *w : { "Sales", "May", "June", "July", "Amount" })
            QVERIFY2(words.contains(QLatin1String(w)), qPrintable(words));
    }

    void previewDialogOffersTheExports()
    {
        RptEngine engine;
        QVERIFY(load(engine, rowsReport(label(QStringLiteral("x"), 0, 0, 100, 25))));
        QSignalSpy destroyed(&engine, &RptEngine::previewDestroyed);
        QStringList actions;
        bool painted = false;
        QObject context;
        connect(
            &engine, &RptEngine::setDSInfo, &context, [&painted](DataSetInfo &) { painted = true; },
            Qt::DirectConnection);
        QTimer::singleShot(0, &context, [&actions] {
            QWidget *dialog = QApplication::activeModalWidget();
            if (!dialog)
                return;
            for (QAction *a : dialog->findChildren<QAction *>()) {
                if (a->objectName().startsWith(QLatin1String("actExpTo")))
                    actions.append(a->objectName() + QLatin1Char('=') + a->text());
            }
            dialog->close();
        });
        engine.printExec(false, false, QStringLiteral("no such printer"));
        actions.sort();
        QCOMPARE(actions, (QStringList { "actExpToHtml=Save as HTML", "actExpToPdf=Save as PDF" }));
        QVERIFY(painted);
        QCOMPARE(destroyed.count(), 1);
        QVERIFY(!engine.hasPrinter());
        QVERIFY(!engine.hasPainter());
    }

    // Catering workers print in threads of their own at the same time.
    void twoEnginesPrintAtOnce()
    {
        QTemporaryDir dir;
        std::atomic<int> ok { 0 };
        auto work = [&](const QString &name, const QString &prefix) {
            RptEngine engine;
            if (!load(engine, rowsReport(label(QStringLiteral("[v] <SUM([v])>"), 0, 0, 400, 25))))
                return;
            RptTestCaller caller(&engine);
            caller.recCount = 60;
            QVariantList values;
            for (int i = 0; i < 60; ++i)
                values.append(prefix == QLatin1String("a") ? 1 : 2);
            caller.columns.insert(QStringLiteral("v"), values);
            for (int run = 0; run < 3; ++run)
                engine.printPDF(dir.filePath(name), false);
            ++ok;
        };
        QThread *a = QThread::create(work, QStringLiteral("a.pdf"), QStringLiteral("a"));
        QThread *b = QThread::create(work, QStringLiteral("b.pdf"), QStringLiteral("b"));
        a->start();
        b->start();
        QVERIFY(a->wait(120000));
        QVERIFY(b->wait(120000));
        delete a;
        delete b;
        QCOMPARE(ok.load(), 2);
        QVERIFY(textLines(pdfText(dir.filePath(QStringLiteral("a.pdf"))))
                    .contains(QStringLiteral("1 60")));
        QVERIFY(textLines(pdfText(dir.filePath(QStringLiteral("b.pdf"))))
                    .contains(QStringLiteral("2 120")));
        QVERIFY(!pdfText(dir.filePath(QStringLiteral("a.pdf"))).contains(QLatin1String("2 1")));
    }
};

YXA_TEST_CLASS(OutputTest)

#include "tst_output.moc"
