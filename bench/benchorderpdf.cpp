// Renders the catering order template with 200 rows in 10 branches to PDF a
// number of times and prints the median wall time per document.
//
//   bench_orderpdf [RUNS]      (default 15; the first, warming run is not counted)
#include "rptengine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <ctime>
#include <vector>

namespace {

const int kRows = 200;
const int kBranches = 10;

// Answers the engine as the catering worker does: rows in the caller's order,
// branches interleaved so that grouping has to sort them.
class OrderData : public QObject
{
public:
    explicit OrderData(RptEngine *engine)
    {
        connect(engine, &RptEngine::setDSInfo, this, [](DataSetInfo &info) { info.recCount = kRows; },
                Qt::DirectConnection);
        connect(engine, &RptEngine::setValue, this,
                [](const int recNo, const QString name, QVariant &value, const int) {
                    if (name == QLatin1String("branchName"))
                        value = QStringLiteral("Pobočka %1").arg(recNo % kBranches, 2, 10, QLatin1Char('0'));
                    else if (name == QLatin1String("name"))
                        value = QStringLiteral("Jedlo číslo %1 – polievka, hlavné jedlo").arg(recNo);
                    else if (name == QLatin1String("quant"))
                        value = 1 + recNo % 7;
                    else if (name == QLatin1String("header"))
                        value = QStringLiteral("Záväzná objednávka – Spoločnosť, 08.12.2026, Obed, dodávateľ: Kuchyňa");
                },
                Qt::DirectConnection);
    }
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                   : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 15;
    QTextStream out(stdout);

    RptEngine engine;
    if (!engine.loadReport(QStringLiteral(YXA_ORDER_TEMPLATE))) {
        QTextStream(stderr) << "bench_orderpdf: cannot load " << YXA_ORDER_TEMPLATE << "\n";
        return 1;
    }
    OrderData data(&engine);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("order.pdf"));

    // Wall time is what a caller waits; CPU time tells the engine's own
    // cost on a machine that is busy with other work.
    std::vector<qint64> times;
    std::vector<double> cpuTimes;
    for (int i = 0; i <= runs; ++i) {
        QElapsedTimer timer;
        const std::clock_t cpuStart = std::clock();
        timer.start();
        engine.printPDF(file, false);
        const qint64 ns = timer.nsecsElapsed();
        const double cpuMs = double(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC;
        if (i > 0) {
            times.push_back(ns);
            cpuTimes.push_back(cpuMs);
        }
    }
    std::sort(times.begin(), times.end());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    const double median = times[times.size() / 2] / 1e6;
    const double cpuMedian = cpuTimes[cpuTimes.size() / 2];
    out << "bench_orderpdf: " << kRows << " rows in " << kBranches << " branches, " << runs
        << " runs, median " << QString::number(median, 'f', 1) << " ms per document (CPU "
        << QString::number(cpuMedian, 'f', 1) << " ms; " << QFileInfo(file).size() << " bytes, "
        << engine.totalPages() << " pages)\n";
    return 0;
}
