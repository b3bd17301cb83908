// JSON codec: MJson against Qt's QJsonDocument on the two texts the driver
// handles most: reading a full GetState answer into QVariant values (the
// driver decodes the bytes as UTF-8 first, so that is counted on MJson's
// side), and writing an UpdateGoods request from its QVariantMap.
//
//   bench_json [--runs N] [--batch N]

#include "json/mjson.h"

#include "benchoptions.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

namespace {

// A GetState answer as the scale sends it, with every key the driver reads.
QByteArray getStateAnswer()
{
    QVariantMap data;
    data.insert(QStringLiteral("version"), QStringLiteral("2.1.7"));
    data.insert(QStringLiteral("compile-date"), QStringLiteral("15-08-2018"));
    data.insert(QStringLiteral("scale-serial-number"), QStringLiteral("LS5151807000123"));
    data.insert(QStringLiteral("scale-model"), QStringLiteral("LS515"));
    data.insert(QStringLiteral("scale-version"), QStringLiteral("LS515-R V3.21 build 1187"));
    data.insert(QStringLiteral("disks"), QStringLiteral("C:\\ 7.5 GB; D:\\ 29.8 GB"));
    data.insert(QStringLiteral("free-system-disk"), QStringLiteral("2.1 GB"));
    data.insert(QStringLiteral("free-work-disk"), QStringLiteral("27.4 GB"));
    data.insert(QStringLiteral("free-memory"), QStringLiteral("612 MB"));
    data.insert(QStringLiteral("screen-resolution"), QStringLiteral("1024x768"));
    data.insert(QStringLiteral("screen-count"), 2);
    data.insert(QStringLiteral("current-time-date"), QStringLiteral("23-10-2018 14:05:06.789"));
    data.insert(QStringLiteral("system-up-time"), QStringLiteral("3 days 04:12:55"));
    data.insert(QStringLiteral("user-inactive-time"), 183422);
    data.insert(QStringLiteral("database-type"), 1);
    data.insert(QStringLiteral("weight"), 1.235);
    data.insert(QStringLiteral("weight-stability"), true);
    data.insert(QStringLiteral("weight-tare"), 0.015);
    data.insert(QStringLiteral("goods-count"), 10000);
    data.insert(QStringLiteral("groups-count"), 1);
    data.insert(QStringLiteral("labels-count"), 4);
    QVariantMap answer;
    answer.insert(QStringLiteral("id"), 7);
    answer.insert(QStringLiteral("response"), QStringLiteral("Ok"));
    answer.insert(QStringLiteral("response-code"), 0);
    answer.insert(QStringLiteral("data"), data);
    return QJsonDocument::fromVariant(answer).toJson(QJsonDocument::Compact);
}

// An UpdateGoods request as the driver builds it: envelope, header, goods fields.
QVariantMap updateGoodsRequest()
{
    QVariantMap data;
    data.insert(QStringLiteral("application"), QStringLiteral("Vx LS515 scale driver for 1C (Native)."));
    data.insert(QStringLiteral("version"), QStringLiteral("1.0.1.6"));
    data.insert(QStringLiteral("compile-date"), QStringLiteral("23-10-2018"));
    data.insert(QStringLiteral("goods-no"), 1734);
    data.insert(QStringLiteral("goods-add-code"), qlonglong(4600123456789LL));
    data.insert(QStringLiteral("goods-name"), QStringLiteral("Сыр «Российский» 50% весовой"));
    // Beyond six significant digits: the writers must agree on every one.
    data.insert(QStringLiteral("goods-price"), 12345.67);
    data.insert(QStringLiteral("goods-shelf-life"), 30);
    data.insert(QStringLiteral("goods-owner-group"), 1);
    QVariantMap request;
    request.insert(QStringLiteral("id"), 1737);
    request.insert(QStringLiteral("command"), QStringLiteral("UpdateGoods"));
    request.insert(QStringLiteral("data"), data);
    return request;
}

// Two readings agree when they hold the same keys and values; numbers are
// compared by value, since the two readers pick different number types.
bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.userType() == QMetaType::QVariantMap || b.userType() == QMetaType::QVariantMap) {
        const QVariantMap ma = a.toMap();
        const QVariantMap mb = b.toMap();
        if (ma.keys() != mb.keys())
            return false;
        for (auto it = ma.cbegin(); it != ma.cend(); ++it) {
            if (!sameValue(it.value(), mb.value(it.key())))
                return false;
        }
        return true;
    }
    if (a.userType() == QMetaType::QString || b.userType() == QMetaType::QString
        || a.userType() == QMetaType::Bool || b.userType() == QMetaType::Bool)
        return a.userType() == b.userType() && a == b;
    return a.toDouble() == b.toDouble();
}

