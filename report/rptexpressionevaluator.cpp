#include "rptexpressionevaluator.h"

#include "rptscriptscanner.h"

#include "rptevaluationerrors.h"
#include "rptscriptengine.h"

#include <QLocale>
#include <QRegularExpression>
#include <QScriptContext>
#include <QSet>

namespace {

constexpr QChar kMark = RptScriptScanner::kMark;
constexpr QChar kMarkEnd = RptScriptScanner::kMarkEnd;

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

QString unmark(const QString &text, const QStringList &values)
{
    if (!text.contains(kMark))
        return text;
    QString out;
    for (int i = 0; i < text.size();) {
        int end = 0;
        const int index = RptScriptScanner::readMark(text, i, values.size(), &end);
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
        piece.text = RptScriptScanner::bind(text, p.tokens.size(), piece.slotList);
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
            piece.text = RptScriptScanner::bind(code, p.tokens.size(), piece.slotList);
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
    const QString code = RptScriptScanner::bind(marked, values.size(), slotList);
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
    const RptScriptScanner::Reach reach = RptScriptScanner::reachOf(program);
    c.tame = reach != RptScriptScanner::Reach::Open;
    c.pure = reach == RptScriptScanner::Reach::Pure;
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
        if (m_errors && m_shared->threw())
            m_errors->report(result.toString());
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
        const QScriptValue own = fresh.evaluate(expression.program);
        if (m_errors && fresh.threw())
            m_errors->report(own.toString());
        return detached(own);
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
