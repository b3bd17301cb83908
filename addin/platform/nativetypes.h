#pragma once

// Basic types of the platform's Native API, declared to match its binary
// layout on every target we build for. No Qt here: the platform headers must
// compile on their own with any of the supported compilers.

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#if defined(_WIN32)
typedef wchar_t WCHAR_T;
#define WCHAR_T_LITERAL(text) L##text
#else
// wchar_t is four bytes here; the platform's strings are UTF-16.
typedef char16_t WCHAR_T;
#define WCHAR_T_LITERAL(text) u##text
#endif

// The platform calls its interfaces with __stdcall on 32-bit Windows.
#if defined(_WIN32) && !defined(_WIN64)
#define ADDIN_API __stdcall
#else
#define ADDIN_API
#endif

// MSVC gives a virtual destructor one vtable slot, GCC gives it two. For GCC
// on Windows the one slot is declared as what MSVC puts there, its scalar
// deleting destructor: __thiscall on 32-bit (the callee pops its argument),
// destroys the object and frees it when bit 0 of the flags is set. A host
// built by MSVC that deletes through an interface pointer calls it; a class
// that the platform may delete overrides it, the others keep this one,
// which does nothing.
#if defined(_WIN32) && defined(__GNUC__)
#if defined(_WIN64)
#define NATIVE_THISCALL
#else
#define NATIVE_THISCALL __attribute__((thiscall))
#endif
#define NATIVE_INTERFACE_DESTRUCTOR(Name)                                               \
    virtual void *NATIVE_THISCALL scalarDeletingDestructor(unsigned int) { return this; } \
                                                                                        \
protected:                                                                              \
    ~Name() {}                                                                          \
                                                                                        \
public:
#else
#define NATIVE_INTERFACE_DESTRUCTOR(Name) \
    virtual ~Name() {}
#endif

// A GUID as the platform stores it inside a variant.
#if defined(_WIN32)
struct NativeGuid
{
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
#else
struct NativeGuid
{
    unsigned char bytes[16];
};
#endif

enum VariantType : unsigned short {
    VTYPE_EMPTY = 0,
    VTYPE_NULL = 1,
    VTYPE_I2 = 2,
    VTYPE_I4 = 3,
    VTYPE_R4 = 4,
    VTYPE_R8 = 5,
    VTYPE_DATE = 6,
    VTYPE_TM = 7,
    VTYPE_PSTR = 8,
    VTYPE_INTERFACE = 9,
    VTYPE_ERROR = 10,
    VTYPE_BOOL = 11,
    VTYPE_VARIANT = 12,
    VTYPE_I1 = 13,
    VTYPE_UI1 = 14,
    VTYPE_UI2 = 15,
    VTYPE_UI4 = 16,
    VTYPE_I8 = 17,
    VTYPE_UI8 = 18,
    VTYPE_INT = 19,
    VTYPE_UINT = 20,
    VTYPE_HRESULT = 21,
    VTYPE_PWSTR = 22,
    VTYPE_BLOB = 23,
    VTYPE_CLSID = 24
};

// The platform's variant record: default alignment, no packing.
struct tVariant
{
    union {
        int8_t i8Val;
        int16_t shortVal;
        int32_t lVal;
        int intVal;
        unsigned int uintVal;
        int64_t llVal;
        uint8_t ui8Val;
        uint16_t ushortVal;
        uint32_t ulVal;
        uint64_t ullVal;
        int32_t errCode;
        long hRes;
        float fltVal;
        double dblVal;
        bool bVal;
        char chVal;
        wchar_t wchVal;
        double date;
        NativeGuid IDVal;
        tVariant *pvarVal;
        struct tm tmVal;
        struct
        {
            void *pInterfaceVal;
            NativeGuid InterfaceID;
        };
        struct
        {
            char *pstrVal;
            uint32_t strLen;
        };
        struct
        {
            WCHAR_T *pwstrVal;
            uint32_t wstrLen;
        };
    };
    uint32_t cbElements;
    unsigned short vt;
};

// The layout the platform was built with, per target. A mismatch here means
// every parameter the platform hands over would be read from the wrong place.
#define NATIVE_VARIANT_LAYOUT(size, cbOffset, vtOffset)                              \
    static_assert(sizeof(tVariant) == (size), "tVariant size differs from the platform's"); \
    static_assert(offsetof(tVariant, cbElements) == (cbOffset), "tVariant::cbElements misplaced"); \
    static_assert(offsetof(tVariant, vt) == (vtOffset), "tVariant::vt misplaced")

#if defined(_WIN32)
// 32-bit and 64-bit alike.
NATIVE_VARIANT_LAYOUT(48, 40, 44);
#elif defined(__linux__) && defined(__x86_64__)
NATIVE_VARIANT_LAYOUT(64, 56, 60);
#elif defined(__linux__) && defined(__i386__)
NATIVE_VARIANT_LAYOUT(52, 44, 48);
#endif

#undef NATIVE_VARIANT_LAYOUT

enum AppCapabilities {
    eAppCapabilitiesInvalid = -1,
    eAppCapabilities1 = 1,
    eAppCapabilities2 = 2,
    eAppCapabilities3 = 3,
    eAppCapabilitiesLast = eAppCapabilities3
};
