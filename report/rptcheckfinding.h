#pragma once

#include <QString>

// One thing a template check found: where (1-based line and column of the
// template file) and what. Errors make the template wrong; warnings name
// what is legal but most likely not meant.
struct RptCheckFinding
{
    int line = 0;
    int column = 0;
    bool error = true;
    QString message;
};
