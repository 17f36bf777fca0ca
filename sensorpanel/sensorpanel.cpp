#include "sensorpanel.h"
#include "ui_sensorpanel.h"

#include "chartdeck.h"
#include "livetree.h"
#include "recorder.h"
#include "displayplacement.h"
#include "sensorpanellog.h"

#include <QtCore/QEventLoop>
#include <QtCore/QTimer>
#include <QtGui/QCloseEvent>
#include <QtGui/QFont>
#include <QtGui/QIcon>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QShortcut>
#include <QtWidgets/QVBoxLayout>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollArea>
#include <QtWidgets/QScrollBar>

Q_LOGGING_CATEGORY(lcNodeWindow, "gyrovane.nodewindow", QtInfoMsg)

namespace {

const int kRequestIntervalMs = 1000;
const int kRequestEveryTicks = 4;
const int kFirstHintTick = 6;
const int kLongHintTick = 15;
const int kTreeRefreshMs = 500;
const int kReadingNoticeMinimumHeight = 485;
// The attitude dials show values at most this much older than the newest record.
const int kDisplayFrameMs = 40;

// Keeps a scroll area as wide as its contents while there is room, the room left going to the display
// windows; where the node window is too narrow (four tiled on a small screen) it gives way down to
// kNarrowest and scrolls sideways, so that every control can still be reached.
class FitWidthToContents : public QObject
{
public:
    static constexpr int kNarrowest = 170;

