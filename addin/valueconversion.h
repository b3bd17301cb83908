#pragma once

// Conversions between the platform's strings and variants and Qt values.
// Strings the platform keeps come from its memory manager; temporary copies
// that the platform only reads during a call live on the library's heap.

#include "addin/platform/memorymanager.h"
#include "addin/platform/nativetypes.h"

#include <QString>

#include <cstddef>

// Bytes for a zero-terminated copy of `units` code units; saturates instead
// of wrapping so that an allocation of that size fails rather than comes short.
std::size_t wideBufferBytes(qsizetype units);

// Reads up to the first zero unit; null reads as an empty text.
QString fromPlatformString(const WCHAR_T *text);

// A block of (length + 1) * 2 bytes from the platform's memory manager,
// holding the text and a zero unit. False, with `target` untouched, when
// there is no manager or it refuses.
bool toPlatformString(IMemoryManager *memoryManager, WCHAR_T **target, const QString &source);

// Sets a string result: vt and wstrLen always, pwstrVal only when the
// memory manager supplied the block.
bool setStringResult(IMemoryManager *memoryManager, tVariant *value, const QString &source);

// A zero-terminated copy on the library's heap. A null *target gets a new
// block; an existing one must hold (length + 1) units. False when no block
// could be had: then nothing was written.
bool toWideBuffer(WCHAR_T **target, const QString &source);
void freeWideBuffer(WCHAR_T *buffer);

// The library heap's allocator, replaceable so that tests can exhaust it.
using HeapAllocator = void *(*)(std::size_t bytes);
HeapAllocator setHeapAllocator(HeapAllocator allocator);

// Parameters from the platform. A value of another type is converted where
// it is a number and read as empty otherwise; a pointer is followed only in
// a string variant.
QString stringParam(const tVariant *value);
int intParam(const tVariant *value);
bool boolParam(const tVariant *value);

void setBoolResult(tVariant *value, bool result);
void setIntResult(tVariant *value, int result);
void setEmptyResult(tVariant *value);
