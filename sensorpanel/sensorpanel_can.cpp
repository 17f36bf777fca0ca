// The CAN and profile panel: the node's CAN-side configuration, read and written one service-object
// value at a time. Each exchange waits in a local event loop for the node's answer.

#include "sensorpanel.h"
#include "ui_sensorpanel.h"

#include "nimboflag.h"
#include "sensorpanellog.h"
#include "serviceobjects.h"
#include "settingsmapping.h"

#include <QtCore/QEventLoop>
#include <QtCore/QSignalBlocker>
#include <QtCore/QTimer>
#include <QtWidgets/QMdiSubWindow>
#include <QtWidgets/QMessageBox>

namespace S = ServiceObjects;

namespace {

const char *const kNoResponse =
    QT_TRANSLATE_NOOP("SensorPanel", "[ERROR] Device no response. Timeout. Check connection.");
const char *const kBusy = QT_TRANSLATE_NOOP(
    "SensorPanel", "[!] Still waiting for Kinetra to answer the previous request. Try again in a moment.");
const char *const kSavePending = "background-color: #836302";
const char *const kSaveIdle = "background-color: black";

} // namespace

S::CanSwitches SensorPanel::CanSwitchesShown() const
{
    S::CanSwitches s;
    s.pipeline = ui->checkBox_CanPanel_En_NimboPipeline->isChecked();
    s.nso = ui->checkBox_CanPanel_En_NSO->isChecked();
    s.npo[0] = ui->checkBox_CanPanel_En_NPO_CH1->isChecked();
    s.npo[1] = ui->checkBox_CanPanel_En_NPO_CH2->isChecked();
    s.npo[2] = ui->checkBox_CanPanel_En_NPO_CH3->isChecked();
    s.npo[3] = ui->checkBox_CanPanel_En_NPO_CH4->isChecked();
    s.pipelineExtId = ui->checkBox_checkBox_CanPanel_UseExtID_NimboPipeline->isChecked();
    s.nsoExtId = ui->checkBox_CanPanel_UseExtID_NimboServiceObject->isChecked();
    s.npoExtId = ui->checkBox_CanPanel_useExtID_NimboProcessObject->isChecked();
    s.nsoAckUnknownIds = ui->checkBox_CanPanel_enable_NSO_AckUnknownObjID->isChecked();
    s.pipelineSuperUser = ui->checkBox_En_NimboPipelineSuperUserID->isChecked();
    return s;
}

QVector<QSpinBox *> SensorPanel::NpoIdBoxes() const
{
    // Sub-index 2n is channel n + 1's download address, 2n + 1 its upload address.
    return {ui->spinBox_CanPanel_NPO_CH1_Addr_Download, ui->spinBox__CanPanel_NPO_CH1_Addr_Upload,
            ui->spinBox_CanPanel_NPO_CH2_Addr_Download, ui->spinBox__CanPanel_NPO_CH2_Addr_Upload,
            ui->spinBox_CanPanel_NPO_CH3_Addr_Download, ui->spinBox__CanPanel_NPO_CH3_Addr_Upload,
            ui->spinBox_CanPanel_NPO_CH4_Addr_Download, ui->spinBox__CanPanel_NPO_CH4_Addr_Upload};
}

void SensorPanel::ShowCanSwitches(quint32 value)
{
    const S::CanSwitches s = S::CanSwitches::FromValue(value);
    const struct
    {
        QCheckBox *box;
        bool on;
    } boxes[] = {
        {ui->checkBox_CanPanel_En_NimboPipeline, s.pipeline},
        {ui->checkBox_CanPanel_En_NSO, s.nso},
        {ui->checkBox_CanPanel_En_NPO_CH1, s.npo[0]},
        {ui->checkBox_CanPanel_En_NPO_CH2, s.npo[1]},
        {ui->checkBox_CanPanel_En_NPO_CH3, s.npo[2]},
        {ui->checkBox_CanPanel_En_NPO_CH4, s.npo[3]},
        {ui->checkBox_checkBox_CanPanel_UseExtID_NimboPipeline, s.pipelineExtId},
        {ui->checkBox_CanPanel_UseExtID_NimboServiceObject, s.nsoExtId},
        {ui->checkBox_CanPanel_useExtID_NimboProcessObject, s.npoExtId},
        {ui->checkBox_CanPanel_enable_NSO_AckUnknownObjID, s.nsoAckUnknownIds},
        {ui->checkBox_En_NimboPipelineSuperUserID, s.pipelineSuperUser},
    };
    for (const auto &entry : boxes) {
        const QSignalBlocker blocker(entry.box);
        entry.box->setChecked(entry.on);
    }
}

