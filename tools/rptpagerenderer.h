#pragma once

#include "rptevaluationerror.h"

#include <QList>
#include <QString>
#include <QStringList>

class RptEngine;

// Renders every printed page of a loaded template into a file of its own,
// "name-1.png", "name-2.png" ... (or .svg) beside the output name given,
// at a chosen resolution. The engine lays pages out for a printer, so each
// page is one print run restricted to that page, painted on an image or an
// SVG generator of the printable area, then placed on the paper with its
// margins.
class RptPageRenderer
{
public:
    enum Format { Png, Svg };

    RptPageRenderer(RptEngine *engine, Format format, int dpi);

    // False with a one-line reason in *error when a page cannot be written.
    bool render(const QString &output, QString *error);
    // The files render() wrote, in page order.
    const QStringList &files() const { return m_files; }
    // The evaluation errors of all pages' runs, each once.
    const QList<RptEvaluationError> &evaluationErrors() const { return m_errors; }

    // "dir/name.png" -> "dir/name-3.png".
    static QString pageFileName(const QString &output, int page);

private:
    void keepErrors();

    RptEngine *m_engine;
    Format m_format;
    int m_dpi;
    QStringList m_files;
    QList<RptEvaluationError> m_errors;
};
