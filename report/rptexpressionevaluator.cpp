#include "rptexpressionevaluator.h"

#include "rptscriptengine.h"

#include <QLocale>
#include <QRegularExpression>
#include <QScriptContext>
#include <QSet>

namespace {

// A data variable stands in a text as kMark, the index of its value and
// kMarkEnd while the text is cut into pieces and turned into a program; the
// value itself joins only literal text or the bindings of a program.
constexpr QChar kMark(0xE000);
constexpr QChar kMarkEnd(0xE001);

const QString &ifEscapeLt()
{
    static const QString s = QStringLiteral("&lt-;");
    return s;
}

const QString &ifEscapeGt()
{
    static const QString s = QStringLiteral("&gt+;");
    return s;
}

// Patterns are compiled once per thread: engines of different threads never
// share one.
const QRegularExpression &variablePattern()
{
    static thread_local const QRegularExpression re(
        QStringLiteral("\\[\\D.*?]"), QRegularExpression::DotMatchesEverythingOption);
    return re;
}

// Replaces every data variable of text in one pass, so a value that itself
// looks like a variable is never substituted again. value() is asked once
// per distinct variable.
template <typename Value> QString substituteVariables(const QString &text, Value value)
{
    QHash<QString, QString> known;
    QString result;
    int last = 0;
    QRegularExpressionMatchIterator it = variablePattern().globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString token = m.captured(0);
        auto found = known.constFind(token);
        if (found == known.constEnd())
            found = known.insert(token, value(token));
        result += text.midRef(last, m.capturedStart() - last);
        result += *found;
        last = m.capturedEnd();
    }
    if (last == 0)
        return text;
    result += text.midRef(last);
    return result;
}

// text with each data variable replaced by a mark; values gets the value of
// each distinct variable, asked once.
QString markVariables(
    const QString &text, const RptExpressionEvaluator::ValueOf &valueOf, QStringList &values)
{
    QHash<QString, int> index;
    return substituteVariables(text, [&](const QString &token) {
        auto found = index.constFind(token);
        if (found == index.constEnd()) {
            found = index.insert(token, values.size());
            values.append(valueOf(token));
        }
        return kMark + QString::number(*found) + kMarkEnd;
    });
}

// The value index of a mark starting at i, and the position after it; -1
// when i starts no mark (a template may hold the private-use character).
int readMark(const QString &text, int i, int count, int *end)
{
    if (text.at(i) != kMark)
        return -1;
    int j = i + 1;
    int index = 0;
    while (j < text.size() && text.at(j).isDigit() && j - i < 8)
        index = index * 10 + text.at(j++).digitValue();
    if (j == i + 1 || j >= text.size() || text.at(j) != kMarkEnd || index >= count)
        return -1;
    *end = j + 1;
    return index;
}

QString unmark(const QString &text, const QStringList &values)
{
    if (!text.contains(kMark))
        return text;
    QString out;
    for (int i = 0; i < text.size();) {
        int end = 0;
        const int index = readMark(text, i, values.size(), &end);
        if (index < 0) {
            out += text.at(i++);
        } else {
            out += values.at(index);
            i = end;
        }
    }
    return out;
}

bool isNumber(const QString &value)
{
    bool ok = false;
    value.toDouble(&ok);
    if (!ok)
        value.toFloat(&ok);
    if (!ok)
        value.toInt(&ok);
    return ok;
}

