#ifndef SENSORPANEL_H
#define SENSORPANEL_H

#include "sensorpanel_global.h"

#include "calibrationcommands.h"
#include "modelprofile.h"
#include "nimbotypes.h"
#include "serviceobjects.h"

#include <QtCore/QByteArray>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QTime>
#include <QtCore/QVector>
#include <QtWidgets/QMainWindow>

#include <deque>
#include <memory>

class BoxView;
class ChartDeck;
class LiveTree;
class QCheckBox;
class QDialog;
class QLabel;
class QCloseEvent;
class QEventLoop;
class QSpinBox;
class QMdiSubWindow;
class QTimer;
class Recorder;

namespace Ui {
class SensorPanel;
}

// The window of one node: its identity, live data tree, settings, recorder, calibration, CAN and
// profile panels, display windows and the protocol-library export. It never touches the link: the
// main window feeds it decoded records through the public slots (each drops records of other nodes)
// and forwards what it emits to the node.
//
// Its implementation is split by region: sensorpanel.cpp (construction, identity, request loop,
// layout buttons), sensorpanel_tree.cpp, sensorpanel_model.cpp, sensorpanel_settings.cpp,
// sensorpanel_displays.cpp, sensorpanel_recorder.cpp, sensorpanel_calibration.cpp, sensorpanel_can.cpp,
// sensorpanel_export.cpp.
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
    // The firmware as the node's identity gives it ("31.8.2.70"), for files that name the node.
    void Set_NodeFirmwareText(const QString &text) { firmwareText = text; }
    // The node is a recording played back: the window shows the player (playing at 1x).
    void SetReplay(const QString &title);
    bool IsReplay() const { return replay; }
    const ModelProfile &Model() const { return model; }
    // The settings as the widgets show them; sent to the node when they came from the user.
    void LoadSettingFromGUI();
    Np_Settings CurrentSettings() const { return currentSettings; }
    void TreeWidget_Init();

    // Display windows; each does nothing while its window is open.
    void Create_Yt_Display();
    void Create_XY_Display();
    void Create_RPY_Display();
    void Create_BoxView();
    ChartDeck *YtDisplay() const { return ytOpen ? ytWindow : nullptr; }
    ChartDeck *XYDisplay() const { return xyOpen ? xyWindow : nullptr; }
    ChartDeck *RPYDisplay() const { return rpyOpen ? rpyWindow : nullptr; }
    BoxView *BoxDisplay() const { return boxOpen ? boxView : nullptr; }

    // Asks for the files and starts recording the selected outputs; false when nothing was started.
    bool Recorder_StartNew();
    bool Recorder_SaveAndCloseAllFiles();
    void RecorderBufSaveToFile(const QString &key, const QString &line);

    // The CAN and profile panel's exchanges with the node's service object; each is true when the
    // node answered (within four attempts).
    bool NSO_ReadSetting();
    bool CanPanel_Download_CAN_Switches();
    bool CanPanel_Download_CAN_Baudrate();
    bool CanPanel_Download_CAN_NSO_ID();
    bool CanPanel_Download_CAN_NPO_ID();
    bool CanPanel_Download_CAN_NSO_NPO_ID();
    bool ProfilePanel_Download_Profile_Switches();

    // Settings files. Saving is false (and said in the status line) when the file was not written;
    // loading shows the differences in a dialog (null, after a message, when the file is unusable)
    // and writes nothing until its Write button is pressed.
    bool SaveSettingsFile(const QString &path);
    QDialog *LoadSettingsFile(const QString &path);

signals:
    void Sig_Quit(QByteArray nodeUuid);
    // For the replay: "play", "pause" or "speed X" (X 0: as fast as the link takes).
    void Sig_ReplayCommand(QString command);
    void Sig_NewImuSetting(quint16 nodeId, const Np_Settings &np_Settings);
    void Sig_RequestImuSetting(quint16 nodeId);
    void Sig_NewCalibCmd(quint16 nodeId, uchar calibType, uchar ctrlVal, quint16 param1, quint32 param2,
                         quint32 param3);
    void Sig_NSOcmd(quint16 toId, Np_NSO np_NSO);
    void Sig_Update_BoxView(float q1, float q2, float q3, float q4);

