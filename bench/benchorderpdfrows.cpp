// Order PDF cases of any size: the catering order template with ROWS rows in
// BRANCHES branches, rendered by RptEngine::printPDF, and the same order as
// an HTML page for the peer (wkhtmltopdf), written beside it.
//
//   bench_orderpdf_rows ROWS BRANCHES PDF [HTML] [REPEAT]
//
// Loads the template once, prints one untimed warm-up document, then REPEAT
// timed ones (default 3) and prints
//   RESULT <median seconds per document> rows=<n> pages=<n> bytes=<PDF size> cpu=<median CPU seconds>
// bench_orderpdf (200 rows, 10 branches) answers the engine the same way.
#include "datasetinfo.h"
#include "rptengine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <ctime>
#include <vector>

namespace {

QString branchName(int recNo, int rows, int branches)
{
    // Rows come grouped by branch, as the worker hands them over.
    const int perBranch = qMax(1, (rows + branches - 1) / branches);
    return QStringLiteral("Pobočka %1").arg(recNo / perBranch + 1, 2, 10, QLatin1Char('0'));
}

QString foodName(int recNo)
{
    return QStringLiteral("Jedlo číslo %1 – polievka, hlavné jedlo").arg(recNo + 1);
}

int quantity(int recNo)
{
    return 1 + recNo % 7;
}

QString header()
{
    return QStringLiteral("Záväzná objednávka - Spoločnosť 8. 12. 2026, Obed: Kuchyňa");
}

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

// The same order as the template lays it out: title, column header, one
// heading per branch and a row per meal, A4 with the template's margins.
bool writeHtml(const QString &path, int rows, int branches)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QTextStream out(&file);
    out.setCodec("UTF-8");
    // Literals go through QString: a char* into QTextStream is Latin-1.
    out << QStringLiteral(
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Objednávka</title><style>\n"
        "body{font-family:Arial,'Liberation Sans',sans-serif;font-size:10pt;margin:0}\n"
        "h1{font-size:16pt;margin:0 0 4mm 0}\n.header{font-size:11pt;margin-bottom:6mm}\n"
        "table{width:100%;border-collapse:collapse}\nthead{display:table-header-group}\n"
        "tr{page-break-inside:avoid;height:5.5mm}\nth,td{border-bottom:1px solid #000;padding:0 2mm;text-align:left}\n"
        "td.q,th.q{text-align:right;width:25mm}\ntr.branch{height:7.5mm}\n"
        "tr.branch td{font-weight:bold;background:#eee;border-bottom:2px solid #000}\n"
        "</style></head><body>\n<h1>Objednávka</h1>\n<div class=\"header\">")
        << escaped(header())
        << QStringLiteral("</div>\n<table><thead><tr><th>Položka</th><th class=\"q\">Počet</th></tr></thead>\n<tbody>\n");
    QString current;
    for (int i = 0; i < rows; ++i) {
        const QString branch = branchName(i, rows, branches);
        if (branch != current) {
            out << "<tr class=\"branch\"><td colspan=\"2\">" << escaped(branch) << "</td></tr>\n";
            current = branch;
        }
        out << "<tr><td>" << escaped(foodName(i)) << "</td><td class=\"q\">" << quantity(i) << "</td></tr>\n";
    }
    out << "</tbody></table>\n</body></html>\n";
    return out.status() == QTextStream::Ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc < 4) {
        err << "usage: bench_orderpdf_rows ROWS BRANCHES PDF [HTML] [REPEAT]\n";
        return 2;
    }
    const int rows = qMax(1, atoi(argv[1]));
    const int branches = qMax(1, atoi(argv[2]));
    const QString pdf = QString::fromLocal8Bit(argv[3]);
    const QString html = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();
    const int repeat = argc > 5 ? qMax(1, atoi(argv[5])) : 3;

    if (!html.isEmpty() && !writeHtml(html, rows, branches)) {
        err << "bench_orderpdf_rows: cannot write " << html << "\n";
        return 1;
    }

    RptEngine engine;
    if (!engine.loadReport(QStringLiteral(YXA_ORDER_TEMPLATE))) {
        err << "bench_orderpdf_rows: cannot load " << YXA_ORDER_TEMPLATE << "\n";
        return 1;
    }
    // The worker answers synchronously from its own thread; so do we.
    QObject::connect(&engine, &RptEngine::setDSInfo, &engine, [rows](DataSetInfo &info) { info.recCount = rows; },
                     Qt::DirectConnection);
    QObject::connect(&engine, &RptEngine::setValue, &engine,
                     [rows, branches](const int recNo, const QString name, QVariant &value, const int) {
                         if (name == QLatin1String("branchName"))
                             value = branchName(recNo, rows, branches);
                         else if (name == QLatin1String("name"))
                             value = foodName(recNo);
                         else if (name == QLatin1String("quant"))
                             value = quantity(recNo);
                         else if (name == QLatin1String("header"))
                             value = header();
                     },
                     Qt::DirectConnection);

    // CPU time tells the engine's own cost on a machine busy with other work.
    std::vector<double> seconds;
    std::vector<double> cpuSeconds;
    for (int i = 0; i <= repeat; ++i) {
        QElapsedTimer timer;
        const std::clock_t cpuStart = std::clock();
        timer.start();
        engine.printPDF(pdf, false);
        const qint64 ns = timer.nsecsElapsed();
        if (i > 0) {
            seconds.push_back(ns / 1e9);
            cpuSeconds.push_back(double(std::clock() - cpuStart) / CLOCKS_PER_SEC);
        }
    }
    std::sort(seconds.begin(), seconds.end());
    std::sort(cpuSeconds.begin(), cpuSeconds.end());
    const qint64 size = QFileInfo(pdf).size();
    if (size <= 0) {
        err << "bench_orderpdf_rows: no PDF was written\n";
        return 1;
    }
    QTextStream(stdout) << "RESULT " << QString::number(seconds[seconds.size() / 2], 'f', 6) << " rows=" << rows
                        << " pages=" << engine.totalPages() << " bytes=" << size
                        << " cpu=" << QString::number(cpuSeconds[cpuSeconds.size() / 2], 'f', 6) << "\n";
    return 0;
}
