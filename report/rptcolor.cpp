#include "rptcolor.h"

#include <QStringList>

namespace {
void appendComponent(QString &out, int value)
{
    if (value >= 100)
        out += QLatin1Char(char('0' + value / 100));
    if (value >= 10)
        out += QLatin1Char(char('0' + value / 10 % 10));
    out += QLatin1Char(char('0' + value % 10));
}
} // namespace

// Highlighting writes a colour on every row; the text is put together
// without the general formatting of QString::arg.
QString colorToString(const QColor &color)
{
    QString text;
    text.reserve(22);
    text += QLatin1String("rgba(");
    appendComponent(text, color.red());
    text += QLatin1Char(',');
    appendComponent(text, color.green());
    text += QLatin1Char(',');
    appendComponent(text, color.blue());
    text += QLatin1Char(',');
    appendComponent(text, color.alpha());
    text += QLatin1Char(')');
    return text;
}

QColor colorFromString(const QString &text)
{
    if (text.isEmpty())
        return QColor();
    const int open = text.indexOf(QLatin1Char('('));
    const int close = text.indexOf(QLatin1Char(')'), open + 1);
    const QString inner = close < 0 ? text.mid(open + 1) : text.mid(open + 1, close - open - 1);
    const QStringList parts = inner.split(QLatin1Char(','));
    int comp[4] = { 0, 0, 0, 0 };
    for (int i = 0; i < 4 && i < parts.size(); ++i)
        comp[i] = parts.at(i).trimmed().toInt();
    QColor color;
    // QColor refuses out-of-range components wholesale; clamp so a slightly
    // wrong template still gets the components that do convert.
    color.setRgb(qBound(0, comp[0], 255), qBound(0, comp[1], 255), qBound(0, comp[2], 255),
        qBound(0, comp[3], 255));
    return color;
}
