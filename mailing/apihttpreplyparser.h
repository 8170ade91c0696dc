#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Reads one HTTP/1.x reply from the bytes of a connection, in whatever
// pieces they arrive: the status line, the head, and the body framed by
// Content-Length, by chunked transfer coding or by the close of the
// connection. Informational (1xx) replies are skipped. The head is limited
// to kMaxHeadBytes (the chunked body's trailer too), each line framing a
// chunk to kMaxChunkLineBytes and the body to kMaxBodyBytes. Anything
// malformed, or a body whose end is in doubt (two different lengths, both a
// length and a transfer coding, a transfer coding in an HTTP/1.0 reply, a
// transfer coding other than chunked alone), fails the reply.
class ApiHttpReplyParser
{
public:
    enum class Status { NeedMore, Complete, Failed };

    static constexpr int kMaxHeadBytes = 64 * 1024;
    static constexpr int kMaxBodyBytes = 16 * 1024 * 1024;
    static constexpr int kMaxChunkLineBytes = 4 * 1024;

    // Takes the next bytes. After Complete, bytes beyond the reply are
    // kept (hasLeftover()): they answer nothing that was asked.
    Status feed(const QByteArray &data);
    // The connection closed: a body framed by the close is complete now,
    // anything else unfinished failed.
    Status closed();
    void reset() { *this = ApiHttpReplyParser(); }

    Status status() const { return current; }
    bool receivedAny() const { return anyByte; }
    int statusCode() const { return code; }
    const QByteArray &reasonPhrase() const { return reason; }
    const QByteArray &body() const { return content; }
    // The server keeps the connection open for another request.
    bool keepAlive() const { return keep; }
    bool hasLeftover() const { return !buffer.isEmpty(); }
    const QString &error() const { return failure; }

private:
    enum class Part { StatusLine, Head, Body, ChunkSize, ChunkData, ChunkEnd, Trailer, UntilClose };

    Status parse();
    Status parseFrom(int &pos);
    bool headLine(const QByteArray &line);
    bool startBody();
    Status fail(const QString &why);
    Status done();

    Status current = Status::NeedMore;
    Part part = Part::StatusLine;
    QByteArray buffer;
    bool anyByte = false;
    int code = 0;
    QByteArray reason;
    QByteArray content;
    bool keep = true;
    bool oldVersion = false;
    QList<QByteArray> codings;
    qint64 length = -1;
    qint64 remaining = 0;
    qint64 headBytes = 0;
    qint64 trailerBytes = 0;
    QString failure;
};
