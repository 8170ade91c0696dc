// The rptrender tool: a grouped template with a JSON data file, the small
// templates of the layout fixtures, the catering order template, and the
// tool's error exits.
#include "layouttestutil.h"
#include "testmain.h"

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
};

YXA_TEST_CLASS(RenderToolTest)

#include "tst_rendertool.moc"
