// rptrender TEMPLATE OUTPUT [--data FILE.json]
//
// Renders a report template the way the plug-ins do, for template authors
// and for checking output without the host. OUTPUT ending in ".html" gives
// HTML, anything else PDF. Exit 0 on success, 1 when the template, the data
// or the output fails (one line on stderr), 2 on wrong usage.
#include "rptengine.h"
#include "rptrenderdata.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

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
    QTextStream(stderr) << "usage: rptrender TEMPLATE OUTPUT [--data FILE.json]\n";
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    // Rendering needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt warns on stderr without a runtime directory; stderr is for our errors.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray dir = QDir::tempPath().toLocal8Bit() + "/rptrender-runtime-" + QByteArray::number(getuid());
        QDir().mkpath(QString::fromLocal8Bit(dir));
        QFile::setPermissions(QString::fromLocal8Bit(dir), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", dir);
    }
    if (qEnvironmentVariableIsEmpty("YXA_RPTRENDER_LOG"))
        qInstallMessageHandler(quietHandler);
    QApplication app(argc, argv);

    QStringList args = app.arguments().mid(1);
    QString dataFile;
    const int dataAt = args.indexOf(QStringLiteral("--data"));
    if (dataAt >= 0) {
        if (dataAt + 1 >= args.size())
            return usage();
        dataFile = args.at(dataAt + 1);
        args.removeAt(dataAt + 1);
        args.removeAt(dataAt);
    }
    if (args.size() != 2)
        return usage();
    for (const QString &a : qAsConst(args)) {
        if (a.startsWith(QLatin1String("--")))
            return usage();
    }
    const QString templateFile = args.at(0);
    const QString output = args.at(1);

    RptEngine engine;
    RptLoadError loadError;
    if (!engine.loadReport(templateFile, &loadError)) {
        QString reason = loadError.message;
        if (loadError.line > 0)
            reason = QStringLiteral("line %1, column %2: %3").arg(loadError.line).arg(loadError.column).arg(reason);
        return fail(QStringLiteral("cannot load template %1: %2").arg(templateFile, reason));
    }
    if (engine.pageList.isEmpty())
        return fail(QStringLiteral("cannot load template %1: no report page in it").arg(templateFile));

    RptRenderData data;
    if (!dataFile.isEmpty()) {
        QString error;
        if (!data.load(dataFile, &error))
            return fail(error);
    }
    data.attach(&engine);

    // The engine reports nothing when its output cannot be written; find
    // out first, so the failure is ours to tell.
    {
        QFile probe(output);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(QStringLiteral("cannot write %1: %2").arg(output, probe.errorString()));
    }
    if (output.endsWith(QLatin1String(".html"), Qt::CaseInsensitive))
        engine.printHTML(output, false);
    else
        engine.printPDF(output, false);
    if (QFileInfo(output).size() == 0)
        return fail(QStringLiteral("cannot write %1: nothing was rendered").arg(output));
    return 0;
}
