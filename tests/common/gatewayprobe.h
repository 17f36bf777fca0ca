#ifndef GATEWAYPROBE_H
#define GATEWAYPROBE_H

#include "portgate.h"

#include <QtCore/QMetaObject>

// Runs a query on the gateway of a link (or of the link panel) in the gateway's own thread and
// returns its result.
template <typename Owner, typename F>
auto OnGateway(Owner &owner, F query)
{
    PortGate *gate = owner.Gateway();
    decltype(query(gate)) result{};
    QMetaObject::invokeMethod(
        gate, [&] { result = query(gate); }, Qt::BlockingQueuedConnection);
    return result;
}

// True once the gateway has made its first port list: a simulator started after this comes as a
// plugged-in port.
template <typename Owner>
bool GatewayReady(Owner &owner)
{
    return OnGateway(owner, [](PortGate *gate) { return gate->HighRatePort() != nullptr; });
}

#endif // GATEWAYPROBE_H