void SensorPanel::ShowProfileSwitches(quint32 value)
{
    const S::ProfileSwitches profile = S::ProfileSwitches::FromValue(value);
    const QSignalBlocker b1(ui->checkBox_ProfilePanel_EnVerticalInstall),
        b2(ui->spinBox_ProfilePanel_stdProfile_Code), b3(ui->spinBox_ProfilePanel_customizedProfile_Code);
    ui->checkBox_ProfilePanel_EnVerticalInstall->setChecked(profile.verticalInstall);
    ui->spinBox_ProfilePanel_stdProfile_Code->setValue(profile.standardCode);
    ui->spinBox_ProfilePanel_customizedProfile_Code->setValue(profile.customisedCode);
}

bool SensorPanel::NsoExchange(quint8 command, quint16 index, quint8 subIndex, quint32 value)
{
    // One exchange at a time: the reply flag and the awaited answer belong to the one waiting.
    if (nsoWaiting) {
        ui->label_NSO_Panel_Status->setText(tr(kBusy));
        return false;
    }
    Np_NSO request{};
    request.nsoCmd = command;
    request.nsoIndex = index;
    request.nsoSubIndex = subIndex;
    request.nsoValue = value;
    if (index == S::kCommand && subIndex == S::kSaveSub)
        request.header = Np_Header::Make(NP_CMD_NSO_, NP_ID_HOST_NSO_, nodeId);

    // The answer that ends this wait: the matching response to this very object.
    nsoPending = {index, subIndex, quint8(command == S::kReadRequest ? S::kReadResponse : S::kWriteAck), true,
                  value};
    nsoWaiting = true;
    nsoRefused = false;
    bool answered = false;
    for (int attempt = 0; attempt < S::kAttempts && !answered && !closePending; ++attempt) {
        nsoReplied = false;
        NimboFlag wait(&nsoReplied);
        QEventLoop loop;
        connect(&wait, &NimboFlag::quitEventLoop, &loop, &QEventLoop::quit);
        nsoLoop = &loop;
        wait.Start(S::AnswerWaitMs(index, subIndex), S::kPollMs);
        emit Sig_NSOcmd(nodeId, request);
        loop.exec();
        wait.Stop();
        nsoLoop = nullptr;
        answered = nsoReplied;
    }
    nsoPending.active = false;
    nsoWaiting = false;
    if (nsoRefused)
        answered = false;
    if (closePending)
        // Closed while waiting: the close goes ahead now that nothing here waits any more.
        QTimer::singleShot(0, this, &SensorPanel::CloseAfterWait);
    return answered;
}

bool SensorPanel::RefusedWhileBusy()
{
    if (!nsoWaiting)
        return false;
    ui->label_NSO_Panel_Status->setText(tr(kBusy));
    // The widget the user just changed goes back to what the node holds.
    ShowCanSwitches(nsoState.canSwitches);
    ShowProfileSwitches(nsoState.profileSwitches);
    const QSignalBlocker blocker(ui->comboBox_CanPanel_Serial_CAN1_Baudrate);
    ui->comboBox_CanPanel_Serial_CAN1_Baudrate->setCurrentText(
        SettingsMapping::CanText(quint16(nsoState.canBaudrate)));
    return true;
}

void SensorPanel::CloseAfterWait()
{
    closePending = false;
    if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget()))
        sub->close();
    else
        close();
}

void SensorPanel::SetCanSaveButtonPending()
{
    ui->pushButton_CanPanel_SaveSetting->setEnabled(true);
    ui->pushButton_CanPanel_SaveSetting->setStyleSheet(QString::fromLatin1(kSavePending));
}

bool SensorPanel::CanPanel_Download_CAN_Switches()
{
    ui->label_NSO_Panel_Status->setText(tr("[INFO] New CAN_Switches settings downloading..."));
    ui->progressBar_NSO_Panel->show();
    const bool ok = NsoExchange(S::kWriteRequest, S::kCanSwitches, S::kCanSwitchesSub,
                                CanSwitchesShown().Value());
    if (!ok)
        SayNoAnswer(tr(kNoResponse));
    ui->progressBar_NSO_Panel->hide();
    return ok;
}

