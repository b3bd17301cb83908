// Driver information, parameters and additional actions, as the platform
// calls them on the built library.

#include "helper_addinsession.h"

#include <QFile>
#include <QtTest>

namespace {

// The settings form and the actions list, exactly as the platform must get them.
const char expectedSettings[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Settings><Page Caption=\"Общие\"><Parameter Name=\"ScaleModel\" Caption=\"Модель весов\" TypeValue=\"Number\" DefaultValue=\"0\"><ChoiceList><Item Value=\"0\">LS515</Item></ChoiceList></Parameter><Group Caption=\"Картинки товаров\"><Parameter Name=\"GoodsPicturesFromFiles\" Caption=\"Картинки товаров\" TypeValue=\"Number\" DefaultValue=\"0\"><ChoiceList><Item Value=\"0\">Подбираются по номеру товаров</Item></ChoiceList></Parameter></Group></Page><Page Caption=\"Параметры подключения\"><Parameter Name=\"ScaleIP\" Caption=\"IP адрес\" TypeValue=\"String\" DefaultValue=\"192.168.0.158\"/><Parameter Name=\"ScalePort\" Caption=\"Порт\" TypeValue=\"Number\" DefaultValue=\"27706\"/></Page><Page Caption=\"Протокол\"><Parameter Name=\"EnLog\" Caption=\"Записывать протокол\" TypeValue=\"Boolean\" DefaultValue=\"true\"/></Page></Settings>";
const char expectedActions[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Actions><Action Name=\"ShowLog\" Caption=\"Показать протокол\"/></Actions>";

QStringList frame(long method, const QString &name, const QStringList &inner)
{
    return QStringList{QStringLiteral("--> Begin Lumaro1CDriverNative::CallAsFunc."), QStringLiteral("%1-%2").arg(method).arg(name)}
        + inner + QStringList{QStringLiteral("<-- End Lumaro1CDriverNative::CallAsFunc.")};
}

} // namespace

class TestDriverInfo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void getVersion();
    void getDescription();
    void getDescriptionShortArray();
    void getParameters();
    void getParametersWithoutArray();
    void setParameter_data();
    void setParameter();
    void setParameterNeedsTwo();
    void getLastError_data();
    void getLastError();
    void getAdditionalActions();
    void doAdditionalAction_data();
    void doAdditionalAction();
    void showLogAsMethod();
    void refusingManager();
    void everyBlockGoesBack();
    void settingsSurviveReload();

private:
    FakePlatform &platform() { return session.platform(); }
    bool call(long method, VariantArray &result, VariantArray &params)
    {
        return platform().callAsFunc(component, method, result, params);
    }

    AddinSession session;
    IComponentBase *component = nullptr;
};

void TestDriverInfo::initTestCase()
{
    QVERIFY2(session.load(), qPrintable(platform().errorString()));
}

void TestDriverInfo::init()
{
    component = platform().createObject();
    QVERIFY(component);
    session.markLog();
}

void TestDriverInfo::cleanup()
{
    platform().memory().setRefusing(false);
    if (component)
        platform().destroyObject(&component);
}

void TestDriverInfo::getVersion()
{
    VariantArray result(1);
    VariantArray none(0);
    QVERIFY(call(0, result, none));
    QCOMPARE(result.type(0), quint16(VTYPE_PWSTR));
    QCOMPARE(result.text(0), QStringLiteral("1.0.1.6"));
    QVERIFY(result.fromMemoryManager(0));
    QVERIFY(result.terminated(0));
    QCOMPARE(result.at(0).wstrLen, 7u);
    QCOMPARE(session.newMessages(), frame(0, QStringLiteral("GetVersion"), {QStringLiteral("eGetVersion: 1.0.1.6")}));
}

void TestDriverInfo::getDescription()
{
    VariantArray result(1);
    VariantArray params(7);
    QVERIFY(call(1, result, params));
    QCOMPARE(result.value(0), QVariant(true));
    QCOMPARE(result.type(0), quint16(VTYPE_BOOL));

    const quint16 types[] = {VTYPE_PWSTR, VTYPE_PWSTR, VTYPE_PWSTR, VTYPE_INT, VTYPE_BOOL, VTYPE_BOOL, VTYPE_PWSTR};
    for (int i = 0; i < 7; ++i)
        QCOMPARE(params.type(i), types[i]);
    QCOMPARE(params.text(0), QStringLiteral("Vx LS515 scale driver for 1C (Native)."));
    // This process runs under an English locale (see main).
    QCOMPARE(params.text(1), QStringLiteral("Driver for Aclas self service scale."));
    QCOMPARE(params.text(2), QStringLiteral("ScaleWithPrintLabels"));
    QCOMPARE(params.value(3), QVariant(1005));
    QCOMPARE(params.value(4), QVariant(true));
    QCOMPARE(params.value(5), QVariant(true));
    // No download address: an empty text, still a string of the platform's.
    QCOMPARE(params.text(6), QString());
    QVERIFY(params.fromMemoryManager(6));
    for (int i : {0, 1, 2, 6})
        QVERIFY(params.fromMemoryManager(i) && params.terminated(i));
    QCOMPARE(session.newMessages(), frame(1, QStringLiteral("GetDescription"), {QStringLiteral("eGetDescription: 7")}));
}

void TestDriverInfo::getDescriptionShortArray()
{
    VariantArray result(1);
    VariantArray params(6);
    for (int i = 0; i < 6; ++i)
        params.setI4(i, 100 + i);
    QVERIFY(call(1, result, params));
    QCOMPARE(result.value(0), QVariant(true));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(params.value(i), QVariant(100 + i));
    QCOMPARE(platform().memory().liveCount(), 0);
}

void TestDriverInfo::getParameters()
{
    VariantArray result(1);
    VariantArray params(1);
    QVERIFY(call(2, result, params));
    QCOMPARE(result.value(0), QVariant(true));
    QCOMPARE(params.type(0), quint16(VTYPE_PWSTR));
    QVERIFY(params.terminated(0));
    QCOMPARE(params.text(0).toUtf8(), QByteArray(expectedSettings));
    QCOMPARE(params.at(0).wstrLen, uint32_t(QString::fromUtf8(expectedSettings).size()));
    QCOMPARE(session.newMessages(), frame(2, QStringLiteral("GetParameters"), {QStringLiteral("eGetParameters: 1")}));
}

void TestDriverInfo::getParametersWithoutArray()
{
    VariantArray result(1);
    VariantArray none(0);
    QVERIFY(call(2, result, none));
    QCOMPARE(result.value(0), QVariant(true));
    QVERIFY(component->CallAsFunc(2, result.data(), nullptr, 1));
    QCOMPARE(platform().memory().liveCount(), 0);
}

void TestDriverInfo::setParameter_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("port") << "ScalePort" << QVariant(27706) << true;
    QTest::newRow("address") << "ScaleIP" << QVariant(QStringLiteral("10.0.0.5")) << true;
    QTest::newRow("log flag") << "EnLog" << QVariant(false) << true;
    QTest::newRow("model") << "ScaleModel" << QVariant(0) << true;
    QTest::newRow("property name") << "Model" << QVariant(1) << false;
    QTest::newRow("other case") << "scaleport" << QVariant(1) << false;
    QTest::newRow("unknown") << "Port" << QVariant(1) << false;
}