public slots:
    void On_NewImuSettings(quint16 fromId, Np_Settings np_Settings);
    void On_NewCalibCmd(quint16 fromId, Np_Calib np_Calib);
    void On_TimerISR_Calib();
    void On_NSOcmd(quint16 fromId, Np_NSO np_NSO);
    void on_pushButton_NSO_Panel_RereadSetting_clicked();
    void on_pushButton_NSO_Panel_Reboot_clicked();

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

    void On_NewData_RecordRaw(quint16 fromId, double timeStamp, float temperature, float wx, float wy,
                              float wz, float ax, float ay, float az, float mx, float my, float mz);
    void On_NewData_RecordQ_s1_e(quint16 fromId, double timeStamp, float q1, float q2, float q3, float q4);
    void On_NewData_RecordRPY(quint16 fromId, double timeStamp, float roll, float pitch, float yaw);
    void On_NewData_RecordEuler_s1_e(quint16 fromId, double timeStamp, float psi, float theta, float phi);
    void On_NewData_RecordGravity(quint16 fromId, double timeStamp, float gx, float gy, float gz);

    void On_NewData_GyroRaw(quint16 fromId, float wx, float wy, float wz, double timeStamp);
    void On_NewData_AccRaw(quint16 fromId, float ax, float ay, float az, double timeStamp);
    void On_NewData_MagRaw(quint16 fromId, float mx, float my, float mz, double timeStamp);
    void On_NewData_AccForXY(quint16 fromId, float ax, float ay, float az, double timeStamp);
    void On_NewData_MagForXY(quint16 fromId, float mx, float my, float mz, double timeStamp);
    void On_UpdateRPY(quint16 fromId, float roll, float pitch, float yaw);
    void On_UpdateAttitude(quint16 fromId, float q1, float q2, float q3, float q4);
    void On_ChartDeck_RPY_Quit();
    void On_UpdateCheckState_Yt();
    void On_UpdateCheckState_XY();

    // Whether the link to the nodes is open. Closed, the window says so and marks its values stale;
    // reopened, it asks for the node's settings again.
    void On_LinkState(bool open);

    // The outcome of a settings write to this node, as the link learnt it; failure says why it was not
    // acknowledged when the link knows.
    void On_SettingsWriteResult(quint16 nodeId, bool acknowledged, const QString &failure = QString());

protected:
    void closeEvent(QCloseEvent *event) override;

public slots:
    // Where the replay is: seconds played of the total; ended at its end.
    void On_ReplayPosition(double played, double total, bool ended);

