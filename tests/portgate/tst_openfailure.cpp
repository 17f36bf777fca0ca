// Why a port could not be opened: the mapping from the port's error and its device file to the
// text the link panel shows.

#include "openfailure.h"

#include <QtTest/QtTest>

Q_DECLARE_METATYPE(QSerialPort::SerialPortError)

class tst_OpenFailure : public QObject
{
    Q_OBJECT

private slots:
    void texts_data();
    void texts();
    void probe();
};

void tst_OpenFailure::texts_data()
{
    QTest::addColumn<QSerialPort::SerialPortError>("error");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("accessible");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QStringList>("says");

    QTest::newRow("gone") << QSerialPort::DeviceNotFoundError << false << false << QString()
                          << QStringList{"ttyUSB0 is gone", "Plug it in"};
    QTest::newRow("no permission, group named")
        << QSerialPort::PermissionError << true << false << "uucp"
        << QStringList{"No permission to use ttyUSB0", "group \"uucp\"", "sudo usermod -aG uucp $USER",
                       "log out and in again"};
    QTest::newRow("no permission, root's device") << QSerialPort::PermissionError << true << false << "root"
                                                  << QStringList{"sudo usermod -aG dialout $USER"};
    QTest::newRow("busy") << QSerialPort::PermissionError << true << true << "dialout"
                          << QStringList{"ttyUSB0 is busy", "another program has it open"};
    QTest::newRow("other") << QSerialPort::UnsupportedOperationError << true << true << "dialout"
                           << QStringList{"ttyUSB0 could not be opened: Unsupported."};
}

void tst_OpenFailure::texts()
{
    QFETCH(QSerialPort::SerialPortError, error);
    QFETCH(bool, exists);
    QFETCH(bool, accessible);
    QFETCH(QString, group);
    QFETCH(QStringList, says);
    PortAccess access;
    access.exists = exists;
    access.accessible = accessible;
    access.group = group;
    const QString text = OpenFailureText(error, QStringLiteral("ttyUSB0"), access, QStringLiteral("Unsupported"));
    for (const QString &part : says)
        QVERIFY2(text.contains(part), qPrintable(text));
}

void tst_OpenFailure::probe()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("port");
    QVERIFY(!ProbePortAccess(path).exists);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const PortAccess access = ProbePortAccess(path);
    QVERIFY(access.exists);
    QVERIFY(access.accessible);
    QVERIFY(!access.group.isEmpty());
    QVERIFY(!ProbePortAccess(QStringLiteral("ttyNoSuchPort9")).exists); // plain names are under /dev
}

QTEST_APPLESS_MAIN(tst_OpenFailure)
#include "tst_openfailure.moc"