void SensorPanel::SayNoAnswer(const QString &text)
{
    // A refusal has said what happened already.
    if (!nsoRefused)
        ui->label_NSO_Panel_Status->setText(text);
}

bool SensorPanel::CanPanel_Download_CAN_Baudrate()
{
    const QString text = ui->comboBox_CanPanel_Serial_CAN1_Baudrate->currentText();
    qCDebug(lcNodeWindow) << "CAN1_Baudrate_currentIndexChanged" << text;
    const bool ok = NsoExchange(S::kWriteRequest, S::kCanBaudrate, S::kCanBaudrateSub,
                                SettingsMapping::CanFromText(text));
    ui->progressBar_NSO_Panel->hide();
    return ok;
}

bool SensorPanel::CanPanel_Download_CAN_NSO_ID()
{
    const bool ok =
        NsoExchange(S::kWriteRequest, S::kNsoId, 0, quint32(ui->spinBox_CanPanel_NSO_Addr_Download->value())) &&
        NsoExchange(S::kWriteRequest, S::kNsoId, 1, quint32(ui->spinBox_CanPanel_NSO_Addr_Upload->value()));
    ui->progressBar_NSO_Panel->hide();
    return ok;
}

bool SensorPanel::CanPanel_Download_CAN_NPO_ID()
{
    const QVector<QSpinBox *> boxes = NpoIdBoxes();
    bool ok = true;
    for (int k = 0; k < boxes.size() && ok; ++k)
        ok = NsoExchange(S::kWriteRequest, S::kNpoId, quint8(k), quint32(boxes[k]->value()));
    ui->progressBar_NSO_Panel->hide();
    return ok;
}

QString SensorPanel::CobIdsThatDoNotFit() const
{
    // Without 29-bit identifiers an object's COB-ID must fit the 11 bits of a standard frame.
    const S::CanSwitches shown = CanSwitchesShown();
    QStringList bad;
    auto check = [&](const QSpinBox *box, bool extended, const QString &what) {
        if (!extended && quint32(box->value()) > S::kMaxStandardCobId)
            bad << QStringLiteral("%1 0x%2").arg(what, QString::number(box->value(), 16).toUpper());
    };
    check(ui->spinBox_CanPanel_NSO_Addr_Download, shown.nsoExtId, tr("NSO download"));
    check(ui->spinBox_CanPanel_NSO_Addr_Upload, shown.nsoExtId, tr("NSO upload"));
    const QVector<QSpinBox *> boxes = NpoIdBoxes();
    for (int k = 0; k < boxes.size(); ++k)
        check(boxes[k], shown.npoExtId,
              (k % 2 ? tr("NPO channel %1 upload") : tr("NPO channel %1 download")).arg(k / 2 + 1));
    return bad.join(QStringLiteral(", "));
}

bool SensorPanel::CanPanel_Download_CAN_NSO_NPO_ID()
{
    const QString tooLarge = CobIdsThatDoNotFit();
    if (!tooLarge.isEmpty()) {
        ui->label_NSO_Panel_Status->setText(
            tr("[!] %1: above 0x7FF, which needs 29-bit identifiers. Tick \"29-bit IDs\" for the object, or "
               "choose 0x7FF or less. Nothing was sent.")
                .arg(tooLarge));
        return false;
    }
    ui->label_NSO_Panel_Status->setText(tr("[INFO] New CAN_NSO_ID and CAN_NPO_ID settings downloading..."));
    ui->progressBar_NSO_Panel->show();
    ui->pushButton_CanPanel_NSO_Addr_ApplyChanges->setEnabled(false);
    const bool ok = CanPanel_Download_CAN_NSO_ID() && CanPanel_Download_CAN_NPO_ID();
    ui->pushButton_CanPanel_NSO_Addr_ApplyChanges->setEnabled(true);
    if (ok) {
        ui->pushButton_CanPanel_NSO_Addr_ApplyChanges->hide();
        ui->label_NSO_Panel_Status->setText(
            tr("[OK] New CAN_NSO_ID and CAN_NPO_ID settings downloaded to Kinetra successfully."));
        SetCanSaveButtonPending();
    } else {
        SayNoAnswer(tr("[ERROR] New CAN_NSO_ID settings download failed. Timeout. Check connection."));
    }
    ui->progressBar_NSO_Panel->hide();
    return ok;
}