// A value that reads as a plain decimal number is bound as a number, as it
// would have read written into the program; anything else is text.
QScriptValue dataValue(const QString &value)
{
    const int n = value.size();
    int i = 0;
    auto digits = [&]() {
        const int start = i;
        while (i < n && value.at(i).unicode() >= '0' && value.at(i).unicode() <= '9')
            ++i;
        return i - start;
    };
    auto blanks = [&]() {
        while (i < n && (value.at(i) == QLatin1Char(' ') || value.at(i) == QLatin1Char('\t')))
            ++i;
    };
    blanks();
    if (i < n && (value.at(i) == QLatin1Char('+') || value.at(i) == QLatin1Char('-')))
        ++i;
    int mantissa = digits();
    if (i < n && value.at(i) == QLatin1Char('.')) {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return QScriptValue(value);
    if (i < n && (value.at(i) == QLatin1Char('e') || value.at(i) == QLatin1Char('E'))) {
        ++i;
        if (i < n && (value.at(i) == QLatin1Char('+') || value.at(i) == QLatin1Char('-')))
            ++i;
        if (digits() == 0)
            return QScriptValue(value);
    }
    blanks();
    bool ok = false;
    const double d = i == n ? value.toDouble(&ok) : 0.0;
    return ok ? QScriptValue(d) : QScriptValue(value);
}

bool isWordStart(ushort u)
{
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u == '$';
}

bool isWordChar(ushort u)
{
    return isWordStart(u) || (u >= '0' && u <= '9');
}

bool isLineBreak(ushort u)
{
    return u == '\n' || u == '\r' || u == 0x2028 || u == 0x2029;
}

// Turns marked code into a program: a mark in code becomes the name of a
// value bound as number or text, a string literal holding marks becomes a
// parenthesised concatenation of its pieces and the values bound as text.
// Misreading unusual code (a regular expression the scan takes for a
// division) can only spoil that program's result, never bring data into it.
class Binder
{
public:
    Binder(int count, QVector<RptExpressionEvaluator::Slot> &slotList)
        : m_count(count)
        , m_slots(slotList)
    {
    }

    QString bind(const QString &code)
    {
        if (!code.contains(kMark))
            return code;
        QString out;
        const int n = code.size();
        bool operand = false;
        int i = 0;
        while (i < n) {
            const ushort u = code.at(i).unicode();
            int end = 0;
            const int index = readMark(code, i, m_count, &end);
            if (index >= 0) {
                out += name(index, false);
                i = end;
                operand = true;
            } else if (u == '\'' || u == '"') {
                int j = i + 1;
                while (j < n && code.at(j).unicode() != u && !isLineBreak(code.at(j).unicode()))
                    j += code.at(j).unicode() == '\\' ? 2 : 1;
                j = qMin(j + 1, n);
                out += literal(code.mid(i, j - i), code.at(i));
                i = j;
                operand = true;
            } else if (u == '/' && i + 1 < n && code.at(i + 1).unicode() == '/') {
                int j = i;
                while (j < n && !isLineBreak(code.at(j).unicode()))
                    ++j;
                out += names(code.mid(i, j - i));
                i = j;
            } else if (u == '/' && i + 1 < n && code.at(i + 1).unicode() == '*') {
                int j = code.indexOf(QLatin1String("*/"), i + 2);
                j = j < 0 ? n : j + 2;
                out += names(code.mid(i, j - i));
                i = j;
            } else if (u == '/' && !operand) {
                int j = i + 1;
                bool inClass = false;
                while (j < n && !isLineBreak(code.at(j).unicode())
                    && (inClass || code.at(j).unicode() != '/')) {
                    const ushort c = code.at(j).unicode();
                    if (c == '\\')
                        ++j;
                    else if (c == '[')
                        inClass = true;
                    else if (c == ']')
                        inClass = false;
                    ++j;
                }
                j = qMin(j + 1, n);
                out += names(code.mid(i, j - i));
                i = j;
                operand = true;
            } else if (isWordChar(u)) {
                const int start = i;
                while (i < n && isWordChar(code.at(i).unicode()))
                    ++i;
                static const QSet<QString> keywords { QStringLiteral("return"),
                    QStringLiteral("typeof"), QStringLiteral("case"), QStringLiteral("do"),
                    QStringLiteral("else"), QStringLiteral("in"), QStringLiteral("new"),
                    QStringLiteral("void"), QStringLiteral("delete"), QStringLiteral("throw"),
                    QStringLiteral("instanceof") };
                const QString word = code.mid(start, i - start);
                operand = !keywords.contains(word);
                out += word;
            } else {
                if (u != ' ' && u != '\t' && !isLineBreak(u))
                    operand = u == ')' || u == ']';
                out += code.at(i++);
            }
        }
        return out;
    }

private:
    QString name(int index, bool text)
    {
        const QString n = (text ? QStringLiteral("_rptText") : QStringLiteral("_rptData"))
            + QString::number(index);
        for (const auto &b : qAsConst(m_slots)) {
            if (b.name == n)
                return n;
        }
        m_slots.append({ n, index, text });
        return n;
    }

    // Marks in a comment or a regular expression only get a harmless name.
    QString names(const QString &span)
    {
        QString out;
        for (int i = 0; i < span.size();) {
            int end = 0;
            const int index = readMark(span, i, m_count, &end);
            if (index < 0) {
                out += span.at(i++);
            } else {
                out += name(index, true);
                i = end;
            }
        }
        return out;
    }

    QString literal(const QString &lit, QChar quote)
    {
        if (!lit.contains(kMark))
            return lit;
        // Without its closing quote (an unterminated literal) the program
        // fails as it would have anyway.
        const bool closed = lit.size() > 1 && lit.endsWith(quote);
        const QString body = lit.mid(1, lit.size() - (closed ? 2 : 1));
        QString out = QStringLiteral("(");
        QString piece;
        for (int i = 0; i < body.size();) {
            int end = 0;
            const int index = readMark(body, i, m_count, &end);
            if (index < 0) {
                piece += body.at(i++);
                continue;
            }
            out += quote + piece + quote + QLatin1Char('+') + name(index, true) + QLatin1Char('+');
            piece.clear();
            i = end;
        }
        out += quote + piece + (closed ? QString(quote) : QString()) + QLatin1Char(')');
        return out;
    }

    int m_count;
    QVector<RptExpressionEvaluator::Slot> &m_slots;
};

bool isDataName(const QString &word)
{
    for (const QLatin1String prefix : { QLatin1String("_rptData"), QLatin1String("_rptText") }) {
        if (word.size() > prefix.size() && word.startsWith(prefix)) {
            bool digits = true;
            for (int i = prefix.size(); i < word.size(); ++i)
                digits = digits && word.at(i).isDigit();
            if (digits)
                return true;
        }
    }
    return false;
}

enum class Reach {
    // Can change state another expression could see, or is not understood.
    Open,
    // Reads functions and members that change nothing.
    Tame,
    // Nothing but literals, operators and bound values.
    Pure,
};

// What a program can reach, judged from its tokens. Only what is known to
// change nothing counts as tame: assignments, increments, delete, computed
// member names, regular expressions, comments, escapes and every name not in
// the lists below make it open.
Reach reachOf(const QString &code)
{
    static const QSet<QString> pureWords { QStringLiteral("true"), QStringLiteral("false"),
        QStringLiteral("null"), QStringLiteral("undefined"), QStringLiteral("NaN"),
        QStringLiteral("Infinity"), QStringLiteral("typeof"), QStringLiteral("void"),
        QStringLiteral("if"), QStringLiteral("else") };
    static const QSet<QString> globals { QStringLiteral("SUM"), QStringLiteral("Replace"),
        QStringLiteral("ToUpper"), QStringLiteral("ToLower"), QStringLiteral("NumberToWords"),
        QStringLiteral("Frac"), QStringLiteral("Floor"), QStringLiteral("Ceil"),
        QStringLiteral("Round"), QStringLiteral("debug"), QStringLiteral("QColor"),
        QStringLiteral("showInGroup"), QStringLiteral("groupLevel"), QStringLiteral("Math"),
        QStringLiteral("Number"), QStringLiteral("String"), QStringLiteral("Date"),
        QStringLiteral("parseInt"), QStringLiteral("parseFloat"), QStringLiteral("isNaN"),
        QStringLiteral("isFinite"), QStringLiteral("new"), QStringLiteral("in"),
        QStringLiteral("instanceof") };
    static const QSet<QString> members = [] {
        QSet<QString> set;
        const char *const names[] = { "abs", "acos", "asin", "atan", "atan2", "ceil", "cos", "exp",
            "floor", "log", "max", "min", "pow", "random", "round", "sin", "sqrt", "tan", "PI", "E",
            "LN2", "LN10", "LOG2E", "LOG10E", "SQRT2", "SQRT1_2", "MAX_VALUE", "MIN_VALUE",
            "NEGATIVE_INFINITY", "POSITIVE_INFINITY", "fromCharCode", "now", "UTC", "length",
            "toFixed", "toPrecision", "toExponential", "toString", "valueOf", "toLocaleString",
            "charAt", "charCodeAt", "indexOf", "lastIndexOf", "substring", "substr", "slice",
            "toUpperCase", "toLowerCase", "toLocaleUpperCase", "toLocaleLowerCase", "trim",
            "concat", "split", "replace", "match", "search", "localeCompare", "join", "getFullYear",
            "getMonth", "getDate", "getDay", "getHours", "getMinutes", "getSeconds",
            "getMilliseconds", "getTime", "getTimezoneOffset", "toDateString", "toTimeString",
            "toLocaleDateString", "toLocaleTimeString", "toISOString", "toUTCString" };
        for (const char *n : names)
            set.insert(QLatin1String(n));
        return set;
    }();

    bool pure = true;
    bool operand = false;
    bool member = false;
    QString lastWord;
    QVector<bool> parens;
    const int n = code.size();
    int i = 0;
    auto at = [&](int k) -> ushort { return k < n ? code.at(k).unicode() : 0; };
    while (i < n) {
        const ushort u = at(i);
        if (u == ' ' || u == '\t' || u == '\n' || u == '\r') {
            ++i;
            continue;
        }
        const bool wasMember = member;
        member = false;
        QString word;
        if (u == '\'' || u == '"') {
            int j = i + 1;
            while (j < n && at(j) != u) {
                if (isLineBreak(at(j)))
                    return Reach::Open;
                j += at(j) == '\\' ? 2 : 1;
            }
            if (j >= n)
                return Reach::Open;
            i = j + 1;
            operand = true;
        } else if ((u >= '0' && u <= '9') || (u == '.' && at(i + 1) >= '0' && at(i + 1) <= '9')) {
            if (u == '0' && (at(i + 1) == 'x' || at(i + 1) == 'X')) {
                i += 2;
                while ((at(i) >= '0' && at(i) <= '9') || (at(i) >= 'a' && at(i) <= 'f')
                    || (at(i) >= 'A' && at(i) <= 'F'))
                    ++i;
            } else {
                while (at(i) >= '0' && at(i) <= '9')
                    ++i;
                if (at(i) == '.')
                    ++i;
                while (at(i) >= '0' && at(i) <= '9')
                    ++i;
                if (at(i) == 'e' || at(i) == 'E') {
                    ++i;
                    if (at(i) == '+' || at(i) == '-')
                        ++i;
                    while (at(i) >= '0' && at(i) <= '9')
                        ++i;
                }
            }
            if (isWordChar(at(i)))
                return Reach::Open;
            operand = true;
        } else if (isWordStart(u)) {
            const int start = i;
            while (isWordChar(at(i)))
                ++i;
            word = code.mid(start, i - start);
            if (wasMember) {
                if (!members.contains(word))
                    return Reach::Open;
                pure = false;
                operand = true;
            } else if (isDataName(word) || pureWords.contains(word)) {
                operand = word != QLatin1String("typeof") && word != QLatin1String("void")
                    && word != QLatin1String("if") && word != QLatin1String("else");
            } else if (globals.contains(word)) {
                pure = false;
                operand = word != QLatin1String("new") && word != QLatin1String("in")
                    && word != QLatin1String("instanceof");
            } else {
                return Reach::Open;
            }
        } else if (u == '.') {
            if (!operand)
                return Reach::Open;
            member = true;
            operand = false;
            ++i;
        } else if (u == '(') {
            parens.append(lastWord == QLatin1String("if"));
            operand = false;
            ++i;
        } else if (u == ')') {
            if (parens.isEmpty())
                return Reach::Open;
            // After "if (...)" a slash would start a regular expression.
            operand = !parens.takeLast();
            ++i;
        } else if (u == '[') {
            // Only a constant index: a computed member name could reach anything.
            int j = i + 1;
            while (at(j) >= '0' && at(j) <= '9')
                ++j;
            if (j == i + 1 || at(j) != ']')
                return Reach::Open;
            i = j + 1;
            operand = true;
        } else if (u == '{' || u == '}' || u == ';' || u == ',' || u == '?' || u == ':'
            || u == '~') {
            operand = false;
            ++i;
        } else if (u == '=' || u == '!') {
            if (u == '=' && at(i + 1) != '=')
                return Reach::Open;
            i += at(i + 1) == '=' ? (at(i + 2) == '=' ? 3 : 2) : 1;
            operand = false;
        } else if (u == '<' || u == '>') {
            int j = i + 1;
            while (at(j) == u && j - i < (u == '<' ? 2 : 3))
                ++j;
            if (at(j) == '=') {
                if (j - i > 1)
                    return Reach::Open;
                ++j;
            }
            i = j;
            operand = false;
        } else if (u == '+' || u == '-' || u == '*' || u == '%' || u == '^' || u == '&' || u == '|'
            || u == '/') {
            if (at(i + 1) == '=')
                return Reach::Open;
            if ((u == '+' || u == '-') && at(i + 1) == u)
                return Reach::Open;
            if (u == '/' && (!operand || at(i + 1) == '/' || at(i + 1) == '*'))
                return Reach::Open;
            i += ((u == '&' || u == '|') && at(i + 1) == u) ? 2 : 1;
            if (at(i) == '=')
                return Reach::Open;
            operand = false;
        } else {
            return Reach::Open;
        }
        lastWord = word;
    }
    return pure ? Reach::Pure : Reach::Tame;
}

// A value that belongs to no script engine, so it outlives the one that
// computed it; objects (errors included) are handed on as their text, which
// is all any caller uses.
QScriptValue detached(const QScriptValue &v)
{
    if (v.isObject())
        return QScriptValue(v.toString());
    if (v.isBool())
        return QScriptValue(v.toBool());
    if (v.isNumber())
        return QScriptValue(v.toNumber());
    if (v.isString())
        return QScriptValue(v.toString());
    if (v.isNull())
        return QScriptValue(QScriptValue::NullValue);
    if (v.isUndefined())
        return QScriptValue(QScriptValue::UndefinedValue);
    return QScriptValue();
}

// Texts compiled and results remembered per engine; a document has a handful
// of distinct expressions, so the tables are emptied when they are full.
constexpr int kMaxCompiled = 512;
constexpr int kMaxResults = 4096;

} // namespace

