// The settings panel: the node's Np_Settings record shown in and edited through the widgets.

#include "sensorpanel.h"
#include "ui_sensorpanel.h"

#include "sensorpanellog.h"
#include "livetree.h"
#include "settingsmapping.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaMethod>
#include <QtCore/QSignalBlocker>
#include <QtCore/QTimer>
#include <QtWidgets/QDial>
#include <QtWidgets/QInputDialog>
#include <QtWidgets/QMessageBox>

namespace {

const char *const kSaveIdleStyle = "background-color: black";
const char *const kSavePendingStyle = "background-color: #836302";

bool Checked(const QCheckBox *box) { return box->checkState() == Qt::Checked; }

// An item that shows a value of the node's which the list lacks, holding the field's raw value.
const int kNodeValueRole = Qt::UserRole + 7;

// Selects the item whose text is `text`; where there is none, an extra item, marked as the node's
// own, shows the value and keeps it (raw) so that it goes back to the node as it came.
void SelectOrKeep(QComboBox *combo, const QString &text, const QString &shown, quint32 raw)
{
    const QSignalBlocker blocker(combo);
    for (int i = combo->count() - 1; i >= 0; --i)
        if (combo->itemData(i, kNodeValueRole).isValid())
            combo->removeItem(i);
    const int found = combo->findText(text);
    if (found >= 0) {
        combo->setCurrentIndex(found);
        return;
    }
    combo->addItem(QCoreApplication::translate("SensorPanel", "%1 (node's own)").arg(shown));
    combo->setItemData(combo->count() - 1, raw, kNodeValueRole);
    combo->setCurrentIndex(combo->count() - 1);
}

// The raw value of a kept item, or the item text read by `fromText`.
template <typename FromText>
quint32 ComboValue(const QComboBox *combo, FromText fromText)
{
    const QVariant raw = combo->currentData(kNodeValueRole);
    return raw.isValid() ? raw.toUInt() : quint32(fromText(combo->currentText()));
}

// A spin box (and its dial) shows the node's value even where the form's range would cut it.
void Reach(QSpinBox *box, int formMinimum, int formMaximum, int value)
{
    box->setRange(qMin(formMinimum, value), qMax(formMaximum, value));
}

void Reach(QDoubleSpinBox *box, QDial *dial, double formMinimum, double formMaximum, double value)
{
    box->setRange(qMin(formMinimum, value), qMax(formMaximum, value));
    dial->setRange(qRound(box->minimum() * 100), qRound(box->maximum() * 100));
}

} // namespace

void SensorPanel::On_NewImuSettings(quint16 fromId, Np_Settings np_Settings)
{
    if (fromId != nodeId)
        return;
    ui->scrollArea_Setting->show();
    ui->groupBox_ReadingConfiguration->hide();
    requestTimer->stop();
    currentSettings = np_Settings;
    LoadImuSettingToGUI();
    // Rows of outputs the node no longer sends are not left showing their last values.
    liveTree->BlankOutputsOff(np_Settings.settingsWord);
}

void SensorPanel::RestartSettingsRequests()
{
    // Whatever the window knew of the node's settings and of a write to it may be out of date.
    ui->label_Settings_WriteStatus->clear();
    ui->label_Settings_WriteStatus->setStyleSheet(QString());
    ui->scrollArea_Setting->hide();
    requestTicks = 0;
    requestTimer->start();
    On_TimerISR_RequestImuSetting();
    emit Sig_RequestImuSetting(nodeId);
}

void SensorPanel::LoadSettingFromGUI() { LoadImuSettingFromGUI(); }

void SensorPanel::BindSettingsWidgets()
{
    namespace M = SettingsMapping;
    formRanges = {ui->spinBox_IF_SilentTime->maximum(), ui->spinBox_IF_InhititTime->maximum(),
                  ui->doubleSpinBox_Fusion_Param_Acc->minimum(), ui->doubleSpinBox_Fusion_Param_Acc->maximum(),
                  ui->doubleSpinBox_Fusion_Param_Mag->minimum(), ui->doubleSpinBox_Fusion_Param_Mag->maximum()};
    // A dial turned sends once, where it is let go; the spin box follows it meanwhile.
    for (QDial *dial : {ui->dial_Fusion_Param_Acc, ui->dial_Fusion_Param_Mag})
        dial->setTracking(false);
    connect(ui->dial_Fusion_Param_Acc, &QDial::sliderMoved, this, [this](int value) {
        const QSignalBlocker blocker(ui->doubleSpinBox_Fusion_Param_Acc);
        ui->doubleSpinBox_Fusion_Param_Acc->setValue(value / 100.0);
    });
    connect(ui->dial_Fusion_Param_Mag, &QDial::sliderMoved, this, [this](int value) {
        const QSignalBlocker blocker(ui->doubleSpinBox_Fusion_Param_Mag);
        ui->doubleSpinBox_Fusion_Param_Mag->setValue(value / 100.0);
    });
    for (int i = 0; i < M::kCheckBoxBitCount; ++i) {
        auto *box = findChild<QCheckBox *>(QString::fromLatin1(M::kCheckBoxBits[i].objectName));
        Q_ASSERT(box);
        bitBoxes.append({M::kCheckBoxBits[i].bit, box});
    }
}

