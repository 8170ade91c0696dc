#include "rptbarcode.h"

#include "reportlogging.h"
#include "rptfieldobject.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRect>

#include <zint.h>

#include <memory>

namespace {

struct SymbolDeleter
{
    void operator()(zint_symbol *s) const { ZBarcode_Delete(s); }
};
using Symbol = std::unique_ptr<zint_symbol, SymbolDeleter>;

// Encoded and laid out as vectors; null with the reason in *error.
Symbol encode(int symbology, const QString &text, QString *error)
{
    Symbol symbol(ZBarcode_Create());
    if (!symbol) {
        *error = QStringLiteral("out of memory");
        return nullptr;
    }
    symbol->symbology = symbology;
    symbol->input_mode = UNICODE_MODE;
    // Scanners want the quiet zones; a field's own margin is seldom enough.
    symbol->output_options |= BARCODE_QUIET_ZONES;
    const QByteArray data = text.toUtf8();
    const int rc = ZBarcode_Encode_and_Buffer_Vector(
        symbol.get(), reinterpret_cast<const unsigned char *>(data.constData()), data.size(), 0);
    if (rc >= ZINT_ERROR || !symbol->vector || symbol->vector->width <= 0
        || symbol->vector->height <= 0) {
        *error = QString::fromUtf8(symbol->errtxt);
        if (error->isEmpty())
            *error = QStringLiteral("libzint error %1").arg(rc);
        return nullptr;
    }
    return symbol;
}

} // namespace

bool RptBarcode::isSupported(int symbology)
{
    return ZBarcode_ValidID(symbology) != 0;
}

QString RptBarcode::encodingError(int symbology, const QString &text)
{
    if (!isSupported(symbology))
        return QStringLiteral("barcodeType %1 is no libzint symbology").arg(symbology);
    QString error;
    encode(symbology, text, &error);
    return error;
}

bool RptBarcode::draw(
    QPainter *painter, const QRect &rect, const RptFieldObject &field, const QString &text)
{
    if (!painter || rect.width() <= 0 || rect.height() <= 0)
        return false;
    const QColor ink = field.fontColor.isValid() && field.fontColor.alpha() > 0 ? field.fontColor
                                                                                : QColor(Qt::black);
    QString error;
    Symbol symbol
        = isSupported(field.barcodeType) ? encode(field.barcodeType, text, &error) : nullptr;
    if (!symbol) {
        if (error.isEmpty())
            error = QStringLiteral("barcodeType %1 is no libzint symbology").arg(field.barcodeType);
        qCWarning(lcReport).noquote()
            << QStringLiteral("RptBarcode::draw(\"%1\")").arg(field.objectName()) << error;
        painter->save();
        painter->setPen(ink);
        painter->drawText(rect, Qt::AlignCenter | Qt::TextWordWrap, error);
        painter->restore();
        return false;
    }

    const zint_vector *v = symbol->vector;
    double sx = rect.width() / double(v->width);
    double sy = rect.height() / double(v->height);
    QPointF origin = rect.topLeft();
    if (ZBarcode_Cap(field.barcodeType, ZINT_CAP_FIXED_RATIO)) {
        // Square modules: the smaller scale, centred in the field.
        const double s = qMin(sx, sy);
        origin += QPointF((rect.width() - v->width * s) / 2, (rect.height() - v->height * s) / 2);
        sx = sy = s;
    }
    const auto snapX = [&](double x) { return qRound(origin.x() + x * sx); };
    const auto snapY = [&](double y) { return qRound(origin.y() + y * sy); };

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(Qt::NoPen);
    if (field.backgroundColor.isValid() && field.backgroundColor.alpha() > 0)
        painter->fillRect(rect, field.backgroundColor);
    for (const zint_vector_rect *r = v->rectangles; r; r = r->next) {
        // Colour 8 is white, the background's; the rest is ink.
        if (r->colour == 8)
            continue;
        const int left = snapX(r->x);
        const int top = snapY(r->y);
        painter->fillRect(QRect(QPoint(left, top),
                              QPoint(snapX(r->x + r->width) - 1, snapY(r->y + r->height) - 1)),
            ink);
    }
    painter->setBrush(ink);
    for (const zint_vector_circle *c = v->circles; c; c = c->next) {
        if (c->colour)
            continue;
        const QPointF centre(origin.x() + c->x * sx, origin.y() + c->y * sy);
        painter->drawEllipse(centre, c->diameter / 2 * sx, c->diameter / 2 * sy);
    }
    for (const zint_vector_hexagon *h = v->hexagons; h; h = h->next) {
        const QPointF centre(origin.x() + h->x * sx, origin.y() + h->y * sy);
        painter->drawEllipse(centre, h->diameter / 2 * sx, h->diameter / 2 * sy);
    }
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(ink);
    for (const zint_vector_string *s = v->strings; s; s = s->next) {
        QFont font = field.font;
        font.setPixelSize(qMax(1, qRound(s->fsize * qMin(sx, sy))));
        painter->setFont(font);
        const QString label = QString::fromUtf8(reinterpret_cast<const char *>(s->text), s->length);
        const QPointF at(origin.x() + s->x * sx, origin.y() + s->y * sy);
        const double width = QFontMetricsF(font).horizontalAdvance(label);
        // x is the string's centre, start or end by its alignment; y its baseline.
        const double left = s->halign == 1 ? at.x()
            : s->halign == 2               ? at.x() - width
                                           : at.x() - width / 2;
        painter->drawText(QPointF(left, at.y()), label);
    }
    painter->restore();
    return true;
}