RptExpressionEvaluator::RptExpressionEvaluator(QObject *owner, const RptCollectedValues *values)
    : m_owner(owner)
    , m_values(values)
    , m_shared(new RptScriptEngine(owner, values))
{
}

RptExpressionEvaluator::~RptExpressionEvaluator() = default;

QStringList RptExpressionEvaluator::variables(const QString &text)
{
    QStringList list;
    QRegularExpressionMatchIterator it = variablePattern().globalMatch(text);
    while (it.hasNext())
        list.append(it.next().captured(0));
    return list;
}

QString RptExpressionEvaluator::rewriteAggregates(const QString &text)
{
    // Only calls of their own: "Math.max(", "checksum(" or "checkSUM(" are
    // not aggregates, in none of the three steps.
    struct Aggregate
    {
        const char *name;
        const char *call;
    };
    static const Aggregate aggregates[] = {
        { "SUM", "SUM(0," },
        { "AVG", "SUM(1," },
        { "COUNT", "SUM(2," },
        { "MAX", "SUM(3," },
        { "MIN", "SUM(4," },
    };
    struct Patterns
    {
        QRegularExpression opening;
        QRegularExpression call;
        QRegularExpression name;
    };
    static thread_local const QVector<Patterns> patterns = [] {
        QVector<Patterns> list;
        for (const Aggregate &a : aggregates) {
            const QString name = QLatin1String(a.name);
            list.append({ QRegularExpression(QStringLiteral("(?<![\\w.$])%1\\(\\[").arg(name),
                              QRegularExpression::CaseInsensitiveOption),
                QRegularExpression(QStringLiteral("(?<![\\w.$])%1\\((.*?)\\)").arg(name)),
                QRegularExpression(QStringLiteral("(?<![\\w.$])%1\\(").arg(name),
                    QRegularExpression::CaseInsensitiveOption) });
        }
        return list;
    }();
    QString result = text;
    for (int k = 0; k < 5; ++k) {
        if (result.contains(QLatin1String(aggregates[k].name), Qt::CaseInsensitive))
            result.replace(
                patterns.at(k).opening, QLatin1String(aggregates[k].name) + QLatin1String("(["));
    }
    for (int k = 0; k < 5; ++k) {
        if (!result.contains(QLatin1String(aggregates[k].name)))
            continue;
        QString quoted;
        int last = 0;
        QRegularExpressionMatchIterator it = patterns.at(k).call.globalMatch(result);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            quoted += result.midRef(last, m.capturedStart() - last);
            QString call = m.captured(0);
            call.replace(QLatin1Char('['), QLatin1Char('\''))
                .replace(QLatin1Char(']'), QLatin1Char('\''));
            quoted += call;
            last = m.capturedEnd();
        }
        if (last > 0) {
            quoted += result.midRef(last);
            result = quoted;
        }
    }
    for (int k = 0; k < 5; ++k) {
        if (result.contains(QLatin1String(aggregates[k].name), Qt::CaseInsensitive))
            result.replace(patterns.at(k).name, QLatin1String(aggregates[k].call));
    }
    return result;
}

