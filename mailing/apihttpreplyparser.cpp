#include "apihttpreplyparser.h"

#include <QList>

ApiHttpReplyParser::Status ApiHttpReplyParser::feed(const QByteArray &data)
{
    if (current != Status::NeedMore || data.isEmpty())
        return current;
    anyByte = true;
    buffer.append(data);
    return parse();
}

ApiHttpReplyParser::Status ApiHttpReplyParser::closed()
{
    if (current != Status::NeedMore)
        return current;
    if (part == Part::UntilClose) {
        keep = false;
        return done();
    }
    return fail(QStringLiteral("the connection closed before a complete reply"));
}

ApiHttpReplyParser::Status ApiHttpReplyParser::parse()
{
    // Read from an offset and trimmed once: removing each line from the
    // front would move the rest of the buffer for every small chunk.
    int pos = 0;
    const Status status = parseFrom(pos);
    buffer.remove(0, pos);
    return status;
}

ApiHttpReplyParser::Status ApiHttpReplyParser::parseFrom(int &pos)
{
    for (;;) {
        switch (part) {
        case Part::Body:
        case Part::ChunkData: {
            const int take = int(qMin<qint64>(remaining, buffer.size() - pos));
            content.append(buffer.constData() + pos, take);
            pos += take;
            remaining -= take;
            if (remaining > 0)
                return current;
            if (part == Part::Body)
                return done();
            part = Part::ChunkEnd;
            continue;
        }
        case Part::UntilClose:
            if (content.size() + qint64(buffer.size() - pos) > kMaxBodyBytes)
                return fail(QStringLiteral("the reply is too large"));
            content.append(buffer.constData() + pos, buffer.size() - pos);
            pos = buffer.size();
            return current;
        default:
            break;
        }

        // The head is limited as a whole. The lines that frame the chunks
        // are limited one by one: a long body may come in many small chunks,
        // and the body limit already bounds how many.
        const bool inHead = part == Part::StatusLine || part == Part::Head;
        const qint64 used = inHead ? headBytes : part == Part::Trailer ? trailerBytes : 0;
        const qint64 limit = inHead || part == Part::Trailer ? kMaxHeadBytes : kMaxChunkLineBytes;
        const int end = buffer.indexOf("\r\n", pos);
        const int lineBytes = end < 0 ? buffer.size() - pos : end - pos + 2;
        if (used + lineBytes > limit) {
            return fail(inHead ? QStringLiteral("the reply's head is too large")
                    : part == Part::Trailer
                    ? QStringLiteral("the reply's trailer is too large")
                    : QStringLiteral("a line framing a chunk of the reply is too long"));
        }
        if (end < 0)
            return current;
        const QByteArray line = buffer.mid(pos, end - pos);
        pos = end + 2;
        if (inHead)
            headBytes += lineBytes;
        else if (part == Part::Trailer)
            trailerBytes += lineBytes;

        switch (part) {
        case Part::StatusLine: {
            // "HTTP/1.1 200 OK": version, three digits, a reason or nothing.
            if (!line.startsWith("HTTP/1.") || line.size() < 12 || line.at(8) != ' ')
                return fail(QStringLiteral("the reply is not HTTP/1.x"));
            const QByteArray digits = line.mid(9, 3);
            for (const char c : digits)
                if (c < '0' || c > '9')
                    return fail(QStringLiteral("the reply's status line is malformed"));
            if (line.size() > 12 && line.at(12) != ' ')
                return fail(QStringLiteral("the reply's status line is malformed"));
            code = digits.toInt();
            reason = line.mid(13);
            oldVersion = line.at(7) == '0';
            keep = !oldVersion;
            part = Part::Head;
            break;
        }
        case Part::Head:
            if (!line.isEmpty()) {
                if (!headLine(line))
                    return current;
                break;
            }
            if (code < 200) {
                // An interim reply; the real one follows on the same bytes.
                code = 0;
                reason.clear();
                codings.clear();
                length = -1;
                part = Part::StatusLine;
                break;
            }
            if (!startBody())
                return current;
            if (part == Part::Body && remaining == 0)
                return done();
            break;
        case Part::ChunkSize: {
            const int extension = line.indexOf(';');
            const QByteArray digits = (extension < 0 ? line : line.left(extension)).trimmed();
            bool ok = !digits.isEmpty() && digits.size() <= 8;
            const qint64 size = ok ? digits.toLongLong(&ok, 16) : -1;
            if (!ok || size < 0)
                return fail(QStringLiteral("a chunk size of the reply is malformed"));
            if (content.size() + size > kMaxBodyBytes)
                return fail(QStringLiteral("the reply is too large"));
            remaining = size;
            part = size == 0 ? Part::Trailer : Part::ChunkData;
            break;
        }
        case Part::ChunkEnd:
            if (!line.isEmpty())
                return fail(QStringLiteral("a chunk of the reply is malformed"));
            part = Part::ChunkSize;
            break;
        case Part::Trailer:
            if (line.isEmpty())
                return done();
            break;
        default:
            break;
        }
    }
}

