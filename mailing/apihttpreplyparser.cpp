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
    for (;;) {
        switch (part) {
        case Part::Body:
        case Part::ChunkData: {
            const int take = int(qMin<qint64>(remaining, buffer.size()));
            content.append(buffer.constData(), take);
            buffer.remove(0, take);
            remaining -= take;
            if (remaining > 0)
                return current;
            if (part == Part::Body)
                return done();
            part = Part::ChunkEnd;
            continue;
        }
        case Part::UntilClose:
            if (content.size() + qint64(buffer.size()) > kMaxBodyBytes)
                return fail(QStringLiteral("the reply is too large"));
            content.append(buffer);
            buffer.clear();
            return current;
        default:
            break;
        }

        const int end = buffer.indexOf("\r\n");
        if (end < 0) {
            if (headBytes + buffer.size() > kMaxHeadBytes)
                return fail(QStringLiteral("the reply's head is too large"));
            return current;
        }
        const QByteArray line = buffer.left(end);
        buffer.remove(0, end + 2);
        headBytes += end + 2;
        if (headBytes > kMaxHeadBytes)
            return fail(QStringLiteral("the reply's head is too large"));

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
                chunked = false;
                length = -1;
                part = Part::StatusLine;
                break;
            }
            startBody();
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
        chunked = value.toLower().split(',').last().trimmed() == "chunked";
        if (!chunked) {
            fail(QStringLiteral("the reply's transfer coding is not supported"));
            return false;
        }
    } else if (name == "connection") {
        const QByteArray options = value.toLower();
        if (options.contains("close"))
            keep = false;
        else if (oldVersion && options.contains("keep-alive"))
            keep = true;
    }
    return true;
}

void ApiHttpReplyParser::startBody()
{
    if (code == 204 || code == 304) {
        part = Part::Body;
        remaining = 0;
    } else if (chunked) {
        // The chunks frame the body; a length beside them is ignored.
        part = Part::ChunkSize;
    } else if (length >= 0) {
        part = Part::Body;
        remaining = length;
    } else {
        part = Part::UntilClose;
        keep = false;
    }
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
