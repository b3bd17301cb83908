#pragma once

#include <QString>
#include <QtGlobal>

// One goods item as the goods transfer hands it to the scale driver.
class GoodsRecord
{
public:
    static constexpr qint64 maxAdditionalCode = 9999999999999999LL;

    QString name;
    qint32 number = 0;
    double price = 0.0;
    qint32 shelfLife = 364;
    qint32 ownerGroup = 0;

    qint64 additionalCode() const { return m_additionalCode; }
    // Accepts 0 to maxAdditionalCode; other values leave the code unchanged.
    bool setAdditionalCode(qint64 code)
    {
        if (code < 0 || code > maxAdditionalCode)
            return false;
        m_additionalCode = code;
        return true;
    }

private:
    qint64 m_additionalCode = 0;
};

// One goods group as the goods transfer hands it to the scale driver.
class GroupRecord
{
public:
    qint32 number = 0;
    qint32 ownerGroup = -1;
    QString name;
};
