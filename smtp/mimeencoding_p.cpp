#include "mimeencoding_p.h"

#include <QtAlgorithms>
#include <QtEndian>

#include <array>
#include <cstring>
#include <limits>
#include <type_traits>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace MimeEncoding {

namespace {

// Room for a QString: its size is an int, and a QString of half of that
// already takes 2 GiB.
constexpr qint64 maxChars = std::numeric_limits<int>::max() / 2;

const char base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char hexDigits[] = "0123456789ABCDEF";

// Two Base64 characters in the output's code units (UTF-16 for a QString,
// bytes for a QByteArray) for every 12-bit value, so that a 3-byte group
// takes two look-ups instead of four.
template <typename Ch> using Base64Pair = std::conditional_t<sizeof(Ch) == 1, quint16, quint32>;

template <typename Ch> const Base64Pair<Ch> *base64Pairs()
{
    static const std::array<Base64Pair<Ch>, 4096> table = [] {
        std::array<Base64Pair<Ch>, 4096> pairs {};
        for (int i = 0; i < 4096; ++i) {
            const Ch chars[2] = { Ch(base64Alphabet[i >> 6]), Ch(base64Alphabet[i & 0x3f]) };
            memcpy(&pairs[size_t(i)], chars, sizeof(chars));
        }
        return pairs;
    }();
    return table.data();
}

// Base64 of a 3-byte group as 4 code units.
template <typename Ch>
inline void base64Quantum(const Base64Pair<Ch> *pairs, const uchar *in, Ch *out)
{
    const uint v = (uint(in[0]) << 16) | (uint(in[1]) << 8) | uint(in[2]);
    const Base64Pair<Ch> both[2] = { pairs[v >> 12], pairs[v & 0xfff] };
    memcpy(out, both, sizeof(both));
}

// Two groups (6 bytes) through one load of 8 bytes, which must be readable.
template <typename Ch>
inline void base64Quanta(const Base64Pair<Ch> *pairs, const uchar *in, Ch *out)
{
    quint64 word;
    memcpy(&word, in, sizeof(word));
    const quint64 v = qFromBigEndian(word) >> 16;
    const uint first = uint(v >> 24);
    const uint second = uint(v) & 0xffffff;
    const Base64Pair<Ch> four[4]
        = { pairs[first >> 12], pairs[first & 0xfff], pairs[second >> 12], pairs[second & 0xfff] };
    memcpy(out, four, sizeof(four));
}

// The last 1 or 2 bytes, padded with "=".
template <typename Ch> void base64Tail(const uchar *in, int len, Ch *out)
{
    const uint v = (uint(in[0]) << 16) | (len > 1 ? uint(in[1]) << 8 : 0u);
    out[0] = Ch(base64Alphabet[v >> 18]);
    out[1] = Ch(base64Alphabet[(v >> 12) & 0x3f]);
    out[2] = len > 1 ? Ch(base64Alphabet[(v >> 6) & 0x3f]) : Ch('=');
    out[3] = Ch('=');
}

// The text of a large attachment is fresh memory on every render, and the
// first touch of each 4 KiB page costs a fault (on virtual machines a
// costly one): ask for transparent huge pages, where the kernel offers
// them on request. Only advice; without it the pages are ordinary ones.
void adviseLargePages(void *data, size_t size)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    const uintptr_t huge = 2 * 1024 * 1024;
    if (size < 4 * huge)
        return;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(data) + huge - 1) & ~(huge - 1);
    const uintptr_t last = (reinterpret_cast<uintptr_t>(data) + size) & ~(huge - 1);
    if (last > first)
        madvise(reinterpret_cast<void *>(first), size_t(last - first), MADV_HUGEPAGE);
#else
    Q_UNUSED(data)
    Q_UNUSED(size)
#endif
}

// The first CR or LF in [from, to), or to: sixteen bytes a step where the
// processor allows, since a message is mostly lines of Base64 that hold
// neither.
const char *lineEnd(const char *from, const char *to)
{
#ifdef __SSE2__
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    while (to - from >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from));
        const uint found
            = uint(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
        if (found)
            return from + qCountTrailingZeroBits(found);
        from += 16;
    }
#endif
    while (from < to && *from != '\r' && *from != '\n')
        ++from;
    return from;
}

