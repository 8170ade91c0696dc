#include "jsonguard.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QPair>
#include <QSet>
#include <QVector>

#include <algorithm>

namespace JsonGuard {

namespace {

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

namespace {

// A member name in the text: from its opening quote to past its closing one.
struct NameSpan
{
    int start = 0;
    int end = 0;
};

// Walks the objects of the text. With *earlier given, every occurrence of a
// name that the same object names again later goes there (all but the last),
// and *names collects every name of the text; without it the walk stops at
// the first repetition. Returns whether a name repeats; *offset is where the
// first repetition starts.
bool scanNames(
    const QByteArray &json, int *offset, QVector<NameSpan> *earlier, QSet<QString> *names)
{
    struct ObjectLevel
    {
        bool object = false;
        bool expectName = false;
        QHash<QString, NameSpan> last;
    };
    QVector<ObjectLevel> levels;
    bool repeated = false;
    const int n = json.size();
    for (int i = 0; i < n; ++i) {
        const char c = json.at(i);
        switch (c) {
        case '{':
            levels.append(ObjectLevel());
            levels.last().object = true;
            levels.last().expectName = true;
            break;
        case '[':
            levels.append(ObjectLevel());
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
            ObjectLevel &level = levels.last();
            level.expectName = false;
            const QString name = readString(json, &i);
            const NameSpan span { start, qMin(i + 1, n) };
            const auto found = level.last.find(name);
            if (found != level.last.end()) {
                if (!repeated && offset)
                    *offset = start;
                repeated = true;
                if (!earlier)
                    return true;
                earlier->append(found.value());
                found.value() = span;
            } else {
                level.last.insert(name, span);
            }
            if (names)
                names->insert(name);
            break;
        }
        default:
            break;
        }
    }
    return repeated;
}

// The value without the members whose names start with prefix, at any depth.
QJsonValue withoutMarked(const QJsonValue &value, const QString &prefix)
{
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (int i = 0; i < array.size(); ++i) {
            if (array.at(i).isArray() || array.at(i).isObject())
                array.replace(i, withoutMarked(array.at(i), prefix));
        }
        return array;
    }
    if (!value.isObject())
        return value;
    QJsonObject object = value.toObject();
    for (const QString &key : object.keys()) {
        if (key.startsWith(prefix))
            object.remove(key);
        else if (object.value(key).isArray() || object.value(key).isObject())
            object.insert(key, withoutMarked(object.value(key), prefix));
    }
    return object;
}

QString errorText(const QJsonParseError &error, int offset)
{
    return error.error == QJsonParseError::NoError
        ? QString()
        : QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(offset);
}

// Reads a text whose objects repeat member names as Qt reads it, the last
// value of a name winning, without handing Qt a repetition: every earlier
// occurrence is renamed to a name that no member of the text starts with,
// Qt parses that (so it still judges the whole text, the dropped values
// included), and the renamed members are taken out again.
QJsonDocument parseRepeated(const QByteArray &json, QString *error)
{
    QVector<NameSpan> earlier;
    QSet<QString> names;
    scanNames(json, nullptr, &earlier, &names);
    std::sort(earlier.begin(), earlier.end(),
        [](const NameSpan &a, const NameSpan &b) { return a.start < b.start; });

    QString prefix(1, QChar(0));
    QByteArray prefixJson("\\u0000");
    for (bool clash = true; clash;) {
        clash = false;
        for (const QString &name : qAsConst(names)) {
            if (name.startsWith(prefix)) {
                prefix += QChar(0);
                prefixJson += "\\u0000";
                clash = true;
                break;
            }
        }
    }

    QByteArray text;
    text.reserve(json.size() + earlier.size() * (prefixJson.size() + 12));
    QVector<QPair<int, int>> shifts; // (end in the new text, growth so far)
    int from = 0;
    int growth = 0;
    for (int k = 0; k < earlier.size(); ++k) {
        const NameSpan &span = earlier.at(k);
        text.append(json.constData() + from, span.start - from);
        const QByteArray renamed = '"' + prefixJson + QByteArray::number(k) + '"';
        text.append(renamed);
        growth += renamed.size() - (span.end - span.start);
        shifts.append(qMakePair(text.size(), growth));
        from = span.end;
    }
    text.append(json.constData() + from, json.size() - from);

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (error) {
        // The offset of a fault is given in the caller's text.
        int shift = 0;
        for (const auto &s : qAsConst(shifts)) {
            if (s.first <= parseError.offset)
                shift = s.second;
        }
        *error = errorText(parseError, parseError.offset - shift);
    }
    if (document.isNull())
        return document;
    const QJsonValue cleaned = withoutMarked(
        document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object()), prefix);
    return cleaned.isArray() ? QJsonDocument(cleaned.toArray()) : QJsonDocument(cleaned.toObject());
}

} // namespace

bool hasRepeatedName(const QByteArray &json, int *offset)
{
    return scanNames(json, offset, nullptr, nullptr);
}

QJsonDocument parse(const QByteArray &json, QString *error)
{
    if (hasRepeatedName(json))
        return parseRepeated(json, error);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (error)
        *error = errorText(parseError, parseError.offset);
    return document;
}

} // namespace JsonGuard
