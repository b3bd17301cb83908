#include "scale/uploadsummary.h"

#include <algorithm>

namespace {

QString milliseconds(qint64 micros)
{
    return QString::number(double(micros) / 1000.0, 'f', 3);
}

} // namespace

QString UploadSummary::text() const
{
    qint64 median = 0;
    qint64 maximum = 0;
    if (!answerMicros.isEmpty()) {
        QVector<qint32> sorted = answerMicros;
        const auto middle = sorted.begin() + sorted.size() / 2;
        std::nth_element(sorted.begin(), middle, sorted.end());
        median = *middle;
        maximum = *std::max_element(sorted.cbegin(), sorted.cend());
    }
    return QStringLiteral("Upload summary: goods %1, groups %2, requests %3, recoveries %4, time %5 s, answer median %6 ms, max %7 ms")
        .arg(goods)
        .arg(groups)
        .arg(requests)
        .arg(recoveries)
        .arg(QString::number(double(elapsedMs) / 1000.0, 'f', 3), milliseconds(median), milliseconds(maximum));
}
