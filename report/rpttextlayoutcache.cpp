#include "rpttextlayoutcache.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>

#include <cmath>

void RptTextLayoutCache::clear()
{
    m_layouts.clear();
    m_olderLayouts.clear();
    m_seenTexts.clear();
    m_oneOff = TextLayout();
}

const RptTextLayoutCache::TextLayout *RptTextLayoutCache::layout(
    const QPainter *painter, const QString &text, const QSize &box, int flags)
{
    const QFont font = painter->font();
    const Qt::LayoutDirection direction = painter->layoutDirection();
    auto matches = [&](const TextLayout &t) {
        return t.width == box.width() && t.height == box.height() && t.flags == flags
            && t.direction == direction && t.font == font;
    };
    auto found = m_layouts.find(text);
    if (found != m_layouts.end()) {
        for (const TextLayout &t : qAsConst(*found)) {
            if (matches(t))
                return &t;
        }
    }
    const auto older = m_olderLayouts.constFind(text);
    if (older != m_olderLayouts.constEnd()) {
        for (const TextLayout &t : *older) {
            if (matches(t)) {
                if (found == m_layouts.end())
                    found = m_layouts.insert(text, QVector<TextLayout>());
                found->append(t);
                return &found->last();
            }
        }
    }

    // As qt_format_text in qpainter.cpp lays out one paragraph: lines at
    // whole units apart by the font's leading, the block placed in the box
    // by the vertical alignment, each line by the horizontal one.
    TextLayout t;
    t.font = font;
    t.width = box.width();
    t.height = box.height();
    t.flags = flags;
    t.direction = direction;
    t.layout = std::make_shared<QTextLayout>(text, font);
    t.layout->setCacheEnabled(true);
    QTextOption option = t.layout->textOption();
    option.setTextDirection(painter->layoutDirection());
    option.setAlignment(Qt::AlignLeft);
    t.layout->setTextOption(option);
    const qreal lineWidth = (flags & Qt::TextWordWrap) ? qMax<qreal>(0, box.width()) : 0x01000000;
    const qreal leading = QFontMetricsF(font).leading();
    qreal height = -leading;
    t.layout->beginLayout();
    for (;;) {
        QTextLine line = t.layout->createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(lineWidth);
        height += leading;
        height = std::ceil(height);
        line.setPosition(QPointF(0., height));
        height += line.ascent() + line.descent();
    }
    t.layout->endLayout();
    qreal yoff = 0;
    if (flags & Qt::AlignBottom)
        yoff = box.height() - height;
    else if (flags & Qt::AlignVCenter)
        yoff = (box.height() - height) / 2;
    for (int i = 0; i < t.layout->lineCount(); ++i) {
        const qreal advance = t.layout->lineAt(i).horizontalAdvance();
        qreal xoff = 0;
        if (flags & Qt::AlignRight)
            xoff = box.width() - advance;
        else if (flags & Qt::AlignHCenter)
            xoff = (box.width() - advance) / 2;
        t.lineOffsets.append(QPointF(xoff, yoff));
    }

    // A text is kept from its second appearance on: most rows hold values
    // of their own, and keeping those would only cost.
    if (found == m_layouts.end()) {
        const uint seen = qHash(text);
        if (!m_seenTexts.contains(seen)) {
            if (m_seenTexts.size() >= 4096)
                m_seenTexts.clear();
            m_seenTexts.insert(seen);
            m_oneOff = t;
            return &m_oneOff;
        }
    }
    if (m_layouts.size() >= 512) {
        m_olderLayouts.swap(m_layouts);
        m_layouts.clear();
        found = m_layouts.end();
    }
    if (found == m_layouts.end())
        found = m_layouts.insert(text, QVector<TextLayout>());
    found->append(t);
    return &found->last();
}

bool RptTextLayoutCache::draw(QPainter *painter, const QRect &box, int flags, const QString &text)
{
    const int plain = Qt::AlignLeft | Qt::AlignRight | Qt::AlignHCenter | Qt::AlignTop
        | Qt::AlignBottom | Qt::AlignVCenter | Qt::TextDontClip | Qt::TextWordWrap;
    if ((flags & ~plain) || !(flags & Qt::TextDontClip) || text.isEmpty()
        || painter->pen().style() == Qt::NoPen)
        return false;
    // Right-to-left lines take the width of their leading blanks off a
    // right alignment; those stay with drawText.
    const Qt::LayoutDirection direction = painter->layoutDirection();
    if (direction == Qt::RightToLeft
        || (direction == Qt::LayoutDirectionAuto && text.isRightToLeft()))
        return false;
    const QFont &font = painter->font();
    if (font.underline() || font.strikeOut() || font.overline())
        return false;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u == '\n' || u == '\r' || u == '\t' || u == 0x9c)
            return false;
    }
    const TextLayout *t = layout(painter, text, box.size(), flags);
    for (int i = 0; i < t->layout->lineCount(); ++i) {
        const QPointF &offset = t->lineOffsets.at(i);
        t->layout->lineAt(i).draw(painter, QPointF(box.x() + offset.x(), box.y() + offset.y()));
    }
    return true;
}
