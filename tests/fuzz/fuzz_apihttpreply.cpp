// The API client's reply reader fed arbitrary server bytes, once whole and
// once in pieces.
//
// Input: the first byte chooses where the pieces are cut (a stride of 1 to
// 256 bytes), the rest is everything the server sends before it closes the
// connection. Checked: the reader's verdict, status, body and keep-alive do
// not depend on how the bytes arrive; the body stays within the limit; a
// complete reply framed by Content-Length has exactly that many bytes; a
// reply whose framing is in doubt (a transfer coding beside a length, in an
// HTTP/1.0 reply, or other than chunked alone) never completes.
#include "apihttpreplyparser.h"
#include "fuzzsupport.h"

#include <QList>

namespace {
struct Verdict
{
    ApiHttpReplyParser::Status status;
    int code;
    QByteArray body;
    bool keepAlive;
    bool leftover;

    bool operator==(const Verdict &o) const
    {
        return status == o.status && code == o.code && body == o.body
            && keepAlive == o.keepAlive && leftover == o.leftover;
    }
};

// The head of the final reply (after any interim ones), read on its own:
// its version and the fields that frame the body.
struct Framing
{
    bool found = false;
    bool http10 = false;
    bool length = false;
    QList<QByteArray> codings;
};

Framing finalFraming(const QByteArray &bytes)
{
    int at = 0;
    for (;;) {
        const int headEnd = bytes.indexOf("\r\n\r\n", at);
        if (headEnd < 0)
            return {};
        Framing framing;
        framing.found = true;
        QList<QByteArray> lines;
        for (int start = at; start <= headEnd;) {
            int end = bytes.indexOf("\r\n", start);
            lines << bytes.mid(start, end - start);
            start = end + 2;
        }
        framing.http10 = lines.value(0).startsWith("HTTP/1.0");
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines.at(i).indexOf(':');
            const QByteArray name = lines.at(i).left(colon).trimmed().toLower();
            if (name == "content-length")
                framing.length = true;
            else if (name == "transfer-encoding")
                for (const QByteArray &coding : lines.at(i).mid(colon + 1).toLower().split(','))
                    framing.codings << coding.trimmed();
        }
        // Any code below 200 is an interim reply to the reader.
        if (lines.value(0).mid(9, 3).toInt() >= 200)
            return framing;
        at = headEnd + 4;
    }
}

Verdict read(const QByteArray &bytes, int stride)
{
    ApiHttpReplyParser parser;
    for (int at = 0; at < bytes.size() && parser.status() == ApiHttpReplyParser::Status::NeedMore;
         at += stride)
        parser.feed(bytes.mid(at, stride));
    // Bytes after a complete reply stay unread in both readings.
    parser.closed();
    return { parser.status(), parser.statusCode(), parser.body(), parser.keepAlive(),
        parser.hasLeftover() };
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::fuzzInit(argc, argv, Fuzz::App::Core);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int stride = int(data[0]) + 1;
    const QByteArray input = Fuzz::bytes(data + 1, size - 1);

    const Verdict whole = read(input, qMax(1, input.size()));
    const Verdict pieces = read(input, stride);
    // Leftover bytes depend on where the last piece ended; the rest must not.
    Verdict compared = pieces;
    compared.leftover = whole.leftover;
    if (!(compared == whole))
        Fuzz::fail("the reply reads differently in pieces", input);
    if (whole.body.size() > ApiHttpReplyParser::kMaxBodyBytes)
        Fuzz::fail("body over the limit", input);
    if (whole.status == ApiHttpReplyParser::Status::Complete
        && (whole.code < 200 || whole.code > 999))
        Fuzz::fail("a complete reply with an interim or invalid status", input);
    if (whole.status == ApiHttpReplyParser::Status::Complete) {
        const Framing framing = finalFraming(input);
        if (framing.found && !framing.codings.isEmpty()
            && (framing.length || framing.http10
                || framing.codings != QList<QByteArray> { QByteArrayLiteral("chunked") }))
            Fuzz::fail("a reply framed in doubt was accepted", input);
    }
    return 0;
}
