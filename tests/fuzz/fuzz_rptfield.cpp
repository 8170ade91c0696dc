// Field evaluation of the report engine on arbitrary texts: a field's value
// text (variables, internal variables, formulas, aggregates), its printing
// condition, its highlighting text and its format, over a small loaded
// template whose data the fuzz input also supplies.
//
// Input: up to five lines, "\n"-separated: value text, printing condition,
// highlighting text, format string, the value every data variable has.
//
// Formulas are scripts; a loop in one is the template author's choice and
// would only show that scripts can loop, so inputs with loop keywords are
// skipped. Everything else a formula can do (recursion, huge strings,
// throwing) stays in.
#include "fuzzsupport.h"
#include "rptbandobject.h"
#include "rptengine.h"
#include "rptfieldobject.h"
#include "rptpageobject.h"

#include <QDomDocument>
#include <QRegularExpression>

namespace {

const char kTemplate[] = R"xml(<Reports lib="RptEngine">
<Report pageWidth="840" pageHeight="1188">
  <ReportBand name="header" type="PageHeader" height="40">
    <TContainerField name="title" type="label" value="Objednávka" width="300" height="20"/>
  </ReportBand>
  <ReportBand name="md" type="MasterData" height="30" groupingField="[name]" groupLevel="1">
    <TContainerField name="f" type="label" value="[name]" left="10" width="400" height="20"
        fontColor="rgba(0,0,0,255)" backgroundColor="rgba(255,255,255,255)"/>
  </ReportBand>
</Report>
</Reports>)xml";

// Answers the engine's data questions: three records, every variable
// holding the input's data value.
class DataCaller : public QObject
{
public:
    explicit DataCaller(RptEngine *engine)
    {
        connect(engine, &RptEngine::setDSInfo, this,
            [](DataSetInfo &info) { info.recCount = 3; }, Qt::DirectConnection);
        connect(engine, &RptEngine::setValue, this,
            [this](const int, const QString, QVariant &value, const int) { value = data; },
            Qt::DirectConnection);
    }
    QString data;
};

RptEngine *engine = nullptr;
DataCaller *caller = nullptr;

bool hasLoop(const QString &text)
{
    static const QRegularExpression loop(QStringLiteral("\\b(while|for)\\s*\\("));
    return loop.match(text).hasMatch();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::fuzzInit(argc, argv, Fuzz::App::Gui);
    engine = new RptEngine;
    QDomDocument doc;
    if (!doc.setContent(QByteArray(kTemplate)) || !engine->loadReport(doc))
        Fuzz::fail("the built-in template does not load");
    caller = new DataCaller(engine);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = QString::fromUtf8(Fuzz::bytes(data, size));
    if (hasLoop(input))
        return 0;
    const QStringList parts = input.split(QLatin1Char('\n'));
    const QString value = parts.value(0);
    const QString printing = parts.value(1);
    const QString highlighting = parts.value(2);
    const QString format = parts.value(3);
    caller->data = parts.value(4);

    // As the layout prepares a run: a fresh model, the page's data announced.
    engine->beginRun();
    engine->setCurPage(0);
    engine->announceDataSets(0);
    engine->openDataSource(0);
    if (engine->pageList.isEmpty() || engine->pageList.first()->bands.size() < 2)
        Fuzz::fail("the built-in template lost its bands");
    RptBandObject *band = engine->pageList.first()->bands.at(1);
    if (band->fields.isEmpty())
        Fuzz::fail("the built-in template lost its field");
    RptFieldObject *field = band->fields.first();
    field->printing = printing;
    field->highlighting = highlighting;
    field->formatString = format;

    for (int rec = 0; rec < 2; ++rec) {
        engine->setRecNo(rec);
        engine->setLineCounter(rec + 1);
        field->setRecNo(rec);
        engine->sectionField(band, value, false, true, format);
        engine->sectionField(band, value, true);
        engine->isFieldVisible(field);
        for (int type = RptName::FntBold; type <= RptName::BgColor; ++type)
            engine->processHighligthing(field, RptName::HiType(type));
        engine->applyHighlighting(field);
    }
    RptEngine::splitStringOnVariable(value);
    RptEngine::getFormattedValue(caller->data, format);
    engine->stringPreprocessing(caller->data, format);
    return 0;
}
