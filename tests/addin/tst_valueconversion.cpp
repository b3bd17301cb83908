// Values crossing the boundary: strings into platform blocks and temporary
// copies, parameters read from variants of any type.

#include "addin/valueconversion.h"
#include "fakeplatform/fakememorymanager.h"
#include "fakeplatform/variantarray.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

tVariant variantOf(unsigned short type)
{
    tVariant value;
    std::memset(&value, 0xAB, sizeof(value));
    value.vt = type;
    return value;
}

void *refuse(std::size_t)
{
    return nullptr;
}

} // namespace

class TestValueConversion : public QObject
{
    Q_OBJECT

private slots:
    void stringResult_data();
    void stringResult();
    void stringResultWithoutBlock_data();
    void stringResultWithoutBlock();
    void refusedNameLeavesTarget();
    void wideBufferSizes();
    void exhaustedHeapWritesNothing();
    void stringParam_data();
    void stringParam();
    void intParam_data();
    void intParam();
};

void TestValueConversion::stringResult_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("units");
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("abc") << "abc" << 3;
    QTest::newRow("Cyrillic") << "Подключить" << 10;
    // A surrogate pair passes as its two units.
    QTest::newRow("surrogates") << QString::fromUtf8("a\xF0\x9F\x98\x80") << 3;
}

void TestValueConversion::stringResult()
{
    QFETCH(QString, text);
    QFETCH(int, units);
    FakeMemoryManager memory;
    tVariant value = variantOf(VTYPE_I4);
    QVERIFY(setStringResult(&memory, &value, text));
    QCOMPARE(value.vt, quint16(VTYPE_PWSTR));
    QCOMPARE(value.wstrLen, uint32_t(units));
    QVERIFY(memory.owns(value.pwstrVal));
    QCOMPARE(memory.blockSize(value.pwstrVal), (unsigned long)(units + 1) * 2);
    QVERIFY(std::memcmp(value.pwstrVal, text.utf16(), units * 2) == 0);
    QCOMPARE(int(value.pwstrVal[units]), 0);
    void *block = value.pwstrVal;
    memory.FreeMemory(&block);
    QCOMPARE(memory.liveCount(), 0);
}

void TestValueConversion::stringResultWithoutBlock_data()
{
    QTest::addColumn<bool>("withManager");
    QTest::newRow("no manager") << false;
    QTest::newRow("manager refuses") << true;
}

void TestValueConversion::stringResultWithoutBlock()
{
    QFETCH(bool, withManager);
    FakeMemoryManager memory;
    memory.setRefusing(true);
    tVariant value = variantOf(VTYPE_I4);
    QVERIFY(setStringResult(withManager ? &memory : nullptr, &value, QStringLiteral("1.0.1.6")));
    // A string variant, but with nothing a platform could follow.
    QCOMPARE(value.vt, quint16(VTYPE_PWSTR));
    QVERIFY(!value.pwstrVal);
    QCOMPARE(value.wstrLen, 0u);
    QCOMPARE(memory.grantedCount(), 0);
}

void TestValueConversion::refusedNameLeavesTarget()
{
    FakeMemoryManager memory;
    memory.setRefusing(true);
    WCHAR_T untouched[] = WCHAR_T_LITERAL("x");
    WCHAR_T *target = untouched;
    QVERIFY(!toPlatformString(&memory, &target, QStringLiteral("LumaroScaleDriver")));
    QCOMPARE(target, static_cast<WCHAR_T *>(untouched));
    QVERIFY(!toPlatformString(nullptr, &target, QStringLiteral("x")));
    QCOMPARE(target, static_cast<WCHAR_T *>(untouched));
}

void TestValueConversion::wideBufferSizes()
{
    QCOMPARE(wideBufferBytes(0), std::size_t(2));
    QCOMPARE(wideBufferBytes(3), std::size_t(8));
    // Nothing wraps round to a small block.
    QCOMPARE(wideBufferBytes(-1), std::numeric_limits<std::size_t>::max());

    WCHAR_T *copy = nullptr;
    QVERIFY(toWideBuffer(&copy, QStringLiteral("Порт")));
    QCOMPARE(platformText(copy), QStringLiteral("Порт"));
    // An existing block is reused and fully rewritten.
    WCHAR_T *same = copy;
    QVERIFY(toWideBuffer(&copy, QStringLiteral("ab")));
    QCOMPARE(copy, same);
    QCOMPARE(platformText(copy), QStringLiteral("ab"));
    freeWideBuffer(copy);
}