    explicit FitWidthToContents(QScrollArea *area_i)
        : QObject(area_i)
        , area(area_i)
    {
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        area->widget()->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show) {
            const int whole = area->widget()->minimumSizeHint().width() + area->verticalScrollBar()->sizeHint().width() +
                              2 * area->frameWidth();
            area->setMinimumWidth(qMin(whole, kNarrowest));
            area->setMaximumWidth(whole);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QScrollArea *area;
};

} // namespace

SensorPanel::SensorPanel(quint16 nodeId_i, QWidget *parent)
    : QMainWindow(parent)
    , nodeId(nodeId_i)
    , ui(new Ui::SensorPanel)
    , liveTree(new LiveTree)
    , recorder(new Recorder)
{
    ui->setupUi(this);
    BindSettingsWidgets();
    setContentsMargins(0, 0, 0, 0);
    ui->groupBox_ReadingConfiguration->setMinimumHeight(kReadingNoticeMinimumHeight);
    ui->scrollArea_Setting->hide();
    ui->groupBox_ReadingConfiguration->hide();
    new FitWidthToContents(ui->scrollArea_Setting);

    // Above everything, across the window: whether the node's values are live.
    linkState = new QLabel(this);
    linkState->setObjectName(QStringLiteral("label_LinkState"));
    linkState->setStyleSheet(QStringLiteral("QLabel { color: #ff6a50; font-weight: bold; padding: 2px 6px; }"));
    linkState->setWordWrap(true);
    linkState->hide();
    // Under it, for a replayed recording: the player.
    auto *top = new QWidget(this);
    auto *topColumn = new QVBoxLayout(top);
    topColumn->setContentsMargins(0, 0, 0, 0);
    topColumn->setSpacing(0);
    topColumn->addWidget(linkState);
    topColumn->addWidget(BuildReplayBar());
    setMenuWidget(top);

    // M sets a marker while the window has the focus (a text field takes its M as a letter).
    auto *mark = new QShortcut(QKeySequence(Qt::Key_M), this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(mark, &QShortcut::activated, this, &SensorPanel::on_pushButton_Record_Mark_clicked);

    requestTimer = new QTimer(this);
    connect(requestTimer, &QTimer::timeout, this, &SensorPanel::On_TimerISR_RequestImuSetting);
    requestTimer->start(kRequestIntervalMs);
    requestTicks = 0;

    ui->label_IF_Checksum->hide();
    ui->comboBox_Serial_Checksum_Type->hide();
    ui->checkBox_En_IF_CANbus1_to_UART_ByPass->hide();
    ui->pushButton_Hide_TreeView->hide();
    ui->dockWidget_TreeView->setGeometry(0, 0, 100, 200);
    ui->mdiArea->setWindowIcon(QIcon(tr(":/images/Cube.ico")));
    new DisplayPlacement::AreaFitter(ui->mdiArea);
    // Room for four node windows side by side on a 1920-pixel screen: the tree scrolls sideways
    // below its usual width, the library list shows fewer letters.
    ui->treeWidget_DataDisplay->setMinimumWidth(180);
    // Its whole text where there is room; narrower (down to a few letters) where there is not.
    ui->comboBox_Export_SerialLib_Type->setMinimumWidth(60);
    // The recorder's message spans the frame and has room for four lines whatever it says, so that a
    // message that wraps never moves the buttons above it under the pointer.
    ui->gridLayout_Recorder->removeWidget(ui->label_Record_Msg);
    ui->gridLayout_Recorder->addWidget(ui->label_Record_Msg, 5, 0, 1, 2);
    ui->label_Record_Msg->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui->label_Record_Msg->setFixedHeight(4 * ui->label_Record_Msg->fontMetrics().lineSpacing());
    ui->label_Record_Msg->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed); // nor widens the dock
    // The CAN panel's retry buttons take the column's width whatever their text says (a failure's long
    // text must not widen the column and push the displays aside); the text is in the tooltip too.
    for (QPushButton *retry : {ui->pushButton_NSO_Panel_RereadSetting, ui->pushButton_CanPanel_SaveSetting})
        retry->setSizePolicy(QSizePolicy::Ignored, retry->sizePolicy().verticalPolicy());
    // The style draws no focus on command links; a keyboard user must see where the focus is.
    for (QWidget *link : {static_cast<QWidget *>(ui->commandLinkButton_UseDefaultSetting),
                          static_cast<QWidget *>(ui->commandLinkButton_Export_SerialLib)})
        link->setStyleSheet(QStringLiteral("QCommandLinkButton:focus { border: 1px solid #31c8fa; border-radius: 3px; }"));

    ui->comboBox_Serial_UART1_Baudrate_Dummy->hide();
    ui->checkBox_Output_Combo->hide();
    ui->line_Output_Combo_1->hide();
    ui->line_Output_Combo_2->hide();
    ui->pushButton_Run_Calib->setEnabled(false);
    ui->pushButton_Run_Calib_NextStage->setText(tr("Open Claib UI"));
    ui->pushButton_Run_Calib->setText(tr("Close Calib UI"));
    ui->tabWidget_Calib_Legacy->removeTab(0);
    ui->tabWidget_Calib_Legacy->hide();
    ui->label_CalibT_ManualPanel_Notes->hide();
    ui->checkBox_Apply_CalibT->hide();
    ui->pushButton_Run_CalibT_ClearAll->hide();
    ui->pushButton_Run_CalibT_New->hide();
    ui->pushButton_Run_CalibT_Save->hide();
    ui->frame_Calibration->hide();
    {
        // As wide as its longest group title, and no wider whatever a calibration's messages say:
        // the texts wrap instead of pushing the displays aside.
        int width = ui->frame_Calibration->minimumWidth();
        for (const QGroupBox *box : ui->frame_Calibration->findChildren<QGroupBox *>())
            width = qMax(width, box->fontMetrics().horizontalAdvance(box->title()) + 48);
        ui->frame_Calibration->setFixedWidth(width);
    }

    ui->pushButton_OpenClose_SNO_ProfilePanel->hide();
    ui->checkBox_Output_Euler_S1_S->hide();
    ui->checkBox_Output_Q_S1_S->hide();
    ui->label_Serial_DataFormat->hide();
    ui->radioButton_Serial_DataFormat_Ascii->hide();
    ui->radioButton_Serial_DataFormat_Binary->hide();
    ui->pushButton_SaveSettingToFlash->setEnabled(false);
    ui->comboBox_Serial_CAN1_Baudrate->hide();
    ui->stackedWidget_NSO->hide();
    ui->pushButton_OpenClose_CanPannel->hide();

    currentSettings.settingsWord = NpSettingsBit::Set(NpSettingsBit::Set(0, NpSettingsBit::outStatus, true),
                                                      NpSettingsBit::outRaw, true);
    ui->pushButton_CanPanel_Test->hide();
    ui->pushButton_CanPanel_SaveSetting->setEnabled(false);
    ui->pushButton_CanPanel_SaveSetting->setStyleSheet(QStringLiteral("background-color: black"));
    ui->progressBar_NSO_Panel->hide();
    for (QWidget *box : {static_cast<QWidget *>(ui->spinBox_CanPanel_NSO_Addr_Download),
                         static_cast<QWidget *>(ui->spinBox_CanPanel_NSO_Addr_Upload),
                         static_cast<QWidget *>(ui->spinBox_CanPanel_NPO_CH1_Addr_Download),
                         static_cast<QWidget *>(ui->spinBox__CanPanel_NPO_CH1_Addr_Upload),
                         static_cast<QWidget *>(ui->spinBox_CanPanel_NPO_CH2_Addr_Download),
                         static_cast<QWidget *>(ui->spinBox__CanPanel_NPO_CH2_Addr_Upload),
                         static_cast<QWidget *>(ui->spinBox_CanPanel_NPO_CH3_Addr_Download),
                         static_cast<QWidget *>(ui->spinBox__CanPanel_NPO_CH3_Addr_Upload),
                         static_cast<QWidget *>(ui->spinBox_CanPanel_NPO_CH4_Addr_Download),
                         static_cast<QWidget *>(ui->spinBox__CanPanel_NPO_CH4_Addr_Upload)}) {
        QFont font = box->font();
        font.setCapitalization(QFont::AllUppercase);
        box->setFont(font);
    }
    ui->pushButton_CanPanel_ClosePanel->setStyleSheet(QStringLiteral("background-color: #104353"));
    ui->pushButton_CanPanel_NSO_Addr_ApplyChanges->hide();
    // The panel refuses process-object ids below 16 when it reads them; the fields do not take them.
    for (QSpinBox *box : NpoIdBoxes())
        box->setMinimum(int(ServiceObjects::kMinNpoId));

    calibTimer = new QTimer(this);
    calibTimer->setSingleShot(true);
    connect(calibTimer, &QTimer::timeout, this, &SensorPanel::On_TimerISR_Calib);
    compassSilence = new QTimer(this);
    compassSilence->setSingleShot(true);
    connect(compassSilence, &QTimer::timeout, this, &SensorPanel::On_TimerISR_CompassSilence);
    ui->progressBar_Run_CalibW_Only->hide();
    ui->progressBar_CalibForce_Run->hide();
    ui->progressBar_CalibCompass_Run->hide();
    ui->progressBar_CalibCompass_QuickHeadingFix_Start->hide();
    ui->pushButton_Record_Save->setEnabled(false);

    Recorder_SaveAndCloseAllFiles();
    TreeWidget_Init();

    displayFrameTimer = new QTimer(this);
    displayFrameTimer->setSingleShot(true);
    displayFrameTimer->setInterval(kDisplayFrameMs);
    connect(displayFrameTimer, &QTimer::timeout, this, &SensorPanel::On_DisplayFrame);

    treeRefreshTimer = new QTimer(this);
    connect(treeRefreshTimer, &QTimer::timeout, this, &SensorPanel::On_TimerISR_RefreshTreeData);
    treeRefreshTimer->start(kTreeRefreshMs);

    LoadSettingFromGUI();
}

SensorPanel::~SensorPanel()
{
    // Deleted without being closed (with the program, say): the recording still ends complete.
    if (recording) {
        int notOpen = 0;
        recorder->SaveAndCloseAll(&notOpen, nullptr);
    }
    delete ui;
}

void SensorPanel::Set_NodeId(quint16 id)
{
    nodeId = id;
    Update_Title();
}

void SensorPanel::Set_NodeName(const QString &name)
{
    nodeName = name;
    Update_Title();
}

void SensorPanel::Set_NodeUuid(const QByteArray &uuid) { nodeUuid = uuid; }

void SensorPanel::Update_Title()
{
    const QString title = tr("%1  [%2]").arg(nodeName).arg(nodeId);
    setWindowTitle(title);
    ui->dockWidget_TreeView->setWindowTitle(title);
}

void SensorPanel::Set_FontSize(int size)
{
    fontSize = size;
    setFont(QFont(tr("Arial")));
    ui->treeWidget_DataDisplay->setFont(QFont(tr("Arial"), size));
    ui->treeWidget_DataDisplay->resizeColumnToContents(0);
    for (ChartDeck *deck : {YtDisplay(), XYDisplay(), RPYDisplay()})
        if (deck)
            ApplyPlotFonts(deck);
}

void SensorPanel::On_TimerISR_RequestImuSetting()
{
    const int n = ++requestTicks;
    if (n == 1)
        ui->groupBox_ReadingConfiguration->show();
    if (n == kFirstHintTick)
        ui->label_groupBox_ReadingConfiguration->setText(
            tr("Still trying... Is Kinetra properly connected? Is the port open and baudrate correct?"));
    if (n == kLongHintTick && model.SendsOdr())
        ui->label_groupBox_ReadingConfiguration->setText(
            tr("Still trying... Is Kinetra properly connected? Is the port open and baudrate correct?\n\n"
               "Another possible reason for this is that the output data rate (ODR) is too high and Baudrate "
               "too low, therefore some data communication is blocked. Just wait a few more seconds if this "
               "is the case."));
    if (n % kRequestEveryTicks == 0)
        emit Sig_RequestImuSetting(nodeId);
}

void SensorPanel::on_pushButton_Hide_Config_Pannel_clicked()
{
    if (ui->pushButton_Hide_Config_Pannel->text() == tr("▲")) {
        ui->scrollArea_Setting->hide();
        ui->pushButton_Hide_Config_Pannel->setText(tr("▼"));
    } else {
        ui->scrollArea_Setting->show();
        ui->pushButton_Hide_Config_Pannel->setText(tr("▲"));
    }
}

void SensorPanel::on_pushButton_Hide_TreeView_clicked()
{
    if (ui->pushButton_Hide_TreeView->text() == tr("►")) {
        ui->treeWidget_DataDisplay->hide();
        ui->pushButton_Hide_TreeView->setText(tr("◄"));
    } else {
        ui->treeWidget_DataDisplay->show();
        ui->pushButton_Hide_TreeView->setText(tr("►"));
    }
}

void SensorPanel::on_pushButton_Mdi_Arrange_BoxMode_clicked() { ui->mdiArea->tileSubWindows(); }

void SensorPanel::on_pushButton_Mdi_Arrange_TitileMode_clicked() { ui->mdiArea->cascadeSubWindows(); }

void SensorPanel::on_pushButton_OpenClose_CalibPannel_clicked()
{
    if (ui->frame_Calibration->isHidden()) {
        ui->frame_Calibration->show();
        ui->pushButton_OpenClose_CalibPannel->setText(tr("Calibration\nPanel ✕"));
        // By palette, not style sheet: a style sheet changes the button's margins and so its size.
        QPalette open = ui->pushButton_OpenClose_CalibPannel->palette();
        open.setColor(QPalette::Button, QColor(0x83, 0x63, 0x02));
        ui->pushButton_OpenClose_CalibPannel->setPalette(open);
    } else {
        ui->frame_Calibration->hide();
        ui->pushButton_OpenClose_CalibPannel->setText(tr("Calibration\nPanel ►"));
        ui->pushButton_OpenClose_CalibPannel->setPalette(QPalette());
    }
}

void SensorPanel::closeEvent(QCloseEvent *event)
{
    // An exchange with the node waits in a local event loop further up the stack: end the wait and
    // close once it has unwound, so that nothing is deleted under it.
    if (nsoWaiting) {
        closePending = true;
        if (nsoLoop)
            nsoLoop->quit();
        event->ignore();
        return;
    }
    // Closing ends a recording the way Save does: every row written, every matrix closed.
    if (recording)
        on_pushButton_Record_Save_clicked();
    // A window closed twice (by the user and by its MDI area) is still one node leaving.
    if (!quitSent) {
        quitSent = true;
        emit Sig_Quit(nodeUuid);
    }
    event->accept();
}
