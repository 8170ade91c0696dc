#include "rptscriptengine.h"

#include "reportlogging.h"
#include "rptcollectedvalues.h"
#include "rptnumberwords.h"
#include "rptpageobject.h"

#include <QColor>
#include <QScriptContext>
#include <cmath>

namespace {

double numberArg(QScriptContext *ctx, int i)
{
    return ctx->argument(i).toString().toDouble();
}

// "showInGroup" and "groupLevel" are given to each expression as variables
// of its own scope; a function called from it looks them up the scope way.
QScriptValue lookUp(QScriptContext *ctx, const QString &name)
{
    for (QScriptContext *c = ctx->parentContext(); c; c = c->parentContext()) {
        const QScriptValue v = c->activationObject().property(name);
        if (v.isValid() && !v.isUndefined())
            return v;
    }
    return ctx->engine()->globalObject().property(name);
}

QScriptValue fnSum(QScriptContext *ctx, QScriptEngine *engine)
{
    auto *script = qobject_cast<RptScriptEngine *>(engine);
    const RptCollectedValues *values = script ? script->collectedValues() : nullptr;
    if (!values)
        return QScriptValue(0);
    const int kind = ctx->argument(0).toString().toInt();
    if (kind < RptCollectedValues::Sum || kind > RptCollectedValues::Min)
        return QScriptValue(0);
    const QString name = ctx->argument(1).toString().remove(QLatin1Char('\''));
    const bool showInGroup = lookUp(ctx, QStringLiteral("showInGroup")).toBool();
    const int groupLevel = lookUp(ctx, QStringLiteral("groupLevel")).toInt32();
    const QVariant result
        = values->aggregate(RptCollectedValues::Aggregate(kind), name, showInGroup, groupLevel);
    if (result.type() == QVariant::Int)
        return QScriptValue(result.toInt());
    return QScriptValue(result.toDouble());
}

QScriptValue fnReplace(QScriptContext *ctx, QScriptEngine *)
{
    QString text = ctx->argument(0).toString();
    return QScriptValue(
        text.replace(ctx->argument(1).toString(), ctx->argument(2).toString(), Qt::CaseSensitive));
}

QScriptValue fnToUpper(QScriptContext *ctx, QScriptEngine *)
{
    return QScriptValue(ctx->argument(0).toString().toUpper());
}

QScriptValue fnToLower(QScriptContext *ctx, QScriptEngine *)
{
    return QScriptValue(ctx->argument(0).toString().toLower());
}

QScriptValue fnNumberToWords(QScriptContext *ctx, QScriptEngine *)
{
    const QString lang = ctx->argument(0).toString();
    const double value = numberArg(ctx, 1);
    return QScriptValue(RptNumberWords::double2Money(value, lang));
}

// Whole numbers are handed back as script numbers: they print without a
// fraction, and amounts beyond the int range (or not numbers at all) stay
// what they are instead of overflowing a C++ int.
QScriptValue fnFrac(QScriptContext *ctx, QScriptEngine *)
{
    const double x = numberArg(ctx, 0);
    return QScriptValue(std::trunc((x - std::floor(x)) * 100 + 0.5));
}

QScriptValue fnFloor(QScriptContext *ctx, QScriptEngine *)
{
    return QScriptValue(std::floor(numberArg(ctx, 0)));
}

QScriptValue fnCeil(QScriptContext *ctx, QScriptEngine *)
{
    return QScriptValue(std::ceil(numberArg(ctx, 0)));
}

QScriptValue fnRound(QScriptContext *ctx, QScriptEngine *)
{
    return QScriptValue(std::round(numberArg(ctx, 0)));
}

QScriptValue fnDebug(QScriptContext *ctx, QScriptEngine *)
{
    qCDebug(lcReport).noquote() << ctx->argument(0).toString();
    return QScriptValue(QString());
}

QScriptValue fnColor(QScriptContext *ctx, QScriptEngine *engine)
{
    const QColor color(
        ctx->argument(0).toInt32(), ctx->argument(1).toInt32(), ctx->argument(2).toInt32());
    return engine->toScriptValue(color);
}

} // namespace

RptScriptEngine::RptScriptEngine(QObject *parent, const RptCollectedValues *values)
    : QScriptEngine(parent)
    , m_values(values)
{
    struct Fn
    {
        const char *name;
        QScriptEngine::FunctionSignature fn;
        int args;
    };
    static const Fn functions[] = {
        { "SUM", fnSum, 2 },
        { "Replace", fnReplace, 3 },
        { "ToUpper", fnToUpper, 1 },
        { "ToLower", fnToLower, 1 },
        { "NumberToWords", fnNumberToWords, 2 },
        { "Frac", fnFrac, 1 },
        { "Floor", fnFloor, 1 },
        { "Ceil", fnCeil, 1 },
        { "Round", fnRound, 1 },
        { "debug", fnDebug, 1 },
        { "QColor", fnColor, 3 },
    };
    QScriptValue global = globalObject();
    for (const Fn &f : functions)
        global.setProperty(
            QLatin1String(f.name), newFunction(f.fn, f.args), QScriptValue::SkipInEnumeration);
    // Expressions may walk RptEngine.pageList as an array, too.
    qScriptRegisterSequenceMetaType<PageList>(this);
    if (parent)
        addObject(parent);
}

void RptScriptEngine::addObject(QObject *object)
{
    if (!object)
        return;
    const QString name
        = object->inherits("RptEngine") ? QStringLiteral("RptEngine") : object->objectName();
    if (name.isEmpty())
        return;
    globalObject().setProperty(name, newQObject(object));
}

QScriptValue RptScriptEngine::evaluate(
    const QString &program, const QString &fileName, int lineNumber)
{
    return logUncaught(QScriptEngine::evaluate(program, fileName, lineNumber), program);
}

QScriptValue RptScriptEngine::evaluate(const QScriptProgram &program)
{
    return logUncaught(QScriptEngine::evaluate(program), program.sourceCode());
}

QScriptValue RptScriptEngine::logUncaught(const QScriptValue &result, const QString &program)
{
    m_threw = hasUncaughtException();
    m_thrownAtLine = m_threw ? uncaughtExceptionLineNumber() : 0;
    if (m_threw) {
        qCDebug(lcReport).noquote() << QStringLiteral("formulaStr: ") + program;
        qCDebug(lcReport).noquote() << "uncaught exception at line" << uncaughtExceptionLineNumber()
                                    << ":" << result.toString();
        clearExceptions();
    }
    return result;
}