QString RptExpressionEvaluator::formatNumber(const QString &value, const QString &formatString)
{
    if (!formatString.startsWith(QLatin1Char('N')))
        return value;
    bool ok = false;
    double number = value.toDouble(&ok);
    if (!ok) {
        const float f = value.toFloat(&ok);
        if (ok) {
            number = double(f);
        } else {
            const int i = value.toInt(&ok);
            if (!ok)
                return value;
            number = i;
        }
    }
    const QChar last = formatString.at(formatString.size() - 1);
    const int decimals = last.isDigit() ? last.digitValue() : 0;
    const QString pattern = formatString.mid(1, formatString.size() - 2);
    if (pattern == QLatin1String("# ###.##")) {
        return QLocale(QLocale::Ukrainian, QLocale::Ukraine)
            .toString(number, 'f', decimals)
            .replace(QLatin1Char(','), QLatin1Char('.'));
    }
    if (pattern == QLatin1String("#,###.##")) {
        return QLocale(QLocale::Ukrainian, QLocale::Ukraine)
            .toString(number, 'f', decimals)
            .replace(QLatin1Char(','), QLatin1Char('.'))
            .replace(QChar(160), QLatin1Char(','));
    }
    if (pattern == QLatin1String("# ###,##"))
        return QLocale(QStringLiteral("fr_FR")).toString(number, 'f', decimals);
    if (pattern == QLatin1String("#.###,##"))
        return QLocale(QLocale::German, QLocale::Germany).toString(number, 'f', decimals);
    return value;
}

