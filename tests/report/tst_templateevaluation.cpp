// A whole template evaluated field by field the way the layout drives the
// engine: every row of the master data, the group footers and the summary.
#include "rptbandobject.h"
#include "rptcolor.h"
#include "rptengine.h"
#include "rptfieldobject.h"
#include "rptpageobject.h"
#include "rpttestcaller.h"
#include "rpttestutil.h"
#include "testmain.h"

#include <QDate>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace RptTest;

namespace {

struct Printed
{
    bool visible = false;
    QString text;
    QString background;
    QString fontColor;
    bool bold = false;
};

// Evaluates one band row as the drawing pass does for labels: remember the
// record, highlight, check the printing condition, run the hooks, evaluate.
void printBand(RptEngine &engine, RptBandObject *band, const QString &suffix,
    QHash<QString, Printed> &out, bool collect)
{
    for (RptFieldObject *f : qAsConst(band->fields)) {
        Printed p;
        f->setRecNo(engine.recNo());
        f->setReportPage(engine.curPage());
        engine.applyHighlighting(f);
        p.visible = engine.isFieldVisible(f) && engine.callBeforeData(f);
        if (p.visible) {
            p.text = engine.callAfterData(
                f, engine.sectionField(band, f->value, false, collect, f->formatString));
        }
        p.background = f->backgroundColor.isValid() ? colorToString(f->backgroundColor) : QString();
        p.fontColor = f->fontColor.isValid() ? colorToString(f->fontColor) : QString();
        p.bold = f->font.weight() > 57;
        out.insert(f->objectName() + suffix, p);
    }
}

QHash<QString, Printed> runEvaluationTemplate()
{
    QHash<QString, Printed> out;
    RptEngine engine;
    if (!engine.loadReport(dataPath(QStringLiteral("evaluation.xml"))))
        return out;
    RptTestCaller caller(&engine);
    caller.columns.insert(QStringLiteral("company"), { QStringLiteral("Kuchyňa") });
    prepareRun(engine);
    engine.setTotalPages(1);
    engine.processGlobalScript();
    RptPageObject *p = engine.pageList.first();
    RptBandObject *rows = p->getBand(RptName::MasterData);
    const int count = engine.getRecCount(0, rows->dataSourceName);
    printBand(engine, p->getBand(RptName::ReportTitle), QString(), out, false);
    for (int i = 0; i < count; ++i) {
        engine.setRecNo(i);
        engine.setLineCounter(i + 1);
        printBand(engine, rows, QStringLiteral("@%1").arg(i), out, true);
    }
    // Groups by category: A holds records 0 and 2, B record 1.
    const QList<QList<int>> groups { { 0, 2 }, { 1 } };
    for (int g = 0; g < groups.size(); ++g) {
        engine.groupIdxList(0) = groups.at(g);
        engine.setRecNo(groups.at(g).last());
        printBand(engine, p->getBand(RptName::DataGroupFooter), QStringLiteral("@g%1").arg(g), out,
            false);
    }
    engine.clearGroupLists();
    printBand(engine, p->getBand(RptName::ReportSummary), QString(), out, false);
    printBand(engine, p->getBand(RptName::PageFooter), QString(), out, false);
    return out;
}

} // namespace

