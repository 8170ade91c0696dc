#include "jsonguard.h"

#include <QSet>
#include <QVector>

namespace JsonGuard {

namespace {

struct Level
{
    bool object = false;
    bool expectName = false;
    QSet<QString> names;
};

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads the string that starts after the quote at json[*pos]; leaves *pos on
// the closing quote (or the end). The name is decoded as Qt decodes it.
QString readString(const QByteArray &json, int *pos)
{
    QByteArray utf8;
    QString out;
    int i = *pos + 1;
    const int n = json.size();
    while (i < n && json.at(i) != '"') {
        const char c = json.at(i);
        if (c != '\\') {
            utf8 += c;
            ++i;
            continue;
        }
        if (i + 1 >= n)
            break;
        out += QString::fromUtf8(utf8);
        utf8.clear();
        const char e = json.at(i + 1);
        i += 2;
        switch (e) {
        case 'b': out += QChar(0x08); break;
        case 'f': out += QChar(0x0c); break;
        case 'n': out += QChar(0x0a); break;
        case 'r': out += QChar(0x0d); break;
        case 't': out += QChar(0x09); break;
        case 'u': {
            int code = 0;
            for (int k = 0; k < 4 && i < n; ++k, ++i) {
                const int h = hexValue(json.at(i));
                if (h < 0)
                    break;
                code = code * 16 + h;
            }
            out += QChar(ushort(code));
            break;
        }
        default:
            out += QChar::fromLatin1(e);
            break;
        }
    }
    out += QString::fromUtf8(utf8);
    *pos = i;
    return out;
}

void skipString(const QByteArray &json, int *pos)
{
    const int n = json.size();
    int i = *pos + 1;
    while (i < n && json.at(i) != '"')
        i += json.at(i) == '\\' ? 2 : 1;
    *pos = i;
}

} // namespace

bool hasRepeatedName(const QByteArray &json, int *offset)
{
    QVector<Level> levels;
    const int n = json.size();
    for (int i = 0; i < n; ++i) {
        const char c = json.at(i);
        switch (c) {
        case '{':
            levels.append(Level());
            levels.last().object = true;
            levels.last().expectName = true;
            break;
        case '[':
            levels.append(Level());
            break;
        case '}':
        case ']':
            if (!levels.isEmpty())
                levels.removeLast();
            break;
        case ',':
            if (!levels.isEmpty() && levels.last().object)
                levels.last().expectName = true;
            break;
        case '"': {
            const int start = i;
            if (levels.isEmpty() || !levels.last().object || !levels.last().expectName) {
                skipString(json, &i); // a value: only its end matters
                break;
            }
            Level &level = levels.last();
            level.expectName = false;
            const QString name = readString(json, &i);
            if (level.names.contains(name)) {
                if (offset)
                    *offset = start;
                return true;
            }
            level.names.insert(name);
            break;
        }
        default:
            break;
        }
    }
    return false;
}

QJsonDocument parse(const QByteArray &json, QString *error)
{
    int offset = 0;
    if (hasRepeatedName(json, &offset)) {
        if (error)
            *error = QStringLiteral("member name repeated at offset %1").arg(offset);
        return QJsonDocument();
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (error) {
        *error = parseError.error == QJsonParseError::NoError
            ? QString()
            : QStringLiteral("%1 at offset %2").arg(parseError.errorString()).arg(parseError.offset);
    }
    return document;
}

} // namespace JsonGuard
