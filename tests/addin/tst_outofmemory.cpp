// ctest-timeout: 300
// A goods portion too large for the add-in to hold: the allocation fails,
// and the exception it throws must not reach the platform's frames (where
// it would end the process). The upload answers false, the platform is
// told, and the component goes on working. On a 32-bit build a few hundred
// megabytes of text exhaust the address space; on a 64-bit one a text longer
// than a Qt string can hold makes the allocation fail all the same.
#include "helper_addinsession.h"
#include "scalesim/scalesim.h"

#include <QtTest>

#include <new>
#include <vector>

namespace {

enum Method { SetParameter = 3, Open = 4, Close = 5, UploadGoods = 11 };

} // namespace

#if defined(__SANITIZE_ADDRESS__)
// An allocation too large to be had answers null, as it does without the
// sanitizer (which would otherwise end the process there), so that Qt
// throws as it does for the platform.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options()
{
    return "allocator_may_return_null=1";
}
#endif

class TestOutOfMemory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void oversizedPortionFailsAndTheComponentGoesOn();
    void cleanupTestCase();

private:
    FakePlatform &platform() { return session.platform(); }
    QVariant upload(const QString &table, const QString &state);

    AddinSession session;
    ScaleSimHost sim;
    IComponentBase *component = nullptr;
    QString deviceId;
};

void TestOutOfMemory::initTestCase()
{
    QVERIFY2(session.load(), qPrintable(platform().errorString()));
    QVERIFY(sim.start(0));
    component = platform().createObject();
    QVERIFY(component);
    QVERIFY(setParameter(platform(), component, QStringLiteral("ScaleIP"), QStringLiteral("127.0.0.1")));
    QVERIFY(setParameter(platform(), component, QStringLiteral("ScalePort"), int(sim.port())));
    VariantArray open(1);
    QCOMPARE(callMethod(platform(), component, Open, open), QVariant(true));
    deviceId = open.text(0);
}

QVariant TestOutOfMemory::upload(const QString &table, const QString &state)
{
    VariantArray params(3);
    params.setString(0, deviceId).setString(1, table).setString(2, state);
    return callMethod(platform(), component, UploadGoods, params);
}

void TestOutOfMemory::oversizedPortionFailsAndTheComponentGoesOn()
{
    // One row whose name never ends: were it read whole, the table would be
    // refused as not well-formed, and nothing could reach the scale.
    const bool wide = sizeof(void *) == 8;
    // On 32 bits, as large a text as this process can hold itself.
    const std::vector<std::size_t> sizes = wide ? std::vector<std::size_t>{(std::size_t(1) << 30) + 64}
                                                : std::vector<std::size_t>{300000000, 250000000, 200000000, 150000000};
    std::vector<WCHAR_T> text;
    std::size_t units = 0;
    for (const std::size_t size : sizes) {
        try {
            text.assign(size + 1, WCHAR_T('x'));
            units = size;
            break;
        } catch (const std::bad_alloc &) {
        }
    }
    if (!units)
        QSKIP("no room for the portion in this process");
    qInfo("a portion of %llu characters", static_cast<unsigned long long>(units));
    const QString head = QStringLiteral("<Table><Record PLU=\"1\" Code=\"1\" Price=\"1\" Name=\"");
    std::copy(head.utf16(), head.utf16() + head.size(), text.begin());
    text[units] = 0;

    VariantArray params(3);
    params.setString(0, deviceId).setString(2, QStringLiteral("last"));
    params[1].vt = VTYPE_PWSTR;
    params[1].pwstrVal = text.data();
    params[1].wstrLen = uint32_t(units);
    VariantArray result(1);
    platform().connection().clear();
    session.markLog();
    const bool handled = component->CallAsFunc(UploadGoods, result.data(), params.data(), params.size());
    result.collect(platform().memory());
    params[1].vt = VTYPE_EMPTY;
    params[1].pwstrVal = nullptr;
    std::vector<WCHAR_T>().swap(text);

    QVERIFY(handled);
    QCOMPARE(result.value(0), QVariant(false));
    const QList<FakeConnection::ErrorReport> errors = platform().connection().errors();
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.first().code, quint16(1003));
    QCOMPARE(errors.first().source, QStringLiteral("UploadGoods"));
    QCOMPARE(errors.first().number, 4L);
    const QStringList lines = session.newMessages();
    qInfo("the platform was told: %s", qPrintable(errors.first().description));
    if (wide || errors.first().description == QLatin1String("Not enough memory")) {
        QCOMPARE(errors.first().description, QStringLiteral("Not enough memory"));
        QVERIFY2(lines.contains(QStringLiteral("Error: exception in Lumaro1CDriverNative::CallAsFunc: not enough memory.")),
                 qPrintable(lines.join(QLatin1Char('\n'))));
        // The frame was left by the exception, its End line written all the same.
        QCOMPARE(lines.last(), QStringLiteral("<-- End Lumaro1CDriverNative::CallAsFunc."));
    } else {
        // There was room enough after all: read whole, the row is refused.
        QVERIFY2(errors.first().description.startsWith(QLatin1String("Error XML data parse")), qPrintable(errors.first().description));
    }
    QCOMPARE(sim.goods().size(), 0);

    // The component goes on: the next portion is uploaded.
    const QString table = QStringLiteral("<Table><Record PLU=\"7\" Code=\"2000007\" Name=\"Груши\" Price=\"12,5\"/></Table>");
    QCOMPARE(upload(table, QStringLiteral("last")), QVariant(true));
    QCOMPARE(sim.goods().size(), 1);
    QCOMPARE(sim.goods().first().number, 7);
    QCOMPARE(platform().connection().errors().size(), 1);
}

void TestOutOfMemory::cleanupTestCase()
{
    VariantArray close(1);
    close.setString(0, deviceId);
    QCOMPARE(callMethod(platform(), component, Close, close), QVariant(true));
    QCOMPARE(platform().destroyObject(&component), 0L);
    QCOMPARE(platform().memory().liveCount(), 0);
}

QTEST_APPLESS_MAIN(TestOutOfMemory)
#include "tst_outofmemory.moc"
