#pragma once

#include "mimefile.h"

// A file shown inside the message (Content-Disposition: inline), usually
// referred to from HTML through its Content-ID.
class MimeInlineFile : public MimeFile
{
    Q_OBJECT
public:
    explicit MimeInlineFile(QFile *file, QObject *parent = nullptr);

    void prepare() override;

private:
    bool dispositionAdded = false;
};
