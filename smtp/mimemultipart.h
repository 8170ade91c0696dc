#pragma once

#include "mimepart.h"

#include <QList>

// A multipart container. Its parts are not owned and must outlive the
// rendering. The boundary is fixed at construction: 32 lower-case hex digits
// from the system's cryptographic random source, so that no sender can
// predict it and place it inside a body.
class MimeMultiPart : public MimePart
{
    Q_OBJECT
public:
    enum MultiPartType {
        Mixed = 0,
        Digest = 1,
        Alternative = 2,
        Related = 3,
        Report = 4,
        Signed = 5,
        Encrypted = 6
    };

    explicit MimeMultiPart(MultiPartType type = Mixed, QObject *parent = nullptr);
    ~MimeMultiPart() override;

    void setMimeType(MultiPartType type);
    MultiPartType getMimeType() const;

    const QList<MimePart *> &getParts() const;
    void addPart(MimePart *part);

    QString getBoundary() const;

    void prepare() override;

    static const char *const MULTI_PART_NAMES[7];

protected:
    QList<MimePart *> parts;
    MultiPartType cMimeType;
};