inline bool qpLiteral(uchar b)
{
    return b == ' ' || (b >= 33 && b <= 126 && b != '=');
}

// The two kinds of output the encoders write: a QString in UTF-16 units
// (headers and the text API) or a QByteArray of the bytes that are sent.
template <typename String> struct Out;

template <> struct Out<QString>
{
    using Ch = ushort;
    static Ch *data(QString &s) { return reinterpret_cast<Ch *>(s.data()); }
    static const Ch *constData(const QString &s)
    {
        return reinterpret_cast<const Ch *>(s.constData());
    }
    static Ch *write(Ch *dst, const QString &text)
    {
        memcpy(dst, text.constData(), size_t(text.size()) * sizeof(QChar));
        return dst + text.size();
    }
};

template <> struct Out<QByteArray>
{
    using Ch = char;
    static Ch *data(QByteArray &s) { return s.data(); }
    static const Ch *constData(const QByteArray &s) { return s.constData(); }
    static Ch *write(Ch *dst, const QByteArray &text)
    {
        memcpy(dst, text.constData(), size_t(text.size()));
        return dst + text.size();
    }
};

template <typename Ch> Ch *writeLatin1(Ch *dst, QLatin1String text)
{
    for (const char c : text)
        *dst++ = Ch(uchar(c));
    return dst;
}

template <typename String> String tooLarge(const String &prefix, QLatin1String suffix, bool *ok)
{
    if (ok)
        *ok = false;
    String out(int(prefix.size() + suffix.size()), Qt::Uninitialized);
    writeLatin1(Out<String>::write(Out<String>::data(out), prefix), suffix);
    return out;
}

template <typename String>
String base64Into(
    const QByteArray &bytes, int lineLength, const String &prefix, QLatin1String suffix, bool *ok)
{
    using O = Out<String>;
    using Ch = typename O::Ch;
    if (ok)
        *ok = true;
    const int len = bytes.size();
    const qint64 n = (qint64(len) + 2) / 3 * 4;
    const int max = lineLength;
    const qint64 breaks = (max > 0 && n > max) ? (n + max - 1) / max - 1 : 0;
    const qint64 total = prefix.size() + n + 2 * breaks + suffix.size();
    if (total > maxChars)
        return tooLarge(prefix, suffix, ok);

    String out(int(total), Qt::Uninitialized);
    Ch *dst = O::data(out);
    adviseLargePages(dst, size_t(total) * sizeof(Ch));
    dst = O::write(dst, prefix);

    const uchar *src = reinterpret_cast<const uchar *>(bytes.constData());
    const uchar *const srcEnd = src + len;
    const Base64Pair<Ch> *const pairs = base64Pairs<Ch>();
    if (breaks == 0 || max % 4 == 0) {
        // Lines of whole 4-character groups: 3 bytes in give 4 characters
        // out, and a line break falls between groups.
        qint64 groups = len / 3;
        const qint64 groupsPerLine = breaks > 0 ? max / 4 : groups + 1;
        qint64 room = groupsPerLine;
        while (groups > 0) {
            if (room == 0) {
                *dst++ = '\r';
                *dst++ = '\n';
                room = groupsPerLine;
            }
            const qint64 count = qMin(room, groups);
            qint64 i = 0;
            for (; i + 1 < count && srcEnd - src >= 8; i += 2) {
                base64Quanta(pairs, src, dst);
                src += 6;
                dst += 8;
            }
            for (; i < count; ++i) {
                base64Quantum(pairs, src, dst);
                src += 3;
                dst += 4;
            }
            room -= count;
            groups -= count;
        }
        if (src < srcEnd) {
            if (room == 0) {
                *dst++ = '\r';
                *dst++ = '\n';
            }
            base64Tail(src, int(srcEnd - src), dst);
            dst += 4;
        }
    } else {
        // A line length that cuts through groups: encode each group aside
        // and copy its characters one by one.
        int column = 0;
        Ch group[4];
        while (src < srcEnd) {
            if (srcEnd - src >= 3) {
                base64Quantum(pairs, src, group);
                src += 3;
            } else {
                base64Tail(src, int(srcEnd - src), group);
                src = srcEnd;
            }
            for (const Ch c : group) {
                if (column == max) {
                    *dst++ = '\r';
                    *dst++ = '\n';
                    column = 0;
                }
                *dst++ = c;
                ++column;
            }
        }
    }
    dst = writeLatin1(dst, suffix);
    Q_ASSERT(dst == O::constData(out) + total);
    return out;
}

