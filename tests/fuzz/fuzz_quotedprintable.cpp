// Quoted-printable decoding of arbitrary text, the round trip
// decode(format(encode(x))) == x, and the text form the SMTP transport uses
// for a body with overlong lines: its line breaks kept, only long lines
// wrapped, and decoding gives the text back with CRLF line ends.
#include "fuzzsupport.h"
#include "mimecontentformatter.h"
#include "mimeencoding_p.h"
#include "quotedprintable.h"

#include <QString>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::fuzzInit(argc, argv, Fuzz::App::Core);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = Fuzz::bytes(data, size);

    // Received text: every byte as one character, and the same bytes read as
    // UTF-8 (characters above U+00FF must not be decoded into bytes).
    for (const QString &text : { QString::fromLatin1(input), QString::fromUtf8(input) }) {
        const QByteArray decoded = QuotedPrintable::decode(text);
        // One character yields at most one byte.
        if (decoded.size() > text.size())
            Fuzz::fail("decode() grew the text", input);
    }

    // Our own output: printable ASCII only, at most three characters a byte.
    const QString encoded = QuotedPrintable::encode(input);
    if (encoded.size() > 3 * input.size())
        Fuzz::fail("encode() longer than three characters per byte", input);
    for (const QChar ch : encoded) {
        if (ch.unicode() < 32 || ch.unicode() > 126)
            Fuzz::fail("encode() wrote a character outside printable ASCII", input);
    }
    if (QuotedPrintable::decode(encoded) != input)
        Fuzz::fail("decode(encode(x)) != x", input);

    // Folded as a body is folded: the soft breaks must vanish again and no
    // line may exceed the formatter's length.
    const MimeContentFormatter formatter(76);
    const QString folded = formatter.format(encoded, true);
    if (QuotedPrintable::decode(folded) != input)
        Fuzz::fail("decode(format(encode(x))) != x", input);
    for (const QString &line : folded.split(QStringLiteral("\r\n"))) {
        if (line.size() > 76)
            Fuzz::fail("format() left a line over 76 characters", line.toUtf8());
    }

    const QString text = MimeEncoding::quotedPrintable(input, 76, MimeEncoding::LineBreaks::Kept);
    QByteArray canonical;
    for (int i = 0; i < input.size(); ++i) {
        if (input.at(i) == '\n' && (i == 0 || input.at(i - 1) != '\r'))
            canonical += '\r';
        canonical += input.at(i);
    }
    if (QuotedPrintable::decode(text) != canonical)
        Fuzz::fail("text form does not decode to the text with CRLF line ends", input);
    for (const QString &line : text.split(QStringLiteral("\r\n"))) {
        if (line.size() > 76)
            Fuzz::fail("text form left a line over 76 characters", line.toUtf8());
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n')))
            Fuzz::fail("text form holds a bare CR or LF", input);
        if (line.endsWith(QLatin1Char(' ')))
            Fuzz::fail("text form ends a line with a blank", input);
    }
    return 0;
}
