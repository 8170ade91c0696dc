#include "mimehtml.h"

MimeHtml::MimeHtml(const QString &html, QObject *parent)
    : MimeText(html, parent)
{
    cType = QStringLiteral("text/html");
}

void MimeHtml::setHtml(const QString &html)
{
    text = html;
}

const QString &MimeHtml::getHtml() const
{
    return text;
}
