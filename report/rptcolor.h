#pragma once

#include <QColor>
#include <QString>

// Colour text of templates: "rgba(r,g,b,a)" in decimal, no blanks. Templates
// switch border sides and backgrounds off with alpha 0, so a text with only
// three components reads as transparent.
QString colorToString(const QColor &color);
QColor colorFromString(const QString &text);
