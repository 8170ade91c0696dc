#pragma once

// Enumerations shared by the template reader, the evaluator and the layout.
// The numeric values are those stored in and compared against templates.
namespace RptName {

enum BandType {
    Undefined = 0,
    PageHeader = 1,
    ReportTitle = 2,
    MasterHeader = 3,
    DataGroupHeader = 4,
    MasterData = 5,
    DataGroupFooter = 6,
    MasterFooter = 7,
    ReportSummary = 8,
    PageFooter = 9
};

enum FieldType {
    Label = 0,
    LabelImage = 1,
    TextRich = 2,
    Image = 3,
    Diagram = 4,
    Reactangle = 5,
    RoundedReactangle = 6,
    Circle = 7,
    Triangle = 8,
    Rhombus = 9,
    Line = 10,
    Barcode = 11,
    DatabaseImage = 12,
    CrossTab = 13
};

enum HiType {
    FntBold = 0,
    FntItalic = 1,
    FntUnderline = 2,
    FntStrikeout = 3,
    FntColor = 4,
    BgColor = 5
};

// Where a print run goes; the layout skips page furniture in Html mode.
enum OutputMode { PrinterMode = 0, PdfMode = 1, HtmlMode = 2 };

} // namespace RptName
