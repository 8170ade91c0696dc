#include "rptfieldevaluator.h"

#include "reportlogging.h"
#include "rptbandobject.h"
#include "rptcollectedvalues.h"
#include "rptcolor.h"
#include "rptdsabstract.h"
#include "rptfieldobject.h"
#include "rptpageobject.h"
#include "rptrunhost.h"
#include "rptrunstate.h"
#include "rptscriptengine.h"
#include "rptsql.h"
#include "rpttemplate.h"

#include <QDate>
#include <QLocale>
#include <QScriptContext>
#include <QTime>

namespace {

const char *const kHiNames[]
    = { "bold", "italic", "underline", "strikeout", "fontColor", "backgroundColor" };

// QFont::Normal is 50 and QFont::DemiBold 63: anything above the middle
// of the two reads as bold.
constexpr int kBoldFromWeight = 57;

// Names the piece of an element being evaluated in the errors reported
// meanwhile.
class AspectScope
{
public:
    AspectScope(RptEvaluationErrors &errors, const QString &aspect)
        : m_errors(errors)
        , m_previous(errors.aspect())
    {
        errors.setAspect(aspect);
    }
    ~AspectScope() { m_errors.setAspect(m_previous); }
    AspectScope(const AspectScope &) = delete;
    AspectScope &operator=(const AspectScope &) = delete;

private:
    RptEvaluationErrors &m_errors;
    QString m_previous;
};

} // namespace

RptFieldEvaluator::RptFieldEvaluator(QObject *owner, const RptTemplate &reportTemplate,
    const RptRunState &state, RptCollectedValues &values, RptRunHost &host)
    : m_owner(owner)
    , m_template(reportTemplate)
    , m_state(state)
    , m_values(values)
    , m_host(host)
    , m_scriptEngine(new RptScriptEngine(owner, &values))
    , m_evaluator(new RptExpressionEvaluator(owner, &values))
{
    m_evaluator->setErrors(&m_errors);
}

RptFieldEvaluator::~RptFieldEvaluator()
{
    delete m_scriptEngine;
}

// The previous template's functions, hooks and globals must not act on the
// next one, so each template starts with an engine of its own.
void RptFieldEvaluator::resetScriptEngine()
{
    delete m_scriptEngine;
    m_scriptEngine = new RptScriptEngine(m_owner, &m_values);
}

void RptFieldEvaluator::setCurrentField(const RptFieldObject *field)
{
    if (!field) {
        m_errors.clearPlace();
        return;
    }
    // An unnamed field is known by its type and place alone.
    const QString name = field->objectName().isEmpty()
        ? QStringLiteral("(unnamed %1)").arg(RptTemplate::getFieldTypeName(field->fieldType))
        : field->objectName();
    m_errors.setPlace(name, field->line, field->column);
    m_errors.setAspect(QString());
}

void RptFieldEvaluator::setCurrentBand(const RptBandObject *band)
{
    if (!band) {
        m_errors.clearPlace();
        m_errors.setAspect(QString());
        return;
    }
    m_errors.setPlace(QString(), band->line, band->column);
    m_errors.setAspect(QStringLiteral("groupingField of band %1").arg(band->name));
}

RptPageObject *RptFieldEvaluator::currentPage() const
{
    return m_template.pages().value(m_state.curPage, nullptr);
}

QVariant RptFieldEvaluator::getInternalVariable(const QString &name, const QString &formatString)
{
    if (name == QLatin1String("<Date>")) {
        const QDate today = QDate::currentDate();
        QString text;
        if (formatString.isEmpty())
            text = QLocale().toString(today, QLocale::ShortFormat);
        else if (formatString.startsWith(QLatin1Char('D')))
            text = today.toString(formatString.mid(1));
        else
            text = today.toString(formatString);
        if (!text.isEmpty())
            text[0] = text.at(0).toUpper();
        return text;
    }
    if (name == QLatin1String("<Time>"))
        return QTime::currentTime().toString(Qt::TextDate);
    if (name == QLatin1String("<Page>"))
        return m_state.pageNo;
    if (name == QLatin1String("<TotalPages>"))
        return m_state.totalPages;
    if (name == QLatin1String("<LineNo>"))
        return m_values.inGroup() ? m_state.lineCounter : m_state.recNo + 1;
    if (name == QLatin1String("<LineCount>"))
        return m_values.lineCount(m_state.curPage);
    return QVariant();
}

