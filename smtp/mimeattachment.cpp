#include "mimeattachment.h"

#include "mimeheader_p.h"

#include <QUrl>

MimeAttachment::MimeAttachment(QFile *file, QObject *parent)
    : MimeFile(file, parent)
{
}

MimeAttachment::MimeAttachment(const QByteArray &stream, const QString &fileName, QObject *parent)
    : MimeFile(stream, fileName, parent)
{
}

void MimeAttachment::prepare()
{
    // A multipart prepares its parts on every pass; the disposition line must
    // still appear only once.
    if (!dispositionAdded) {
        QString line = QStringLiteral("Content-Disposition: attachment");
        // A name that is not plain ASCII (the order documents carry Slovak
        // letters) goes out in the RFC 2231 form instead of raw 8-bit bytes.
        if (!cName.isEmpty() && MimeHeader::isAscii(cName))
            line += QLatin1String("; filename=\"") + MimeHeader::quotedStringContent(cName)
                + QLatin1Char('"');
        else if (!cName.isEmpty())
            line += QLatin1String("; filename*=utf-8''")
                + QString::fromLatin1(QUrl::toPercentEncoding(cName));
        // A name too long for one SMTP line is continued over several.
        if (line.size() > MimeHeader::maxLineLength)
            line = QLatin1String("Content-Disposition: attachment")
                + MimeHeader::continuedParameter(QStringLiteral("filename"), cName);
        header += line + QLatin1String("\r\n");
        dispositionAdded = true;
    }
    MimeFile::prepare();
}