void SensorPanel::SetSaveButtonPending(bool pending)
{
    ui->pushButton_SaveSettingToFlash->setEnabled(pending);
    ui->pushButton_SaveSettingToFlash->setStyleSheet(
        QString::fromLatin1(pending ? kSavePendingStyle : kSaveIdleStyle));
}

void SensorPanel::LoadImuSettingToGUI()
{
    using namespace NpSettingsBit;
    namespace M = SettingsMapping;
    loadingSettings = true;
    const quint32 word = currentSettings.settingsWord;

    for (const auto &entry : bitBoxes)
        entry.second->setChecked(Get(word, entry.first));
    switch (M::BootMode(word)) {
    case 1: ui->radioButton_BootMode_StaticBoot->setChecked(true); break;
    case 2: ui->radioButton_BootMode_DynamicBoot->setChecked(true); break;
    default: ui->radioButton_BootMode_AutoSelect->setChecked(true); break;
    }
    if (Get(word, binaryFormat))
        ui->radioButton_Serial_DataFormat_Binary->setChecked(true);
    else
        ui->radioButton_Serial_DataFormat_Ascii->setChecked(true);

    // The node's outputs open the windows that show them.
    gyroYt = accYt = magYt = Get(word, outRaw);
    if (Get(word, outRaw))
        Create_Yt_Display();
    if (Get(word, outQ_s1_e))
        Create_BoxView();
    if (Get(word, outRPY) || Get(word, outCombo))
        Create_RPY_Display();

    // Every field shows the node's value as it is, so that a change elsewhere sends it back unchanged.
    const Np_Settings &s = currentSettings;
    ui->comboBox_Serial_Checksum_Type->setCurrentText(M::ChecksumText(GetField(word, checksumType, 3)));
    SelectOrKeep(ui->comboBox_Serial_UART2_Baudrate, M::Uart2Text(s.uart2Baud), M::Uart2Text(s.uart2Baud),
                 s.uart2Baud);
    const bool knownCanRate = M::CanFromText(M::CanText(s.can1Bitrate)) == s.can1Bitrate;
    SelectOrKeep(ui->comboBox_Serial_CAN1_Baudrate, knownCanRate ? M::CanText(s.can1Bitrate) : QString(),
                 tr("%1 kbps").arg(s.can1Bitrate / 10.0), s.can1Bitrate);
    if (model.SendsOdr())
        SelectOrKeep(ui->comboBox_IF_ODR, QString::number(s.odr), QString::number(s.odr), s.odr);
    Reach(ui->spinBox_IF_SilentTime, 0, formRanges.silentMaximum, s.silentTime);
    Reach(ui->spinBox_IF_InhititTime, 0, formRanges.inhibitMaximum, s.inhibitTime);
    ui->spinBox_IF_SilentTime->setValue(s.silentTime);
    ui->spinBox_IF_InhititTime->setValue(s.inhibitTime);
    Reach(ui->doubleSpinBox_Fusion_Param_Acc, ui->dial_Fusion_Param_Acc, formRanges.accMinimum,
          formRanges.accMaximum, s.fusionParamAcc / 100.0);
    Reach(ui->doubleSpinBox_Fusion_Param_Mag, ui->dial_Fusion_Param_Mag, formRanges.magMinimum,
          formRanges.magMaximum, s.fusionParamMag / 100.0);
    ui->doubleSpinBox_Fusion_Param_Acc->setValue(s.fusionParamAcc / 100.0);
    ui->doubleSpinBox_Fusion_Param_Mag->setValue(s.fusionParamMag / 100.0);
    bootModeChosen = false;

    RefreshShownPlots();
    loadingSettings = false;
    // What the node holds is what its flash holds until the user changes something.
    SetSaveButtonPending(false);
}

