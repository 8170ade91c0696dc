#pragma once

#include "mimecontentformatter.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// One MIME entity: its header fields and its body, rendered once into the
// bytes that go on the wire (UTF-8). Configure a part through its setters,
// then call toBytes() or toString(); the first call renders it (prepare())
// and later setter calls no longer change the result.
class MimePart : public QObject
{
    Q_OBJECT
public:
    enum Encoding {
        Encoding7Bit = 0,
        Encoding8Bit = 1,
        EncodingBase64 = 2,
        EncodingQuotedPrintable = 3
    };

    explicit MimePart(QObject *parent = nullptr);
    ~MimePart() override;

    const QString &getHeader() const;
    void setHeader(const QString &header);
    // Appends one header line; CR and LF inside it become blanks.
    void addHeaderLine(const QString &line);

    const QByteArray &getContent() const;
    void setContent(const QByteArray &content);

    const QString &getContentId() const;
    void setContentId(const QString &cId);

    const QString &getContentName() const;
    void setContentName(const QString &cName);

    const QString &getContentType() const;
    void setContentType(const QString &cType);

    const QString &getCharset() const;
    void setCharset(const QString &charset);

    Encoding getEncoding() const;
    void setEncoding(Encoding enc);

    MimeContentFormatter &getContentFormatter();

    // The rendered part read as UTF-8.
    virtual QString toString();
    QByteArray toBytes();
    virtual void prepare();

protected:
    QString header;
    QByteArray content;
    QString cId;
    QString cName;
    QString cType;
    QString cCharset;
    QString cBoundary;
    Encoding cEncoding = Encoding7Bit;
    QByteArray mimeBytes;
    bool prepared = false;
    MimeContentFormatter formatter;
};
