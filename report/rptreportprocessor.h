#pragma once

#include <QList>
#include <QObject>
#include <QPrinter>
#include <QString>

#include <memory>

class QPainter;
class RptBandObject;
class RptCollectedValues;
class RptDataFeed;
class RptDataSets;
class RptDrawer;
class RptFieldEvaluator;
class RptFieldObject;
class RptPageObject;
class RptRunHost;
class RptTemplate;
struct RptRunState;

// Lays a loaded report out over pages and draws it (PDF, HTML, printer,
// preview). The engine creates one (as its child) and delegates its print
// operations here; the processor moves the run state forward, asks the
// field evaluator for values and the run host for what only the caller
// knows, and hands each field of a placed band row to RptDrawer. It owns
// the printer and the painter of its runs.
//
// A print run has two passes over the same layout: the counting pass (draw
// false) finds the page breaks and the page count, the drawing pass puts the
// pages on the printer. Vertical positions (y) are template units from the
// top of the printable area.
class RptReportProcessor : public QObject
{
    Q_OBJECT

public:
    // All but parent must outlive the processor.
    RptReportProcessor(QObject *parent, RptTemplate &reportTemplate, RptDataSets &dataSets,
        RptRunState &state, RptCollectedValues &values, RptFieldEvaluator &fields,
        RptRunHost &host);
    ~RptReportProcessor() override;

    void printPreview(QPrinter *printer);
    void printPDF(const QString &fileName, bool open);
    void printHTML(const QString &fileName, bool open);
    void setPageSettings(QPrinter *printer, int reportPage);

    // Created on first use, kept until released.
    QPrinter *printer();
    bool hasPrinter() const { return m_ownPrinter != nullptr; }
    QPainter *painter();
    bool hasPainter() const { return m_painter != nullptr; }
    // A painter of the caller's for the following runs (a page drawn into an
    // image); nullptr gives the runs their own painter again.
    void setPainter(QPainter *painter);
    void releasePrinterAndPainter();
    // Screen resolution draws borders one device pixel per unit of width.
    void setResolution(QPrinter::PrinterMode mode) { m_resolution = mode; }
    QPrinter::PrinterMode resolution() const { return m_resolution; }

    // Whether the last PDF run could paint (its file could be written).
    bool lastRunPainted() const { return m_lastRunPainted; }

    // The layout steps; public so that a test can drive one of them.
    void processReport(QPrinter *printer, bool draw, int &curPage, bool first);
    void processGroupHeader(QPrinter *printer, int &y, bool draw, int &curPage);
    void processMasterData(QPrinter *printer, int &y, bool draw, int &curPage, int bandNo,
                           const QList<int> &rows);
    void processMHeader(int &y, int bandNo, bool draw, int &curPage);
    void processMFooter(QPrinter *printer, int &y, int bandNo, bool draw, int &curPage);
    void processRTitle(int &y, bool draw);
    void processPHeader(int &y, bool draw);
    void processPFooter(bool draw);
    void processRSummary(QPrinter *printer, int &y, bool draw, int &curPage);
    void newPage(QPrinter *printer, int &y, bool draw, bool withTitle);
    void drawBandRow(RptBandObject *band, int y, bool draw);
    bool allowPrintPage(bool draw, int page) const;
    bool allowNewPage(bool draw, int page) const;

private:
    RptBandObject *band(int type, int bandNo = 1, int groupLevel = 0) const;
    int bandHeight(int type, int bandNo = 1) const;
    int recordCount(RptBandObject *masterData, int bandNo) const;
    // Draws a group header or footer at y, breaking the page first when it
    // does not fit above the page and master footers.
    void processGroupBand(QPrinter *printer, RptBandObject *band, int &y, bool draw, int bandNo);
    // drawBandRow when the page is in the printed range; otherwise only
    // the band's cross-tabs, whose later pages may be.
    void printBandRow(RptBandObject *b, int y, bool draw);
    void drawCrossTab(RptFieldObject *field, int bandTop);
    void prepareCrossTabs(int reportPage);
    // Logs the cross-tabs of a drawn page whose rows did not all print.
    void reportCutCrossTabs(RptPageObject *page);

    RptTemplate &m_template;
    RptDataSets &m_dataSets;
    RptRunState &m_state;
    RptCollectedValues &m_values;
    RptFieldEvaluator &m_fields;
    RptRunHost &m_host;
    std::unique_ptr<RptDrawer> m_drawer;
    std::unique_ptr<RptDataFeed> m_feed;
    QPrinter *m_ownPrinter = nullptr;
    QPainter *m_painter = nullptr;
    bool m_ownsPainter = true;
    QPrinter::PrinterMode m_resolution = QPrinter::HighResolution;
    // The printer of the run in progress.
    QPrinter *m_printer = nullptr;
    // The running position of the layout (the y of processReport), which a
    // cross-tab moves when it breaks the page under a band row.
    int *m_y = nullptr;
    bool m_draw = false;
    bool m_lastRunPainted = false;
};
