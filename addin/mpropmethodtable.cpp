#include "addin/mpropmethodtable.h"

#include <limits>

namespace {

template<typename Info>
int findByName(const QMap<int, Info> &entries, const QString &name)
{
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (it->englishName == name || it->russianName == name)
            return it.key();
    }
    return -1;
}

template<typename Info>
const Info &entryOf(const QMap<int, Info> &entries, long number, const Info &empty)
{
    if (number < 0 || number > std::numeric_limits<int>::max())
        return empty;
    auto it = entries.constFind(static_cast<int>(number));
    return it == entries.cend() ? empty : *it;
}

template<typename Info>
QString nameOf(const QMap<int, Info> &entries, long number, long alias, const Info &empty)
{
    if (number < 0 || number >= entries.size())
        return QString();
    const Info &info = entryOf(entries, number, empty);
    return alias == 0 ? info.englishName : info.russianName;
}

} // namespace

MPropMethodTable::MPropMethodTable()
{
    auto addProp = [this](int number, const char *english, const char *russian, const QVariant &defaultValue) {
        properties.insert(number, MPropInfo{QString::fromUtf8(english), QString::fromUtf8(russian), true, true, defaultValue});
    };
    // "IPАдрес" is Latin "IP" followed by Cyrillic letters, matched as written.
    addProp(0, "Model", "Модель", 0);
    addProp(1, "IPAddress", "IPАдрес", QStringLiteral("192.168.0.248"));
    addProp(2, "Login", "Логин", QStringLiteral("lumaro"));
    addProp(3, "Password", "Пароль", QStringLiteral("vantoberquil"));
    addProp(4, "GoodsPictures", "КартинкиТоваров", 0);

    auto addMethod = [this](int number, const char *english, const char *russian, int paramCount) {
        methods.insert(number, MMethodInfo{QString::fromUtf8(english), QString::fromUtf8(russian), paramCount, true});
    };
    addMethod(MethodGetVersion, "GetVersion", "ПолучитьНомерВерсии", 0);
    addMethod(MethodGetDescription, "GetDescription", "ПолучитьОписание", 7);
    addMethod(MethodGetParameters, "GetParameters", "ПолучитьПараметры", 1);
    addMethod(MethodSetParameter, "SetParameter", "УстановитьПараметр", 2);
    addMethod(MethodOpen, "Open", "Подключить", 1);
    addMethod(MethodClose, "Close", "Отключить", 1);
    addMethod(MethodGetLastError, "GetLastError", "ПолучитьОшибку", 0);
    addMethod(MethodDeviceTest, "DeviceTest", "ТестУстройства", 2);
    addMethod(MethodGetAdditionalActions, "GetAdditionalActions", "ПолучитьДополнительныеДействия", 1);
    addMethod(MethodDoAdditionalAction, "DoAdditionalAction", "ВыполнитьДополнительноеДействие", 1);
    addMethod(MethodClearGoods, "ClearGoods", "ОчиститьТовары", 1);
    addMethod(MethodUploadGoods, "UploadGoods", "ВыгрузитьТовары", 3);
    addMethod(MethodShowLog, "ShowLog", "ПоказатьПротокол", 0);
}

const MPropInfo &MPropMethodTable::prop(long number) const
{
    return entryOf(properties, number, emptyProp);
}

const MMethodInfo &MPropMethodTable::method(long number) const
{
    return entryOf(methods, number, emptyMethod);
}

int MPropMethodTable::findProp(const QString &name) const
{
    return findByName(properties, name);
}

int MPropMethodTable::findMethod(const QString &name) const
{
    return findByName(methods, name);
}

QString MPropMethodTable::propName(long number, long alias) const
{
    return nameOf(properties, number, alias, emptyProp);
}

QString MPropMethodTable::methodName(long number, long alias) const
{
    return nameOf(methods, number, alias, emptyMethod);
}
