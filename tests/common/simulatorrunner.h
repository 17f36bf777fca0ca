#ifndef SIMULATORRUNNER_H
#define SIMULATORRUNNER_H

#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <functional>

// Runs kinetra-nodesim for a test: a private port directory and log in a temporary directory,
// the port path read from the simulator's first line of output, a clean stop, and the JSON-lines
// log parsed while the simulator runs.
//
//     SimulatorRunner sim;
//     QVERIFY2(sim.Start({"--nodes", "3"}), qPrintable(sim.ErrorString()));
//     ... open sim.PortPath() with the link under test ...
//     const auto acks = sim.WaitForLog(SimulatorRunner::Match("tx", 13), 1, 5000);
//     QVERIFY(sim.Stop());
class SimulatorRunner
{
public:
    using Predicate = std::function<bool(const QJsonObject &)>;

    SimulatorRunner();
    ~SimulatorRunner();
    SimulatorRunner(const SimulatorRunner &) = delete;
    SimulatorRunner &operator=(const SimulatorRunner &) = delete;

    static QString ProgramPath();
    // Runs another copy of the simulator (a renamed one, say) from now on.
    void SetProgram(const QString &path) { process_.setProgram(path); }

    // Extra arguments go after --port-dir and --log (which they may override). Returns once the
    // port is published, false (see ErrorString) if that does not happen within the time.
    bool Start(const QStringList &arguments = QStringList(), int timeoutMs = 10000);
    // SIGTERM and wait: true when the simulator exited with status 0 and removed its port link.
    bool Stop(int timeoutMs = 10000);
    // SIGKILL and wait, as a crash or a pulled cable would end it: its link stays behind.
    bool Kill(int timeoutMs = 5000);
    // For --exit-after: true when it ended by itself, with status 0 and its link removed.
    bool WaitForExit(int timeoutMs);

    bool IsRunning() const;
    qint64 ProcessId() const;
    QString PortPath() const { return port_; }
    QString PortDir() const { return portDir_; }
    QString LogPath() const { return logPath_; }
    QString ErrorString() const { return error_; }
    QString StandardError();

    // Every complete log line so far, in order.
    const QVector<QJsonObject> &LogRecords();
    // Waits until at least count lines match; returns all matching lines (fewer on time-out).
    QVector<QJsonObject> WaitForLog(const Predicate &match, int count = 1, int timeoutMs = 5000);

    // Lines of one direction ("rx"/"tx") and record type, optionally of one node.
    static Predicate Match(const QString &direction, int cmd, int node = -1);

private:
    bool Finished(int timeoutMs);
    bool LinkGone() const;

    QTemporaryDir tempDir_;
    QProcess process_;
    QString port_;
    QString portDir_;
    QString logPath_;
    QString error_;
    QByteArray stderr_;
    qint64 logOffset_ = 0;
    QByteArray partialLine_;
    QVector<QJsonObject> records_;
};

#endif // SIMULATORRUNNER_H
