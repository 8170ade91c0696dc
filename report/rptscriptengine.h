#pragma once

#include <QScriptEngine>
#include <QScriptProgram>

class RptCollectedValues;

// The script engine of reports: the report functions (SUM, Replace, ToUpper,
// ToLower, NumberToWords, Frac, Floor, Ceil, Round, debug, QColor) live in its
// global object, and the owning RptEngine is exposed as "RptEngine".
class RptScriptEngine : public QScriptEngine
{
    Q_OBJECT

public:
    // SUM adds up what values collected (0 without them); values must
    // outlive the engine.
    explicit RptScriptEngine(QObject *parent = nullptr, const RptCollectedValues *values = nullptr);

    const RptCollectedValues *collectedValues() const { return m_values; }

    // Exposes object as a global: "RptEngine" for the engine, else under
    // its object name.
    void addObject(QObject *object);

    // Evaluates and logs an uncaught exception ("formulaStr: ", "uncaught
    // exception at line"); the exception value is returned so its text flows on.
    QScriptValue evaluate(
        const QString &program, const QString &fileName = QString(), int lineNumber = 1);
    // The same for a program compiled once and run many times.
    QScriptValue evaluate(const QScriptProgram &program);
    // Whether the last evaluate() threw (its exception is cleared by then),
    // and at which line of its program.
    bool threw() const { return m_threw; }
    int thrownAtLine() const { return m_thrownAtLine; }

private:
    QScriptValue logUncaught(const QScriptValue &result, const QString &program);

    const RptCollectedValues *m_values;
    bool m_threw = false;
    int m_thrownAtLine = 0;
};
