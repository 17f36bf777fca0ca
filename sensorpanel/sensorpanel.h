#ifndef SENSORPANEL_H
#define SENSORPANEL_H

#include "sensorpanel_global.h"

#include "modelprofile.h"
#include "nimbotypes.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QVector>
#include <QtWidgets/QMainWindow>

#include <memory>

class LiveTree;
class QCheckBox;
class QCloseEvent;
class QTimer;

namespace Ui {
class SensorPanel;
}

// The window of one node: its identity, live data tree, settings, recorder, calibration, CAN and
// profile panels, display windows and the protocol-library export. It never touches the link: the
// main window feeds it decoded records through the public slots (each drops records of other nodes)
// and forwards what it emits to the node.
//
// Its implementation is split by region: sensorpanel.cpp (construction, identity, request loop,
// layout buttons), sensorpanel_tree.cpp, sensorpanel_model.cpp, sensorpanel_settings.cpp.
class SENSORPANEL_EXPORT SensorPanel : public QMainWindow
{
    Q_OBJECT

public:
    explicit SensorPanel(quint16 nodeId, QWidget *parent = nullptr);
    ~SensorPanel() override;

    void Set_NodeId(quint16 nodeId);
    quint16 Get_NodeID() const { return nodeId; }
    void Set_NodeName(const QString &name);
    QString Get_NodeName() const { return nodeName; }
    void Set_NodeUuid(const QByteArray &uuid);
    QByteArray Get_NodeUuid() const { return nodeUuid; }
    void Update_Title();
    void Set_FontSize(int size);
    // Adapts the window to the node's model once, right after construction (see ModelProfile).
    void Set_NodeFirmwareVersion(int nodeFwVer, int nodeFwRevisionVer);
    const ModelProfile &Model() const { return model; }
    // The settings as the widgets show them; sent to the node when they came from the user.
    void LoadSettingFromGUI();
    Np_Settings CurrentSettings() const { return currentSettings; }
    void TreeWidget_Init();

signals:
    void Sig_Quit(QByteArray nodeUuid);
    void Sig_NewImuSetting(quint16 nodeId, const Np_Settings &np_Settings);
    void Sig_RequestImuSetting(quint16 nodeId);
    void Sig_NewCalibCmd(quint16 nodeId, uchar calibType, uchar ctrlVal, quint16 param1, quint32 param2,
                         quint32 param3);
    void Sig_NSOcmd(quint16 toId, Np_NSO np_NSO);
    void Sig_Update_BoxView(float q1, float q2, float q3, float q4);

public slots:
    void On_NewImuSettings(quint16 fromId, Np_Settings np_Settings);

    void On_TimerISR_RefreshTreeData();
    void On_UpdateTree_Uptime(quint16 fromId, double timeStamp);
    void On_UpdateTree_QoS(quint16 fromId, int qoS);
    void On_UpdateTree_ProcessRate(quint16 fromId, float rate);
    void On_UpdateTree_Temperature(quint16 fromId, float degreeC);
    void On_UpdateTree_Raw_Gyro(quint16 fromId, float wx, float wy, float wz, double timeStamp);
    void On_UpdateTree_Raw_Acc(quint16 fromId, float ax, float ay, float az, double timeStamp);
    void On_UpdateTree_Raw_Mag(quint16 fromId, float mx, float my, float mz, double timeStamp);
    void On_UpdateTree_Q_S1_S(quint16 fromId, float q1, float q2, float q3, float q4);
    void On_UpdateTree_Euler_S1_S(quint16 fromId, float psi, float theta, float phi);
    void On_UpdateTree_Q_S1_E(quint16 fromId, float q1, float q2, float q3, float q4);
    void On_UpdateTree_Euler_S1_E(quint16 fromId, float psi, float theta, float phi);
    void On_UpdateTree_RPY(quint16 fromId, float roll, float pitch, float yaw);
    void On_UpdateTree_Gravity(quint16 fromId, float gx, float gy, float gz);

    void On_UpdateAttitude(quint16 fromId, float q1, float q2, float q3, float q4);

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void On_TimerISR_RequestImuSetting();
    void On_TreeFrame();

    void on_pushButton_Hide_Config_Pannel_clicked();
    void on_pushButton_Hide_TreeView_clicked();
    void on_pushButton_Mdi_Arrange_BoxMode_clicked();
    void on_pushButton_Mdi_Arrange_TitileMode_clicked();
    void on_pushButton_OpenClose_CalibPannel_clicked();

private:
    void ApplyModelStep(const ModelProfile::Step &step);
    void BindSettingsWidgets();
    void LoadImuSettingToGUI();
    void LoadImuSettingFromGUI();
    void SetSaveButtonPending(bool pending);
    void TreeChanged();

    quint16 nodeId;
    QString nodeName;
    QByteArray nodeUuid;
    ModelProfile model;
    Ui::SensorPanel *ui;
    int fontSize = 8;
    Np_Settings currentSettings{};
    QTimer *requestTimer = nullptr;
    int requestTicks = 0;
    bool loadingSettings = false;
    // The check boxes that stand for one settings bit each, with their bits.
    QVector<QPair<int, QCheckBox *>> bitBoxes;

    QTimer *treeRefreshTimer = nullptr;
    int treeSilence = 0;
    std::unique_ptr<LiveTree> liveTree;
    // Writes the tree's newest values once per frame.
    QTimer *treeFrameTimer = nullptr;

    bool quitSent = false;
};

#endif // SENSORPANEL_H
