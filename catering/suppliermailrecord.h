#pragma once

#include <QString>

// One order address of a supplier; a supplier may have several.
struct SupplierMailRecord
{
    quint32 supplierID = 0;
    QString mail;
};