QString RptExpressionEvaluator::substitute(const QString &text, bool quote, const ValueOf &valueOf)
{
    return substituteVariables(text, [&](const QString &token) {
        const QString val = valueOf(token);
        if (!quote || isNumber(val))
            return val;
        // Data stays a string literal whatever it holds, quotes included.
        QString v = val;
        v.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        v.replace(QLatin1Char('\''), QLatin1String("\\'"));
        v.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        v.replace(QLatin1Char('\r'), QLatin1String("\\r"));
        v.replace(QChar(0x2028), QLatin1String("\\u2028"));
        v.replace(QChar(0x2029), QLatin1String("\\u2029"));
        return QLatin1Char('\'') + v + QLatin1Char('\'');
    });
}

namespace {
enum Mode { FieldMode, KeptMode, ExpressionMode };
} // namespace

const RptExpressionEvaluator::Prepared &RptExpressionEvaluator::prepared(
    const QString &value, int mode)
{
    QHash<QString, Prepared> &table = m_prepared[mode];
    auto found = table.constFind(value);
    if (found != table.constEnd())
        return *found;
    if (table.size() >= kMaxCompiled)
        table.clear();

    Prepared p;
    QString text = value;
    if (mode != ExpressionMode && text.contains(QLatin1String("if"))) {
        // A comparison inside a condition is no formula delimiter.
        static thread_local const QRegularExpression reIf(
            QStringLiteral("(if\\s*)\\((.*?)\\)"), QRegularExpression::DotMatchesEverythingOption);
        QString escaped;
        int last = 0;
        QRegularExpressionMatchIterator it = reIf.globalMatch(text);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            escaped += text.midRef(last, m.capturedStart() - last);
            QString cond = m.captured(0);
            cond.replace(QLatin1Char('<'), ifEscapeLt()).replace(QLatin1Char('>'), ifEscapeGt());
            escaped += cond;
            last = m.capturedEnd();
        }
        escaped += text.midRef(last);
        text = escaped;
    }
    QStringList unused;
    text = markVariables(
        text,
        [&p](const QString &token) {
            p.tokens.append(token);
            return QString();
        },
        unused);

    if (mode == ExpressionMode) {
        Piece piece;
        piece.formula = true;
        piece.text = Binder(p.tokens.size(), piece.slotList).bind(text);
        piece.compiled = compile(piece.text);
        p.pieces.append(piece);
        return *table.insert(value, p);
    }

    QStringList pieces;
    QString cur;
    bool inFormula = false;
    for (const QChar ch : qAsConst(text)) {
        if (ch == QLatin1Char('<')) {
            if (!cur.isEmpty())
                pieces.append(cur);
            cur = ch;
            inFormula = true;
        } else if (ch == QLatin1Char('>')) {
            cur += ch;
            pieces.append(cur);
            cur.clear();
            inFormula = false;
        } else if (!inFormula && ch == QLatin1Char('[')) {
            if (!cur.isEmpty())
                pieces.append(cur);
            cur = ch;
        } else if (!inFormula && ch == QLatin1Char(']')) {
            cur += ch;
            pieces.append(cur);
            cur.clear();
        } else {
            cur += ch;
        }
    }
    if (!cur.isEmpty())
        pieces.append(cur);

    for (const QString &text : qAsConst(pieces)) {
        Piece piece;
        piece.formula = mode == FieldMode && text.contains(QLatin1Char('<'))
            && text.contains(QLatin1Char('>'));
        piece.text = text;
        if (piece.formula) {
            QString code = text;
            code.remove(QLatin1Char('<')).remove(QLatin1Char('>'));
            code.replace(ifEscapeLt(), QStringLiteral("<"))
                .replace(ifEscapeGt(), QStringLiteral(">"));
            piece.text = Binder(p.tokens.size(), piece.slotList).bind(code);
            piece.compiled = compile(piece.text);
        }
        p.pieces.append(piece);
    }
    return *table.insert(value, p);
}

