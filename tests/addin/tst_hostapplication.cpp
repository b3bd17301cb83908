// A host that is itself a Qt program already has its application object.
// A library on the host's Qt must use that one, leave the host's identity
// alone, and leave nothing of its own behind in it when it is unloaded; one
// with Qt linked in must keep its Qt out of the host's sight. This test is
// that host: unlike the other add-in tests it makes its own QCoreApplication.

#include "helper_addinsession.h"

#include <QCoreApplication>
#include <QTranslator>
#include <QtTest>

class TestHostApplication : public QObject
{
    Q_OBJECT

private slots:
    void libraryUsesTheHostsApplication();
    void libraryKeepsItsQtApart();
};

void TestHostApplication::libraryUsesTheHostsApplication()
{
    if (!addinSharesQt())
        QSKIP("the add-in carries its own Qt here: it cannot see, use or change the host's application");
    QCoreApplication *host = QCoreApplication::instance();
    QVERIFY(host);
    const QString hostName = QCoreApplication::applicationName();

    for (int round = 0; round < 2; ++round) {
        AddinSession session;
        QVERIFY(session.load());
        QCOMPARE(QCoreApplication::instance(), host);
        QCOMPARE(QCoreApplication::applicationName(), hostName);

        IComponentBase *component = session.platform().createObject();
        QVERIFY(component);
        // Init installed the Russian catalogue into the host's application.
        QCOMPARE(QCoreApplication::translate("Lumaro1CDriverNative", "ScaleWithPrintLabels"), QStringLiteral("ВесыСПечатьюЭтикеток"));
        session.platform().destroyObject(&component);

        // The load line names the host's own first argument.
        const QStringList messages = session.logMessages();
        QVERIFY(messages.value(2).endsWith(QStringLiteral(", ") + QCoreApplication::arguments().first()));

        session.unload();
        QVERIFY(!FakePlatform::isMapped(addinPath()));
        QCOMPARE(QCoreApplication::instance(), host);
        QVERIFY(session.logMessages().contains(QStringLiteral("Bye...")));
        // No translator of the unloaded library is left to be called.
        QCOMPARE(QCoreApplication::translate("Lumaro1CDriverNative", "ScaleWithPrintLabels"), QStringLiteral("ScaleWithPrintLabels"));
        QCoreApplication::processEvents();
    }
}

void TestHostApplication::libraryKeepsItsQtApart()
{
    if (addinSharesQt())
        QSKIP("the add-in runs on the host's Qt here");
    QCoreApplication *host = QCoreApplication::instance();
    const QString hostName = QCoreApplication::applicationName();
    const auto hostText = [] { return QCoreApplication::translate("Lumaro1CDriverNative", "ScaleWithPrintLabels"); };
    // The host's own translator, which the add-in must neither see nor remove.
    QTranslator hostTranslator;
    QVERIFY(hostTranslator.load(QStringLiteral(LUMARO_BINARY_DIR "/resources/lang_Lumaro1CDriverNative_ru_RU.qm")));

    for (int round = 0; round < 2; ++round) {
        AddinSession session;
        QVERIFY(session.load());
        IComponentBase *component = session.platform().createObject();
        QVERIFY(component);
        QCOMPARE(QCoreApplication::instance(), host);
        QCOMPARE(QCoreApplication::applicationName(), hostName);
        // Init installed the Russian catalogue, in the add-in's Qt only.
        QCOMPARE(hostText(), QStringLiteral("ScaleWithPrintLabels"));
        VariantArray params(7);
        QCOMPARE(callMethod(session.platform(), component, 1, params), QVariant(true));
        QCOMPARE(params.text(2), QStringLiteral("ВесыСПечатьюЭтикеток"));

        // A translator the host installs meanwhile stays the host's alone,
        // through the add-in's calls and its unloading.
        QVERIFY(QCoreApplication::installTranslator(&hostTranslator));
        QCOMPARE(hostText(), QStringLiteral("ВесыСПечатьюЭтикеток"));
        VariantArray again(7);
        QCOMPARE(callMethod(session.platform(), component, 1, again), QVariant(true));
        QCOMPARE(again.text(2), QStringLiteral("ВесыСПечатьюЭтикеток"));
        session.platform().destroyObject(&component);
        session.unload();
        QCOMPARE(QCoreApplication::instance(), host);
        QCOMPARE(QCoreApplication::applicationName(), hostName);
        QCOMPARE(hostText(), QStringLiteral("ВесыСПечатьюЭтикеток"));
        QVERIFY(QCoreApplication::removeTranslator(&hostTranslator));
    }
}

int main(int argc, char *argv[])
{
    setSystemLocale("ru_RU.UTF-8");
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("host"));
    TestHostApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostapplication.moc"
