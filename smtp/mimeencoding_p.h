#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QList>
#include <QString>

// The encoders of the MIME classes and the SMTP client, one of each, all
// writing their output once into a buffer sized up front: attachments are
// the bulk of every message and must not be copied again and again.
// Not part of the model's interface.
namespace MimeEncoding {

// Base64 of bytes folded into lines of lineLength characters (no folding when
// lineLength <= 0), written between prefix and suffix. *ok is false (and the
// result prefix + suffix) when the text would be too large for a QString.
QString base64(const QByteArray &bytes, int lineLength, const QString &prefix = QString(),
    QLatin1String suffix = QLatin1String(""), bool *ok = nullptr);
// The same as the bytes of its text: a part goes on the wire as UTF-8, and
// Base64 is ASCII, so the text never has to exist as UTF-16 first.
QByteArray base64Bytes(const QByteArray &bytes, int lineLength,
    const QByteArray &prefix = QByteArray(), QLatin1String suffix = QLatin1String(""),
    bool *ok = nullptr);

enum class LineBreaks {
    // Every byte is data: CR and LF come out as =0D and =0A (binary
    // content, and the words of encoded headers).
    Escaped,
    // Text: CRLF and a bare LF are line breaks, kept as CRLF, and a blank
    // before one is escaped so that transports may not strip it (RFC 2045,
    // 6.7 rules 3 and 4). A bare CR stays data (=0D).
    Kept
};

// Quoted-printable of bytes. With lineLength > 0, a line longer than that
// gets soft line breaks ("=" CRLF): at most lineLength - 1 characters before
// the "=", and an escape sequence is never cut. Prefix, suffix and *ok as
// for base64().
QString quotedPrintable(const QByteArray &bytes, int lineLength, LineBreaks breaks,
    const QString &prefix = QString(), QLatin1String suffix = QLatin1String(""),
    bool *ok = nullptr);
// The same as bytes (quoted-printable is ASCII).
QByteArray quotedPrintableBytes(const QByteArray &bytes, int lineLength, LineBreaks breaks,
    const QByteArray &prefix = QByteArray(), QLatin1String suffix = QLatin1String(""),
    bool *ok = nullptr);

// The DATA of an SMTP transaction for a message given in pieces of its UTF-8
// (joined, they are the message): every line end CRLF (a bare CR or LF, too),
// a line that begins with "." given a second one (RFC 5321, 4.5.2), and the
// CRLF "." CRLF that ends it appended, so that the whole DATA goes out in one
// write. False when the message is too large to send.
bool smtpData(const QList<QByteArray> &pieces, QByteArray *out);

// The bytes of Base64 text, read as QByteArray::fromBase64 reads it (every
// character outside the alphabet, "=" included, is skipped), through a table
// instead of a chain of comparisons: a queued attachment is decoded once per
// mail it goes out with.
QByteArray fromBase64(const QByteArray &text);

// Length of the text's UTF-8, what a line of it takes on the wire.
int utf8Length(const QString &text);

} // namespace MimeEncoding
