#pragma once

#include <QFont>
#include <QHash>
#include <QPointF>
#include <QSet>
#include <QSize>
#include <QString>
#include <QVector>

#include <memory>

class QPainter;
class QRect;
class QTextLayout;

// A label's text laid out as QPainter::drawText lays it out in a box of
// that size, kept for the run: a value that repeats (quantities, the
// footer, branch names) in the same font is shaped and broken into lines
// once. Only what needs none of drawText's special cases (mnemonics, tabs,
// line breaks, clipping, justification, decorations) is kept; everything
// else goes through drawText.
class RptTextLayoutCache
{
public:
    // Draws text as drawText would in box, with the painter's font, pen and
    // direction; false (nothing drawn) when drawText must do it.
    bool draw(QPainter *painter, const QRect &box, int flags, const QString &text);
    void clear();

private:
    struct TextLayout
    {
        QFont font;
        int width = 0;
        int height = 0;
        int flags = 0;
        Qt::LayoutDirection direction = Qt::LayoutDirectionAuto;
        std::shared_ptr<QTextLayout> layout;
        // Where each line is drawn, from the box's top left corner.
        QVector<QPointF> lineOffsets;
    };
    const TextLayout *layout(
        const QPainter *painter, const QString &text, const QSize &box, int flags);

    // Text layouts by text, in two generations: when the newer one is full
    // it becomes the older one, so values in use stay and one-off values go.
    QHash<QString, QVector<TextLayout>> m_layouts;
    QHash<QString, QVector<TextLayout>> m_olderLayouts;
    QSet<uint> m_seenTexts;
    TextLayout m_oneOff;
};
