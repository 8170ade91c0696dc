#include "rptreportprocessor.h"

#include "rptengine.h"

RptReportProcessor::RptReportProcessor(RptEngine *engine)
    : QObject(engine)
    , m_engine(engine)
{
}

RptReportProcessor::~RptReportProcessor() = default;

// Placeholder run: prepares the data of every page without laying anything out.
void RptReportProcessor::printPreview(QPrinter *printer)
{
    Q_UNUSED(printer)
    if (m_engine->pageList.isEmpty())
        return;
    m_engine->beginRun();
    for (int i = 0; i < m_engine->pageList.size(); ++i) {
        m_engine->setCurPage(i);
        m_engine->announceDataSets(i);
        m_engine->openDataSource(i);
    }
}

void RptReportProcessor::printPDF(const QString &fileName, bool open)
{
    Q_UNUSED(fileName)
    Q_UNUSED(open)
    m_engine->setMode(RptName::PdfMode);
    printPreview(nullptr);
}

void RptReportProcessor::printHTML(const QString &fileName, bool open)
{
    Q_UNUSED(fileName)
    Q_UNUSED(open)
    m_engine->setMode(RptName::HtmlMode);
    printPreview(nullptr);
}

void RptReportProcessor::printExec(bool maximum, bool direct, const QString &printerName)
{
    Q_UNUSED(maximum)
    Q_UNUSED(direct)
    Q_UNUSED(printerName)
    m_engine->setMode(RptName::PrinterMode);
}

void RptReportProcessor::setPageSettings(QPrinter *printer, int reportPage)
{
    Q_UNUSED(printer)
    Q_UNUSED(reportPage)
}

void RptReportProcessor::exportTo(QObject *action)
{
    Q_UNUSED(action)
}
