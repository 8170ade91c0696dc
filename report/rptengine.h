#pragma once

// The banded report engine.
//
// Division of the engine, calls going one way only:
//
//   RptEngine (this façade, the run host)
//     -> RptReportProcessor -> RptDrawer          layout and drawing
//                              -> RptChartBuilder chart fields' series
//                           -> RptDataFeed        records of named data sets,
//                                                 for cross-tabs and charts
//     -> RptFieldEvaluator  -> RptExpressionEvaluator, RptScriptEngine
//     -> RptDataSets, RptCollectedValues, RptRunState
//     -> RptTemplate        -> model (RptPageObject > RptBandObject >
//                              RptFieldObject > cross-tab)
//   RptPreview: the preview dialog and its exports.
//
// * RptTemplate reads a template into the model; the model's setProperty
//   functions read their own elements. The model includes nothing above it.
// * RptDataSets keeps the data sets, their record counts and the caller's
//   SQL connections, and opens each page's sources (RptSql, RptDsInline,
//   RptDsPlugin).
// * RptRunState is where a run stands (page, record, line counter, page
//   numbers, page range, mode); RptCollectedValues holds the values the
//   aggregates add up and the group lists.
// * RptFieldEvaluator turns a field's value text into its printed text,
//   decides printing conditions and highlighting and runs the global script
//   and the field hooks.
// * RptReportProcessor and RptDrawer walk pages and bands and put fields on
//   a device, on paper or as HTML. What only the caller knows (values,
//   images, fields, charts) and what the caller is told (data sets, pages)
//   goes through RptRunHost, which this class implements by emitting its
//   signals. The print operations below only delegate.
//
// What the layout does, per print run (printPreview):
//   beginRun()                         clear collected values, rebuild the model
//   setCurPage(i); announceDataSets(i); openDataSource(i)   per report page
//   getRecCount(page, bandNo | name)   rows of a master data band
//   setRecNo / setLineCounter / setPageNo / setTotalPages   the context
//   sectionField(band, value, keepFormulas, collect, format)
//                                      the text of a field at recNo
//   isFieldVisible(field), applyHighlighting(field),
//   fillListOfValue(band), listOfPair(), groupIdxList(level), rowList()
//   processGlobalScript(), callBeforeData(field), callAfterData(field, text)
//   sectionValueImage / sectionFieldImage for image fields
// The members of the same names below reach the same state, so a caller or
// a test can drive one step by hand.
//
// An engine and everything it evaluates belong to the thread that uses it;
// all collected values and group lists are per engine, so engines in
// different threads never see each other's data.

#include "aggregatevalues.h"
#include "datasetinfo.h"
#include "rowdata.h"
#include "rptcollectedvalues.h"
#include "rptdatasets.h"
#include "rptevaluationerror.h"
#include "rptexpressionevaluator.h"
#include "rptloaderror.h"
#include "rptname.h"
#include "rptpageobject.h"
#include "rptrunhost.h"
#include "rptrunstate.h"
#include "rptsqlconnection.h"
#include "rpttemplate.h"

#include <QDomDocument>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QPrinter>
#include <QScriptValue>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>

class QPainter;
class RptBandObject;
class RptFieldEvaluator;
class RptFieldObject;
class RptPreview;
class RptReportProcessor;
class RptScriptEngine;

namespace QtCharts {
class QChart;
}

class RptEngine : public QObject, private RptRunHost
{
    Q_OBJECT
    Q_PROPERTY(PageList pageList READ getPageList WRITE setPageList)

    // Before pageList, which is the template's list.
    RptTemplate m_template;

public:
    explicit RptEngine(QObject *parent = nullptr);
    ~RptEngine() override;

    // ---- Template loading --------------------------------------------------
    // A file that cannot be opened or parsed leaves the model as it was and
    // returns false; details (line, column, message) go to lastLoadError()
    // and, when given, to *error.
    bool loadReport(const QString &fileName, RptLoadError *error = nullptr);
    bool loadReport(const QDomDocument &doc);
    const RptLoadError &lastLoadError() const { return m_template.lastLoadError(); }
    bool makeReportObjectStructure();
    void clearObject();
    QDomDocument xmlDoc() const { return m_template.xmlDoc(); }
    PageList getPageList() const { return pageList; }
    void setPageList(const PageList &pages) { pageList = pages; }
    QString globalScript() const { return m_template.globalScript(); }

    static Qt::Alignment getAligment(const QDomElement &e);
    static Qt::PenStyle getPenStyle(const QString &style);
    static RptName::FieldType getFieldType(const QDomElement &e);
    static QString getFieldTypeName(RptName::FieldType type);