void TestDriverInfo::setParameter()
{
    QFETCH(QString, name);
    QFETCH(QVariant, value);
    QFETCH(bool, accepted);

    VariantArray result(1);
    VariantArray params(2);
    params.setString(0, name);
    if (value.type() == QVariant::String)
        params.setString(1, value.toString());
    else if (value.type() == QVariant::Bool)
        params.setBool(1, value.toBool());
    else
        params.setI4(1, value.toInt());
    QVERIFY(call(3, result, params));
    QCOMPARE(result.type(0), quint16(VTYPE_BOOL));
    QCOMPARE(result.value(0), QVariant(accepted));

    QStringList inner{QStringLiteral("eSetParameter: params no = 2"), QStringLiteral("Set setting value: %1").arg(name)};
    // A value that changes is written at once; a refused name writes nothing.
    if (accepted)
        inner << QStringLiteral("Save settings to file %1").arg(session.settingsPath());
    else
        inner << QStringLiteral("Setting param function not found!");
    QCOMPARE(session.newMessages(), frame(3, QStringLiteral("SetParameter"), inner));

    // The same value again finds it in the file and leaves the file alone.
    if (accepted) {
        session.markLog();
        QVERIFY(call(3, result, params));
        QCOMPARE(session.newMessages(), frame(3, QStringLiteral("SetParameter"), inner.mid(0, 2)));
    }
}