QStringList RptExpressionEvaluator::valuesOf(const Prepared &p, const ValueOf &valueOf) const
{
    QStringList values;
    values.reserve(p.tokens.size());
    for (const QString &token : p.tokens)
        values.append(valueOf(token));
    return values;
}

QString RptExpressionEvaluator::evaluateField(const QString &value, bool keepFormulas,
    bool showInGroup, int groupLevel, const QString &formatString, const ValueOf &valueOf)
{
    // Copied: evaluating may empty the table.
    const Prepared p = prepared(value, keepFormulas ? KeptMode : FieldMode);
    const QStringList values = valuesOf(p, valueOf);
    QString result;
    for (const Piece &piece : p.pieces) {
        if (piece.formula) {
            const QScriptValue v
                = run(piece.compiled, piece.slotList, values, showInGroup, groupLevel);
            result += formatNumber(v.toString(), formatString);
        } else {
            result += unmark(piece.text, values);
        }
    }
    return formatNumber(result, formatString);
}

QScriptValue RptExpressionEvaluator::evaluateWithData(const QString &text, const ValueOf &valueOf)
{
    const Prepared p = prepared(text, ExpressionMode);
    const QStringList values = valuesOf(p, valueOf);
    const Piece &piece = p.pieces.first();
    return run(piece.compiled, piece.slotList, values, false, 0);
}

