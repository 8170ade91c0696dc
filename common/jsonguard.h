#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

// JSON that arrives from outside (mail data documents, API replies, tenant
// settings) is read through here. Qt 5.15's parser keeps the last of several
// members with the same name, but leaks the values it drops when the object
// also holds arrays or objects. A document that repeats a name is therefore
// never handed to Qt as it is: it reads the same (the last value wins) with
// nothing leaked, so a mail whose writer repeated a name still carries its
// attachments. Nothing we write repeats a name.
namespace JsonGuard {

// The document as Qt reads it, or a null one with the reason in *error
// (empty on success).
QJsonDocument parse(const QByteArray &json, QString *error = nullptr);

// True when some object of the text names a member twice (names compared
// after their escapes are resolved). *offset is the byte where the second
// one starts. Text that is no JSON is read as far as it goes.
bool hasRepeatedName(const QByteArray &json, int *offset = nullptr);

} // namespace JsonGuard