void SensorPanel::LoadImuSettingFromGUI()
{
    using namespace NpSettingsBit;
    namespace M = SettingsMapping;
    if (loadingSettings) {
        SetSaveButtonPending(false);
        return;
    }
    SetSaveButtonPending(true);

    quint32 word = Set(currentSettings.settingsWord, saveToFlash, false);
    {
        // Forced values: their own change handling would send the same record once more.
        const QSignalBlocker b1(ui->checkBox_Output_Euler_S1_S), b2(ui->checkBox_Output_Q_S1_S),
            b3(ui->checkBox_En_IF_CANbus1_to_UART_ByPass), b4(ui->comboBox_Serial_Checksum_Type),
            b5(ui->checkBox_Apply_CalibT);
        ui->checkBox_Output_Euler_S1_S->setChecked(false);
        ui->checkBox_Output_Q_S1_S->setChecked(false);
        ui->checkBox_En_IF_CANbus1_to_UART_ByPass->setChecked(false);
        ui->comboBox_Serial_Checksum_Type->setCurrentIndex(2);
        if (ui->checkBox_Apply_CalibT->isHidden()) {
            ui->checkBox_Apply_CalibT->setChecked(false);
            qCDebug(lcNodeWindow) << "CalibT=" << (Checked(ui->checkBox_Apply_CalibT) ? "true" : "false");
        }
    }

    for (const auto &entry : bitBoxes)
        word = Set(word, entry.first, Checked(entry.second));
    word = Set(word, binaryFormat, ui->radioButton_Serial_DataFormat_Binary->isChecked());
    const quint32 boot = ui->radioButton_BootMode_StaticBoot->isChecked()    ? 1u
                         : ui->radioButton_BootMode_DynamicBoot->isChecked() ? 2u
                                                                             : 0u;
    // A boot mode the buttons cannot show stays the node's until the user picks one.
    if (bootModeChosen || GetField(word, bootMode, 2) <= 2u)
        word = SetField(word, bootMode, 2, boot);
    word = SetField(word, checksumType, 3,
                    M::ChecksumFromText(ui->comboBox_Serial_Checksum_Type->currentText()));
    currentSettings.settingsWord = M::WithHostRules(word);
    OpenDisplaysForOutputs();

    currentSettings.uart2Baud = quint16(ComboValue(ui->comboBox_Serial_UART2_Baudrate, M::Uart2FromText));
    currentSettings.can1Bitrate = quint16(ComboValue(ui->comboBox_Serial_CAN1_Baudrate, M::CanFromText));
    currentSettings.silentTime = quint16(ui->spinBox_IF_SilentTime->value());
    currentSettings.inhibitTime = quint16(ui->spinBox_IF_InhititTime->value());
    currentSettings.odr = quint16(model.SendsOdr() ? ComboValue(ui->comboBox_IF_ODR, M::OdrFromText) : 0);
    // Rounded, not truncated: 2.30 is 229.99999999999997 in binary and must reach the node as 230.
    currentSettings.fusionParamAcc = quint16(qRound(ui->doubleSpinBox_Fusion_Param_Acc->value() * 100));
    currentSettings.fusionParamMag = quint16(qRound(ui->doubleSpinBox_Fusion_Param_Mag->value() * 100));

    RefreshShownPlots();
    SendSettings();
}

void SensorPanel::SendSettings()
{
    // Before the main window connects the window (while it is built and adapted), nothing goes out.
    if (isSignalConnected(QMetaMethod::fromSignal(&SensorPanel::Sig_NewImuSetting))) {
        ui->label_Settings_WriteStatus->setText(tr("Sending the settings to the node..."));
        ui->label_Settings_WriteStatus->setStyleSheet(QString());
        // Every write ends in one outcome, in order: the outcome then says which kind it was.
        writesToFlash.push_back(NpSettingsBit::Get(currentSettings.settingsWord, NpSettingsBit::saveToFlash));
    }
    emit Sig_NewImuSetting(nodeId, currentSettings);
}

void SensorPanel::On_SettingsWriteResult(quint16 toId, bool acknowledged, const QString &failure)
{
    if (toId != nodeId)
        return;
    const bool toFlash = !writesToFlash.empty() && writesToFlash.front();
    if (!writesToFlash.empty())
        writesToFlash.pop_front();
    if (ui->label_Settings_WriteStatus->text().isEmpty())
        return;
    if (acknowledged) {
        ui->label_Settings_WriteStatus->setText(toFlash ? tr("Settings saved in the node's flash memory.")
                                                        : tr("Settings acknowledged by the node."));
        ui->label_Settings_WriteStatus->setStyleSheet(QStringLiteral("color: #33a0c4"));
    } else {
        ui->label_Settings_WriteStatus->setText(
            failure.isEmpty() ? tr("The node did not acknowledge the settings (4 attempts). Check the connection.")
                              : failure);
        ui->label_Settings_WriteStatus->setStyleSheet(QStringLiteral("color: #ff6a50"));
    }
}