void TestValueConversion::exhaustedHeapWritesNothing()
{
    HeapAllocator previous = setHeapAllocator(&refuse);
    WCHAR_T *copy = nullptr;
    const bool made = toWideBuffer(&copy, QStringLiteral("text"));
    setHeapAllocator(previous);
    QVERIFY(!made);
    QVERIFY(!copy);
}

void TestValueConversion::stringParam_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("pointer");
    QTest::addColumn<QString>("expected");
    QTest::newRow("string") << int(VTYPE_PWSTR) << true << "192.168.0.248";
    QTest::newRow("null pointer") << int(VTYPE_PWSTR) << false << "";
    QTest::newRow("number") << int(VTYPE_I4) << true << "";
    QTest::newRow("empty") << int(VTYPE_EMPTY) << true << "";
    QTest::newRow("double") << int(VTYPE_R8) << true << "";
    QTest::newRow("bool") << int(VTYPE_BOOL) << true << "";
}

void TestValueConversion::stringParam()
{
    QFETCH(int, type);
    QFETCH(bool, pointer);
    QFETCH(QString, expected);
    WCHAR_T text[] = WCHAR_T_LITERAL("192.168.0.248");
    tVariant value = variantOf(static_cast<unsigned short>(type));
    value.pwstrVal = pointer ? text : nullptr;
    // The length is never consulted: the text runs to its zero unit.
    value.wstrLen = 3;
    QCOMPARE(::stringParam(&value), expected);
    QCOMPARE(::stringParam(nullptr), QString());
}

void TestValueConversion::intParam_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("number");
    QTest::addColumn<int>("expected");
    const int maxInt = std::numeric_limits<int>::max();
    QTest::newRow("I4") << int(VTYPE_I4) << 27706.0 << 27706;
    QTest::newRow("int") << int(VTYPE_INT) << -5.0 << -5;
    QTest::newRow("I2") << int(VTYPE_I2) << -300.0 << -300;
    QTest::newRow("UI1") << int(VTYPE_UI1) << 200.0 << 200;
    QTest::newRow("double rounds") << int(VTYPE_R8) << 27706.4 << 27706;
    QTest::newRow("double half up") << int(VTYPE_R8) << 2.5 << 3;
    QTest::newRow("float") << int(VTYPE_R4) << 80.0 << 80;
    QTest::newRow("double too large") << int(VTYPE_R8) << 1e12 << maxInt;
    QTest::newRow("double NaN") << int(VTYPE_R8) << double(NAN) << 0;
    QTest::newRow("I8") << int(VTYPE_I8) << 27706.0 << 27706;
    QTest::newRow("I8 too large") << int(VTYPE_I8) << 1e15 << maxInt;
    QTest::newRow("UI4 too large") << int(VTYPE_UI4) << 4e9 << maxInt;
    QTest::newRow("bool") << int(VTYPE_BOOL) << 1.0 << 1;
    QTest::newRow("string") << int(VTYPE_PWSTR) << 0.0 << 0;
    QTest::newRow("empty") << int(VTYPE_EMPTY) << 0.0 << 0;
}

void TestValueConversion::intParam()
{
    QFETCH(int, type);
    QFETCH(double, number);
    QFETCH(int, expected);
    tVariant value = variantOf(static_cast<unsigned short>(type));
    switch (type) {
    case VTYPE_I4: value.lVal = int32_t(number); break;
    case VTYPE_INT: value.intVal = int(number); break;
    case VTYPE_I2: value.shortVal = int16_t(number); break;
    case VTYPE_UI1: value.ui8Val = uint8_t(number); break;
    case VTYPE_R8: value.dblVal = number; break;
    case VTYPE_R4: value.fltVal = float(number); break;
    case VTYPE_I8: value.llVal = int64_t(number); break;
    case VTYPE_UI4: value.ulVal = uint32_t(number); break;
    case VTYPE_BOOL: value.bVal = number != 0; break;
    default: break;
    }
    QCOMPARE(::intParam(&value), expected);
}

QTEST_APPLESS_MAIN(TestValueConversion)
#include "tst_valueconversion.moc"
