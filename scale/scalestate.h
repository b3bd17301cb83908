#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

// The weighing part of a scale's state. This driver fills only weight,
// weightStable and tareValue; the rest is there for scales that report more.
struct WeighingState
{
    QByteArray rawWeight;
    QByteArray rawTare;
    int weightUnit = 0;
    double weight = 0.0;
    QByteArray displayText;
    QByteArray statusBytes;
    int statusCode = 0;
    bool weightStable = false;
    bool netWeight = false;
    double tareValue = 0.0;
    int tareMode = 0;
    bool zeroWeight = false;
    bool overload = false;
    bool underload = false;
    bool printerReady = false;
    int division = 0;
    int maxWeight = 0;
    int minWeight = 0;
    int decimals = 0;
    double unitPrice = 0.0;
    int goodsNumber = 0;
    int labelNumber = 0;
    int errorCode = 0;
};

// What the scale reported in its last accepted GetState.
struct ScaleState : WeighingState
{
    QString model;
    QString version;
    QDate compileDate;
    QString serialNumber;
    QString scaleVersion;
    QString disks;
    QString freeSystemDisk;
    QString freeWorkDisk;
    QString freeMemory;
    QString screenResolution;
    int screenCount = 0;
    QString systemUpTime;
    qint64 userInactiveTime = 0;
    QDateTime currentDateTime;
    int databaseType = 0;
    int goodsCount = 0;
    int groupsCount = 0;
    int labelsCount = 0;
};
