#include "rpthtmlwriter.h"

#include "rptdrawer.h"
#include "rptfieldobject.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>

namespace {

// whenInvalid stands in for a missing attribute: what the painter uses then.
QString cssColor(const QColor &c, const char *whenInvalid)
{
    if (!c.isValid())
        return QLatin1String(whenInvalid);
    if (c.alpha() == 0)
        return QStringLiteral("transparent");
    if (c.alpha() == 255)
        return c.name();
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(c.red())
        .arg(c.green())
        .arg(c.blue())
        .arg(QString::number(c.alphaF(), 'f', 3));
}

// A side as the painter draws it: in the field's border colour when on.
QString sideCss(const RptFieldObject *field, const QColor &side)
{
    return RptDrawer::isSideOn(side) ? cssColor(RptDrawer::outlineColor(field), "#000000")
                                     : QStringLiteral("transparent");
}

} // namespace

QString RptHtmlWriter::escape(const QString &text)
{
    QString s = text.toHtmlEscaped();
    s.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    return s;
}

QString RptHtmlWriter::style(const RptFieldObject *field, int bandTop)
{
    QString align = QStringLiteral("left");
    if (field->aligment & Qt::AlignRight)
        align = QStringLiteral("right");
    else if (field->aligment & Qt::AlignHCenter)
        align = QStringLiteral("center");
    else if (field->aligment & Qt::AlignJustify)
        align = QStringLiteral("justify");
    QString style = QStringLiteral("style='color:%1;background:%2;border-left: solid thin %3;"
                                   "border-right: solid thin %4;border-top: solid thin %5;"
                                   "border-bottom: solid thin %6;text-align:%7;font-size:%8px;"
                                   "position: absolute; left: %9px;")
                        .arg(cssColor(field->fontColor, "#000000"),
                            cssColor(field->backgroundColor, "transparent"),
                            sideCss(field, field->borderLeft), sideCss(field, field->borderRight),
                            sideCss(field, field->borderTop), sideCss(field, field->borderBottom),
                            align, QString::number(field->font.pointSize() + 5),
                            QString::number(field->rect.left()));
    style += QStringLiteral("top: %1px;width: %2px;height: %3px;")
                 .arg(bandTop + field->rect.top())
                 .arg(field->rect.width())
                 .arg(field->rect.height());
    if (field->font.bold())
        style += QLatin1String("font-weight: bold;");
    if (field->font.italic())
        style += QLatin1String("font-style: italic;");
    style += QLatin1Char('\'');
    return style;
}

void RptHtmlWriter::label(const RptFieldObject *field, int bandTop, const QString &text)
{
    m_html += QLatin1String("<div ") + style(field, bandTop) + QLatin1Char('>') + text
        + QLatin1String("</div>\n");
}

void RptHtmlWriter::image(const RptFieldObject *field, int bandTop, const QImage &image)
{
    if (image.isNull())
        return;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    m_html += QStringLiteral(
        "<div style='position: absolute; left: %1px;top: %2px;width: %3px;height: %4px;'>")
                  .arg(field->rect.left())
                  .arg(bandTop + field->rect.top())
                  .arg(field->rect.width())
                  .arg(field->rect.height());
    m_html += QStringLiteral("<img width=%1 height=%2 src=\"data:image/png;base64,")
                  .arg(field->rect.width())
                  .arg(field->rect.height());
    m_html += QString::fromLatin1(png.toBase64());
    m_html += QLatin1String("\" /></div>\n");
}