bool ApiHttpReplyParser::headLine(const QByteArray &line)
{
    const int colon = line.indexOf(':');
    if (colon <= 0) {
        fail(QStringLiteral("a header line of the reply is malformed"));
        return false;
    }
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name == "content-length") {
        bool ok = !value.isEmpty();
        for (const char c : value)
            ok = ok && c >= '0' && c <= '9';
        const qint64 parsed = ok && value.size() <= 12 ? value.toLongLong(&ok) : -1;
        // Two different lengths leave the end of the reply in doubt.
        if (!ok || parsed < 0 || (length >= 0 && length != parsed)) {
            fail(QStringLiteral("the reply's Content-Length is invalid"));
            return false;
        }
        if (parsed > kMaxBodyBytes) {
            fail(QStringLiteral("the reply is too large"));
            return false;
        }
        length = parsed;
    } else if (name == "transfer-encoding") {
        // Several fields make one list (RFC 9110, 5.3); judged once the head is complete.
        for (const QByteArray &coding : value.toLower().split(','))
            codings << coding.trimmed();
    } else if (name == "connection") {
        const QByteArray options = value.toLower();
        if (options.contains("close"))
            keep = false;
        else if (oldVersion && options.contains("keep-alive"))
            keep = true;
    }
    return true;
}

bool ApiHttpReplyParser::startBody()
{
    // A reply framed two ways, a transfer coding in an HTTP/1.0 reply, or a
    // coding we cannot undo leaves the end of the body to guesswork, and a
    // guess that differs from the server's puts every later reply on the
    // connection out of step (RFC 9112, 6.1 and 6.3): such a reply fails,
    // and the connection with it.
    if (!codings.isEmpty()) {
        if (oldVersion) {
            fail(QStringLiteral("the HTTP/1.0 reply carries a transfer coding"));
            return false;
        }
        if (length >= 0) {
            fail(QStringLiteral("the reply carries both Transfer-Encoding and Content-Length"));
            return false;
        }
        if (codings != QList<QByteArray> { QByteArrayLiteral("chunked") }) {
            fail(QStringLiteral("the reply's transfer coding is not supported"));
            return false;
        }
    }
    if (code == 204 || code == 304) {
        part = Part::Body;
        remaining = 0;
    } else if (!codings.isEmpty()) {
        part = Part::ChunkSize;
    } else if (length >= 0) {
        part = Part::Body;
        remaining = length;
    } else {
        part = Part::UntilClose;
        keep = false;
    }
    return true;
}

ApiHttpReplyParser::Status ApiHttpReplyParser::fail(const QString &why)
{
    current = Status::Failed;
    failure = why;
    keep = false;
    return current;
}

ApiHttpReplyParser::Status ApiHttpReplyParser::done()
{
    current = Status::Complete;
    return current;
}
