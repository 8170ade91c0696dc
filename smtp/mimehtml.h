#pragma once

#include "mimetext.h"

// A text/html part; the HTML is kept as the part's text.
class MimeHtml : public MimeText
{
    Q_OBJECT
public:
    explicit MimeHtml(const QString &html = QString(), QObject *parent = nullptr);

    void setHtml(const QString &html);
    const QString &getHtml() const;
};
