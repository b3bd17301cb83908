// A host that is itself a Qt program already has its application object.
// The library must use that one, leave the host's identity alone, and leave
// nothing of its own behind in it when it is unloaded. This test is that
// host: unlike the other add-in tests it makes its own QCoreApplication.

#include "helper_addinsession.h"

#include <QCoreApplication>
#include <QtTest>

class TestHostApplication : public QObject
{
    Q_OBJECT

private slots:
    void libraryUsesTheHostsApplication();
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

int main(int argc, char *argv[])
{
    setSystemLocale("ru_RU.UTF-8");
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("host"));
    TestHostApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostapplication.moc"
