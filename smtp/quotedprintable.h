#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// Quoted-printable byte encoding (RFC 2045, section 6.7) as used for the Q
// form of RFC 2047 header words. encode() escapes everything except the
// blank and printable ASCII other than "=", so CR and LF always come out as
// =0D and =0A; line folding is MimeContentFormatter's job. A part's body is
// encoded by MimePart with the same escapes, a text's line breaks kept.
class QuotedPrintable : public QObject
{
    Q_OBJECT
public:
    static QString encode(const QByteArray &input);
    // Soft line breaks ("=" at the end of a line) are removed, so that
    // decode(format(encode(x))) gives x back.
    static QByteArray decode(const QString &input);
};
