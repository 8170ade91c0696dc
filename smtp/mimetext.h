#pragma once

#include "mimepart.h"

// A text/plain part in UTF-8, sent as 8bit unless another encoding is set.
class MimeText : public MimePart
{
    Q_OBJECT
public:
    explicit MimeText(const QString &text = QString(), QObject *parent = nullptr);

    void setText(const QString &text);
    const QString &getText() const;

    void prepare() override;

protected:
    QString text;
};
