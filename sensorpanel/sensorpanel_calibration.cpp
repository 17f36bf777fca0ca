// The calibration panel: each button sends one calibration command to the node; its answers, or the
// calibration timer running out, bring the controls back.

#include "sensorpanel.h"
#include "ui_sensorpanel.h"

#include "calibrationcommands.h"
#include "sensorpanellog.h"

#include <QtCore/QSignalBlocker>
#include <QtCore/QTimer>

namespace {

namespace C = CalibrationCommands;

// Clicks on the manual thermal panel's tool button before it reveals its buttons, counted over every
// node window: the buttons can erase factory data, so they are kept out of casual reach.
const int kManualPanelClicks = 12;
int manualPanelClicks = 0;

template <typename... Widgets>
void Enable(bool on, Widgets *...widgets)
{
    (widgets->setEnabled(on), ...);
}

template <typename... Widgets>
void Show(bool on, Widgets *...widgets)
{
    (widgets->setVisible(on), ...);
}

} // namespace

void SensorPanel::SendCalibCommand(const CalibrationCommands::Command &command)
{
    const int waitMs = C::AnswerWaitMs(command.calibType, command.ctrlVal);
    if (waitMs > 0)
        calibTimer->start(waitMs);
    emit Sig_NewCalibCmd(nodeId, command.calibType, command.ctrlVal, command.param1, command.param2,
                         command.param3);
}

void SensorPanel::on_pushButton_Run_CalibW_Only_clicked()
{
    ui->progressBar_Run_CalibW_Only->show();
    ui->pushButton_Run_CalibW_Only->setEnabled(false);
    ui->tabWidget_SettingPannel->setEnabled(false);
    ui->label_Calib_Status->setText(tr("Boot Calib: processing..."));
    SendCalibCommand(C::BootCalibration());
}

void SensorPanel::on_pushButton_CalibForce_Run_clicked()
{
    ui->pushButton_CalibForce_Run->setEnabled(false);
    ui->pushButton_CalibForce_Finish->setEnabled(true);
    ui->progressBar_CalibForce_Run->show();
    SendCalibCommand(C::StaticStart(ui->doubleSpinBox_CalibForce_Limits->value(),
                                    ui->dial_CalibForce_Confidence_AutoOrManual->value() != 0,
                                    ui->spinBox_CalibForce_Confidence->value()));
}

void SensorPanel::on_pushButton_CalibForce_Finish_clicked()
{
    ui->pushButton_CalibForce_Finish->setEnabled(false);
    SendCalibCommand(C::StaticFinish());
}

void SensorPanel::on_pushButton_CalibForce_Revoke_clicked()
{
    ui->pushButton_CalibForce_Revoke->setEnabled(false);
    SendCalibCommand(C::StaticRevoke());
}

void SensorPanel::on_pushButton_CalibCompass_Run_clicked()
{
    ui->progressBar_CalibCompas->setValue(0);
    ui->label_CalibCompass_Status->setText(tr(
        "Calibrating... \n\nTurning Kinetra (or the vehicle) on the horizontal plane (i.e. around the Z-Axis) "
        "for at least 360 degrees and meanwhile try to tilt pitch angle, if possible."));
    ui->label_Calib_Status->setText(tr("Magnetometer Calib: processing..."));
    ui->progressBar_CalibCompass_Run->show();
    ui->pushButton_CalibCompass_Run->setEnabled(false);
    ui->groupBox_CalibCompass_QuickHeadingFix_Auto->setEnabled(false);
    ui->groupBox_CalibCompass_QuickHeadingFix_Manual->setEnabled(false);
    // The node reports progress while the user turns it: no total time limit, but a node that says
    // nothing for a while is given up.
    SendCalibCommand(C::CompassRun(ui->checkBox_CalibCompass_SaveToFlash->isChecked()));
    WatchCompassSilence(true);
}

