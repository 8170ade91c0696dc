#include "mimeencoding_p.h"

#include <QStringView>

#include <array>
#include <cstring>
#include <limits>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace MimeEncoding {

namespace {

// Room for a QString: its size is an int, and a QString of half of that
// already takes 2 GiB.
constexpr qint64 maxChars = std::numeric_limits<int>::max() / 2;

const char base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char hexDigits[] = "0123456789ABCDEF";

// Two Base64 characters as UTF-16 code units for every 12-bit value, so that
// a 3-byte group takes two look-ups instead of four.
const quint32 *base64Pairs()
{
    static const std::array<quint32, 4096> table = [] {
        std::array<quint32, 4096> pairs {};
        for (int i = 0; i < 4096; ++i) {
            const ushort chars[2]
                = { ushort(base64Alphabet[i >> 6]), ushort(base64Alphabet[i & 0x3f]) };
            memcpy(&pairs[size_t(i)], chars, sizeof(chars));
        }
        return pairs;
    }();
    return table.data();
}

// Base64 of a 3-byte group as 4 UTF-16 code units.
inline void base64Quantum(const quint32 *pairs, const uchar *in, ushort *out)
{
    const uint v = (uint(in[0]) << 16) | (uint(in[1]) << 8) | uint(in[2]);
    const quint32 both[2] = { pairs[v >> 12], pairs[v & 0xfff] };
    memcpy(out, both, sizeof(both));
}

// The last 1 or 2 bytes, padded with "=".
void base64Tail(const uchar *in, int len, ushort *out)
{
    const uint v = (uint(in[0]) << 16) | (len > 1 ? uint(in[1]) << 8 : 0u);
    out[0] = ushort(base64Alphabet[v >> 18]);
    out[1] = ushort(base64Alphabet[(v >> 12) & 0x3f]);
    out[2] = len > 1 ? ushort(base64Alphabet[(v >> 6) & 0x3f]) : ushort('=');
    out[3] = ushort('=');
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

inline bool qpLiteral(uchar b)
{
    return b == ' ' || (b >= 33 && b <= 126 && b != '=');
}

QString tooLarge(const QString &prefix, QLatin1String suffix, bool *ok)
{
    if (ok)
        *ok = false;
    return prefix + suffix;
}

ushort *writeText(ushort *dst, const QString &text)
{
    memcpy(dst, text.constData(), size_t(text.size()) * sizeof(QChar));
    return dst + text.size();
}

ushort *writeLatin1(ushort *dst, QLatin1String text)
{
    for (const char c : text)
        *dst++ = uchar(c);
    return dst;
}

} // namespace

QString base64(
    const QByteArray &bytes, int lineLength, const QString &prefix, QLatin1String suffix, bool *ok)
{
    if (ok)
        *ok = true;
    const int len = bytes.size();
    const qint64 n = (qint64(len) + 2) / 3 * 4;
    const int max = lineLength;
    const qint64 breaks = (max > 0 && n > max) ? (n + max - 1) / max - 1 : 0;
    const qint64 total = prefix.size() + n + 2 * breaks + suffix.size();
    if (total > maxChars)
        return tooLarge(prefix, suffix, ok);

    QString out(int(total), Qt::Uninitialized);
    ushort *dst = reinterpret_cast<ushort *>(out.data());
    adviseLargePages(dst, size_t(total) * sizeof(QChar));
    dst = writeText(dst, prefix);

    const uchar *src = reinterpret_cast<const uchar *>(bytes.constData());
    const uchar *const srcEnd = src + len;
    const quint32 *const pairs = base64Pairs();
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
            for (qint64 i = 0; i < count; ++i) {
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
        ushort group[4];
        while (src < srcEnd) {
            if (srcEnd - src >= 3) {
                base64Quantum(pairs, src, group);
                src += 3;
            } else {
                base64Tail(src, int(srcEnd - src), group);
                src = srcEnd;
            }
            for (const ushort c : group) {
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
    Q_ASSERT(dst == reinterpret_cast<const ushort *>(out.constData()) + total);
    return out;
}

QString quotedPrintable(const QByteArray &bytes, int lineLength, LineBreaks breaks,
    const QString &prefix, QLatin1String suffix, bool *ok)
{
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

    QString out(int(bound), Qt::Uninitialized);
    ushort *const begin = reinterpret_cast<ushort *>(out.data());
    ushort *dst = writeText(begin, prefix);
    int chars = 0;
    const auto put = [&](ushort ch) {
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
        put(ushort(hexDigits[b >> 4]));
        put(ushort(hexDigits[b & 0x0f]));
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
            put(b);
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

namespace {

// The DATA bytes of pieces whose seams are all ASCII, so that no surrogate
// pair is split between two of them. Runs of non-ASCII characters are
// converted by QString's own UTF-8 encoder (a run gives the bytes the whole
// text would); their bytes are never ".", CR or LF.
bool transparent(const QStringList &pieces, QByteArray *result)
{
    qint64 units = 0;
    for (const QString &piece : pieces)
        units += piece.size();
    // Room for the text, some stuffing and the end line; grown when short.
    const qint64 capacity = units + units / 64 + 64;
    if (capacity > maxChars)
        return false;

    QByteArray out(int(capacity), Qt::Uninitialized);
    char *dst = out.data();
    char *end = dst + out.size();
    bool fits = true;
    const auto room = [&](qint64 need) {
        if (end - dst >= need)
            return true;
        const qint64 used = dst - out.constData();
        const qint64 size = qMax<qint64>(qint64(out.size()) * 2, used + need);
        if (size > std::numeric_limits<int>::max() - 64) {
            fits = false;
            return false;
        }
        out.resize(int(size));
        dst = out.data() + used;
        end = out.data() + out.size();
        return true;
    };
    bool lineStart = true;
    bool skipLf = false; // a CR was just written as CRLF: its LF is part of it
    // A UTF-16 unit never takes more than three bytes here (three in UTF-8,
    // or CRLF, or a stuffed dot and its character): room is made once per
    // block of units, not per character.
    const int block = 4096;
    for (const QString &piece : pieces) {
        const ushort *src = reinterpret_cast<const ushort *>(piece.constData());
        const int n = piece.size();
        int blockEnd = 0;
        for (int i = 0; i < n; ++i) {
            if (i >= blockEnd) {
                blockEnd = qMin(n, i + block);
                if (!room(3 * qint64(blockEnd - i)))
                    return false;
            }
            const ushort c = src[i];
            if (c >= 0x80) {
                int j = i + 1;
                while (j < n && src[j] >= 0x80)
                    ++j;
                const QByteArray utf8 = QStringView(piece).mid(i, j - i).toUtf8();
                // The run may reach beyond the block the room was made for.
                if (!room(utf8.size() + 3 * qint64(qMax(0, blockEnd - j))))
                    return false;
                memcpy(dst, utf8.constData(), size_t(utf8.size()));
                dst += utf8.size();
                i = j - 1;
                lineStart = false;
                skipLf = false;
                continue;
            }
            if (skipLf) {
                skipLf = false;
                if (c == '\n')
                    continue;
            }
            if (lineStart && c == '.')
                *dst++ = '.';
            if (c == '\r' || c == '\n') {
                *dst++ = '\r';
                *dst++ = '\n';
                lineStart = true;
                skipLf = c == '\r';
            } else {
                *dst++ = char(c);
                lineStart = false;
            }
        }
    }
    if (!room(5) || !fits)
        return false;
    memcpy(dst, "\r\n.\r\n", 5);
    dst += 5;
    out.truncate(int(dst - out.constData()));
    *result = out;
    return true;
}

} // namespace

bool smtpData(const QStringList &pieces, QByteArray *out)
{
    // A seam with non-ASCII on both sides could split a surrogate pair: such
    // neighbours are joined first (the header block always ends in CRLF, so
    // a message never needs it).
    QStringList joined;
    for (const QString &piece : pieces) {
        if (!joined.isEmpty() && !joined.last().isEmpty() && !piece.isEmpty()
            && joined.last().back().unicode() >= 0x80 && piece.front().unicode() >= 0x80) {
            if (qint64(joined.last().size()) + piece.size() > maxChars)
                return false;
            joined.last() += piece;
        } else {
            joined.append(piece);
        }
    }
    return transparent(joined, out);
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
    uint buffer = 0;
    int bits = 0;
    for (const char c : text) {
        const int value = table[uchar(c)];
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
