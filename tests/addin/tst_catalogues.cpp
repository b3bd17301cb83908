// The catalogues compiled into the library: their names, their entries and
// how they are stored.

#include "addin/libraryobjects.h"

#include <QDir>
#include <QResource>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

class TestCatalogues : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void onlyTheTwoCatalogues();
    void russianEntries_data();
    void russianEntries();
    void englishCatalogueIsEmpty();

private:
    QTemporaryDir root;
    QTranslator russian;
};

void TestCatalogues::initTestCase()
{
    qputenv("VXDRIVER_ROOT", QFile::encodeName(root.path()));
    // The library-wide objects register the catalogues.
    LibraryObjects::create();
    QVERIFY(russian.load(QStringLiteral(":/lang/lang_Lumaro1CDriverNative_ru_RU")));
}

void TestCatalogues::cleanupTestCase()
{
    LibraryObjects::destroy();
    QVERIFY(!QFile::exists(QStringLiteral(":/lang/lang_Lumaro1CDriverNative_ru_RU.qm")));
}

void TestCatalogues::onlyTheTwoCatalogues()
{
    QCOMPARE(QDir(QStringLiteral(":/lang")).entryList(),
             QStringList({QStringLiteral("lang_Lumaro1CDriverNative_en_US.qm"), QStringLiteral("lang_Lumaro1CDriverNative_ru_RU.qm")}));
    for (const QString &name : QDir(QStringLiteral(":/lang")).entryList()) {
        QResource resource(QStringLiteral(":/lang/") + name);
        QVERIFY(resource.isValid());
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
    }
    // Nothing answers the Qt catalogue lookup, whatever the locale.
    QTranslator qt;
    QVERIFY(!qt.load(QStringLiteral(":/lang/qt_ru_RU")));
}

void TestCatalogues::russianEntries_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("translation");

    QTest::newRow("description") << "Driver for Aclas self service scale." << "Драйвер для сенсорных весов Aclas.";
    QTest::newRow("equipment type") << "ScaleWithPrintLabels" << "ВесыСПечатьюЭтикеток";
    QTest::newRow("test success") << "Scale test success." << "Тест весов выполнен успешно.";
    QTest::newRow("connect") << "Try connect to scale: IP: %1. Port: %2." << "Попытка соединения с весами: IP: %1. Порт: %2.";
    // Texts that pass through the lookup but stay English.
    for (const char *text : {"Error clear goods data", "ClearGoods", "Error set date/time", "OpenScale",
                             "Error load Aclas LS515 internal driver.", "Bad scale type.",
                             "Scale info: Model %1. Version %2. SN: %3.", "Error XML data parse (%1. Col: %2. Line: %3)",
                             "Error XML data parse", "UploadGoods", "All goods", "Error update goods info (%1)"})
        QTest::newRow(text) << text << QString();
}

void TestCatalogues::russianEntries()
{
    QFETCH(QString, source);
    QFETCH(QString, translation);
    const QByteArray text = source.toUtf8();
    QCOMPARE(russian.translate("Lumaro1CDriverNative", text.constData()), translation);
    // Scale error texts live in another context, where the catalogue has nothing.
    QCOMPARE(russian.translate("QObject", text.constData()), QString());
}

void TestCatalogues::englishCatalogueIsEmpty()
{
    QTranslator english;
    QVERIFY(english.load(QStringLiteral(":/lang/lang_Lumaro1CDriverNative_en_US")));
    QVERIFY(english.isEmpty());
    QCOMPARE(english.translate("Lumaro1CDriverNative", "ScaleWithPrintLabels"), QString());
}

QTEST_GUILESS_MAIN(TestCatalogues)
#include "tst_catalogues.moc"
