#include "childwidget.h"
#include "messageboxcatcher.h"
#include "sensorpanel.h"
#include "simulatorrunner.h"

#include <QComboBox>
#include <QCommandLinkButton>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray Resource(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList Prefixed(const QString &top, const QStringList &files)
{
    QStringList list;
    for (const QString &file : files)
        list << top + "/" + file;
    list.sort();
    return list;
}

} // namespace

// The protocol-library archives the node window exports: what they hold, how the export writes them,
// and that the C++ library in them speaks the simulator's wire format.
class tst_Export : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void archivesHoldTheirFiles_data();
    void archivesHoldTheirFiles();
    void exportWritesTheArchiveOnce();
    void exportedCppLibraryTalksToTheSimulator();

private:
    QTemporaryDir dir;
};

void tst_Export::initTestCase()
{
    QVERIFY(dir.isValid());
    qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());
}

void tst_Export::archivesHoldTheirFiles_data()
{
    QTest::addColumn<QString>("resource");
    QTest::addColumn<QStringList>("files");

    const QStringList cModules{"nimbo_object_dictionary.c",
                               "nimbo_object_dictionary.h",
                               "nimbo_profile.c",
                               "nimbo_profile.h",
                               "nimbo_protocol.c",
                               "nimbo_protocol.h",
                               "nimbo_queue.c",
                               "nimbo_queue.h",
                               "nimbo_types.h"};
    const QStringList cppModules{
        "nimboobjectdictionary.cpp", "nimboobjectdictionary.h", "nimboprofile.cpp", "nimboprofile.h",
        "nimboprotocol.cpp",         "nimboprotocol.h",         "nimboqueue.h",     "nimbotypes.h"};
    QStringList c{"main.c", "README.txt", "LICENSE.txt"},
        qt{"NimboExample.pro", "mainwindow.ui", "mainwindow.h", "mainwindow.cpp", "main.cpp",
           "NimboProfile/LibraryVersion.txt", "README.txt", "LICENSE.txt"},
        arduino{"NimboNodeExample/NimboNodeExample.ino", "README.txt", "LICENSE.txt"};
    for (const QString &m : cModules)
        c << "NimboProfile/" + m;
    for (const QString &m : cppModules) {
        qt << "NimboProfile/" + m;
        arduino << "libraries/NimboProfile/" + m;
    }
    QTest::newRow("C") << ":/libraries/Kinetra_Protocol_C.zip"
                       << Prefixed("Kinetra_Protocol_C_V1-2-1-Beta", c);
    QTest::newRow("C++ and Qt") << ":/libraries/Kinetra_Example_CPP_QT.zip"
                                << Prefixed("Kinetra_Example_CPP_QT_V1-2-3-R3", qt);
    QTest::newRow("Arduino") << ":/libraries/Kinetra_Example_CPP_Arduino.zip"
                             << Prefixed("Kinetra_Example_CPP_Arduino_V1-1-2", arduino);
}

