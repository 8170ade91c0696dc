#pragma once

#include <QString>

class QImage;
class RptFieldObject;

// The HTML of a run: each field as an absolutely placed element at its
// template position (template units as pixels), on one continuous sheet.
// Only the elements; the document frame is the caller's.
class RptHtmlWriter
{
public:
    void clear() { m_html.clear(); }
    const QString &html() const { return m_html; }

    // text is HTML already (escape() plain text first).
    void label(const RptFieldObject *field, int bandTop, const QString &text);
    // Nothing for a null image.
    void image(const RptFieldObject *field, int bandTop, const QImage &image);

    // Plain text as HTML, line breaks kept.
    static QString escape(const QString &text);

private:
    static QString style(const RptFieldObject *field, int bandTop);

    QString m_html;
};
