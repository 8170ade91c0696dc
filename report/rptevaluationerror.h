#pragma once

#include <QString>

// One thing that went wrong while a run evaluated a template: a formula,
// printing condition or highlighting rule the script engine rejected, a
// data variable nobody answered, a picture that does not decode. The place
// is the 1-based line and column of the element in the template (0 when the
// template came from no text); field is the element's name.
struct RptEvaluationError
{
    QString field;
    int line = 0;
    int column = 0;
    QString message;

    // "field NAME: message", or the message alone where no field is concerned.
    QString text() const
    {
        return field.isEmpty() ? message : QStringLiteral("field %1: %2").arg(field, message);
    }
    bool operator==(const RptEvaluationError &o) const
    {
        return line == o.line && column == o.column && field == o.field && message == o.message;
    }
    bool operator!=(const RptEvaluationError &o) const { return !(*this == o); }
};