private slots:
    void On_TimerISR_RequestImuSetting();
    void On_TimerISR_CompassSilence();
    void On_TreeFrame();
    void On_DisplayFrame();

    void on_pushButton_Settings_SaveFile_clicked();
    void on_pushButton_Settings_LoadFile_clicked();
    void on_pushButton_Hide_Config_Pannel_clicked();
    void on_pushButton_Hide_TreeView_clicked();
    void on_pushButton_Mdi_Arrange_BoxMode_clicked();
    void on_pushButton_Mdi_Arrange_TitileMode_clicked();
    void on_pushButton_OpenClose_CalibPannel_clicked();

    void on_checkBox_En_Sensor_Gyro_stateChanged(int state);
    void on_checkBox_En_Sensor_Acc_stateChanged(int state);
    void on_checkBox_En_Sensor_Mag_stateChanged(int state);
    void on_checkBox_Apply_CalibT_stateChanged(int state);
    void on_checkBoxd_Fusion_Param_Gyro_Enable_GyroErrFilter_stateChanged(int state);
    void on_checkBoxd_Fusion_Param_Mag_Enable_SAFilter_stateChanged(int state);
    void on_checkBox_Output_RawData_stateChanged(int state);
    void on_checkBox_Output_Status_stateChanged(int state);
    void on_checkBox_Output_Q_S1_S_stateChanged(int state);
    void on_checkBox_Output_Euler_S1_S_stateChanged(int state);
    void on_checkBox_Output_Q_S1_E_stateChanged(int state);
    void on_checkBox_Output_Euler_S1_E_stateChanged(int state);
    void on_checkBox_Output_RPY_stateChanged(int state);
    void on_checkBox_Output_Gravity_stateChanged(int state);
    void on_checkBox_Output_Combo_stateChanged(int state);
    void on_checkBox_En_IF_UART1_stateChanged(int state);
    void on_checkBox_En_IF_USB_UART2_stateChanged(int state);
    void on_checkBox_En_IF_CANbus1_stateChanged(int state);
    void on_checkBox_En_IF_CANbus1_to_UART_ByPass_stateChanged(int state);
    void on_checkBox_Output_RawData_DispInXYMode_stateChanged(int state);
    void on_comboBox_Serial_UART2_Baudrate_currentIndexChanged(const QString &text);
    void on_comboBox_Serial_CAN1_Baudrate_currentIndexChanged(const QString &text);
    void on_comboBox_IF_ODR_currentIndexChanged(const QString &text);
    void on_comboBox_Serial_Checksum_Type_currentIndexChanged(const QString &text);
    void on_spinBox_IF_SilentTime_valueChanged(int value);
    void on_spinBox_IF_InhititTime_valueChanged(int value);
    void on_radioButton_Serial_DataFormat_Ascii_clicked();
    void on_radioButton_Serial_DataFormat_Binary_clicked();
    void on_radioButton_BootMode_AutoSelect_clicked();
    void on_radioButton_BootMode_StaticBoot_clicked();
    void on_radioButton_BootMode_DynamicBoot_clicked();
    void on_dial_Fusion_Param_Acc_valueChanged(int value);
    void on_doubleSpinBox_Fusion_Param_Acc_valueChanged(double value);
    void on_dial_Fusion_Param_Mag_valueChanged(int value);
    void on_doubleSpinBox_Fusion_Param_Mag_valueChanged(double value);
    void on_pushButton_SaveSettingToFlash_clicked();
    void on_commandLinkButton_UseDefaultSetting_clicked();

    void On_ChartDeck_Yt_Quit();
    void On_ChartDeck_XY_Quit();
    void On_BoxView_Quit();

    void on_pushButton_Record_StartPause_clicked();
    void on_pushButton_Record_Save_clicked();
    void on_pushButton_Record_Mark_clicked();
    void on_checkBox_Record_CSV_toggled(bool on);

    void on_pushButton_Run_CalibW_Only_clicked();
    void on_pushButton_CalibForce_Run_clicked();
    void on_pushButton_CalibForce_Finish_clicked();
    void on_pushButton_CalibForce_Revoke_clicked();
    void on_pushButton_CalibCompass_Run_clicked();
    void on_pushButton_CalibCompass_Revoke_clicked();
    void on_pushButton_CalibCompass_QuickHeadingFix_Start_clicked();
    void on_pushButton_CalibCompass_QuickHeadingFix_Finish_clicked();
    void on_pushButton_CalibCompass_QuickHeadingFix_OneClick_clicked();
    void on_pushButton_Run_CalibT_New_clicked();
    void on_pushButton_Run_CalibT_ClearAll_clicked();
    void on_pushButton_Run_CalibT_Save_clicked();
    void on_dial_CalibForce_Confidence_AutoOrManual_valueChanged(int value);
    void on_dial_CalibCompass_Confidence_AutoOrManual_valueChanged(int value);
    void on_dial_CalibForce_Confidence_valueChanged(int value);
    void on_spinBox_CalibForce_Confidence_valueChanged(int value);
    void on_dial_CalibCompass_Confidence_valueChanged(int value);
    void on_spinBox_CalibCompass_Confidence_valueChanged(int value);
    void on_checkBox_CalibCompass_UpdateGyroZError_stateChanged(int state);
    void on_dial_CalibForce_Limits_valueChanged(int value);
    void on_doubleSpinBox_CalibForce_Limits_valueChanged(double value);
    void on_dial_CalibCompass_OneClickFix_valueChanged(int value);
    void on_doubleSpinBox_CalibCompass_OneClickFix_valueChanged(double value);
    void on_toolButton_CalibT_ManualPanel_clicked();

    void on_pushButton_OpenClose_CanPannel_clicked();
    void on_pushButton_OpenClose_SNO_ProfilePanel_clicked();
    void on_checkBox_CanPanel_En_NimboPipeline_stateChanged(int state);
    void on_checkBox_CanPanel_En_NSO_stateChanged(int state);
    void on_checkBox_CanPanel_En_NPO_CH1_stateChanged(int state);
    void on_checkBox_CanPanel_En_NPO_CH2_stateChanged(int state);
    void on_checkBox_CanPanel_En_NPO_CH3_stateChanged(int state);
    void on_checkBox_CanPanel_En_NPO_CH4_stateChanged(int state);
    void on_checkBox_checkBox_CanPanel_UseExtID_NimboPipeline_stateChanged(int state);
    void on_checkBox_CanPanel_UseExtID_NimboServiceObject_stateChanged(int state);
    void on_checkBox_CanPanel_useExtID_NimboProcessObject_stateChanged(int state);
    void on_checkBox_CanPanel_enable_NSO_AckUnknownObjID_stateChanged(int state);
    void on_checkBox_En_NimboPipelineSuperUserID_stateChanged(int state);
    void on_checkBox_ProfilePanel_EnVerticalInstall_stateChanged(int state);
    void on_spinBox_ProfilePanel_stdProfile_Code_valueChanged(int value);
    void on_spinBox_ProfilePanel_customizedProfile_Code_valueChanged(int value);
    void on_comboBox_CanPanel_Serial_CAN1_Baudrate_currentIndexChanged(const QString &text);
    void on_spinBox_CanPanel_NSO_Addr_Download_valueChanged(int value);
    void on_spinBox_CanPanel_NSO_Addr_Upload_valueChanged(int value);
    void on_spinBox_CanPanel_NPO_CH1_Addr_Download_valueChanged(int value);
    void on_spinBox__CanPanel_NPO_CH1_Addr_Upload_valueChanged(int value);
    void on_spinBox_CanPanel_NPO_CH2_Addr_Download_valueChanged(int value);
    void on_spinBox__CanPanel_NPO_CH2_Addr_Upload_valueChanged(int value);
    void on_spinBox_CanPanel_NPO_CH3_Addr_Download_valueChanged(int value);
    void on_spinBox__CanPanel_NPO_CH3_Addr_Upload_valueChanged(int value);
    void on_spinBox_CanPanel_NPO_CH4_Addr_Download_valueChanged(int value);
    void on_spinBox__CanPanel_NPO_CH4_Addr_Upload_valueChanged(int value);
    void on_pushButton_CanPanel_NSO_Addr_ApplyChanges_clicked();
    void on_pushButton_CanPanel_SaveSetting_clicked();
    void on_pushButton_CanPanel_ClosePanel_clicked();

    void on_commandLinkButton_Export_SerialLib_clicked();

