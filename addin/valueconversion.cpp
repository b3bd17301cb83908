#include "addin/valueconversion.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

HeapAllocator heapAllocator = &std::malloc;

void copyUnits(WCHAR_T *block, const QString &source)
{
    static_assert(sizeof(WCHAR_T) == sizeof(QChar), "the platform's strings are UTF-16");
    const qsizetype units = source.size();
    std::memset(block, 0, std::size_t(units) * sizeof(WCHAR_T) + sizeof(WCHAR_T));
    if (units > 0)
        std::memcpy(block, source.utf16(), std::size_t(units) * sizeof(WCHAR_T));
}

int clampToInt(long double value)
{
    if (value >= static_cast<long double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (value <= static_cast<long double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

int roundToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (value <= std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(std::lround(value));
}

} // namespace

std::size_t wideBufferBytes(qsizetype units)
{
    const std::size_t maxUnits = std::numeric_limits<std::size_t>::max() / sizeof(WCHAR_T) - 1;
    if (units < 0 || std::size_t(units) > maxUnits)
        return std::numeric_limits<std::size_t>::max();
    return (std::size_t(units) + 1) * sizeof(WCHAR_T);
}

QString fromPlatformString(const WCHAR_T *text)
{
    if (!text)
        return QString();
    // Unit for unit, up to the zero: QString::fromUtf16 would take a leading
    // U+FEFF or U+FFFE for a byte order mark, dropping it or byte-swapping
    // every unit after it. WCHAR_T is wchar_t on Windows and char16_t
    // elsewhere: UTF-16 units both.
    static_assert(sizeof(WCHAR_T) == sizeof(QChar), "the platform's strings are UTF-16");
    const WCHAR_T *end = text;
    while (*end && end - text < std::numeric_limits<int>::max())
        ++end;
    return QString(reinterpret_cast<const QChar *>(text), int(end - text));
}

bool toPlatformString(IMemoryManager *memoryManager, WCHAR_T **target, const QString &source)
{
    if (!memoryManager || !target)
        return false;
    const std::size_t bytes = wideBufferBytes(source.size());
    if (bytes > std::numeric_limits<unsigned long>::max())
        return false;
    void *block = nullptr;
    if (!memoryManager->AllocMemory(&block, static_cast<unsigned long>(bytes)) || !block)
        return false;
    copyUnits(static_cast<WCHAR_T *>(block), source);
    *target = static_cast<WCHAR_T *>(block);
    return true;
}

bool setStringResult(IMemoryManager *memoryManager, tVariant *value, const QString &source)
{
    if (!value)
        return true;
    value->vt = VTYPE_PWSTR;
    WCHAR_T *block = nullptr;
    if (toPlatformString(memoryManager, &block, source)) {
        value->pwstrVal = block;
        value->wstrLen = static_cast<uint32_t>(source.size());
    } else {
        // Whatever the slot held before is no string of ours; a platform that
        // follows it would read foreign memory.
        value->pwstrVal = nullptr;
        value->wstrLen = 0;
    }
    return true;
}

bool toWideBuffer(WCHAR_T **target, const QString &source)
{
    if (!target)
        return false;
    if (!*target) {
        void *block = heapAllocator(wideBufferBytes(source.size()));
        if (!block)
            return false;
        *target = static_cast<WCHAR_T *>(block);
    }
    copyUnits(*target, source);
    return true;
}

void freeWideBuffer(WCHAR_T *buffer)
{
    std::free(buffer);
}

HeapAllocator setHeapAllocator(HeapAllocator allocator)
{
    HeapAllocator previous = heapAllocator;
    heapAllocator = allocator ? allocator : &std::malloc;
    return previous;
}

QString stringParam(const tVariant *value)
{
    if (!value || value->vt != VTYPE_PWSTR)
        return QString();
    return fromPlatformString(value->pwstrVal);
}

int intParam(const tVariant *value)
{
    if (!value)
        return 0;
    switch (value->vt) {
    case VTYPE_I1:
        return value->i8Val;
    case VTYPE_I2:
        return value->shortVal;
    case VTYPE_I4:
    case VTYPE_ERROR:
        return value->lVal;
    case VTYPE_INT:
        return value->intVal;
    case VTYPE_UI1:
        return value->ui8Val;
    case VTYPE_UI2:
        return value->ushortVal;
    case VTYPE_UI4:
        return clampToInt(value->ulVal);
    case VTYPE_UINT:
        return clampToInt(value->uintVal);
    case VTYPE_I8:
        return clampToInt(value->llVal);
    case VTYPE_UI8:
        return clampToInt(value->ullVal);
    case VTYPE_R4:
        return roundToInt(value->fltVal);
    case VTYPE_R8:
        return roundToInt(value->dblVal);
    case VTYPE_BOOL:
        return value->bVal ? 1 : 0;
    default:
        return 0;
    }
}

bool boolParam(const tVariant *value)
{
    if (!value)
        return false;
    switch (value->vt) {
    case VTYPE_BOOL:
        return value->bVal;
    case VTYPE_R4:
        return value->fltVal != 0.0f;
    case VTYPE_R8:
        return value->dblVal != 0.0;
    case VTYPE_I8:
        return value->llVal != 0;
    case VTYPE_UI8:
        return value->ullVal != 0;
    case VTYPE_I1:
    case VTYPE_I2:
    case VTYPE_I4:
    case VTYPE_INT:
    case VTYPE_UI1:
    case VTYPE_UI2:
    case VTYPE_UI4:
    case VTYPE_UINT:
        return intParam(value) != 0;
    default:
        return false;
    }
}

void setBoolResult(tVariant *value, bool result)
{
    if (!value)
        return;
    value->vt = VTYPE_BOOL;
    value->bVal = result;
}

void setIntResult(tVariant *value, int result)
{
    if (!value)
        return;
    value->vt = VTYPE_INT;
    value->intVal = result;
}

void setEmptyResult(tVariant *value)
{
    if (value)
        value->vt = VTYPE_EMPTY;
}
