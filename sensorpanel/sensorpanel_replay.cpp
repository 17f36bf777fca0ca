// The player of a replayed recording: play and pause, the pace, and where the replay is.

#include "sensorpanel.h"

#include <QtWidgets/QComboBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>

namespace {

QString Clock(double seconds)
{
    const int whole = int(seconds);
    return QStringLiteral("%1:%2.%3")
        .arg(whole / 60)
        .arg(whole % 60, 2, 10, QLatin1Char('0'))
        .arg(int((seconds - whole) * 10.0), 1, 10, QLatin1Char('0'));
}

} // namespace

QWidget *SensorPanel::BuildReplayBar()
{
    replayBar = new QWidget(this);
    replayBar->setObjectName(QStringLiteral("widget_ReplayBar"));
    auto *row = new QHBoxLayout(replayBar);
    row->setContentsMargins(6, 3, 6, 3);
    auto *title = new QLabel(replayBar);
    title->setObjectName(QStringLiteral("label_Replay_Title"));
    auto *play = new QPushButton(tr("❚❚ Pause"), replayBar);
    play->setObjectName(QStringLiteral("pushButton_Replay_Play"));
    play->setToolTip(tr("Play or pause the recording"));
    auto *speed = new QComboBox(replayBar);
    speed->setObjectName(QStringLiteral("comboBox_Replay_Speed"));
    speed->setToolTip(tr("The pace of the replay"));
    speed->addItem(tr("1×"), 1.0);
    speed->addItem(tr("4×"), 4.0);
    speed->addItem(tr("16×"), 16.0);
    speed->addItem(tr("As fast as possible"), 0.0);
    auto *position = new QLabel(replayBar);
    position->setObjectName(QStringLiteral("label_Replay_Position"));
    position->setToolTip(tr("Recorded time played, of the recording's length"));
    row->addWidget(title, 1);
    row->addWidget(play);
    row->addWidget(speed);
    row->addWidget(position);
    replayBar->hide();

    connect(play, &QPushButton::clicked, this, [this] {
        ShowReplayPlaying(!replayPlaying);
        emit Sig_ReplayCommand(replayPlaying ? QStringLiteral("play") : QStringLiteral("pause"));
    });
    connect(speed, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this, speed](int index) {
        emit Sig_ReplayCommand(QStringLiteral("speed %1").arg(speed->itemData(index).toDouble()));
    });
    return replayBar;
}

void SensorPanel::SetReplay(const QString &title)
{
    replay = true;
    replayBar->findChild<QLabel *>(QStringLiteral("label_Replay_Title"))->setText(tr("Replay of %1").arg(title));
    replayBar->show();
    ShowReplayPlaying(true);
}

void SensorPanel::ShowReplayPlaying(bool playing)
{
    replayPlaying = playing;
    replayBar->findChild<QPushButton *>(QStringLiteral("pushButton_Replay_Play"))
        ->setText(playing ? tr("❚❚ Pause") : tr("▶ Play"));
    // A paused replay is quiet on purpose: that is no lost link.
    if (!playing && stale)
        ClearStale();
}

void SensorPanel::On_ReplayPosition(double played, double total, bool ended)
{
    if (!replay)
        return;
    replayBar->findChild<QLabel *>(QStringLiteral("label_Replay_Position"))
        ->setText(ended ? tr("%1 / %2, ended").arg(Clock(played), Clock(total))
                        : tr("%1 / %2").arg(Clock(played), Clock(total)));
    if (ended)
        ShowReplayPlaying(false);
}
