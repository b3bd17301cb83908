#pragma once

#include "addin/platform/addindefbase.h"
#include "addin/platform/componentbase.h"
#include "addin/platform/memorymanager.h"

#include <QList>
#include <QMap>
#include <QString>

class GoodsRecord;
class LumaroDriver;

// The component the platform creates through GetClassObject. The platform's
// operations keep the platform's names; equipment methods are dispatched by
// number from CallAsFunc. The last base lets platforms from 8.3.21 on tell
// the component the user's language; the first three are IComponentBase.
class Lumaro1CDriverNative final : public IComponentBase, public UserLanguageBase
{
public:
    Lumaro1CDriverNative();
    ~Lumaro1CDriverNative();

#if defined(_WIN32) && defined(__GNUC__)
    // Slot 0 of every interface table: what a host built by MSVC calls to
    // delete the component through any of its interface pointers.
    void *NATIVE_THISCALL scalarDeletingDestructor(unsigned int flags) override;
#endif

    // IInitDoneBase
    bool ADDIN_API Init(void *connection) override;
    bool ADDIN_API setMemManager(void *memoryManager) override;
    long ADDIN_API GetInfo() override;
    void ADDIN_API Done() override;

    // ILanguageExtenderBase
    bool ADDIN_API RegisterExtensionAs(WCHAR_T **extensionName) override;
    long ADDIN_API GetNProps() override;
    long ADDIN_API FindProp(const WCHAR_T *propName) override;
    const WCHAR_T *ADDIN_API GetPropName(long propNum, long propAlias) override;
    bool ADDIN_API GetPropVal(const long propNum, tVariant *propValue) override;
    bool ADDIN_API SetPropVal(const long propNum, tVariant *propValue) override;
    bool ADDIN_API IsPropReadable(const long propNum) override;
    bool ADDIN_API IsPropWritable(const long propNum) override;
    long ADDIN_API GetNMethods() override;
    long ADDIN_API FindMethod(const WCHAR_T *methodName) override;
    const WCHAR_T *ADDIN_API GetMethodName(const long methodNum, const long methodAlias) override;
    long ADDIN_API GetNParams(const long methodNum) override;
    bool ADDIN_API GetParamDefValue(const long methodNum, const long paramNum, tVariant *defValue) override;
    bool ADDIN_API HasRetVal(const long methodNum) override;
    bool ADDIN_API CallAsProc(const long methodNum, tVariant *params, const long paramCount) override;
    bool ADDIN_API CallAsFunc(const long methodNum, tVariant *retValue, tVariant *params, const long paramCount) override;

    // LocaleBase
    void ADDIN_API SetLocale(const WCHAR_T *locale) override;

    // UserLanguageBase: nothing follows the user's language; the catalogue
    // follows the system locale.
    void ADDIN_API SetUserInterfaceLanguageCode(const WCHAR_T *languageCode) override;

    // Channels back to the platform; without a connection they only log.
    void addError(unsigned short code, const QString &source, const QString &description, long errorNumber);
    void setStatusLine(const QString &text);

    void loadTranslations();

    bool toPlatformString(WCHAR_T **target, const QString &source);
    bool setStringResult(tVariant *value, const QString &source);

private:
    // Equipment methods: each reads params[0 .. paramCount - 1] and writes
    // its outputs only where paramCount holds them.
    void GetVersion(tVariant *retValue, tVariant *params, long paramCount);
    void GetDescription(tVariant *retValue, tVariant *params, long paramCount);
    void GetParameters(tVariant *retValue, tVariant *params, long paramCount);
    void SetParameter(tVariant *retValue, tVariant *params, long paramCount);
    void GetLastError(tVariant *retValue, tVariant *params, long paramCount);
    void GetAdditionalActions(tVariant *retValue, tVariant *params, long paramCount);
    void DoAdditionalAction(tVariant *retValue, tVariant *params, long paramCount);
    void ShowLog(tVariant *retValue, tVariant *params, long paramCount);
    void Open(tVariant *retValue, tVariant *params, long paramCount);
    void Close(tVariant *retValue, tVariant *params, long paramCount);
    void DeviceTest(tVariant *retValue, tVariant *params, long paramCount);
    void ClearGoods(tVariant *retValue, tVariant *params, long paramCount);
    void UploadGoods(tVariant *retValue, tVariant *params, long paramCount);

    bool showLog();
    bool openScale(QString &deviceId);
    bool closeScale(QString deviceId);
    bool testScale(QString &description, QString &second);
    bool clearGoodsInScale(QString deviceId);
    bool uploadGoodsToScale(QString deviceId, QString goodsTable, QString stateText);
    // An operation that threw: its failure answer, and the platform is told.
    void reportFailedCall(long methodNum, tVariant *result, const tVariant &given, bool outOfMemory);

    IAddInDefBase *connection = nullptr;
    IMemoryManager *memoryManager = nullptr;
    QMap<QString, LumaroDriver *> openScales;
    // Rows collected for an upload, by the device ID of the session that
    // collected them; the session's last portion sends them.
    QMap<QString, QList<GoodsRecord *>> goodsList;
    // The count the platform passed with the call being served, as given, for
    // the log; the operations read only as many parameters as the array holds.
    long givenParamCount = 0;
};
