#pragma once

#include <QString>
#include <QStringList>

// The words a template may use, as the loader reads them: elements and
// their attributes, band and field types, internal variables and the
// aspects a highlighting rule may set; and the nearest of them to a
// misspelling.
class RptTemplateVocabulary
{
public:
    // The attributes the loader reads from an element (field elements under
    // the name "TContainerField"), authoring attributes included; empty for
    // an element it does not know.
    static QStringList attributes(const QString &element);
    static const QStringList &bandTypes();
    static const QStringList &fieldTypes();
    static const QStringList &internalVariables();
    static const QStringList &highlightAspects();
    // The closest of candidates to name when it is close enough to be a
    // likely misspelling, else an empty string.
    static QString nearest(const QString &name, const QStringList &candidates);
};
