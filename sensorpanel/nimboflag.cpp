#include "nimboflag.h"

#include "sensorpanellog.h"

NimboFlag::NimboFlag(const bool *flag_i, QObject *parent)
    : QObject(parent)
    , flag(flag_i)
{
    timer0.setSingleShot(true);
    connect(&timer0, &QTimer::timeout, this, &NimboFlag::timer0_Interrupt);
    connect(&timer1, &QTimer::timeout, this, &NimboFlag::timer1_Interrupt);
}

void NimboFlag::Start(int timeoutMs, int pollMs)
{
    timeoutFlag = false;
    timer0.start(timeoutMs);
    timer1.start(pollMs);
}

void NimboFlag::Stop()
{
    timer0.stop();
    timer1.stop();
}

void NimboFlag::timer0_Interrupt()
{
    timeoutFlag = true;
    timer0.stop();
    emit quitEventLoop();
    qCDebug(lcNodeWindow) << "Timeout";
}

void NimboFlag::timer1_Interrupt()
{
    if (flag && *flag)
        emit quitEventLoop();
}

NimboDelay::NimboDelay(QObject *parent)
    : QObject(parent)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &NimboDelay::timer_Interrupt);
}

void NimboDelay::Start(int ms) { timer.start(ms); }

void NimboDelay::timer_Interrupt()
{
    timer.stop();
    emit quitEventLoop();
}
