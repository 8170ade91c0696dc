#include "rptpagerenderer.h"

#include "rptengine.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QSvgGenerator>

RptPageRenderer::RptPageRenderer(RptEngine *engine, Format format, int dpi)
    : m_engine(engine)
    , m_format(format)
    , m_dpi(dpi)
{
}

QString RptPageRenderer::pageFileName(const QString &output, int page)
{
    const QFileInfo info(output);
    const QString dir = info.path() == QLatin1String(".") && !output.startsWith(QLatin1String("./"))
        ? QString()
        : info.path() + QLatin1Char('/');
    return QStringLiteral("%1%2-%3.%4")
        .arg(dir, info.completeBaseName())
        .arg(page)
        .arg(info.suffix());
}

// Each page is a run of its own, and every run evaluates the whole layout:
// the same error comes back with every page.
void RptPageRenderer::keepErrors()
{
    for (const RptEvaluationError &e : m_engine->evaluationErrors()) {
        if (!m_errors.contains(e))
            m_errors.append(e);
    }
}

bool RptPageRenderer::render(const QString &output, QString *error)
{
    m_files.clear();
    m_errors.clear();
    // The printer only lends its geometry and page range: nothing is
    // painted on it, so it never writes a file.
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setResolution(m_dpi);
    m_engine->setMode(RptName::PdfMode);
    // Border pens are one device pixel wide at screen resolutions, five at
    // a printer's.
    m_engine->setResolution(m_dpi < 300 ? QPrinter::ScreenResolution : QPrinter::HighResolution);
    m_engine->setPageSettings(&printer, 0);
    const QRect paper = printer.paperRect(QPrinter::DevicePixel).toRect();
    const QRect printable = printer.pageRect(QPrinter::DevicePixel).toRect();
    const QPoint origin = printable.topLeft() - paper.topLeft();
    const int dotsPerMeter = qRound(m_dpi / 0.0254);

    bool ok = true;
    int total = 1;
    for (int page = 1; page <= total && ok; ++page) {
        const QString file = pageFileName(output, page);
        printer.setFromTo(page, page);
        if (m_format == Png) {
            QImage area(printable.size(), QImage::Format_ARGB32_Premultiplied);
            area.setDotsPerMeterX(dotsPerMeter);
            area.setDotsPerMeterY(dotsPerMeter);
            area.fill(Qt::transparent);
            {
                QPainter painter(&area);
                painter.setRenderHint(QPainter::Antialiasing);
                painter.setRenderHint(QPainter::TextAntialiasing);
                m_engine->setPainter(&painter);
                m_engine->printPreview(&printer);
                m_engine->setPainter(nullptr);
                keepErrors();
            }
            QImage sheet(paper.size(), QImage::Format_RGB32);
            sheet.setDotsPerMeterX(dotsPerMeter);
            sheet.setDotsPerMeterY(dotsPerMeter);
            sheet.fill(Qt::white);
            QPainter(&sheet).drawImage(origin, area);
            ok = sheet.save(file, "PNG");
        } else {
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            QSvgGenerator generator;
            generator.setOutputDevice(&buffer);
            generator.setSize(printable.size());
            generator.setViewBox(QRect(QPoint(0, 0), printable.size()));
            generator.setResolution(m_dpi);
            {
                QPainter painter(&generator);
                m_engine->setPainter(&painter);
                m_engine->printPreview(&printer);
                m_engine->setPainter(nullptr);
                keepErrors();
            }
            // The page's drawing goes onto a sheet of paper size at its
            // margins, as a nested SVG.
            QString inner = QString::fromUtf8(buffer.data());
            const int svgAt = inner.indexOf(QLatin1String("<svg"));
            inner = inner.mid(svgAt);
            // Its size in the sheet's units (pixels at the resolution), not
            // the generator's millimetres, which a viewer takes at 96 dpi.
            const int tagEnd = inner.indexOf(QLatin1Char('>'));
            QString tag = inner.left(tagEnd);
            static const QRegularExpression size(QStringLiteral("\\s(width|height)=\"[^\"]*\""));
            tag.remove(size);
            tag.replace(0, 4,
                QStringLiteral("<svg x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"")
                    .arg(origin.x())
                    .arg(origin.y())
                    .arg(printable.width())
                    .arg(printable.height()));
            inner = tag + inner.mid(tagEnd);
            const QRectF mm = printer.paperRect(QPrinter::Millimeter);
            const double mmW = mm.width();
            const double mmH = mm.height();
            const QString sheet = QStringLiteral(
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"%1mm\" "
                "height=\"%2mm\" viewBox=\"0 0 %3 %4\">\n"
                "<rect x=\"0\" y=\"0\" width=\"%3\" height=\"%4\" fill=\"#ffffff\"/>\n%5</svg>\n")
                                      .arg(mmW, 0, 'f', 2)
                                      .arg(mmH, 0, 'f', 2)
                                      .arg(paper.width())
                                      .arg(paper.height())
                                      .arg(inner);
            QFile out(file);
            ok = out.open(QIODevice::WriteOnly | QIODevice::Truncate)
                && out.write(sheet.toUtf8()) == sheet.toUtf8().size();
        }
        if (!ok) {
            *error = QStringLiteral("cannot write %1").arg(file);
            break;
        }
        m_files.append(file);
        total = m_engine->totalPages();
    }
    m_engine->setResolution(QPrinter::HighResolution);
    // Pages of an earlier, longer render would pass for this one's.
    for (int page = m_files.size() + 1; ok && QFile::exists(pageFileName(output, page)); ++page)
        QFile::remove(pageFileName(output, page));
    return ok;
}
