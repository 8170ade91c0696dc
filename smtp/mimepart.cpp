#include "mimepart.h"

#include "mimeheader_p.h"

#include "quotedprintable.h"
#include "smtplogging.h"

#include <array>
#include <cstring>
#include <limits>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace {
QLatin1String encodingName(MimePart::Encoding encoding)
{
    switch (encoding) {
    case MimePart::Encoding7Bit:
        return QLatin1String("7bit");
    case MimePart::Encoding8Bit:
        return QLatin1String("8bit");
    case MimePart::EncodingBase64:
        return QLatin1String("base64");
    case MimePart::EncodingQuotedPrintable:
        return QLatin1String("quoted-printable");
    }
    return QLatin1String("");
}

const char base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char hexDigits[] = "0123456789ABCDEF";

// Two Base64 characters as UTF-16 code units for every 12-bit value, so that
// a 3-byte group takes two look-ups instead of four.
const quint32 *base64Pairs()
{
    static const std::array<quint32, 4096> table = [] {
        std::array<quint32, 4096> pairs {};
        for (int i = 0; i < 4096; ++i) {
            const ushort chars[2] = { ushort(base64Alphabet[i >> 6]), ushort(base64Alphabet[i & 0x3f]) };
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

// Text bodies end at their first NUL byte.
QByteArray upToNul(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return nul < 0 ? bytes : bytes.left(nul);
}
} // namespace

MimePart::MimePart(QObject *parent)
    : QObject(parent)
    , formatter(60)
{
}

MimePart::~MimePart() = default;

const QString &MimePart::getHeader() const
{
    return header;
}

void MimePart::setHeader(const QString &header)
{
    this->header = header;
}

void MimePart::addHeaderLine(const QString &line)
{
    header += MimeHeader::singleLine(line) + QLatin1String("\r\n");
}

const QByteArray &MimePart::getContent() const
{
    return content;
}

void MimePart::setContent(const QByteArray &content)
{
    this->content = content;
}

const QString &MimePart::getContentId() const
{
    return cId;
}

void MimePart::setContentId(const QString &cId)
{
    this->cId = cId;
}

const QString &MimePart::getContentName() const
{
    return cName;
}

void MimePart::setContentName(const QString &cName)
{
    this->cName = cName;
}

const QString &MimePart::getContentType() const
{
    return cType;
}

void MimePart::setContentType(const QString &cType)
{
    this->cType = cType;
}

const QString &MimePart::getCharset() const
{
    return cCharset;
}

void MimePart::setCharset(const QString &charset)
{
    cCharset = charset;
}

MimePart::Encoding MimePart::getEncoding() const
{
    return cEncoding;
}

void MimePart::setEncoding(Encoding enc)
{
    cEncoding = enc;
}

MimeContentFormatter &MimePart::getContentFormatter()
{
    return formatter;
}

QString MimePart::toString()
{
    if (!prepared)
        prepare();
    return mimeString;
}

void MimePart::prepare()
{
    QString head;
    head.reserve(160 + header.size());
    head += QLatin1String("Content-Type: ") + MimeHeader::singleLine(cType);
    if (!cCharset.isEmpty())
        head += QLatin1String("; charset=") + MimeHeader::singleLine(cCharset);
    if (!cBoundary.isEmpty())
        head += QLatin1String("; boundary=") + cBoundary;
    head += QLatin1String("\r\n");
    head += QLatin1String("Content-Transfer-Encoding: ") + encodingName(cEncoding)
        + QLatin1String("\r\n");
    if (!cId.isEmpty())
        head += QLatin1String("Content-ID: <") + MimeHeader::singleLine(cId)
            + QLatin1String(">\r\n");
    head += header;
    head += QLatin1String("\r\n");

    if (cEncoding == EncodingBase64) {
        renderBase64(head);
        prepared = true;
        return;
    }
    if (cEncoding == EncodingQuotedPrintable && renderQuotedPrintable(head)) {
        prepared = true;
        return;
    }

    QString body;
    switch (cEncoding) {
    case Encoding7Bit:
        body = QString::fromLatin1(QString::fromUtf8(upToNul(content)).toLatin1());
        break;
    case Encoding8Bit:
        body = QString::fromUtf8(upToNul(content));
        break;
    case EncodingBase64:
        break;
    case EncodingQuotedPrintable:
        body = formatter.format(QuotedPrintable::encode(content), true);
        break;
    }

    mimeString.clear();
    mimeString.reserve(head.size() + body.size() + 4);
    mimeString += head;
    mimeString += body;
    mimeString += QLatin1String("\r\n\r\n");
    prepared = true;
}

void MimePart::renderBase64(const QString &head)
{
    // Attachments are the bulk of a message: the Base64 text is encoded and
    // folded in one pass straight into the part's text, allocated once at
    // its final size, with no intermediate Base64 array.
    const int len = content.size();
    const qint64 n = (qint64(len) + 2) / 3 * 4;
    const int max = formatter.getMaxLength();
    const qint64 breaks = (max > 0 && n > max) ? (n + max - 1) / max - 1 : 0;
    const qint64 total = head.size() + n + 2 * breaks + 4;
    if (total > std::numeric_limits<int>::max() / 2) {
        qCWarning(yxaSmtp, "MimePart::prepare() - content of %d bytes is too long to encode", len);
        mimeString = head + QLatin1String("\r\n\r\n");
        return;
    }
    mimeString = QString(int(total), Qt::Uninitialized);
    ushort *dst = reinterpret_cast<ushort *>(mimeString.data());
    adviseLargePages(dst, size_t(total) * sizeof(QChar));
    memcpy(dst, head.constData(), size_t(head.size()) * sizeof(QChar));
    dst += head.size();

    const uchar *src = reinterpret_cast<const uchar *>(content.constData());
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
    for (const char c : { '\r', '\n', '\r', '\n' })
        *dst++ = ushort(c);
    Q_ASSERT(dst == reinterpret_cast<const ushort *>(mimeString.constData()) + total);
}

bool MimePart::renderQuotedPrintable(const QString &head)
{
    // The same text as MimeContentFormatter::format(QuotedPrintable::encode()),
    // escaped and folded in one pass into a string sized once. Escaped text
    // never holds a line feed (LF is written as "=0A"), so the fold counter
    // runs over the whole body.
    const int len = content.size();
    const uchar *src = reinterpret_cast<const uchar *>(content.constData());
    const auto literal = [](uchar b) { return b == ' ' || (b >= 33 && b <= 126 && b != '='); };
    qint64 encoded = 0;
    for (int i = 0; i < len; ++i)
        encoded += literal(src[i]) ? 1 : 3;
    const int max = formatter.getMaxLength();
    const qint64 breaks = encoded / qMax(1, max - 3) + 1;
    const qint64 bound = head.size() + encoded + 3 * breaks + 4;
    // Too long to fold: the formatter's own path says so and sends it unfolded.
    if (bound > std::numeric_limits<int>::max() / 2)
        return false;

    mimeString = QString(int(bound), Qt::Uninitialized);
    ushort *const begin = reinterpret_cast<ushort *>(mimeString.data());
    ushort *dst = begin;
    memcpy(dst, head.constData(), size_t(head.size()) * sizeof(QChar));
    dst += head.size();
    int chars = 0;
    const auto put = [&](ushort ch) {
        ++chars;
        if (!(chars < max && (ch != '=' || chars < max - 2))) {
            *dst++ = '=';
            *dst++ = '\r';
            *dst++ = '\n';
            chars = 1;
        }
        *dst++ = ch;
    };
    for (int i = 0; i < len; ++i) {
        const uchar b = src[i];
        if (literal(b)) {
            put(b);
        } else {
            put('=');
            put(ushort(hexDigits[b >> 4]));
            put(ushort(hexDigits[b & 0x0f]));
        }
    }
    for (const char c : { '\r', '\n', '\r', '\n' })
        *dst++ = ushort(c);
    mimeString.truncate(int(dst - begin));
    return true;
}
