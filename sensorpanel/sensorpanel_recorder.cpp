// The recorder: the node's selected outputs written to one text file each while the user records.

#include "sensorpanel.h"
#include "ui_sensorpanel.h"

#include "recorder.h"

#include <QtCore/QDateTime>
#include <QtCore/QFileInfo>
#include <QtCore/QTimeZone>
#include <QtCore/QStandardPaths>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>

void SensorPanel::on_pushButton_Record_StartPause_clicked()
{
    if (recording) {
        paused = !paused;
        ui->pushButton_Record_StartPause->setText(paused ? tr("⚫ Resume") : tr("▮▮ Pause"));
        return;
    }
    if (Recorder_StartNew()) {
        ui->pushButton_Record_StartPause->setText(tr("▮▮ Pause"));
        ui->pushButton_Record_Save->setEnabled(true);
        ui->checkBox_Record_FormatEnable->setEnabled(false);
        ui->checkBox_Record_CSV->setEnabled(false);
        ui->pushButton_Record_Mark->setEnabled(true);
    }
}

void SensorPanel::on_checkBox_Record_CSV_toggled(bool on)
{
    // A CSV file has its own header: the matrix framing does not apply.
    ui->checkBox_Record_FormatEnable->setEnabled(!on && !recording);
}

void SensorPanel::on_pushButton_Record_Mark_clicked()
{
    if (!recording)
        return;
    QString reason;
    const QString text = ui->lineEdit_Record_MarkText->text().trimmed();
    switch (recorder->Mark(text, &reason)) {
    case Recorder::Block::Written:
        ui->label_Record_Msg->setText(text.isEmpty() ? tr("Marker set at %1 s.").arg(recorder->HostSeconds(), 0, 'f', 1)
                                                     : tr("Marker \"%1\" set at %2 s.")
                                                           .arg(text)
                                                           .arg(recorder->HostSeconds(), 0, 'f', 1));
        ui->lineEdit_Record_MarkText->clear();
        break;
    case Recorder::Block::Kept: break;
    case Recorder::Block::Failed:
    case Recorder::Block::Overflow: ui->label_Record_Msg->setText(tr("Cannot write the marker: %1").arg(reason)); break;
    }
}

void SensorPanel::on_pushButton_Record_Save_clicked()
{
    if (recording)
        ui->label_Record_Msg->setText(Recorder_SaveAndCloseAllFiles()
                                          ? tr("Files saved successfully")
                                          : tr("Error occurred while saving files"));
    recording = false;
    paused = false;
    ui->pushButton_Record_StartPause->setText(tr("⚫ Record"));
    ui->checkBox_Record_FormatEnable->setEnabled(!ui->checkBox_Record_CSV->isChecked());
    ui->checkBox_Record_CSV->setEnabled(true);
    ui->pushButton_Record_Mark->setEnabled(false);
    ui->pushButton_Record_Save->setEnabled(false);
}

