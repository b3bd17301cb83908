// Goods upload: LumaroDriver::uploadGoods of a whole catalogue against a
// baseline client that sends the very same request bytes, built beforehand,
// over a plain blocking socket to the same responder. Both wait for every
// answer, so the difference is what the driver itself spends per request.
//
//   bench_upload [--items N] [--runs N] [--answer-delay MS] [--save-requests FILE]
//
// --answer-delay makes the responder answer each request that long after
// it, as a real scale does.
//
// --save-requests writes the requests of the first driver run, one a line,
// to compare the bytes of two builds of the driver.

#include "bench_upload_client.h"
#include "bench_upload_responder.h"

#include "equipment/goodsrecord.h"
#include "scale/lumarodriver.h"

#include "benchoptions.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include <time.h>

namespace {

const char *const names[] = {"Яблоки Гала", "Груши Конференция", "Бананы весовые", "Сыр «Российский» 50%",
                             "Колбаса докторская ГОСТ", "Сельдь слабосолёная", "Печенье овсяное развесное",
                             "Конфеты шоколадные ассорти", "Орехи грецкие очищенные", "Томаты черри на ветке",
                             "Филе куриное охлаждённое", "Картофель молодой мытый"};

struct Catalogue
{
    std::vector<std::unique_ptr<GroupRecord>> groupStore;
    std::vector<std::unique_ptr<GoodsRecord>> goodsStore;
    QList<GroupRecord *> groups;
    QList<GoodsRecord *> goods;
};

// One group and N goods items as the goods transfer builds them from a table.
void fillCatalogue(Catalogue &catalogue, int items)
{
    std::mt19937 random(515);
    auto group = std::make_unique<GroupRecord>();
    group->number = 1;
    group->ownerGroup = -1;
    group->name = QStringLiteral("All goods");
    catalogue.groups.append(group.get());
    catalogue.groupStore.push_back(std::move(group));
    for (int i = 0; i < items; ++i) {
        auto record = std::make_unique<GoodsRecord>();
        record->name = QString::fromUtf8(names[random() % (sizeof(names) / sizeof(names[0]))])
            + QStringLiteral(" %1").arg(i + 1);
        record->number = i + 1;
        record->setAdditionalCode(4600000000000LL + qint64(random() % 1000000000));
        record->price = double(random() % 200000) / 100.0;
        record->shelfLife = int(random() % 365) + 1;
        record->ownerGroup = 1;
        catalogue.goods.append(record.get());
        catalogue.goodsStore.push_back(std::move(record));
    }
}

// Wall time and this thread's processor time of one run, in ns.
struct RunTime
{
    qint64 wall = -1;
    qint64 cpu = -1;
};

qint64 threadCpuNs()
{
    timespec now = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// One upload by a fresh driver; wall time negative when it fails.
RunTime driverRun(unsigned short port, const Catalogue &catalogue)
{
    LumaroDriver driver;
    driver.setPort(port);
    driver.setHostAddress(QHostAddress(QHostAddress::LocalHost));
    driver.initialize();
    RunTime time;
    QElapsedTimer timer;
    const qint64 cpuStart = threadCpuNs();
    timer.start();
    const bool ok = driver.uploadGoods(catalogue.groups, catalogue.goods);
    time.wall = timer.nsecsElapsed();
    time.cpu = threadCpuNs() - cpuStart;
    if (!ok) {
        std::fprintf(stderr, "upload failed: %s\n", qPrintable(driver.lastErrorText()));
        time.wall = -1;
    }
    return time;
}

RunTime baselineRun(unsigned short port, const std::vector<BlockingClient::Request> &requests)
{
    RunTime time;
    QElapsedTimer timer;
    const qint64 cpuStart = threadCpuNs();
    timer.start();
    const bool ok = BlockingClient::run(port, requests);
    time.wall = timer.nsecsElapsed();
    time.cpu = threadCpuNs() - cpuStart;
    if (!ok) {
        std::fprintf(stderr, "baseline failed\n");
        time.wall = -1;
    }
    return time;
}

} // namespace

int main(int argc, char **argv)
{
    // The driver logs each connection; keep that out of the user's files.
    QTemporaryDir root;
    if (!root.isValid())
        return 1;
    qputenv("VXDRIVER_ROOT", QFile::encodeName(root.path()));

    QCoreApplication app(argc, argv);
    // The driver puts these into every request header.
    QCoreApplication::setApplicationName(QStringLiteral("Vx LS515 scale driver for 1C (Native)."));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.1.6"));

    const QStringList arguments = QCoreApplication::arguments();
    const int items = intOption(arguments, QStringLiteral("--items"), 10000);
    const int runs = intOption(arguments, QStringLiteral("--runs"), 5);

    Catalogue catalogue;
    fillCatalogue(catalogue, items);

    UploadResponder responder;
    if (!responder.start()) {
        std::fprintf(stderr, "responder: cannot listen on 127.0.0.1\n");
        return 1;
    }
    responder.setAnswerDelayMs(intOption(arguments, QStringLiteral("--answer-delay"), 0));
    const unsigned short port = responder.port();
    // Link, BeginUpdate, one request per group and per item, EndUpdate.
    const long expectedRequests = long(catalogue.groups.size()) + items + 3;
    int connections = 0;

    // A first driver run warms up and gives the baseline its request bytes.
    responder.setRecording(true);
    if (driverRun(port, catalogue).wall < 0)
        return 1;
    responder.waitForConnectionsEnded(++connections);
    responder.setRecording(false);
    const std::vector<BlockingClient::Request> requests = BlockingClient::prepare(responder.lastRecorded());
    if (long(requests.size()) != expectedRequests || responder.lastAnswered() != expectedRequests) {
        std::fprintf(stderr, "recorded %zu requests, expected %ld\n", requests.size(), expectedRequests);
        return 1;
    }
    const int saveAt = arguments.indexOf(QStringLiteral("--save-requests"));
    if (saveAt > 0 && saveAt + 1 < arguments.size()) {
        QFile saved(arguments.at(saveAt + 1));
        if (!saved.open(QIODevice::WriteOnly))
            return 1;
        for (const BlockingClient::Request &request : requests) {
            saved.write(request.bytes.data(), qint64(request.bytes.size()));
            saved.write("\n", 1);
        }
    }
    size_t requestBytes = 0;
    for (const BlockingClient::Request &request : requests)
        requestBytes += request.bytes.size();
    if (baselineRun(port, requests).wall < 0)
        return 1;
    responder.waitForConnectionsEnded(++connections);

    // Turns taken in alternation, so that a noisy spell hits both sides.
    RunTime bestDriver = {std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max()};
    RunTime bestBaseline = bestDriver;
    // Each driver run against the baseline run next to it: steadier than the
    // ratio of the two best times when the machine is busy.
    std::vector<double> pairRatios;
    for (int run = 0; run < runs; ++run) {
        const RunTime driver = driverRun(port, catalogue);
        responder.waitForConnectionsEnded(++connections);
        if (driver.wall < 0 || responder.lastAnswered() != long(requests.size())) {
            std::fprintf(stderr, "driver run %d: %ld answers\n", run, responder.lastAnswered());
            return 1;
        }
        const RunTime baseline = baselineRun(port, requests);
        responder.waitForConnectionsEnded(++connections);
        if (baseline.wall < 0 || responder.lastAnswered() != long(requests.size()))
            return 1;
        std::printf("run %d: driver %.1f ms, baseline %.1f ms\n", run + 1, driver.wall / 1e6, baseline.wall / 1e6);
        pairRatios.push_back(double(driver.wall) / double(baseline.wall));
        bestDriver.wall = std::min(bestDriver.wall, driver.wall);
        bestDriver.cpu = std::min(bestDriver.cpu, driver.cpu);
        bestBaseline.wall = std::min(bestBaseline.wall, baseline.wall);
        bestBaseline.cpu = std::min(bestBaseline.cpu, baseline.cpu);
    }
    responder.stop();

    const double count = double(requests.size());
    const double ratio = double(bestDriver.wall) / double(bestBaseline.wall);
    const double ownPerItemUs = double(bestDriver.wall - bestBaseline.wall) / items / 1e3;
    const double roundTripUs = double(bestBaseline.wall) / count / 1e3;
    std::printf("\nUpload of %d goods items: %zu requests, %.1f bytes each on average, best of %d runs\n",
                items, requests.size(), double(requestBytes) / count, runs);
    std::printf("  driver (uploadGoods)     %9.1f ms   processor %6.1f us per request\n",
                bestDriver.wall / 1e6, bestDriver.cpu / count / 1e3);
    std::printf("  baseline (plain socket)  %9.1f ms   processor %6.1f us per request\n",
                bestBaseline.wall / 1e6, bestBaseline.cpu / count / 1e3);
    std::printf("  round trip per request   %9.1f us (baseline)\n", roundTripUs);
    std::printf("  driver's own cost        %9.1f us per item\n", ownPerItemUs);
    std::sort(pairRatios.begin(), pairRatios.end());
    std::printf("  ratio of paired runs     %9.2f median (%.2f to %.2f)\n", pairRatios[pairRatios.size() / 2],
                pairRatios.front(), pairRatios.back());
    std::printf("  ratio driver/baseline    %9.2f (goal at most 1.20: %s)\n", ratio, ratio <= 1.2 ? "met" : "missed");
    return 0;
}
