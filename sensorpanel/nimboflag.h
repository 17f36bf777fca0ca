#ifndef NIMBOFLAG_H
#define NIMBOFLAG_H

#include "sensorpanel_global.h"

#include <QtCore/QObject>
#include <QtCore/QTimer>

// Ends a local event loop when a watched flag becomes true or a time-out passes:
//
//     NimboFlag wait(&replied);
//     QEventLoop loop;
//     connect(&wait, &NimboFlag::quitEventLoop, &loop, &QEventLoop::quit);
//     wait.Start(900, 100);
//     loop.exec();            // returns once replied is true or 900 ms have passed
//     wait.Stop();
//
// The flag is polled, so it may be set from anywhere in the GUI thread, including from slots that
// the waiting loop itself runs.
class SENSORPANEL_EXPORT NimboFlag : public QObject
{
    Q_OBJECT

public:
    explicit NimboFlag(const bool *flag, QObject *parent = nullptr);

    // Starts the time-out timer (single shot) and the poll timer; clears the time-out flag.
    void Start(int timeoutMs, int pollMs);
    void Stop();
    bool TimedOut() const { return timeoutFlag; }
    bool Done() const { return timeoutFlag || (flag && *flag); }

signals:
    void quitEventLoop();

public slots:
    void timer0_Interrupt();
    void timer1_Interrupt();

private:
    const bool *flag;
    QTimer timer0; // time-out
    QTimer timer1; // poll
    bool timeoutFlag = false;
};

// A blocking delay for a local event loop: quitEventLoop comes once, when the timer fires.
class SENSORPANEL_EXPORT NimboDelay : public QObject
{
    Q_OBJECT

public:
    explicit NimboDelay(QObject *parent = nullptr);

    void Start(int ms);

signals:
    void quitEventLoop();

public slots:
    void timer_Interrupt();

private:
    QTimer timer;
};

#endif // NIMBOFLAG_H
