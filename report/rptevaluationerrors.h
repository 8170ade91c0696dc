#pragma once

#include "rptevaluationerror.h"

#include <QList>
#include <QSet>
#include <QString>

// The evaluation errors of one run, each once: a formula failing on every
// row of a long list is one error. Whoever evaluates tells it first where
// in the template it is (place), then reports what went wrong there; the
// piece of the element (a printing condition, a hook) may be named by an
// aspect for the time it is evaluated.
class RptEvaluationErrors
{
public:
    void clear();
    void setPlace(const QString &name, int line, int column);
    void clearPlace() { setPlace(QString(), 0, 0); }
    // Prefixed to the messages until it is set again; empty for the value.
    void setAspect(const QString &aspect) { m_aspect = aspect; }
    QString aspect() const { return m_aspect; }

    void report(const QString &message);
    const QList<RptEvaluationError> &list() const { return m_list; }
    // Every report counted, repeated ones too: a caller sees whether
    // anything was reported while it asked.
    int reportCount() const { return m_reports; }

    // Data variables nobody answers are errors only when the caller says it
    // answers all it knows; otherwise they print empty, as they always did.
    void setUnansweredAreErrors(bool on) { m_unansweredAreErrors = on; }
    bool unansweredAreErrors() const { return m_unansweredAreErrors; }

private:
    RptEvaluationError m_place;
    QString m_aspect;
    QList<RptEvaluationError> m_list;
    QSet<QString> m_seen;
    int m_reports = 0;
    bool m_unansweredAreErrors = false;
};
