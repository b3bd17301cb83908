#include "scalesim/scalesim.h"

#include "simconnection.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <limits>

namespace {

// Numbers may come as JSON numbers or as numeric texts.
bool readInteger(const QJsonObject &data, const char *key, qint64 *value)
{
    const QJsonValue v = data.value(QLatin1String(key));
    if (!v.isDouble() && !v.isString())
        return false;
    bool ok = false;
    const qint64 n = v.toVariant().toLongLong(&ok);
    if (ok)
        *value = n;
    return ok;
}

bool readInt(const QJsonObject &data, const char *key, int *value)
{
    qint64 n = 0;
    if (!readInteger(data, key, &n) || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        return false;
    *value = int(n);
    return true;
}

// Optional fields: absent or unusable leaves the default.
void readOptional(const QJsonObject &data, const char *key, int *value)
{
    readInt(data, key, value);
}

bool readGroup(const QJsonObject &data, SimGroup *group)
{
    if (!readInt(data, "group-no", &group->number))
        return false;
    readOptional(data, "group-owner-group", &group->ownerGroup);
    group->name = data.value("group-name").toString();
    return true;
}

bool readGoods(const QJsonObject &data, SimGoods *goods)
{
    if (!readInt(data, "goods-no", &goods->number))
        return false;
    readInteger(data, "goods-add-code", &goods->addCode);
    goods->name = data.value("goods-name").toString();
    goods->price = data.value("goods-price").toVariant().toDouble();
    readOptional(data, "goods-shelf-life", &goods->shelfLife);
    readOptional(data, "goods-owner-group", &goods->ownerGroup);
    return true;
}

// A record replaces the one with its number, as the scale's database does.
template<typename Record>
void upsert(QList<Record> &list, const Record &record)
{
    for (Record &existing : list) {
        if (existing.number == record.number) {
            existing = record;
            return;
        }
    }
    list.append(record);
}

// A record waits in an open transaction for EndUpdate; without one it goes
// straight into the catalogue. True when the catalogue changed.
template<typename Record>
bool stageOrStore(bool inTransaction, QList<Record> &staged, QList<Record> &catalogue, const Record &record)
{
    upsert(inTransaction ? staged : catalogue, record);
    return !inTransaction;
}

} // namespace

bool isGreetingFault(SimFaultKind kind)
{
    switch (kind) {
    case SimFaultKind::NoGreeting:
    case SimFaultKind::MuteAccept:
    case SimFaultKind::GreetingWrongId:
    case SimFaultKind::GreetingWrongText:
    case SimFaultKind::GreetingBadCode:
    case SimFaultKind::GreetingNotJson:
        return true;
    default:
        return false;
    }
}

ScaleSimulator::ScaleSimulator(QObject *parent)
    : QObject(parent), m_server(new QTcpServer(this)),
      m_startedMs(QDateTime::currentMSecsSinceEpoch())
{
    qRegisterMetaType<SimRequest>();
    connect(m_server, &QTcpServer::newConnection, this, &ScaleSimulator::acceptConnections);
}

ScaleSimulator::~ScaleSimulator()
{
    close();
}

bool ScaleSimulator::listen(quint16 port)
{
    if (m_server->isListening())
        m_server->close();
    return m_server->listen(QHostAddress::LocalHost, port);
}

void ScaleSimulator::close()
{
    m_server->close();
    // Aborting a socket reports its disconnection at once, which takes it
    // out of the table: walk a copy.
    const QList<SimConnection *> connections = m_connections.keys();
    for (SimConnection *connection : connections)
        connection->abort();
    for (SimConnection *connection : connections) {
        if (m_connections.contains(connection))
            connectionGone(connection);
    }
}

void ScaleSimulator::restart(int ms)
{
    const quint16 port = m_server->serverPort();
    close();
    QTimer::singleShot(qMax(0, ms), this, [this, port] {
        // A later restart may have brought it back already.
        if (!m_server->isListening())
            m_server->listen(QHostAddress::LocalHost, port);
    });
}

bool ScaleSimulator::isListening() const
{
    return m_server->isListening();
}

quint16 ScaleSimulator::port() const
{
    return m_server->serverPort();
}

QString ScaleSimulator::errorString() const
{
    return m_server->errorString();
}

void ScaleSimulator::setFault(const SimFault &fault)
{
    m_faults.clear();
    addFault(fault);
}

void ScaleSimulator::addFault(const SimFault &fault)
{
    if (fault.kind != SimFaultKind::None)
        m_faults.append(FaultState{fault, 0});
}

void ScaleSimulator::clearFault()
{
    m_faults.clear();
}

void ScaleSimulator::setWeight(double kg, bool stable)
{
    m_weight = kg;
    m_weightStable = stable;
}

void ScaleSimulator::setTare(double kg)
{
    m_tare = kg;
}

void ScaleSimulator::setCatalogue(const QList<SimGroup> &groups, const QList<SimGoods> &goods)
{
    m_groups = groups;
    m_goods = goods;
    emit catalogueChanged();
}

QDateTime ScaleSimulator::clock() const
{
    return QDateTime::currentDateTime().addMSecs(m_clockOffsetMs);
}

void ScaleSimulator::setClock(const QDateTime &dateTime)
{
    m_clockOffsetMs = QDateTime::currentDateTime().msecsTo(dateTime);
}

void ScaleSimulator::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        const int number = ++m_accepted;
        const SimFault fault = greetingFault();
        SimConnection::Mode mode = SimConnection::Mode::Normal;
        if (fault.kind == SimFaultKind::NoGreeting)
            mode = SimConnection::Mode::Deaf;
        else if (fault.kind == SimFaultKind::MuteAccept)
            mode = SimConnection::Mode::Mute;
        auto *connection = new SimConnection(this, socket, number, mode);
        m_connections.insert(connection, number);
        emit connectionOpened(number);
        if (mode == SimConnection::Mode::Normal)
            connection->greet(fault);
    }
}

