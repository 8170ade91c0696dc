// rptrender --check: a clean invoice template, the same template with one
// mistake at a time (each named with its line and the exit code it gives),
// the checker's tables held against the loader's sources, and the examples
// of docs/templates.md checked and rendered against what it says they print.
#include "rptbandobject.h"
#include "rptengine.h"
#include "rpttemplatecheck.h"
#include "testmain.h"
#include "layouttestutil.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// An invoice: title with a logo, one row per item with a computed amount, a
// highlighted row, a printing condition, a sum and a global-script hook.
// Rows name the line they change (1-based).
const char *const kInvoice[] = {
    R"(<?xml version="1.0" encoding="UTF-8"?>)",
    R"(<Reports lib="RptEngine">)",
    R"(  <Script><![CDATA[)",
    R"(function totalAfterData(text) { return text + " EUR"; })",
    R"(]]></Script>)",
    R"(  <Report pageWidth="840" pageHeight="1188" marginsLeft="20" marginsRight="20" marginsTop="40" marginsBottom="20">)",
    R"(    <ReportBand name="title" type="ReportTitle" height="60">)",
    R"(      <TContainerField name="caption" type="label" value="Invoice [number]" left="0" top="0" width="500" height="40" fontSize="14"/>)",
    R"(      <TContainerField name="logo" type="image" picture="@LOGO@" left="600" top="0" width="100" height="40"/>)",
    R"(    </ReportBand>)",
    R"(    <ReportBand name="rows" type="MasterData" height="25">)",
    R"(      <TContainerField name="item" type="label" value="[name]" left="0" top="0" width="400" height="22"/>)",
    R"(      <TContainerField name="qty" type="label" value="[qty]" left="400" top="0" width="100" height="22" printing="[qty] &gt; 0"/>)",
    R"(      <TContainerField name="amount" type="label" value="&lt;Round([qty] * [price] * 100) / 100&gt;" left="500" top="0" width="150" height="22" highlighting="[qty] &gt; 5;backgroundColor=?rgba(235,235,235,255);"/>)",
    R"(      <TContainerField name="price" type="label" value="[price]" left="650" top="0" width="150" height="22"/>)",
    R"(    </ReportBand>)",
    R"(    <ReportBand name="summary" type="ReportSummary" height="30">)",
    R"(      <TContainerField name="total" type="label" value="Total &lt;SUM([price])&gt;" left="0" top="0" width="500" height="25"/>)",
    R"(    </ReportBand>)",
    R"(  </Report>)",
    R"(</Reports>)",
};

QString logoBase64()
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::darkBlue);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QString::fromLatin1(buffer.data().toBase64());
}

QString invoice()
{
    QStringList lines;
    for (const char *line : kInvoice)
        lines.append(QString::fromUtf8(line));
    return lines.join(QLatin1Char('\n')).replace(QLatin1String("@LOGO@"), logoBase64())
        + QLatin1Char('\n');
}

using Run = RptOut::RenderRun;
using RptOut::rptrender;

bool writeFile(const QString &file, const QString &text)
{
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(text.toUtf8()) >= 0;
}

} // namespace

class TemplateCheckTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_data;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_data = m_dir.filePath(QStringLiteral("invoice.json"));
        QVERIFY(writeFile(
            m_data, QStringLiteral(R"({"records": [{"name": "Soup", "qty": 2, "price": 3.5},
                                             {"name": "Pie", "qty": 7, "price": 4}],
                                "values": {"number": "2026-0042"}})")));
    }

    void cleanTemplateHasNoFindings()
    {
        const QString file = m_dir.filePath(QStringLiteral("clean.xml"));
        QVERIFY(writeFile(file, invoice()));
        for (const QString &mode : { QStringLiteral("--check"), QStringLiteral("--strict") }) {
            QStringList args { QStringLiteral("--check"), file, QStringLiteral("--data"), m_data };
            if (mode == QLatin1String("--strict"))
                args.append(mode);
            const Run r = rptrender(args);
            QCOMPARE(r.out, QString());
            QCOMPARE(r.err, QString());
            QCOMPARE(r.exitCode, 0);
        }
        // And it renders what it promises.
        const QString pdf = m_dir.filePath(QStringLiteral("clean.pdf"));
        QCOMPARE(rptrender({ file, pdf, QStringLiteral("--data"), m_data }).exitCode, 0);
        int code = -1;
        QProcess p;
        p.start(QStringLiteral("pdftotext"), { pdf, QStringLiteral("-") });
        QVERIFY(p.waitForFinished(30000));
        code = p.exitCode();
        QCOMPARE(code, 0);
        const QString text = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(text.contains(QLatin1String("Invoice 2026-0042")), qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("Total 7.5 EUR")), qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("28")), qPrintable(text));
    }

    // Each row changes one text of the clean invoice (every occurrence) and
    // names the line the finding must point at.
    void mistakesAreNamedWithTheirLine_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("exitCode");
        const QStringList data { QStringLiteral("--data"), QStringLiteral("@DATA@") };
        QTest::newRow("malformed XML") << "value=\"[name]\""
                                       << "value=\"[name] & co\"" << data << 12 << "error"
                                       << "malformed XML" << 1;
        QTest::newRow("misspelled band type")
            << "type=\"MasterData\""
            << "type=\"MasterDta\"" << data << 11 << "error"
            << "unknown band type \"MasterDta\": the band is never printed; did you mean "
               "\"MasterData\"?"
            << 1;
        QTest::newRow("unknown attribute") << "fontSize=\"14\""
                                           << "fontSise=\"14\"" << data << 8 << "error"
                                           << "unknown attribute fontSise of <TContainerField>, "
                                              "ignored; did you mean \"fontSize\"?"
                                           << 1;
        QTest::newRow("unknown element")
            << "<ReportBand name=\"summary\" type=\"ReportSummary\" height=\"30\">"
            << "<ReportBnd/><ReportBand name=\"summary\" type=\"ReportSummary\" height=\"30\">"
            << data << 17 << "error"
            << "unknown element <ReportBnd> in <Report>, ignored; did you "
               "mean <ReportBand>?"
            << 1;
        QTest::newRow("unknown field")
            << "value=\"[name]\""
            << "value=\"[nmae]\"" << data << 12 << "error"
            << "[nmae] is in neither the data file nor a data source of the page, and prints "
               "empty; did you mean [name]?"
            << 1;
        QTest::newRow("field without data file")
            << "value=\"[name]\""
            << "value=\"[name]\"" << QStringList() << 12 << "warning"
            << "[name] comes from no data source of the template" << 0;
        QTest::newRow("field without data file, strict")
            << "value=\"[name]\""
            << "value=\"[name]\"" << QStringList { "--strict" } << 12 << "error"
            << "[name] comes from no data source of the template" << 1;
        QTest::newRow("formula syntax error")
            << "* 100) / 100&gt;"
            << "* 100) / &gt;" << data << 14 << "error"
            << "formula \"Round(0 * 0 * 100) /\" does not compile: syntax error at column" << 1;
        QTest::newRow("unknown function")
            << "&lt;Round("
            << "&lt;Rund(" << data << 14 << "error"
            << "formula calls Rund(), which does not exist; did you mean \"Round\"?" << 1;
        QTest::newRow("printing condition") << "printing=\"[qty] &gt; 0\""
                                            << "printing=\"[qty] &gt;\"" << data << 13 << "error"
                                            << "printing condition \"0 >\" does not compile" << 1;
        QTest::newRow("highlighting aspect") << "backgroundColor=?"
                                             << "bakgroundColor=?" << data << 14 << "error"
                                             << "did you mean \"backgroundColor\"?" << 1;
        QTest::newRow("highlighting condition")
            << "highlighting=\"[qty] &gt; 5;"
            << "highlighting=\"[qty] &gt;&gt; ;" << data << 14 << "error"
            << "highlighting condition \"0 >>\" does not compile" << 1;
        QTest::newRow("aggregate of a product")
            << "SUM([price])"
            << "SUM([qty]*[price])" << data << 18 << "error"
            << "SUM([qty]*[price]) adds up one data variable only and prints 0 here" << 1;
        QTest::newRow("aggregate of nothing collected")
            << "SUM([price])"
            << "SUM([number])" << data << 18 << "error"
            << "SUM([number]) has nothing to add up: no label of a MasterData band shows [number]"
            << 1;
        QTest::newRow("image as a file path")
            << "picture=\"@LOGO@\""
            << "picture=\"logo.png\"" << data << 9 << "error"
            << "picture of \"logo\" names the file logo.png, which is not read (cannot read " << 1;
        QTest::newRow("image that does not decode")
            << "picture=\"@LOGO@\""
            << "picture=\"AAAAAAAA\"" << data << 9 << "error"
            << "picture of \"logo\" does not decode as a PNG image" << 1;
        QTest::newRow("field past the page")
            << "left=\"650\" top=\"0\" width=\"150\""
            << "left=\"650\" top=\"0\" width=\"250\"" << data << 15 << "error"
            << "field \"price\" reaches past the page: its right edge is at 900, the page has 800 "
               "units between its margins"
            << 1;
        QTest::newRow("overlapping fields")
            << "left=\"650\" top=\"0\""
            << "left=\"600\" top=\"0\"" << data << 15 << "warning"
            << "field \"price\" overlaps field \"amount\" (line 14)" << 0;
        QTest::newRow("overlapping fields, strict")
            << "left=\"650\" top=\"0\""
            << "left=\"600\" top=\"0\"" << (data + QStringList { "--strict" }) << 15 << "error"
            << "field \"price\" overlaps field \"amount\"" << 1;
        QTest::newRow("global script syntax error") << "return text + \" EUR\"; }"
                                                    << "return text + ; }" << data << 4 << "error"
                                                    << "global script does not compile" << 1;
        QTest::newRow("hook of no field")
            << "function totalAfterData"
            << "function totlAfterData" << data << 4 << "warning"
            << "totlAfterData is never called: no field is named \"totl\"; did you mean \"total\"?"
            << 0;
        QTest::newRow("misspelled field type")
            << "name=\"caption\" type=\"label\""
            << "name=\"caption\" type=\"lable\"" << data << 8 << "warning"
            << "unknown field type \"lable\" prints as a label; did you mean \"label\"?" << 0;
        QTest::newRow("barcode value the symbology cannot hold")
            << "type=\"image\" picture=\"@LOGO@\""
            << "type=\"barcode\" barcodeType=\"13\" value=\"ABC\"" << data << 9 << "error"
            << "barcode \"logo\" cannot encode \"ABC\"" << 1;
        QTest::newRow("barcode type libzint does not know")
            << "type=\"image\" picture=\"@LOGO@\""
            << "type=\"barcode\" barcodeType=\"999\" value=\"1\"" << data << 9 << "error"
            << "barcodeType 999 is no libzint symbology" << 1;
    }
    void mistakesAreNamedWithTheirLine()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QStringList, options);
        QFETCH(int, line);
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QFETCH(int, exitCode);
        const QString logo = logoBase64();
        before.replace(QLatin1String("@LOGO@"), logo);
        const QString clean = invoice();
        QVERIFY2(clean.contains(before), qPrintable(before));
        QString text = clean;
        text.replace(before, after);
        const QString file = m_dir.filePath(QStringLiteral("mistake.xml"));
        QVERIFY(writeFile(file, text));
        options.replaceInStrings(QStringLiteral("@DATA@"), m_data);
        const Run r = rptrender(QStringList { QStringLiteral("--check"), file } + options);
        QCOMPARE(r.err, QString());
        QCOMPARE(r.exitCode, exitCode);
        const QRegularExpression finding(QStringLiteral("^%1:(\\d+):(\\d+): (error|warning): (.*)$")
                                             .arg(QRegularExpression::escape(file)));
        bool found = false;
        for (const QString &l : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch m = finding.match(l);
            QVERIFY2(m.hasMatch(), qPrintable(l));
            QVERIFY(m.captured(2).toInt() >= 1);
            if (m.captured(4).contains(message)) {
                QCOMPARE(m.captured(1).toInt(), line);
                QCOMPARE(m.captured(3), kind);
                found = true;
            }
        }
        QVERIFY2(found, qPrintable(r.out));
    }

    // An attribute the loader reads and the checker does not know would be
    // reported as a mistake in a correct template: every attribute name in
    // the engine's sources must be in the checker's tables.
    void knownAttributesCoverTheLoader()
    {
        QSet<QString> known;
        for (const char *element : { "Reports", "Report", "ReportBand", "TContainerField", "Column",
                 "Series", "DataSource", "Row" }) {
            const QStringList names = RptTemplateCheck::knownAttributes(QLatin1String(element));
            QVERIFY2(!names.isEmpty(), element);
            for (const QString &n : names)
                known.insert(n);
        }
        const QRegularExpression read(QStringLiteral(
            "(?:attribute|hasAttribute)\\(\\s*QStringLiteral\\(\"([A-Za-z_]+)\"\\)"));
        QDirIterator it(QStringLiteral(RPT_TEST_SOURCE_DIR "/report"), { QStringLiteral("*.cpp") },
            QDir::Files, QDirIterator::Subdirectories);
        int seen = 0;
        while (it.hasNext()) {
            QFile f(it.next());
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QString source = QString::fromUtf8(f.readAll());
            QRegularExpressionMatchIterator m = read.globalMatch(source);
            while (m.hasNext()) {
                const QString name = m.next().captured(1);
                ++seen;
                QVERIFY2(
                    known.contains(name), qPrintable(f.fileName() + QLatin1String(": ") + name));
            }
        }
        // The sources were really read.
        QVERIFY(seen > 60);
    }

    // Band types the checker accepts load as printed bands, and a near miss
    // does not.
    void bandTypesAreTheLoaders_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("printed");
        for (const char *t : { "PageHeader", "ReportTitle", "MasterHeader", "DataGroupHeader",
                 "MasterData", "DataGroupFooter", "MasterFooter", "ReportSummary", "PageFooter" })
            QTest::newRow(t) << QString::fromLatin1(t) << true;
        QTest::newRow("MasterDta") << "MasterDta" << false;
        QTest::newRow("masterdata") << "masterdata" << false;
    }
    void bandTypesAreTheLoaders()
    {
        QFETCH(QString, type);
        QFETCH(bool, printed);
        const QString xml = QStringLiteral(
            "<Reports><Report pageWidth=\"840\" pageHeight=\"1188\"><ReportBand name=\"b\" "
            "type=\"%1\" height=\"20\"/></Report></Reports>")
                                .arg(type);
        QDomDocument doc;
        QVERIFY(doc.setContent(xml));
        RptEngine engine;
        QVERIFY(engine.loadReport(doc));
        QCOMPARE(engine.pageList.first()->bands.first()->type != RptName::Undefined, printed);
        RptTemplateCheck checker;
        checker.checkText(xml);
        QCOMPARE(checker.errorCount() == 0, printed);
    }

    // Every example template of the reference is clean, and prints what the
    // reference's "prints" block after it says: each line of the block is a
    // line of the printed text, in that order.
    void referenceExamples_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("expected");
        QFile reference(QStringLiteral(RPT_TEST_SOURCE_DIR "/docs/templates.md"));
        QVERIFY(reference.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(reference.readAll());
        static const QRegularExpression block(QStringLiteral("```prints (\\w+)\n(.*?)```"),
            QRegularExpression::DotMatchesEverythingOption);
        QRegularExpressionMatchIterator it = block.globalMatch(text);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            QTest::newRow(qPrintable(m.captured(1)))
                << m.captured(1) << RptOut::textLines(m.captured(2));
        }
    }
    void referenceExamples()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, expected);
        QVERIFY(!expected.isEmpty());
        const QString dir = QStringLiteral(RPT_TEST_SOURCE_DIR "/docs/templates/");
        const QString xml = dir + name + QStringLiteral(".xml");
        QVERIFY2(QFile::exists(xml), qPrintable(xml));
        QVERIFY2(QFile::exists(dir + name + QStringLiteral(".png")), "make-pngs was not run");
        QStringList data;
        if (QFile::exists(dir + name + QStringLiteral(".json")))
            data << QStringLiteral("--data") << dir + name + QStringLiteral(".json");
        const Run check = rptrender(
            QStringList { QStringLiteral("--check"), QStringLiteral("--strict"), xml } + data);
        QCOMPARE(check.out, QString());
        QCOMPARE(check.exitCode, 0);
        const QString pdf = m_dir.filePath(name + QStringLiteral(".pdf"));
        QCOMPARE(rptrender(QStringList { xml, pdf } + data).exitCode, 0);
        const QStringList printed = RptOut::textLines(RptOut::pdfText(pdf));
        int at = 0;
        for (const QString &line : qAsConst(expected)) {
            const int found = printed.indexOf(line, at);
            QVERIFY2(found >= 0,
                qPrintable(QStringLiteral("\"%1\" not printed after line %2 of:\n%3")
                               .arg(line)
                               .arg(at)
                               .arg(printed.join(QLatin1Char('\n')))));
            at = found + 1;
        }
    }

    // The order templates were written with the designer: its attributes,
    // its pictures, the highlighting with <LineNo>, the printing conditions.
    // Given the names the caller answers, nothing in them is an error.
    void orderTemplatesHaveNoErrors_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("by branches")
            << QStringLiteral(RPT_TEST_SOURCE_DIR "/catering/reports/menureportbybranches.xml");
        QTest::newRow("plain") << QStringLiteral(
            RPT_TEST_SOURCE_DIR "/catering/reports/menureport.xml");
    }
    void orderTemplatesHaveNoErrors()
    {
        QFETCH(QString, file);
        const QString data = m_dir.filePath(QStringLiteral("order.json"));
        QVERIFY(writeFile(data,
            QStringLiteral(R"({"records": [{"name": "Soup", "quant": 3, "branchName": "Nitra"}],
                                "values": {"header": "Order", "strPager": "", "grouping": ""}})")));
        const Run r
            = rptrender({ QStringLiteral("--check"), file, QStringLiteral("--data"), data });
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(!r.out.contains(QLatin1String(": error: ")), qPrintable(r.out));
        // Its overlapping footer texts are still named.
        QVERIFY2(
            r.out.contains(QLatin1String(": warning: field \"field2\" overlaps field \"field1\"")),
            qPrintable(r.out));
    }

    void everyExampleIsInTheReference()
    {
        QFile reference(QStringLiteral(RPT_TEST_SOURCE_DIR "/docs/templates.md"));
        QVERIFY(reference.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(reference.readAll());
        const QStringList examples = QDir(QStringLiteral(RPT_TEST_SOURCE_DIR "/docs/templates"))
                                         .entryList({ QStringLiteral("*.xml") }, QDir::Files);
        QVERIFY(examples.size() >= 10);
        for (const QString &file : examples) {
            const QString name = QFileInfo(file).completeBaseName();
            QVERIFY2(text.contains(QStringLiteral("```prints %1\n").arg(name)), qPrintable(name));
            QVERIFY2(
                text.contains(QStringLiteral("](templates/%1.png)").arg(name)), qPrintable(name));
        }
    }

    // Cut and damaged templates: every finding stays inside the text, a
    // cut one is always malformed, and nothing brings the checker down.
    void damagedTemplatesAreReportedNotCrashed()
    {
        const QString clean = invoice();
        const int lines = clean.count(QLatin1Char('\n')) + 1;
        const auto inside = [&](const RptTemplateCheck &checker) {
            for (const RptCheckFinding &f : checker.findings()) {
                if (f.line < 1 || f.line > lines || f.column < 1)
                    return false;
            }
            return true;
        };
        for (int cut = 0; cut < clean.size() - 12; cut += 7) {
            RptTemplateCheck checker;
            checker.checkText(clean.left(cut));
            QVERIFY2(inside(checker), qPrintable(QString::number(cut)));
            if (cut > 0) {
                QVERIFY2(checker.errorCount() > 0, qPrintable(QString::number(cut)));
                QVERIFY(
                    checker.findings().first().message.startsWith(QLatin1String("malformed XML")));
            }
        }
        quint32 seed = 25;
        const QString noise = QStringLiteral("<>&\"'[]=;/ aZ\n\u00e9");
        for (int round = 0; round < 300; ++round) {
            QString text = clean;
            for (int k = 0; k < 3; ++k) {
                seed = seed * 1103515245u + 12345u;
                const int at = int((seed >> 8) % quint32(text.size()));
                text[at] = noise.at(int((seed >> 20) % quint32(noise.size())));
            }
            RptTemplateCheck checker;
            checker.checkText(text);
            QVERIFY2(inside(checker), qPrintable(text));
        }
    }

    void nearestNamesOnlyForLikelyMisspellings_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("nearest");
        QTest::newRow("one letter") << "fontSise"
                                    << "fontSize";
        QTest::newRow("case") << "fontsize"
                              << "fontSize";
        QTest::newRow("missing letter") << "heigt"
                                        << "height";
        QTest::newRow("unrelated") << "colour"
                                   << "";
        QTest::newRow("too short to guess") << "x"
                                            << "";
    }
    void nearestNamesOnlyForLikelyMisspellings()
    {
        QFETCH(QString, name);
        QFETCH(QString, nearest);
        QCOMPARE(RptTemplateCheck::nearest(
                     name, RptTemplateCheck::knownAttributes(QStringLiteral("TContainerField"))),
            nearest);
    }
};

YXA_TEST_CLASS(TemplateCheckTest)

#include "tst_templatecheck.moc"
