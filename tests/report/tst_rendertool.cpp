// The rptrender tool: a grouped template with a JSON data file, the small
// templates of the layout fixtures, the catering order template, and the
// tool's error exits.
#include "layouttestutil.h"
#include "testmain.h"

#include <QDir>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace RptOut;

namespace {

QString fixture(const QString &name)
{
    return QStringLiteral(RPT_LAYOUT_DATA_DIR "/") + name;
}

using Result = RptOut::RenderRun;

Result render(const QStringList &args)
{
    return RptOut::rptrender(args);
}

// The catering worker's data: rows in their order, branches interleaved.
QString writeOrderData(const QString &file, int rows, const QStringList &branches)
{
    QJsonArray records;
    for (int i = 0; i < rows; ++i) {
        QJsonObject r;
        r.insert(QStringLiteral("branchName"), branches.at(i % branches.size()));
        r.insert(
            QStringLiteral("name"), QStringLiteral("Jedlo %1").arg(i, 2, 10, QLatin1Char('0')));
        r.insert(QStringLiteral("quant"), 1 + i % 9);
        records.append(r);
    }
    QJsonObject root;
    root.insert(QStringLiteral("records"), records);
    // The worker leaves the pager text and the grouping switch unanswered;
    // the data says so, or they would be unknown variables.
    root.insert(QStringLiteral("values"),
        QJsonObject {
            { QStringLiteral("header"), QStringLiteral("Záväzná objednávka – Firma s.r.o.") },
            { QStringLiteral("strPager"), QString() }, { QStringLiteral("grouping"), QString() } });
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(QJsonDocument(root).toJson());
    return file;
}

// A template of one master data band, its fields on lines 5 and 6 (each
// element starting in column 7), for the evaluation-error cases.
QString rowsTemplate(const QString &first, const QString &second)
{
    return QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Reports lib=\"RptEngine\">\n"
        "  <Report pageWidth=\"840\" pageHeight=\"1188\" marginsLeft=\"20\" marginsRight=\"20\" "
        "marginsTop=\"40\" marginsBottom=\"20\">\n"
        "    <ReportBand name=\"rows\" type=\"MasterData\" height=\"30\">\n"
        "      %1\n"
        "      %2\n"
        "    </ReportBand>\n"
        "  </Report>\n"
        "</Reports>\n")
        .arg(first, second);
}

// Records "Row 0" ... with qty 0 ...
QString writeRows(const QString &file, int rows)
{
    QJsonArray records;
    for (int i = 0; i < rows; ++i)
        records.append(QJsonObject { { QStringLiteral("name"), QStringLiteral("Row %1").arg(i) },
            { QStringLiteral("qty"), i } });
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(QJsonDocument(QJsonObject { { QStringLiteral("records"), records } }).toJson());
    return file;
}

// The lines rptrender printed that look like "file:line:column: error: ...".
QStringList errorLines(const QString &out)
{
    QStringList lines;
    for (const QString &l : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (l.contains(QLatin1String(": error: ")))
            lines.append(l);
    }
    return lines;
}

} // namespace

class RenderToolTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void groupedTemplateWithDataFile()
    {
        const QString out = m_dir.filePath(QStringLiteral("grouped.pdf"));
        const Result r = render({ fixture(QStringLiteral("grouped.xml")), out,
            QStringLiteral("--data"), fixture(QStringLiteral("grouped.json")) });
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        const QStringList expected { "Orders <by> branch & day", "Branch Bratislava", "Goulash 5",
            "Pie 13", "Branch total 18", "Branch Košice", "Salad 11", "Branch total 11",
            "Branch Nitra", "Soup 3", "Dumplings 7", "Branch total 10", "Grand total 39",
            "Page 1 of 1" };
        QCOMPARE(textLines(pdfText(out)).join(QLatin1Char('|')), expected.join(QLatin1Char('|')));
    }

    void groupedTemplateToHtml()
    {
        const QString out = m_dir.filePath(QStringLiteral("grouped.html"));
        const Result r = render({ QStringLiteral("--data"), fixture(QStringLiteral("grouped.json")),
            fixture(QStringLiteral("grouped.xml")), out });
        QCOMPARE(r.exitCode, 0);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(f.readAll());
        QVERIFY(html.contains(QLatin1String(">Orders &lt;by&gt; branch &amp; day</div>")));
        const int bratislava = html.indexOf(QStringLiteral(">Branch Bratislava<"));
        QVERIFY(bratislava > 0);
        QVERIFY(bratislava < html.indexOf(QStringLiteral(">Branch Košice<")));
        QVERIFY(html.contains(QLatin1String(">Grand total 39</div>")));
        QVERIFY(!html.contains(QLatin1String("Page 1 of")));
    }

    // The small templates a template author can try out: auto-height rows,
    // group values of mixed kinds, and data that looks like markup in rich
    // text.
    void smallTemplates_data()
    {
        QTest::addColumn<QString>("templateFile");
        QTest::addColumn<QString>("dataFile");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::newRow("group values")
            << "grouped.xml"
            << "groupvalues.json"
            << "groups.pdf"
            << "Branch 2|Soup 1|Pie 8|Branch total 9|Branch 10|Goulash 2|Branch total 2|"
               "Branch 1a|Salad 4|Branch total 4|Grand total 15"
            << QStringList();
        QTest::newRow("auto-height rows")
            << "autoheight.xml"
            << "autoheight.json"
            << "auto.pdf"
            << "Auto-height rows|One line. first|Two lines of text" << QStringList();
        QTest::newRow("rich text to PDF")
            << "richtext.xml"
            << "richtext.json"
            << "rich.pdf"
            << "Dish: <img src=x onerror=alert(1)>, 3 portions|Dish: Underlined, 5 portions"
            << QStringList();
        QTest::newRow("rich text to HTML")
            << "richtext.xml"
            << "richtext.json"
            << "rich.html"
            << "<b>&lt;img src=x onerror=alert(1)&gt;</b>, <i>3 portions</i>"
            << QStringList { "<img", "onclick", "<script" };
    }
    void smallTemplates()
    {
        QFETCH(QString, templateFile);
        QFETCH(QString, dataFile);
        QFETCH(QString, output);
        QFETCH(QString, present);
        QFETCH(QStringList, absent);
        const QString out = m_dir.filePath(output);
        const Result r
            = render({ fixture(templateFile), out, QStringLiteral("--data"), fixture(dataFile) });
        QCOMPARE(r.exitCode, 0);
        QString text;
        if (output.endsWith(QLatin1String(".html"))) {
            QFile f(out);
            QVERIFY(f.open(QIODevice::ReadOnly));
            text = QString::fromUtf8(f.readAll());
        } else {
            text = textLines(pdfText(out)).join(QLatin1Char('|'));
        }
        QVERIFY2(text.contains(present), qPrintable(text));
        for (const QString &a : absent)
            QVERIFY2(!text.contains(a), qPrintable(text));
    }

    void datasetsOverrideTheRecordCount()
    {
        const QString data = m_dir.filePath(QStringLiteral("two.json"));
        QFile f(data);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"records": [{"branch": "A", "item": "first", "quant": 1},
                                {"branch": "A", "item": "second", "quant": 2},
                                {"branch": "A", "item": "third", "quant": 4}],
                    "values": {"title": "Orders"},
                    "datasets": {"": 2}})");
        f.close();
        const QString out = m_dir.filePath(QStringLiteral("two.pdf"));
        QCOMPARE(
            render({ fixture(QStringLiteral("grouped.xml")), out, QStringLiteral("--data"), data })
                .exitCode,
            0);
        const QString text = pdfText(out);
        QVERIFY(text.contains(QLatin1String("second")));
        QVERIFY(!text.contains(QLatin1String("third")));
        QVERIFY(text.contains(QLatin1String("Branch total 3")));
    }

    void errorsExitWithOneLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        const QString grouped = fixture(QStringLiteral("grouped.xml"));
        const QString out = QStringLiteral("/tmp/rptrender-test-never.pdf");
        QTest::newRow("missing template")
            << QStringList { fixture(QStringLiteral("missing.xml")), out } << 1;
        QTest::newRow("broken template")
            << QStringList { fixture(QStringLiteral("broken.xml")), out } << 1;
        QTest::newRow("missing data")
            << QStringList { grouped, out, "--data", fixture(QStringLiteral("none.json")) } << 1;
        QTest::newRow("invalid data")
            << QStringList { grouped, out, "--data", fixture(QStringLiteral("invalid.json")) } << 1;
        QTest::newRow("data not an object")
            << QStringList { grouped, out, "--data", fixture(QStringLiteral("array.json")) } << 1;
        QTest::newRow("unwritable output")
            << QStringList { grouped, QStringLiteral("/nonexistent-dir/x.pdf") } << 1;
        QTest::newRow("no arguments") << QStringList() << 2;
        QTest::newRow("one argument") << QStringList {grouped} << 2;
        QTest::newRow("three arguments") << QStringList {grouped, out, out} << 2;
        QTest::newRow("data without file") << QStringList {grouped, out, "--data"} << 2;
        QTest::newRow("unknown option") << QStringList {grouped, out, "--fast"} << 2;
        QTest::newRow("unknown output type")
            << QStringList { grouped, QStringLiteral("/tmp/rptrender-test-never.docx") } << 1;
        QTest::newRow("no output type")
            << QStringList { grouped, QStringLiteral("/tmp/rptrender-test-never") } << 1;
        QTest::newRow("dpi without value") << QStringList { grouped, out, "--dpi" } << 2;
        QTest::newRow("dpi not a number") << QStringList { grouped, out, "--dpi", "many" } << 2;
        QTest::newRow("dpi out of range") << QStringList { grouped, out, "--dpi", "5000" } << 2;
        QTest::newRow("check without template") << QStringList { "--check" } << 2;
        QTest::newRow("check of a missing template")
            << QStringList { "--check", fixture(QStringLiteral("missing.xml")) } << 1;
        QTest::newRow("check with invalid data")
            << QStringList { "--check", grouped, "--data", fixture(QStringLiteral("invalid.json")) } << 1;
        QTest::newRow("check with output") << QStringList { "--check", grouped, out } << 2;
        QTest::newRow("strict without check") << QStringList { grouped, out, "--strict" } << 2;
    }
    void errorsExitWithOneLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        const Result r = render(args);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.endsWith(QLatin1Char('\n')) && r.err.count(QLatin1Char('\n')) == 1,
            qPrintable(r.err));
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/rptrender-test-never.pdf")) || exitCode == 2);
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/rptrender-test-never.docx")));
    }

    // The catering order: 60 rows in 4 branches.
    void orderTemplateWithSixtyRows()
    {
        const QStringList branches { "Žilina", "Bratislava", "Nitra", "Košice" };
        const QString data
            = writeOrderData(m_dir.filePath(QStringLiteral("order.json")), 60, branches);
        const QString out = m_dir.filePath(QStringLiteral("order.pdf"));
        const Result r
            = render({ QStringLiteral(RPT_ORDER_TEMPLATE), out, QStringLiteral("--data"), data });
        QCOMPARE(r.exitCode, 0);
        const int pages = pdfPages(out);
        QVERIFY(pages >= 2);
        QStringList all;
        for (int p = 1; p <= pages; ++p) {
            const QStringList lines = textLines(pdfText(out, p));
            // Every page counts itself against the page count ("N / M";
            // strPager is left empty by the caller): three words.
            const QString words = pdfWords(out, p).join(QLatin1Char(' '));
            const QString counter = QStringLiteral(" %1 / %2 ").arg(p).arg(pages);
            QVERIFY2(words.contains(counter), qPrintable(words));
            all += lines;
        }
        QCOMPARE(all.first(), QStringLiteral("Objednávka"));
        QVERIFY(all.contains(QStringLiteral("Záväzná objednávka – Firma s.r.o.")));
        QVERIFY(all.contains(QStringLiteral("Položka Počet")));

        // Branch headings ascending, each followed by its rows in record order.
        QStringList sorted = branches;
        std::sort(sorted.begin(), sorted.end());
        int at = 0;
        for (const QString &b : qAsConst(sorted)) {
            const int heading = all.indexOf(b, at);
            QVERIFY2(heading >= at, qPrintable(b));
            at = heading + 1;
            const int branch = branches.indexOf(b);
            for (int i = branch; i < 60; i += 4) {
                const QString row
                    = QStringLiteral("Jedlo %1 %2").arg(i, 2, 10, QLatin1Char('0')).arg(1 + i % 9);
                const int pos = all.indexOf(row, at);
                QVERIFY2(pos >= at, qPrintable(row));
                at = pos + 1;
            }
        }
    }

    // One file per page, as many as the PDF has pages, of A4 at the
    // resolution asked for, blank in the margins and drawn inside them.
    void pagesAsImages_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("dpi");
        QTest::newRow("PNG at the default 96 dpi") << "png" << 0;
        QTest::newRow("PNG at 50 dpi") << "png" << 50;
        QTest::newRow("SVG") << "svg" << 0;
    }
    void pagesAsImages()
    {
        QFETCH(QString, kind);
        QFETCH(int, dpi);
        const QStringList branches { "Žilina", "Bratislava", "Nitra", "Košice" };
        const QString data
            = writeOrderData(m_dir.filePath(QStringLiteral("pages.json")), 60, branches);
        const QString pdf = m_dir.filePath(QStringLiteral("pages.pdf"));
        QCOMPARE(render({ QStringLiteral(RPT_ORDER_TEMPLATE), pdf, QStringLiteral("--data"), data })
                     .exitCode,
            0);
        const int pages = pdfPages(pdf);
        QVERIFY(pages >= 2);

        QTemporaryDir dir;
        // A page left from an earlier, longer render goes.
        const QString stale = dir.filePath(QStringLiteral("order-%1.%2").arg(pages + 1).arg(kind));
        QFile(stale).open(QIODevice::WriteOnly);
        QStringList args { QStringLiteral(RPT_ORDER_TEMPLATE),
            dir.filePath(QStringLiteral("order.") + kind), QStringLiteral("--data"), data };
        if (dpi > 0)
            args << QStringLiteral("--dpi") << QString::number(dpi);
        const Result r = render(args);
        QCOMPARE(r.err, QString());
        QCOMPARE(r.exitCode, 0);
        QVERIFY(!QFile::exists(stale));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("order.") + kind)));
        const int resolution = dpi > 0 ? dpi : 96;
        for (int page = 1; page <= pages; ++page) {
            const QString file = dir.filePath(QStringLiteral("order-%1.%2").arg(page).arg(kind));
            QVERIFY2(QFile::exists(file), qPrintable(file));
            if (kind == QLatin1String("svg")) {
                QFile f(file);
                QVERIFY(f.open(QIODevice::ReadOnly));
                const QString svg = QString::fromUtf8(f.readAll());
                QVERIFY(svg.contains(QLatin1String("width=\"210.00mm\" height=\"297.00mm\"")));
                QDomDocument doc;
                QVERIFY2(doc.setContent(svg), qPrintable(file));
                continue;
            }
            const QImage image(file);
            QVERIFY(!image.isNull());
            QVERIFY(qAbs(image.width() - 210 * resolution / 25.4) <= 1.5);
            QVERIFY(qAbs(image.height() - 297 * resolution / 25.4) <= 1.5);
            QCOMPARE(image.dotsPerMeterX(), qRound(resolution / 0.0254));
            // Ink only inside the margins (5 mm left, 10 mm top), and some of it.
            const int left = int(5 * resolution / 25.4);
            const int top = int(10 * resolution / 25.4);
            int ink = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if (qGray(image.pixel(x, y)) > 200)
                        continue;
                    QVERIFY2(x >= left - 1 && y >= top - 1,
                        qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
                    ++ink;
                }
            }
            QVERIFY2(ink > image.width(), qPrintable(QString::number(ink)));
        }
        QVERIFY(
            !QFile::exists(dir.filePath(QStringLiteral("order-%1.%2").arg(pages + 1).arg(kind))));
    }

    // --watch renders again when the template changes, and prints what is
    // wrong with it each time.
    void watchRendersAgainOnChange()
    {
        QTemporaryDir dir;
        const QString tpl = dir.filePath(QStringLiteral("watched.xml"));
        QVERIFY(QFile::copy(fixture(QStringLiteral("grouped.xml")), tpl));
        QFile::setPermissions(tpl, QFile::ReadOwner | QFile::WriteOwner);
        const QString out = dir.filePath(QStringLiteral("watched.pdf"));
        QProcess p;
        p.start(QStringLiteral(RPT_RENDER_BIN),
            { tpl, out, QStringLiteral("--data"), fixture(QStringLiteral("grouped.json")),
                QStringLiteral("--watch") });
        QString err;
        QString stdOut;
        const auto waitFor = [&](const QString &text, int count) {
            QElapsedTimer t;
            t.start();
            while (err.count(text) + stdOut.count(text) < count && t.elapsed() < 30000) {
                p.waitForReadyRead(200);
                err += QString::fromUtf8(p.readAllStandardError());
                stdOut += QString::fromUtf8(p.readAllStandardOutput());
            }
            return err.count(text) + stdOut.count(text) >= count;
        };
        QVERIFY2(waitFor(QStringLiteral("rptrender: rendered"), 1), qPrintable(err));
        QVERIFY(pdfText(out).contains(QLatin1String("Grand total 39")));

        const auto rewrite = [&](const QString &from, const QString &to) {
            QFile f(tpl);
            if (!f.open(QIODevice::ReadOnly))
                return false;
            QString text = QString::fromUtf8(f.readAll());
            f.close();
            text.replace(from, to);
            if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return false;
            return f.write(text.toUtf8()) > 0;
        };
        QVERIFY(rewrite(QStringLiteral("Grand total"), QStringLiteral("Sum of all")));
        QVERIFY2(waitFor(QStringLiteral("rptrender: rendered"), 2), qPrintable(err));
        QVERIFY(pdfText(out).contains(QLatin1String("Sum of all 39")));

        // An editor that replaces the file, with a mistake in it.
        {
            QFile f(tpl);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QString text = QString::fromUtf8(f.readAll());
            text.replace(
                QLatin1String("type=\"ReportSummary\""), QLatin1String("type=\"ReportSumary\""));
            QSaveFile save(tpl);
            QVERIFY(save.open(QIODevice::WriteOnly));
            save.write(text.toUtf8());
            QVERIFY(save.commit());
        }
        QVERIFY2(waitFor(QStringLiteral("rptrender: rendered"), 3), qPrintable(err));
        QVERIFY2(stdOut.contains(QStringLiteral("%1:20:").arg(tpl)), qPrintable(stdOut));
        QVERIFY(stdOut.contains(QLatin1String("unknown band type \"ReportSumary\"")));
        QVERIFY(!pdfText(out).contains(QLatin1String("Sum of all")));
        p.terminate();
        QVERIFY(p.waitForFinished(10000));
    }

    // Barcode fields drawn by libzint scan back to their value, from the
    // PNG pages and from the PDF.
    void barcodesDecodeToTheirValue_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("decoded");
        QTest::addColumn<QString>("output");
        const QString payment = QStringLiteral(
            "SPD*1.0*ACC:SK3112000000198742637541*AM:12.50*CC:EUR*MSG:Faktúra 2026-0042");
        QTest::newRow("EAN-13 by default") << ""
                                           << "5901234123457"
                                           << "5901234123457"
                                           << "png";
        QTest::newRow("EAN-13, check digit added") << "barcodeType=\"13\""
                                                   << "590123412345"
                                                   << "5901234123457"
                                                   << "png";
        QTest::newRow("Code 128") << "barcodeType=\"20\""
                                  << "ORDER-2026-0042"
                                  << "ORDER-2026-0042"
                                  << "png";
        QTest::newRow("QR payment code") << "barcodeType=\"58\"" << payment << payment << "png";
        QTest::newRow("QR payment code in a PDF")
            << "barcodeType=\"58\"" << payment << payment << "pdf";
        QTest::newRow("Code 128 in a PDF") << "barcodeType=\"20\""
                                           << "ORDER-2026-0042"
                                           << "ORDER-2026-0042"
                                           << "pdf";
    }
    void barcodesDecodeToTheirValue()
    {
        QFETCH(QString, type);
        QFETCH(QString, value);
        QFETCH(QString, decoded);
        QFETCH(QString, output);
        const QString zbarimg = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
        if (zbarimg.isEmpty())
            QFAIL("zbarimg is missing: run scripts/setup-deps");
        QTemporaryDir dir;
        const QString tpl = dir.filePath(QStringLiteral("barcode.xml"));
        {
            QFile f(tpl);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QStringLiteral("<Reports lib=\"RptEngine\"><Report pageWidth=\"840\" "
                                   "pageHeight=\"1188\" marginsLeft=\"20\" "
                                   "marginsRight=\"20\" marginsTop=\"40\" "
                                   "marginsBottom=\"20\"><ReportBand name=\"title\" "
                                   "type=\"ReportTitle\" height=\"260\"><TContainerField "
                                   "name=\"code\" type=\"barcode\" %1 "
                                   "value=\"[code]\" left=\"40\" top=\"20\" width=\"400\" "
                                   "height=\"200\"/></ReportBand></Report>"
                                   "</Reports>")
                        .arg(type)
                        .toUtf8());
        }
        const QString data = dir.filePath(QStringLiteral("barcode.json"));
        {
            QFile f(data);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QJsonDocument(QJsonObject { { QStringLiteral("values"),
                                      QJsonObject { { QStringLiteral("code"), value } } } })
                        .toJson());
        }
        const Result check
            = render({ QStringLiteral("--check"), tpl, QStringLiteral("--data"), data });
        QCOMPARE(check.out, QString());
        QCOMPARE(check.exitCode, 0);
        QString image = dir.filePath(QStringLiteral("code-1.png"));
        if (output == QLatin1String("png")) {
            const Result r = render({ tpl, dir.filePath(QStringLiteral("code.png")),
                QStringLiteral("--data"), data, QStringLiteral("--dpi"), QStringLiteral("200") });
            QCOMPARE(r.exitCode, 0);
        } else {
            const QString pdf = dir.filePath(QStringLiteral("code.pdf"));
            QCOMPARE(render({ tpl, pdf, QStringLiteral("--data"), data }).exitCode, 0);
            QVERIFY(pdfPageImage(pdf, 1, 200).save(image));
        }
        int exitCode = -1;
        const QString scanned
            = run(zbarimg, { QStringLiteral("--raw"), QStringLiteral("-q"), image }, &exitCode);
        QCOMPARE(exitCode, 0);
        QCOMPARE(scanned.trimmed(), decoded);
    }

    // A value the symbology cannot hold prints libzint's reason in the field
    // and the rest of the page as usual.
    void barcodeThatCannotEncodeShowsWhy()
    {
        QTemporaryDir dir;
        const QString tpl = dir.filePath(QStringLiteral("bad.xml"));
        QFile f(tpl);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<Reports><Report pageWidth=\"840\" pageHeight=\"1188\" marginsLeft=\"20\" "
                "marginsRight=\"20\" "
                "marginsTop=\"40\" marginsBottom=\"20\"><ReportBand name=\"t\" "
                "type=\"ReportTitle\" height=\"200\">"
                "<TContainerField name=\"ean\" type=\"barcode\" barcodeType=\"13\" "
                "value=\"[code]\" left=\"0\" "
                "top=\"0\" width=\"600\" height=\"100\"/><TContainerField name=\"after\" "
                "type=\"label\" "
                "value=\"Still printed\" left=\"0\" top=\"120\" width=\"400\" "
                "height=\"40\"/></ReportBand></Report>"
                "</Reports>");
        f.close();
        const QString data = dir.filePath(QStringLiteral("bad.json"));
        QFile d(data);
        QVERIFY(d.open(QIODevice::WriteOnly));
        d.write(R"({"values": {"code": "not digits"}})");
        d.close();
        const QString pdf = dir.filePath(QStringLiteral("bad.pdf"));
        QCOMPARE(render({ tpl, pdf, QStringLiteral("--data"), data }).exitCode, 0);
        const QString text = pdfText(pdf).simplified();
        QVERIFY2(text.contains(QLatin1String("Still printed")), qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("Invalid character")), qPrintable(text));
    }

    // A chart whose series read a data set of the data file: the labels are
    // text on the page, the series' colours are inside the field and
    // nowhere else, and a chart whose data set is empty draws nothing.
    void chartsDrawTheirDataSets_data()
    {
        QTest::addColumn<QString>("chartType");
        QTest::addColumn<bool>("seriesCaptions");
        QTest::addColumn<int>("least");
        QTest::newRow("bars") << "SeriesTypeBar" << true << 500;
        QTest::newRow("stacked bars") << "SeriesTypeStackedBar" << true << 500;
        QTest::newRow("lines") << "SeriesTypeLine" << true << 50;
        // Pie slices are named by the records; each series is a pie.
        QTest::newRow("pies") << "SeriesTypePie" << false << 500;
    }
    void chartsDrawTheirDataSets()
    {
        QFETCH(QString, chartType);
        QFETCH(bool, seriesCaptions);
        QFETCH(int, least);
        QTemporaryDir dir;
        const QString series = QStringLiteral(
            "<Series caption=\"North\" graphDS=\"sales\" val=\"[north]\" color=\"rgba(220,20,20,255)\"/>"
            "<Series caption=\"South\" graphDS=\"sales\" val=\"south\" color=\"rgba(20,20,220,255)\"/>");
        const QString chart = QStringLiteral(
            "<TContainerField name=\"%1\" type=\"diagram\" value=\"[month]\" left=\"0\" top=\"%2\" "
            "width=\"600\" height=\"400\" caption=\"%3\" chartType=\"%4\" legendFont=\"Arial,9\">"
            "%5</TContainerField>");
        const QString tpl = dir.filePath(QStringLiteral("chart.xml"));
        QVERIFY(writeText(tpl,
            reports(a4Page(band(QStringLiteral("ReportTitle"), 1000,
                chart.arg(QStringLiteral("sales"), QStringLiteral("0"),
                    QStringLiteral("Sales by month"), chartType, series)
                    + chart.arg(QStringLiteral("none"), QStringLiteral("500"),
                        QStringLiteral("Nothing here"), chartType,
                        QString(series).replace(QLatin1String("sales"), QLatin1String("none"))))))));
        const QStringList months { "January", "February", "March", "April" };
        QJsonArray sales;
        for (int i = 0; i < months.size(); ++i)
            sales.append(QJsonObject { { QStringLiteral("month"), months.at(i) },
                { QStringLiteral("north"), 10 + 5 * i }, { QStringLiteral("south"), 30 - 4 * i } });
        const QString data = dir.filePath(QStringLiteral("chart.json"));
        QVERIFY(writeText(data,
            QString::fromUtf8(QJsonDocument(QJsonObject { { QStringLiteral("datasets"),
                                                QJsonObject { { QStringLiteral("sales"), sales },
                                                    { QStringLiteral("none"), QJsonArray() } } } })
                                  .toJson())));
        const Result check
            = render({ QStringLiteral("--check"), QStringLiteral("--strict"), tpl, QStringLiteral("--data"), data });
        QCOMPARE(check.out, QString());

        QCOMPARE(render({ tpl, dir.filePath(QStringLiteral("chart.svg")), QStringLiteral("--data"), data })
                     .exitCode,
            0);
        const QStringList texts = svgTexts(dir.filePath(QStringLiteral("chart-1.svg")));
        QVERIFY2(texts.contains(QStringLiteral("Sales by month")), qPrintable(texts.join(QLatin1Char('|'))));
        for (const QString &m : months)
            QVERIFY2(texts.contains(m), qPrintable(m));
        QCOMPARE(texts.contains(QStringLiteral("North")), seriesCaptions);
        QCOMPARE(texts.contains(QStringLiteral("South")), seriesCaptions);
        QVERIFY(!texts.contains(QStringLiteral("Nothing here")));

        const int dpi = 96;
        QCOMPARE(render({ tpl, dir.filePath(QStringLiteral("chart.png")), QStringLiteral("--data"),
                     data, QStringLiteral("--dpi"), QString::number(dpi) })
                     .exitCode,
            0);
        const QImage page(dir.filePath(QStringLiteral("chart-1.png")));
        QVERIFY(!page.isNull());
        const QRect filled(pagePixel(0, 0, dpi), pagePixel(600, 400, dpi));
        const QRect empty(pagePixel(0, 500, dpi), pagePixel(600, 900, dpi));
        int red = 0;
        int blue = 0;
        int strayColour = 0;
        int inkInEmpty = 0;
        for (int y = 0; y < page.height(); ++y) {
            for (int x = 0; x < page.width(); ++x) {
                const QColor c(page.pixel(x, y));
                const bool isRed = near(c, QColor(220, 20, 20), 30);
                const bool isBlue = near(c, QColor(20, 20, 220), 30);
                if (filled.contains(x, y)) {
                    red += isRed ? 1 : 0;
                    blue += isBlue ? 1 : 0;
                } else if (isRed || isBlue) {
                    ++strayColour;
                }
                if (empty.contains(x, y) && qGray(c.rgb()) < 250)
                    ++inkInEmpty;
            }
        }
        QVERIFY2(red >= least && blue >= least, qPrintable(QStringLiteral("%1 %2").arg(red).arg(blue)));
        QCOMPARE(strayColour, 0);
        QCOMPARE(inkInEmpty, 0);
    }

    // Data sets with records of their own: a master data band that names
    // one prints its records, by bare and by qualified names, and a
    // record's missing name comes from "values"; a data set that is no
    // list of records is refused.
    void masterBandShowsItsDataSet()
    {
        QTemporaryDir dir;
        const QString tpl = dir.filePath(QStringLiteral("set.xml"));
        QVERIFY(writeText(tpl,
            reports(a4Page(band(QStringLiteral("MasterData"), 30,
                               label(QStringLiteral("[item] [meals.qty] [unit]"), 0, 0, 400, 25),
                               QStringLiteral("dataSourceName=\"meals\""))
                + band(QStringLiteral("MasterData"), 30,
                    label(QStringLiteral("record [item]"), 0, 0, 400, 25),
                    QStringLiteral("bandNo=\"2\""))))));
        const QString data = dir.filePath(QStringLiteral("set.json"));
        QVERIFY(writeText(data,
            QStringLiteral(R"({"records": [{"item": "plain"}],
                               "values": {"unit": "pcs"},
                               "datasets": {"meals": [{"item": "Soup", "qty": 3},
                                                      {"item": "Pie", "qty": 5, "unit": "slices"}]}})")));
        const Result check = render({ QStringLiteral("--check"), QStringLiteral("--strict"), tpl,
            QStringLiteral("--data"), data });
        QCOMPARE(check.out, QString());
        const QString pdf = dir.filePath(QStringLiteral("set.pdf"));
        QCOMPARE(render({ tpl, pdf, QStringLiteral("--data"), data }).exitCode, 0);
        QCOMPARE(textLines(pdfText(pdf)).join(QLatin1Char('|')),
            QStringLiteral("Soup 3 pcs|Pie 5 slices|record plain"));

        QVERIFY(writeText(data, QStringLiteral(R"({"datasets": {"meals": [1, 2]}})")));
        const Result bad = render({ tpl, pdf, QStringLiteral("--data"), data });
        QCOMPARE(bad.exitCode, 1);
        QVERIFY2(bad.err.contains(QLatin1String("a record of data set \"meals\" is not an object")),
            qPrintable(bad.err));
    }

    // --check knows where cross-tabs and chart series get their data sets:
    // from the data file or a data source of the page. With a data file,
    // one from neither is an error; without, the caller may answer it.
    void checkNamesDataSetsNobodyGives_data()
    {
        QTest::addColumn<QString>("dataSet");
        QTest::addColumn<QString>("datasets");
        QTest::addColumn<bool>("withData");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("finding");
        QTest::newRow("given by the data file")
            << "meals" << R"({"meals": [{"n": 1}]})" << true << 0 << "";
        QTest::newRow("a count in the data file") << "meals" << R"({"meals": 4})" << true << 0 << "";
        QTest::newRow("an inline source") << "fruit" << "{}" << true << 0 << "";
        QTest::newRow("given by nobody")
            << "meal" << R"({"meals": []})" << true << 1
            << "error: data set \"meal\" of %1 is in neither the data file's \"datasets\" nor a "
               "data source of the page, and shows nothing; did you mean \"meals\"?";
        QTest::newRow("no data file")
            << "meals" << "{}" << false << 0
            << "warning: data set \"meals\" of %1 comes from no data source of the page; the "
               "caller must answer it (give --data to check it)";
    }
    void checkNamesDataSetsNobodyGives()
    {
        QFETCH(QString, dataSet);
        QFETCH(QString, datasets);
        QFETCH(bool, withData);
        QFETCH(int, exitCode);
        QFETCH(QString, finding);
        QTemporaryDir dir;
        const QString source = QStringLiteral(
            "<DataSource type=\"INLINE\" name=\"fruit\" rowCount=\"1\" delimiter=\";\">"
            "<Row value=\"n\"/><Row value=\"1\"/></DataSource>");
        const QString tpl = dir.filePath(QStringLiteral("sets.xml"));
        QVERIFY(writeText(tpl,
            reports(a4Page(source
                + band(QStringLiteral("ReportTitle"), 600,
                    QStringLiteral("<TContainerField name=\"tab\" type=\"crossTab\" left=\"0\" "
                                   "top=\"0\" width=\"400\" height=\"200\" colCount=\"1\" "
                                   "dataSourceName=\"%1\"><Column caption=\"n\" value=\"\"/>"
                                   "</TContainerField>\n<TContainerField name=\"pie\" "
                                   "type=\"diagram\" left=\"0\" top=\"300\" width=\"400\" "
                                   "height=\"200\"><Series caption=\"s\" graphDS=\"%1\" "
                                   "val=\"1\"/></TContainerField>")
                        .arg(dataSet))))));
        const QString data = dir.filePath(QStringLiteral("sets.json"));
        QVERIFY(writeText(data, QStringLiteral("{\"datasets\": %1}").arg(datasets)));
        QStringList args { QStringLiteral("--check"), tpl };
        if (withData)
            args << QStringLiteral("--data") << data;
        const Result r = render(args);
        QCOMPARE(r.exitCode, exitCode);
        if (finding.isEmpty()) {
            QCOMPARE(r.out, QString());
            return;
        }
        // One line for the cross-tab, one for the series, in template order.
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).startsWith(tpl + QLatin1Char(':'))
                && lines.at(0).endsWith(finding.arg(QStringLiteral("cross-tab \"tab\""))),
            qPrintable(lines.at(0)));
        QVERIFY2(lines.at(1).endsWith(finding.arg(QStringLiteral("series \"s\" of chart \"pie\""))),
            qPrintable(lines.at(1)));
        const int line0 = lines.at(0).section(QLatin1Char(':'), 1, 1).toInt();
        const int line1 = lines.at(1).section(QLatin1Char(':'), 1, 1).toInt();
        QCOMPARE(line1, line0 + 1);
    }

    void orderTemplateToHtml()
    {
        const QStringList branches { "Žilina", "Bratislava", "Nitra", "Košice" };
        const QString data
            = writeOrderData(m_dir.filePath(QStringLiteral("order-html.json")), 60, branches);
        const QString out = m_dir.filePath(QStringLiteral("order.html"));
        QCOMPARE(render({ QStringLiteral(RPT_ORDER_TEMPLATE), out, QStringLiteral("--data"), data })
                     .exitCode,
            0);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(f.readAll());
        // Rows one below the other on one sheet, in branch order.
        const QRegularExpression row(QStringLiteral("top: (-?\\d+)px;[^>]*>Jedlo (\\d+)</div>"));
        QRegularExpressionMatchIterator it = row.globalMatch(html);
        int rows = 0;
        int lastTop = -1;
        QStringList order;
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            QVERIFY(m.captured(1).toInt() > lastTop);
            lastTop = m.captured(1).toInt();
            order.append(branches.at(m.captured(2).toInt() % 4));
            ++rows;
        }
        QCOMPARE(rows, 60);
        QCOMPARE(order.first(), QStringLiteral("Bratislava"));
        QCOMPARE(order.last(), QStringLiteral("Žilina"));
    }

    // A formula that fails on every one of 300 rows is one line with its
    // field and line; the document is still written, showing the error
    // text where the value was. Fixed, the template renders silently.
    void evaluationErrorIsOneLineWithItsPlace()
    {
        const QString data = writeRows(m_dir.filePath(QStringLiteral("rows.json")), 300);
        const QString broken = m_dir.filePath(QStringLiteral("broken-formula.xml"));
        QVERIFY(writeText(broken,
            rowsTemplate(
                label(QStringLiteral("[name]"), 0, 0, 300, 30, QStringLiteral("name=\"item\"")),
                label(QStringLiteral("<[qty] * * 2>"), 300, 0, 300, 30,
                    QStringLiteral("name=\"total\"")))));
        const QString out = m_dir.filePath(QStringLiteral("broken-formula.pdf"));
        QFile::remove(out);
        Result r = render({ broken, out, QStringLiteral("--data"), data });
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, QString());
        QCOMPARE(errorLines(r.out),
            QStringList {
                broken + QStringLiteral(":6:7: error: field total: SyntaxError: Parse error") });
        const QString text = pdfText(out);
        QVERIFY2(text.contains(QLatin1String("Row 299")), qPrintable(text));
        QCOMPARE(text.count(QStringLiteral("SyntaxError: Parse error")), 300);

        const QString fixed = m_dir.filePath(QStringLiteral("fixed-formula.xml"));
        QVERIFY(writeText(fixed,
            rowsTemplate(
                label(QStringLiteral("[name]"), 0, 0, 300, 30, QStringLiteral("name=\"item\"")),
                label(QStringLiteral("<[qty] * 2>"), 300, 0, 300, 30,
                    QStringLiteral("name=\"total\"")))));
        r = render({ fixed, out, QStringLiteral("--data"), data });
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QString());
        const QString fixedText = pdfText(out);
        QVERIFY2(fixedText.contains(QLatin1String("598")), qPrintable(fixedText));
        QVERIFY(!fixedText.contains(QLatin1String("Error")));
    }

    void unknownNamesAtRenderTime_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("extra");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown function")
            << "<Shout([name])>" << QString()
            << "field mistake: ReferenceError: Can't find variable: Shout";
        QTest::newRow("unknown script variable")
            << "<[qty] + price>" << QString()
            << "field mistake: ReferenceError: Can't find variable: price";
        QTest::newRow("unknown data variable")
            << "[nosuch]" << QString()
            << "field mistake: unknown variable [nosuch]: the data has no value of that name";
        QTest::newRow("printing condition")
            << "[qty]"
            << "printing=\"[qty] > limit\""
            << "field mistake: printing condition: ReferenceError: Can't find variable: limit";
        QTest::newRow("highlighting rule")
            << "[qty]"
            << "highlighting=\"[qty] > limit;bold=?1:0;\""
            << "field mistake: highlighting: ReferenceError: Can't find variable: limit";
        QTest::newRow("hook")
            << "[qty]"
            << "name=\"mistake\""
            << "field mistake: mistakeAfterData: ReferenceError: Can't find variable: nothing";
    }
    void unknownNamesAtRenderTime()
    {
        QFETCH(QString, value);
        QFETCH(QString, extra);
        QFETCH(QString, message);
        const QString data = writeRows(m_dir.filePath(QStringLiteral("few.json")), 3);
        QString xml = rowsTemplate(label(QStringLiteral("[name]"), 0, 0, 300, 30),
            label(value, 300, 0, 300, 30, QStringLiteral("name=\"mistake\" ") + extra));
        if (message.contains(QLatin1String("AfterData")))
            xml.replace(QLatin1String("<Report "),
                QStringLiteral(
                    "<Script><![CDATA[function mistakeAfterData(t) { return nothing; }]]>"
                    "</Script><Report "));
        const QString file = m_dir.filePath(QStringLiteral("unknown.xml"));
        QVERIFY(writeText(file, xml));
        const QString out = m_dir.filePath(QStringLiteral("unknown.pdf"));
        const Result r = render({ file, out, QStringLiteral("--data"), data });
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(
            errorLines(r.out), QStringList { file + QStringLiteral(":6:7: error: ") + message });
        QVERIFY(pdfText(out).contains(QLatin1String("Row 2")));
    }

    // An image field asking for [picture] draws what the data holds: the
    // image in Base64 or a file relative to the data file. A file that is
    // not there is an error, and the field stays blank.
    void imagesFromData_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("drawn");
        QTest::newRow("Base64") << "@BASE64@" << true;
        QTest::newRow("file beside the data") << "pictures/red.png" << true;
        QTest::newRow("missing file") << "pictures/none.png" << false;
        QTest::newRow("neither") << "not an image" << false;
    }
    void imagesFromData()
    {
        QFETCH(QString, value);
        QFETCH(bool, drawn);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("pictures")));
        QImage red(40, 40, QImage::Format_RGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(dir.filePath(QStringLiteral("pictures/red.png")), "PNG"));
        QFile png(dir.filePath(QStringLiteral("pictures/red.png")));
        QVERIFY(png.open(QIODevice::ReadOnly));
        value.replace(QLatin1String("@BASE64@"), QString::fromLatin1(png.readAll().toBase64()));
        const QString data = dir.filePath(QStringLiteral("picture.json"));
        QVERIFY(writeText(data,
            QString::fromUtf8(QJsonDocument(
                QJsonObject { { QStringLiteral("records"),
                    QJsonArray { QJsonObject { { QStringLiteral("picture"), value } } } } })
                                  .toJson())));
        const QString xml = dir.filePath(QStringLiteral("picture.xml"));
        QVERIFY(writeText(xml,
            rowsTemplate(label(QStringLiteral("[picture]"), 0, 0, 200, 200,
                             QStringLiteral("name=\"photo\" type=\"labelImage\"")),
                QString())
                .replace(QLatin1String("height=\"30\""), QLatin1String("height=\"200\""))));
        const Result r = render({ xml, dir.filePath(QStringLiteral("out.png")),
            QStringLiteral("--data"), data, QStringLiteral("--dpi"), QStringLiteral("50") });
        const QImage page(dir.filePath(QStringLiteral("out-1.png")));
        QVERIFY(!page.isNull());
        const QColor centre = page.pixelColor(pagePixel(100, 100, 50));
        if (drawn) {
            QCOMPARE(r.exitCode, 0);
            QCOMPARE(r.out, QString());
            QVERIFY2(near(centre, Qt::red), qPrintable(centre.name()));
        } else {
            QCOMPARE(r.exitCode, 1);
            const QStringList errors = errorLines(r.out);
            QCOMPARE(errors.size(), 1);
            QVERIFY2(errors.first().startsWith(xml
                         + QStringLiteral(":5:7: error: field photo: image [picture] is neither "
                                          "Base64 nor an image file beside the data")),
                qPrintable(errors.first()));
            QVERIFY2(near(centre, Qt::white), qPrintable(centre.name()));
        }
    }

    // picture="red.png" is read beside the template; --check agrees, and
    // names the fix when the file is not there.
    void pictureFileBesideTheTemplate()
    {
        QTemporaryDir dir;
        QImage red(40, 40, QImage::Format_RGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(dir.filePath(QStringLiteral("red.png")), "PNG"));
        const QString xml = dir.filePath(QStringLiteral("logo.xml"));
        QVERIFY(writeText(xml,
            rowsTemplate(QStringLiteral("<TContainerField name=\"logo\" type=\"image\" "
                                        "picture=\"red.png\" left=\"0\" top=\"0\" "
                                        "width=\"200\" height=\"200\"/>"),
                QString())
                .replace(QLatin1String("height=\"30\""), QLatin1String("height=\"200\""))
                // Without data a master data band prints no row.
                .replace(QLatin1String("MasterData"), QLatin1String("ReportTitle"))));
        const QString out = dir.filePath(QStringLiteral("logo.png"));
        Result r = render({ xml, out, QStringLiteral("--dpi"), QStringLiteral("50") });
        QCOMPARE(r.exitCode, 0);
        const QImage page(dir.filePath(QStringLiteral("logo-1.png")));
        QVERIFY(near(page.pixelColor(pagePixel(100, 100, 50)), Qt::red));
        r = render({ QStringLiteral("--check"), xml });
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(!r.out.contains(QLatin1String("picture")), qPrintable(r.out));

        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("red.png"))));
        r = render({ xml, out, QStringLiteral("--dpi"), QStringLiteral("50") });
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(errorLines(r.out),
            QStringList { xml
                + QStringLiteral(":5:7: error: field logo: picture file red.png is not beside the "
                                 "template or is no image") });
        r = render({ QStringLiteral("--check"), xml });
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.contains(QLatin1String("put the image beside the template, or write the "
                                              "output of \"base64 -w0 red.png\" into picture")),
            qPrintable(r.out));
    }
};

YXA_TEST_CLASS(RenderToolTest)

#include "tst_rendertool.moc"