bool SensorPanel::Recorder_StartNew()
{
    recording = false;
    paused = false;
    const bool csv = ui->checkBox_Record_CSV->isChecked();
    const Recorder::Layout layout = csv ? Recorder::Layout::Csv
                                        : ui->checkBox_Record_FormatEnable->isChecked() ? Recorder::Layout::Matrix
                                                                                        : Recorder::Layout::Plain;
    const int outputs = recorder->Begin(currentSettings.settingsWord, layout, CsvComment());
    if (outputs == 0) {
        QMessageBox box(
            QMessageBox::Information, windowTitle(),
            tr("Please select at least one valid output in the configuration panel before starting to "
               "record. \n 'Status' and 'Composite' packages are not regarded as valid packages for "
               "measurement data recording."),
            QMessageBox::Ok, this);
        box.exec();
        on_pushButton_Record_Save_clicked();
        ui->label_Record_Msg->setText(tr("Recording not started: no output to record is selected."));
        return false;
    }

    QString proposed = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + QLatin1Char('/') +
                       QStringLiteral("./DataLogin_NodeID-%1").arg(nodeId) +
                       QDateTime::currentDateTime().toString(QStringLiteral("_yyyy-MM-dd_hh-mm-ss"));
    QString basePath;
    for (;;) {
        // The dialog's own question would be about the name typed, which is not a file written here.
        const QString chosen = QFileDialog::getSaveFileName(this, tr("Choose the file directory for recording data"),
                                                            proposed,
                                                            csv ? tr("CSV files (*.csv)") : tr("TextFiles (*.txt)"),
                                                            nullptr,
                                                            QFileDialog::DontConfirmOverwrite);
        if (chosen.isEmpty()) {
            recorder->Begin(0, false);
            on_pushButton_Record_Save_clicked();
            ui->label_Record_Msg->setText(tr("Recording not started: no file was chosen."));
            return false;
        }
        basePath = Recorder::BasePath(chosen);
        QStringList existing;
        for (const QString &name : recorder->FileNames(basePath))
            if (QFileInfo::exists(name))
                existing << QFileInfo(name).fileName();
        if (existing.isEmpty())
            break;
        QMessageBox ask(QMessageBox::Warning, windowTitle(),
                        tr("A recording of this name exists. Replace its files?"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
        ask.setInformativeText(tr("These files would be replaced:\n%1").arg(existing.join(QLatin1Char('\n'))));
        ask.button(QMessageBox::Yes)->setText(tr("Replace"));
        ask.button(QMessageBox::No)->setText(tr("Choose Another Name"));
        ask.setDefaultButton(QMessageBox::No);
        ask.setEscapeButton(QMessageBox::Cancel);
        const int answer = ask.exec();
        if (answer == QMessageBox::Yes)
            break;
        if (answer != QMessageBox::No) {
            recorder->Begin(0, false);
            on_pushButton_Record_Save_clicked();
            ui->label_Record_Msg->setText(tr("Recording not started: the earlier files were kept."));
            return false;
        }
        proposed = chosen;
    }

    QString reason;
    if (!recorder->OpenFiles(basePath, &reason)) {
        QMessageBox box(QMessageBox::Critical, windowTitle(),
                        tr("Error: unable to create and open output file."), QMessageBox::Ok, this);
        box.setInformativeText(reason);
        box.exec();
        // Nothing was opened that could be written to; the buffers go with the next start.
        recorder->Begin(0, false);
        on_pushButton_Record_Save_clicked();
        ui->label_Record_Msg->setText(tr("Recording not started: %1").arg(reason));
        return false;
    }
    ui->label_Record_Msg->setText(tr("Recording %1 selected outputs...").arg(outputs));
    recording = true;
    return true;
}

bool SensorPanel::Recorder_SaveAndCloseAllFiles()
{
    int notOpen = 0;
    QString reason;
    if (recorder->SaveAndCloseAll(&notOpen, &reason))
        return true;
    QMessageBox box(QMessageBox::Critical, windowTitle(),
                    notOpen
                        ? tr("Error: Not all data files are opened. Writing data to files is unsuccessful.")
                        : tr("Error: the data files could not be written completely."),
                    QMessageBox::Ok, this);
    box.setInformativeText(reason);
    box.exec();
    return false;
}

void SensorPanel::RecorderBufSaveToFile(const QString &key, const QString &line)
{
    QString reason;
    switch (recorder->Append(key, line, &reason)) {
    case Recorder::Block::Kept: break;
    case Recorder::Block::Written:
        ui->label_RecordFileSize->setText(tr("%1 MB").arg(recorder->TotalMegabytes(), 6, 'f', 3));
        break;
    case Recorder::Block::Failed:
        // Said at once; the rows stay in memory and go out with a later block or the save.
        ui->label_Record_Msg->setText(tr("Cannot write: %1").arg(reason));
        break;
    case Recorder::Block::Overflow: {
        // The disk has not taken the data for a long time: the recording ends before it takes the
        // program's memory, with what the files hold.
        int notOpen = 0;
        QString ignored;
        recorder->SaveAndCloseAll(&notOpen, &ignored);
        recording = false;
        on_pushButton_Record_Save_clicked(); // only the buttons: nothing is left to save
        const QString text = tr("Recording stopped: the disk does not take the data (%1). The files end "
                                "with the last rows written.")
                                 .arg(reason);
        ui->label_Record_Msg->setText(text);
        // Not modal: the rows keep arriving while the user reads it.
        auto *box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        break;
    }
    }
}

void SensorPanel::RecordRow(quint16 fromId, const char *key, double seconds,
                            std::initializer_list<double> values)
{
    if (fromId != nodeId || !recording || paused)
        return;
    const QString name = QString::fromLatin1(key);
    if (!recorder->Has(name))
        return;
    double numbers[11];
    numbers[0] = recorder->Unwrapped(name, seconds);
    int n = 1;
    for (double v : values)
        numbers[n++] = v;
    const Recorder::Output &output = *Recorder::Find(name);
    RecorderBufSaveToFile(name, recorder->FileLayout() == Recorder::Layout::Csv
                                    ? Recorder::CsvRow(output, numbers, recorder->HostSeconds())
                                    : Recorder::Row(output, numbers));
}

QString SensorPanel::CsvComment() const
{
    // Quotes in a name are doubled so that the name reads back whole.
    QString name = nodeName;
    name.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QStringLiteral("# gyrovane recording, node %1 \"%2\", UUID %3, firmware %4, started %5")
        .arg(nodeId)
        .arg(name, QString::fromLatin1(nodeUuid.toHex()), firmwareText.isEmpty() ? tr("unknown") : firmwareText,
             QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
}

void SensorPanel::On_NewData_RecordRaw(quint16 fromId, double timeStamp, float temperature, float wx,
                                       float wy, float wz, float ax, float ay, float az, float mx, float my,
                                       float mz)
{
    RecordRow(fromId, "RawData", timeStamp, {temperature, wx, wy, wz, ax, ay, az, mx, my, mz});
}

void SensorPanel::On_NewData_RecordQ_s1_e(quint16 fromId, double timeStamp, float q1, float q2, float q3,
                                          float q4)
{
    RecordRow(fromId, "Q_s1_e", timeStamp, {q1, q2, q3, q4});
}

void SensorPanel::On_NewData_RecordRPY(quint16 fromId, double timeStamp, float roll, float pitch, float yaw)
{
    RecordRow(fromId, "RPY", timeStamp, {roll, pitch, yaw});
}

void SensorPanel::On_NewData_RecordEuler_s1_e(quint16 fromId, double timeStamp, float psi, float theta,
                                              float phi)
{
    RecordRow(fromId, "Euler_s1_e", timeStamp, {psi, theta, phi});
}

void SensorPanel::On_NewData_RecordGravity(quint16 fromId, double timeStamp, float gx, float gy, float gz)
{
    RecordRow(fromId, "Gravity", timeStamp, {gx, gy, gz});
}
