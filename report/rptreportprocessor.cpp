#include "rptreportprocessor.h"

#include "reportlogging.h"
#include "rptbandobject.h"
#include "rptcollectedvalues.h"
#include "rptcrosstabobject.h"
#include "rptdatafeed.h"
#include "rptdatasets.h"
#include "rptdrawer.h"
#include "rptfieldevaluator.h"
#include "rptfieldobject.h"
#include "rptpageobject.h"
#include "rptrunhost.h"
#include "rptrunstate.h"
#include "rpttemplate.h"

#include <QDesktopServices>
#include <QFile>
#include <QFont>
#include <QHash>
#include <QPainter>
#include <QPrinter>
#include <QUrl>
#include <QVector>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace {

// Templates name the Windows faces; the metric-compatible Liberation faces
// keep their text widths (and carry the Slovak letters).
void installFontSubstitutes()
{
    static const bool done = [] {
        QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
        QFont::insertSubstitution(QStringLiteral("Helvetica"), QStringLiteral("Liberation Sans"));
        QFont::insertSubstitution(QStringLiteral("MS Shell Dlg 2"), QStringLiteral("Liberation Sans"));
        QFont::insertSubstitution(QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"));
        QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
        return true;
    }();
    Q_UNUSED(done)
}

// Grouping values are texts; numbers among them sort as numbers, so that
// group 9 comes before group 10. The order must be a strict weak order, or
// the sort scatters a group's rows: numbers come before texts, numbers that
// are equal as numbers but written differently ("1", "1.0", "01") are told
// apart by their text, and texts compare as texts. The group end uses the
// same comparison, so a group is exactly a run of rows that compare equal.
struct SortKey
{
    QString text;
    double number = 0;
    bool isNumber = false;
};

SortKey sortKey(const QVariant &value)
{
    SortKey key;
    key.text = value.toString();
    bool ok = false;
    key.number = key.text.toDouble(&ok);
    // "nan" and "inf" convert, but NaN compares with nothing.
    key.isNumber = ok && std::isfinite(key.number);
    return key;
}

int compareKeys(const SortKey &a, const SortKey &b)
{
    if (a.isNumber != b.isNumber)
        return a.isNumber ? -1 : 1;
    if (a.isNumber && a.number != b.number)
        return a.number < b.number ? -1 : 1;
    return a.text.compare(b.text);
}

} // namespace

RptReportProcessor::RptReportProcessor(QObject *parent, RptTemplate &reportTemplate,
    RptDataSets &dataSets, RptRunState &state, RptCollectedValues &values,
    RptFieldEvaluator &fields, RptRunHost &host)
    : QObject(parent)
    , m_template(reportTemplate)
    , m_dataSets(dataSets)
    , m_state(state)
    , m_values(values)
    , m_fields(fields)
    , m_host(host)
    , m_drawer(new RptDrawer(state, fields, host))
    , m_feed(new RptDataFeed(fields, dataSets, state))
{
    m_drawer->setDataFeed(m_feed.get());
    installFontSubstitutes();
}

RptReportProcessor::~RptReportProcessor()
{
    releasePrinterAndPainter();
}

QPrinter *RptReportProcessor::printer()
{
    if (!m_ownPrinter)
        m_ownPrinter = new QPrinter(resolution());
    return m_ownPrinter;
}

QPainter *RptReportProcessor::painter()
{
    if (!m_painter) {
        m_painter = new QPainter;
        m_ownsPainter = true;
    }
    return m_painter;
}

void RptReportProcessor::setPainter(QPainter *painter)
{
    if (painter == m_painter)
        return;
    if (m_ownsPainter) {
        if (m_painter && m_painter->isActive())
            m_painter->end();
        delete m_painter;
    }
    m_painter = painter;
    m_ownsPainter = painter == nullptr;
}

void RptReportProcessor::releasePrinterAndPainter()
{
    if (m_ownsPainter) {
        if (m_painter && m_painter->isActive())
            m_painter->end();
        delete m_painter;
    }
    m_painter = nullptr;
    m_ownsPainter = true;
    delete m_ownPrinter;
    m_ownPrinter = nullptr;
}

RptBandObject *RptReportProcessor::band(int type, int bandNo, int groupLevel) const
{
    RptPageObject *page = m_template.pages().value(m_state.curPage, nullptr);
    return page ? page->getBand(RptName::BandType(type), bandNo, groupLevel) : nullptr;
}

