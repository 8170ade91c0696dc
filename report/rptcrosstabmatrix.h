#pragma once

#include <QString>

class RptCrossTabObject;
class RptFieldObject;

// The grid of generated cells that a cross-tab field expands into, and the
// role of each cell in it.
//
// The rows form parts of RptCrossTabObject::rowsPerPart() rows, one part per
// printed page: an optional header row, the part's data rows and an optional
// subtotal row over just those data rows; the optional total row closes the
// matrix. RptCrossTabObject::setRowCount counts the rows the same way, so
// every data row the caller announced gets a row of its own and parts()
// is the number of pages the table needs.
class RptCrossTabMatrix
{
public:
    enum Role { Data, Header, Subtotal, Total };

    // The cells of a fresh grid, for buildMatrix (which has removed the old
    // ones). Cells are labels named "f<col><row>", shifted by the owner
    // field's left edge.
    static void fillCells(RptCrossTabObject *tab);

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
    // (6 significant digits); empty for header cells and where the cells
    // summed hold texts but no number.
    static QString total(const RptCrossTabObject *tab, const RptFieldObject *cell);

private:
    // The part (printed page of the table) a matrix row belongs to.
    static int part(const RptCrossTabObject *tab, int row);
};