bool SensorPanel::ProfilePanel_Download_Profile_Switches()
{
    ui->label_NSO_Panel_Status->setText(tr("[INFO] New Profile_Switches settings downloading..."));
    ui->progressBar_NSO_Panel->show();
    S::ProfileSwitches profile;
    profile.verticalInstall = ui->checkBox_ProfilePanel_EnVerticalInstall->isChecked();
    profile.standardCode = ui->spinBox_ProfilePanel_stdProfile_Code->value();
    profile.customisedCode = ui->spinBox_ProfilePanel_customizedProfile_Code->value();
    const bool ok = NsoExchange(S::kWriteRequest, S::kProfileSwitches, S::kProfileSwitchesSub,
                                profile.Value());
    if (!ok)
        SayNoAnswer(tr(kNoResponse));
    ui->progressBar_NSO_Panel->hide();
    return ok;
}

bool SensorPanel::NSO_ReadSetting()
{
    struct Read
    {
        quint16 index;
        quint8 subIndex;
    };
    QVector<Read> reads{{S::kCanSwitches, S::kCanSwitchesSub},
                        {S::kCanBaudrate, S::kCanBaudrateSub},
                        {S::kNsoId, 0},
                        {S::kNsoId, 1}};
    for (int k = 0; k < S::kNpoIds; ++k)
        reads.append({S::kNpoId, quint8(k)});
    reads.append({S::kProfileSwitches, S::kProfileSwitchesSub});
    for (const Read &read : reads)
        if (!NsoExchange(S::kReadRequest, read.index, read.subIndex, 0))
            return false;
    return true;
}

void SensorPanel::on_pushButton_NSO_Panel_RereadSetting_clicked()
{
    if (RefusedWhileBusy())
        return;
    ui->scrollArea_Setting->hide();
    ui->groupBox_ReadingConfiguration->show();
    const bool ok = NSO_ReadSetting();
    ui->scrollArea_Setting->show();
    ui->groupBox_ReadingConfiguration->hide();
    if (ok) {
        ui->stackedWidget_NSO->show();
        ui->frame_IMU_Core->hide();
        nsoSettingsUnread = false;
        ui->pushButton_NSO_Panel_RereadSetting->setStyleSheet(QString());
        ui->pushButton_NSO_Panel_RereadSetting->setText(tr(" Reread Setting "));
        ui->stackedWidget_SNO_Objects->setEnabled(true);
        ui->label_NSO_Panel_Status->setText(tr("[OK] Read Kinetra Setting successful."));
    } else if (closePending) {
        // Closed while reading: nothing left to tell.
    } else if (ui->frame_IMU_Core->isVisibleTo(this)) {
        QMessageBox box(QMessageBox::Information, windowTitle(),
                        tr("Read Settings failed. Please check connections."), QMessageBox::Ok, this);
        box.exec();
    } else {
        ui->pushButton_NSO_Panel_RereadSetting->setStyleSheet(QStringLiteral("background-color: red"));
        ui->pushButton_NSO_Panel_RereadSetting->setText(
            tr(" [R] Read Kinetra Setting Failed, Click to Try Again."));
        ui->pushButton_NSO_Panel_RereadSetting->setToolTip(ui->pushButton_NSO_Panel_RereadSetting->text());
        ui->stackedWidget_SNO_Objects->setEnabled(false);
        ui->label_NSO_Panel_Status->setText(tr("[ERROR] Read Kinetra Setting Failed. Check Connection."));
    }
}

void SensorPanel::on_pushButton_NSO_Panel_Reboot_clicked()
{
    // An answer to the reboot would end another exchange's wait as if it were its own.
    if (RefusedWhileBusy())
        return;
    Np_NSO request{};
    request.nsoCmd = S::kWriteRequest;
    request.nsoIndex = S::kCommand;
    request.nsoSubIndex = S::kRebootSub;
    request.nsoValue = S::kRebootValue;
    emit Sig_NSOcmd(nodeId, request);
    ui->label_NSO_Panel_Status->setText(tr("[INFO] Reboot command sent to Kinetra"));
}

