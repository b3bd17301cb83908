// Whatever bytes a scale sends, a live driver ends with success or one of its
// connection codes: no crash, no other code. Its requests stay well-formed,
// each connection starts with Link, the ids count up by one from 1 in the
// first connection and from no lower than the last id sent in each later
// one, nothing is sent after an answer it did not take, and success means
// every request of the operation was sent and answered. Only an upload
// connects again (a break inside its transaction), and each connection sends
// the operation's requests from the start.
//
// Input: the first byte picks what the driver does ('0' to '5'; other bytes
// wrap around); the rest, split at every line that holds only "--", is what
// the scale sends on each connection: the greeting, then one message per
// request. A line that holds only "~" sends a message in two pieces.
#include "fuzzsupport.h"
#include "loopbackscale.h"

#include "equipment/goodsrecord.h"
#include "scale/lumarodriver.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QByteArray separator = QByteArrayLiteral("\n--\n");

enum Operation {
    CheckConnection,
    Link,
    ClearGoods,
    SetDateTime,
    UploadGoods,
    WeightGrams,
    OperationCount
};

// The requests of a successful operation, in order.
QStringList expectedCommands(Operation operation)
{
    switch (operation) {
    case CheckConnection:
    case WeightGrams:
        return {QStringLiteral("Link"), QStringLiteral("GetState")};
    case Link:
        return {QStringLiteral("Link")};
    case ClearGoods:
        return {QStringLiteral("Link"), QStringLiteral("ClearGoodsAndGroups")};
    case SetDateTime:
        return {QStringLiteral("Link"), QStringLiteral("SetDateTime")};
    case UploadGoods:
        return {QStringLiteral("Link"), QStringLiteral("BeginUpdate"), QStringLiteral("UpdateGroups"),
                QStringLiteral("UpdateGoods"), QStringLiteral("UpdateGoods"), QStringLiteral("EndUpdate")};
    case OperationCount:
        break;
    }
    return {};
}

// The requests as an independent JSON reader sees them; the commands they
// name come back in order, a list for each connection that sent any.
QList<QStringList> checkRequests(const QList<QList<QByteArray>> &connections)
{
    QList<QStringList> sent;
    int id = 0;
    for (const QList<QByteArray> &requests : connections) {
        if (requests.isEmpty())
            continue;
        QStringList &commands = *sent.insert(sent.end(), QStringList());
        for (int i = 0; i < requests.size(); ++i) {
            const QString text = QString::fromUtf8(requests.at(i));
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(requests.at(i), &error);
            FUZZ_CHECK(error.error == QJsonParseError::NoError && document.isObject(), text);
            const QJsonObject request = document.object();
            const QString command = request.value(QLatin1String("command")).toString();
            FUZZ_CHECK(i > 0 || command == QLatin1String("Link"), text);
            // A request left unanswered gives its id to the next one, the
            // Link of a new connection: ids never go back beyond that.
            const int got = request.value(QLatin1String("id")).toInt(-1);
            FUZZ_CHECK(i == 0 && id > 0 ? got >= id : got == id + 1, text);
            id = got;
            const QJsonObject data = request.value(QLatin1String("data")).toObject();
            FUZZ_CHECK(data.value(QLatin1String("application")).toString() == QCoreApplication::applicationName(), text);
            FUZZ_CHECK(data.value(QLatin1String("version")).toString() == QLatin1String("1.0.1.6"), text);
            FUZZ_CHECK(data.value(QLatin1String("compile-date")).toString() == QLatin1String("23-10-2018"), text);
            commands.append(command);
        }
    }
    return sent;
}

class ProbedDriver : public LumaroDriver
{
public:
    using LumaroDriver::link;
};

QList<QByteArray> splitMessages(const QByteArray &bytes)
{
    QList<QByteArray> messages;
    int from = 0;
    for (;;) {
        const int at = bytes.indexOf(separator, from);
        if (at < 0)
            break;
        messages.append(bytes.mid(from, at - from));
        from = at + separator.size();
    }
    messages.append(bytes.mid(from));
    return messages;
}