void tst_Export::archivesHoldTheirFiles()
{
    QFETCH(QString, resource);
    QFETCH(QStringList, files);
    const QByteArray archive = Resource(resource);
    QVERIFY(!archive.isEmpty());
    const QString path = dir.filePath(QFileInfo(resource).fileName());
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(archive);
    out.close();

    QProcess unzip;
    unzip.start("unzip", {"-Z1", path});
    QVERIFY(unzip.waitForFinished(10000));
    QStringList listed = QString::fromUtf8(unzip.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    listed.sort();
    QCOMPARE(listed, files);
    // And every file comes out whole.
    QProcess test;
    test.start("unzip", {"-tq", path});
    QVERIFY(test.waitForFinished(10000));
    QCOMPARE(test.exitCode(), 0);
}

void tst_Export::exportWritesTheArchiveOnce()
{
    MessageBoxCatcher boxes;
    SensorPanel panel(32);
    panel.Set_NodeFirmwareVersion(318, 70);
    Child<QComboBox>(&panel, "comboBox_Export_SerialLib_Type")
        ->setCurrentText("Generic C++ Library and QT Example");
    auto *exportButton = Child<QCommandLinkButton>(&panel, "commandLinkButton_Export_SerialLib");
    const QString target = dir.filePath("exported.zip");

    // Cancelled: nothing written, nothing said.
    exportButton->click();
    QCOMPARE(boxes.Count(), 1);
    QCOMPARE(boxes.Last().title, QString("Choose the file directory for exporting library"));
    QVERIFY(boxes.Last().informativeText.endsWith("/Kinetra Generic C++ Library and QT Example.zip"));
    QVERIFY(!QFile::exists(target));

    // A name typed without ".zip" gets it.
    boxes.SetFileName(dir.filePath("exported"));
    exportButton->click();
    QVERIFY(boxes.WaitForBoxes(3));
    QCOMPARE(boxes.Last().text, "Library successfully exported to " + target);
    QCOMPARE(boxes.Last().icon, QMessageBox::Information);
    QCOMPARE(Resource(target), Resource(":/libraries/Kinetra_Example_CPP_QT.zip"));

    // The same name again: replaced when the user confirms, kept when not.
    Child<QComboBox>(&panel, "comboBox_Export_SerialLib_Type")->setCurrentText("Generic C Library");
    boxes.SetAnswer(QMessageBox::No);
    exportButton->click();
    QTest::qWait(100);
    QCOMPARE(boxes.Last().text, QString("exported.zip already exists. Do you want to replace it?"));
    QCOMPARE(Resource(target), Resource(":/libraries/Kinetra_Example_CPP_QT.zip"));
    boxes.SetAnswer(QMessageBox::Yes);
    exportButton->click();
    QVERIFY(boxes.Last().text.startsWith("Library successfully exported"));
    QCOMPARE(Resource(target), Resource(":/libraries/Kinetra_Protocol_C.zip"));

    // A place that cannot take the file: the system's reason, in a warning.
    const QString impossible = target + "/inside.zip"; // below a file, not a folder
    boxes.SetFileName(impossible);
    exportButton->click();
    QCOMPARE(boxes.Last().icon, QMessageBox::Warning);
    QVERIFY2(boxes.Last().text.startsWith("The library was not exported to " + impossible + ": "),
             qPrintable(boxes.Last().text));
    QVERIFY(!boxes.Last().text.contains("Possible reasons"));
}

void tst_Export::exportedCppLibraryTalksToTheSimulator()
{
    SimulatorRunner sim;
    QVERIFY2(sim.Start({"--port-dir", dir.filePath("ports"), "--odr", "50", "--node",
                        "id=40,name=Front,fw=31.8.2.70", "--node", "id=41,name=Rear,fw=3.1.6.0"}),
             qPrintable(sim.ErrorString()));
    QProcess host;
    host.start(NIMBO_CPP_HOST, {sim.PortPath()});
    QVERIFY(host.waitForFinished(15000));
    const QString out = QString::fromUtf8(host.readAllStandardOutput());
    QVERIFY2(host.exitCode() == 0, qPrintable(out));
    QVERIFY2(out.contains("identity 40 Front 31.8.2.70\n"), qPrintable(out));
    QVERIFY2(out.contains("identity 41 Rear 3.1.6.0\n"), qPrintable(out));
    QVERIFY2(out.contains(QRegularExpression("settings odr 50 acc 210 word 0x[0-9a-f]{8}\n")),
             qPrintable(out));
    QVERIFY2(out.contains("frames good") && out.contains(" bad 0\n"), qPrintable(out));

    // The streamed record it decoded is one the node sent, to the last bit.
    const QRegularExpressionMatch rpy = QRegularExpression("rpy (\\d+) (\\S+) (\\S+) (\\S+)\n").match(out);
    QVERIFY(rpy.hasMatch());
    bool found = false;
    for (const QJsonObject &sent : sim.WaitForLog(SimulatorRunner::Match("tx", NP_CMD_RPY_, 40), 1))
        if (qint64(sent.value("timeStamp").toDouble()) == rpy.captured(1).toLongLong())
            found = qAbs(sent.value("yaw").toDouble() - rpy.captured(4).toDouble()) < 1e-3;
    QVERIFY(found);
    // Its requests reached the node as the node expects them.
    QVERIFY(!sim.WaitForLog(SimulatorRunner::Match("rx", NP_CMD_REQUEST_, 40), 2).isEmpty());
    QVERIFY(sim.Stop());
}

QTEST_MAIN(tst_Export)
#include "tst_export.moc"
