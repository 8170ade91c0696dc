#pragma once

#include <QString>

class RptCrossTabObject;
class RptFieldObject;

// The grid of generated cells that a cross-tab field expands into, and the
// role of each cell in it.
//
// The rows form sections: an optional header row, up to visibleRowCount()
// data rows and an optional subtotal row; the optional total row closes the
// matrix. This is the arrangement that RptCrossTabObject::setRowCount counts
// (one header and one subtotal row per visibleRowCount data rows), so every
// data row the caller announced gets a row of its own. Pages still hold
// visibleRowCount grid rows each, which is what parts() counts.
class RptCrossTabMatrix
{
public:
    enum Role { Data, Header, Subtotal, Total };

    // Replaces the cells of the cross-tab with a fresh grid (none when
    // colCount or rowCount is 0). Cells are labels named "f<col><row>",
    // shifted by the owner field's left edge.
    static void build(RptCrossTabObject *tab);
    static bool isBuilt(const RptCrossTabObject *tab);

    static int cellRow(const RptCrossTabObject *tab, const RptFieldObject *cell);
    static int cellCol(const RptCrossTabObject *tab, const RptFieldObject *cell);
    static Role rowRole(const RptCrossTabObject *tab, int row);
    static bool isHeaderCell(const RptCrossTabObject *tab, const RptFieldObject *cell);
    static bool isTotalCell(const RptCrossTabObject *tab, const RptFieldObject *cell);
    // The caller's data row a data cell shows (0-based), -1 for other rows.
    static int dataRow(const RptCrossTabObject *tab, int row);
    // The caption of the cell's column.
    static QString header(const RptCrossTabObject *tab, const RptFieldObject *cell);
    // The sum a total cell shows, from the values the other cells hold now
    // (6 significant digits); empty for header cells.
    static QString total(const RptCrossTabObject *tab, const RptFieldObject *cell);

private:
    static int sectionSize(const RptCrossTabObject *tab);
    static int section(const RptCrossTabObject *tab, int row);
};
