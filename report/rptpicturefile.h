#pragma once

#include <QByteArray>
#include <QString>

// A picture attribute that names an image file instead of holding the
// image in Base64 ("logo.png"). Such a name is read next to the template it
// belongs to; templates that come from Qt resources or from a document in
// memory have no folder, so there it stays a picture that does not decode.
class RptPictureFile
{
public:
    // True when text cannot be Base64 (it has a '.' or '/', say) and ends in
    // an image file's extension.
    static bool isFileName(const QString &text);
    // Reads the file name relative to dir: its bytes and the image format
    // its content shows ("png", "jpeg"), when asked for; false with a reason
    // when it cannot be read or is no image.
    static bool read(const QString &dir, const QString &name, QString *error,
        QByteArray *bytes = nullptr, QString *format = nullptr);
    // The folder relative picture names of a template file resolve in:
    // empty for resources, which have none.
    static QString folderOf(const QString &templateFile);
};