int RptReportProcessor::bandHeight(int type, int bandNo) const
{
    const RptBandObject *b = band(type, bandNo);
    return b ? b->realHeight : 0;
}

int RptReportProcessor::recordCount(RptBandObject *masterData, int bandNo) const
{
    if (!masterData)
        return 0;
    if (!masterData->dataSourceName.isEmpty())
        return m_dataSets.getRecCount(m_state.curPage, masterData->dataSourceName);
    return m_dataSets.getRecCount(m_state.curPage, bandNo);
}

// ---- Print run ----------------------------------------------------------------

void RptReportProcessor::printPreview(QPrinter *printer)
{
    if (m_template.pages().isEmpty() || !printer)
        return;
    m_printer = printer;
    const RptName::OutputMode mode = m_state.mode;
    QPainter *painter = this->painter();
    m_drawer->setScreenResolution(m_resolution == QPrinter::ScreenResolution);
    m_drawer->beginRun(painter, printer, mode);
    m_drawer->setPageSettings(printer, m_template.pages().first());
    bool begun = false;
    if (mode != RptName::HtmlMode && !painter->isActive()) {
        begun = painter->begin(printer);
        if (!begun) {
            qCWarning(lcReport).noquote()
                << QStringLiteral("RptReportProcessor::printPreview(\"%1\")").arg(printer->outputFileName())
                << "cannot paint on the printer";
        }
    }
    m_lastRunPainted = painter->isActive();
    m_state.fromPage = printer->fromPage();
    m_state.toPage = printer->toPage();

    m_host.prepareRun();

    // Counting pass: the layout of every page, visible or not.
    m_state.pageNo = 1;
    int reached = 0;
    for (int i = 0; i < m_template.pages().size(); ++i) {
        RptPageObject *page = m_template.pages().at(i);
        m_state.curPage = i;
        m_dataSets.announce(i, [this](DataSetInfo &info) { m_host.announceDataSet(info); });
        m_dataSets.open(i);
        m_values.clearGroupLists();
        m_state.recNo = 0;
        int curPage = i;
        processReport(printer, false, curPage, i == 0);
        m_state.totalPages = m_state.pageNo;
        prepareCrossTabs(i);
        // Each part of a cross-tab after its first takes a page of its own;
        // a cross-tab without cells (no columns) prints nothing and adds none.
        int extra = 0;
        for (RptFieldObject *field : page->crossTabs()) {
            if (field->crossTab && !field->crossTab->fields.isEmpty())
                extra += field->crossTab->parts() - 1;
        }
        const int pages = m_state.pageNo + extra - reached;
        page->setTotalPages(static_cast<unsigned short>(qMax(0, pages)));
        reached = m_state.pageNo;
    }
    int total = 0;
    for (RptPageObject *page : qAsConst(m_template.pages())) {
        if (page->isVisible())
            total += page->totalPages();
    }
    m_state.totalPages = total;

    // Drawing pass.
    if (painter->isActive())
        painter->resetTransform();
    m_drawer->resetOrientation();
    m_fields.processGlobalScript();
    m_state.pageNo = 1;
    bool first = true;
    for (int i = 0; i < m_template.pages().size(); ++i) {
        if (!m_template.pages().at(i)->isVisible())
            continue;
        m_values.clearGroupLists();
        m_state.recNo = 0;
        m_state.curPage = i;
        int curPage = i;
        processReport(printer, true, curPage, first);
        first = false;
    }

    if (begun)
        painter->end();
    m_drawer->endRun();
    m_y = nullptr;
}

void RptReportProcessor::prepareCrossTabs(int reportPage)
{
    RptPageObject *page = m_template.pages().value(reportPage, nullptr);
    if (!page)
        return;
    for (RptFieldObject *field : page->crossTabs()) {
        // A row per record of the cross-tab's data set, if it has any; the
        // caller may set the row count (and change parameters) after that.
        m_feed->setRows(field->crossTab);
        m_host.askField(*field);
        if (field->crossTab && !field->crossTab->isMatrixBuilt())
            field->crossTab->buildMatrix();
    }
}