void SensorPanel::on_pushButton_CalibCompass_Revoke_clicked()
{
    ui->label_CalibCompass_Status->setText(tr("Revoking..."));
    ui->label_Calib_Status->setText(tr("Magnetometer Calib: revoking..."));
    ui->progressBar_CalibCompas->setValue(0);
    ui->progressBar_CalibCompass_Run->show();
    ui->pushButton_CalibCompass_Revoke->setEnabled(false);
    compassSilence->stop();
    SendCalibCommand(C::CompassRevoke(ui->checkBox_CalibCompass_SaveToFlash->isChecked()));
}

void SensorPanel::on_pushButton_CalibCompass_QuickHeadingFix_Start_clicked()
{
    ui->label_Calib_Status->setText(tr("Heading Fix: processing..."));
    ui->pushButton_CalibCompass_QuickHeadingFix_Start->setEnabled(false);
    ui->groupBox_CalibCompass_QuickHeadingFix_Manual->setEnabled(false);
    ui->progressBar_CalibCompass_QuickHeadingFix_Start->show();
    SendCalibCommand(C::HeadingFixStart(ui->checkBox_CalibCompass_UpdateGyroZError->isChecked(),
                                        ui->dial_CalibCompass_Confidence_AutoOrManual->value() != 0,
                                        ui->spinBox_CalibCompass_Confidence->value()));
    // Once the node has answered the start, it waits for the user's Finish: only its first answer counts.
    WatchCompassSilence(false);
}

void SensorPanel::on_pushButton_CalibCompass_QuickHeadingFix_Finish_clicked()
{
    ui->label_Calib_Status->setText(tr("Heading Fix: finishing..."));
    SendCalibCommand(C::HeadingFixFinish());
}

void SensorPanel::on_pushButton_CalibCompass_QuickHeadingFix_OneClick_clicked()
{
    ui->pushButton_CalibCompass_QuickHeadingFix_OneClick->setEnabled(false);
    ui->label_Calib_Status->setText(tr("Heading One-Click Fix: processing..."));
    SendCalibCommand(C::HeadingOneClick(ui->doubleSpinBox_CalibCompass_OneClickFix->value()));
}

void SensorPanel::on_pushButton_Run_CalibT_New_clicked()
{
    ui->label_Calib_Status->setText(tr("Thermal Calib: Acquire new sample..."));
    SendCalibCommand(C::ThermalNewSample());
}

void SensorPanel::on_pushButton_Run_CalibT_ClearAll_clicked() { SendCalibCommand(C::ThermalClearAll()); }

void SensorPanel::on_pushButton_Run_CalibT_Save_clicked() { SendCalibCommand(C::ThermalSave()); }

void SensorPanel::on_dial_CalibForce_Confidence_AutoOrManual_valueChanged(int value)
{
    Enable(value != 0, ui->dial_CalibForce_Confidence, ui->spinBox_CalibForce_Confidence,
           ui->label_CalibForce_Confidence);
}

void SensorPanel::on_dial_CalibCompass_Confidence_AutoOrManual_valueChanged(int value)
{
    Enable(value != 0, ui->dial_CalibCompass_Confidence, ui->spinBox_CalibCompass_Confidence,
           ui->label_CalibCompass_Confidence);
}

// The confidence dials and spin boxes show one value.
void SensorPanel::on_dial_CalibForce_Confidence_valueChanged(int value)
{
    ui->spinBox_CalibForce_Confidence->setValue(value);
}

void SensorPanel::on_spinBox_CalibForce_Confidence_valueChanged(int value)
{
    ui->dial_CalibForce_Confidence->setValue(value);
}

void SensorPanel::on_dial_CalibCompass_Confidence_valueChanged(int value)
{
    ui->spinBox_CalibCompass_Confidence->setValue(value);
}

void SensorPanel::on_spinBox_CalibCompass_Confidence_valueChanged(int value)
{
    ui->dial_CalibCompass_Confidence->setValue(value);
}

void SensorPanel::on_checkBox_CalibCompass_UpdateGyroZError_stateChanged(int state)
{
    ui->groupBox_CalibCompass_QuickHeadingFix_ConfidenceSetting->setEnabled(state == Qt::Checked);
}

