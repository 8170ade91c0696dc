#pragma once

// Reading rendered reports back with real tools (poppler-utils), and small
// template builders for the layout, drawing and output tests.

#include "rptengine.h"

#include <QColor>
#include <QDomDocument>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace RptOut {

// One run of the rptrender tool: its exit code (-1: it crashed or hung) and
// what it printed.
struct RenderRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

inline RenderRun rptrender(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(RPT_RENDER_BIN), args);
    RenderRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

inline QString run(const QString &program, const QStringList &args, int *exitCode = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The text of a PDF (all pages, or page `page` from 1), layout kept.
inline QString pdfText(const QString &file, int page = 0)
{
    QStringList args { QStringLiteral("-layout") };
    if (page > 0)
        args << QStringLiteral("-f") << QString::number(page) << QStringLiteral("-l")
             << QString::number(page);
    args << file << QStringLiteral("-");
    return run(QStringLiteral("pdftotext"), args);
}

// The words of page `page` in reading order, as pdftotext separates them.
inline QStringList pdfWords(const QString &file, int page)
{
    const QString bbox = run(QStringLiteral("pdftotext"),
        { QStringLiteral("-bbox"), QStringLiteral("-f"), QString::number(page),
            QStringLiteral("-l"), QString::number(page), file, QStringLiteral("-") });
    static const QRegularExpression word(QStringLiteral("<word [^>]*>([^<]*)</word>"));
    QStringList words;
    QRegularExpressionMatchIterator it = word.globalMatch(bbox);
    while (it.hasNext()) {
        QString w = it.next().captured(1);
        w.replace(QLatin1String("&lt;"), QLatin1String("<"))
            .replace(QLatin1String("&gt;"), QLatin1String(">"));
        w.replace(QLatin1String("&quot;"), QLatin1String("\""))
            .replace(QLatin1String("&amp;"), QLatin1String("&"));
        words.append(w);
    }
    return words;
}

inline QString pdfInfo(const QString &file, const QString &key)
{
    const QString info = run(QStringLiteral("pdfinfo"), { file });
    for (const QString &line : info.split(QLatin1Char('\n'))) {
        if (line.startsWith(key + QLatin1Char(':')))
            return line.mid(key.size() + 1).trimmed();
    }
    return QString();
}

inline int pdfPages(const QString &file)
{
    return pdfInfo(file, QStringLiteral("Pages")).toInt();
}

// Page size in millimetres, rounded.
inline QSize pdfPageSizeMm(const QString &file)
{
    const QRegularExpression re(QStringLiteral("([0-9.]+) x ([0-9.]+) pts"));
    const QRegularExpressionMatch m = re.match(pdfInfo(file, QStringLiteral("Page size")));
    if (!m.hasMatch())
        return QSize();
    return QSize(
        qRound(m.captured(1).toDouble() * 25.4 / 72), qRound(m.captured(2).toDouble() * 25.4 / 72));
}

// Page `page` rendered at `dpi`.
inline QImage pdfPageImage(const QString &file, int page, int dpi)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("page"));
    run(QStringLiteral("pdftoppm"),
        { QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), QString::number(page),
            QStringLiteral("-l"), QString::number(page), QStringLiteral("-png"),
            QStringLiteral("-singlefile"), file, base });
    return QImage(base + QStringLiteral(".png"));
}

// Pixel position on a page image of a template point, for a portrait page
// with the given left and top margins (template units, quarter millimetres).
inline QPoint pagePixel(double x, double y, int dpi, int marginsLeft = 20, int marginsTop = 40)
{
    const double mmX = marginsLeft / 4 + 0.01 + x / 4.0;
    const double mmY = marginsTop / 4 + 0.01 + y / 4.0;
    return QPoint(int(mmX * dpi / 25.4), int(mmY * dpi / 25.4));
}

inline bool near(const QColor &a, const QColor &b, int tolerance = 24)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

