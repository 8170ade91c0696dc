// Engines printing at the same time in different threads keep their
// collected values, group lists and script state to themselves.
#include "rptbandobject.h"
#include "rptengine.h"
#include "rptpageobject.h"
#include "rpttestcaller.h"
#include "rpttestutil.h"
#include "testmain.h"

#include <QSemaphore>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

using namespace RptTest;

namespace {

struct Outcome
{
    QStringList sums;
    QString groupSum;
    int collected = 0;
    QString leak;
};

// Evaluates rows of its own data, stepping in lockstep with the other thread
// so that both engines really work at the same time.
Outcome runEngine(int factor, QSemaphore &mine, QSemaphore &other)
{
    Outcome out;
    RptEngine engine;
    const QString xml = page(
        QStringLiteral("<ReportBand name=\"md\" type=\"MasterData\"><TContainerField name=\"q\" "
                       "value=\"[quant]\"/></ReportBand>"
                       "<ReportBand name=\"gf\" type=\"DataGroupFooter\" showInGroup=\"1\"/>"));
    if (!loadXml(engine, xml))
        return out;
    RptTestCaller caller(&engine);
    caller.recCount = 50;
    QVariantList values;
    for (int i = 0; i < 50; ++i)
        values << (i + 1) * factor;
    caller.columns.insert(QStringLiteral("quant"), values);
    prepareRun(engine);
    RptBandObject *md = engine.pageList.first()->bands.at(0);
    RptBandObject *gf = engine.pageList.first()->bands.at(1);
    for (int i = 0; i < 50; ++i) {
        mine.acquire();
        engine.setRecNo(i);
        engine.fillListOfValue(md);
        out.sums << engine.sectionField(md, QStringLiteral("<SUM([quant])>"), false);
        engine.sectionField(md, QStringLiteral("<v%1 = %2>").arg(factor).arg(i), false);
        other.release();
    }
    engine.groupIdxList(0) << 0 << 1 << 2;
    out.groupSum = engine.sectionField(gf, QStringLiteral("<SUM([quant])>"), false);
    out.collected = engine.listOfPair().size();
    out.leak = engine.sectionField(md, QStringLiteral("<typeof v%1>").arg(factor), false);
    return out;
}

} // namespace

class EngineInThreadTest : public QObject
{
    Q_OBJECT

private slots:
    void twoEnginesKeepTheirValuesApart_data()
    {
        QTest::addColumn<bool>("lockstep");
        QTest::newRow("interleaved row by row") << true;
        QTest::newRow("running freely") << false;
    }
    void twoEnginesKeepTheirValuesApart()
    {
        QFETCH(bool, lockstep);
        // Free-running threads get more permits than they ever take.
        QSemaphore a(lockstep ? 1 : 1000);
        QSemaphore b(lockstep ? 0 : 1000);
        Outcome one;
        Outcome two;
        // Plain threads: their join is visible to ThreadSanitizer, which
        // cannot see into the (uninstrumented) QThread::wait().
        std::thread t1([&] { one = runEngine(1, a, b); });
        std::thread t2([&] { two = runEngine(100, b, a); });
        t1.join();
        t2.join();

        QCOMPARE(one.sums.size(), 50);
        QCOMPARE(two.sums.size(), 50);
        for (int i = 0; i < 50; ++i) {
            const int n = i + 1;
            QCOMPARE(one.sums.at(i), QString::number(n * (n + 1) / 2));
            QCOMPARE(two.sums.at(i), QString::number(100 * n * (n + 1) / 2));
        }
        QCOMPARE(one.collected, 50);
        QCOMPARE(two.collected, 50);
        QCOMPARE(one.groupSum, QStringLiteral("6"));
        QCOMPARE(two.groupSum, QStringLiteral("600"));
        QCOMPARE(one.leak, QStringLiteral("undefined"));
        QCOMPARE(two.leak, QStringLiteral("undefined"));
    }

    void enginesInOneThreadAreSeparateToo()
    {
        RptEngine first;
        RptEngine second;
        first.listOfPair().append(
            AggregateValues { QStringLiteral("x"), QStringLiteral("5"), 0, 0 });
        first.groupIdxList(0) << 0;
        QCOMPARE(second.listOfPair().size(), 0);
        QCOMPARE(second.groupIdxList(0).size(), 0);
        QCOMPARE(first.aggregate(0, QStringLiteral("x"), false, 0).toDouble(), 5.0);
        QCOMPARE(second.aggregate(0, QStringLiteral("x"), false, 0).toDouble(), 0.0);
    }
};

YXA_TEST_CLASS(EngineInThreadTest)
#include "tst_enginesinthreads.moc"