namespace {
QString replaceInternalVariables(
    RptFieldEvaluator *evaluator, QString text, const QString &formatString)
{
    static const char *const names[]
        = { "<Date>", "<Time>", "<Page>", "<TotalPages>", "<LineNo>", "<LineCount>" };
    for (const char *n : names) {
        const QString name = QLatin1String(n);
        if (text.contains(name))
            text.replace(name, evaluator->getInternalVariable(name, formatString).toString());
    }
    return text;
}
} // namespace

QString RptFieldEvaluator::stringPreprocessing(const QString &value, const QString &formatString)
{
    // Internal variables start with '<' and aggregate calls have a '(':
    // most field texts (a data variable, plain text) have neither.
    bool plain = true;
    for (const QChar c : value) {
        if (c == QLatin1Char('<') || c == QLatin1Char('(')) {
            plain = false;
            break;
        }
    }
    if (plain)
        return value;
    return RptExpressionEvaluator::rewriteAggregates(
        replaceInternalVariables(this, value, formatString));
}

RptExpressionEvaluator::ValueOf RptFieldEvaluator::valueOf()
{
    return [this](const QString &token) { return sectionValue(token, -1); };
}

QString RptFieldEvaluator::sectionField(RptBandObject *band, const QString &value,
    bool keepFormulas, bool collect, const QString &formatString)
{
    const QString text = stringPreprocessing(value, formatString);
    RptExpressionEvaluator::ValueOf lookUp = valueOf();
    if (collect) {
        lookUp = [this](const QString &token) {
            const QString val = sectionValue(token, -1);
            QString name = token;
            name.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
            m_values.collect(name, val, m_state.recNo, m_state.curPage);
            return val;
        };
    }
    return m_evaluator->evaluateField(text, keepFormulas, band ? band->showInGroup : false,
        band ? band->groupLevel : 0, formatString, lookUp);
}

QString RptFieldEvaluator::sectionValue(const QString &token, int recNo)
{
    QString name = token;
    name.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    if (recNo < 0)
        recNo = m_state.recNo;
    if (RptPageObject *page = currentPage()) {
        RptDsAbstract *sources[] = { page->sqlSource(), page->otherSource() };
        for (RptDsAbstract *source : sources) {
            if (!source)
                continue;
            const QString dsName = source->DSName();
            if (!name.contains(dsName))
                continue;
            // A source without a name takes every variable of its page as
            // it stands; only a real name is stripped from the variable.
            if (!dsName.isEmpty())
                name.remove(dsName + QLatin1Char('.'));
            return source->getFieldValue(name, recNo);
        }
    }
    QVariant value;
    m_host.askValue(recNo, name, value, m_state.curPage);
    if (!value.isValid() && m_errors.unansweredAreErrors())
        m_errors.report(
            QStringLiteral("unknown variable [%1]: the data has no value of that name").arg(name));
    return value.toString();
}

QImage RptFieldEvaluator::sectionFieldImage(const QString &token, int recNo)
{
    RptPageObject *page = currentPage();
    if (!page || !page->sqlSource())
        return QImage();
    QString name = token;
    name.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    if (!page->sqlSource()->objectName().isEmpty())
        name.remove(page->sqlSource()->objectName() + QLatin1Char('.'));
    return page->sqlSource()->getFieldImage(name, recNo < 0 ? m_state.recNo : recNo);
}

QImage RptFieldEvaluator::sectionValueImage(const QString &token, int recNo)
{
    QString name = token;
    name.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    QImage image;
    m_host.askValueImage(recNo < 0 ? m_state.recNo : recNo, name, image, m_state.curPage);
    return image;
}

bool RptFieldEvaluator::isFieldVisible(RptFieldObject *field)
{
    if (!field)
        return false;
    const QString printing = field->printing;
    if (printing.size() < 2)
        return printing.toInt() != 0;
    const AspectScope aspect(m_errors, QStringLiteral("printing condition"));
    return m_evaluator->evaluateWithData(printing, valueOf()).toBool();
}