void SensorPanel::on_dial_CalibForce_Limits_valueChanged(int value)
{
    ui->doubleSpinBox_CalibForce_Limits->setValue(value / 100.0);
}

void SensorPanel::on_doubleSpinBox_CalibForce_Limits_valueChanged(double value)
{
    ui->dial_CalibForce_Limits->setValue(qRound(value * 100));
}

// The one-click dial shows the heading turned by 180 degrees, so that north sits at the dial's bottom.
void SensorPanel::on_dial_CalibCompass_OneClickFix_valueChanged(int value)
{
    const QSignalBlocker blocker(ui->doubleSpinBox_CalibCompass_OneClickFix);
    ui->doubleSpinBox_CalibCompass_OneClickFix->setValue(value > 180 ? value - 180 : value + 180);
}

void SensorPanel::on_doubleSpinBox_CalibCompass_OneClickFix_valueChanged(double value)
{
    // The dial shows whole degrees; its echo must not round the heading typed in (90.5 stays 90.5).
    const QSignalBlocker blocker(ui->dial_CalibCompass_OneClickFix);
    const int whole = int(value);
    ui->dial_CalibCompass_OneClickFix->setValue(whole + 180 < 180 ? whole + 180 : whole - 180);
}

void SensorPanel::on_toolButton_CalibT_ManualPanel_clicked()
{
    if (manualPanelClicks <= kManualPanelClicks) {
        ++manualPanelClicks;
        return;
    }
    Show(true, ui->label_CalibT_ManualPanel_Notes, ui->pushButton_Run_CalibT_ClearAll,
         ui->pushButton_Run_CalibT_New, ui->pushButton_Run_CalibT_Save);
    Enable(true, ui->pushButton_Run_CalibT_ClearAll, ui->pushButton_Run_CalibT_New,
           ui->pushButton_Run_CalibT_Save);
    ui->groupBox_CalibT_ManualPanel->setTitle(tr("Manual Panel"));
}

void SensorPanel::WatchCompassSilence(bool untilTheEnd)
{
    compassSilenceUntilEnd = untilTheEnd;
    compassSilence->start(C::kSilentNodeMs);
}

void SensorPanel::On_TimerISR_CompassSilence()
{
    ReenableCompassControls();
    ui->progressBar_CalibCompas->setValue(0);
    ui->label_CalibCompass_Status->clear();
    ui->label_Calib_Status->setText(
        tr("Magnetometer Calib: <font color='red'>the node does not answer (nothing for %1 s).</font>")
            .arg(C::kSilentNodeMs / 1000));
}

void SensorPanel::ReenableCompassControls()
{
    Enable(true, ui->groupBox_CalibCompass_QuickHeadingFix_Auto,
           ui->groupBox_CalibCompass_QuickHeadingFix_Manual,
           ui->pushButton_CalibCompass_QuickHeadingFix_Start,
           ui->pushButton_CalibCompass_QuickHeadingFix_OneClick, ui->pushButton_CalibCompass_Run,
           ui->pushButton_CalibCompass_Revoke);
    ui->progressBar_CalibCompass_Run->hide();
    ui->progressBar_CalibCompass_QuickHeadingFix_Start->hide();
}