void SensorPanel::on_pushButton_CanPanel_SaveSetting_clicked()
{
    if (RefusedWhileBusy())
        return;
    bool ok = true;
    if (ui->pushButton_CanPanel_NSO_Addr_ApplyChanges->isVisibleTo(this))
        ok = CanPanel_Download_CAN_NSO_NPO_ID();
    if (ok) {
        ui->label_NSO_Panel_Status->setText(tr("[INFO] Save setting to Non-volatile Memory..."));
        ui->progressBar_NSO_Panel->show();
        ok = NsoExchange(S::kWriteRequest, S::kCommand, S::kSaveSub, S::kSaveValue);
        ui->progressBar_NSO_Panel->hide();
    }
    if (ok) {
        ui->pushButton_CanPanel_SaveSetting->setEnabled(false);
        ui->pushButton_CanPanel_SaveSetting->setText(tr("💾 Save CAN Setting"));
        ui->pushButton_CanPanel_SaveSetting->setStyleSheet(QString::fromLatin1(kSaveIdle));
    } else {
        SayNoAnswer(tr(kNoResponse));
        ui->pushButton_CanPanel_SaveSetting->setText(tr("[!] Save Setting Failed. Click to Try Again."));
    }
}

void SensorPanel::on_pushButton_CanPanel_ClosePanel_clicked()
{
    ui->frame_IMU_Core->show();
    ui->stackedWidget_NSO->hide();
}

void SensorPanel::OpenServiceObjectPage(int page)
{
    if (RefusedWhileBusy())
        return;
    ui->label_groupBox_ReadingConfiguration->clear();
    ui->stackedWidget_SNO_Objects->setCurrentIndex(page);
    if (nsoSettingsUnread) {
        on_pushButton_NSO_Panel_RereadSetting_clicked();
    } else {
        ui->stackedWidget_NSO->show();
        ui->frame_IMU_Core->hide();
    }
}

void SensorPanel::on_pushButton_OpenClose_CanPannel_clicked() { OpenServiceObjectPage(0); }

void SensorPanel::on_pushButton_OpenClose_SNO_ProfilePanel_clicked() { OpenServiceObjectPage(1); }

void SensorPanel::CanSwitchChanged()
{
    if (!RefusedWhileBusy() && CanPanel_Download_CAN_Switches())
        SetCanSaveButtonPending();
}

void SensorPanel::ProfileChanged()
{
    if (!RefusedWhileBusy() && ProfilePanel_Download_Profile_Switches())
        SetCanSaveButtonPending();
}

void SensorPanel::on_checkBox_CanPanel_En_NimboPipeline_stateChanged(int) { CanSwitchChanged(); }
void SensorPanel::on_checkBox_CanPanel_En_NSO_stateChanged(int) { CanSwitchChanged(); }
void SensorPanel::on_checkBox_CanPanel_En_NPO_CH1_stateChanged(int) { CanSwitchChanged(); }
void SensorPanel::on_checkBox_CanPanel_En_NPO_CH2_stateChanged(int) { CanSwitchChanged(); }
void SensorPanel::on_checkBox_CanPanel_En_NPO_CH3_stateChanged(int) { CanSwitchChanged(); }
void SensorPanel::on_checkBox_CanPanel_En_NPO_CH4_stateChanged(int) { CanSwitchChanged(); }
void SensorPanel::on_checkBox_checkBox_CanPanel_UseExtID_NimboPipeline_stateChanged(int)
{
    CanSwitchChanged();
}
void SensorPanel::on_checkBox_CanPanel_UseExtID_NimboServiceObject_stateChanged(int) { CanSwitchChanged(); }
void SensorPanel::on_checkBox_CanPanel_useExtID_NimboProcessObject_stateChanged(int) { CanSwitchChanged(); }
void SensorPanel::on_checkBox_CanPanel_enable_NSO_AckUnknownObjID_stateChanged(int) { CanSwitchChanged(); }
void SensorPanel::on_checkBox_En_NimboPipelineSuperUserID_stateChanged(int) { CanSwitchChanged(); }
void SensorPanel::on_checkBox_ProfilePanel_EnVerticalInstall_stateChanged(int) { ProfileChanged(); }
void SensorPanel::on_spinBox_ProfilePanel_stdProfile_Code_valueChanged(int) { ProfileChanged(); }
void SensorPanel::on_spinBox_ProfilePanel_customizedProfile_Code_valueChanged(int) { ProfileChanged(); }

