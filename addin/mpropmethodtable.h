#pragma once

#include <QMap>
#include <QString>
#include <QVariant>

struct MPropInfo
{
    QString englishName;
    QString russianName;
    bool readable = false;
    bool writable = false;
    QVariant defaultValue;
};

struct MMethodInfo
{
    QString englishName;
    QString russianName;
    int paramCount = 0;
    bool hasReturnValue = false;
};

// The component's properties and methods as the platform learns them. Built
// once at load and only read afterwards; the method numbers are the numbers
// the dispatch answers to.
class MPropMethodTable
{
public:
    enum Method {
        MethodGetVersion = 0,
        MethodGetDescription = 1,
        MethodGetParameters = 2,
        MethodSetParameter = 3,
        MethodOpen = 4,
        MethodClose = 5,
        MethodGetLastError = 6,
        MethodDeviceTest = 7,
        MethodGetAdditionalActions = 8,
        MethodDoAdditionalAction = 9,
        MethodClearGoods = 10,
        MethodUploadGoods = 11,
        MethodShowLog = 12
    };

    MPropMethodTable();

    int propCount() const { return properties.size(); }
    int methodCount() const { return methods.size(); }

    // Records of numbers without an entry are empty: no names, no flags.
    // Numbers are the platform's longs, checked before they become keys.
    const MPropInfo &prop(long number) const;
    const MMethodInfo &method(long number) const;

    // Exact, case-sensitive match on the English or the Russian name; -1 if none.
    int findProp(const QString &name) const;
    int findMethod(const QString &name) const;

    // English name for alias 0, Russian for any other; empty out of range.
    QString propName(long number, long alias) const;
    QString methodName(long number, long alias) const;

private:
    QMap<int, MPropInfo> properties;
    QMap<int, MMethodInfo> methods;
    MPropInfo emptyProp;
    MMethodInfo emptyMethod;
};