void ScaleSimulator::connectionGone(SimConnection *connection)
{
    // An open transaction goes with its connection: staged records are
    // committed only by a scale that keeps them.
    if (!m_connections.remove(connection))
        return;
    if (m_keepsUnended && connection->inTransaction) {
        for (const SimGroup &group : qAsConst(connection->stagedGroups))
            upsert(m_groups, group);
        for (const SimGoods &goods : qAsConst(connection->stagedGoods))
            upsert(m_goods, goods);
        connection->inTransaction = false;
        emit catalogueChanged();
    }
    emit connectionClosed(connection->number());
    connection->deleteLater();
}

QString ScaleSimulator::record(const QByteArray &raw, const QJsonObject &doc, int connection)
{
    SimRequest request;
    request.raw = raw;
    request.doc = doc;
    request.command = doc.value("command").toString();
    request.connection = connection;
    m_requests.append(request);
    emit requestReceived(request);
    return request.command;
}

SimFault ScaleSimulator::greetingFault()
{
    SimFault chosen;
    for (FaultState &state : m_faults) {
        if (!isGreetingFault(state.fault.kind))
            continue;
        const int seen = ++state.seen;
        const bool fires = seen == state.fault.nth || (state.fault.repeat && seen >= state.fault.nth);
        if (fires && chosen.kind == SimFaultKind::None)
            chosen = state.fault;
    }
    return chosen;
}

SimFault ScaleSimulator::requestFault(const QString &command)
{
    SimFault chosen;
    for (FaultState &state : m_faults) {
        if (isGreetingFault(state.fault.kind))
            continue;
        if (!state.fault.command.isEmpty() && state.fault.command != command)
            continue;
        const int seen = ++state.seen;
        const bool fires = seen == state.fault.nth || (state.fault.repeat && seen >= state.fault.nth);
        if (fires && chosen.kind == SimFaultKind::None)
            chosen = state.fault;
    }
    return chosen;
}

