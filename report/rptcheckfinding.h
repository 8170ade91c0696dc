#pragma once

#include <QString>
#include <QVector>

#include <algorithm>

// One thing a template check found: where (1-based line and column of the
// template file) and what. Errors make the template wrong; warnings name
// what is legal but most likely not meant.
struct RptCheckFinding
{
    int line = 0;
    int column = 0;
    bool error = true;
    QString message;

    // The finding at a character offset of the text whose lines start at
    // lineStarts (offsets, the first one 0).
    static RptCheckFinding at(
        const QVector<int> &lineStarts, int offset, bool error, const QString &message)
    {
        RptCheckFinding f;
        f.line = int(
            std::upper_bound(lineStarts.begin(), lineStarts.end(), offset) - lineStarts.begin());
        f.column = offset - lineStarts.value(f.line - 1) + 1;
        f.error = error;
        f.message = message;
        return f;
    }
};
