#pragma once

#include <QObject>
#include <QString>

// Folds encoded body text into lines of at most maxLength characters.
// Base64 text is cut into lines of exactly maxLength (the last may be
// shorter). Quoted-printable text gets soft line breaks ("=" CRLF) so that
// a line holds at most maxLength - 1 characters before its "=", an escape
// sequence is never split, and the counter restarts after every line feed.
class MimeContentFormatter : public QObject
{
    Q_OBJECT
public:
    explicit MimeContentFormatter(int maxLength = 76, QObject *parent = nullptr);

    void setMaxLength(int length);
    int getMaxLength() const;

    QString format(const QString &content, bool quotedPrintable = false) const;

private:
    QString formatBase64(const QString &content) const;
    QString formatQuotedPrintable(const QString &content) const;

    int maxLength;
};