    // ---- Data sets and data sources -----------------------------------------
    bool setRecCount(int reportPage, int dataSetNo, int recCount);
    bool setRecCount(int reportPage, const QString &dataSetName, int recCount);
    int getRecCount(int reportPage, int dataSetNo) const;
    int getRecCount(int reportPage, const QString &dataSetName) const;
    QList<DataSetInfo> &dataSetInfoList() { return m_dataSets.infoList(); }

    void setUserSqlConnection(int reportPage, const QString &dsName, const QString &dbType,
        const QString &dbName, const QString &dbHost, const QString &dbUser,
        const QString &dbPassword, int dbPort, const QString &dbConnectionName,
        const QString &sqlQuery, const QString &dbCoding, const QString &charsetCoding);
    void setUserSqlConnection(int reportPage, const RptSqlConnection &connection);
    bool getUserSqlConnection(int reportPage, RptSqlConnection &connection) const;
    void activateUserSqlConnection(int reportPage, bool on);

    // Emits setDSInfo for every master data band of the page (by bandNo,
    // missing numbers skipped) and records the answers.
    void announceDataSets(int reportPage);
    // Opens the page's SQL / inline / plug-in sources and registers counts.
    void openDataSource(int reportPage);

    // ---- Print run --------------------------------------------------------
    // Start of a run: clears collected values, group lists and data-set
    // records, rebuilds the model and hands the caller's SQL connection to
    // its page.
    void beginRun();

    // ---- Evaluation context (driven by the layout) ------------------------
    int curPage() const { return m_state.curPage; }
    void setCurPage(int page) { m_state.curPage = page; }
    int recNo() const { return m_state.recNo; }
    void setRecNo(int recNo) { m_state.recNo = recNo; }
    // The data set the record being evaluated belongs to, for a caller's
    // setValue slot: the data source name of the master data band, cross-tab
    // or chart series asking; empty for the unnamed records.
    QString dataSetName() const { return m_state.dataSet; }
    int lineCounter() const { return m_state.lineCounter; }
    void setLineCounter(int n) { m_state.lineCounter = n; }
    int pageNo() const { return m_state.pageNo; }
    void setPageNo(int n) { m_state.pageNo = n; }
    int totalPages() const { return m_state.totalPages; }
    void setTotalPages(int n) { m_state.totalPages = n; }
    int fromPage() const { return m_state.fromPage; }
    int toPage() const { return m_state.toPage; }
    void setPageRange(int from, int to)
    {
        m_state.fromPage = from;
        m_state.toPage = to;
    }
    RptName::OutputMode mode() const { return m_state.mode; }
    void setMode(RptName::OutputMode mode) { m_state.mode = mode; }

    // Whoever takes the list to change it may change anything in it, so the
    // engine's indexes of it are rebuilt before their next use.
    QList<AggregateValues> &listOfPair() { return m_values.listOfPair(); }
    const QList<AggregateValues> &listOfPair() const { return m_values.listOfPair(); }
    // Level 0..2; any other level yields an always-empty list.
    QList<int> &groupIdxList(int level) { return m_values.groupIdxList(level); }
    QList<RowData> &rowList() { return m_values.rowList(); }
    void clearGroupLists() { m_values.clearGroupLists(); }

    // ---- Field evaluation -------------------------------------------------
    // keepFormulas leaves "<...>" formulas unevaluated (rich text); collect
    // records every data variable's value for the aggregates.
    QString sectionField(RptBandObject *band, const QString &value, bool keepFormulas,
        bool collect = false, const QString &formatString = QString());
    QString stringPreprocessing(const QString &value, const QString &formatString);
    static QStringList splitStringOnVariable(const QString &text);
    QString sectionValue(const QString &token, int recNo = -1);
    QImage sectionFieldImage(const QString &token, int recNo = -1);
    QImage sectionValueImage(const QString &token, int recNo = -1);
    QVariant getInternalVariable(const QString &name, const QString &formatString);
    static QString getFormattedValue(const QString &value, const QString &formatString);
    bool isFieldVisible(RptFieldObject *field);
    QVariant processHighligthing(RptFieldObject *field, RptName::HiType type);
    // All six aspects applied to the field, in the order bold, italic,
    // underline, strike-out, background colour, font colour; each one as
    // processHighligthing computes it.
    void applyHighlighting(RptFieldObject *field);
    void fillListOfValue(RptBandObject *band);
    // The script function SUM: kind 0 sum, 1 average, 2 count, 3 max, 4 min.
    QVariant aggregate(int kind, const QString &name, bool showInGroup, int groupLevel) const;

