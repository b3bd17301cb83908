#pragma once

#include <QString>
#include <QStringList>

#include <random>

// Goods tables from random pieces, for comparing readers: well-formed ones
// in the shapes a business system writes and many it does not, and damaged
// copies of them. The same seed gives the same texts.
class TableMaker
{
public:
    explicit TableMaker(quint32 seed) : m_random(seed) {}

    // A well-formed table (unless its root is not "Table") of up to rowCount
    // rows, with every construct the readers might take differently.
    QString table(int rowCount = 8);
    // A table as business systems write it: a declaration, one row a line,
    // Cyrillic names with escapes, prices with a comma or a point, comments.
    QString usualTable(int rowCount);
    // The text with one character replaced.
    QString flip(const QString &text);
    // The text with a piece of markup inserted.
    QString insert(const QString &text);
    // The text with a few characters removed.
    QString remove(const QString &text);

    int below(int bound);
    bool chance(int percent) { return below(100) < percent; }
    QString pick(const QStringList &pieces) { return pieces.at(below(pieces.size())); }

private:
    QString space();
    QString attributeValue(const QString &name, QChar quote);
    QString row(int level);
    QString misc();

    std::mt19937 m_random;
};