template <typename String>
String quotedPrintableInto(const QByteArray &bytes, int lineLength, LineBreaks breaks,
    const String &prefix, QLatin1String suffix, bool *ok)
{
    using O = Out<String>;
    using Ch = typename O::Ch;
    if (ok)
        *ok = true;
    const int len = bytes.size();
    const uchar *src = reinterpret_cast<const uchar *>(bytes.constData());
    const bool kept = breaks == LineBreaks::Kept;
    // Bound: three characters for every byte that is not literal, and at
    // least lineLength - 3 characters between two soft breaks. A line break
    // takes two, and the blank before it may grow by two: an LF counts four.
    qint64 encoded = 0;
    for (int i = 0; i < len; ++i)
        encoded += qpLiteral(src[i]) ? 1 : (kept && src[i] == '\n' ? 4 : 3);
    if (kept)
        encoded += 2; // a blank escaped at the very end
    const int max = lineLength;
    const qint64 softBreaks = max > 0 ? encoded / qMax(1, max - 3) + 1 : 0;
    const qint64 bound = prefix.size() + encoded + 3 * softBreaks + suffix.size();
    if (bound > maxChars)
        return tooLarge(prefix, suffix, ok);

    String out(int(bound), Qt::Uninitialized);
    Ch *const begin = O::data(out);
    Ch *dst = O::write(begin, prefix);
    int chars = 0;
    const auto put = [&](Ch ch) {
        ++chars;
        if (max > 0 && !(chars < max && (ch != '=' || chars < max - 2))) {
            *dst++ = '=';
            *dst++ = '\r';
            *dst++ = '\n';
            chars = 1;
        }
        *dst++ = ch;
    };
    const auto escape = [&](uchar b) {
        put('=');
        put(Ch(hexDigits[b >> 4]));
        put(Ch(hexDigits[b & 0x0f]));
    };
    // A blank that would end a line is written as =20: a literal one may be
    // stripped on the way.
    bool blankLast = false;
    const auto endLine = [&]() {
        if (blankLast) {
            --dst;
            --chars;
            escape(' ');
            blankLast = false;
        }
    };
    for (int i = 0; i < len; ++i) {
        const uchar b = src[i];
        if (kept && (b == '\n' || (b == '\r' && i + 1 < len && src[i + 1] == '\n'))) {
            endLine();
            if (b == '\r')
                ++i;
            *dst++ = '\r';
            *dst++ = '\n';
            chars = 0;
            continue;
        }
        if (qpLiteral(b)) {
            put(Ch(b));
            blankLast = b == ' ';
        } else {
            escape(b);
            blankLast = false;
        }
    }
    if (kept)
        endLine();
    dst = writeLatin1(dst, suffix);
    Q_ASSERT(dst <= begin + bound);
    out.truncate(int(dst - begin));
    return out;
}

} // namespace

QString base64(
    const QByteArray &bytes, int lineLength, const QString &prefix, QLatin1String suffix, bool *ok)
{
    return base64Into(bytes, lineLength, prefix, suffix, ok);
}

QByteArray base64Bytes(const QByteArray &bytes, int lineLength, const QByteArray &prefix,
    QLatin1String suffix, bool *ok)
{
    return base64Into(bytes, lineLength, prefix, suffix, ok);
}

QString quotedPrintable(const QByteArray &bytes, int lineLength, LineBreaks breaks,
    const QString &prefix, QLatin1String suffix, bool *ok)
{
    return quotedPrintableInto(bytes, lineLength, breaks, prefix, suffix, ok);
}

QByteArray quotedPrintableBytes(const QByteArray &bytes, int lineLength, LineBreaks breaks,
    const QByteArray &prefix, QLatin1String suffix, bool *ok)
{
    return quotedPrintableInto(bytes, lineLength, breaks, prefix, suffix, ok);
}

