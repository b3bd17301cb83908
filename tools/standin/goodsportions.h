#pragma once

#include <QString>
#include <QStringList>

// Splits a goods table into tables of at most `rows` Record rows each, in
// order, as the platform hands a large catalogue over in portions. Other
// nodes under the root travel with the portion they stand in. A table that
// does not read as XML is handed over whole, so that the add-in reports it.
QStringList splitGoodsTable(const QString &table, int rows, int *recordCount = nullptr);
