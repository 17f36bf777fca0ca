#ifndef QEXTPORTINFO_H
#define QEXTPORTINFO_H

#include <QtCore/QList>
#include <QtCore/QMetaType>
#include <QtCore/QString>

// One serial port as a port scan reports it.
struct QextPortInfo
{
    QString portName;   // what the port is opened by
    QString friendName; // description
    QString physName;   // system location
    QString enumName;   // manufacturer
    int vendorID = 0;
    int productID = 0;
};

typedef QList<QextPortInfo> SerialPortNameList;

Q_DECLARE_METATYPE(QextPortInfo)
Q_DECLARE_METATYPE(SerialPortNameList)

#endif // QEXTPORTINFO_H