void TestDriverInfo::setParameterNeedsTwo()
{
    VariantArray result(1);
    result.setI4(0, 7);
    VariantArray params(1);
    params.setString(0, QStringLiteral("ScalePort"));
    QVERIFY(call(3, result, params));
    QCOMPARE(result.value(0), QVariant(7));
    QCOMPARE(session.newMessages(), frame(3, QStringLiteral("SetParameter"), {QStringLiteral("eSetParameter: params no = 1")}));

    // A name that is no string reads as empty, never as a pointer.
    VariantArray twoNumbers(2);
    twoNumbers.setI4(0, 0x1000).setI4(1, 1);
    QVERIFY(call(3, result, twoNumbers));
    QCOMPARE(result.value(0), QVariant(false));
}

void TestDriverInfo::getLastError_data()
{
    QTest::addColumn<int>("paramCount");
    QTest::newRow("no parameter") << 0;
    QTest::newRow("one parameter") << 1;
}

void TestDriverInfo::getLastError()
{
    QFETCH(int, paramCount);
    VariantArray result(1);
    VariantArray params(paramCount);
    QVERIFY(call(6, result, params));
    QCOMPARE(result.type(0), quint16(VTYPE_INT));
    QCOMPARE(result.value(0), QVariant(0));
    if (paramCount == 1) {
        QCOMPARE(params.type(0), quint16(VTYPE_PWSTR));
        QCOMPARE(params.text(0), QStringLiteral("No error"));
    }
    QCOMPARE(session.newMessages(), frame(6, QStringLiteral("GetLastError"), {QStringLiteral("eGetLastError: %1").arg(paramCount)}));
}

void TestDriverInfo::getAdditionalActions()
{
    VariantArray result(1);
    VariantArray params(1);
    QVERIFY(call(8, result, params));
    QCOMPARE(result.value(0), QVariant(true));
    QCOMPARE(params.text(0).toUtf8(), QByteArray(expectedActions));
    QCOMPARE(session.newMessages(), frame(8, QStringLiteral("GetAdditionalActions"), {QStringLiteral("eGetAdditionalActions: 1")}));
}

void TestDriverInfo::doAdditionalAction_data()
{
    QTest::addColumn<QVariant>("action");
    QTest::addColumn<bool>("done");
    QTest::newRow("ShowLog") << QVariant(QStringLiteral("ShowLog")) << true;
    QTest::newRow("lower case") << QVariant(QStringLiteral("showlog")) << false;
    QTest::newRow("other action") << QVariant(QStringLiteral("Reboot")) << false;
    QTest::newRow("number") << QVariant(12) << false;
    QTest::newRow("no parameter") << QVariant() << false;
}

void TestDriverInfo::doAdditionalAction()
{
    QFETCH(QVariant, action);
    QFETCH(bool, done);
    VariantArray result(1);
    VariantArray params(action.isValid() ? 1 : 0);
    if (action.type() == QVariant::String)
        params.setString(0, action.toString());
    else if (action.isValid())
        params.setI4(0, action.toInt());
    QVERIFY(call(9, result, params));
    QCOMPARE(result.type(0), quint16(VTYPE_BOOL));
    QCOMPARE(result.value(0), QVariant(done));

    const QString name = action.type() == QVariant::String ? action.toString() : QString();
    QStringList inner{QStringLiteral("eDoAdditionalAction: %1").arg(params.size()), QStringLiteral("Action name = %1").arg(name)};
    if (done)
        inner << QStringLiteral("--> Begin Lumaro1CDriverNative::showLog.") << QStringLiteral("<-- End Lumaro1CDriverNative::showLog.");
    QCOMPARE(session.newMessages(), frame(9, QStringLiteral("DoAdditionalAction"), inner));
}

