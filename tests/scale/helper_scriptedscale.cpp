#include "helper_scriptedscale.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace {

QByteArray answerHead(int id)
{
    return QByteArray(R"({"id":)") + QByteArray::number(id) + R"(,"response":"Ok","response-code":0)";
}

void serve(QTcpSocket *socket, const ScriptedScale::Script &script)
{
    // Small writes must leave at once, not wait for the peer's acknowledgement.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->write(R"({"id":1,"response":"ConnectOk","response-code":0})");
    auto *pending = new QByteArray;
    QObject::connect(socket, &QObject::destroyed, [pending] { delete pending; });
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, script, pending] {
        pending->append(socket->readAll());
        const QJsonObject request = QJsonDocument::fromJson(*pending).object();
        if (request.isEmpty())
            return;
        pending->clear();
        const int id = request.value(QStringLiteral("id")).toInt();
        if (request.value(QStringLiteral("command")).toString() != QLatin1String("GetState")) {
            socket->write(answerHead(id) + '}');
            return;
        }
        if (script.trickleMs > 0) {
            socket->write(answerHead(id) + R"(,"data":")");
            auto *timer = new QTimer(socket);
            QObject::connect(timer, &QTimer::timeout, socket, [socket] { socket->write("x"); });
            timer->start(script.trickleMs);
            return;
        }
        QByteArray answer = answerHead(id);
        if (!script.stateData.isNull())
            answer += R"(,"data":)" + script.stateData;
        socket->write(answer + '}');
    });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

} // namespace

ScriptedScale::ScriptedScale(const Script &script)
    : m_script(script)
{
}

ScriptedScale::~ScriptedScale()
{
    if (!m_thread)
        return;
    QMetaObject::invokeMethod(m_anchor, [this] {
        delete m_server;
        m_server = nullptr;
    }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_anchor;
    delete m_thread;
}

bool ScriptedScale::start()
{
    m_thread = new QThread;
    m_anchor = new QObject;
    m_anchor->moveToThread(m_thread);
    m_thread->start();
    QMetaObject::invokeMethod(m_anchor, [this] {
        m_server = new QTcpServer;
        QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection())
                serve(socket, m_script);
        });
        if (m_server->listen(QHostAddress::LocalHost, 0))
            m_port = m_server->serverPort();
    }, Qt::BlockingQueuedConnection);
    return m_port != 0;
}
