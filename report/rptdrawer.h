#pragma once

#include "rpthtmlwriter.h"
#include "rptname.h"
#include "rpttextlayoutcache.h"

#include <QFont>
#include <QHash>
#include <QImage>
#include <QPen>
#include <QPixmap>
#include <QPointF>
#include <QRect>
#include <QSet>
#include <QString>
#include <QVector>

#include <memory>

class QPainter;
class QPrinter;
class QTextLayout;
class RptBandObject;
class RptDataFeed;
class RptFieldEvaluator;
class RptFieldObject;
class RptPageObject;
class RptRunHost;
struct RptRunState;

// Puts one field of a laid-out band row on the device: the painter in
// printer and PDF mode, the HTML text in HTML mode. Owns the page geometry
// of the report page being processed and the scale factors from template
// units (quarter millimetres) to device units.
//
// The drawer never walks bands or pages itself; RptReportProcessor tells it
// where a band row stands and whether this is the counting or the drawing
// pass. Objects it caches (decoded pictures) live for one print run.
class RptDrawer
{
public:
    // Templates give line widths in screen pixels; the printer draws at high
    // resolution, where one of them takes this many device pixels.
    static constexpr int kPenWidthScale = 5;

    // All must outlive the drawer.
    RptDrawer(const RptRunState &state, RptFieldEvaluator &fields, RptRunHost &host);
    ~RptDrawer();
    RptDrawer(const RptDrawer &) = delete;
    RptDrawer &operator=(const RptDrawer &) = delete;

    // Start of a print run; painter may be inactive (counting, HTML).
    void beginRun(QPainter *painter, QPrinter *printer, RptName::OutputMode mode);
    // Field borders one device pixel per unit of width (pages drawn as images).
    void setScreenResolution(bool screen) { m_fieldPenScale = screen ? 1 : kPenWidthScale; }
    void endRun();
    // Where charts read their series' data sets; null draws only what the
    // caller adds. Must outlive the drawer's runs.
    void setDataFeed(RptDataFeed *feed) { m_feed = feed; }

    // Page geometry, paper, margins, orientation and scale factors of a
    // report page, applied to the printer and the painter.
    void setPageSettings(QPrinter *printer, RptPageObject *page);
    // Forgets the orientation last applied, so the next setPageSettings
    // sets up the painter's transform again.
    void resetOrientation() { m_appliedOrientation = -1; }

    // The watermark and the page border of a printed page (drawing pass only).
    void drawBackground(bool draw);

    // A field of a band row whose top is at bandTop (template units). In the
    // counting pass (draw false) only auto-height labels are measured, which
    // may raise the band's current height.
    void drawField(RptFieldObject *field, int bandTop, bool draw);
    void drawLine(RptFieldObject *field, int bandTop);

    double kW() const { return m_kW; }
    double kH() const { return m_kH; }
    int usableHeight() const { return m_pageHeight - m_marginsTop - m_marginsBottom; }
    int pageHeight() const { return m_pageHeight; }
    int pageWidth() const { return m_pageWidth; }

    // The HTML text built in HTML mode (elements only, no document frame).
    const QString &html() const { return m_htmlOut.html(); }

    // Device rectangle of a field in a band row at bandTop.
    QRect fieldRect(const RptFieldObject *field, int bandTop) const;

    // Side colours only switch a side on or off. Templates switch a side
    // off with white, opaque or transparent; a template that says nothing
    // about a side (no attribute) keeps its frame.
    static bool isSideOn(const QColor &c);
    // Sides, shapes and lines without a border colour are drawn black.
    static QColor outlineColor(const RptFieldObject *field);

private:
    bool painting() const;
    void drawBox(RptFieldObject *field, const QRect &r, const QPen &pen);
    void drawShape(RptFieldObject *field, const QRect &r, const QPen &pen);
    void drawPicture(RptFieldObject *field, const QRect &r);
    void drawImageInRect(const QImage &image, const QRect &r, Qt::Alignment alignment);
    void drawRichText(RptFieldObject *field, const QRect &r);
    // The HTML of a rich-text field with its variables filled in.
    QString richTextHtml(RptFieldObject *field);
    void drawChart(RptFieldObject *field, const QRect &r);
    void drawLabel(RptFieldObject *field, const QRect &r, bool draw);
    void measureLabel(RptFieldObject *field, const QRect &r, const QString &text);
    QString labelText(RptFieldObject *field);
    QImage fieldPicture(RptFieldObject *field);
    int textFlags(const RptFieldObject *field) const;

    const RptRunState &m_state;
    RptFieldEvaluator &m_fields;
    RptRunHost &m_host;
    RptDataFeed *m_feed = nullptr;
    QPainter *m_painter = nullptr;
    QPrinter *m_printer = nullptr;
    RptName::OutputMode m_mode = RptName::PrinterMode;

    int m_pageHeight = 0;
    int m_pageWidth = 0;
    int m_marginsLeft = 0;
    int m_marginsRight = 0;
    int m_marginsTop = 0;
    int m_marginsBottom = 0;
    int m_orientation = 0;
    int m_appliedOrientation = -1;
    double m_kW = 1.0;
    double m_kH = 1.0;
    QRect m_borderRect;
    bool m_border = false;
    QColor m_borderColor;
    int m_borderWidth = 1;
    int m_fieldPenScale = kPenWidthScale;
    Qt::PenStyle m_borderStyle = Qt::SolidLine;

    // The watermark of the report page being processed.
    QPixmap m_background;
    float m_backgroundOpacity = 1.0f;

    // Pictures decoded once per run, so each page draws (and the PDF
    // embeds) the same image.
    QHash<const RptFieldObject *, QImage> m_pictures;
    RptTextLayoutCache m_textLayouts;
    RptHtmlWriter m_htmlOut;
};
