#pragma once

#include "mimepart.h"

class QFile;

// A file as an application/octet-stream part in Base64, taken either from a
// QFile (owned by the part and read when the part is rendered; an unreadable
// file gives an empty body) or from bytes in memory.
class MimeFile : public MimePart
{
    Q_OBJECT
public:
    explicit MimeFile(QFile *file, QObject *parent = nullptr);
    MimeFile(const QByteArray &stream, const QString &fileName, QObject *parent = nullptr);
    ~MimeFile() override;

    void prepare() override;

protected:
    QFile *file = nullptr;
};
