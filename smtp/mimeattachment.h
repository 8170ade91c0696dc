#pragma once

#include "mimefile.h"

// A file shown to the recipient as an attachment (Content-Disposition:
// attachment, with the file name when there is one: quoted when it is
// ASCII, in the RFC 2231 form filename*=utf-8''... otherwise).
class MimeAttachment : public MimeFile
{
    Q_OBJECT
public:
    explicit MimeAttachment(QFile *file, QObject *parent = nullptr);
    MimeAttachment(const QByteArray &stream, const QString &fileName, QObject *parent = nullptr);

    void prepare() override;

private:
    bool dispositionAdded = false;
};
