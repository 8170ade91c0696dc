#include "rptpreview.h"

#include "rptreportprocessor.h"
#include "rptrunhost.h"
#include "rptrunstate.h"

#include <QAction>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScreen>
#include <QToolBar>

RptPreview::RptPreview(
    RptReportProcessor &processor, RptRunState &state, RptRunHost &host, QObject *parent)
    : QObject(parent)
    , m_processor(processor)
    , m_state(state)
    , m_host(host)
{
}

void RptPreview::exec(bool maximum, bool direct, const QString &printerName)
{
    m_state.mode = RptName::PrinterMode;
    QPrinter *printer = m_processor.printer();
    printer->setPrinterName(printerName);
    if (!printer->isValid())
        printer->setPrinterName(QPrinterInfo::defaultPrinterName());
    m_processor.painter();
    if (direct) {
        m_processor.printPreview(printer);
        return;
    }
    auto *dialog = new QPrintPreviewDialog(printer);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        dialog->setGeometry(QRect(QPoint(5, 30), QPoint(area.right() - 6, area.bottom() - 6)));
    }
    connect(dialog, &QPrintPreviewDialog::paintRequested, &m_processor,
        &RptReportProcessor::printPreview);
    if (QToolBar *bar = dialog->findChild<QToolBar *>()) {
        auto *pdf = new QAction(QIcon(QStringLiteral(":/pdf.png")), tr("Save as PDF"), dialog);
        pdf->setObjectName(QStringLiteral("actExpToPdf"));
        auto *html = new QAction(QIcon(QStringLiteral(":/html.png")), tr("Save as HTML"), dialog);
        html->setObjectName(QStringLiteral("actExpToHtml"));
        connect(pdf, &QAction::triggered, this, [this, pdf] { exportTo(pdf); });
        connect(html, &QAction::triggered, this, [this, html] { exportTo(html); });
        bar->addAction(pdf);
        bar->addAction(html);
    }
    if (maximum) {
        if (QPrintPreviewWidget *preview = dialog->findChild<QPrintPreviewWidget *>())
            preview->fitToWidth();
    }
    connect(dialog, &QObject::destroyed, this, [this] {
        m_host.previewClosed();
        m_processor.releasePrinterAndPainter();
    });
    dialog->exec();
}

void RptPreview::exportTo(QObject *action)
{
    if (!action)
        return;
    const QString name = action->objectName();
    QString filter;
    if (name == QLatin1String("actExpToPdf"))
        filter = QStringLiteral("PDF Files (*.pdf)");
    else if (name == QLatin1String("actExpToHtml"))
        filter = QStringLiteral("HTML Files (*.html)");
    else
        return;
    const QString fileName
        = QFileDialog::getSaveFileName(nullptr, tr("Save File"), QString(), filter);
    if (fileName.isEmpty())
        return;
    // The preview paints on the same printer: give it back as it was.
    QPrinter *printer = m_processor.hasPrinter() ? m_processor.printer() : nullptr;
    const QPrinter::OutputFormat format
        = printer ? printer->outputFormat() : QPrinter::NativeFormat;
    const QString outputFile = printer ? printer->outputFileName() : QString();
    const RptName::OutputMode mode = m_state.mode;
    if (name == QLatin1String("actExpToPdf"))
        m_processor.printPDF(fileName, false);
    else
        m_processor.printHTML(fileName, true);
    if (printer) {
        printer->setOutputFileName(outputFile);
        printer->setOutputFormat(format);
    }
    m_state.mode = mode;
}
