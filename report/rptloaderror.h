#pragma once

#include <QString>

// Why a template did not load: the place (1-based, 0 when unknown) and the
// parser's or the file system's message.
struct RptLoadError
{
    bool hasError = false;
    int line = 0;
    int column = 0;
    QString message;
};
