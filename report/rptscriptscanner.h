#pragma once

#include "rptexpressionevaluator.h"

#include <QChar>
#include <QString>
#include <QVector>

// Reading formula and script code token by token, without running it:
// turning the marks that stand for data values into names of values bound
// beside the program, and judging what a program could change.
class RptScriptScanner
{
public:
    // A data variable stands in a text as kMark, the index of its value and
    // kMarkEnd while the text is cut into pieces and turned into a program; the
    // value itself joins only literal text or the bindings of a program.
    static constexpr QChar kMark { 0xE000 };
    static constexpr QChar kMarkEnd { 0xE001 };
    // The value index of a mark starting at i, and the position after it; -1
    // when i starts no mark (a template may hold the private-use character).
    static int readMark(const QString &text, int i, int count, int *end);

    enum class Reach {
        // Can change state another expression could see, or is not understood.
        Open,
        // Reads functions and members that change nothing.
        Tame,
        // Nothing but literals, operators and bound values.
        Pure,
    };
    static Reach reachOf(const QString &code);

    // Turns marked code into a program: a mark in code becomes the name of a
    // value bound as number or text (added to slotList), a string literal
    // holding marks becomes a parenthesised concatenation of its pieces and
    // the values bound as text. Misreading unusual code (a regular expression
    // the scan takes for a division) can only spoil that program's result,
    // never bring data into it. count is the number of values.
    static QString bind(
        const QString &code, int count, QVector<RptExpressionEvaluator::Slot> &slotList);
};
