// The live data tree: the node's newest status and output values as text.

#include "sensorpanel.h"
#include "ui_sensorpanel.h"

#include "boxview.h"
#include "chartdeck.h"
#include "livetree.h"
#include "recorder.h"
#include "staleoverlay.h"

#include <QtCore/QTimer>
#include <QtWidgets/QLabel>

namespace {

// Status ticks without a status value before the status rows are blanked (3 s).
const int kSilentTicks = 5;
// Ticks (500 ms) without any record of the node before its values count as stale (2 s).
const int kStaleTicks = 4;
// The tree shows values at most this much older than the newest record.
const int kTreeFrameMs = 40;

} // namespace

void SensorPanel::TreeWidget_Init()
{
    liveTree->Build(ui->treeWidget_DataDisplay);
    treeFrameTimer = new QTimer(this);
    treeFrameTimer->setSingleShot(true);
    treeFrameTimer->setInterval(kTreeFrameMs);
    connect(treeFrameTimer, &QTimer::timeout, this, &SensorPanel::On_TreeFrame);
}

void SensorPanel::TreeChanged()
{
    ++recordsSeen;
    if (stale && linkOpen)
        ClearStale();
    if (!treeFrameTimer->isActive())
        treeFrameTimer->start();
}

void SensorPanel::On_TreeFrame() { liveTree->Apply(); }

void SensorPanel::On_TimerISR_RefreshTreeData()
{
    if (++treeSilence > kSilentTicks) {
        treeSilence = 0;
        liveTree->BlankStatus();
    }
    if (recordsSeen != recordsAtCheck) {
        recordsAtCheck = recordsSeen;
        silentChecks = 0;
        lastRecordAt = QTime::currentTime();
    } else if (++silentChecks >= kStaleTicks && linkOpen && !stale && lastRecordAt.isValid() &&
               !(replay && !replayPlaying)) {
        SetStale(tr("No data from the node since %1.").arg(lastRecordAt.toString(QStringLiteral("HH:mm:ss"))));
    }
}

void SensorPanel::On_LinkState(bool open)
{
    if (open == linkOpen)
        return;
    linkOpen = open;
    if (!open) {
        SetStale(tr("The link is closed."));
        return;
    }
    ClearStale();
    silentChecks = 0;
    RestartSettingsRequests();
}

void SensorPanel::SetStale(const QString &why)
{
    stale = true;
    linkState->setText(why);
    linkState->show();
    liveTree->SetStale(true);
    UpdateStaleOverlays();
}

void SensorPanel::UpdateStaleOverlays()
{
    // Every open display is veiled while the values are stale, the ones opened meanwhile too.
    const QWidget *open[] = {ytOpen ? ytWindow : nullptr, xyOpen ? xyWindow : nullptr,
                             rpyOpen ? rpyWindow : nullptr, boxOpen ? boxView : nullptr};
    for (const QWidget *display : open) {
        if (!display)
            continue;
        auto *veil = display->findChild<StaleOverlay *>(QString(), Qt::FindDirectChildrenOnly);
        if (!veil && !stale)
            continue;
        if (!veil)
            veil = new StaleOverlay(const_cast<QWidget *>(display));
        veil->SetText(linkState->text());
        veil->setVisible(stale);
        veil->raise();
    }
}

void SensorPanel::ClearStale()
{
    stale = false;
    linkState->clear();
    linkState->hide();
    liveTree->SetStale(false);
    UpdateStaleOverlays();
}

void SensorPanel::On_UpdateTree_Uptime(quint16 fromId, double timeStamp)
{
    if (fromId != nodeId)
        return;
    // An uptime that goes back (other than the counter's wrap) is the node starting again.
    if (lastUptime >= 0 && timeStamp < lastUptime && !Recorder::IsCounterWrap(lastUptime, timeStamp))
        RestartSettingsRequests();
    lastUptime = timeStamp;
    treeSilence = 0;
    liveTree->SetUptime(timeStamp);
    TreeChanged();
}

void SensorPanel::On_UpdateTree_QoS(quint16 fromId, int qoS)
{
    if (fromId != nodeId)
        return;
    treeSilence = 0;
    liveTree->SetQoS(qoS);
    TreeChanged();
}

void SensorPanel::On_UpdateTree_ProcessRate(quint16 fromId, float rate)
{
    if (fromId != nodeId)
        return;
    treeSilence = 0;
    liveTree->SetRate(rate);
    TreeChanged();
}

void SensorPanel::On_UpdateTree_Temperature(quint16 fromId, float degreeC)
{
    if (fromId != nodeId)
        return;
    treeSilence = 0;
    liveTree->SetTemperature(degreeC);
    TreeChanged();
}

void SensorPanel::On_UpdateTree_Raw_Gyro(quint16 fromId, float wx, float wy, float wz, double timeStamp)
{
    Q_UNUSED(timeStamp);
    if (fromId != nodeId)
        return;
    liveTree->SetGroup(TreeFormat::Gyro, wx, wy, wz);
    TreeChanged();
}

void SensorPanel::On_UpdateTree_Raw_Acc(quint16 fromId, float ax, float ay, float az, double timeStamp)
{
    Q_UNUSED(timeStamp);
    if (fromId != nodeId)
        return;
    liveTree->SetGroup(TreeFormat::Acc, ax, ay, az);
    TreeChanged();
}

void SensorPanel::On_UpdateTree_Raw_Mag(quint16 fromId, float mx, float my, float mz, double timeStamp)
{
    Q_UNUSED(timeStamp);
    if (fromId != nodeId)
        return;
    liveTree->SetGroup(TreeFormat::Mag, mx, my, mz);
    TreeChanged();
}

void SensorPanel::On_UpdateTree_Q_S1_S(quint16 fromId, float q1, float q2, float q3, float q4)
{
    if (fromId != nodeId)
        return;
    liveTree->SetGroup(TreeFormat::Q_S1_S, q1, q2, q3, q4);
    TreeChanged();
}

void SensorPanel::On_UpdateTree_Euler_S1_S(quint16 fromId, float psi, float theta, float phi)
{
    if (fromId != nodeId)
        return;
    liveTree->SetGroup(TreeFormat::Euler_S1_S, psi, theta, phi);
    TreeChanged();
}

void SensorPanel::On_UpdateTree_Q_S1_E(quint16 fromId, float q1, float q2, float q3, float q4)
{
    if (fromId != nodeId)
        return;
    liveTree->SetGroup(TreeFormat::Q_S1_E, q1, q2, q3, q4);
    TreeChanged();
}

void SensorPanel::On_UpdateTree_Euler_S1_E(quint16 fromId, float psi, float theta, float phi)
{
    if (fromId != nodeId)
        return;
    liveTree->SetGroup(TreeFormat::Euler_S1_E, psi, theta, phi);
    TreeChanged();
}

void SensorPanel::On_UpdateTree_RPY(quint16 fromId, float roll, float pitch, float yaw)
{
    if (fromId != nodeId)
        return;
    liveTree->SetGroup(TreeFormat::RPY, roll, pitch, yaw);
    TreeChanged();
}

void SensorPanel::On_UpdateTree_Gravity(quint16 fromId, float gx, float gy, float gz)
{
    if (fromId != nodeId)
        return;
    liveTree->SetGroup(TreeFormat::Gravity, gx, gy, gz);
    TreeChanged();
}
