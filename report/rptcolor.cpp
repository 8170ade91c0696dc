#include "rptcolor.h"

#include <QStringList>

QString colorToString(const QColor &color)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alpha());
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