void TestDriverInfo::showLogAsMethod()
{
    QCOMPARE(platform().findMethod(component, QStringLiteral("ПоказатьПротокол")), 12L);
    session.markLog();
    VariantArray result(1);
    VariantArray none(0);
    QVERIFY(call(12, result, none));
    QCOMPARE(result.type(0), quint16(VTYPE_BOOL));
    QCOMPARE(result.value(0), QVariant(true));
    QCOMPARE(session.newMessages(), frame(12, QStringLiteral("ShowLog"),
                                          {QStringLiteral("eShowLog: 0"), QStringLiteral("--> Begin Lumaro1CDriverNative::showLog."),
                                           QStringLiteral("<-- End Lumaro1CDriverNative::showLog.")}));
}

void TestDriverInfo::refusingManager()
{
    platform().memory().setRefusing(true);
    VariantArray result(1);
    VariantArray params(7);
    QVERIFY(call(0, result, params));
    QCOMPARE(result.type(0), quint16(VTYPE_PWSTR));
    QVERIFY(!result.at(0).pwstrVal);
    QVERIFY(call(1, result, params));
    QCOMPARE(result.value(0), QVariant(true));
    QCOMPARE(params.type(1), quint16(VTYPE_PWSTR));
    QVERIFY(!params.at(1).pwstrVal);
    QCOMPARE(params.value(3), QVariant(1005));
    QCOMPARE(platform().memory().grantedCount() - platform().memory().freedCount(), 0);
}

void TestDriverInfo::everyBlockGoesBack()
{
    const FakeMemoryManager &memory = platform().memory();
    QVERIFY(memory.grantedCount() >= 8);
    QCOMPARE(memory.liveCount(), 0);
    QCOMPARE(memory.foreignFrees(), 0);
    QCOMPARE(platform().foreignStrings(), 0);
}

void TestDriverInfo::settingsSurviveReload()
{
    auto set = [this](const QString &name, auto fill) {
        VariantArray result(1);
        VariantArray params(2);
        params.setString(0, name);
        fill(params);
        QVERIFY(call(3, result, params));
        QCOMPARE(result.value(0), QVariant(true));
    };
    // Numbers as the platform may send them: a double and a 64-bit integer.
    set(QStringLiteral("ScalePort"), [](VariantArray &p) { p.setDouble(1, 27706.0); });
    set(QStringLiteral("ScaleModel"), [](VariantArray &p) { p.setInt64(1, 0); });
    set(QStringLiteral("ScaleIP"), [](VariantArray &p) { p.setString(1, QStringLiteral("10.0.0.5")); });
    set(QStringLiteral("EnLog"), [](VariantArray &p) { p.setBool(1, true); });

    // In the file as soon as they are set, before any unload.
    auto fileText = [this]() {
        QFile file(session.settingsPath());
        return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll()) : QString();
    };
    const QString saved = fileText();
    QVERIFY2(saved.contains(QStringLiteral("ScalePort=27706")), qPrintable(saved));
    QVERIFY(saved.contains(QStringLiteral("ScaleIP=10.0.0.5")));
    QVERIFY(saved.contains(QStringLiteral("[LogMain]\nEnLog=true")));
    platform().destroyObject(&component);

    // The unload writes nothing; where the library really leaves the process
    // (see addinStaysLoaded()) the next load reads the file again.
    session.markLog();
    session.unload();
    QVERIFY(!session.newMessages().join(QLatin1Char('\n')).contains(QStringLiteral("Save settings")));
    QCOMPARE(fileText(), saved);
    QVERIFY(session.load());
    if (!addinStaysLoaded())
        QVERIFY(session.logMessages().contains(QStringLiteral("Load settings from file %1").arg(session.settingsPath())));
    session.unload();
    QCOMPARE(fileText(), saved);
    QVERIFY(session.load());
}

int main(int argc, char *argv[])
{
    // The catalogue follows the system locale; these texts are the English ones.
    setSystemLocale("en_US.UTF-8");
    TestDriverInfo test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_driverinfo.moc"
