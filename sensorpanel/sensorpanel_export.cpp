// The protocol-library export: one of the compiled-in source archives copied to a file of the user's.

#include "sensorpanel.h"
#include "ui_sensorpanel.h"

#include "sensorpanellog.h"

#include <QtCore/QFile>
#include <QtCore/QStandardPaths>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QMessageBox>

namespace {

const struct
{
    const char *type;
    const char *resource;
} kArchives[] = {
    {"Generic C Library", ":/libraries/Kinetra_Protocol_C.zip"},
    {"Generic C++ Library and QT Example", ":/libraries/Kinetra_Example_CPP_QT.zip"},
    {"Arduino Compatible Library", ":/libraries/Kinetra_Example_CPP_Arduino.zip"},
};

} // namespace

void SensorPanel::on_commandLinkButton_Export_SerialLib_clicked()
{
    const QString type = ui->comboBox_Export_SerialLib_Type->currentText();
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    qCDebug(lcNodeWindow) << "desktop path" << desktop;
    const QString chosen = QFileDialog::getSaveFileName(
        this, tr("Choose the file directory for exporting library"),
        desktop + QStringLiteral("/Kinetra ") + type, tr("Compressed Files (*.zip)"));
    if (chosen.isEmpty())
        return;

    QString resource;
    for (const auto &archive : kArchives)
        if (type == QLatin1String(archive.type))
            resource = QString::fromLatin1(archive.resource);
    // QFile::copy never overwrites an existing file.
    const bool copied = !resource.isEmpty() && QFile::copy(resource, chosen);
    if (copied) // a copy of a resource is read-only; the user's own file should not be
        QFile::setPermissions(chosen, QFile::permissions(chosen) | QFileDevice::WriteOwner);
    QMessageBox box(
        QMessageBox::Information, QString(),
        copied ? tr("Library successfully exported to ") + chosen
               : tr("Export undone. Possible reasons:\n(1) File already exists;\n(2) Writing permission "
                    "denied;\n(3) Please avoid spaces in path name or in file name;\n(4) Please avoid "
                    "non-English characters in the path name."),
        QMessageBox::Ok);
    box.exec();
}
