// rptrender TEMPLATE OUTPUT [--data FILE.json] [--dpi N] [--watch]
// rptrender --check TEMPLATE [--data FILE.json] [--strict] [--watch]
//
// Renders a report template the way the plug-ins do, for template authors
// and for checking output without the host. The extension of OUTPUT picks
// the kind: ".pdf", ".html", ".png" or ".svg" (the last two one file per
// page, "name-1.png" ..., at --dpi, default 96). Exit 0 on success, 1 when
// the template, the data or the output fails (one line on stderr), 2 on
// wrong usage. What goes wrong while the template is evaluated (a formula
// that throws, a variable the data lacks, an image that does not decode)
// is printed once per field and message as "file:line:column: error:
// message" with the field's line; the output is still written, and the
// exit code is 1.
//
// --check renders nothing: it prints one "file:line:column: error|warning:
// message" line per finding and exits 1 when there is an error (with
// --strict, a warning too).
//
// --watch does it again whenever the template or the data file changes,
// printing the findings each time, until interrupted.
#include "rptdatasetcheck.h"
#include "rptengine.h"
#include "rptpagerenderer.h"
#include "rptrenderdata.h"
#include "rpttemplatecheck.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

#include <algorithm>

#include <unistd.h>

namespace {

int fail(const QString &message)
{
    QTextStream(stderr) << "rptrender: " << message << "\n";
    return 1;
}

// The engine logs through the Qt message handler; on a terminal its lines
// would bury ours. YXA_RPTRENDER_LOG=1 lets them through (script errors of a
// template, for instance).
void quietHandler(QtMsgType, const QMessageLogContext &, const QString &)
{
}

int usage()
{
    QTextStream(stderr)
        << "usage: rptrender TEMPLATE OUTPUT.pdf|.html|.png|.svg [--data "
           "FILE.json] [--dpi N] [--watch] | rptrender --check TEMPLATE [--data FILE.json] "
           "[--strict] [--watch]\n";
    return 2;
}

// The value after an option, removed with it; false when the option is
// given without one.
bool takeOption(QStringList &args, const QString &option, QString *value)
{
    const int at = args.indexOf(option);
    if (at < 0)
        return true;
    if (at + 1 >= args.size())
        return false;
    *value = args.at(at + 1);
    args.removeAt(at + 1);
    args.removeAt(at);
    return true;
}

bool takeFlag(QStringList &args, const QString &flag)
{
    const int at = args.indexOf(flag);
    if (at < 0)
        return false;
    args.removeAt(at);
    return true;
}

struct Options
{
    QString templateFile;
    QString output;
    QString dataFile;
    int dpi = 96;
    bool checkOnly = false;
    bool strict = false;
    bool watch = false;
};

// Prints the findings of the template; the number of lines that count as
// errors in *errors.
int printFindings(const Options &o, int *errors)
{
    RptTemplateCheck checker;
    RptDataSetCheck dataSets;
    if (!o.dataFile.isEmpty()) {
        RptRenderData data;
        QString error;
        if (!data.load(o.dataFile, &error))
            return fail(error);
        checker.setDataNames(data.names());
        dataSets.setDataSetNames(data.dataSetNames());
    }
    if (!checker.checkFile(o.templateFile))
        return fail(QStringLiteral("cannot read template %1").arg(o.templateFile));
    dataSets.checkFile(o.templateFile);
    const QList<RptCheckFinding> findings
        = RptDataSetCheck::merged(checker.findings(), dataSets.findings());
    QTextStream out(stdout);
    for (const RptCheckFinding &f : findings) {
        const bool error = f.error || o.strict;
        out << o.templateFile << ':' << f.line << ':' << f.column << ": "
            << (error ? "error" : "warning") << ": " << f.message << '\n';
    }
    out.flush();
    *errors = int(std::count_if(findings.begin(), findings.end(),
        [&o](const RptCheckFinding &f) { return f.error || o.strict; }));
    return 0;
}

int check(const Options &o)
{
    int errors = 0;
    if (printFindings(o, &errors) != 0)
        return 1;
    return errors > 0 ? 1 : 0;
}

// One line per evaluation error, as the findings of --check are written.
void printEvaluationErrors(const Options &o, const QList<RptEvaluationError> &errors)
{
    QTextStream out(stdout);
    for (const RptEvaluationError &e : errors)
        out << o.templateFile << ':' << e.line << ':' << e.column << ": error: " << e.text()
            << '\n';
    out.flush();
}

// 1 when nothing could be rendered, or when the output was written but
// the template had evaluation errors (their number in *evaluationErrors).
int render(const Options &o, int *evaluationErrors = nullptr)
{
    const QString kind = QFileInfo(o.output).suffix().toLower();
    const bool perPage = kind == QLatin1String("png") || kind == QLatin1String("svg");

    RptEngine engine;
    RptLoadError loadError;
    if (!engine.loadReport(o.templateFile, &loadError)) {
        QString reason = loadError.message;
        if (loadError.line > 0)
            reason = QStringLiteral("line %1, column %2: %3").arg(loadError.line).arg(loadError.column).arg(reason);
        return fail(QStringLiteral("cannot load template %1: %2").arg(o.templateFile, reason));
    }
    if (engine.pageList.isEmpty())
        return fail(
            QStringLiteral("cannot load template %1: no report page in it").arg(o.templateFile));

    RptRenderData data;
    if (!o.dataFile.isEmpty()) {
        QString error;
        if (!data.load(o.dataFile, &error))
            return fail(error);
    }
    data.attach(&engine);

    // The engine reports nothing when its output cannot be written; find
    // out first, so the failure is ours to tell.
    const QString first = perPage ? RptPageRenderer::pageFileName(o.output, 1) : o.output;
    {
        QFile probe(first);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(QStringLiteral("cannot write %1: %2").arg(first, probe.errorString()));
    }
    QList<RptEvaluationError> errors;
    if (perPage) {
        RptPageRenderer pages(&engine,
            kind == QLatin1String("png") ? RptPageRenderer::Png : RptPageRenderer::Svg, o.dpi);
        QString error;
        if (!pages.render(o.output, &error))
            return fail(error);
        errors = pages.evaluationErrors();
    } else if (kind == QLatin1String("html")) {
        engine.printHTML(o.output, false);
        errors = engine.evaluationErrors();
    } else {
        engine.printPDF(o.output, false);
        errors = engine.evaluationErrors();
    }
    if (QFileInfo(first).size() == 0)
        return fail(QStringLiteral("cannot write %1: nothing was rendered").arg(first));
    printEvaluationErrors(o, errors);
    if (evaluationErrors)
        *evaluationErrors = errors.size();
    return errors.isEmpty() ? 0 : 1;
}

// One round of --watch: the findings, then the output unless the template
// does not parse. Ends with one line on stderr saying what came of it.
void watchRound(const Options &o)
{
    int errors = 0;
    if (printFindings(o, &errors) != 0)
        return;
    if (o.checkOnly) {
        QTextStream(stderr) << "rptrender: checked " << o.templateFile << ", "
                            << (errors > 0 ? QStringLiteral("%1 error(s)").arg(errors)
                                           : QStringLiteral("no errors"))
                            << "\n";
        return;
    }
    int failed = 0;
    if (render(o, &failed) == 0 || failed > 0)
        QTextStream(stderr) << "rptrender: rendered " << o.output
                            << (failed > 0 ? QStringLiteral(", %1 evaluation error(s)").arg(failed)
                                           : QString())
                            << "\n";
}

// Renders (or checks) now and again whenever the template or the data file
// changes, until interrupted. Editors often replace a file instead of
// writing it, so the paths are watched again after every change, and a
// burst of changes makes one round.
int watch(QApplication &app, const Options &o)
{
    QFileSystemWatcher watcher;
    QTimer settle;
    settle.setSingleShot(true);
    settle.setInterval(150);
    QStringList files { o.templateFile };
    if (!o.dataFile.isEmpty())
        files.append(o.dataFile);
    // True when a file that was gone is watched again.
    const auto rewatch = [&] {
        bool back = false;
        for (const QString &f : qAsConst(files)) {
            if (!watcher.files().contains(f) && QFileInfo::exists(f))
                back = watcher.addPath(f) || back;
        }
        return back;
    };
    // A replaced file is missing for a moment; its directory tells when it
    // is back. Other changes there (our own output among them) do not count.
    for (const QString &f : qAsConst(files))
        watcher.addPath(QFileInfo(f).absolutePath());
    QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &settle, [&] { settle.start(); });
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &settle, [&] {
        if (rewatch())
            settle.start();
    });
    QObject::connect(&settle, &QTimer::timeout, &app, [&] {
        rewatch();
        watchRound(o);
    });
    rewatch();
    watchRound(o);
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    // Rendering needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt warns on stderr without a runtime directory; stderr is for our errors.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray dir
            = QDir::tempPath().toLocal8Bit() + "/rptrender-runtime-" + QByteArray::number(getuid());
        QDir().mkpath(QString::fromLocal8Bit(dir));
        QFile::setPermissions(QString::fromLocal8Bit(dir),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", dir);
    }
    if (qEnvironmentVariableIsEmpty("YXA_RPTRENDER_LOG"))
        qInstallMessageHandler(quietHandler);
    QApplication app(argc, argv);

    QStringList args = app.arguments().mid(1);
    QString dataFile;
    QString dpiText;
    if (!takeOption(args, QStringLiteral("--data"), &dataFile)
        || !takeOption(args, QStringLiteral("--dpi"), &dpiText))
        return usage();
    int dpi = 96;
    if (!dpiText.isEmpty()) {
        bool ok = false;
        dpi = dpiText.toInt(&ok);
        if (!ok || dpi < 10 || dpi > 1200)
            return usage();
    }
    Options o;
    o.dataFile = dataFile;
    o.dpi = dpi;
    o.checkOnly = takeFlag(args, QStringLiteral("--check"));
    o.strict = takeFlag(args, QStringLiteral("--strict"));
    o.watch = takeFlag(args, QStringLiteral("--watch"));
    for (const QString &a : qAsConst(args)) {
        if (a.startsWith(QLatin1String("--")))
            return usage();
    }
    if (o.checkOnly) {
        if (args.size() != 1)
            return usage();
        o.templateFile = args.first();
        return o.watch ? watch(app, o) : check(o);
    }
    if (o.strict || args.size() != 2)
        return usage();
    o.templateFile = args.at(0);
    o.output = args.at(1);
    const QString kind = QFileInfo(o.output).suffix().toLower();
    static const QStringList kinds { QStringLiteral("pdf"), QStringLiteral("html"),
        QStringLiteral("png"), QStringLiteral("svg") };
    if (!kinds.contains(kind))
        return fail(QStringLiteral("cannot write %1: unknown output type \"%2\" (use .pdf, .html, "
                                   ".png or .svg)")
                        .arg(o.output, kind));
    return o.watch ? watch(app, o) : render(o);
}
