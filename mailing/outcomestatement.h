#pragma once

#include <QString>

// The UPDATE that turns a transport's status word into the letter of its row
// in `emails`, the one the tenant's applications read ('S', 'E', 'B', 'R',
// or 'Q' with the provider's id while the provider holds the mail).
class OutcomeStatement
{
public:
    // apiValue is SQL already: a quoted, escaped identifier or NULL. Empty
    // for a word that writes nothing (an unknown answer to a state question).
    static QString forStatus(const QString &status, uint mid, const QString &apiValue,
        bool answersCheck, bool logNetErrors);
    // The letter a final status word writes, for log lines.
    static QString letterOf(const QString &status);
};
