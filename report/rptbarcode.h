#pragma once

#include <QString>

class QPainter;
class QRect;
class RptFieldObject;

// Barcode fields, encoded by libzint and drawn with the painter: bars and
// modules as filled rectangles snapped to device pixels, so scanners read
// them at any resolution. The field's barcodeType is libzint's symbology
// number (13 EAN-13, 20 Code 128, 58 QR code, ...). Linear codes fill the
// field's rectangle with their digits below; codes of a fixed shape (QR)
// keep it, centred.
class RptBarcode
{
public:
    // Draws the text in the field's symbology into rect (device units).
    // A value the symbology cannot hold is drawn as libzint's message in
    // its place and logged, as a failed formula leaves its error text.
    static bool draw(
        QPainter *painter, const QRect &rect, const RptFieldObject &field, const QString &text);
    // libzint knows the symbology number.
    static bool isSupported(int symbology);
    // Why text cannot be encoded in the symbology; empty when it can.
    static QString encodingError(int symbology, const QString &text);
};