    // Evaluates one expression with "showInGroup" and "groupLevel" visible
    // to it. It sees what a fresh script engine would: nothing an earlier
    // expression defined or changed, built-in objects included.
    QScriptValue evaluateExpression(
        const QString &program, bool showInGroup = false, int groupLevel = 0);

    // ---- Scripts ----------------------------------------------------------
    // The engine of the global script; a new one with every loaded template.
    RptScriptEngine *scriptEngine() const;
    void processGlobalScript();
    // The field's "...BeforeData" hook; false when the field became invisible.
    bool callBeforeData(RptFieldObject *field);
    // The field's "...AfterData" hook; returns the text to print.
    QString callAfterData(RptFieldObject *field, const QString &text);

    // ---- Evaluation errors --------------------------------------------------
    // What went wrong while the last run evaluated the template, each
    // distinct error once, with the field and its line: formulas, printing
    // conditions, highlighting rules, hooks and the global script that
    // threw, pictures that do not decode. The document still shows what it
    // always did (a failed formula prints its error text). Cleared when a
    // run starts.
    const QList<RptEvaluationError> &evaluationErrors() const;
    // For a caller whose answer to setValue or setValueImage is wrong (an
    // image that does not decode, say): reported at the field being
    // evaluated.
    void reportEvaluationError(const QString &message);
    // On: a data variable neither a data source nor the caller answers is
    // an error too. Off by default, where it prints empty.
    void setUnansweredVariablesAreErrors(bool on);

    // ---- Output (implemented by RptReportProcessor) ------------------------
    void printPDF(const QString &fileName, bool open = false);
    void printHTML(const QString &fileName, bool open = false);
    void printExec(
        bool maximum = false, bool direct = false, const QString &printerName = QString());
    void setPageSettings(QPrinter *printer, int reportPage);
    RptReportProcessor *processor() const { return m_processor; }

    QPrinter::PrinterMode resolution() const;
    // The printer and painter are created on first use.
    QPrinter *printer();
    bool hasPrinter() const;
    QPainter *painter();
    bool hasPainter() const;
    void releasePrinterAndPainter();
    // Draws the following runs with the caller's painter (pages as images),
    // at the given resolution; nullptr gives the runs their own again.
    void setPainter(QPainter *painter);
    void setResolution(QPrinter::PrinterMode mode);
    // Each printed page draws its own page's watermark; an image set here
    // is only kept for the caller, as it always was.
    void setBackgroundImage(const QPixmap &image) { m_backgroundImage = image; }
    QPixmap backgroundImage() const { return m_backgroundImage; }
    void setBackgroundImageOpacity(float opacity) { m_backgroundOpacity = opacity; }
    float backgroundImageOpacity() const { return m_backgroundOpacity; }

    PageList &pageList;

public slots:
    void printPreview(QPrinter *printer);
    void exportTo();

signals:
    void setDSInfo(DataSetInfo &dsInfo);
    void setValue(
        const int recNo, const QString paramName, QVariant &paramValue, const int reportPage);
    void setValueImage(
        const int recNo, const QString paramName, QImage &paramValue, const int reportPage);
    void setField(RptFieldObject &fieldObject);
    void setValueDiagram(RptFieldObject &fieldObject, QtCharts::QChart &chart);
    void setChart(RptFieldObject &fieldObject, QtCharts::QChart &chart);
    void newPage(int page);
    void previewDestroyed();

private:
    void resetScriptEngine();

    // The run host: today's signals, in today's order.
    void prepareRun() override;
    void announceDataSet(DataSetInfo &info) override;
    void announcePage(int page) override;
    void askValue(int recNo, const QString &name, QVariant &value, int reportPage) override;
    void askValueImage(int recNo, const QString &name, QImage &image, int reportPage) override;
    void askField(RptFieldObject &field) override;
    void askChart(RptFieldObject &field, QtCharts::QChart &chart) override;
    void previewClosed() override;

    RptDataSets m_dataSets;
    RptRunState m_state;
    RptCollectedValues m_values;

    std::unique_ptr<RptFieldEvaluator> m_fields;
    RptReportProcessor *m_processor = nullptr;
    RptPreview *m_preview = nullptr;

    QPixmap m_backgroundImage;
    float m_backgroundOpacity = 1.0f;
};

// A new engine with no parent; the caller owns it.
RptEngine *createRptEngine();
