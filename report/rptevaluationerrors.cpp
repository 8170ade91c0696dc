#include "rptevaluationerrors.h"

#include "reportlogging.h"

void RptEvaluationErrors::clear()
{
    m_list.clear();
    m_seen.clear();
    m_reports = 0;
    m_aspect.clear();
    clearPlace();
}

void RptEvaluationErrors::setPlace(const QString &name, int line, int column)
{
    m_place.field = name;
    m_place.line = line;
    m_place.column = column;
}

void RptEvaluationErrors::report(const QString &message)
{
    ++m_reports;
    RptEvaluationError e = m_place;
    e.message = m_aspect.isEmpty() ? message : m_aspect + QStringLiteral(": ") + message;
    const QString key
        = QStringLiteral("%1:%2:%3:%4").arg(e.line).arg(e.column).arg(e.field, e.message);
    if (m_seen.contains(key))
        return;
    m_seen.insert(key);
    m_list.append(e);
    qCDebug(lcReport).noquote()
        << QStringLiteral("RptEngine::evaluate line %1, column %2:").arg(e.line).arg(e.column)
        << e.text();
}
