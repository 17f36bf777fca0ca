// Replay of a recording: the program runs its own node simulator on the recording, opens its port
// like a plugged-in adapter, finds the node and opens its window with a player.

#include "gyrovane.h"

#include "portgate.h"
#include "sensorpanel.h"
#include "shelllog.h"
#include "unitroster.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>
#include <QtCore/QTimer>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>

#include <cstring>

namespace {

// How long the replay's node may take to answer a scan, in tries half a second apart.
constexpr int kReplayScanTries = 20;
constexpr int kReplayScanIntervalMs = 500;

QString Title(const QString &file)
{
    QString name = QFileInfo(file).fileName();
    for (const char *suffix : {"_RawData", "_RPY", "_Q_s1_e", "_Euler_s1_e", "_Gravity", "_markers"}) {
        const int at = name.lastIndexOf(QLatin1String(suffix));
        if (at > 0 && (name.endsWith(QLatin1String(".txt")) || name.endsWith(QLatin1String(".csv"))) &&
            at + int(std::strlen(suffix)) + 4 == name.size())
            return name.left(at);
    }
    return name;
}

} // namespace

void Gyrovane::on_pushButton_OpenRecording_clicked()
{
    const QString file = QFileDialog::getOpenFileName(
        this, tr("Open a recording"), replayFolder,
        tr("Recordings (*_RawData.txt *_RPY.txt *_Q_s1_e.txt *_Euler_s1_e.txt *_Gravity.txt *_RawData.csv *_RPY.csv "
           "*_Q_s1_e.csv *_Euler_s1_e.csv *_Gravity.csv *_markers.csv);;All files (*)"));
    if (file.isEmpty())
        return;
    replayFolder = QFileInfo(file).absolutePath();
    OpenRecording(file);
}

bool Gyrovane::OpenRecording(const QString &file)
{
    if (link->IsOpen() && link->OpenPortName() != replayPort) {
        QMessageBox ask(QMessageBox::Question, windowTitle(),
                        tr("The replay needs the link, which %1 holds now. Close that port and replay the "
                           "recording?")
                            .arg(link->OpenPortName()),
                        QMessageBox::Yes | QMessageBox::Cancel, this);
        ask.button(QMessageBox::Yes)->setText(tr("Close and Replay"));
        ask.setDefaultButton(QMessageBox::Cancel);
        if (ask.exec() != QMessageBox::Yes)
            return false;
    }
    StopReplay();
    if (link->IsOpen())
        emit Sig_CloseSerialPort_CurrentPort();

    replayTitle = Title(file);
    replayProcess = new QProcess(this);
    replayProcess->setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/kinetra-nodesim"));
    replayProcess->setArguments({QStringLiteral("--replay"), file, QStringLiteral("--control"),
                                 QStringLiteral("--exit-with-parent"), QStringLiteral("--port-dir"),
                                 PortGate::SimulatedPortDirectory()});
    connect(replayProcess, &QProcess::readyReadStandardOutput, this, &Gyrovane::On_ReplayOutput);
    connect(replayProcess, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &Gyrovane::On_ReplayFinished);
    connect(replayProcess, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            On_ReplayFinished(-1, QProcess::CrashExit);
    });
    replayProcess->start();
    return true;
}

void Gyrovane::StopReplay()
{
    if (replayScanTimer)
        replayScanTimer->stop();
    if (!replayProcess)
        return;
    QProcess *process = replayProcess;
    replayProcess = nullptr;
    disconnect(process, nullptr, this, nullptr);
    // Asked to end, it removes its port; the gateway then sees it unplugged.
    process->terminate();
    if (!process->waitForFinished(3000))
        process->kill();
    process->deleteLater();
    replayPort.clear();
    replayUuid.clear();
}

void Gyrovane::On_ReplayOutput()
{
    while (replayProcess && replayProcess->canReadLine()) {
        const QString line = QString::fromUtf8(replayProcess->readLine()).trimmed();
        if (replayPort.isEmpty()) {
            replayPort = line; // the first line: the port
            continue;
        }
        SensorPanel *window = nodeWindows.value(replayUuid);
        const QStringList parts = line.split(QLatin1Char(' '));
        if (parts.size() == 3 && parts[0] == QLatin1String("position")) {
            replayPlayed = parts[1].toDouble();
            replayTotal = parts[2].toDouble();
            if (window)
                window->On_ReplayPosition(replayPlayed, replayTotal, false);
        } else if (line == QLatin1String("ended") && window) {
            window->On_ReplayPosition(replayPlayed, replayTotal, true);
        }
    }
}

void Gyrovane::On_ReplayFinished(int exitCode, QProcess::ExitStatus)
{
    if (!replayProcess)
        return;
    const QString why = QString::fromUtf8(replayProcess->readAllStandardError()).trimmed();
    replayProcess->deleteLater();
    replayProcess = nullptr;
    replayPort.clear();
    if (replayScanTimer)
        replayScanTimer->stop();
    if (exitCode != 0) { // the recording could not be read, or the simulator could not start
        QMessageBox box(QMessageBox::Warning, windowTitle(), tr("The recording %1 cannot be replayed.").arg(replayTitle),
                        QMessageBox::Ok, this);
        box.setInformativeText(why.isEmpty() ? tr("The node simulator did not start.")
                                             : why.section(QLatin1String("kinetra-nodesim: "), -1));
        box.exec();
    }
}

void Gyrovane::ReplayLinkOpened()
{
    if (!replayProcess || link->OpenPortName() != replayPort)
        return;
    // The recording's node is found as any node is, by a scan, and opened once it answers.
    if (!replayScanTimer) {
        replayScanTimer = new QTimer(this);
        connect(replayScanTimer, &QTimer::timeout, this, [this] {
            if (!replayProcess || ++replayScanTries > kReplayScanTries) {
                replayScanTimer->stop();
                return;
            }
            link->Scan();
        });
    }
    replayScanTries = 0;
    link->Scan();
    replayScanTimer->start(kReplayScanIntervalMs);
}

void Gyrovane::ReplayNodeAnswered(const QByteArray &uuid)
{
    if (!replayProcess || link->OpenPortName() != replayPort || !replayUuid.isEmpty())
        return;
    replayScanTimer->stop();
    replayUuid = uuid;
    if (!unitRoster->OpenNode(uuid))
        return;
    SensorPanel *window = nodeWindows.value(uuid);
    if (!window)
        return;
    window->SetReplay(replayTitle);
    windowConnections[window] << connect(window, &SensorPanel::Sig_ReplayCommand, this, [this](const QString &command) {
        if (replayProcess)
            replayProcess->write((command + QLatin1Char('\n')).toUtf8());
    });
    replayProcess->write("speed 1\nplay\n");
}
