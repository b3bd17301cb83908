#pragma once

#include "goodstable.h"

// The goods table read entirely with Qt's DOM reader, after the lexical
// pre-check. Its rows and its error reports are the ones the goods table
// gives: the faster reader answers only where it gives the same, and hands
// every other text to this one.
bool readGoodsTableDom(const QString &table, QList<GoodsRecord *> &goods, GoodsTableError &error);

// The lexical pre-check, its refusal filled in as a reader error.
bool precheckGoodsTable(const QString &table, GoodsTableError &error);