void SensorPanel::On_NewCalibCmd(quint16 fromId, Np_Calib np_Calib)
{
    // Only this node's answers: with several windows open, another node's result is not ours.
    if (fromId != nodeId)
        return;
    const uchar result = np_Calib.calibCmd;
    QLabel *status = ui->label_Calib_Status;
    switch (np_Calib.calibType) {
    case C::kThermalAnswer:
        if (result == C::kRevoked)
            status->setText(tr("Thermal Calib:<font color='#33a0c4'> Clear-RAM Successful.</font>"));
        else if (result == C::kSuccess)
            status->setText(tr("Thermal Calib:<font color='#33a0c4'> Operation Successful.</font>"));
        else
            status->setText(tr("Thermal Calib:<font color='red'> Operation Failed.</font>"));
        break;
    case C::kMagnetometerAnswer:
        if (compassSilence->isActive()) {
            if (result == C::kInProgress && compassSilenceUntilEnd)
                compassSilence->start();
            else
                compassSilence->stop();
        }
        if (result == C::kInProgress) {
            ui->progressBar_CalibCompas->setValue(np_Calib.calibCode);
            break;
        }
        calibTimer->stop();
        if (result == C::kSuccess)
            status->setText(tr("Compass Calib: <font color='#33a0c4'>Operation Successful.</font>"));
        else
            status->setText(tr("Compass Calib: <font color='red'>Operation Failed.</font>"));
        ReenableCompassControls();
        ui->label_CalibCompass_Status->clear();
        if (result == C::kSuccess)
            ui->progressBar_CalibCompas->setValue(100);
        break;
    case C::kBootAnswer:
        calibTimer->stop();
        ui->tabWidget_SettingPannel->setEnabled(true);
        qCDebug(lcNodeWindow) << (result == C::kSuccess ? "CalibB Successful!" : "CalibB Failed!");
        ui->progressBar_Run_CalibW_Only->hide();
        ui->pushButton_Run_CalibW_Only->setEnabled(true);
        status->setText(result == C::kSuccess ? tr("Boot Calib: <font color='#33a0c4'>Successful.</font>")
                                              : tr("Boot Calib: <font color='red'>Operation Failed.</font>"));
        break;
    case C::kStaticAnswer:
        calibTimer->stop();
        if (result == C::kInProgress) {
            status->setText(tr("Run-time Static Calib: Processing..."));
        } else if (result == C::kSuccess) {
            status->setText(tr("Run-time Static Calib: <font color='#33a0c4'>Successful.</font>"));
            ui->pushButton_CalibForce_Run->setEnabled(true);
            ui->pushButton_CalibForce_Finish->setEnabled(true);
            ui->progressBar_CalibForce_Run->hide();
        } else if (result == C::kRevoked) {
            status->setText(tr("Run-time Static Calib: <font color='#33a0c4'>Revoke Successful.</font>"));
            ui->pushButton_CalibForce_Revoke->setEnabled(true);
            ui->progressBar_CalibForce_Run->hide();
        } else {
            status->setText(tr("Run-time Static Calib:<font color='red'> Operation Failed.</font>"));
            ui->pushButton_CalibForce_Run->setEnabled(true);
            ui->pushButton_CalibForce_Finish->setEnabled(true);
            ui->pushButton_CalibForce_Revoke->setEnabled(true);
            ui->progressBar_CalibForce_Run->hide();
        }
        break;
    default: break;
    }
}

void SensorPanel::On_TimerISR_Calib()
{
    qCDebug(lcNodeWindow) << "On_TimerISR_Calib";
    calibTimer->stop();
    compassSilence->stop();
    Enable(true, ui->pushButton_Run_CalibW_Only, ui->pushButton_CalibForce_Run,
           ui->pushButton_CalibForce_Finish, ui->pushButton_CalibForce_Revoke,
           ui->pushButton_CalibCompass_Run, ui->pushButton_CalibCompass_Revoke,
           ui->groupBox_CalibCompass_QuickHeadingFix_Auto, ui->groupBox_CalibCompass_QuickHeadingFix_Manual,
           ui->pushButton_CalibCompass_QuickHeadingFix_Start,
           ui->pushButton_CalibCompass_QuickHeadingFix_OneClick, ui->tabWidget_SettingPannel);
    Show(false, ui->progressBar_Run_CalibW_Only, ui->progressBar_CalibForce_Run,
         ui->progressBar_CalibCompass_Run, ui->progressBar_CalibCompass_QuickHeadingFix_Start);
    ui->progressBar_CalibCompas->setValue(0);
    // Firmware before 44 sends no answer: its calibration has simply had its time.
    ui->label_Calib_Status->setText(
        model.AnswersCalibration()
            ? tr("Calibration: <font color='red'> Timeout. Try again.</font>")
            : tr("Calibration: should be <font color='#33a0c4'>completed</font> by now."));
}