QScriptValue RptExpressionEvaluator::evaluate(
    const QString &program, bool showInGroup, int groupLevel)
{
    auto found = m_compiled.constFind(program);
    if (found == m_compiled.constEnd()) {
        if (m_compiled.size() >= kMaxCompiled)
            m_compiled.clear();
        found = m_compiled.insert(program, compile(program));
    }
    // Copied: evaluating may empty the table.
    const Compiled expression = *found;
    return run(expression, QVector<Slot>(), QStringList(), showInGroup, groupLevel);
}

QScriptValue RptExpressionEvaluator::runScript(
    RptScriptEngine *engine, const QString &script, const ValueOf &valueOf)
{
    QStringList values;
    const QString marked = markVariables(script, valueOf, values);
    QVector<Slot> slotList;
    const QString code = Binder(values.size(), slotList).bind(marked);
    QScriptValue global = engine->globalObject();
    for (const Slot &s : qAsConst(slotList)) {
        const QString &v = values.at(s.index);
        global.setProperty(
            s.name, s.text ? QScriptValue(v) : dataValue(v), QScriptValue::SkipInEnumeration);
    }
    if (code.trimmed().isEmpty())
        return QScriptValue();
    return engine->evaluate(code, QString(), 1);
}

RptExpressionEvaluator::Compiled RptExpressionEvaluator::compile(const QString &program)
{
    Compiled c;
    c.program = QScriptProgram(program, QString(), 1);
    const Reach reach = reachOf(program);
    c.tame = reach != Reach::Open;
    c.pure = reach == Reach::Pure;
    return c;
}

