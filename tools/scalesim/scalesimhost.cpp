#include "scalesim/scalesim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <utility>

namespace {

// Runs the loop, then destroys the simulator on its own thread: that needs no
// event delivery, so it works even when the application object is gone.
class SimThread : public QThread
{
public:
    ScaleSimulator *sim = nullptr;

protected:
    void run() override
    {
        exec();
        delete sim;
        sim = nullptr;
    }
};

} // namespace

ScaleSimHost::ScaleSimHost()
    : m_sim(new ScaleSimulator)
{
    auto *thread = new SimThread;
    thread->sim = m_sim;
    thread->setObjectName(QStringLiteral("scalesim"));
    m_sim->moveToThread(thread);
    m_thread = thread;
}

ScaleSimHost::~ScaleSimHost()
{
    if (m_thread->isRunning()) {
        m_thread->quit();
        m_thread->wait();
    } else {
        // Never started: the simulator has not run anywhere yet.
        delete m_sim;
    }
    delete m_thread;
}

template<typename F>
void ScaleSimHost::run(F &&f) const
{
    // Without an application object Qt delivers no events to the thread, and
    // the call would silently not happen.
    if (!QCoreApplication::instance()) {
        qWarning("ScaleSimHost: no QCoreApplication, the simulator cannot run");
        return;
    }
    // Started on first use, so that a host made before the application
    // object (say, before the add-in that creates it is loaded) still works.
    if (!m_thread->isRunning())
        m_thread->start();
    QMetaObject::invokeMethod(m_sim, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

bool ScaleSimHost::start(quint16 port)
{
    bool ok = false;
    run([&] { ok = m_sim->listen(port); });
    return ok;
}

void ScaleSimHost::stop()
{
    run([&] { m_sim->close(); });
}

quint16 ScaleSimHost::port() const
{
    quint16 port = 0;
    run([&] { port = m_sim->port(); });
    return port;
}

void ScaleSimHost::setFault(const SimFault &fault)
{
    run([&] { m_sim->setFault(fault); });
}

void ScaleSimHost::addFault(const SimFault &fault)
{
    run([&] { m_sim->addFault(fault); });
}

void ScaleSimHost::clearFault()
{
    run([&] { m_sim->clearFault(); });
}

void ScaleSimHost::setWeight(double kg, bool stable)
{
    run([&] { m_sim->setWeight(kg, stable); });
}

void ScaleSimHost::setTare(double kg)
{
    run([&] { m_sim->setTare(kg); });
}

void ScaleSimHost::setAnswersInPieces(bool on)
{
    run([&] { m_sim->setAnswersInPieces(on); });
}

void ScaleSimHost::setAnswerDelay(int ms)
{
    run([&] { m_sim->setAnswerDelay(ms); });
}

void ScaleSimHost::setKeepsUnended(bool on)
{
    run([&] { m_sim->setKeepsUnended(on); });
}

void ScaleSimHost::restart(int ms)
{
    run([&] { m_sim->restart(ms); });
}

QList<SimRequest> ScaleSimHost::requests() const
{
    QList<SimRequest> requests;
    run([&] { requests = m_sim->requests(); });
    return requests;
}

QList<SimRequest> ScaleSimHost::requests(const QString &command) const
{
    QList<SimRequest> matching;
    const QList<SimRequest> all = requests();
    for (const SimRequest &request : all) {
        if (request.command == command)
            matching.append(request);
    }
    return matching;
}

void ScaleSimHost::clearRequests()
{
    run([&] { m_sim->clearRequests(); });
}

QList<SimGroup> ScaleSimHost::groups() const
{
    QList<SimGroup> groups;
    run([&] { groups = m_sim->groups(); });
    return groups;
}

QList<SimGoods> ScaleSimHost::goods() const
{
    QList<SimGoods> goods;
    run([&] { goods = m_sim->goods(); });
    return goods;
}

void ScaleSimHost::setCatalogue(const QList<SimGroup> &groups, const QList<SimGoods> &goods)
{
    run([&] { m_sim->setCatalogue(groups, goods); });
}

QDateTime ScaleSimHost::clock() const
{
    QDateTime clock;
    run([&] { clock = m_sim->clock(); });
    return clock;
}

int ScaleSimHost::openConnections() const
{
    int n = 0;
    run([&] { n = m_sim->openConnections(); });
    return n;
}

int ScaleSimHost::acceptedConnections() const
{
    int n = 0;
    run([&] { n = m_sim->acceptedConnections(); });
    return n;
}

bool ScaleSimHost::waitForOpenConnections(int n, int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (openConnections() == n)
            return true;
        if (timer.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(5);
    }
}
