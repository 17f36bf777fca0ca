// Settings files: the node's settings saved as JSON, and a file's settings compared with the node's
// and written after the user has seen the differences.

#include "sensorpanel.h"
#include "ui_sensorpanel.h"

#include "settingsfile.h"

#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QSaveFile>
#include <QtCore/QStandardPaths>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QDialog>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QVBoxLayout>

namespace {

const char *const kErrorStyle = "color: #ff6a50";
const char *const kGoodStyle = "color: #33a0c4";

QString SettingsDirectory(const QString &lastFile)
{
    return lastFile.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                              : QFileInfo(lastFile).absolutePath();
}

} // namespace

void SensorPanel::on_pushButton_Settings_SaveFile_clicked()
{
    const QString proposed = SettingsDirectory(lastSettingsFile) + QLatin1Char('/') +
                             QStringLiteral("node-%1-settings.json").arg(nodeId);
    const QString chosen = QFileDialog::getSaveFileName(this, tr("Save the node's settings"), proposed,
                                                        tr("Settings files (*.json)"));
    if (chosen.isEmpty())
        return;
    SaveSettingsFile(chosen.endsWith(QLatin1String(".json"), Qt::CaseInsensitive) ? chosen
                                                                                  : chosen + QStringLiteral(".json"));
}

