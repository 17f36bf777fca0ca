#ifndef OPENFAILURE_H
#define OPENFAILURE_H

#include "portgate_global.h"

#include <QtCore/QString>
#include <QtSerialPort/QSerialPort>

// Why a port could not be opened, in words a user can act on.

// What the file system says about a port's device.
struct PortAccess
{
    bool exists = false;     // the device (or the link to it) is there
    bool accessible = false; // this user may read and write it
    QString group;           // the group that owns it
};

PORTGATE_EXPORT PortAccess ProbePortAccess(const QString &portName);

// The one place that turns an open error into the text the link panel shows.
PORTGATE_EXPORT QString OpenFailureText(QSerialPort::SerialPortError error, const QString &portName,
                                        const PortAccess &access, const QString &errorString);

#endif // OPENFAILURE_H
