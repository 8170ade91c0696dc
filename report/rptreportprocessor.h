#pragma once

#include <QObject>
#include <QString>

class QPrinter;
class RptEngine;

// Lays a loaded report out over pages and draws it (PDF, HTML, printer,
// preview). RptEngine creates one per engine (as its child) and delegates its
// print operations here; the processor drives the engine's evaluation
// context and calls its evaluation API (see rptengine.h).
class RptReportProcessor : public QObject
{
    Q_OBJECT

public:
    explicit RptReportProcessor(RptEngine *engine);
    ~RptReportProcessor() override;

    void printPreview(QPrinter *printer);
    void printPDF(const QString &fileName, bool open);
    void printHTML(const QString &fileName, bool open);
    void printExec(bool maximum, bool direct, const QString &printerName);
    void setPageSettings(QPrinter *printer, int reportPage);
    // action is the QAction (or other object) whose object name selects the
    // export format.
    void exportTo(QObject *action);

private:
    RptEngine *m_engine;
};