void SensorPanel::on_pushButton_SaveSettingToFlash_clicked()
{
    using namespace NpSettingsBit;
    if (ui->dial_Fusion_Param_Acc->value() < 200 &&
        ui->checkBoxd_Fusion_Param_Gyro_Enable_GyroErrFilter->isChecked()) {
        QMessageBox box(QMessageBox::Information, windowTitle(), tr("Gain for accelerometer is too small"),
                        QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setInformativeText(
            tr("It is strongly recommended to set to at least 2.00 and preferably larger than 2.05 ") +
            tr("when GyroErrFilter is enabled.\n\n") +
            tr("Click OK to correct the value.\nClick CANCEL if it is on pupose."));
        if (box.exec() != QMessageBox::Cancel)
            ui->dial_Fusion_Param_Acc->setValue(210);
    }
    currentSettings.settingsWord = Set(currentSettings.settingsWord, saveToFlash, true);
    SetSaveButtonPending(false);
    SendSettings();
}

void SensorPanel::on_commandLinkButton_UseDefaultSetting_clicked()
{
    namespace M = SettingsMapping;
    QString scenario;
    if (model.AsksScenario()) {
        QStringList items;
        for (int i = 0; i < M::kScenarioCount; ++i)
            items << tr(M::kScenarios[i].item);
        bool ok = false;
        const QString chosen = QInputDialog::getItem(
            ui->scrollArea_Setting, tr("Use Default Setting"),
            tr("\nPlease select the Application Scenario\nfor optimum performance:") +
                QStringLiteral("                                                                      "),
            items, 0, false, &ok);
        if (!ok)
            return;
        scenario = QString::fromLatin1(M::kScenarios[items.indexOf(chosen)].key);
    }
    currentSettings = M::DefaultSettings(currentSettings, model, scenario);
    LoadImuSettingToGUI();
    LoadImuSettingFromGUI();
}

// Every settings widget sends the whole record as the widgets now show it.
void SensorPanel::on_checkBox_En_Sensor_Gyro_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_En_Sensor_Acc_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_En_Sensor_Mag_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_Apply_CalibT_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBoxd_Fusion_Param_Gyro_Enable_GyroErrFilter_stateChanged(int)
{
    LoadImuSettingFromGUI();
}
void SensorPanel::on_checkBoxd_Fusion_Param_Mag_Enable_SAFilter_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_Output_RawData_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_Output_Status_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_Output_Q_S1_S_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_Output_Euler_S1_S_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_Output_Q_S1_E_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_Output_Euler_S1_E_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_Output_RPY_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_Output_Gravity_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_Output_Combo_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_En_IF_UART1_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_En_IF_USB_UART2_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_En_IF_CANbus1_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_checkBox_En_IF_CANbus1_to_UART_ByPass_stateChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_comboBox_Serial_UART2_Baudrate_currentIndexChanged(const QString &)
{
    LoadImuSettingFromGUI();
}
void SensorPanel::on_comboBox_Serial_CAN1_Baudrate_currentIndexChanged(const QString &)
{
    LoadImuSettingFromGUI();
}
void SensorPanel::on_comboBox_IF_ODR_currentIndexChanged(const QString &) { LoadImuSettingFromGUI(); }
void SensorPanel::on_comboBox_Serial_Checksum_Type_currentIndexChanged(const QString &)
{
    LoadImuSettingFromGUI();
}
void SensorPanel::on_spinBox_IF_SilentTime_valueChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_spinBox_IF_InhititTime_valueChanged(int) { LoadImuSettingFromGUI(); }
void SensorPanel::on_radioButton_Serial_DataFormat_Ascii_clicked() { LoadImuSettingFromGUI(); }
void SensorPanel::on_radioButton_Serial_DataFormat_Binary_clicked() { LoadImuSettingFromGUI(); }
void SensorPanel::on_radioButton_BootMode_AutoSelect_clicked()
{
    bootModeChosen = true;
    LoadImuSettingFromGUI();
}
void SensorPanel::on_radioButton_BootMode_StaticBoot_clicked()
{
    bootModeChosen = true;
    LoadImuSettingFromGUI();
}
void SensorPanel::on_radioButton_BootMode_DynamicBoot_clicked()
{
    bootModeChosen = true;
    LoadImuSettingFromGUI();
}

// The gain dials and spin boxes move together; the spin box's change is the one that is sent.
void SensorPanel::on_dial_Fusion_Param_Acc_valueChanged(int value)
{
    ui->doubleSpinBox_Fusion_Param_Acc->setValue(value / 100.0);
}

void SensorPanel::on_doubleSpinBox_Fusion_Param_Acc_valueChanged(double value)
{
    ui->dial_Fusion_Param_Acc->setValue(qRound(value * 100));
    LoadImuSettingFromGUI();
}

void SensorPanel::on_dial_Fusion_Param_Mag_valueChanged(int value)
{
    ui->doubleSpinBox_Fusion_Param_Mag->setValue(value / 100.0);
}

void SensorPanel::on_doubleSpinBox_Fusion_Param_Mag_valueChanged(double value)
{
    ui->dial_Fusion_Param_Mag->setValue(qRound(value * 100));
    LoadImuSettingFromGUI();
}
