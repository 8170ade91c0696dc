#pragma once

#include <QString>

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
};
