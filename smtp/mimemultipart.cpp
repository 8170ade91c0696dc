#include "mimemultipart.h"

#include <QRandomGenerator>

const char *const MimeMultiPart::MULTI_PART_NAMES[7] = {
    "multipart/mixed",
    "multipart/digest",
    "multipart/alternative",
    "multipart/related",
    "multipart/report",
    "multipart/signed",
    "multipart/encrypted",
};

namespace {
QString newBoundary()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(words), int(sizeof(words))).toHex());
}

QString typeName(MimeMultiPart::MultiPartType type)
{
    const int index = int(type);
    if (index < 0 || index > 6)
        return QString::fromLatin1(MimeMultiPart::MULTI_PART_NAMES[0]);
    return QString::fromLatin1(MimeMultiPart::MULTI_PART_NAMES[index]);
}
} // namespace

MimeMultiPart::MimeMultiPart(MultiPartType type, QObject *parent)
    : MimePart(parent)
    , cMimeType(type)
{
    cType = typeName(type);
    cEncoding = Encoding8Bit;
    cBoundary = newBoundary();
}

MimeMultiPart::~MimeMultiPart() = default;

void MimeMultiPart::setMimeType(MultiPartType type)
{
    cMimeType = type;
    cType = typeName(type);
}

MimeMultiPart::MultiPartType MimeMultiPart::getMimeType() const
{
    return cMimeType;
}

const QList<MimePart *> &MimeMultiPart::getParts() const
{
    return parts;
}

void MimeMultiPart::addPart(MimePart *part)
{
    parts.append(part);
}

QString MimeMultiPart::getBoundary() const
{
    return cBoundary;
}

void MimeMultiPart::prepare()
{
    // The parts are joined as bytes straight into the container's own
    // bytes, the same as its 8bit body would be, without two more copies of
    // every attachment.
    const QByteArray delimiter = "--" + cBoundary.toLatin1() + "\r\n";
    QList<QByteArray> rendered;
    qsizetype total = 0;
    for (MimePart *part : qAsConst(parts)) {
        part->prepare();
        rendered.append(part->toBytes());
        total += delimiter.size() + rendered.last().size();
    }

    content.clear();
    MimePart::prepare(); // the header, with an empty body
    const QByteArray head = mimeBytes.chopped(4);

    mimeBytes.clear();
    mimeBytes.reserve(int(head.size() + total + delimiter.size() + 8));
    mimeBytes += head;
    for (const QByteArray &bytes : qAsConst(rendered)) {
        mimeBytes += delimiter;
        mimeBytes += bytes;
    }
    rendered.clear();
    mimeBytes += "--" + cBoundary.toLatin1() + "--\r\n";
    mimeBytes += "\r\n\r\n";
    prepared = true;
}
