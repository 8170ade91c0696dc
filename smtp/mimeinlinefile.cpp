#include "mimeinlinefile.h"

MimeInlineFile::MimeInlineFile(QFile *file, QObject *parent)
    : MimeFile(file, parent)
{
}

void MimeInlineFile::prepare()
{
    if (!dispositionAdded) {
        header += QLatin1String("Content-Disposition: inline\r\n");
        dispositionAdded = true;
    }
    MimeFile::prepare();
}