void RptReportProcessor::reportCutCrossTabs(RptPageObject *page)
{
    // A table that began to print but did not end: the pages counted for
    // a master data band ran out before its rows did.
    for (RptFieldObject *field : page->crossTabs()) {
        const RptCrossTabObject *tab = field->crossTab;
        if (!tab || tab->processedCount() <= 0 || tab->processedCount() >= tab->fields.size() || tab->colCount() <= 0)
            continue;
        const int printed = tab->processedCount() / tab->colCount();
        qCWarning(lcReport).noquote()
            << QStringLiteral("RptReportProcessor::drawCrossTab(\"%1\")").arg(field->objectName())
            << QStringLiteral("%1 of %2 rows cut: no page left in the page count")
                   .arg(tab->rowCount() - printed)
                   .arg(tab->rowCount());
    }
}

void RptReportProcessor::processReport(QPrinter *printer, bool draw, int &curPage, bool first)
{
    RptPageObject *page = m_template.pages().value(curPage, nullptr);
    if (!page)
        return;
    m_draw = draw;
    QPainter *painter = this->painter();
    const bool active = painter->isActive();
    if (active) {
        painter->resetTransform();
        painter->save();
    }
    page->initCrossTabProcessedRows();
    // The transform was reset above, so the page's orientation is applied
    // again even when the previous page had the same one.
    m_drawer->resetOrientation();
    m_drawer->setPageSettings(printer, page);
    int y = 0;
    m_y = &y;
    if (first) {
        m_drawer->drawBackground(draw);
        processPHeader(y, draw);
        // The footer goes on before the title: a title that breaks the page
        // (a cross-tab in it) must leave this page with its footer.
        processPFooter(draw);
        if (m_state.pageNo == 1)
            processRTitle(y, draw);
    } else {
        newPage(printer, y, draw, true);
    }
    processGroupHeader(printer, y, draw, curPage);
    processRSummary(printer, y, draw, curPage);
    if (draw)
        reportCutCrossTabs(page);
    m_y = nullptr;
    if (active && painter->isActive())
        painter->restore();
}

bool RptReportProcessor::allowPrintPage(bool draw, int page) const
{
    if (!draw)
        return false;
    if (page < m_state.fromPage)
        return false;
    return m_state.toPage == 0 || page <= m_state.toPage;
}

bool RptReportProcessor::allowNewPage(bool draw, int page) const
{
    if (!draw)
        return false;
    if (m_state.pageNo < m_state.fromPage || page < m_state.fromPage)
        return false;
    return m_state.toPage == 0 || page <= m_state.toPage;
}

void RptReportProcessor::newPage(QPrinter *printer, int &y, bool draw, bool withTitle)
{
    const bool html = m_state.mode == RptName::HtmlMode;
    if (!html && allowNewPage(draw, m_state.pageNo + 1) && printer) {
        printer->newPage();
        m_drawer->drawBackground(draw);
    }
    m_state.pageNo = m_state.pageNo + 1;
    if (draw)
        m_host.announcePage(m_state.pageNo);
    // HTML is one continuous sheet.
    if (!html)
        y = 0;
    processPHeader(y, draw);
    processPFooter(draw);
    if (withTitle)
        processRTitle(y, draw);
}

void RptReportProcessor::processPHeader(int &y, bool draw)
{
    if (m_state.mode == RptName::HtmlMode)
        return;
    RptBandObject *b = band(RptName::PageHeader);
    if (!b)
        return;
    printBandRow(b, y, draw);
    y += b->realHeight;
}

void RptReportProcessor::processRTitle(int &y, bool draw)
{
    RptBandObject *b = band(RptName::ReportTitle);
    if (!b)
        return;
    printBandRow(b, y, draw);
    y += b->realHeight;
}

void RptReportProcessor::processPFooter(bool draw)
{
    if (m_state.mode == RptName::HtmlMode)
        return;
    RptBandObject *b = band(RptName::PageFooter);
    if (!b)
        return;
    if (allowPrintPage(draw, m_state.pageNo))
        drawBandRow(b, m_drawer->usableHeight() - b->realHeight, true);
}

void RptReportProcessor::processMHeader(int &y, int bandNo, bool draw, int &curPage)
{
    Q_UNUSED(curPage)
    RptBandObject *b = band(RptName::MasterHeader, bandNo);
    if (!b)
        return;
    printBandRow(b, y, draw);
    y += b->realHeight;
}

void RptReportProcessor::processMFooter(QPrinter *printer, int &y, int bandNo, bool draw, int &curPage)
{
    Q_UNUSED(curPage)
    RptBandObject *b = band(RptName::MasterFooter, bandNo);
    if (!b)
        return;
    if (m_drawer->usableHeight() - b->realHeight < y)
        newPage(printer, y, draw, false);
    printBandRow(b, y, draw);
    y += b->realHeight;
}

