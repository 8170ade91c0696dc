#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// Where one tenant database lives: database name, MySQL user, decoded
// password and the schema's token. Usable for connecting only when name, user
// and pass are all set.
struct DBSchemeRecord
{
    QString name;
    QString user;
    QString pass;
    QString token;

    bool isUsable() const { return !name.isEmpty() && !user.isEmpty() && !pass.isEmpty(); }

    // Passwords are stored as Base64, possibly followed by a NUL and junk
    // (`schemas.pass`, the tenant's `smtpPass`).
    static QString decodePassword(const QVariant &stored)
    {
        QByteArray bytes = QByteArray::fromBase64(stored.toByteArray());
        const int nul = bytes.indexOf('\0');
        if (nul >= 0)
            bytes.truncate(nul);
        return QString::fromUtf8(bytes);
    }
};
