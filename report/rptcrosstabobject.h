#pragma once

#include <QColor>
#include <QDomElement>
#include <QList>
#include <QMetaType>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariant>

class RptFieldObject;

// A generated cell of a cross-tab with its value and grid position, for the
// spreadsheet export.
struct RptTabElement
{
    RptFieldObject *fieldObject = nullptr;
    QVariant value;
    int corrY = 0;
    int corrX = 0;
};

// The table that a "crossTab" field expands into at print time. Its
// parameters are attributes of the field's own element. The cells are built
// and classified by RptCrossTabMatrix; the operations here are the caller's
// view of them.
//
// The rows come in parts, one part per printed page: an optional header
// row, the data rows that fit (visibleRowCount less the header and subtotal
// rows, at least one) and an optional subtotal row closing that page's data
// rows. The optional total row closes the whole matrix.
class RptCrossTabObject
{
public:
    struct ColumnParameters
    {
        QString caption;
        QString value;
        int width = 0;
    };

    RptCrossTabObject() = default;
    ~RptCrossTabObject();
    RptCrossTabObject(const RptCrossTabObject &) = delete;
    RptCrossTabObject &operator=(const RptCrossTabObject &) = delete;

    void loadParamFromXML(const QDomElement &e);
    void saveParamToXML(QDomElement &e) const;
    // Copies the parameters (not the generated cells) into a new object.
    RptCrossTabObject *cloneParameters() const;

    int rowHeight() const { return m_rowHeight; }
    void setRowHeight(int h) { m_rowHeight = h; }
    int colCount() const { return m_colCount; }
    void setColCount(int c) { m_colCount = c; }
    int rowCount() const { return m_rowCount; }
    void setRowCount(int n);
    bool isTotalByRowVisible() const { return m_totalByRowVisible; }
    void setTotalByRowVisible(bool on) { m_totalByRowVisible = on; }
    bool isTotalByColumnVisible() const { return m_totalByColVisible; }
    void setTotalByColumnVisible(bool on) { m_totalByColVisible = on; }
    bool isSubTotalVisible() const { return m_subTotalVisible; }
    void setSubTotalVisible(bool on) { m_subTotalVisible = on; }
    bool isHeaderVisible() const { return m_headerVisible; }
    void setHeaderVisible(bool on) { m_headerVisible = on; }
    int processedCount() const { return m_processedCount; }
    void setProcessedCount(int n) { m_processedCount = n; }
    bool isMatrixBuilt() const { return m_matrixBuilt; }
    int visibleRowCount() const;
    // Data rows of one part; 0 when the table does not page (no visible rows).
    int dataRowsPerPart() const;
    // Grid rows of one part (header, data and subtotal rows).
    int rowsPerPart() const;
    int parts() const;

    void buildMatrix();
    // The cell's data row (0-based, -1 for header, subtotal and total rows),
    // or with raw its row in the matrix; -1 for a field that is no cell.
    int fieldRow(RptFieldObject *field, bool raw = false) const;
    int fieldCol(RptFieldObject *field) const;
    bool isHeaderField(RptFieldObject *field) const;
    bool isTotalField(RptFieldObject *field) const;
    QString header(RptFieldObject *field) const;
    QString total(RptFieldObject *field) const;
    void addField(RptFieldObject *field);
    void addElement(const RptTabElement &element) { elements.append(element); }

    QRect rect = QRect(0, 0, 500, 500);
    QList<RptFieldObject *> fields;
    RptFieldObject *owner = nullptr;
    QStringList captions;
    QString dataSourceName;
    QColor totalBackgroundColor = QColor(255, 255, 255, 255);
    QColor headerBackgroundColor = QColor(255, 255, 255, 255);
    QList<ColumnParameters> columns;
    QList<RptTabElement> elements;

private:
    void clearFields();

    int m_colCount = 3;
    int m_rowCount = 3;
    int m_rowHeight = 20;
    int m_processedCount = 0;
    bool m_totalByRowVisible = true;
    bool m_totalByColVisible = true;
    bool m_subTotalVisible = false;
    bool m_headerVisible = false;
    bool m_matrixBuilt = false;
};
Q_DECLARE_METATYPE(RptCrossTabObject *)