void SensorPanel::on_comboBox_CanPanel_Serial_CAN1_Baudrate_currentIndexChanged(const QString &)
{
    if (RefusedWhileBusy())
        return;
    ui->label_NSO_Panel_Status->setText(tr("[INFO] New CAN_Baudrate settings downloading..."));
    ui->progressBar_NSO_Panel->show();
    if (CanPanel_Download_CAN_Baudrate())
        SetCanSaveButtonPending();
    else
        SayNoAnswer(tr(kNoResponse));
    ui->progressBar_NSO_Panel->hide();
}

// An edited address is only shown until "Apply New Addresses" sends it.
void SensorPanel::CobIdEdited() { ui->pushButton_CanPanel_NSO_Addr_ApplyChanges->show(); }
void SensorPanel::on_spinBox_CanPanel_NSO_Addr_Download_valueChanged(int) { CobIdEdited(); }
void SensorPanel::on_spinBox_CanPanel_NSO_Addr_Upload_valueChanged(int) { CobIdEdited(); }
void SensorPanel::on_spinBox_CanPanel_NPO_CH1_Addr_Download_valueChanged(int) { CobIdEdited(); }
void SensorPanel::on_spinBox__CanPanel_NPO_CH1_Addr_Upload_valueChanged(int) { CobIdEdited(); }
void SensorPanel::on_spinBox_CanPanel_NPO_CH2_Addr_Download_valueChanged(int) { CobIdEdited(); }
void SensorPanel::on_spinBox__CanPanel_NPO_CH2_Addr_Upload_valueChanged(int) { CobIdEdited(); }
void SensorPanel::on_spinBox_CanPanel_NPO_CH3_Addr_Download_valueChanged(int) { CobIdEdited(); }
void SensorPanel::on_spinBox__CanPanel_NPO_CH3_Addr_Upload_valueChanged(int) { CobIdEdited(); }
void SensorPanel::on_spinBox_CanPanel_NPO_CH4_Addr_Download_valueChanged(int) { CobIdEdited(); }
void SensorPanel::on_spinBox__CanPanel_NPO_CH4_Addr_Upload_valueChanged(int) { CobIdEdited(); }

void SensorPanel::on_pushButton_CanPanel_NSO_Addr_ApplyChanges_clicked()
{
    if (!RefusedWhileBusy())
        CanPanel_Download_CAN_NSO_NPO_ID();
}

