#include "rptpicturefile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>

bool RptPictureFile::isFileName(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^[\\w./~ -]*\\.(png|jpe?g|gif|bmp|svg)$"),
        QRegularExpression::CaseInsensitiveOption);
    const QString name = text.trimmed();
    if (!pattern.match(name).hasMatch())
        return false;
    // A dot is no Base64 letter, so such a text is never an image itself.
    return QByteArray::fromBase64Encoding(name.toLatin1(), QByteArray::AbortOnBase64DecodingErrors)
               .decodingStatus
        != QByteArray::Base64DecodingStatus::Ok;
}

bool RptPictureFile::read(
    const QString &dir, const QString &name, QString *error, QByteArray *bytes, QString *format)
{
    const QString path = QDir(dir).absoluteFilePath(name.trimmed());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray data = file.readAll();
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QByteArray kind = reader.format();
    if (kind.isEmpty() || reader.read().isNull()) {
        *error = QStringLiteral("%1 is no image Qt can read").arg(path);
        return false;
    }
    if (bytes)
        *bytes = data;
    if (format)
        *format = QString::fromLatin1(kind);
    return true;
}

QString RptPictureFile::folderOf(const QString &templateFile)
{
    if (templateFile.startsWith(QLatin1Char(':')) || templateFile.startsWith(QLatin1String("qrc:")))
        return QString();
    return QFileInfo(templateFile).absolutePath();
}
