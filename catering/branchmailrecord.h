#pragma once

#include <QString>

// One address of a branch.
struct BranchMailRecord
{
    qint32 bid = 0;
    QString mail;
};
