#pragma once

// Expression evaluation of the report engine: cutting a field's value text
// into literal and formula pieces, putting data values in, rewriting
// aggregate calls, and running formulas so that none of them sees what
// another one did.
//
// Data never becomes program text. A data variable inside a formula or a
// script is replaced by a reference to a value bound beside the program, so
// whatever the value holds (quotes, backslashes, line breaks, code) it stays
// data, and the program text of a formula is the same on every row, which
// lets its compiled form be reused.
//
// The evaluator knows nothing of pages or data sources: it asks its caller
// for a variable's value through ValueOf; the script engines it creates
// expose their owner to scripts and add up the collected values for SUM.

#include <QHash>
#include <QScriptProgram>
#include <QScriptValue>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>

class QObject;
class QScriptEngine;
class RptCollectedValues;
class RptEvaluationErrors;
class RptScriptEngine;

class RptExpressionEvaluator
{
public:
    // A data variable's value text, given its token ("[name]").
    using ValueOf = std::function<QString(const QString &token)>;

    // owner becomes the parent of the script engines (the report engine);
    // values, when given, must outlive the evaluator.
    explicit RptExpressionEvaluator(QObject *owner, const RptCollectedValues *values = nullptr);
    ~RptExpressionEvaluator();
    RptExpressionEvaluator(const RptExpressionEvaluator &) = delete;
    RptExpressionEvaluator &operator=(const RptExpressionEvaluator &) = delete;

    // Where expressions that throw are reported (none by default); must
    // outlive the evaluator.
    void setErrors(RptEvaluationErrors *errors) { m_errors = errors; }

    // The data variables of text, in order of appearance.
    static QStringList variables(const QString &text);
    // Aggregate calls rewritten to the script function SUM with a kind code.
    static QString rewriteAggregates(const QString &text);
    // The number formats of the "format" attribute ("N# ###,##2" ...).
    static QString formatNumber(const QString &value, const QString &formatString);
    // Every data variable replaced by its value; with quote, a value that is
    // not a number becomes a string literal.
    static QString substitute(const QString &text, bool quote, const ValueOf &valueOf);

    // A field's text after the internal variables and aggregates were
    // rewritten: data put in, formulas evaluated (or kept, with
    // keepFormulas), each piece and the whole formatted.
    QString evaluateField(const QString &text, bool keepFormulas, bool showInGroup, int groupLevel,
        const QString &formatString, const ValueOf &valueOf);
    // One expression (a printing condition, a highlighting rule) whose data
    // variables stand for their values.
    QScriptValue evaluateWithData(const QString &text, const ValueOf &valueOf);
    // One expression without data. The result never belongs to a script
    // engine: objects (errors included) come back as their text.
    QScriptValue evaluate(const QString &program, bool showInGroup = false, int groupLevel = 0);

    // Runs a script in a long-lived engine, with its data variables bound
    // as globals of that engine.
    static QScriptValue runScript(
        RptScriptEngine *engine, const QString &script, const ValueOf &valueOf);

    // A value of the caller's list bound beside a program under a name the
    // program uses, as text or as number-or-text.
    struct Slot
    {
        QString name;
        int index = 0;
        bool text = false;
    };

private:
    struct Compiled
    {
        QScriptProgram program;
        // Names nothing but operators, literals and the bound values: its
        // result depends on the values alone.
        bool pure = false;
        // Can change nothing that a later expression could see, so it may
        // share the one script engine with the others.
        bool tame = false;
    };
    struct Piece
    {
        // Literal text with marks, or the program of a formula.
        QString text;
        bool formula = false;
        Compiled compiled;
        QVector<Slot> slotList;
    };
    // A text cut and turned into programs once; each row only puts its
    // values in.
    struct Prepared
    {
        QStringList tokens;
        QVector<Piece> pieces;
    };

    const Prepared &prepared(const QString &text, int mode);
    QStringList valuesOf(const Prepared &p, const ValueOf &valueOf) const;
    QScriptValue run(const Compiled &expression, const QVector<Slot> &slotList,
        const QStringList &values, bool showInGroup, int groupLevel);
    Compiled compile(const QString &program);

    QObject *m_owner;
    const RptCollectedValues *m_values;
    RptEvaluationErrors *m_errors = nullptr;
    std::unique_ptr<RptScriptEngine> m_shared;
    QHash<QString, Compiled> m_compiled;
    QHash<QString, Prepared> m_prepared[3];
    QHash<QString, QScriptValue> m_results;
};
