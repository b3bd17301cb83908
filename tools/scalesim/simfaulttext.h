#pragma once

#include "scalesim/scalesim.h"

#include <QList>
#include <QString>

// Faults written as text, for the command line:
//   <kind>[:<key>=<value>[,<key>=<value>...]]
// with the keys command, nth, repeat (alone or =true/false), pause (ms), text,
// code, size (bytes, with an optional K, M or G suffix) and depth, e.g.
//   refuse-text:command=UpdateGoods,nth=2,text=Error
struct SimFaultKindInfo {
    SimFaultKind kind;
    const char *name;
    const char *description;
};

const QList<SimFaultKindInfo> &simFaultKinds();
QString simFaultName(SimFaultKind kind);
bool parseSimFault(const QString &written, SimFault *fault, QString *error);