namespace {

// Internal variables bound as values in highlighting conditions stand there
// as data variables whose name starts with this private-use character.
constexpr QChar kInternalMark(0xE002);

const char *const kNumberVariables[] = { "<Page>", "<TotalPages>", "<LineNo>", "<LineCount>" };

bool isNameChar(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_'
        || u == '$' || u == '.' || u == '[' || u == ']' || u == '\\' || u >= 0x80;
}

// The condition with each number variable as a data variable of its own,
// or a null text when one of them cannot be a value there: glued to a name
// or a number, inside a data variable, or changing how data variables read.
QString bindNumberVariables(const QString &condition)
{
    if (condition.contains(kInternalMark))
        return QString();
    QString bound = condition;
    QString probe = condition;
    for (const char *n : kNumberVariables) {
        const QString name = QLatin1String(n);
        for (int at = bound.indexOf(name); at >= 0; at = bound.indexOf(name, at + 1)) {
            const int after = at + name.size();
            if ((at > 0 && isNameChar(bound.at(at - 1)))
                || (after < bound.size() && isNameChar(bound.at(after))))
                return QString();
        }
        bound.replace(name, QLatin1Char('[') + kInternalMark + name + QLatin1Char(']'));
        probe.replace(name, QLatin1String("1"));
    }
    QStringList data;
    for (const QString &token : RptExpressionEvaluator::variables(bound)) {
        if (token.size() < 2 || token.at(1) != kInternalMark)
            data.append(token);
    }
    return data == RptExpressionEvaluator::variables(probe) ? bound : QString();
}

} // namespace

RptFieldEvaluator::HighlightRules RptFieldEvaluator::highlightRules(const QString &text)
{
    const auto found = m_highlightRules.constFind(text);
    if (found != m_highlightRules.constEnd())
        return *found;
    HighlightRules rules;
    const QStringList parts = text.split(QLatin1Char(';'));
    // The first rule that names an aspect decides it.
    for (int i = 1; i < parts.size(); ++i) {
        const QString &part = parts.at(i);
        if (part.isEmpty())
            continue;
        for (int k = 0; k < 6; ++k) {
            const QString aspect = QLatin1String(kHiNames[k]);
            if (rules.has[k] || !part.contains(aspect))
                continue;
            QString rule = part;
            rule.remove(aspect + QLatin1Char('='));
            if (k == RptName::FntColor || k == RptName::BgColor) {
                const int q = rule.indexOf(QLatin1Char('?'));
                if (q >= 0)
                    rule.insert(q + 1, QLatin1Char('\''));
            }
            rules.has[k] = true;
            rules.rule[k] = rule;
        }
    }
    const QString condition = parts.first();
    const bool dateOrTime = condition.contains(QLatin1String("<Date>"))
        || condition.contains(QLatin1String("<Time>"));
    rules.condition = dateOrTime ? QString() : bindNumberVariables(condition);
    if (rules.condition.isNull()) {
        rules.condition = condition;
        rules.textual = true;
    }
    // Templates have a handful of highlighting texts; fields changed by the
    // caller on every row must not grow the table without end.
    if (m_highlightRules.size() >= 256)
        m_highlightRules.clear();
    m_highlightRules.insert(text, rules);
    return rules;
}

QVariant RptFieldEvaluator::highlightAspect(
    const HighlightRules &rules, const RptFieldObject *field, RptName::HiType type)
{
    const bool colour = type == RptName::FntColor || type == RptName::BgColor;
    if (!rules.has[type]) {
        switch (type) {
        case RptName::FntBold:
            return field->font.weight() > kBoldFromWeight ? 1 : 0;
        case RptName::FntItalic:
            return field->font.italic() ? 1 : 0;
        case RptName::FntUnderline:
            return field->font.underline() ? 1 : 0;
        case RptName::FntStrikeout:
            return field->font.strikeOut() ? 1 : 0;
        default:
            break;
        }
    }
    // An invalid default colour (attribute missing) stays invalid: its text
    // is empty, not the opaque black an invalid QColor would write.
    QString defaultText;
    if (colour) {
        const QColor c
            = type == RptName::FntColor ? field->defaultFontColor : field->defaultBackgroundColor;
        if (c.isValid())
            defaultText = colorToString(c);
        if (!rules.has[type])
            return defaultText;
    }
    // The order templates shade on "<LineNo>", so the condition gets the
    // internal variables as field values do.
    const AspectScope aspect(m_errors, QStringLiteral("highlighting"));
    const QString condition = rules.textual
        ? replaceInternalVariables(this, rules.condition, QString())
        : rules.condition;
    const RptExpressionEvaluator::ValueOf lookUp = [this](const QString &token) {
        if (token.size() > 2 && token.at(1) == kInternalMark)
            return getInternalVariable(token.mid(2, token.size() - 3), QString()).toString();
        return sectionValue(token, -1);
    };
    if (!colour)
        return m_evaluator->evaluateWithData(condition + rules.rule[type], lookUp).toInt32();
    const QString code
        = condition + rules.rule[type] + QLatin1String("':'") + defaultText + QLatin1Char('\'');
    return m_evaluator->evaluateWithData(code, lookUp).toString();
}

