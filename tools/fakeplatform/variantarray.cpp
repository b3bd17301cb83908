#include "fakeplatform/variantarray.h"

#include "fakeplatform/fakememorymanager.h"

#include <cstring>

QString platformText(const WCHAR_T *text)
{
    if (!text)
        return QString();
    // Unit for unit, as the platform reads them: QString::fromUtf16 would take
    // a leading U+FEFF or U+FFFE for a byte order mark.
    const WCHAR_T *end = text;
    while (*end)
        ++end;
    return QString(reinterpret_cast<const QChar *>(text), int(end - text));
}

VariantArray::VariantArray(int count)
    : m_values(count), m_inputs(count, nullptr), m_texts(count), m_collected(count, false), m_terminated(count, false)
{
    for (tVariant &value : m_values)
        std::memset(&value, 0, sizeof(value));
}

VariantArray::~VariantArray()
{
    for (int i = 0; i < m_inputs.size(); ++i)
        releaseInput(i);
}

void VariantArray::releaseInput(int index)
{
    delete[] m_inputs[index];
    m_inputs[index] = nullptr;
}

VariantArray &VariantArray::setEmpty(int index)
{
    std::memset(&m_values[index], 0, sizeof(tVariant));
    m_texts[index].clear();
    m_collected[index] = false;
    m_terminated[index] = false;
    return *this;
}

VariantArray &VariantArray::setString(int index, const QString &text)
{
    releaseInput(index);
    WCHAR_T *copy = new WCHAR_T[text.size() + 1];
    std::memcpy(copy, text.utf16(), sizeof(WCHAR_T) * (text.size() + 1));
    m_inputs[index] = copy;
    setEmpty(index);
    m_values[index].vt = VTYPE_PWSTR;
    m_values[index].pwstrVal = copy;
    m_values[index].wstrLen = static_cast<uint32_t>(text.size());
    return *this;
}

VariantArray &VariantArray::setNullString(int index)
{
    setEmpty(index);
    m_values[index].vt = VTYPE_PWSTR;
    return *this;
}

VariantArray &VariantArray::setInt(int index, int value)
{
    setEmpty(index);
    m_values[index].vt = VTYPE_INT;
    m_values[index].intVal = value;
    return *this;
}

VariantArray &VariantArray::setI4(int index, int value)
{
    setEmpty(index);
    m_values[index].vt = VTYPE_I4;
    m_values[index].lVal = value;
    return *this;
}

VariantArray &VariantArray::setInt64(int index, qint64 value)
{
    setEmpty(index);
    m_values[index].vt = VTYPE_I8;
    m_values[index].llVal = value;
    return *this;
}

VariantArray &VariantArray::setDouble(int index, double value)
{
    setEmpty(index);
    m_values[index].vt = VTYPE_R8;
    m_values[index].dblVal = value;
    return *this;
}

VariantArray &VariantArray::setBool(int index, bool value)
{
    setEmpty(index);
    m_values[index].vt = VTYPE_BOOL;
    m_values[index].bVal = value;
    return *this;
}

int VariantArray::collect(FakeMemoryManager &memory)
{
    int foreign = 0;
    for (int i = 0; i < m_values.size(); ++i) {
        tVariant &value = m_values[i];
        if (value.vt != VTYPE_PWSTR || !value.pwstrVal || value.pwstrVal == m_inputs[i])
            continue;
        void *block = value.pwstrVal;
        if (!memory.owns(block)) {
            ++foreign;
            continue;
        }
        // Read no further than the block reaches.
        const int maxUnits = int(memory.blockSize(block) / sizeof(WCHAR_T));
        int length = 0;
        while (length < maxUnits && value.pwstrVal[length] != 0)
            ++length;
        m_terminated[i] = length < maxUnits;
        m_texts[i] = QString(reinterpret_cast<const QChar *>(value.pwstrVal), length);
        m_collected[i] = true;
        memory.FreeMemory(&block);
        value.pwstrVal = nullptr;
    }
    m_foreign += foreign;
    return foreign;
}

QVariant VariantArray::value(int index) const
{
    const tVariant &value = m_values.at(index);
    switch (value.vt) {
    case VTYPE_PWSTR:
        if (m_collected.at(index))
            return m_texts.at(index);
        if (value.pwstrVal && value.pwstrVal == m_inputs.at(index))
            return platformText(value.pwstrVal);
        return QString();
    case VTYPE_BOOL:
        return value.bVal;
    case VTYPE_INT:
        return value.intVal;
    case VTYPE_I4:
        return int(value.lVal);
    case VTYPE_I8:
        return qlonglong(value.llVal);
    case VTYPE_R8:
        return value.dblVal;
    default:
        return QVariant();
    }
}
