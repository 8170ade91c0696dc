#include "mimetext.h"

MimeText::MimeText(const QString &text, QObject *parent)
    : MimePart(parent)
    , text(text)
{
    cType = QStringLiteral("text/plain");
    cCharset = QStringLiteral("utf-8");
    cEncoding = Encoding8Bit;
}

void MimeText::setText(const QString &text)
{
    this->text = text;
}

const QString &MimeText::getText() const
{
    return text;
}

void MimeText::prepare()
{
    content = text.toUtf8();
    MimePart::prepare();
}