bool smtpData(const QList<QByteArray> &pieces, QByteArray *result)
{
    qint64 bytes = 0;
    for (const QByteArray &piece : pieces)
        bytes += piece.size();
    // Room for the text, some stuffing and the end line; grown when short.
    const qint64 capacity = bytes + bytes / 64 + 64;
    if (capacity > maxChars)
        return false;

    QByteArray out(int(capacity), Qt::Uninitialized);
    char *dst = out.data();
    char *end = dst + out.size();
    const auto room = [&](qint64 need) {
        if (end - dst >= need)
            return true;
        const qint64 used = dst - out.constData();
        const qint64 size = qMax<qint64>(qint64(out.size()) * 2, used + need);
        if (size > std::numeric_limits<int>::max() - 64)
            return false;
        out.resize(int(size));
        dst = out.data() + used;
        end = out.data() + out.size();
        return true;
    };
    bool lineStart = true;
    bool skipLf = false; // a CR was just written as CRLF: its LF is part of it
    // Line by line: the text between two line ends is copied whole. UTF-8
    // bytes of non-ASCII characters are never ".", CR or LF, so they need
    // no look of their own.
    for (const QByteArray &piece : pieces) {
        const char *src = piece.constData();
        const char *const srcEnd = src + piece.size();
        while (src < srcEnd) {
            if (skipLf) {
                skipLf = false;
                if (*src == '\n') {
                    ++src;
                    continue;
                }
            }
            const char *const stop = lineEnd(src, srcEnd);
            const qint64 length = stop - src;
            // A dot, the line, and its CRLF.
            if (!room(length + 3))
                return false;
            if (lineStart && length > 0 && *src == '.')
                *dst++ = '.';
            memcpy(dst, src, size_t(length));
            dst += length;
            if (stop == srcEnd) {
                lineStart = lineStart && length == 0;
                break;
            }
            *dst++ = '\r';
            *dst++ = '\n';
            lineStart = true;
            skipLf = *stop == '\r';
            src = stop + 1;
        }
    }
    if (!room(5))
        return false;
    memcpy(dst, "\r\n.\r\n", 5);
    dst += 5;
    out.truncate(int(dst - out.constData()));
    *result = out;
    return true;
}

int utf8Length(const QString &text)
{
    qint64 n = 0;
    const ushort *src = reinterpret_cast<const ushort *>(text.constData());
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const ushort c = src[i];
        if (c < 0x80)
            n += 1;
        else if (c < 0x800)
            n += 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(src[i + 1])) {
            n += 4;
            ++i;
        } else {
            n += 3; // a lone surrogate becomes a replacement character
        }
    }
    return int(qMin<qint64>(n, std::numeric_limits<int>::max()));
}

QByteArray fromBase64(const QByteArray &text)
{
    static const auto table = [] {
        std::array<signed char, 256> values {};
        values.fill(-1);
        const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            values[uchar(alphabet[i])] = static_cast<signed char>(i);
        return values;
    }();
    QByteArray out(int((qint64(text.size()) * 3) / 4 + 3), Qt::Uninitialized);
    char *dst = out.data();
    const uchar *src = reinterpret_cast<const uchar *>(text.constData());
    const uchar *const end = src + text.size();
    uint buffer = 0;
    int bits = 0;
    while (src < end) {
        // Between whole groups, four characters of the alphabet in a row
        // (nearly all of a document) are three bytes at once; anything else
        // goes through the character-by-character path below, which reads
        // them the same way.
        if (bits == 0) {
            while (end - src >= 4) {
                const int a = table[src[0]];
                const int b = table[src[1]];
                const int c = table[src[2]];
                const int d = table[src[3]];
                if ((a | b | c | d) < 0)
                    break;
                const uint v = (uint(a) << 18) | (uint(b) << 12) | (uint(c) << 6) | uint(d);
                dst[0] = char(v >> 16);
                dst[1] = char(v >> 8);
                dst[2] = char(v);
                dst += 3;
                src += 4;
            }
            if (src == end)
                break;
        }
        const int value = table[*src++];
        if (value < 0)
            continue;
        buffer = (buffer << 6) | uint(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            *dst++ = char(buffer >> bits);
            buffer &= (1u << bits) - 1;
        }
    }
    out.truncate(int(dst - out.constData()));
    return out;
}

} // namespace MimeEncoding