bool SensorPanel::SaveSettingsFile(const QString &path)
{
    SettingsFile::Identity identity;
    identity.uuid = nodeUuid;
    identity.nodeId = nodeId;
    identity.name = nodeName;
    identity.firmware = firmwareText;
    identity.model = model;
    const QByteArray json =
        SettingsFile::Write(currentSettings, identity, nsoSettingsUnread ? nullptr : &nsoState,
                            QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    // Written whole or not at all: a file half-written over an earlier one would configure nodes wrongly.
    QSaveFile file(path);
    const bool saved = file.open(QIODevice::WriteOnly) && file.write(json) == json.size() && file.commit();
    if (saved) {
        lastSettingsFile = path;
        ui->label_Settings_WriteStatus->setText(tr("Settings saved to %1.").arg(QFileInfo(path).fileName()));
        ui->label_Settings_WriteStatus->setStyleSheet(QString::fromLatin1(kGoodStyle));
    } else {
        ui->label_Settings_WriteStatus->setText(
            tr("The settings were not saved to %1: %2.").arg(QDir::toNativeSeparators(path), file.errorString()));
        ui->label_Settings_WriteStatus->setStyleSheet(QString::fromLatin1(kErrorStyle));
    }
    return saved;
}

void SensorPanel::on_pushButton_Settings_LoadFile_clicked()
{
    const QString chosen = QFileDialog::getOpenFileName(this, tr("Load settings from a file"),
                                                        SettingsDirectory(lastSettingsFile),
                                                        tr("Settings files (*.json);;All files (*)"));
    if (!chosen.isEmpty())
        LoadSettingsFile(chosen);
}

QDialog *SensorPanel::LoadSettingsFile(const QString &path)
{
    QFile file(path);
    SettingsFile::Contents contents;
    if (!file.open(QIODevice::ReadOnly))
        contents.error = tr("The file cannot be read: %1.").arg(file.errorString());
    else if (file.size() > 1024 * 1024)
        contents.error = tr("The file is too large to be a settings file.");
    else
        contents = SettingsFile::Read(file.readAll());
    if (!contents.error.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, windowTitle(),
                        tr("Nothing was sent: %1 cannot be used.").arg(QFileInfo(path).fileName()),
                        QMessageBox::Ok, this);
        box.setInformativeText(contents.error);
        box.exec();
        return nullptr;
    }
    lastSettingsFile = path;

    delete findChild<QDialog *>(QStringLiteral("dialog_SettingsFile"));
    auto *dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("dialog_SettingsFile"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Settings from %1").arg(QFileInfo(path).fileName()));
    auto *layout = new QVBoxLayout(dialog);

    const SettingsFile::Plan plan = SettingsFile::Compare(currentSettings, model, contents);
    auto *summary = new QLabel(dialog);
    summary->setWordWrap(true);
    const QString source = contents.nodeId >= 0 ? tr("Saved from node %1 \"%2\", firmware %3.")
                                                      .arg(contents.nodeId)
                                                      .arg(contents.nodeName, contents.firmware)
                                                : QString();
    summary->setText(plan.changes.isEmpty()
                         ? source + QLatin1Char(' ') + tr("The node already holds every setting of this file that fits it.")
                         : source + QLatin1Char(' ') + (plan.changes.size() == 1 ? tr("1 setting differs from the node's:")
                                                                        : tr("%1 settings differ from the node's:").arg(plan.changes.size())));
    layout->addWidget(summary);

    auto *table = new QTableWidget(plan.changes.size(), 3, dialog);
    table->setObjectName(QStringLiteral("tableWidget_SettingsFile_Differences"));
    table->setHorizontalHeaderLabels({tr("Setting"), tr("On the node now"), tr("In the file")});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    for (int row = 0; row < plan.changes.size(); ++row) {
        const SettingsFile::Difference &d = plan.changes[row];
        table->setItem(row, 0, new QTableWidgetItem(d.field));
        table->setItem(row, 1, new QTableWidgetItem(d.onNode));
        table->setItem(row, 2, new QTableWidgetItem(d.inFile));
    }
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    table->setVisible(!plan.changes.isEmpty());
    layout->addWidget(table);

    QStringList notes;
    if (!plan.otherGeneration.isEmpty())
        notes << plan.otherGeneration;
    if (!plan.unfit.isEmpty())
        notes << tr("Not written, this node has no such settings: %1.").arg(plan.unfit.join(QStringLiteral(", ")));
    if (contents.hasServiceObjects)
        notes << tr("The file's CAN service objects are not written from here; set them in the CAN panel.");
    auto *unfit = new QLabel(notes.join(QLatin1Char('\n')), dialog);
    unfit->setObjectName(QStringLiteral("label_SettingsFile_Notes"));
    unfit->setWordWrap(true);
    unfit->setStyleSheet(QStringLiteral("color: #e0b050"));
    unfit->setVisible(!notes.isEmpty());
    layout->addWidget(unfit);

    auto *fitting = new QCheckBox(tr("Write the settings that fit this node"), dialog);
    fitting->setObjectName(QStringLiteral("checkBox_SettingsFile_WriteFitting"));
    fitting->setVisible(plan.NeedsConfirmation() && !plan.changes.isEmpty());
    layout->addWidget(fitting);
    auto *flash = new QCheckBox(tr("Also save them in the node's flash memory"), dialog);
    flash->setObjectName(QStringLiteral("checkBox_SettingsFile_SaveToFlash"));
    flash->setVisible(!plan.changes.isEmpty());
    layout->addWidget(flash);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, dialog);
    QPushButton *write = buttons->addButton(tr("Write"), QDialogButtonBox::AcceptRole);
    write->setObjectName(QStringLiteral("pushButton_SettingsFile_Write"));
    const bool confirm = plan.NeedsConfirmation();
    const auto updateWrite = [write, fitting, confirm, any = !plan.changes.isEmpty()]() {
        write->setEnabled(any && (!confirm || fitting->isChecked()));
    };
    updateWrite();
    connect(fitting, &QCheckBox::toggled, dialog, updateWrite);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, dialog, [this, dialog, contents, flash, path]() {
        // Against the settings the node holds now: they may have changed while the table was open.
        const SettingsFile::Plan now = SettingsFile::Compare(currentSettings, model, contents);
        dialog->accept();
        WriteSettingsPlan(now.result, now.changes.size(), flash->isChecked(), QFileInfo(path).fileName());
    });
    layout->addWidget(buttons);
    dialog->resize(qMax(dialog->sizeHint().width(), 560), dialog->sizeHint().height());
    // Not modal: the node window stays usable while the user compares, and Write compares again.
    dialog->show();
    dialog->raise();
    return dialog;
}

void SensorPanel::WriteSettingsPlan(Np_Settings settings, int changes, bool saveToFlash, const QString &fileName)
{
    if (changes == 0)
        return;
    settings.settingsWord = NpSettingsBit::Set(settings.settingsWord, NpSettingsBit::saveToFlash, saveToFlash);
    currentSettings = settings;
    LoadImuSettingToGUI();
    SetSaveButtonPending(!saveToFlash);
    SendSettings();
    if (!ui->label_Settings_WriteStatus->text().isEmpty())
        ui->label_Settings_WriteStatus->setText(
            (changes == 1 ? tr("Writing 1 setting from %1 to the node...")
                          : tr("Writing %1 settings from %2 to the node...").arg(changes))
                .arg(fileName));
}
