// The shortcuts of expression evaluation: compiled expressions reused with
// each row's values, constant expressions answered without running, the
// shared script engine used only by expressions that cannot change what
// another one sees, and the index of collected values kept in step with the
// list the layout reads.
#include "rptbandobject.h"
#include "rptengine.h"
#include "rptpageobject.h"
#include "rpttestcaller.h"
#include "rpttestutil.h"
#include "testmain.h"

#include <QTest>

using namespace RptTest;

namespace {

QString masterPage()
{
    return page(QStringLiteral("<ReportBand name=\"md\" type=\"MasterData\"/>"));
}

} // namespace

class EvalPerfTest : public QObject
{
    Q_OBJECT

private slots:
    // Each expression tries to leave the global "leak" behind, in ways a
    // scan for assignments alone would miss; none of them may succeed.
    void lookalikesAreStillSwept_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::newRow("assignment") << "leak = 1";
        QTest::newRow("compound assignment") << "leak = 0, leak |= 1";
        QTest::newRow("increment") << "leak = 0, leak++";
        QTest::newRow("number member") << "1..constructor.constructor('leak = 1')()";
        QTest::newRow("number member, no assignment in sight")
            << "1..constructor.constructor(String.fromCharCode(108,101,97,107,61,49))()";
        QTest::newRow("string index") << "''['constructor']['constructor']('leak = 1')()";
        QTest::newRow("decimal then member") << "1.5.constructor.constructor('leak = 1')()";
        QTest::newRow("unicode escape") << "\\u006ceak = 1";
        QTest::newRow("this") << "this.leak = 1";
    }
    void lookalikesAreStillSwept()
    {
        QFETCH(QString, expression);
        RptEngine engine;
        for (int round = 0; round < 2; ++round) {
            engine.evaluateExpression(expression);
            QCOMPARE(engine.evaluateExpression(QStringLiteral("typeof leak")).toString(),
                QStringLiteral("undefined"));
        }
    }

    // An expression of literals and operators only that fails: its error is
    // turned into text by the built-in toString, whatever an earlier
    // expression put in its place.
    void failingConstantExpressionIsSwept()
    {
        RptEngine engine;
        const QString error = engine.evaluateExpression(QStringLiteral("1 +")).toString();
        engine.evaluateExpression(
            QStringLiteral("Error.prototype.toString = function() { leak = 1; return 'e'; }"));
        QCOMPARE(engine.evaluateExpression(QStringLiteral("1 +")).toString(), error);
        QCOMPARE(engine.evaluateExpression(QStringLiteral("typeof leak")).toString(),
            QStringLiteral("undefined"));
    }

    void constantExpressions_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("result");
        QTest::newRow("one") << "1"
                             << "1";
        QTest::newRow("true") << "true"
                              << "true";
        QTest::newRow("printing condition, shown") << "'0'==0?1:0"
                                                   << "1";
        QTest::newRow("printing condition, hidden") << "'1'==0?1:0"
                                                    << "0";
        QTest::newRow("shading") << "8 % 2 == 0?'#eeeeee':'#ffffff'"
                                 << "#eeeeee";
        QTest::newRow("shading, odd line") << "7 % 2 == 0?'#eeeeee':'#ffffff'"
                                           << "#ffffff";
        QTest::newRow("hex and exponent") << "0x10 + 1e1 + 1.5"
                                          << "27.5";
        QTest::newRow("strict comparison") << "'1' === 1 || null !== null"
                                           << "false";
        QTest::newRow("shifts") << "1 << 3 >> 1 >>> 0"
                                << "4";
    }
    void constantExpressions()
    {
        QFETCH(QString, expression);
        QFETCH(QString, result);
        RptEngine engine;
        // The first answer is computed, the second one remembered.
        QCOMPARE(engine.evaluateExpression(expression).toString(), result);
        QCOMPARE(engine.evaluateExpression(expression).toString(), result);
    }

    // A compiled expression runs in a fresh scope every time: its variables
    // start undefined and its grouping flags are the current call's.
    void compiledExpressionsStartAfresh()
    {
        RptEngine engine;
        const QString counter
            = QStringLiteral("var v = (typeof v == 'undefined' ? 0 : v) + 1; v + ':' + groupLevel");
        QCOMPARE(engine.evaluateExpression(counter, false, 1).toString(), QStringLiteral("1:1"));
        QCOMPARE(engine.evaluateExpression(counter, true, 2).toString(), QStringLiteral("1:2"));
        QCOMPARE(engine.evaluateExpression(QStringLiteral("typeof v")).toString(),
            QStringLiteral("undefined"));
    }

    // More distinct texts than the cache holds: every one still answers.
    void manyDistinctExpressions()
    {
        RptEngine engine;
        for (int i = 0; i < 1500; ++i) {
            const QString text = QStringLiteral("%1 % 2 == 0?'even':'odd'").arg(i);
            QCOMPARE(engine.evaluateExpression(text).toString(),
                i % 2 ? QStringLiteral("odd") : QStringLiteral("even"));
        }
        QCOMPARE(engine.evaluateExpression(QStringLiteral("1 + 1")).toInt32(), 2);
    }

    // Every row runs the same program with its own values; results
    // remembered for one row's values never answer another's.
    void rowsShareOneProgram()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, masterPage()));
        RptTestCaller caller(&engine);
        caller.recCount = 5;
        caller.columns.insert(QStringLiteral("v"),
            { QStringLiteral("1"), QStringLiteral("1a"), QStringLiteral(" 1"), QString(),
                QStringLiteral("1") });
        prepareRun(engine);
        RptBandObject *b = engine.pageList.first()->bands.first();
        const QStringList sums { "2", "1a1", "2", "1", "2" };
        const QStringList texts { "11", "1a1", " 11", "1", "11" };
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < 5; ++i) {
                engine.setRecNo(i);
                QCOMPARE(engine.sectionField(b, QStringLiteral("<[v] + 1>"), false), sums.at(i));
                QCOMPARE(engine.sectionField(b, QStringLiteral("<'[v]' + 1>"), false), texts.at(i));
            }
        }
    }

    // The layout may change the collected list through listOfPair(); the
    // duplicate check and the aggregates follow what is in the list.
    void collectedIndexFollowsTheList()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, masterPage()));
        RptTestCaller caller(&engine);
        caller.recCount = 3;
        caller.columns.insert(QStringLiteral("quant"), { 1, 2, 4 });
        prepareRun(engine);
        RptBandObject *b = engine.pageList.first()->bands.first();
        for (int i = 0; i < 3; ++i) {
            engine.setRecNo(i);
            engine.sectionField(b, QStringLiteral("[quant]"), false, true);
            engine.sectionField(b, QStringLiteral("[quant]"), false, true);
        }
        QCOMPARE(engine.listOfPair().size(), 3);
        QCOMPARE(engine.aggregate(0, QStringLiteral("quant"), false, 0), QVariant(7.0));

        engine.listOfPair()[1].paramValue = QStringLiteral("20");
        QCOMPARE(engine.aggregate(0, QStringLiteral("quant"), false, 0), QVariant(25.0));

        engine.listOfPair().removeAt(2);
        QCOMPARE(engine.aggregate(0, QStringLiteral("quant"), false, 0), QVariant(21.0));
        // Record 2 is gone from the list, so it is collected again; record 1 is not.
        engine.setRecNo(2);
        engine.sectionField(b, QStringLiteral("[quant]"), false, true);
        engine.setRecNo(1);
        engine.sectionField(b, QStringLiteral("[quant]"), false, true);
        QCOMPARE(engine.listOfPair().size(), 3);
        QCOMPARE(engine.listOfPair().at(2).lnNo, 2);
        QCOMPARE(engine.aggregate(0, QStringLiteral("quant"), false, 0), QVariant(25.0));

        engine.listOfPair().clear();
        QCOMPARE(engine.aggregate(0, QStringLiteral("quant"), false, 0).toInt(), 0);
        engine.setRecNo(0);
        engine.sectionField(b, QStringLiteral("[quant]"), false, true);
        QCOMPARE(engine.listOfPair().size(), 1);
        QCOMPARE(engine.aggregate(2, QStringLiteral("quant"), false, 0).toInt(), 1);
    }
};

YXA_TEST_CLASS(EvalPerfTest)
#include "tst_evaluationspeed.moc"
