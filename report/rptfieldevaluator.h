#pragma once

#include "rptevaluationerrors.h"
#include "rptexpressionevaluator.h"
#include "rptname.h"

#include <QHash>
#include <QImage>
#include <QScriptValue>
#include <QString>
#include <QVariant>

#include <memory>

class QObject;
class RptBandObject;
class RptCollectedValues;
class RptFieldObject;
class RptPageObject;
class RptRunHost;
class RptScriptEngine;
class RptTemplate;
struct RptRunState;

// What a field prints at the current point of a run: its text with data,
// internal variables and formulas put in, whether it prints at all, its
// highlighting, and the template's global script with its before- and
// after-data hooks.
//
// Data variables are looked up in the current page's data sources and,
// failing those, asked of the host.
class RptFieldEvaluator
{
public:
    // owner is the parent of the script engines and is exposed to scripts
    // as "RptEngine"; all the others must outlive the evaluator.
    RptFieldEvaluator(QObject *owner, const RptTemplate &reportTemplate, const RptRunState &state,
        RptCollectedValues &values, RptRunHost &host);
    ~RptFieldEvaluator();
    RptFieldEvaluator(const RptFieldEvaluator &) = delete;
    RptFieldEvaluator &operator=(const RptFieldEvaluator &) = delete;

    // keepFormulas leaves "<...>" formulas unevaluated (rich text); collect
    // records every data variable's value for the aggregates.
    QString sectionField(RptBandObject *band, const QString &value, bool keepFormulas, bool collect,
        const QString &formatString);
    QString stringPreprocessing(const QString &value, const QString &formatString);
    QString sectionValue(const QString &token, int recNo);
    QImage sectionFieldImage(const QString &token, int recNo);
    QImage sectionValueImage(const QString &token, int recNo);
    QVariant getInternalVariable(const QString &name, const QString &formatString);
    bool isFieldVisible(RptFieldObject *field);
    QVariant processHighlighting(RptFieldObject *field, RptName::HiType type);
    // All six aspects applied to the field, in the order bold, italic,
    // underline, strike-out, background colour, font colour.
    void applyHighlighting(RptFieldObject *field);
    void forgetHighlighting() { m_highlightRules.clear(); }
    // Collects the values of the band's visible labels.
    void fillListOfValue(RptBandObject *band);
    QScriptValue evaluateExpression(const QString &program, bool showInGroup, int groupLevel);

    // What went wrong in this run, each once, at the element being evaluated.
    RptEvaluationErrors &errors() { return m_errors; }
    // The field whose value, condition or hooks are evaluated next.
    void setCurrentField(const RptFieldObject *field);
    void setCurrentBand(const RptBandObject *band);

    // The engine of the global script; a new one with every loaded template.
    RptScriptEngine *scriptEngine() const { return m_scriptEngine; }
    void resetScriptEngine();
    void processGlobalScript();
    bool callBeforeData(RptFieldObject *field);
    QString callAfterData(RptFieldObject *field, const QString &text);

private:
    RptPageObject *currentPage() const;
    RptExpressionEvaluator::ValueOf valueOf();

    // A field's highlighting text cut into its condition and the rule of
    // each aspect, once per distinct text. The line number and the page
    // numbers in the condition are bound as values, so the condition is the
    // same program on every row; a condition where they could not stand as
    // values alone (next to a name or in a data variable, or with the date
    // or time in it) gets them as text on every call instead.
    struct HighlightRules
    {
        QString condition;
        bool textual = false;
        bool has[6] = {};
        // The rule without "aspect=", a colour's value already opened by a quote.
        QString rule[6];
    };
    HighlightRules highlightRules(const QString &text);
    QVariant highlightAspect(
        const HighlightRules &rules, const RptFieldObject *field, RptName::HiType type);

    QObject *m_owner;
    const RptTemplate &m_template;
    const RptRunState &m_state;
    RptCollectedValues &m_values;
    RptRunHost &m_host;
    RptScriptEngine *m_scriptEngine = nullptr;
    std::unique_ptr<RptExpressionEvaluator> m_evaluator;
    QHash<QString, HighlightRules> m_highlightRules;
    RptEvaluationErrors m_errors;
};
