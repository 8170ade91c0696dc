#include "rptengine.h"

#include "reportlogging.h"
#include "rptbandobject.h"
#include "rptfieldevaluator.h"
#include "rptfieldobject.h"
#include "rptpreview.h"
#include "rptreportprocessor.h"
#include "rptscriptengine.h"

RptEngine *createRptEngine()
{
    return new RptEngine(nullptr);
}

RptEngine::RptEngine(QObject *parent)
    : QObject(parent)
    , m_template(this)
    , pageList(m_template.pages())
    , m_dataSets(m_template.pages())
{
    qRegisterMetaType<DataSetInfo>("DataSetInfo");
    qRegisterMetaType<PageList>("PageList");
    m_fields.reset(new RptFieldEvaluator(this, m_template, m_state, m_values, *this));
    m_processor
        = new RptReportProcessor(this, m_template, m_dataSets, m_state, m_values, *m_fields, *this);
    m_preview = new RptPreview(*m_processor, m_state, *this, this);
}

RptEngine::~RptEngine()
{
    // The processor may look at the engine while it goes; it must go first.
    delete m_processor;
    m_processor = nullptr;
    clearObject();
}

// ---- Loading ------------------------------------------------------------------

bool RptEngine::loadReport(const QString &fileName, RptLoadError *error)
{
    if (!m_template.load(fileName, error))
        return false;
    m_values.clear();
    m_values.clearGroupLists();
    resetScriptEngine();
    return true;
}

bool RptEngine::loadReport(const QDomDocument &doc)
{
    m_values.clear();
    m_values.clearGroupLists();
    resetScriptEngine();
    m_template.load(doc);
    return true;
}

void RptEngine::resetScriptEngine()
{
    m_fields->resetScriptEngine();
}

bool RptEngine::makeReportObjectStructure()
{
    return m_template.build();
}

void RptEngine::clearObject()
{
    m_template.clear();
}

Qt::Alignment RptEngine::getAligment(const QDomElement &e)
{
    return RptTemplate::getAligment(e);
}

Qt::PenStyle RptEngine::getPenStyle(const QString &style)
{
    return RptTemplate::getPenStyle(style);
}

RptName::FieldType RptEngine::getFieldType(const QDomElement &e)
{
    return RptTemplate::getFieldType(e);
}

QString RptEngine::getFieldTypeName(RptName::FieldType type)
{
    return RptTemplate::getFieldTypeName(type);
}

// ---- Data sets and sources ----------------------------------------------------

bool RptEngine::setRecCount(int reportPage, int dataSetNo, int recCount)
{
    return m_dataSets.setRecCount(reportPage, dataSetNo, recCount);
}

bool RptEngine::setRecCount(int reportPage, const QString &dataSetName, int recCount)
{
    return m_dataSets.setRecCount(reportPage, dataSetName, recCount);
}

int RptEngine::getRecCount(int reportPage, int dataSetNo) const
{
    return m_dataSets.getRecCount(reportPage, dataSetNo);
}

int RptEngine::getRecCount(int reportPage, const QString &dataSetName) const
{
    return m_dataSets.getRecCount(reportPage, dataSetName);
}

void RptEngine::setUserSqlConnection(int reportPage, const QString &dsName, const QString &dbType,
    const QString &dbName, const QString &dbHost, const QString &dbUser, const QString &dbPassword,
    int dbPort, const QString &dbConnectionName, const QString &sqlQuery, const QString &dbCoding,
    const QString &charsetCoding)
{
    RptSqlConnection c;
    c.active = true;
    c.reportPage = reportPage;
    c.dsName = dsName;
    c.dbType = dbType;
    c.dbName = dbName;
    c.dbHost = dbHost;
    c.dbUser = dbUser;
    c.dbPassword = dbPassword;
    c.dbPort = dbPort;
    c.dbConnectionName = dbConnectionName;
    c.sqlQuery = sqlQuery;
    c.dbCoding = dbCoding;
    c.charsetCoding = charsetCoding;
    setUserSqlConnection(reportPage, c);
}

void RptEngine::setUserSqlConnection(int reportPage, const RptSqlConnection &connection)
{
    m_dataSets.setUserSqlConnection(reportPage, connection);
}

bool RptEngine::getUserSqlConnection(int reportPage, RptSqlConnection &connection) const
{
    return m_dataSets.getUserSqlConnection(reportPage, connection);
}

void RptEngine::activateUserSqlConnection(int reportPage, bool on)
{
    m_dataSets.activateUserSqlConnection(reportPage, on);
}

void RptEngine::announceDataSets(int reportPage)
{
    m_dataSets.announce(reportPage, [this](DataSetInfo &info) { emit setDSInfo(info); });
}

void RptEngine::openDataSource(int reportPage)
{
    m_dataSets.open(reportPage);
}

void RptEngine::beginRun()
{
    m_values.clear();
    m_values.clearGroupLists();
    m_values.rowList().clear();
    m_fields->forgetHighlighting();
    m_fields->errors().clear();
    makeReportObjectStructure();
    m_dataSets.applyUserSqlConnections();
    m_dataSets.clearInfo();
    m_state.curPage = 0;
    m_state.recNo = 0;
    m_state.lineCounter = 0;
    m_state.pageNo = 1;
}

const QList<RptEvaluationError> &RptEngine::evaluationErrors() const
{
    return m_fields->errors().list();
}

