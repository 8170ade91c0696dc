// Quoted-printable decoding of arbitrary text, and the round trip
// decode(format(encode(x))) == x that the SMTP transport relies on when it
// sends a body with overlong lines quoted-printable.
#include "fuzzsupport.h"
#include "mimecontentformatter.h"
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
    return 0;
}
