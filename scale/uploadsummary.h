#pragma once

#include <QString>
#include <QVector>

// What one catalogue upload did, for the log: an integrator reads a real
// scale's speed from it.
struct UploadSummary
{
    int goods = 0;       // goods items the scale accepted in the last try of the transaction
    int groups = 0;      // groups likewise
    int requests = 0;    // requests sent, Link and those of broken tries included
    int recoveries = 0;  // connections made again after a break
    qint64 elapsedMs = 0;
    QVector<qint32> answerMicros; // one per answered request

    QString text() const;
};
