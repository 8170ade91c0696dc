// Report template loading from arbitrary bytes, then one print to PDF and
// one to HTML, as the catering worker prints an order document.
//
// Skipped, because they leave the engine for something else: data sources
// that reach a database server (type "SQL") or load a library ("plugin"),
// script loops (a looping template only shows that scripts can loop), and
// sizes beyond any real order document (over 4 report pages, page or field
// sides over 4000 units, over 200 data records), which would only measure
// the PDF writer.
#include "fuzzsupport.h"
#include "rptengine.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

QTemporaryDir *tempDir = nullptr;

bool outOfBounds(const QDomElement &root)
{
    static const QStringList sides { QStringLiteral("width"), QStringLiteral("height"),
        QStringLiteral("pageWidth"), QStringLiteral("pageHeight"), QStringLiteral("top"),
        QStringLiteral("left") };
    int pages = 0;
    QList<QDomElement> stack { root };
    while (!stack.isEmpty()) {
        const QDomElement e = stack.takeLast();
        if (e.tagName() == QLatin1String("Report") && ++pages > 4)
            return true;
        if (e.tagName() == QLatin1String("DataSource")
            && (e.attribute(QStringLiteral("type")) == QLatin1String("SQL")
                || e.hasAttribute(QStringLiteral("plugin"))))
            return true;
        const QDomNamedNodeMap attributes = e.attributes();
        for (int i = 0; i < attributes.count(); ++i) {
            const QDomAttr a = attributes.item(i).toAttr();
            if (sides.contains(a.name()) && qAbs(a.value().toDouble()) > 4000)
                return true;
        }
        for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
            stack.append(c);
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::fuzzInit(argc, argv, Fuzz::App::Gui);
    tempDir = new QTemporaryDir;
    if (!tempDir->isValid())
        Fuzz::fail("no temporary directory");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = Fuzz::bytes(data, size);
    const QString templatePath = tempDir->filePath(QStringLiteral("template.xml"));
    QFile file(templatePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input) != input.size())
        Fuzz::fail("cannot write the template file");
    file.close();

    RptEngine engine;
    RptLoadError error;
    QDomDocument doc;
    if (!doc.setContent(input)) {
        // The error path of loading: it must refuse, with a place.
        if (engine.loadReport(templatePath, &error))
            Fuzz::fail("a template that is no XML was loaded", input);
        if (!error.hasError || error.message.isEmpty())
            Fuzz::fail("a refused template without a reason", input);
        return 0;
    }
    static const QRegularExpression loop(QStringLiteral("\\b(while|for)\\s*\\("));
    if (loop.match(doc.toString()).hasMatch() || outOfBounds(doc.documentElement()))
        return 0;
    if (!engine.loadReport(templatePath, &error))
        return 0;

    // A caller that has three records for every data set it is asked about;
    // inline data sets bring their own and are bounded here.
    QObject::connect(&engine, &RptEngine::setDSInfo, &engine,
        [](DataSetInfo &info) { info.recCount = 3; }, Qt::DirectConnection);
    QObject::connect(&engine, &RptEngine::setValue, &engine,
        [](const int recNo, const QString name, QVariant &value, const int) {
            value = QStringLiteral("%1 %2").arg(name).arg(recNo);
        },
        Qt::DirectConnection);
    engine.beginRun();
    int records = 0;
    for (int i = 0; i < engine.pageList.size(); ++i) {
        engine.setCurPage(i);
        engine.announceDataSets(i);
        engine.openDataSource(i);
    }
    for (const DataSetInfo &info : engine.dataSetInfoList())
        records += qMax(0, info.recCount);
    if (records > 200)
        return 0;

    engine.printPDF(tempDir->filePath(QStringLiteral("out.pdf")));
    engine.printHTML(tempDir->filePath(QStringLiteral("out.html")));
    return 0;
}
