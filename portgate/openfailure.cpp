#include "openfailure.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>

#include <unistd.h>

namespace {

QString Tr(const char *text) { return QCoreApplication::translate("PortGate", text); }

} // namespace

PortAccess ProbePortAccess(const QString &portName)
{
    PortAccess access;
    // Plain names ("ttyUSB0") live in /dev; links of simulated ports are full paths.
    const QString path = portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
    const QFileInfo info(path);
    access.exists = info.exists();
    if (!access.exists)
        return access;
    const QByteArray native = QFile::encodeName(info.canonicalFilePath());
    access.accessible = ::access(native.constData(), R_OK | W_OK) == 0;
    access.group = info.group();
    return access;
}

QString OpenFailureText(QSerialPort::SerialPortError error, const QString &portName, const PortAccess &access,
                        const QString &errorString)
{
    if (error == QSerialPort::DeviceNotFoundError || !access.exists)
        return Tr("%1 is gone: the adapter was unplugged or the port does not exist. Plug it in; the panel "
                  "connects as soon as it appears.")
            .arg(portName);
    if (!access.accessible) {
        const QString group = access.group.isEmpty() || access.group == QLatin1String("root")
                                  ? QStringLiteral("dialout")
                                  : access.group;
        return Tr("No permission to use %1: it belongs to the group \"%2\". Join it with\n"
                  "sudo usermod -aG %2 $USER\nthen log out and in again.")
            .arg(portName, group);
    }
    if (error == QSerialPort::PermissionError || error == QSerialPort::OpenError ||
        error == QSerialPort::ResourceError)
        return Tr("%1 is busy: another program has it open. Close that program and connect again.").arg(portName);
    return Tr("%1 could not be opened: %2.").arg(portName, errorString);
}
