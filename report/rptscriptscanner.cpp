#include "rptscriptscanner.h"

#include <QSet>

namespace {

constexpr QChar kMark = RptScriptScanner::kMark;
constexpr QChar kMarkEnd = RptScriptScanner::kMarkEnd;

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

} // namespace

// What a program can reach, judged from its tokens. Only what is known to
// change nothing counts as tame: assignments, increments, delete, computed
// member names, regular expressions, comments, escapes and every name not in
// the lists below make it open.
RptScriptScanner::Reach RptScriptScanner::reachOf(const QString &code)
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

QString RptScriptScanner::bind(
    const QString &code, int count, QVector<RptExpressionEvaluator::Slot> &slotList)
{
    return Binder(count, slotList).bind(code);
}

int RptScriptScanner::readMark(const QString &text, int i, int count, int *end)
{
    return ::readMark(text, i, count, end);
}