class TemplateEvaluationTest : public QObject
{
    Q_OBJECT

private slots:
    void fieldByField_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QString>("text");
        const QString today = QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
        QTest::newRow("heading") << "heading" << true << "Objednávka – Kuchyňa";
        QTest::newRow("today") << "today" << true << today;
        QTest::newRow("food 0") << "food@0" << true << "Soup";
        QTest::newRow("food 1 keeps its brackets") << "food@1" << true << "Tofu <vegan>";
        QTest::newRow("food 2 hidden by its BeforeData") << "food@2" << false << "";
        QTest::newRow("qty 2") << "qty@2" << true << "5";
        QTest::newRow("price 0") << "price@0" << true << "1.50";
        QTest::newRow("price 1") << "price@1" << true << "2.25";
        QTest::newRow("line 0") << "line@0" << true << "1. SOUP";
        QTest::newRow("line 1") << "line@1" << true << "2. TOFU <VEGAN>";
        QTest::newRow("cost 1") << "cost@1" << true << "6,75";
        QTest::newRow("cost 2") << "cost@2" << true << "20,00";
        QTest::newRow("level 0") << "level@0" << true << "few";
        QTest::newRow("level 1") << "level@1" << true << "many";
        QTest::newRow("warn 0 not printed") << "warn@0" << false << "";
        QTest::newRow("warn 2") << "warn@2" << true << "5!";
        QTest::newRow("group A") << "groupSum@g0" << true << "Σ 7";
        QTest::newRow("group B") << "groupSum@g1" << true << "Σ 3";
        QTest::newRow("total with AfterData") << "total" << true << "10 ks";
        QTest::newRow("average") << "average" << true << "2.58";
        QTest::newRow("count") << "count" << true << "3";
        QTest::newRow("range") << "range" << true << "1.5 – 4";
        QTest::newRow("words") << "words" << true << "ten";
        QTest::newRow("line count") << "lines" << true << "3 lines";
        QTest::newRow("pager without strPager") << "pager" << true << " 1 / 1";
    }
    void fieldByField()
    {
        QFETCH(QString, field);
        QFETCH(bool, visible);
        QFETCH(QString, text);
        const QHash<QString, Printed> printed = runEvaluationTemplate();
        QVERIFY2(printed.contains(field), qPrintable(field));
        QCOMPARE(printed.value(field).visible, visible);
        QCOMPARE(printed.value(field).text, text);
    }

    void highlighting_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("background");
        QTest::addColumn<QString>("fontColor");
        QTest::addColumn<bool>("bold");
        QTest::newRow("shade 0") << "shade@0"
                                 << "rgba(255,255,255,255)"
                                 << "rgba(0,0,0,255)" << false;
        QTest::newRow("shade 1") << "shade@1"
                                 << "rgba(235,235,235,255)"
                                 << "rgba(0,0,0,255)" << false;
        QTest::newRow("shade 2") << "shade@2"
                                 << "rgba(255,255,255,255)"
                                 << "rgba(0,0,0,255)" << false;
        QTest::newRow("warn 1") << "warn@1"
                                << "rgba(255,255,255,0)"
                                << "rgba(0,0,0,255)" << false;
        QTest::newRow("warn 2") << "warn@2"
                                << "rgba(255,255,255,0)"
                                << "rgba(255,0,0,255)" << true;
        QTest::newRow("no rules, no colours") << "food@0"
                                              << ""
                                              << "" << false;
    }
    void highlighting()
    {
        QFETCH(QString, field);
        QFETCH(QString, background);
        QFETCH(QString, fontColor);
        QFETCH(bool, bold);
        const QHash<QString, Printed> printed = runEvaluationTemplate();
        QVERIFY2(printed.contains(field), qPrintable(field));
        QCOMPARE(printed.value(field).background, background);
        QCOMPARE(printed.value(field).fontColor, fontColor);
        QCOMPARE(printed.value(field).bold, bold);
    }

    // The built-in order template as the catering worker feeds it: it
    // answers name, quant, header and branchName, never strPager or grouping.
    void orderTemplate()
    {
        const QString path
            = QStringLiteral(RPT_TEST_SOURCE_DIR "/catering/reports/menureportbybranches.xml");
        if (!QFile::exists(path))
            QSKIP("the catering order template is not in this tree");
        RptEngine engine;
        QVERIFY(engine.loadReport(path));
        RptTestCaller caller(&engine);
        caller.recCount = 3;
        caller.columns.insert(QStringLiteral("name"),
            { QStringLiteral("Polievka"), QStringLiteral("Guláš"), QStringLiteral("Šalát") });
        caller.columns.insert(QStringLiteral("quant"), { 3, 2, 1 });
        caller.columns.insert(QStringLiteral("branchName"),
            { QStringLiteral("Sever"), QStringLiteral("Juh"), QStringLiteral("Sever") });
        prepareRun(engine);
        QCOMPARE(caller.announced.size(), 1);
        QCOMPARE(engine.getRecCount(0, 1), 3);
        engine.setPageNo(3);
        engine.setTotalPages(3);
        RptPageObject *p = engine.pageList.first();
        RptBandObject *footer = p->getBand(RptName::PageFooter);
        QVERIFY(footer);
        QCOMPARE(engine.sectionField(footer, footer->fields.first()->value, false),
            QStringLiteral(" 3 / 3"));

        RptBandObject *rows = p->getBand(RptName::MasterData);
        RptFieldObject *bgColor = p->findFieldObjectByName(QStringLiteral("bgColor"));
        RptFieldObject *fund = p->findFieldObjectByName(QStringLiteral("fund"));
        QVERIFY(bgColor && fund);
        QStringList shades;
        for (int i = 0; i < 3; ++i) {
            engine.setRecNo(i);
            QVERIFY(engine.isFieldVisible(bgColor));
            engine.applyHighlighting(bgColor);
            shades << colorToString(bgColor->backgroundColor);
            QCOMPARE(engine.sectionField(rows, fund->value, false, true), QString::number(3 - i));
        }
        QCOMPARE(shades,
            (QStringList {
                "rgba(255,255,255,255)", "rgba(235,235,235,255)", "rgba(255,255,255,255)" }));
        const RptBandObject *groupFooter = p->getBand(RptName::DataGroupFooter, 1, 0);
        QVERIFY(groupFooter);
        QVERIFY(!engine.isFieldVisible(groupFooter->fields.first()));
        RptBandObject *groupHeader = p->getBand(RptName::DataGroupHeader);
        engine.setRecNo(1);
        QCOMPARE(engine.sectionField(groupHeader, groupHeader->fields.first()->value, false),
            QStringLiteral("Juh"));
    }

    // A run's evaluation errors: each distinct one once, at the line and
    // column where its element starts (a start tag over several lines
    // included), the global script's too; a new run starts a new list.
    void evaluationErrorsOfARun()
    {
        const QString xml = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<Reports lib=\"RptEngine\">\n"
            "  <Script><![CDATA[var x = missing + 1;]]></Script>\n"
            "  <Report pageWidth=\"840\" pageHeight=\"1188\">\n"
            "    <ReportBand name=\"rows\" type=\"MasterData\" height=\"30\">\n"
            "      <TContainerField name=\"total\" type=\"label\"\n"
            "          value=\"&lt;[qty] * * 2&gt;\" width=\"200\" height=\"30\"/>\n"
            "      <TContainerField name=\"other\" value=\"[other]\" left=\"300\" width=\"200\"/>\n"
            "    </ReportBand>\n"
            "  </Report>\n"
            "</Reports>\n");
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("errors.xml"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(xml.toUtf8());
        }
        RptEngine engine;
        QVERIFY(engine.loadReport(file));
        RptTestCaller caller(&engine);
        caller.recCount = 5;
        caller.columns.insert(QStringLiteral("qty"), { 1, 2, 3, 4, 5 });
        const QString pdf = dir.filePath(QStringLiteral("errors.pdf"));
        engine.printPDF(pdf);
        // In the order they happened: the labels are evaluated by the
        // layout before the drawing pass runs the global script.
        const auto described = [&engine] {
            QStringList list;
            for (const RptEvaluationError &e : engine.evaluationErrors())
                list << QStringLiteral("%1|%2|%3|%4")
                            .arg(e.field)
                            .arg(e.line)
                            .arg(e.column)
                            .arg(e.message);
            return list;
        };
        const QStringList expected {
            QStringLiteral("total|6|7|SyntaxError: Parse error"),
            QStringLiteral("|3|3|global script: ReferenceError: Can't find variable: missing "
                           "(script line 1)"),
        };
        QCOMPARE(described(), expected);
        QCOMPARE(engine.evaluationErrors().first().text(),
            QStringLiteral("field total: SyntaxError: Parse error"));

        // The unanswered [other] counts only when the caller says its
        // answers are complete.
        engine.setUnansweredVariablesAreErrors(true);
        engine.printPDF(pdf);
        QVERIFY2(described().contains(QStringLiteral(
                     "other|8|7|unknown variable [other]: the data has no value of that name")),
            qPrintable(described().join(QLatin1Char('\n'))));
        QCOMPARE(described().size(), 3);
        // The next run forgets what the last one found.
        engine.setUnansweredVariablesAreErrors(false);
        engine.printPDF(pdf);
        QCOMPARE(described(), expected);
    }
};

YXA_TEST_CLASS(TemplateEvaluationTest)
#include "tst_templateevaluation.moc"
