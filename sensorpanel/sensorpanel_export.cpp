// The protocol-library export: one of the compiled-in source archives copied to a file of the user's.

#include "sensorpanel.h"
#include "ui_sensorpanel.h"

#include "sensorpanellog.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QSaveFile>
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
    QString chosen = QFileDialog::getSaveFileName(this, tr("Choose the file directory for exporting library"),
                                                  desktop + QStringLiteral("/Kinetra ") + type +
                                                      QStringLiteral(".zip"),
                                                  tr("Compressed Files (*.zip)"));
    if (chosen.isEmpty())
        return;
    // The dialog asked about the name as typed; a name that gets ".zip" here is asked about here.
    if (!chosen.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive)) {
        chosen += QStringLiteral(".zip");
        if (QFileInfo::exists(chosen)) {
            QMessageBox ask(QMessageBox::Question, windowTitle(),
                            tr("%1 already exists. Do you want to replace it?").arg(QFileInfo(chosen).fileName()),
                            QMessageBox::Yes | QMessageBox::No, this);
            if (ask.exec() != QMessageBox::Yes)
                return;
        }
    }

    QString resource;
    for (const auto &archive : kArchives)
        if (type == QLatin1String(archive.type))
            resource = QString::fromLatin1(archive.resource);
    QFile source(resource);
    QString failure;
    if (resource.isEmpty() || !source.open(QIODevice::ReadOnly)) {
        failure = tr("this program holds no library of the type \"%1\"").arg(type);
    } else {
        // Replaced whole or not at all: an export that fails half-way leaves an earlier file as it was.
        QSaveFile out(chosen);
        const QByteArray bytes = source.readAll();
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
            failure = out.errorString();
    }
    if (!failure.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, windowTitle(),
                        tr("The library was not exported to %1: %2.").arg(QDir::toNativeSeparators(chosen), failure),
                        QMessageBox::Ok, this);
        box.exec();
        return;
    }
    QMessageBox box(QMessageBox::Information, QString(), tr("Library successfully exported to ") + chosen,
                    QMessageBox::Ok);
    box.exec();
}