QVariant RptFieldEvaluator::processHighlighting(RptFieldObject *field, RptName::HiType type)
{
    return highlightAspect(highlightRules(field->highlighting), field, type);
}

void RptFieldEvaluator::applyHighlighting(RptFieldObject *field)
{
    const HighlightRules rules = highlightRules(field->highlighting);
    auto on
        = [&](RptName::HiType type) { return highlightAspect(rules, field, type).toInt() != 0; };
    // What no rule names keeps its state; a colour then is the template's
    // colour as its text reads back.
    auto colour = [&](RptName::HiType type, const QColor &unchanged) {
        if (rules.has[type])
            return colorFromString(highlightAspect(rules, field, type).toString());
        return unchanged.isValid()
            ? QColor(unchanged.red(), unchanged.green(), unchanged.blue(), unchanged.alpha())
            : QColor();
    };
    field->font.setWeight(on(RptName::FntBold) ? 75 : 50);
    field->font.setItalic(on(RptName::FntItalic));
    field->font.setUnderline(on(RptName::FntUnderline));
    field->font.setStrikeOut(on(RptName::FntStrikeout));
    field->backgroundColor = colour(RptName::BgColor, field->defaultBackgroundColor);
    field->fontColor = colour(RptName::FntColor, field->defaultFontColor);
}

void RptFieldEvaluator::fillListOfValue(RptBandObject *band)
{
    if (!band)
        return;
    for (RptFieldObject *field : qAsConst(band->fields)) {
        if (field->fieldType != RptName::Label)
            continue;
        setCurrentField(field);
        if (isFieldVisible(field))
            sectionField(band, field->value, false, true, QString());
    }
}

QScriptValue RptFieldEvaluator::evaluateExpression(
    const QString &program, bool showInGroup, int groupLevel)
{
    return m_evaluator->evaluate(program, showInGroup, groupLevel);
}

// ---- Scripts ----------------------------------------------------------------

void RptFieldEvaluator::processGlobalScript()
{
    qScriptRegisterSequenceMetaType<PageList>(m_scriptEngine);
    for (RptPageObject *page : m_template.pages()) {
        for (RptBandObject *band : qAsConst(page->bands)) {
            for (RptFieldObject *field : qAsConst(band->fields))
                m_scriptEngine->addObject(field);
        }
    }
    m_errors.setPlace(QString(), m_template.globalScriptLine(), m_template.globalScriptColumn());
    const AspectScope aspect(m_errors, QStringLiteral("global script"));
    const QScriptValue result = RptExpressionEvaluator::runScript(
        m_scriptEngine, stringPreprocessing(m_template.globalScript(), QString()), valueOf());
    if (m_scriptEngine->threw())
        m_errors.report(QStringLiteral("%1 (script line %2)")
                            .arg(result.toString())
                            .arg(m_scriptEngine->thrownAtLine()));
    m_errors.clearPlace();
}

namespace {
QScriptValue callHook(RptScriptEngine *engine, QScriptValue fn, const QScriptValueList &args,
    RptEvaluationErrors &errors, const QString &hook)
{
    const QScriptValue result = fn.call(QScriptValue(), args);
    if (engine->hasUncaughtException()) {
        const AspectScope aspect(errors, hook);
        errors.report(result.toString());
        qCDebug(lcReport).noquote()
            << "uncaught exception at line" << engine->uncaughtExceptionLineNumber() << ":"
            << result.toString();
        engine->clearExceptions();
    }
    return result;
}
} // namespace

bool RptFieldEvaluator::callBeforeData(RptFieldObject *field)
{
    if (!field || field->objectName().isEmpty())
        return field && field->visible;
    const QString hook = field->objectName() + QLatin1String("BeforeData");
    QScriptValue fn = m_scriptEngine->globalObject().property(hook);
    if (fn.isValid() && fn.isFunction())
        callHook(m_scriptEngine, fn, QScriptValueList(), m_errors, hook);
    return field->visible;
}

QString RptFieldEvaluator::callAfterData(RptFieldObject *field, const QString &text)
{
    if (!field || field->objectName().isEmpty())
        return text;
    const QString hook = field->objectName() + QLatin1String("AfterData");
    QScriptValue fn = m_scriptEngine->globalObject().property(hook);
    if (!fn.isValid() || !fn.isFunction())
        return text;
    const QScriptValue result
        = callHook(m_scriptEngine, fn, QScriptValueList() << QScriptValue(text), m_errors, hook);
    if (result.isUndefined() || !result.isValid())
        return text;
    return result.toString();
}
