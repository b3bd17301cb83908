#pragma once

#include <QByteArray>
#include <QtGlobal>

class QObject;
class QTcpServer;
class QThread;

// A scale with one fixed way of answering GetState, for answers the simulator
// does not give. Greets, accepts every other request with "Ok", and runs on a
// thread of its own at 127.0.0.1 on a port of the system's choice.
class ScriptedScale
{
public:
    struct Script {
        // The raw text of GetState's "data"; null: the answer has no "data".
        QByteArray stateData;
        // Above 0: GetState is answered by a string that never ends, one
        // byte every this many milliseconds.
        int trickleMs = 0;
    };

    explicit ScriptedScale(const Script &script);
    ~ScriptedScale();

    bool start();
    quint16 port() const { return m_port; }

private:
    Script m_script;
    QThread *m_thread = nullptr;
    QObject *m_anchor = nullptr;
    QTcpServer *m_server = nullptr;
    quint16 m_port = 0;
};