void RptEngine::reportEvaluationError(const QString &message)
{
    m_fields->errors().report(message);
}

void RptEngine::setUnansweredVariablesAreErrors(bool on)
{
    m_fields->errors().setUnansweredAreErrors(on);
}

// ---- Evaluation -------------------------------------------------------------

QStringList RptEngine::splitStringOnVariable(const QString &text)
{
    return RptExpressionEvaluator::variables(text);
}

QVariant RptEngine::getInternalVariable(const QString &name, const QString &formatString)
{
    return m_fields->getInternalVariable(name, formatString);
}

QString RptEngine::stringPreprocessing(const QString &value, const QString &formatString)
{
    return m_fields->stringPreprocessing(value, formatString);
}

QString RptEngine::sectionField(RptBandObject *band, const QString &value, bool keepFormulas,
    bool collect, const QString &formatString)
{
    return m_fields->sectionField(band, value, keepFormulas, collect, formatString);
}

QString RptEngine::sectionValue(const QString &token, int recNo)
{
    return m_fields->sectionValue(token, recNo);
}

QImage RptEngine::sectionFieldImage(const QString &token, int recNo)
{
    return m_fields->sectionFieldImage(token, recNo);
}

QImage RptEngine::sectionValueImage(const QString &token, int recNo)
{
    return m_fields->sectionValueImage(token, recNo);
}

QString RptEngine::getFormattedValue(const QString &value, const QString &formatString)
{
    return RptExpressionEvaluator::formatNumber(value, formatString);
}

bool RptEngine::isFieldVisible(RptFieldObject *field)
{
    return m_fields->isFieldVisible(field);
}

QVariant RptEngine::processHighligthing(RptFieldObject *field, RptName::HiType type)
{
    return m_fields->processHighlighting(field, type);
}

void RptEngine::applyHighlighting(RptFieldObject *field)
{
    m_fields->applyHighlighting(field);
}

void RptEngine::fillListOfValue(RptBandObject *band)
{
    m_fields->fillListOfValue(band);
}

QVariant RptEngine::aggregate(int kind, const QString &name, bool showInGroup, int groupLevel) const
{
    if (kind < RptCollectedValues::Sum || kind > RptCollectedValues::Min)
        return 0;
    return m_values.aggregate(RptCollectedValues::Aggregate(kind), name, showInGroup, groupLevel);
}

QScriptValue RptEngine::evaluateExpression(const QString &program, bool showInGroup, int groupLevel)
{
    return m_fields->evaluateExpression(program, showInGroup, groupLevel);
}

// ---- Scripts ----------------------------------------------------------------

RptScriptEngine *RptEngine::scriptEngine() const
{
    return m_fields->scriptEngine();
}

void RptEngine::processGlobalScript()
{
    m_fields->processGlobalScript();
}

bool RptEngine::callBeforeData(RptFieldObject *field)
{
    return m_fields->callBeforeData(field);
}

QString RptEngine::callAfterData(RptFieldObject *field, const QString &text)
{
    return m_fields->callAfterData(field, text);
}

// ---- Run host ---------------------------------------------------------------

void RptEngine::prepareRun()
{
    beginRun();
}

void RptEngine::announceDataSet(DataSetInfo &info)
{
    emit setDSInfo(info);
}

void RptEngine::announcePage(int page)
{
    emit newPage(page);
}

void RptEngine::askValue(int recNo, const QString &name, QVariant &value, int reportPage)
{
    emit setValue(recNo, name, value, reportPage);
}

void RptEngine::askValueImage(int recNo, const QString &name, QImage &image, int reportPage)
{
    emit setValueImage(recNo, name, image, reportPage);
}

void RptEngine::askField(RptFieldObject &field)
{
    emit setField(field);
}

void RptEngine::askChart(RptFieldObject &field, QtCharts::QChart &chart)
{
    emit setChart(field, chart);
    emit setValueDiagram(field, chart);
}

void RptEngine::previewClosed()
{
    emit previewDestroyed();
}

// ---- Output ------------------------------------------------------------------

void RptEngine::printPDF(const QString &fileName, bool open)
{
    m_processor->printPDF(fileName, open);
}

void RptEngine::printHTML(const QString &fileName, bool open)
{
    m_processor->printHTML(fileName, open);
}

void RptEngine::printExec(bool maximum, bool direct, const QString &printerName)
{
    m_preview->exec(maximum, direct, printerName);
}

void RptEngine::setPageSettings(QPrinter *printer, int reportPage)
{
    m_processor->setPageSettings(printer, reportPage);
}

void RptEngine::printPreview(QPrinter *printer)
{
    m_processor->printPreview(printer);
}

void RptEngine::exportTo()
{
    m_preview->exportTo(sender());
}

QPrinter *RptEngine::printer()
{
    return m_processor->printer();
}

bool RptEngine::hasPrinter() const
{
    return m_processor->hasPrinter();
}

QPainter *RptEngine::painter()
{
    return m_processor->painter();
}

bool RptEngine::hasPainter() const
{
    return m_processor->hasPainter();
}

void RptEngine::releasePrinterAndPainter()
{
    m_processor->releasePrinterAndPainter();
}

void RptEngine::setPainter(QPainter *painter)
{
    m_processor->setPainter(painter);
}

void RptEngine::setResolution(QPrinter::PrinterMode mode)
{
    m_processor->setResolution(mode);
}

QPrinter::PrinterMode RptEngine::resolution() const
{
    return m_processor->resolution();
}