bool uploadTwoGoods(LumaroDriver &driver)
{
    GroupRecord group;
    group.number = 1;
    group.name = QStringLiteral("All goods");
    GoodsRecord first;
    first.name = QStringLiteral("Apples");
    first.number = 1;
    first.setAdditionalCode(2000001);
    first.price = 99.9;
    first.ownerGroup = 1;
    GoodsRecord second = first;
    second.name = QStringLiteral("Груши");
    second.number = 2;
    second.price = 120.5;
    return driver.uploadGoods({&group}, {&first, &second});
}

bool runOperation(ProbedDriver &driver, Operation operation, int &grams)
{
    switch (operation) {
    case CheckConnection:
        if (!driver.checkConnection())
            return false;
        // Everything the answer filled in is read back once.
        (void)driver.reportedModel().size();
        (void)driver.reportedVersion().size();
        (void)driver.reportedSerialNumber().size();
        (void)driver.reportedCompileDate().isValid();
        (void)driver.weighingState().weight;
        return true;
    case Link:
        return driver.link();
    case ClearGoods:
        return driver.clearGoodsAndGroups();
    case SetDateTime:
        return driver.setDateTime(QDateTime(QDate(2019, 3, 5), QTime(14, 7, 9)));
    case UploadGoods:
        return uploadTwoGoods(driver);
    case WeightGrams:
        grams = driver.weightGrams();
        return driver.lastError() == 0;
    case OperationCount:
        break;
    }
    return false;
}

LoopbackScale &loopbackScale()
{
    static LoopbackScale scale;
    static const bool started = scale.start();
    FUZZ_CHECK(started, QStringLiteral("no loopback port"));
    return scale;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    prepareFuzzProcess();
    LoopbackScale &scale = loopbackScale();

    const Operation operation = size > 0 ? Operation(uint8_t(data[0] - '0') % OperationCount) : CheckConnection;
    const QList<QByteArray> messages = size > 0 ? splitMessages(fuzzBytes(data + 1, size - 1)) : QList<QByteArray>();
    scale.setMessages(messages);
    scale.takeRequests();

    bool succeeded = false;
    int code = 0;
    int grams = 0;
    {
        ProbedDriver driver;
        driver.setHostAddress(QHostAddress(QHostAddress::LocalHost));
        driver.setPort(scale.port());
        driver.initialize();
        succeeded = runOperation(driver, operation, grams);
        code = driver.lastError();
    }
    // The driver has closed its connection; the scale sees that at once.
    FUZZ_CHECK(scale.waitUntilIdle(10000), QStringLiteral("the scale is still serving"));

    const QString what = QStringLiteral("operation %1, %2 messages, code %3")
                             .arg(int(operation))
                             .arg(messages.size())
                             .arg(code);
    if (qEnvironmentVariableIsSet("LUMARO_FUZZ_VERBOSE"))
        std::fprintf(stderr, "  %s, %s\n", qPrintable(what), succeeded ? "succeeded" : "failed");
    FUZZ_CHECK(code == 0 || code == 1 || code == 2 || code == 12, what);
    FUZZ_CHECK(succeeded == (code == 0), what);
    FUZZ_CHECK(succeeded || grams == 0, what);

    const QList<QStringList> connections = checkRequests(scale.takeRequests());
    const QStringList expected = expectedCommands(operation);
    QStringList shown;
    for (const QStringList &commands : connections)
        shown << commands.join(QLatin1Char(' '));
    const QString sent = what + QLatin1String(", sent ") + shown.join(QLatin1String(" | "));
    FUZZ_CHECK(connections.size() <= 1 || operation == UploadGoods, sent);
    for (const QStringList &commands : connections)
        FUZZ_CHECK(commands == expected.mid(0, commands.size()), sent);
    FUZZ_CHECK(!succeeded || connections.value(connections.size() - 1) == expected, sent);
    return 0;
}
