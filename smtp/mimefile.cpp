#include "mimefile.h"

#include <QFile>
#include <QFileInfo>

MimeFile::MimeFile(QFile *file, QObject *parent)
    : MimePart(parent)
    , file(file)
{
    cType = QStringLiteral("application/octet-stream");
    cEncoding = EncodingBase64;
    if (file) {
        cName = QFileInfo(file->fileName()).fileName();
        file->setParent(this);
    }
}

MimeFile::MimeFile(const QByteArray &stream, const QString &fileName, QObject *parent)
    : MimePart(parent)
{
    cType = QStringLiteral("application/octet-stream");
    cEncoding = EncodingBase64;
    cName = fileName;
    content = stream;
}

MimeFile::~MimeFile() = default;

void MimeFile::prepare()
{
    if (file) {
        content.clear();
        if (file->open(QIODevice::ReadOnly)) {
            content = file->readAll();
            file->close();
        }
    }
    MimePart::prepare();
}