void RptReportProcessor::processRSummary(QPrinter *printer, int &y, bool draw, int &curPage)
{
    Q_UNUSED(curPage)
    RptBandObject *b = band(RptName::ReportSummary);
    if (!b)
        return;
    if (m_drawer->usableHeight() < b->realHeight + y)
        newPage(printer, y, draw, false);
    printBandRow(b, y, draw);
    y += b->realHeight;
}

void RptReportProcessor::processGroupBand(QPrinter *printer, RptBandObject *b, int &y, bool draw, int bandNo)
{
    const int room = m_drawer->usableHeight() - bandHeight(RptName::PageFooter) - bandHeight(RptName::MasterFooter, bandNo);
    if (room < b->realHeight + y)
        newPage(printer, y, draw, false);
    printBandRow(b, y, draw);
    y += b->realHeight;
}

void RptReportProcessor::processGroupHeader(QPrinter *printer, int &y, bool draw, int &curPage)
{
    for (int n = 1; n <= 5; ++n) {
        m_state.recNo = 0;
        m_state.lineCounter = 0;
        RptBandObject *groupHeader = band(RptName::DataGroupHeader, n);
        RptBandObject *groupFooter[3] = {band(RptName::DataGroupFooter, n, 0), band(RptName::DataGroupFooter, n, 1),
                                         band(RptName::DataGroupFooter, n, 2)};
        RptBandObject *masterHeader = band(RptName::MasterHeader, n);
        RptBandObject *masterData = band(RptName::MasterData, n);
        RptBandObject *masterFooter = band(RptName::MasterFooter, n);
        m_state.dataSet = masterData ? masterData->dataSourceName : QString();

        QStringList expressions;
        if (masterData && !masterData->groupingField.isEmpty()) {
            const QStringList parts = masterData->groupingField.split(QLatin1Char(','));
            for (int k = 0; k < parts.size() && k < 3; ++k)
                expressions.append(parts.at(k).trimmed());
            m_fields.fillListOfValue(masterData);
            const int count = recordCount(masterData, n);
            // Every record is collected; a record count no larger than the
            // report page's index must not drop the page's groups.
            if (count > 0) {
                m_fields.setCurrentBand(masterData);
                for (int j = 0; j < count; ++j) {
                    m_state.recNo = j;
                    for (const QString &e : qAsConst(expressions))
                        m_fields.sectionField(masterData, e, false, true, QString());
                }
            }
        }

        if (expressions.isEmpty()) {
            processMHeader(y, n, draw, curPage);
            processMasterData(printer, y, draw, curPage, n, QList<int>());
            processMFooter(printer, y, n, draw, curPage);
            continue;
        }
        if (m_values.listOfPair().isEmpty())
            continue;

        // Each record's grouping values, sorted.
        QList<RowData> &rows = m_values.rowList();
        rows.clear();
        QHash<int, int> indexOfRecord;
        for (int k = 0; k < expressions.size(); ++k) {
            QString name = expressions.at(k);
            name.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
            for (const AggregateValues &v : qAsConst(m_values.listOfPair())) {
                if (v.reportPage != curPage || v.paramName != name)
                    continue;
                auto it = indexOfRecord.constFind(v.lnNo);
                int index;
                if (it == indexOfRecord.constEnd()) {
                    RowData row;
                    row.recNo = v.lnNo;
                    rows.append(row);
                    index = rows.size() - 1;
                    indexOfRecord.insert(v.lnNo, index);
                } else {
                    index = *it;
                }
                rows[index].values[k] = v.paramValue;
            }
        }
        // Each value is read as text and number once, not in every comparison.
        QVector<std::array<SortKey, 3>> keys(rows.size());
        for (int i = 0; i < rows.size(); ++i) {
            for (int k = 0; k < 3; ++k)
                keys[i][k] = sortKey(rows.at(i).values[k]);
        }
        QVector<int> order(rows.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            for (int k = 0; k < 3; ++k) {
                const int c = compareKeys(keys.at(a)[k], keys.at(b)[k]);
                if (c != 0)
                    return c < 0;
            }
            return rows.at(a).recNo < rows.at(b).recNo;
        });
        {
            QList<RowData> sorted;
            sorted.reserve(rows.size());
            QVector<std::array<SortKey, 3>> sortedKeys;
            sortedKeys.reserve(rows.size());
            for (const int i : qAsConst(order)) {
                sorted.append(rows.at(i));
                sortedKeys.append(keys.at(i));
            }
            rows = sorted;
            keys = sortedKeys;
        }

        if (masterHeader && !masterHeader->showInGroup)
            processMHeader(y, n, draw, curPage);

        bool headerDue = true;
        bool firstGroup = true;
        QList<int> current;
        for (int i = 0; i < rows.size(); ++i) {
            const RowData &row = rows.at(i);
            const bool last = i == rows.size() - 1;
            bool ended[3];
            bool any = false;
            for (int k = 0; k < 3; ++k) {
                ended[k] = last || compareKeys(keys.at(i)[k], keys.at(i + 1)[k]) != 0;
                any = any || ended[k];
            }
            for (int k = 0; k < 3; ++k)
                m_values.groupIdxList(k).append(row.recNo);
            current.append(row.recNo);
            if (!any)
                continue;

            if (headerDue) {
                if (masterData->startNewPage && !firstGroup)
                    newPage(printer, y, draw, false);
                m_state.recNo = row.recNo;
                if (groupHeader)
                    processGroupBand(printer, groupHeader, y, draw, n);
            }
            firstGroup = false;
            if (masterHeader && masterHeader->showInGroup)
                processMHeader(y, n, draw, curPage);
            std::sort(current.begin(), current.end());
            processMasterData(printer, y, draw, curPage, n, current);
            if (masterFooter && masterFooter->showInGroup)
                processMFooter(printer, y, n, draw, curPage);
            m_state.recNo = row.recNo;
            for (int k = 2; k >= 0; --k) {
                if (groupFooter[k] && ended[k])
                    processGroupBand(printer, groupFooter[k], y, draw, n);
            }
            for (int k = 0; k < 3; ++k) {
                if (!ended[k])
                    continue;
                m_values.groupIdxList(k).clear();
                if (k == 0 && masterData->startNewNumeration)
                    m_state.lineCounter = 0;
            }
            current.clear();
            headerDue = ended[0];
        }

        if (masterFooter && !masterFooter->showInGroup)
            processMFooter(printer, y, n, draw, curPage);
    }
    m_state.dataSet.clear();
}

