// The report functions offered to every expression, error reporting, the
// global script and its per-field hooks.
#include "logcapture.h"
#include "rptbandobject.h"
#include "rptengine.h"
#include "rptfieldobject.h"
#include "rptpageobject.h"
#include "rptscriptengine.h"
#include "rpttestcaller.h"
#include "rpttestutil.h"
#include "testmain.h"

#include <QColor>
#include <QTest>

using namespace RptTest;

namespace {

QString scripted(const QString &script, const QString &bands)
{
    return QStringLiteral(
        "<Reports lib=\"RptEngine\"><Script><![CDATA[%1]]></Script><Report>%2</Report>"
        "<Report><ReportBand type=\"ReportTitle\"/></Report></Reports>")
        .arg(script, bands);
}

const QString kBand
    = QStringLiteral("<ReportBand type=\"MasterData\">"
                     "<TContainerField name=\"fund\" value=\"[quant]\" width=\"201\"/>"
                     "<TContainerField name=\"other\" value=\"x\"/></ReportBand>");

} // namespace

class ScriptEngineTest : public QObject
{
    Q_OBJECT

private slots:
    void functions_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("result");
        QTest::newRow("Round half up") << "Round(2.5)"
                                       << "3";
        QTest::newRow("Round negative half") << "Round(-2.5)"
                                             << "-3";
        QTest::newRow("Round text") << "Round('7.49')"
                                    << "7";
        QTest::newRow("Floor negative") << "Floor(-1.2)"
                                        << "-2";
        QTest::newRow("Round beyond int") << "Round(12345678901.5)"
                                          << "12345678902";
        QTest::newRow("Round not a number") << "Round('abc')"
                                            << "0";
        QTest::newRow("Frac whole") << "Frac(3)"
                                    << "0";
        QTest::newRow("Floor is a whole number") << "typeof Floor(1.5) + Floor(1.5) * 2"
                                                 << "number2";
        QTest::newRow("Ceil") << "Ceil(1.2)"
                              << "2";
        QTest::newRow("Frac") << "Frac(12.345)"
                              << "35";
        QTest::newRow("Frac negative") << "Frac(-1.25)"
                                       << "75";
        QTest::newRow("Replace") << "Replace('a-b-c', '-', '+')"
                                 << "a+b+c";
        QTest::newRow("Replace case-sensitive") << "Replace('aAa', 'a', 'x')"
                                                << "xAx";
        QTest::newRow("ToUpper") << "ToUpper('Čaj s citrónom')"
                                 << "ČAJ S CITRÓNOM";
        QTest::newRow("ToLower") << "ToLower('ŽEMĽA')"
                                 << "žemľa";
        QTest::newRow("NumberToWords English") << "NumberToWords('ENG', 1234)"
                                               << "one thousand two hundred thirty-four";
        QTest::newRow("NumberToWords unknown language") << "NumberToWords('XX', 21)"
                                                        << "twenty-one";
        QTest::newRow("NumberToWords German") << "NumberToWords('GER', 21)"
                                              << "einundzwanzig";
        QTest::newRow("NumberToWords Belgian") << "NumberToWords('FR_BE', 71)"
                                               << "septante et un";
        QTest::newRow("NumberToWords Ukrainian") << "NumberToWords('UKR', 2.01)"
                                                 << "дві гривні одна копійка";
        QTest::newRow("NumberToWords German decimals") << "NumberToWords('GER', 21.5)"
                                                       << "einundzwanzig komma fünfzig";
        QTest::newRow("NumberToWords Spanish") << "NumberToWords('ESP', 21.5)"
                                               << "veintiuno con cincuenta";
        QTest::newRow("NumberToWords French") << "NumberToWords('FR_FR', 71)"
                                              << "soixante et onze";
        QTest::newRow("NumberToWords Swiss") << "NumberToWords('FR_CH', 80)"
                                             << "huitante";
        QTest::newRow("NumberToWords Italian") << "NumberToWords('ITA', 23)"
                                               << "ventitré";
        QTest::newRow("NumberToWords Arabic") << "NumberToWords('AR', 3)"
                                              << "ثلاثة";
        QTest::newRow("NumberToWords Turkish") << "NumberToWords('TR', 5.5)"
                                               << "beş#TL#elli#KRŞ";
        QTest::newRow("NumberToWords lower-case code is not a code") << "NumberToWords('ger', 21)"
                                                                     << "twenty-one";
        QTest::newRow("NumberToWords text number") << "NumberToWords('ENG', '105')"
                                                   << "one hundred five";
        QTest::newRow("debug") << "debug('note') + 'x'"
                               << "x";
    }
    void functions()
    {
        QFETCH(QString, expression);
        QFETCH(QString, result);
        RptEngine engine;
        QCOMPARE(engine.evaluateExpression(expression).toString(), result);
    }

    void colorFunction()
    {
        RptEngine engine;
        const QScriptValue v
            = engine.scriptEngine()->evaluate(QStringLiteral("QColor(10, 20, 30)"));
        const QColor c = v.toVariant().value<QColor>();
        QCOMPARE(c, QColor(10, 20, 30, 255));
    }

    void debugWritesTheValue()
    {
        RptEngine engine;
        LogCapture log;
        engine.evaluateExpression(QStringLiteral("debug('Hello ' + 42)"));
        QVERIFY(log.contains(QStringLiteral("Hello 42")));
    }

    void syntaxErrorFlowsOn()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, page(kBand)));
        prepareRun(engine);
        LogCapture log;
        const QString text = engine.sectionField(
            engine.pageList.first()->bands.first(), QStringLiteral("a <1 +* 2> b"), false);
        QCOMPARE(text, QStringLiteral("a SyntaxError: Parse error b"));
        QVERIFY(log.contains(QStringLiteral("formulaStr: 1 +* 2")));
        QVERIFY(log.contains(
            QStringLiteral("uncaught exception at line 1 : SyntaxError: Parse error")));
        // The next expression is not disturbed by the failed one.
        QCOMPARE(engine.evaluateExpression(QStringLiteral("1 + 1")).toInt32(), 2);
    }

    void runtimeErrorFlowsOn()
    {
        RptEngine engine;
        LogCapture log;
        QCOMPARE(engine.evaluateExpression(QStringLiteral("\n\nnoSuchThing()")).toString(),
            QStringLiteral("ReferenceError: Can't find variable: noSuchThing"));
        QVERIFY(log.contains(QStringLiteral("uncaught exception at line 3 : ReferenceError")));
    }

    void engineExposed()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, scripted(QString(), kBand)));
        QCOMPARE(engine.evaluateExpression(QStringLiteral("typeof RptEngine")).toString(),
            QStringLiteral("object"));
        engine.processGlobalScript();
        QCOMPARE(
            engine.scriptEngine()->evaluate(QStringLiteral("RptEngine.pageList.length")).toInt32(),
            2);
        QCOMPARE(
            engine.evaluateExpression(QStringLiteral("RptEngine.pageList.length")).toInt32(), 2);
    }

    void globalScriptHidesPage()
    {
        RptEngine engine;
        QVERIFY(loadXml(
            engine, scripted(QStringLiteral("RptEngine.pageList[1].setVisible(false);"), kBand)));
        prepareRun(engine);
        QVERIFY(engine.pageList.at(1)->isVisible());
        engine.processGlobalScript();
        QVERIFY(engine.pageList.first()->isVisible());
        QVERIFY(!engine.pageList.at(1)->isVisible());
    }

    void afterDataChangesText()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            scripted(QStringLiteral("function fundAfterData(text) { return '#' + text + '#'; }"),
                kBand)));
        RptTestCaller caller(&engine);
        caller.recCount = 2;
        caller.columns.insert(QStringLiteral("quant"), { 3, 4 });
        prepareRun(engine);
        engine.processGlobalScript();
        RptBandObject *band = engine.pageList.first()->bands.first();
        RptFieldObject *fund = band->fields.at(0);
        RptFieldObject *other = band->fields.at(1);
        for (int rec = 0; rec < 2; ++rec) {
            engine.setRecNo(rec);
            const QString text
                = engine.sectionField(band, fund->value, false, false, fund->formatString);
            QCOMPARE(engine.callAfterData(fund, text), QStringLiteral("#%1#").arg(rec + 3));
        }
        QCOMPARE(engine.callAfterData(other, QStringLiteral("x")), QStringLiteral("x"));
    }

    void afterDataUndefinedKeepsText()
    {
        RptEngine engine;
        QVERIFY(
            loadXml(engine, scripted(QStringLiteral("function fundAfterData(text) { }"), kBand)));
        prepareRun(engine);
        engine.processGlobalScript();
        RptFieldObject *fund
            = engine.pageList.first()->findFieldObjectByName(QStringLiteral("fund"));
        QCOMPARE(engine.callAfterData(fund, QStringLiteral("7")), QStringLiteral("7"));
    }

    void beforeDataSeesField()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            scripted(QStringLiteral("function fundBeforeData() {"
                                    "  if (fund.recNo() == 1) fund.setVisible(false);"
                                    "  fund.setWidth(fund.getWidth() + 1); }"),
                kBand)));
        prepareRun(engine);
        engine.processGlobalScript();
        RptFieldObject *fund
            = engine.pageList.first()->findFieldObjectByName(QStringLiteral("fund"));
        fund->setRecNo(0);
        QVERIFY(engine.callBeforeData(fund));
        QCOMPARE(fund->getWidth(), 202);
        fund->setRecNo(1);
        QVERIFY(!engine.callBeforeData(fund));
        QVERIFY(engine.callBeforeData(
            engine.pageList.first()->findFieldObjectByName(QStringLiteral("other"))));
    }

    void globalScriptGetsVariablesAndRunsOncePerRun()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            scripted(QStringLiteral("var company = '[company]'; var page = <Page>;"
                                    "function otherAfterData(t) { return company + page; }"),
                kBand)));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        caller.columns.insert(QStringLiteral("company"), { QStringLiteral("Kuchyňa") });
        prepareRun(engine);
        engine.processGlobalScript();
        RptFieldObject *other
            = engine.pageList.first()->findFieldObjectByName(QStringLiteral("other"));
        QCOMPARE(engine.callAfterData(other, QStringLiteral("x")), QStringLiteral("Kuchyňa1"));
        // The next run's fields are registered under the same names.
        prepareRun(engine);
        engine.processGlobalScript();
        RptFieldObject *again
            = engine.pageList.first()->findFieldObjectByName(QStringLiteral("other"));
        QVERIFY(again != nullptr);
        again->setValue(QStringLiteral("changed"));
        QCOMPARE(engine.scriptEngine()->evaluate(QStringLiteral("other.value")).toString(),
            QStringLiteral("changed"));
    }

    // A data value reaches the global script as a value, quoted by the
    // template or not.
    void globalScriptTakesDataAsData_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("company");
        QTest::newRow("quoted, apostrophe") << "var who = '[company]';"
                                            << "O'Brien";
        QTest::newRow("quoted, code") << "var who = '[company]';"
                                      << "x' + (RptEngine.pageList[0].setVisible(false)) + '";
        QTest::newRow("bare, code") << "var who = [company];"
                                    << "RptEngine.pageList[0].setVisible(false)";
        QTest::newRow("line break and backslash") << "var who = \"[company]\";"
                                                  << "a\\\"\nb";
        QTest::newRow("in a comment") << "// [company]\nvar who = 'ok';"
                                      << "\nRptEngine.pageList[0].setVisible(false);";
    }
    void globalScriptTakesDataAsData()
    {
        QFETCH(QString, script);
        QFETCH(QString, company);
        RptEngine engine;
        QVERIFY(loadXml(engine,
            scripted(
                script + QStringLiteral(" function otherAfterData(t) { return who; }"), kBand)));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        caller.columns.insert(QStringLiteral("company"), { company });
        prepareRun(engine);
        engine.processGlobalScript();
        RptFieldObject *other
            = engine.pageList.first()->findFieldObjectByName(QStringLiteral("other"));
        const bool comment = script.startsWith(QLatin1String("//"));
        QCOMPARE(engine.callAfterData(other, QStringLiteral("x")),
            comment ? QStringLiteral("ok") : company);
        QVERIFY(engine.pageList.first()->isVisible());
    }

    // The functions of one template never act on the next one loaded.
    void reloadStartsWithCleanScriptEngine()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            scripted(
                QStringLiteral("function fundAfterData(t) { return 'A'; } var left = 1;"), kBand)));
        prepareRun(engine);
        engine.processGlobalScript();
        RptFieldObject *fund
            = engine.pageList.first()->findFieldObjectByName(QStringLiteral("fund"));
        QCOMPARE(engine.callAfterData(fund, QStringLiteral("x")), QStringLiteral("A"));

        QVERIFY(loadXml(engine, scripted(QStringLiteral("var b = 2;"), kBand)));
        prepareRun(engine);
        engine.processGlobalScript();
        fund = engine.pageList.first()->findFieldObjectByName(QStringLiteral("fund"));
        QCOMPARE(engine.callAfterData(fund, QStringLiteral("x")), QStringLiteral("x"));
        QCOMPARE(engine.scriptEngine()->evaluate(QStringLiteral("typeof left")).toString(),
            QStringLiteral("undefined"));
        QCOMPARE(engine.scriptEngine()->evaluate(QStringLiteral("b")).toInt32(), 2);
    }

    void formulasDoNotSeeTheGlobalScript()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, scripted(QStringLiteral("var secret = 1;"), kBand)));
        prepareRun(engine);
        engine.processGlobalScript();
        QCOMPARE(engine.evaluateExpression(QStringLiteral("typeof secret")).toString(),
            QStringLiteral("undefined"));
        QCOMPARE(engine.evaluateExpression(QStringLiteral("typeof fund")).toString(),
            QStringLiteral("undefined"));
    }

    void addObjectUsesObjectName()
    {
        RptScriptEngine script;
        QObject named;
        named.setObjectName(QStringLiteral("thing"));
        named.setProperty("answer", 42);
        script.addObject(&named);
        QCOMPARE(script.evaluate(QStringLiteral("thing.answer")).toInt32(), 42);
    }
};

YXA_TEST_CLASS(ScriptEngineTest)
#include "tst_scripts.moc"