bool ScaleSimulator::execute(SimConnection *connection, const QJsonObject &request, QJsonObject &answer)
{
    const QString command = request.value("command").toString();
    const QJsonObject data = request.value("data").toObject();
    answer["response"] = "Ok";
    answer["response-code"] = 0;
    auto refuse = [&answer](const char *text, int code) {
        answer["response"] = text;
        answer["response-code"] = code;
        return false;
    };

    if (command == QLatin1String("Link") || command == QLatin1String("ResetPrinter"))
        return true;

    if (command == QLatin1String("GetState")) {
        answer["data"] = stateData();
        return true;
    }

    if (command == QLatin1String("SetDateTime")) {
        const QDate date = QDate::fromString(data.value("date").toString(), QStringLiteral("dd-MM-yyyy"));
        const QTime time = QTime::fromString(data.value("time").toString(), QStringLiteral("hh:mm:ss"));
        if (!date.isValid() || !time.isValid())
            return refuse(SimResponse::badData, 3);
        setClock(QDateTime(date, time, Qt::LocalTime));
        return true;
    }

    if (command == QLatin1String("TareWeight")) {
        // Taring takes what lies on the platter as the tare.
        m_tare = m_weight;
        return true;
    }

    if (command == QLatin1String("ClearGoodsAndGroups")) {
        m_groups.clear();
        m_goods.clear();
        emit catalogueChanged();
        return true;
    }

    if (command == QLatin1String("BeginUpdate")) {
        // A second BeginUpdate starts the transaction afresh.
        connection->inTransaction = true;
        connection->stagedGroups.clear();
        connection->stagedGoods.clear();
        return true;
    }

    if (command == QLatin1String("UpdateGroups")) {
        SimGroup group;
        if (!readGroup(data, &group))
            return refuse(SimResponse::badData, 3);
        if (stageOrStore(connection->inTransaction, connection->stagedGroups, m_groups, group))
            emit catalogueChanged();
        return true;
    }

    if (command == QLatin1String("UpdateGoods")) {
        SimGoods goods;
        if (!readGoods(data, &goods))
            return refuse(SimResponse::badData, 3);
        if (stageOrStore(connection->inTransaction, connection->stagedGoods, m_goods, goods))
            emit catalogueChanged();
        return true;
    }

    if (command == QLatin1String("EndUpdate")) {
        if (connection->inTransaction) {
            for (const SimGroup &group : qAsConst(connection->stagedGroups))
                upsert(m_groups, group);
            for (const SimGoods &goods : qAsConst(connection->stagedGoods))
                upsert(m_goods, goods);
            connection->inTransaction = false;
            connection->stagedGroups.clear();
            connection->stagedGoods.clear();
            emit catalogueChanged();
        }
        return true;
    }

    return refuse(SimResponse::unknownCommand, 2);
}

QJsonObject ScaleSimulator::stateData() const
{
    const qint64 upSeconds = (QDateTime::currentMSecsSinceEpoch() - m_startedMs) / 1000;
    const QString upTime = QStringLiteral("%1 days %2:%3:%4")
                               .arg(upSeconds / 86400)
                               .arg(upSeconds / 3600 % 24, 2, 10, QLatin1Char('0'))
                               .arg(upSeconds / 60 % 60, 2, 10, QLatin1Char('0'))
                               .arg(upSeconds % 60, 2, 10, QLatin1Char('0'));
    return QJsonObject{
        {"version", "2.4.1"},
        {"compile-date", "14-03-2019"},
        {"scale-serial-number", "A515190300042"},
        {"scale-model", "LS515"},
        {"scale-version", "LS515 V1.32"},
        {"disks", "/, /data"},
        {"free-system-disk", "1.2 GB"},
        {"free-work-disk", "5.6 GB"},
        {"free-memory", "612 MB"},
        {"screen-resolution", "1024x768"},
        {"screen-count", 2},
        {"current-time-date", clock().toString(QStringLiteral("dd-MM-yyyy hh:mm:ss.zzz"))},
        {"system-up-time", upTime},
        // Nobody touches the simulator's screen.
        {"user-inactive-time", upSeconds},
        {"database-type", 1},
        {"weight", m_weight},
        {"weight-stability", m_weightStable},
        {"weight-tare", m_tare},
        {"goods-count", m_goods.size()},
        {"groups-count", m_groups.size()},
        {"labels-count", 4},
    };
}