void RptReportProcessor::processMasterData(QPrinter *printer, int &y, bool draw, int &curPage, int bandNo,
                                           const QList<int> &rows)
{
    RptBandObject *masterData = band(RptName::MasterData, bandNo);
    if (!masterData)
        return;
    Q_UNUSED(curPage)
    const int footers = bandHeight(RptName::PageFooter) + bandHeight(RptName::MasterFooter, bandNo);
    const int count = recordCount(masterData, bandNo);
    if (count < 1)
        return;
    const bool html = m_state.mode == RptName::HtmlMode;
    auto printRow = [&](int i) {
        m_state.recNo = i;
        ++m_state.lineCounter;
        drawBandRow(masterData, y, false);
        const int rowHeight = masterData->height;
        if (!html && m_drawer->usableHeight() - footers < rowHeight + y) {
            newPage(printer, y, draw, false);
            processMHeader(y, bandNo, draw, curPage);
        }
        if (allowPrintPage(draw, m_state.pageNo))
            drawBandRow(masterData, y, true);
        else
            m_fields.fillListOfValue(masterData);
        y += rowHeight;
    };
    if (rows.isEmpty()) {
        for (int i = 0; i < count; ++i)
            printRow(i);
    } else {
        // rows is in ascending order.
        for (int i : rows) {
            if (i >= 0 && i < count)
                printRow(i);
        }
    }
}

void RptReportProcessor::drawBandRow(RptBandObject *b, int y, bool draw)
{
    if (!b)
        return;
    b->height = b->realHeight;
    // Only auto-height labels can change the row's height; nothing else
    // needs the measuring pass.
    for (RptFieldObject *field : qAsConst(b->fields)) {
        if (field->autoHeight && field->fieldType == RptName::Label)
            m_drawer->drawField(field, y, false);
    }
    if (!draw)
        return;
    for (RptFieldObject *field : qAsConst(b->fields)) {
        if (field->fieldType == RptName::Line)
            m_drawer->drawLine(field, y);
        else if (field->fieldType == RptName::CrossTab)
            drawCrossTab(field, y);
        else
            m_drawer->drawField(field, y, true);
    }
}

