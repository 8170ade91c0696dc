// The API client's reply reader fed arbitrary server bytes, once whole and
// once in pieces.
//
// Input: the first byte chooses where the pieces are cut (a stride of 1 to
// 256 bytes), the rest is everything the server sends before it closes the
// connection. Checked: the reader's verdict, status, body and keep-alive do
// not depend on how the bytes arrive; the body stays within the limit; a
// complete reply framed by Content-Length has exactly that many bytes.
#include "apihttpreplyparser.h"
#include "fuzzsupport.h"

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
    return 0;
}
