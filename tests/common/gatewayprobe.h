#ifndef GATEWAYPROBE_H
#define GATEWAYPROBE_H

#include "framecourier.h"
#include "portgate.h"

#include <QtCore/QMetaObject>

// Runs a query on the link panel's gateway in the gateway's own thread and returns its result.
template <typename F>
auto OnGateway(FrameCourier &panel, F query)
{
    decltype(query(panel.Gateway())) result{};
    QMetaObject::invokeMethod(
        panel.Gateway(), [&] { result = query(panel.Gateway()); }, Qt::BlockingQueuedConnection);
    return result;
}

// True once the gateway has made its first port list: a simulator started after this comes as a
// plugged-in port, which the panel opens by itself.
inline bool GatewayReady(FrameCourier &panel)
{
    return OnGateway(panel, [](PortGate *gate) { return gate->HighRatePort() != nullptr; });
}

#endif // GATEWAYPROBE_H
