// Turning a field's value text into printed text: variables, internal
// variables, aggregates, formats, printing conditions and highlighting.
#include "rptbandobject.h"
#include "rptcollectedvalues.h"
#include "rptcolor.h"
#include "rptengine.h"
#include "rptfieldobject.h"
#include "rptpageobject.h"
#include "rptscriptengine.h"
#include "rpttestcaller.h"
#include "rpttestutil.h"
#include "testmain.h"

#include <QDate>
#include <QLocale>
#include <QTest>

using namespace RptTest;

namespace {

// A page whose master data band has one field per given attribute set.
QString masterPage(const QStringList &fields, const QString &bandAttributes = QString())
{
    QString children;
    for (const QString &f : fields)
        children += QStringLiteral("<TContainerField %1/>").arg(f);
    return page(QStringLiteral("<ReportBand name=\"md\" type=\"MasterData\" %1>%2</ReportBand>")
                    .arg(bandAttributes, children));
}

RptBandObject *band(RptEngine &engine)
{
    return engine.pageList.first()->bands.first();
}

RptFieldObject *fieldAt(RptEngine &engine, int i)
{
    return band(engine)->fields.at(i);
}

} // namespace

class FieldEvaluationTest : public QObject
{
    Q_OBJECT

private slots:
    void dataVariables_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("variables");
        QTest::newRow("one") << "[name]" << QStringList { "[name]" };
        QTest::newRow("two with text")
            << "a [name] b [quant]" << QStringList { "[name]", "[quant]" };
        QTest::newRow("digit stays literal") << "[1] [2a] [x1]" << QStringList { "[x1]" };
        QTest::newRow("nearest bracket") << "[a]]" << QStringList { "[a]" };
        QTest::newRow("line break inside") << "[a\nb]" << QStringList { "[a\nb]" };
        QTest::newRow("dotted") << "[customers.name]" << QStringList { "[customers.name]" };
        QTest::newRow("none") << "plain <1+1>" << QStringList();
    }
    void dataVariables()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, variables);
        QCOMPARE(RptEngine::splitStringOnVariable(text), variables);
    }

    void variablesAskTheCaller()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, masterPage({})));
        RptTestCaller caller(&engine);
        caller.recCount = 2;
        caller.columns.insert(
            QStringLiteral("name"), { QStringLiteral("Soup"), QStringLiteral("Stew") });
        prepareRun(engine);
        engine.setRecNo(1);
        QCOMPARE(engine.sectionField(band(engine), QStringLiteral("[name] x [1] [missing]"), false),
            QStringLiteral("Stew x [1] "));
        QCOMPARE(caller.asked, (QStringList { "name", "missing" }));
        QCOMPARE(caller.askedRecords, (QList<int> { 1, 1 }));
        QCOMPARE(caller.askedPages, (QList<int> { 0, 0 }));
    }

    void internalVariables()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, masterPage({})));
        prepareRun(engine);
        engine.setPageNo(3);
        engine.setTotalPages(7);
        engine.setRecNo(4);
        engine.setLineCounter(11);
        RptBandObject *b = band(engine);
        QCOMPARE(engine.sectionField(b, QStringLiteral("<Page>/<TotalPages>"), false),
            QStringLiteral("3/7"));
        QCOMPARE(engine.sectionField(b, QStringLiteral("<LineNo>"), false), QStringLiteral("5"));
        engine.groupIdxList(0) << 4;
        QCOMPARE(engine.sectionField(b, QStringLiteral("<LineNo>"), false), QStringLiteral("11"));
        QCOMPARE(engine.sectionField(b, QStringLiteral("<LineCount>"), false), QStringLiteral("1"));
        engine.listOfPair().append(
            AggregateValues { QStringLiteral("x"), QStringLiteral("1"), 6, 0 });
        engine.listOfPair().append(
            AggregateValues { QStringLiteral("x"), QStringLiteral("1"), 9, 1 });
        QCOMPARE(engine.sectionField(b, QStringLiteral("<LineCount>"), false), QStringLiteral("7"));
        const QString time = engine.sectionField(b, QStringLiteral("<Time>"), false);
        QVERIFY2(QTime::fromString(time, Qt::TextDate).isValid(), qPrintable(time));
    }

    void dateFormats_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        const QDate today = QDate::currentDate();
        auto upperFirst = [](QString s) {
            if (!s.isEmpty())
                s[0] = s.at(0).toUpper();
            return s;
        };
        QTest::newRow("locale short")
            << "" << upperFirst(QLocale().toString(today, QLocale::ShortFormat));
        QTest::newRow("D pattern") << "Ddd.MM.yyyy" << today.toString(QStringLiteral("dd.MM.yyyy"));
        QTest::newRow("D month name")
            << "DMMMM yyyy" << upperFirst(today.toString(QStringLiteral("MMMM yyyy")));
        QTest::newRow("whole pattern") << "yyyy" << today.toString(QStringLiteral("yyyy"));
    }
    void dateFormats()
    {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        RptEngine engine;
        QVERIFY(loadXml(engine, masterPage({})));
        prepareRun(engine);
        QCOMPARE(engine.sectionField(band(engine), QStringLiteral("<Date>"), false, false, format),
            expected);
    }

    void aggregateRewriting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("rewritten");
        QTest::newRow("SUM") << "SUM([quant])"
                             << "SUM(0,'quant')";
        QTest::newRow("avg lower") << "avg([x])"
                                   << "SUM(1,'x')";
        QTest::newRow("Count mixed") << "Count([x])"
                                     << "SUM(2,'x')";
        QTest::newRow("MAX") << "MAX([x])"
                             << "SUM(3,'x')";
        QTest::newRow("min") << "min([x])"
                             << "SUM(4,'x')";
        QTest::newRow("in formula") << "<SUM([a]) + max([b])>"
                                    << "<SUM(0,'a') + SUM(3,'b')>";
        QTest::newRow("Math.max untouched") << "<Math.max(1, 2)>"
                                            << "<Math.max(1, 2)>";
        QTest::newRow("no aggregate") << "[sum]"
                                      << "[sum]";
        QTest::newRow("longer name") << "<checksum([code])>"
                                     << "<checksum([code])>";
        QTest::newRow("longer name, upper case") << "<checkSUM([code]) + xmax([a])>"
                                                 << "<checkSUM([code]) + xmax([a])>";
        QTest::newRow("member with variables") << "<Math.max([a],[b])>"
                                               << "<Math.max([a],[b])>";
        QTest::newRow("beside a longer name") << "<checksum([a]) + sum([a])>"
                                              << "<checksum([a]) + SUM(0,'a')>";
    }
    void aggregateRewriting()
    {
        QFETCH(QString, text);
        QFETCH(QString, rewritten);
        RptEngine engine;
        QCOMPARE(engine.stringPreprocessing(text, QString()), rewritten);
    }

    void aggregateResults_data()
    {
        QTest::addColumn<QString>("formula");
        QTest::addColumn<QString>("result");
        QTest::newRow("sum") << "<SUM([quant])>"
                             << "12.5";
        QTest::newRow("avg") << "<AVG([quant])>"
                             << "3.125";
        QTest::newRow("count") << "<COUNT([quant])>"
                               << "4";
        QTest::newRow("max") << "<MAX([quant])>"
                             << "6";
        QTest::newRow("min") << "<MIN([quant])>"
                             << "0.5";
        QTest::newRow("unknown name") << "<SUM([nothing])>"
                                      << "0";
        QTest::newRow("lower case") << "<sum([quant]) * 2>"
                                    << "25";
    }
    void aggregateResults()
    {
        QFETCH(QString, formula);
        QFETCH(QString, result);
        RptEngine engine;
        QVERIFY(loadXml(engine, masterPage({ QStringLiteral("value=\"[quant]\"") })));
        RptTestCaller caller(&engine);
        caller.recCount = 5;
        // The empty value is collected but not counted.
        caller.columns.insert(QStringLiteral("quant"), { 2, 6, QString(), 0.5, 4 });
        prepareRun(engine);
        for (int i = 0; i < 5; ++i) {
            engine.setRecNo(i);
            engine.fillListOfValue(band(engine));
        }
        QCOMPARE(engine.listOfPair().size(), 5);
        QCOMPARE(engine.sectionField(band(engine), formula, false), result);
    }

    void collectingKeepsOneValuePerRecord()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            masterPage({ QStringLiteral("value=\"[quant] [quant]\""),
                QStringLiteral("value=\"[quant]\" printing=\"0\""),
                QStringLiteral("type=\"image\" value=\"[pic]\"") })));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        caller.columns.insert(QStringLiteral("quant"), { 7 });
        prepareRun(engine);
        engine.fillListOfValue(band(engine));
        engine.fillListOfValue(band(engine));
        QCOMPARE(engine.listOfPair().size(), 1);
        const AggregateValues v = engine.listOfPair().first();
        QCOMPARE(v.paramName, QStringLiteral("quant"));
        QCOMPARE(v.paramValue.toString(), QStringLiteral("7"));
        QCOMPARE(v.lnNo, 0);
        QCOMPARE(v.reportPage, 0);
    }

    // The values as collected, each "name=value@record" on page 0 unless
    // "/page" follows; the group list of level 1 holds the given records.
    void collectedValues_data()
    {
        QTest::addColumn<QStringList>("collected");
        QTest::addColumn<QList<int>>("group");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("showInGroup");
        QTest::addColumn<QVariant>("result");
        const QStringList four { "q=1@0", "q=2@1", "q=4@2", "q=8@3" };
        QTest::newRow("sum") << four << QList<int>() << int(RptCollectedValues::Sum) << false
                             << QVariant(15.0);
        QTest::newRow("average") << four << QList<int>() << int(RptCollectedValues::Average)
                                 << false << QVariant(3.75);
        QTest::newRow("count") << four << QList<int>() << int(RptCollectedValues::Count) << false
                               << QVariant(4);
        QTest::newRow("max") << four << QList<int>() << int(RptCollectedValues::Max) << false
                             << QVariant(8.0);
        QTest::newRow("min") << four << QList<int>() << int(RptCollectedValues::Min) << false
                             << QVariant(1.0);
        QTest::newRow("group sum") << four << QList<int> { 1, 3 } << int(RptCollectedValues::Sum)
                                   << true << QVariant(10.0);
        QTest::newRow("group ignored without showInGroup")
            << four << QList<int> { 1, 3 } << int(RptCollectedValues::Sum) << false
            << QVariant(15.0);
        QTest::newRow("empty values not counted")
            << QStringList { "q=3@0", "q=@1", "q=5@2" } << QList<int>()
            << int(RptCollectedValues::Count) << false << QVariant(2);
        QTest::newRow("empty values counted in a group")
            << QStringList { "q=3@0", "q=@1", "q=5@2" } << QList<int> { 0, 1 }
            << int(RptCollectedValues::Count) << true << QVariant(2);
        QTest::newRow("average of nothing counted")
            << QStringList { "q=@0" } << QList<int>() << int(RptCollectedValues::Average) << false
            << QVariant(0.0);
        QTest::newRow("first value of a record stays")
            << QStringList { "q=2@0", "q=40@0", "q=3@1" } << QList<int>()
            << int(RptCollectedValues::Sum) << false << QVariant(5.0);
        QTest::newRow("same record on another page")
            << QStringList { "q=2@0", "q=40@0/1" } << QList<int>() << int(RptCollectedValues::Sum)
            << false << QVariant(42.0);
        QTest::newRow("other names apart")
            << QStringList { "q=2@0", "p=40@0" } << QList<int>() << int(RptCollectedValues::Max)
            << false << QVariant(2.0);
        QTest::newRow("nothing collected") << QStringList { "p=1@0" } << QList<int>()
                                           << int(RptCollectedValues::Sum) << false << QVariant(0);
    }
    void collectedValues()
    {
        QFETCH(QStringList, collected);
        QFETCH(QList<int>, group);
        QFETCH(int, kind);
        QFETCH(bool, showInGroup);
        QFETCH(QVariant, result);
        RptCollectedValues values;
        for (const QString &c : qAsConst(collected)) {
            const int eq = c.indexOf(QLatin1Char('='));
            const int at = c.indexOf(QLatin1Char('@'));
            const int slash = c.indexOf(QLatin1Char('/'));
            const int page = slash < 0 ? 0 : c.mid(slash + 1).toInt();
            values.collect(c.left(eq), c.mid(eq + 1, at - eq - 1),
                c.mid(at + 1, slash < 0 ? -1 : slash - at - 1).toInt(), page);
        }
        values.groupIdxList(1) = group;
        const QVariant got = values.aggregate(
            RptCollectedValues::Aggregate(kind), QStringLiteral("q"), showInGroup, 1);
        QCOMPARE(got, result);
        // The script function reads the same values.
        RptScriptEngine script(nullptr, &values);
        script.globalObject().setProperty(QStringLiteral("showInGroup"), showInGroup);
        script.globalObject().setProperty(QStringLiteral("groupLevel"), 1);
        QCOMPARE(script.evaluate(QStringLiteral("SUM(%1, 'q')").arg(kind)).toNumber(),
            result.toDouble());
    }

    void collectedValuesIndexFollowsTheList()
    {
        RptCollectedValues values;
        values.collect(QStringLiteral("q"), QStringLiteral("2"), 0, 0);
        values.collect(QStringLiteral("q"), QStringLiteral("3"), 1, 0);
        QCOMPARE(values.lineCount(0), 2);
        QCOMPARE(values.lineCount(1), 1);
        // A change through the list is seen by the next aggregate and the
        // next collect.
        values.listOfPair().removeFirst();
        QCOMPARE(values.aggregate(RptCollectedValues::Sum, QStringLiteral("q"), false, 0),
            QVariant(3.0));
        values.collect(QStringLiteral("q"), QStringLiteral("5"), 0, 0);
        QCOMPARE(values.aggregate(RptCollectedValues::Sum, QStringLiteral("q"), false, 0),
            QVariant(8.0));
        values.clear();
        QCOMPARE(
            values.aggregate(RptCollectedValues::Sum, QStringLiteral("q"), false, 0), QVariant(0));
        QCOMPARE(values.groupIdxList(3).size(), 0);
        values.groupIdxList(3) << 1;
        QCOMPARE(values.groupIdxList(3).size(), 0);
    }

    void aggregatesInGroups()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(QStringLiteral("<ReportBand name=\"md\" type=\"MasterData\"/>"
                                "<ReportBand name=\"g\" type=\"DataGroupFooter\" showInGroup=\"1\" "
                                "groupLevel=\"1\"/>"
                                "<ReportBand name=\"s\" type=\"ReportSummary\"/>"))));
        RptTestCaller caller(&engine);
        caller.recCount = 4;
        caller.columns.insert(QStringLiteral("quant"), { 1, 2, 4, 8 });
        prepareRun(engine);
        RptPageObject *p = engine.pageList.first();
        for (int i = 0; i < 4; ++i) {
            engine.setRecNo(i);
            engine.sectionField(p->bands.at(0), QStringLiteral("[quant]"), false, true);
        }
        engine.groupIdxList(1) << 1 << 3;
        engine.groupIdxList(0) << 0 << 1 << 2 << 3;
        // The group footer sums its group at its level, the summary everything.
        QCOMPARE(engine.sectionField(p->bands.at(1), QStringLiteral("<SUM([quant])>"), false),
            QStringLiteral("10"));
        QCOMPARE(engine.sectionField(p->bands.at(1), QStringLiteral("<COUNT([quant])>"), false),
            QStringLiteral("2"));
        QCOMPARE(engine.sectionField(p->bands.at(1), QStringLiteral("<MIN([quant])>"), false),
            QStringLiteral("2"));
        QCOMPARE(engine.sectionField(p->bands.at(2), QStringLiteral("<SUM([quant])>"), false),
            QStringLiteral("15"));
        QCOMPARE(engine.aggregate(0, QStringLiteral("quant"), true, 2), QVariant(15.0));
        QCOMPARE(engine.aggregate(2, QStringLiteral("quant"), true, 7).toInt(), 4);
        QCOMPARE(engine.aggregate(9, QStringLiteral("quant"), false, 0).toInt(), 0);
    }

    void numberFormats_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        const QString nbsp(QChar(160));
        const QLocale fr(QStringLiteral("fr_FR"));
        QTest::newRow("blank groups")
            << "1234.5"
            << "N# ###.##2" << QString(QStringLiteral("1") + nbsp + QStringLiteral("234.50"));
        QTest::newRow("comma groups") << "1234.5"
                                      << "N#,###.##2"
                                      << "1,234.50";
        QTest::newRow("french") << "1234.5"
                                << "N# ###,##2"
                                << QString(QStringLiteral("1") + fr.groupSeparator()
                                       + QStringLiteral("234") + fr.decimalPoint()
                                       + QStringLiteral("50"));
        QTest::newRow("german") << "1234.5"
                                << "N#.###,##2"
                                << "1.234,50";
        QTest::newRow("no decimals") << "1234.5"
                                     << "N#,###.##0"
                                     << "1,235";
        QTest::newRow("non-digit decimals") << "1234.5"
                                            << "N#,###.##x"
                                            << "1,235";
        QTest::newRow("millions") << "1234567.891"
                                  << "N#,###.##1"
                                  << "1,234,567.9";
        QTest::newRow("not a number") << "abc"
                                      << "N#,###.##2"
                                      << "abc";
        QTest::newRow("unknown pattern") << "1234.5"
                                         << "N###2"
                                         << "1234.5";
        QTest::newRow("no N") << "1234.5"
                              << "#,###.##2"
                              << "1234.5";
        QTest::newRow("empty format") << "1234.5"
                                      << ""
                                      << "1234.5";
    }
    void numberFormats()
    {
        QFETCH(QString, value);
        QFETCH(QString, format);
        QFETCH(QString, expected);
        QCOMPARE(RptEngine::getFormattedValue(value, format), expected);
    }

    void formattedFieldValue()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, masterPage({})));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        caller.columns.insert(QStringLiteral("price"), { 1234.5 });
        prepareRun(engine);
        QCOMPARE(engine.sectionField(band(engine), QStringLiteral("[price]"), false, false,
                     QStringLiteral("N#,###.##2")),
            QStringLiteral("1,234.50"));
        QCOMPARE(engine.sectionField(band(engine), QStringLiteral("<[price] * 2>"), false, false,
                     QStringLiteral("N#.###,##1")),
            QStringLiteral("2.469,0"));
    }

    void conditions_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("less") << "<if ([quant] < 5) 'low'; else 'high';>"
                              << "low";
        QTest::newRow("greater") << "<if ([quant] > 5) 'high'; else 'low';>"
                                 << "low";
        QTest::newRow("no blank") << "<if([quant]<=3) 'three'; else 'other';>"
                                  << "three";
        QTest::newRow("written escapes") << "<if (2 &lt-; [quant]) 'yes'; else 'no';>"
                                         << "yes";
        QTest::newRow("text around") << "a <if (1 < 2) 'b'; else 'c';> d"
                                     << "a b d";
    }
    void conditions()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        RptEngine engine;
        QVERIFY(loadXml(engine, masterPage({})));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        caller.columns.insert(QStringLiteral("quant"), { 3 });
        prepareRun(engine);
        QCOMPARE(engine.sectionField(band(engine), text, false), expected);
    }

    void dataIsNeverScript_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("brackets in data") << "[name]"
                                          << "Tofu <vegan>"
                                          << "Tofu <vegan>";
        QTest::newRow("half formula in data") << "x [name] y"
                                              << "a < b"
                                              << "x a < b y";
        QTest::newRow("closing only") << "[name]"
                                      << "-> go"
                                      << "-> go";
        QTest::newRow("data in formula") << "<'[name]'.length>"
                                         << "<b>"
                                         << "3";
        QTest::newRow("data beside formula") << "[name] <1+1>"
                                             << "<i>"
                                             << "<i> 2";
        QTest::newRow("kept formulas") << "[name]"
                                       << "Tofu <vegan>"
                                       << "Tofu <vegan>";
        QTest::newRow("variable in data") << "[name] [other]"
                                          << "[other]"
                                          << "[other] ";
        const QString hider = QStringLiteral("x' + (RptEngine.pageList[0].setVisible(false)) + '");
        QTest::newRow("code between quotes") << "<'[name]'>" << hider << hider;
        QTest::newRow("apostrophe") << "<'[name]'>"
                                    << "O'Brien"
                                    << "O'Brien";
        QTest::newRow("apostrophe, no quotes") << "<[name]>"
                                               << "O'Brien"
                                               << "O'Brien";
        QTest::newRow("code, no quotes") << "<[name]>"
                                         << "1); RptEngine.pageList[0].setVisible(false); (1"
                                         << "1); RptEngine.pageList[0].setVisible(false); (1";
        QTest::newRow("double quotes") << "<\"[name]\">"
                                       << "say \"hi\" \\"
                                       << "say \"hi\" \\";
        QTest::newRow("backslash before quote") << "<'[name]'>"
                                                << "a\\' + 1 + '"
                                                << "a\\' + 1 + '";
        QTest::newRow("line breaks") << "<'[name]'>"
                                     << "one\ntwo\r\nthree\u2028"
                                     << "one\ntwo\r\nthree\u2028";
        QTest::newRow("inside longer literal") << "<'Mr [name]!'.toUpperCase()>"
                                               << "o'brien"
                                               << "MR O'BRIEN!";
        QTest::newRow("concatenated") << "<'(' + [name] + ')'>"
                                      << "O'Brien"
                                      << "(O'Brien)";
        QTest::newRow("number stays a number") << "<[name] * 2 + 1>"
                                               << " 2.5 "
                                               << "6";
    }
    void dataIsNeverScript()
    {
        QFETCH(QString, text);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        RptEngine engine;
        QVERIFY(loadXml(engine, masterPage({})));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        caller.columns.insert(QStringLiteral("name"), { name });
        prepareRun(engine);
        const bool keep = QByteArray(QTest::currentDataTag()) == "kept formulas";
        QCOMPARE(engine.sectionField(band(engine), text, keep), expected);
        QVERIFY(engine.pageList.first()->isVisible());
    }

    // Printing conditions and highlighting rules take data as data too, even
    // where the template put quotes around a variable.
    void dataIsNeverScriptInConditions()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            masterPage({ QStringLiteral("printing=\"'[name]' != 'x'\" "
                                        "highlighting=\"'[name]' != '';bold=?1:0;\"") })));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        caller.columns.insert(QStringLiteral("name"),
            { QStringLiteral("+1;RptEngine.pageList[0].setVisible(false);+") });
        prepareRun(engine);
        QVERIFY(engine.isFieldVisible(fieldAt(engine, 0)));
        QCOMPARE(engine.processHighligthing(fieldAt(engine, 0), RptName::FntBold).toInt(), 1);
        QVERIFY(engine.pageList.first()->isVisible());
    }

    void keptFormulas()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, masterPage({})));
        prepareRun(engine);
        QCOMPARE(engine.sectionField(band(engine), QStringLiteral("<b><1+1></b>"), true),
            QStringLiteral("<b><1+1></b>"));
    }

    void printingConditions_data()
    {
        QTest::addColumn<QString>("printing");
        QTest::addColumn<QVariant>("grouping");
        QTest::addColumn<bool>("visible");
        QTest::newRow("one") << "1" << QVariant() << true;
        QTest::newRow("zero") << "0" << QVariant() << false;
        QTest::newRow("empty") << "" << QVariant() << false;
        QTest::newRow("letter") << "x" << QVariant() << false;
        QTest::newRow("order rows, grouping empty") << "[grouping] == 0?1:0" << QVariant() << true;
        QTest::newRow("order rows tight, grouping empty")
            << "[grouping]==0?1:0" << QVariant() << true;
        QTest::newRow("order footer, grouping empty") << "[grouping]?1:0" << QVariant() << false;
        QTest::newRow("order footer, grouping 1") << "[grouping]?1:0" << QVariant(1) << true;
        QTest::newRow("order rows, grouping 1") << "[grouping] == 0?1:0" << QVariant(1) << false;
        QTest::newRow("text compared")
            << "[grouping] == 'a'" << QVariant(QStringLiteral("a")) << true;
        QTest::newRow("quote in data")
            << "[grouping] == \"it's\"" << QVariant(QStringLiteral("it's")) << true;
        QTest::newRow("syntax error prints") << "1 +* 2" << QVariant() << true;
    }
    void printingConditions()
    {
        QFETCH(QString, printing);
        QFETCH(QVariant, grouping);
        QFETCH(bool, visible);
        RptEngine engine;
        QVERIFY(loadXml(engine,
            masterPage({ QStringLiteral("printing=\"%1\"").arg(printing.toHtmlEscaped()) })));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        if (grouping.isValid())
            caller.columns.insert(QStringLiteral("grouping"), { grouping });
        prepareRun(engine);
        QCOMPARE(engine.isFieldVisible(fieldAt(engine, 0)), visible);
    }

    void highlightingShadesEverySecondLine()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            masterPage({ QStringLiteral(
                "backgroundColor=\"rgba(255,255,255,255)\" fontColor=\"rgba(0,0,0,255)\" "
                "highlighting=\"&lt;LineNo> % 2 == "
                "0;backgroundColor=?rgba(235,235,235,255);\"") })));
        prepareRun(engine);
        RptFieldObject *f = fieldAt(engine, 0);
        QStringList seen;
        for (int i = 0; i < 4; ++i) {
            engine.setRecNo(i);
            engine.applyHighlighting(f);
            seen << colorToString(f->backgroundColor);
            QCOMPARE(f->fontColor, QColor(0, 0, 0));
        }
        QCOMPARE(seen,
            (QStringList { "rgba(255,255,255,255)", "rgba(235,235,235,255)",
                "rgba(255,255,255,255)", "rgba(235,235,235,255)" }));
        // Grouped rows count with the line counter.
        engine.groupIdxList(0) << 0;
        engine.setRecNo(0);
        engine.setLineCounter(2);
        engine.applyHighlighting(f);
        QCOMPARE(colorToString(f->backgroundColor), QStringLiteral("rgba(235,235,235,255)"));
        // A text changed by the caller between rows takes effect.
        f->highlighting = QStringLiteral("<LineNo> % 2 == 1;fontColor=?rgba(1,2,3,255);");
        engine.applyHighlighting(f);
        QCOMPARE(colorToString(f->backgroundColor), QStringLiteral("rgba(255,255,255,255)"));
        QCOMPARE(colorToString(f->fontColor), QStringLiteral("rgba(0,0,0,255)"));
        engine.setLineCounter(3);
        engine.applyHighlighting(f);
        QCOMPARE(colorToString(f->fontColor), QStringLiteral("rgba(1,2,3,255)"));
    }

    void highlightingAspects_data()
    {
        QTest::addColumn<QString>("highlighting");
        QTest::addColumn<int>("quant");
        QTest::addColumn<QString>("background");
        QTest::addColumn<QString>("font");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("italic");
        QTest::addColumn<bool>("underline");
        QTest::addColumn<bool>("strikeout");
        const QString bg = QStringLiteral("rgba(250,250,250,255)");
        const QString fc = QStringLiteral("rgba(10,10,10,255)");
        QTest::newRow("none") << "" << 1 << bg << fc << false << true << false << false;
        QTest::newRow("font colour true") << "[quant] > 2;fontColor=?rgba(255,0,0,255);" << 3 << bg
                                          << "rgba(255,0,0,255)" << false << true << false << false;
        QTest::newRow("font colour false") << "[quant] > 2;fontColor=?rgba(255,0,0,255);" << 1 << bg
                                           << fc << false << true << false << false;
        QTest::newRow("no background rule")
            << "[quant] > 2;fontColor=?rgba(255,0,0,255);" << 3 << bg << "rgba(255,0,0,255)"
            << false << true << false << false;
        QTest::newRow("bold on") << "[quant] > 2;bold=?1:0;" << 3 << bg << fc << true << true
                                 << false << false;
        QTest::newRow("bold off") << "[quant] > 2;bold=?1:0;" << 1 << bg << fc << false << true
                                  << false << false;
        QTest::newRow("italic off")
            << "[quant] > 2;italic=?0:1;" << 3 << bg << fc << false << false << false << false;
        QTest::newRow("underline and strikeout")
            << "[quant] == 3;;underline=?1:0;strikeout=?1:0;backgroundColor=?rgba(1,2,3,255);" << 3
            << "rgba(1,2,3,255)" << fc << false << true << true << true;
        QTest::newRow("first rule decides")
            << "[quant] == 3;fontColor=?rgba(1,1,1,255);fontColor=?rgba(2,2,2,255);" << 3 << bg
            << "rgba(1,1,1,255)" << false << true << false << false;
        // The line number is 1 here; where it cannot stand as a value of its
        // own it is written into the condition.
        QTest::newRow("line number beside data") << "[quant] == <LineNo> + 2;bold=?1:0;" << 3 << bg
                                                 << fc << true << true << false << false;
        QTest::newRow("line number glued to a digit")
            << "<LineNo>0 == 10;bold=?1:0;" << 3 << bg << fc << true << true << false << false;
        QTest::newRow("line number in a string") << "'<LineNo>' + [quant] == '13';bold=?1:0;" << 3
                                                 << bg << fc << true << true << false << false;
        QTest::newRow("line number and date") << "'<Date>' != '' && <LineNo> == 1;bold=?1:0;" << 3
                                              << bg << fc << true << true << false << false;
    }
    void highlightingAspects()
    {
        QFETCH(QString, highlighting);
        QFETCH(int, quant);
        QFETCH(QString, background);
        QFETCH(QString, font);
        QFETCH(bool, bold);
        QFETCH(bool, italic);
        QFETCH(bool, underline);
        QFETCH(bool, strikeout);
        RptEngine engine;
        QVERIFY(loadXml(engine,
            masterPage({ QStringLiteral("backgroundColor=\"rgba(250,250,250,255)\" "
                                        "fontColor=\"rgba(10,10,10,255)\" fontItalic=\"1\" "
                                        "highlighting=\"%1\"")
                             .arg(highlighting.toHtmlEscaped()) })));
        RptTestCaller caller(&engine);
        caller.recCount = 1;
        caller.columns.insert(QStringLiteral("quant"), { quant });
        prepareRun(engine);
        RptFieldObject *f = fieldAt(engine, 0);
        engine.applyHighlighting(f);
        QCOMPARE(colorToString(f->backgroundColor), background);
        QCOMPARE(colorToString(f->fontColor), font);
        QCOMPARE(f->font.weight() > 57, bold);
        QCOMPARE(f->font.italic(), italic);
        QCOMPARE(f->font.underline(), underline);
        QCOMPARE(f->font.strikeOut(), strikeout);
        // Every row starts from the template's colours again.
        QCOMPARE(colorToString(f->defaultBackgroundColor), QStringLiteral("rgba(250,250,250,255)"));
    }

    void highlightingKeepsMissingColoursInvalid()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            masterPage(
                { QStringLiteral("highlighting=\"1 == 2;backgroundColor=?rgba(1,2,3,255);\"") })));
        prepareRun(engine);
        RptFieldObject *f = fieldAt(engine, 0);
        engine.applyHighlighting(f);
        QVERIFY(!f->backgroundColor.isValid());
        QVERIFY(!f->fontColor.isValid());
    }

    void expressionsDoNotLeak()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, masterPage({})));
        prepareRun(engine);
        RptBandObject *b = band(engine);
        QCOMPARE(engine.sectionField(b, QStringLiteral("<var leaked = 5; leaked>"), false),
            QStringLiteral("5"));
        QCOMPARE(engine.sectionField(b, QStringLiteral("<typeof leaked>"), false),
            QStringLiteral("undefined"));
        QCOMPARE(engine.sectionField(b, QStringLiteral("<implicitGlobal = 7>"), false),
            QStringLiteral("7"));
        QCOMPARE(engine.sectionField(b, QStringLiteral("<typeof implicitGlobal>"), false),
            QStringLiteral("undefined"));
        QCOMPARE(engine.sectionField(b, QStringLiteral("<function f() { return 1; } f()>"), false),
            QStringLiteral("1"));
        QCOMPARE(engine.sectionField(b, QStringLiteral("<typeof f>"), false),
            QStringLiteral("undefined"));
        QCOMPARE(engine.evaluateExpression(QStringLiteral("this.viaThis = 1")).toInt32(), 1);
        QCOMPARE(engine.evaluateExpression(QStringLiteral("typeof viaThis")).toString(),
            QStringLiteral("undefined"));
        // The band's grouping flags are the expression's own.
        b->showInGroup = true;
        b->groupLevel = 2;
        QCOMPARE(engine.sectionField(b, QStringLiteral("<showInGroup + ':' + groupLevel>"), false),
            QStringLiteral("true:2"));
        QCOMPARE(engine.evaluateExpression(QStringLiteral("typeof groupLevel")).toString(),
            QStringLiteral("number"));
        QCOMPARE(engine.evaluateExpression(QStringLiteral("groupLevel")).toInt32(), 0);
        // Functions of the engine stay in place, whatever an expression did to them.
        engine.evaluateExpression(QStringLiteral("Round = function() { return 'hijacked'; }"));
        QCOMPARE(engine.evaluateExpression(QStringLiteral("Round(2.5)")).toInt32(), 3);
        engine.evaluateExpression(QStringLiteral("delete ToUpper"));
        QCOMPARE(engine.evaluateExpression(QStringLiteral("ToUpper('a')")).toString(),
            QStringLiteral("A"));
        engine.evaluateExpression(QStringLiteral("RptEngine = null"));
        QCOMPARE(engine.evaluateExpression(QStringLiteral("typeof RptEngine")).toString(),
            QStringLiteral("object"));
    }

    // Whatever an expression does to built-in objects, the next one sees
    // them as a fresh engine has them.
    void builtInsStayFresh_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("probe");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Math member") << "Math.floor = function() { return 42; }"
                                     << "Math.floor(1.5)"
                                     << "1";
        QTest::newRow("prototype member") << "String.prototype.x = 'leak'"
                                          << "typeof ''.x"
                                          << "undefined";
        QTest::newRow("prototype method")
            << "String.prototype.toUpperCase = function() { return 'x'; }"
            << "'ab'.toUpperCase()"
            << "AB";
        QTest::newRow("engine member") << "RptEngine.foo = 1"
                                       << "typeof RptEngine.foo"
                                       << "undefined";
        QTest::newRow("no assignment") << "Object.defineProperty(Math, 'round', "
                                          "{ value: function() { return 7; } })"
                                       << "Math.round(2.4)"
                                       << "2";
        // Read as divisions, the quotes would hide the call between them.
        QTest::newRow("regular expressions after a condition")
            << "if (1) /'/ + Object.defineProperty(Math, \"floor\", "
               "{ value: function() { return 42; } }) + /'/ + 1"
            << "Math.floor(1.5)"
            << "1";
        QTest::newRow("array method on a prototype") << "Array.prototype.push(5)"
                                                     << "typeof [, 1][0]"
                                                     << "undefined";
    }
    void builtInsStayFresh()
    {
        QFETCH(QString, change);
        QFETCH(QString, probe);
        QFETCH(QString, expected);
        RptEngine engine;
        QVERIFY(loadXml(engine, masterPage({})));
        prepareRun(engine);
        engine.sectionField(band(engine), QLatin1Char('<') + change + QLatin1Char('>'), false);
        QCOMPARE(
            engine.sectionField(band(engine), QLatin1Char('<') + probe + QLatin1Char('>'), false),
            expected);
        QCOMPARE(engine.evaluateExpression(probe).toString(), expected);
    }

    void oneScriptEngineForAllExpressions()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            masterPage({ QStringLiteral("printing=\"[q] > 1\" "
                                        "highlighting=\"[q] > 1;bold=?1:0;\"") })));
        prepareRun(engine);
        const int engines = engine.findChildren<QScriptEngine *>().size();
        for (int i = 0; i < 200; ++i) {
            engine.sectionField(band(engine), QStringLiteral("<1 + %1>").arg(i), false);
            engine.isFieldVisible(fieldAt(engine, 0));
            engine.applyHighlighting(fieldAt(engine, 0));
        }
        QCOMPARE(engine.findChildren<QScriptEngine *>().size(), engines);
        QVERIFY(engines <= 2);
    }
};

YXA_TEST_CLASS(FieldEvaluationTest)
#include "tst_fieldevaluation.moc"