void RptReportProcessor::printBandRow(RptBandObject *b, int y, bool draw)
{
    if (allowPrintPage(draw, m_state.pageNo)) {
        drawBandRow(b, y, true);
        return;
    }
    // A cross-tab may go on to pages in the range from one that is not:
    // it is walked anyway and prints the cells that fall in the range.
    for (RptFieldObject *field : qAsConst(b->fields)) {
        if (draw && field->fieldType == RptName::CrossTab)
            drawCrossTab(field, y);
    }
}

void RptReportProcessor::drawCrossTab(RptFieldObject *field, int bandTop)
{
    // The field itself: the caller sees it, and its printing condition holds.
    m_drawer->drawField(field, bandTop, true);
    if (!m_fields.isFieldVisible(field) || !field->crossTab)
        return;
    RptCrossTabObject *tab = field->crossTab;
    if (!tab->isMatrixBuilt())
        tab->buildMatrix();
    if (tab->colCount() <= 0 || tab->fields.isEmpty())
        return;
    // A page holds one part: header, that page's data rows, subtotal.
    const int perPage = tab->visibleRowCount() > 0 ? tab->rowsPerPart() : 0;
    const int cols = tab->colCount();
    // A master data band prints its row once per record, and each record
    // continues the table; the page header and footer print with every new
    // page, which would start the next part. There the page count of the
    // counting pass limits the table's pages. Elsewhere the table breaks
    // pages like any band does.
    const RptName::BandType bandType = field->parent ? field->parent->type : RptName::Undefined;
    const bool limited = bandType == RptName::MasterData || bandType == RptName::PageHeader
        || bandType == RptName::PageFooter;
    int top = bandTop;
    int rowOnPage = 0;
    int lastRow = -1;
    for (int i = tab->processedCount(); i < tab->fields.size(); ++i) {
        RptFieldObject *cell = tab->fields.at(i);
        const int row = i / cols;
        if (row != lastRow) {
            if (lastRow >= 0)
                ++rowOnPage;
            lastRow = row;
            if (perPage > 0 && rowOnPage >= perPage) {
                if (!m_y)
                    break;
                // The next record goes on where this one stops.
                if (limited && m_state.pageNo >= m_state.totalPages)
                    break;
                newPage(m_printer, *m_y, m_draw, false);
                top = *m_y;
                rowOnPage = 0;
            }
        }
        cell->rect.moveTop(field->rect.top() + rowOnPage * tab->rowHeight());
        cell->rect.setHeight(tab->rowHeight());
        if (tab->isHeaderField(cell))
            cell->value = tab->header(cell);
        else if (tab->isTotalField(cell))
            cell->value = tab->total(cell);
        else {
            m_feed->fillCell(tab, cell);
            m_host.askField(*cell);
        }
        if (allowPrintPage(m_draw, m_state.pageNo))
            m_drawer->drawField(cell, top, true);
        tab->setProcessedCount(i + 1);
    }
}

// ---- Output -------------------------------------------------------------------

void RptReportProcessor::printPDF(const QString &fileName, bool open)
{
    m_state.mode = RptName::PdfMode;
    QPrinter *printer = this->printer();
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(fileName);
    this->painter();
    printPreview(printer);
    if (open)
        QDesktopServices::openUrl(QUrl(QStringLiteral("file:") + fileName));
}

void RptReportProcessor::printHTML(const QString &fileName, bool open)
{
    m_state.mode = RptName::HtmlMode;
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qCWarning(lcReport).noquote() << QStringLiteral("RptReportProcessor::printHTML(\"%1\")").arg(fileName)
                                      << file.errorString();
        return;
    }
    QPrinter *printer = this->printer();
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(QString());
    this->painter();
    printPreview(printer);
    QString html = QStringLiteral("<HTML><HEAD><meta charset=\"UTF-8\"></HEAD><BODY>");
    html += m_drawer->html();
    html += QLatin1String("</BODY></HTML>");
    file.write(html.toUtf8());
    file.close();
    if (open)
        QDesktopServices::openUrl(QUrl(QStringLiteral("file:") + fileName));
}

void RptReportProcessor::setPageSettings(QPrinter *printer, int reportPage)
{
    m_drawer->setPageSettings(printer, m_template.pages().value(reportPage, nullptr));
}
