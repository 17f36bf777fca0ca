#include "simulatorrunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTest>

#include <sys/stat.h>

SimulatorRunner::SimulatorRunner() { process_.setProgram(ProgramPath()); }

SimulatorRunner::~SimulatorRunner()
{
    if (IsRunning()) {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }
}

QString SimulatorRunner::ProgramPath() { return QStringLiteral(GYROVANE_BIN_DIR "/kinetra-nodesim"); }

bool SimulatorRunner::Start(const QStringList &arguments, int timeoutMs)
{
    if (IsRunning()) {
        error_ = QStringLiteral("already running");
        return false;
    }
    if (!tempDir_.isValid()) {
        error_ = QStringLiteral("no temporary directory");
        return false;
    }
    portDir_ = tempDir_.filePath(QStringLiteral("ports"));
    logPath_ = tempDir_.filePath(QStringLiteral("nodesim.log"));
    for (int i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--port-dir"))
            portDir_ = arguments[i + 1];
        else if (arguments[i] == QLatin1String("--log"))
            logPath_ = arguments[i + 1];
    }
    port_.clear();
    records_.clear();
    partialLine_.clear();
    logOffset_ = 0;
    stderr_.clear();

    // A test that is killed must not leave its simulator running.
    process_.setArguments(QStringList{QStringLiteral("--exit-with-parent"), QStringLiteral("--port-dir"),
                                      portDir_, QStringLiteral("--log"), logPath_} +
                          arguments);
    process_.start(QIODevice::ReadOnly);
    if (!process_.waitForStarted(timeoutMs)) {
        error_ = QStringLiteral("cannot start %1: %2").arg(process_.program(), process_.errorString());
        return false;
    }

    QElapsedTimer clock;
    clock.start();
    while (!process_.canReadLine()) {
        const int left = timeoutMs - int(clock.elapsed());
        if (left <= 0 || process_.state() != QProcess::Running) {
            process_.waitForFinished(100);
            error_ = QStringLiteral("no port line from the simulator; stderr: %1").arg(StandardError());
            return false;
        }
        process_.waitForReadyRead(left);
    }
    port_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    if (!QFileInfo::exists(port_)) {
        error_ = QStringLiteral("the simulator printed '%1', which does not exist").arg(port_);
        return false;
    }
    error_.clear();
    return true;
}

bool SimulatorRunner::Finished(int timeoutMs)
{
    if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(timeoutMs)) {
        error_ = QStringLiteral("the simulator did not exit in time");
        process_.kill();
        process_.waitForFinished(2000);
        return false;
    }
    LogRecords();
    if (process_.exitStatus() != QProcess::NormalExit || process_.exitCode() != 0) {
        error_ = QStringLiteral("the simulator exited with status %1; stderr: %2")
                     .arg(process_.exitCode())
                     .arg(StandardError());
        return false;
    }
    if (!LinkGone()) {
        error_ = QStringLiteral("the simulator left its port link %1 behind").arg(port_);
        return false;
    }
    return true;
}

bool SimulatorRunner::Stop(int timeoutMs)
{
    if (process_.state() == QProcess::NotRunning)
        return Finished(0);
    process_.terminate();
    return Finished(timeoutMs);
}

bool SimulatorRunner::Kill(int timeoutMs)
{
    if (process_.state() == QProcess::NotRunning)
        return true;
    process_.kill();
    return process_.waitForFinished(timeoutMs);
}

bool SimulatorRunner::WaitForExit(int timeoutMs) { return Finished(timeoutMs); }

bool SimulatorRunner::LinkGone() const
{
    struct stat st;
    return port_.isEmpty() || lstat(QFile::encodeName(port_).constData(), &st) != 0;
}

bool SimulatorRunner::IsRunning() const { return process_.state() != QProcess::NotRunning; }

qint64 SimulatorRunner::ProcessId() const { return process_.processId(); }

QString SimulatorRunner::StandardError()
{
    stderr_ += process_.readAllStandardError();
    return QString::fromLocal8Bit(stderr_);
}

const QVector<QJsonObject> &SimulatorRunner::LogRecords()
{
    QFile file(logPath_);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(logOffset_))
        return records_;
    const QByteArray fresh = file.readAll();
    logOffset_ += fresh.size();
    partialLine_ += fresh;
    int start = 0;
    while (true) {
        const int end = partialLine_.indexOf('\n', start);
        if (end < 0)
            break;
        const QJsonDocument doc = QJsonDocument::fromJson(partialLine_.mid(start, end - start));
        if (doc.isObject())
            records_.append(doc.object());
        start = end + 1;
    }
    partialLine_.remove(0, start);
    return records_;
}

QVector<QJsonObject> SimulatorRunner::WaitForLog(const Predicate &match, int count, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    int scanned = 0;
    QVector<QJsonObject> found;
    while (true) {
        const QVector<QJsonObject> &all = LogRecords();
        for (; scanned < all.size(); ++scanned)
            if (match(all[scanned]))
                found.append(all[scanned]);
        if (found.size() >= count || clock.elapsed() >= timeoutMs)
            return found;
        QTest::qWait(5);
    }
}

SimulatorRunner::Predicate SimulatorRunner::Match(const QString &direction, int cmd, int node)
{
    return [direction, cmd, node](const QJsonObject &o) {
        return o.value(QLatin1String("dir")).toString() == direction &&
               o.value(QLatin1String("cmd")).toInt() == cmd &&
               (node < 0 || o.value(QLatin1String("node")).toInt() == node);
    };
}
