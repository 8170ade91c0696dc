#pragma once

#include <QObject>
#include <QString>

class RptReportProcessor;
class RptRunHost;
struct RptRunState;

// The print preview dialog with its PDF and HTML exports: the only part of
// the engine that opens windows, so a server that only prints never runs it.
class RptPreview : public QObject
{
    Q_OBJECT

public:
    // All must outlive the preview.
    RptPreview(RptReportProcessor &processor, RptRunState &state, RptRunHost &host,
        QObject *parent = nullptr);

    // Prints on the named printer (the default one when there is no such
    // printer): directly, or through the preview dialog, which returns when
    // it is closed.
    void exec(bool maximum, bool direct, const QString &printerName);
    // action is the QAction (or other object) whose object name selects the
    // export format; asks for the file.
    void exportTo(QObject *action);

private:
    RptReportProcessor &m_processor;
    RptRunState &m_state;
    RptRunHost &m_host;
};