void SensorPanel::On_NSOcmd(quint16 fromId, Np_NSO np_NSO)
{
    if (np_NSO.header.fromId() != fromId)
        qCDebug(lcNodeWindow) << "Warning: SensorPanel::On_NSOcmd fromId != np_NSO.header.fromId";
    if (fromId != nodeId)
        return;
    QLabel *status = ui->label_NSO_Panel_Status;
    status->clear();
    if (np_NSO.nsoCmd == S::kAbort) {
        // A refusal of the value waited for ends the wait at once: the node is there and said no.
        if (nsoPending.active && nsoPending.index == np_NSO.nsoIndex && nsoPending.subIndex == np_NSO.nsoSubIndex) {
            status->setText(tr("[ERROR] Kinetra refused the value %1 for object 0x%2 sub-index 0x%3 (code 0x%4).")
                                .arg(nsoPending.value)
                                .arg(np_NSO.nsoIndex, 4, 16, QLatin1Char('0'))
                                .arg(np_NSO.nsoSubIndex, 2, 16, QLatin1Char('0'))
                                .arg(np_NSO.nsoValue, 8, 16, QLatin1Char('0')));
            nsoRefused = true;
            nsoReplied = true;
        }
        return;
    }
    const bool read = np_NSO.nsoCmd == S::kReadResponse;
    if (!read && np_NSO.nsoCmd != S::kWriteAck)
        return;
    const quint16 index = np_NSO.nsoIndex;
    const quint8 sub = np_NSO.nsoSubIndex;
    const quint32 value = np_NSO.nsoValue;
    bool recognised = true;

    if (index == S::kCanSwitches && sub == S::kCanSwitchesSub) {
        if (!read) {
            status->setText(
                tr("[OK] New CAN_Switches checkbox-settings downloaded to Kinetra successfully."));
        } else {
            nsoState.canSwitches = value;
            if (!S::MsbLsbValid(value)) {
                status->setText(tr("[ERROR] MSB / LSB check failed."));
                recognised = false;
            } else {
                ShowCanSwitches(value);
                status->setText(tr("[OK] CAN_Switches current checkbox-settings fetched."));
            }
        }
    } else if (index == S::kCanBaudrate && sub == S::kCanBaudrateSub) {
        if (!read) {
            status->setText(tr("[OK] New CAN_Baudrate downloaded. Save & Reboot required to apply changes."));
        } else {
            nsoState.canBaudrate = value;
            const QString text = SettingsMapping::CanText(quint16(value));
            const QSignalBlocker blocker(ui->comboBox_CanPanel_Serial_CAN1_Baudrate);
            ui->comboBox_CanPanel_Serial_CAN1_Baudrate->setCurrentText(text);
            const bool known = value <= 0xFFFFu && SettingsMapping::CanFromText(text) == value;
            status->setText(known
                                ? tr("[OK] CAN_Baudrate current setting fetched.")
                                : tr("[ERROR] CAN_Baudrate current setting fetched but cannot be resolved."));
        }
    } else if (index == S::kNsoId && sub <= 1) {
        if (!read) {
            status->setText(sub == 0 ? tr("[OK] New CAN_NSO_ID[0] downloaded to Kinetra successfully.")
                                     : tr("[OK] New CAN_NSO_ID[1] downloaded to Kinetra successfully."));
        } else {
            nsoState.nsoId[sub] = value;
            QSpinBox *box =
                sub == 0 ? ui->spinBox_CanPanel_NSO_Addr_Download : ui->spinBox_CanPanel_NSO_Addr_Upload;
            const QSignalBlocker blocker(box);
            box->setValue(int(qMin(value, S::kMaxCobId)));
            status->setText(sub == 0 ? tr("[OK] CAN_NSO_ID[0] address setting for Upload fetched.")
                                     : tr("[OK] CAN_NSO_ID[1] address setting for Download fetched."));
        }
    } else if (index == S::kNpoId && sub < S::kNpoIds) {
        if (!read) {
            status->setText(tr("[OK] New CAN_NPO_ID[%1] downloaded to Kinetra successfully.").arg(sub));
        } else {
            nsoState.npoId[sub] = value;
            if (S::NpoIdValid(value)) {
                QSpinBox *box = NpoIdBoxes()[sub];
                const QSignalBlocker blocker(box);
                box->setValue(int(value));
                status->setText(tr("[OK] CAN_NPO_ID[%1] address setting for Upload fetched.").arg(sub));
            } else {
                status->setText(tr("[ERROR] CAN_NPO_ID[%1] fetched with value out of range.").arg(sub));
                recognised = false;
            }
        }
    } else if (index == S::kCalibSwitches && sub == S::kCalibSwitchesSub && !read) {
        status->setText(tr("[OK] New CALIB_Switches command downloaded to Kinetra."));
    } else if (index == S::kProfileSwitches && sub == S::kProfileSwitchesSub) {
        if (!read) {
            status->setText(tr("[OK] New Profile_Switches downloaded to Kinetra successfully."));
        } else {
            nsoState.profileSwitches = value;
            if (!S::MsbLsbValid(value)) {
                status->setText(tr("[ERROR] Profile_Switches MSB / LSB check failed."));
                recognised = false;
            } else {
                ShowProfileSwitches(value);
                status->setText(tr("[OK] Profile_Switches current setting fetched."));
            }
        }
    } else if (index == S::kProfileSwitchesExt && sub == S::kProfileSwitchesExtSub) {
        status->setText(read ? tr("[OK] Profile_Switches_EXT current setting fetched.")
                             : tr("[OK] New Profile_Switches_EXT downloaded to Kinetra."));
    } else if (index == S::kCommand && sub == S::kSaveSub && !read) {
        status->setText(tr("[OK] CAN settings saved (to Kinetra Non-volatile Memory) successfully."));
    } else if (index == S::kCommand && sub == S::kRebootSub && !read) {
        status->setText(tr("[OK] CAN settings reset done (Click Save-Settings to further save to Kinetra "
                           "Non-volatile Memory)."));
    } else {
        status->setText(tr("[ERROR] Unknwon Object ID received."));
        recognised = false;
    }

    // Only the answer to the request waiting now ends the wait; a late answer to an earlier attempt
    // or to another request does not.
    if (recognised && nsoPending.active && nsoPending.index == index && nsoPending.subIndex == sub &&
        nsoPending.answer == np_NSO.nsoCmd)
        nsoReplied = true;
}