private:
    void ApplyModelStep(const ModelProfile::Step &step);
    void BindSettingsWidgets();
    void LoadImuSettingToGUI();
    void LoadImuSettingFromGUI();
    void SetSaveButtonPending(bool pending);
    void SendSettings();
    void WriteSettingsPlan(Np_Settings settings, int changes, bool saveToFlash, const QString &fileName);
    void TreeChanged();
    // The window's values are live, or stale since the node fell silent or the link closed.
    void SetStale(const QString &why);
    void ClearStale();
    void UpdateStaleOverlays();
    // The node is current again (link back, node restarted): ask for its settings afresh.
    void RestartSettingsRequests();
    // Which display windows the settings shown in the form call for.
    void OpenDisplaysForOutputs();
    void RefreshShownPlots();
    void ApplyPlotFonts(ChartDeck *deck);
    QMdiSubWindow *AddDisplay(QWidget *display, const char *title, const char *icon);
    // Places the display windows opened since the last call (see sensorpanel_displays.cpp).
    void ArrangeNewDisplays();
    void CloseDisplay(QWidget *display, QCheckBox *box);
    void RecordRow(quint16 fromId, const char *key, double seconds, std::initializer_list<double> values);
    // The first line of a CSV recording: the node and the start, in UTC.
    QString CsvComment() const;
    void SendCalibCommand(const CalibrationCommands::Command &command);
    void ReenableCompassControls();
    void WatchCompassSilence(bool untilTheEnd);
    bool NsoExchange(quint8 command, quint16 index, quint8 subIndex, quint32 value);
    // True (and said in the status line) while an exchange waits: nothing else may start meanwhile.
    bool RefusedWhileBusy();
    void CloseAfterWait();
    ServiceObjects::CanSwitches CanSwitchesShown() const;
    QVector<QSpinBox *> NpoIdBoxes() const;
    void ShowCanSwitches(quint32 value);
    void ShowProfileSwitches(quint32 value);
    void SetCanSaveButtonPending();
    void OpenServiceObjectPage(int page);
    void CanSwitchChanged();
    void ProfileChanged();
    void CobIdEdited();
    void SayNoAnswer(const QString &text);
    QString CobIdsThatDoNotFit() const;

    quint16 nodeId;
    QString nodeName;
    QByteArray nodeUuid;
    QString firmwareText;
    ModelProfile model;
    Ui::SensorPanel *ui;
    int fontSize = 8;
    Np_Settings currentSettings{};
    QTimer *requestTimer = nullptr;
    int requestTicks = 0;
    bool loadingSettings = false;
    // The user picked a boot mode since the node's settings were shown.
    bool bootModeChosen = false;
    // The ranges the form gives the numeric settings fields, before a node's value widened them.
    struct FormRanges
    {
        int silentMaximum, inhibitMaximum;
        double accMinimum, accMaximum, magMinimum, magMaximum;
    } formRanges{};
    // The check boxes that stand for one settings bit each, with their bits.
    QVector<QPair<int, QCheckBox *>> bitBoxes;
    QString lastSettingsFile;
    QVector<QPointer<QMdiSubWindow>> newDisplays;
    // Whether each write sent and not yet answered asked the node to save in flash, oldest first.
    std::deque<bool> writesToFlash;

    QTimer *treeRefreshTimer = nullptr;
    int treeSilence = 0;
    // Records of this node seen, and at the last freshness check; when some were last seen.
    quint64 recordsSeen = 0;
    quint64 recordsAtCheck = 0;
    int silentChecks = 0;
    QTime lastRecordAt;
    bool stale = false;
    bool linkOpen = true;
    double lastUptime = -1.0;
    QLabel *linkState = nullptr;
    QWidget *BuildReplayBar();
    void ShowReplayPlaying(bool playing);
    QWidget *replayBar = nullptr;
    bool replay = false;
    bool replayPlaying = false;
    std::unique_ptr<LiveTree> liveTree;
    // Writes the tree's newest values once per frame.
    QTimer *treeFrameTimer = nullptr;

    ChartDeck *ytWindow = nullptr;
    bool ytOpen = false;
    bool gyroYt = false, accYt = false, magYt = false;
    ChartDeck *xyWindow = nullptr;
    bool xyOpen = false;
    bool accXY = false, magXY = false;
    ChartDeck *rpyWindow = nullptr;
    bool rpyOpen = false;
    // The attitude window's sub-window until its first values lay it out again.
    QPointer<QMdiSubWindow> pendingRelayout;
    float rpyAngles[3] = {};
    bool rpyPending = false;
    QTimer *displayFrameTimer = nullptr;
    BoxView *boxView = nullptr;
    bool boxOpen = false;

    std::unique_ptr<Recorder> recorder;
    bool recording = false;
    bool paused = false;

    QTimer *calibTimer = nullptr;
    // A compass run or heading fix whose node says nothing for a while is given up.
    QTimer *compassSilence = nullptr;
    bool compassSilenceUntilEnd = false;

    // CAN and profile panel.
    bool nsoSettingsUnread = true;
    bool nsoReplied = false;
    bool nsoWaiting = false;
    ServiceObjects::State nsoState;
    struct PendingAnswer
    {
        quint16 index = 0;
        quint8 subIndex = 0;
        quint8 answer = 0;
        bool active = false;
        quint32 value = 0;
    } nsoPending;
    // The node refused the value of the latest exchange (an abort answer).
    bool nsoRefused = false;
    QEventLoop *nsoLoop = nullptr;
    // The window was closed while an exchange waited; it closes once the wait is over.
    bool closePending = false;

    bool quitSent = false;
};

#endif // SENSORPANEL_H