// Best time per operation over `runs` batches of `batch` operations, in ns.
double bestNsPerOp(int runs, int batch, const std::function<int()> &operation)
{
    qint64 best = std::numeric_limits<qint64>::max();
    volatile int sink = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < batch; ++i)
            sink = sink + operation();
        best = std::min(best, timer.nsecsElapsed());
    }
    return double(best) / batch;
}

void report(const char *what, double mjsonNs, double qtNs)
{
    const double ratio = mjsonNs / qtNs;
    std::printf("%-36s MJson %8.0f ns   QJsonDocument %8.0f ns   ratio %.2f (goal at most 1.00: %s)\n",
                what, mjsonNs, qtNs, ratio, ratio <= 1.0 ? "met" : "missed");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int runs = intOption(arguments, QStringLiteral("--runs"), 15);
    const int batch = intOption(arguments, QStringLiteral("--batch"), 5000);

    const QByteArray answer = getStateAnswer();
    const QVariantMap request = updateGoodsRequest();

    // Both sides must do the same work, or the figures mean nothing.
    bool ok = false;
    const QVariant mjsonRead = MJson::parse(QString::fromUtf8(answer), ok);
    const QVariant qtRead = QJsonDocument::fromJson(answer).toVariant();
    if (!ok || qtRead.toMap().isEmpty() || !sameValue(mjsonRead, qtRead)) {
        std::fprintf(stderr, "the two readers disagree on the GetState answer\n");
        return 1;
    }
    const QByteArray mjsonText = MJson::serialize(request);
    const QByteArray qtText = QJsonDocument::fromVariant(request).toJson(QJsonDocument::Compact);
    if (mjsonText.isEmpty() || QJsonDocument::fromJson(mjsonText).object() != QJsonDocument::fromJson(qtText).object()) {
        std::fprintf(stderr, "the two writers disagree on the UpdateGoods request\n");
        return 1;
    }

    auto mjsonParse = [&] {
        bool success = false;
        return MJson::parse(QString::fromUtf8(answer), success).toMap().size() + int(success);
    };
    auto qtParse = [&] { return QJsonDocument::fromJson(answer).toVariant().toMap().size(); };
    auto mjsonWrite = [&] { return MJson::serialize(request).size(); };
    auto qtWrite = [&] { return QJsonDocument::fromVariant(request).toJson(QJsonDocument::Compact).size(); };

    // Warm-up, then the two sides in alternation so that noise hits both.
    bestNsPerOp(2, batch, mjsonParse);
    bestNsPerOp(2, batch, qtParse);
    double readMJson = std::numeric_limits<double>::max();
    double readQt = readMJson;
    double writeMJson = readMJson;
    double writeQt = readMJson;
    for (int round = 0; round < runs; ++round) {
        readMJson = std::min(readMJson, bestNsPerOp(1, batch, mjsonParse));
        readQt = std::min(readQt, bestNsPerOp(1, batch, qtParse));
        writeMJson = std::min(writeMJson, bestNsPerOp(1, batch, mjsonWrite));
        writeQt = std::min(writeQt, bestNsPerOp(1, batch, qtWrite));
    }

    std::printf("GetState answer %d bytes, UpdateGoods request %d bytes (MJson) / %d bytes (Qt); "
                "best of %d batches of %d\n",
                answer.size(), mjsonText.size(), qtText.size(), runs, batch);
    report("read GetState answer to QVariant", readMJson, readQt);
    report("write UpdateGoods request", writeMJson, writeQt);
    return 0;
}
