#pragma once

#include "addin/platform/nativetypes.h"

#include <QString>
#include <QVariant>
#include <QVector>

class FakeMemoryManager;

// A platform string as text; a null pointer gives a null QString.
QString platformText(const WCHAR_T *text);

// A contiguous array of variants as the platform passes parameters (or a
// single return value). Input strings belong to the array, as the platform
// keeps its own; strings the component writes are collected after a call
// and handed back to the memory manager, as the platform does.
class VariantArray
{
public:
    explicit VariantArray(int count = 0);
    ~VariantArray();

    VariantArray(const VariantArray &) = delete;
    VariantArray &operator=(const VariantArray &) = delete;

    int size() const { return m_values.size(); }
    tVariant *data() { return m_values.isEmpty() ? nullptr : m_values.data(); }
    tVariant &operator[](int index) { return m_values[index]; }
    const tVariant &at(int index) const { return m_values.at(index); }

    VariantArray &setEmpty(int index);
    VariantArray &setString(int index, const QString &text);
    // A string variant whose pointer is null.
    VariantArray &setNullString(int index);
    VariantArray &setInt(int index, int value);   // VTYPE_INT
    VariantArray &setI4(int index, int value);    // VTYPE_I4
    VariantArray &setInt64(int index, qint64 value);
    VariantArray &setDouble(int index, double value);
    VariantArray &setBool(int index, bool value);

    // After a call: takes every string the component wrote out of the
    // memory manager's blocks into the array and frees the blocks. A string
    // pointer that is neither an input nor a block of the manager counts as
    // foreign and is left alone.
    // Returns the number of foreign strings found in this call.
    int collect(FakeMemoryManager &memory);

    unsigned short type(int index) const { return m_values.at(index).vt; }
    // By type: text for strings, bool, int, double; invalid when empty.
    QVariant value(int index) const;
    QString text(int index) const { return value(index).toString(); }
    // The string came in a block of the memory manager.
    bool fromMemoryManager(int index) const { return m_collected.at(index); }
    // The collected string ended with a zero unit inside its block.
    bool terminated(int index) const { return m_terminated.at(index); }
    int foreignStrings() const { return m_foreign; }

private:
    void releaseInput(int index);

    QVector<tVariant> m_values;
    QVector<WCHAR_T *> m_inputs;
    QVector<QString> m_texts;
    QVector<bool> m_collected;
    QVector<bool> m_terminated;
    int m_foreign = 0;
};
