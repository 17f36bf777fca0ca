// The settings panel: the node's Np_Settings record shown in and edited through the widgets.

#include "sensorpanel.h"
#include "ui_sensorpanel.h"

#include "sensorpanellog.h"
#include "settingsmapping.h"

#include <QtCore/QTimer>

namespace {

const char *const kSaveIdleStyle = "background-color: black";
const char *const kSavePendingStyle = "background-color: #836302";

bool Checked(const QCheckBox *box) { return box->checkState() == Qt::Checked; }

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
}

void SensorPanel::LoadSettingFromGUI() { LoadImuSettingFromGUI(); }

void SensorPanel::BindSettingsWidgets()
{
    namespace M = SettingsMapping;
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

    ui->comboBox_Serial_Checksum_Type->setCurrentText(M::ChecksumText(GetField(word, checksumType, 3)));
    ui->comboBox_Serial_UART2_Baudrate->setCurrentText(M::Uart2Text(currentSettings.uart2Baud));
    ui->comboBox_Serial_CAN1_Baudrate->setCurrentText(M::CanText(currentSettings.can1Bitrate));
    ui->spinBox_IF_SilentTime->setValue(currentSettings.silentTime);
    ui->spinBox_IF_InhititTime->setValue(currentSettings.inhibitTime);
    ui->comboBox_IF_ODR->setCurrentText(M::OdrText(qint16(currentSettings.odr)));
    ui->doubleSpinBox_Fusion_Param_Acc->setValue(currentSettings.fusionParamAcc / 100.0);
    ui->doubleSpinBox_Fusion_Param_Mag->setValue(currentSettings.fusionParamMag / 100.0);

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
    ui->checkBox_Output_Euler_S1_S->setChecked(false);
    ui->checkBox_Output_Q_S1_S->setChecked(false);
    ui->checkBox_En_IF_CANbus1_to_UART_ByPass->setChecked(false);
    ui->comboBox_Serial_Checksum_Type->setCurrentIndex(2);
    if (ui->checkBox_Apply_CalibT->isHidden()) {
        ui->checkBox_Apply_CalibT->setChecked(false);
        qCDebug(lcNodeWindow) << "CalibT=" << (Checked(ui->checkBox_Apply_CalibT) ? "true" : "false");
    }

    for (const auto &entry : bitBoxes)
        word = Set(word, entry.first, Checked(entry.second));
    word = Set(word, binaryFormat, ui->radioButton_Serial_DataFormat_Binary->isChecked());
    const quint32 boot = ui->radioButton_BootMode_StaticBoot->isChecked()    ? 1u
                         : ui->radioButton_BootMode_DynamicBoot->isChecked() ? 2u
                                                                             : 0u;
    word = SetField(word, bootMode, 2, boot);
    word = SetField(word, checksumType, 3,
                    M::ChecksumFromText(ui->comboBox_Serial_Checksum_Type->currentText()));
    word = Set(word, 26, false);
    currentSettings.settingsWord = word;

    currentSettings.uart2Baud = M::Uart2FromText(ui->comboBox_Serial_UART2_Baudrate->currentText());
    currentSettings.can1Bitrate = M::CanFromText(ui->comboBox_Serial_CAN1_Baudrate->currentText());
    currentSettings.silentTime = quint16(ui->spinBox_IF_SilentTime->value());
    currentSettings.inhibitTime = quint16(ui->spinBox_IF_InhititTime->value());
    currentSettings.odr = quint16(model.SendsOdr() ? M::OdrFromText(ui->comboBox_IF_ODR->currentText()) : 0);
    // Rounded, not truncated: 2.30 is 229.99999999999997 in binary and must reach the node as 230.
    currentSettings.fusionParamAcc = quint16(qRound(ui->doubleSpinBox_Fusion_Param_Acc->value() * 100));
    currentSettings.fusionParamMag = quint16(qRound(ui->doubleSpinBox_Fusion_Param_Mag->value() * 100));

    emit Sig_NewImuSetting(nodeId, currentSettings);
}