QScriptValue RptExpressionEvaluator::run(const Compiled &expression, const QVector<Slot> &slotList,
    const QStringList &values, bool showInGroup, int groupLevel)
{
    QVector<QScriptValue> bound;
    bound.reserve(slotList.size());
    for (const Slot &s : slotList) {
        const QString &v = values.at(s.index);
        bound.append(s.text ? QScriptValue(v) : dataValue(v));
    }
    QString key;
    if (expression.pure) {
        key = expression.program.sourceCode();
        for (const QScriptValue &b : qAsConst(bound)) {
            key += QChar(1) + (b.isNumber() ? QLatin1Char('n') : QLatin1Char('s')) + b.toString();
        }
        const auto known = m_results.constFind(key);
        if (known != m_results.constEnd())
            return *known;
    }

    QScriptValue result;
    if (expression.tame) {
        // Changes nothing: it shares the engine, in a scope of its own that
        // takes its variables and goes with it.
        QScriptContext *ctx = m_shared->pushContext();
        QScriptValue scope = ctx->activationObject();
        scope.setProperty(QStringLiteral("showInGroup"), showInGroup);
        scope.setProperty(QStringLiteral("groupLevel"), groupLevel);
        for (int i = 0; i < slotList.size(); ++i)
            scope.setProperty(slotList.at(i).name, bound.at(i));
        result = m_shared->evaluate(expression.program);
        m_shared->popContext();
    } else {
        // Whatever it may do to the global object, built-in objects or the
        // engine's wrapper, it does in an engine of its own.
        RptScriptEngine fresh(m_owner, m_values);
        QScriptValue global = fresh.globalObject();
        global.setProperty(QStringLiteral("showInGroup"), showInGroup);
        global.setProperty(QStringLiteral("groupLevel"), groupLevel);
        for (int i = 0; i < slotList.size(); ++i)
            global.setProperty(slotList.at(i).name, bound.at(i));
        return detached(fresh.evaluate(expression.program));
    }
    const QScriptValue value = detached(result);
    // An error is evaluated again, so it is logged every time.
    if (expression.pure && !result.isObject()) {
        if (m_results.size() >= kMaxResults)
            m_results.clear();
        m_results.insert(key, value);
    }
    return value;
}
