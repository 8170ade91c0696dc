#include "mimeattachment.h"

#include "mimeheader_p.h"

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
        header += QLatin1String("Content-Disposition: attachment");
        if (!cName.isEmpty())
            header += QLatin1String("; filename=\"") + MimeHeader::quotedStringContent(cName)
                + QLatin1Char('"');
        header += QLatin1String("\r\n");
        dispositionAdded = true;
    }
    MimeFile::prepare();
}