// The texts of an SVG page in drawing order, one per text element.
inline QStringList svgTexts(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QStringList();
    static const QRegularExpression text(QStringLiteral("<text[^>]*>([^<]*)</text>"));
    QStringList texts;
    QRegularExpressionMatchIterator it = text.globalMatch(QString::fromUtf8(f.readAll()));
    while (it.hasNext()) {
        QString t = it.next().captured(1);
        t.replace(QLatin1String("&lt;"), QLatin1String("<"))
            .replace(QLatin1String("&gt;"), QLatin1String(">"))
            .replace(QLatin1String("&quot;"), QLatin1String("\""))
            .replace(QLatin1String("&amp;"), QLatin1String("&"));
        texts.append(t);
    }
    return texts;
}

inline bool writeText(const QString &file, const QString &text)
{
    QFile f(file);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) >= 0;
}

// Lines of text in page order with runs of blanks folded, empty lines dropped.
inline QStringList textLines(const QString &text)
{
    QStringList lines;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.simplified();
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

// A plain label: no borders, transparent background.
inline QString label(const QString &value, int left, int top, int width, int height,
    const QString &extra = QString())
{
    QDomDocument doc;
    QDomElement e = doc.createElement(QStringLiteral("TContainerField"));
    e.setAttribute(QStringLiteral("type"), QStringLiteral("label"));
    e.setAttribute(QStringLiteral("value"), value);
    e.setAttribute(QStringLiteral("left"), left);
    e.setAttribute(QStringLiteral("top"), top);
    e.setAttribute(QStringLiteral("width"), width);
    e.setAttribute(QStringLiteral("height"), height);
    e.setAttribute(QStringLiteral("fontFamily"), QStringLiteral("Arial"));
    e.setAttribute(QStringLiteral("fontSize"), 10);
    e.setAttribute(QStringLiteral("fontColor"), QStringLiteral("rgba(0,0,0,255)"));
    e.setAttribute(QStringLiteral("backgroundColor"), QStringLiteral("rgba(255,255,255,0)"));
    for (const char *side : { "borderTop", "borderBottom", "borderLeft", "borderRight" })
        e.setAttribute(QLatin1String(side), QStringLiteral("rgba(255,255,255,0)"));
    e.setAttribute(QStringLiteral("aligmentH"), QStringLiteral("hLeft"));
    e.setAttribute(QStringLiteral("aligmentV"), QStringLiteral("vCenter"));
    // Extra attributes (name="value" ...) override the defaults above.
    static const QRegularExpression attr(QStringLiteral("([A-Za-z_]+)=\"([^\"]*)\""));
    QRegularExpressionMatchIterator it = attr.globalMatch(extra);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        e.setAttribute(m.captured(1), m.captured(2));
    }
    doc.appendChild(e);
    return doc.toString(-1).trimmed();
}

inline QString band(
    const QString &type, int height, const QString &fields, const QString &extra = QString())
{
    return QStringLiteral(
        "<ReportBand name=\"%1\" type=\"%1\" height=\"%2\" width=\"800\" %3>%4</ReportBand>")
        .arg(type)
        .arg(height)
        .arg(extra, fields);
}

// A report page of A4 with margins 20/40/20/20 (left, top, right, bottom).
inline QString a4Page(const QString &bands, const QString &extra = QString())
{
    return QStringLiteral(
        "<Report pageWidth=\"840\" pageHeight=\"1188\" orientation=\"0\" marginsLeft=\"20\" "
        "marginsRight=\"20\" marginsTop=\"40\" marginsBottom=\"20\" %1>%2</Report>")
        .arg(extra, bands);
}

inline QString reports(const QString &pages, const QString &script = QString())
{
    QString s;
    if (!script.isEmpty())
        s = QStringLiteral("<Script><![CDATA[%1]]></Script>").arg(script);
    return QStringLiteral("<Reports lib=\"RptEngine\">%1%2</Reports>").arg(s, pages);
}

inline bool load(RptEngine &engine, const QString &xml)
{
    QDomDocument doc;
    if (!doc.setContent(xml))
        return false;
    return engine.loadReport(doc);
}

} // namespace RptOut
