#ifndef SIMBENCH_H
#define SIMBENCH_H

// A running simulator with the host link opened on its port.

#include "nimbohostlink.h"
#include "simulatorrunner.h"

#include <QJsonArray>
#include <QtTest>

struct SimBench
{
    SimulatorRunner sim;
    NimboHostLink host;

    bool Start(const QStringList &arguments = QStringList())
    {
        return sim.Start(arguments) && host.Open(sim.PortPath());
    }

    // The identities of every node that answers a broadcast identity request.
    QVector<Np_Id> Identities(int expected)
    {
        const int from = host.Arrivals().size();
        QVector<Np_Id> ids;
        if (!host.Request(NP_ID_BROADCAST_, NP_CMD_ID_) ||
            !host.WaitFor(NP_CMD_ID_, -1, expected, 5000, from))
            return ids;
        for (int i = from; i < host.Arrivals().size(); ++i)
            if (host.Arrivals()[i].cmd == NP_CMD_ID_)
                ids.append(NimboHostLink::As<Np_Id>(host.Arrivals()[i]));
        return ids;
    }

    // Sends a heartbeat request to `marker` and waits for its answer. Nodes handle the line in
    // order and answer at once, so whatever another node would have said to earlier requests has
    // arrived by then: this is how a test sees that something did not come.
    bool Settle(quint16 marker)
    {
        const int from = host.Arrivals().size();
        return host.Request(marker, NP_CMD_HEARTBEAT_) &&
               host.WaitFor(NP_CMD_HEARTBEAT_, marker, 1, 5000, from);
    }
};

inline QByteArray Uuid(const Np_Id &id) { return QByteArray(reinterpret_cast<const char *>(id.uuid), 20); }

inline float JsonFloat(const QJsonObject &o, const char *key, int index = -1)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return float(index < 0 ? v.toDouble() : v.toArray().at(index).toDouble());
}

#endif // SIMBENCH_H
