// The component's channels back to the platform, and its binary shape,
// checked on a component made in this process.

#include "addin/component.h"
#include "addin/libraryobjects.h"
#include "addin/valueconversion.h"
#include "config/vxlog.h"
#include "fakeplatform/fakeconnection.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>

namespace {

int allocationsLeft = 0;

// Grants a number of blocks, then refuses.
void *rationed(std::size_t bytes)
{
    if (allocationsLeft <= 0)
        return nullptr;
    --allocationsLeft;
    return std::malloc(bytes);
}

QStringList logMessages()
{
    QFile file(logFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    QStringList messages;
    for (const QString &line : QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.size() > 25 && line.at(23) == QLatin1Char(':'))
            messages << line.mid(25);
    }
    return messages;
}

} // namespace

class TestComponentChannels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void basesSitWhereThePlatformLooks();
    void addErrorBeforeInitOnlyTraces();
    void addErrorReachesThePlatform();
    void exhaustedHeap_data();
    void exhaustedHeap();
    void statusLine();

private:
    QTemporaryDir root;
    Lumaro1CDriverNative *component = nullptr;
    FakeConnection connection;
    int mark = 0;
};

void TestComponentChannels::initTestCase()
{
    qputenv("VXDRIVER_ROOT", QFile::encodeName(root.path()));
    LibraryObjects::create();
}

void TestComponentChannels::cleanupTestCase()
{
    LibraryObjects::destroy();
}

void TestComponentChannels::init()
{
    component = new Lumaro1CDriverNative;
    connection.clear();
    mark = logMessages().size();
}

void TestComponentChannels::cleanup()
{
    allocationsLeft = 0;
    setHeapAllocator(nullptr);
    delete component;
    component = nullptr;
}

void TestComponentChannels::basesSitWhereThePlatformLooks()
{
    const char *start = reinterpret_cast<const char *>(static_cast<IComponentBase *>(component));
    auto offset = [start](const void *base) { return reinterpret_cast<const char *>(base) - start; };
    QCOMPARE(offset(static_cast<IInitDoneBase *>(component)), std::ptrdiff_t(0));
    QCOMPARE(offset(static_cast<ILanguageExtenderBase *>(component)), std::ptrdiff_t(sizeof(void *)));
    QCOMPARE(offset(static_cast<LocaleBase *>(component)), std::ptrdiff_t(2 * sizeof(void *)));
    QCOMPARE(offset(static_cast<UserLanguageBase *>(component)), std::ptrdiff_t(3 * sizeof(void *)));
}

void TestComponentChannels::addErrorBeforeInitOnlyTraces()
{
    component->addError(1003, QStringLiteral("OpenScale"), QStringLiteral("Bad scale type."), 4);
    QCOMPARE(logMessages().mid(mark), QStringList({QStringLiteral("--> Begin Lumaro1CDriverNative::addError."),
                                                   QStringLiteral("<-- End Lumaro1CDriverNative::addError.")}));
    component->setStatusLine(QStringLiteral("ignored"));
    QVERIFY(connection.errors().isEmpty());
    QVERIFY(connection.statusLines().isEmpty());
}

void TestComponentChannels::addErrorReachesThePlatform()
{
    QVERIFY(component->Init(static_cast<IAddInDefBase *>(&connection)));
    mark = logMessages().size();
    component->addError(1003, QStringLiteral("ClearGoods"), QStringLiteral("Ошибка очистки"), 10);
    QCOMPARE(connection.errors().size(), 1);
    const FakeConnection::ErrorReport report = connection.errors().first();
    QCOMPARE(report.code, quint16(1003));
    QCOMPARE(report.source, QStringLiteral("ClearGoods"));
    QCOMPARE(report.description, QStringLiteral("Ошибка очистки"));
    QCOMPARE(report.number, 10L);
    QCOMPARE(logMessages().mid(mark), QStringList({QStringLiteral("--> Begin Lumaro1CDriverNative::addError."),
                                                   QStringLiteral("ClearGoods"),
                                                   QStringLiteral("Ошибка очистки"),
                                                   QStringLiteral("<-- End Lumaro1CDriverNative::addError.")}));
}

void TestComponentChannels::exhaustedHeap_data()
{
    QTest::addColumn<int>("blocks");
    QTest::newRow("no copy at all") << 0;
    QTest::newRow("source only") << 1;
}

void TestComponentChannels::exhaustedHeap()
{
    QFETCH(int, blocks);
    QVERIFY(component->Init(static_cast<IAddInDefBase *>(&connection)));
    allocationsLeft = blocks;
    setHeapAllocator(&rationed);
    component->addError(1003, QStringLiteral("UploadGoods"), QStringLiteral("Error update goods info"), 11);
    allocationsLeft = 0;
    component->setStatusLine(QStringLiteral("Scale test success."));
    setHeapAllocator(nullptr);
    // Half a message never reaches the platform.
    QVERIFY(connection.errors().isEmpty());
    QVERIFY(connection.statusLines().isEmpty());
}

void TestComponentChannels::statusLine()
{
    QVERIFY(component->Init(static_cast<IAddInDefBase *>(&connection)));
    component->setStatusLine(QStringLiteral("Тест весов выполнен успешно."));
    QCOMPARE(connection.statusLines(), QStringList({QStringLiteral("Тест весов выполнен успешно.")}));
}

QTEST_GUILESS_MAIN(TestComponentChannels)
#include "tst_componentchannels.moc"
