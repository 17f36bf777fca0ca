#include "childwidget.h"
#include "messageboxcatcher.h"
#include "sensorpanel.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const quint16 kNode = 5;

QByteArray Read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The rows of a CSV file as a CSV reader sees them: fields split at commas outside quotes, "" inside
// quotes a quote.
QVector<QStringList> ParseCsv(const QByteArray &bytes)
{
    QVector<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    const QString text = QString::fromUtf8(bytes);
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row << field;
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            row << field;
            rows << row;
            row.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return rows;
}

// The matrix frame around the rows, as a file with "Format & Comment" on has it.
QByteArray Framed(const char *matrix, const char *name, const char *unit, const QByteArray &rows)
{
    return QByteArray(matrix) + "%   File created by Gyrovane. \r\n" + name + unit + rows + " \n    ]; \r\n";
}

} // namespace

// What the recorder writes, byte for byte, and how it starts, pauses, saves and fails.
class tst_Recorder : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void exactBytes_data();
    void exactBytes();
    void startNeedsAnOutputAndAFile();
    void pauseDropsRowsAndSizeChangesPerBlock();
    void closingTheWindowCompletesTheFiles();
    void timeStampWrapKeepsTimeRising();
    void earlierRecordingsAreNeverLostSilently();
    void aFullDiskStopsTheRecording();
    void csvForAnalysisWithMarkers();

private:
    void Configure(quint32 outputs);
    bool Start(const QString &fileName);
    QLabel *Label(const char *name) { return Child<QLabel>(panel, name); }

    QTemporaryDir dir;
    MessageBoxCatcher *boxes = nullptr;
    SensorPanel *panel = nullptr;
};

void tst_Recorder::init()
{
    boxes = new MessageBoxCatcher;
    panel = new SensorPanel(kNode);
    panel->Set_NodeFirmwareVersion(318, 70);
}

void tst_Recorder::cleanup()
{
    delete panel;
    panel = nullptr;
    delete boxes;
    boxes = nullptr;
}

void tst_Recorder::Configure(quint32 outputs)
{
    Np_Settings settings{};
    settings.settingsWord = outputs | 0x7u;
    settings.odr = 100;
    panel->On_NewImuSettings(kNode, settings);
}

bool tst_Recorder::Start(const QString &fileName)
{
    boxes->SetFileName(fileName.isEmpty() ? QString() : dir.filePath(fileName));
    Child<QPushButton>(panel, "pushButton_Record_StartPause")->click();
    return Child<QPushButton>(panel, "pushButton_Record_StartPause")->text() == QString::fromUtf8("▮▮ Pause");
}

void tst_Recorder::exactBytes_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("format");
    QTest::addColumn<QByteArray>("expected");

    // Two rows of each output, every number right-aligned in 15 characters.
    const QByteArray rawRows =
        "           2.000000,       23.500000,       0.125000000,    -0.250000000,     "
        "0.500000000,       0.000000000,     0.000000000,     1.000000000,       "
        "0.375000000,    -0.625000000,     0.750000000 ; \r\n"
        "           2.500000,      -40.000000,       0.000000000,     0.000000000,     "
        "0.000000000,       0.000000000,     0.000000000,     0.000000000,       "
        "0.000000000,     0.000000000,     0.000000000 ; \r\n";
    const QByteArray rpyRows =
        "           1.500000,      10.250000000,    -2.500000000,   359.125000000; \r\n"
        "           1.510000,      10.250000000,    -2.500000000,   359.125000000; \r\n";
    const QByteArray qRows = "           3.250000,       1.000000000,     0.000000000,    -0.500000000,     "
                             "0.250000000; \r\n"
                             "           3.260000,       1.000000000,     0.000000000,    -0.500000000,     "
                             "0.250000000; \r\n";
    const QByteArray gravityRows =
        "           4.000000,       0.062500000,    -0.125000000,     0.968750000; \r\n"
        "           4.010000,       0.062500000,    -0.125000000,     0.968750000; \r\n";
    const QByteArray eulerRows =
        "           5.500000,    -170.500000000,    45.250000000,     0.750000000; \r\n"
        "           5.510000,    -170.500000000,    45.250000000,     0.750000000; \r\n";

    QTest::newRow("raw, matrix")
        << "RawData" << true
        << Framed("rawData = [ \r\n",
                  "%   NAME:  timeStamp,   temperature,     gyroX,   gyroY,   gyroZ,     "
                  "accX,   accY,   accZ,     magX,   magY,   magZ ;  \r\n",
                  "%   UNIT:   Second  ,       oC     ,     rad/s,   rad/s,   rad/s,       "
                  "g ,     g ,     g ,     unit ,  unit ,  unit ; \r\n",
                  rawRows);
    QTest::newRow("raw, rows only") << "RawData" << false << rawRows;
    QTest::newRow("rpy, matrix") << "RPY" << true
                                 << Framed("rpyData = [ \r\n",
                                           "%   NAME:  timeStamp,    Roll,    Pitch,   Yaw;  \r\n",
                                           "%   UNIT:   Second  ,    degree,  degree,  degree; \r\n",
                                           rpyRows);
    QTest::newRow("rpy, rows only") << "RPY" << false << rpyRows;
    QTest::newRow("quaternion, matrix")
        << "Q_s1_e" << true
        << Framed("quaternionData = [ \r\n", "%   NAME:  timeStamp,    q1,   q2,   q3,   q4; \r\n",
                  "%   UNIT:   Second  ,    Quaternion(no unit) ; \r\n", qRows);
    QTest::newRow("quaternion, rows only") << "Q_s1_e" << false << qRows;
    QTest::newRow("gravity, matrix") << "Gravity" << true
                                     << Framed("gravityData = [ \r\n",
                                               "%   NAME:  timeStamp,  GravityX, GravityY, GravityZ; \r\n",
                                               "%   UNIT:   Second  ,         g,        g,        g; \r\n",
                                               gravityRows);
    QTest::newRow("gravity, rows only") << "Gravity" << false << gravityRows;
    QTest::newRow("euler, matrix") << "Euler_s1_e" << true
                                   << Framed("eulerData = [ \r\n",
                                             "%   NAME:  timeStamp,    Psi,     Theta,   Phi;  \r\n",
                                             "%   UNIT:   Second  ,    degree,  degree,  degree; \r\n",
                                             eulerRows);
    QTest::newRow("euler, rows only") << "Euler_s1_e" << false << eulerRows;
}

void tst_Recorder::exactBytes()
{
    QFETCH(QString, key);
    QFETCH(bool, format);
    QFETCH(QByteArray, expected);

    const QMap<QString, int> bits{
        {"RawData", 6}, {"RPY", 11}, {"Q_s1_e", 8}, {"Gravity", 12}, {"Euler_s1_e", 10}};
    Configure(1u << bits[key]);
    Child<QCheckBox>(panel, "checkBox_Record_FormatEnable")->setChecked(format);
    const QString name = QString("exact-%1-%2").arg(key).arg(format ? "matrix" : "rows");
    QVERIFY(Start(name + ".txt"));
    QVERIFY(!Child<QCheckBox>(panel, "checkBox_Record_FormatEnable")->isEnabled());

    // Each record twice, the second 10 ms later, with another node's record between them.
    for (int row = 0; row < 3; ++row) {
        const quint16 id = row == 1 ? kNode + 1 : kNode;
        const double t = row == 2 ? 0.01 : 0.0;
        if (key == "RawData" && row != 2)
            panel->On_NewData_RecordRaw(id, 2.0, 23.5f, 0.125f, -0.25f, 0.5f, 0, 0, 1, 0.375f, -0.625f,
                                        0.75f);
        if (key == "RawData" && row == 2)
            panel->On_NewData_RecordRaw(id, 2.5, -40.0f, 0, 0, 0, 0, 0, 0, 0, 0, 0);
        if (key == "RPY")
            panel->On_NewData_RecordRPY(id, 1.5 + t, 10.25f, -2.5f, 359.125f);
        if (key == "Q_s1_e")
            panel->On_NewData_RecordQ_s1_e(id, 3.25 + t, 1.0f, 0.0f, -0.5f, 0.25f);
        if (key == "Gravity")
            panel->On_NewData_RecordGravity(id, 4.0 + t, 0.0625f, -0.125f, 0.96875f);
        if (key == "Euler_s1_e")
            panel->On_NewData_RecordEuler_s1_e(id, 5.5 + t, -170.5f, 45.25f, 0.75f);
    }
    Child<QPushButton>(panel, "pushButton_Record_Save")->click();
    QCOMPARE(Label("label_Record_Msg")->text(), QString("Files saved successfully"));
    QCOMPARE(Child<QPushButton>(panel, "pushButton_Record_StartPause")->text(),
             QString::fromUtf8("⚫ Record"));
    QVERIFY(!Child<QPushButton>(panel, "pushButton_Record_Save")->isEnabled());

    // One file, named after the output; nothing else.
    QStringList made;
    for (const QString &file : QDir(dir.path()).entryList(QDir::Files))
        if (file.startsWith(name + "_"))
            made << file;
    QCOMPARE(made, QStringList{name + "_" + key + ".txt"});
    QCOMPARE(Read(dir.filePath(name + "_" + key + ".txt")), expected);
}

void tst_Recorder::startNeedsAnOutputAndAFile()
{
    // Status and the combined record are no measurement outputs.
    Configure((1u << 5) | (1u << 27));
    QVERIFY(!Start("none.txt"));
    QCOMPARE(boxes->Count(), 1);
    QVERIFY(boxes->Last().text.startsWith("Please select at least one valid output"));
    QCOMPARE(boxes->Last().icon, QMessageBox::Information);

    // Dialog cancelled: nothing is recorded, no error box, and the status line says so.
    Configure((1u << 11) | (1u << 8));
    boxes->Clear();
    QVERIFY(!Start(QString()));
    QCOMPARE(boxes->Count(), 1); // the file dialog alone
    QCOMPARE(boxes->Last().isMessageBox, false);
    QCOMPARE(Label("label_Record_Msg")->text(), QString("Recording not started: no file was chosen."));
    panel->On_NewData_RecordRPY(kNode, 1.0, 1, 2, 3);

    // A name typed without ".txt" is used whole; ".TXT" is dropped in any case.
    QVERIFY(Start("plain"));
    Child<QPushButton>(panel, "pushButton_Record_Save")->click();
    QVERIFY(Start("UPPER.TXT"));
    QCOMPARE(Label("label_Record_Msg")->text(), QString("Recording 2 selected outputs..."));
    Child<QPushButton>(panel, "pushButton_Record_Save")->click();
    QStringList made;
    for (const QString &file : QDir(dir.path()).entryList(QDir::Files))
        if (file.startsWith("plain") || file.startsWith("UPPER"))
            made << file;
    made.sort();
    QCOMPARE(made, (QStringList{"UPPER_Q_s1_e.txt", "UPPER_RPY.txt", "plain_Q_s1_e.txt", "plain_RPY.txt"}));
}

void tst_Recorder::pauseDropsRowsAndSizeChangesPerBlock()
{
    Configure(1u << 11);
    Child<QCheckBox>(panel, "checkBox_Record_FormatEnable")->setChecked(false);
    QVERIFY(Start("pause.txt"));
    auto *startPause = Child<QPushButton>(panel, "pushButton_Record_StartPause");
    panel->On_NewData_RecordRPY(kNode, 1.0, 1, 1, 1);
    startPause->click();
    QCOMPARE(startPause->text(), QString::fromUtf8("⚫ Resume"));
    panel->On_NewData_RecordRPY(kNode, 2.0, 2, 2, 2);
    startPause->click();
    QCOMPARE(startPause->text(), QString::fromUtf8("▮▮ Pause"));
    panel->On_NewData_RecordRPY(kNode, 3.0, 3, 3, 3);

    // A row is 76 characters; with the two before, the 52nd passes 4096 and writes the first block.
    const QString before = Label("label_RecordFileSize")->text();
    int changes = 0;
    QString last = before;
    for (int i = 0; i < 200; ++i) {
        panel->On_NewData_RecordRPY(kNode, 4.0 + i, 0, 0, 0);
        if (Label("label_RecordFileSize")->text() != last) {
            ++changes;
            last = Label("label_RecordFileSize")->text();
            QVERIFY2(i == 51 || i == 105 || i == 159, qPrintable(QString::number(i)));
        }
    }
    QCOMPARE(changes, 3);
    QCOMPARE(last, QString("%1 MB").arg("0.012", 6));
    Child<QPushButton>(panel, "pushButton_Record_Save")->click();
    const QList<QByteArray> rows = Read(dir.filePath("pause_RPY.txt")).split('\n');
    QCOMPARE(rows.size(), 202 + 1);
    QVERIFY(rows[0].startsWith("           1.000000,"));
    QVERIFY(rows[1].startsWith("           3.000000,")); // the paused row is gone
}

void tst_Recorder::closingTheWindowCompletesTheFiles()
{
    Configure((1u << 6) | (1u << 11));
    QVERIFY(Start("closed.txt"));
    for (int i = 0; i < 100; ++i) {
        panel->On_NewData_RecordRaw(kNode, i * 0.01, 20, 1, 2, 3, 4, 5, 6, 7, 8, 9);
        panel->On_NewData_RecordRPY(kNode, i * 0.01, 1, 2, 3);
    }
    panel->close();
    for (const char *key : {"RawData", "RPY"}) {
        const QByteArray text = Read(dir.filePath(QString("closed_%1.txt").arg(key)));
        QCOMPARE(text.count("; \r\n"), 100 + 2); // every row, the unit line and the matrix's end
        QVERIFY(text.endsWith(" \n    ]; \r\n"));
    }
}

void tst_Recorder::timeStampWrapKeepsTimeRising()
{
    Configure((1u << 11) | (1u << 8));
    Child<QCheckBox>(panel, "checkBox_Record_FormatEnable")->setChecked(false);
    QVERIFY(Start("wrap.txt"));
    // The 32-bit microsecond counter passes 4294.967295 s and starts again near 0.
    for (double t : {4294.9, 4294.96, 0.02, 0.08})
        panel->On_NewData_RecordRPY(kNode, t, 0, 0, 0);
    panel->On_NewData_RecordQ_s1_e(kNode, 0.5, 1, 0, 0, 0); // another output's first row
    Child<QPushButton>(panel, "pushButton_Record_Save")->click();
    const QList<QByteArray> rows = Read(dir.filePath("wrap_RPY.txt")).split('\n');
    QVERIFY(rows[0].startsWith("        4294.900000,"));
    QVERIFY(rows[1].startsWith("        4294.960000,"));
    QVERIFY(rows[2].startsWith("        4294.987296,"));
    QVERIFY(rows[3].startsWith("        4295.047296,"));
    QVERIFY(Read(dir.filePath("wrap_Q_s1_e.txt")).startsWith("           0.500000,"));
}

void tst_Recorder::earlierRecordingsAreNeverLostSilently()
{
    // An earlier recording of the name: its files are the ones written (base_<output>.txt), not the
    // name typed.
    Configure((1u << 11) | (1u << 8));
    QVERIFY(Start("again.txt"));
    panel->On_NewData_RecordRPY(kNode, 1.0, 1, 2, 3);
    Child<QPushButton>(panel, "pushButton_Record_Save")->click();
    const QByteArray earlier = Read(dir.filePath("again_RPY.txt"));
    QVERIFY(earlier.contains("1.000000"));

    // Asked; cancelled: nothing is touched and the status line says so.
    boxes->Clear();
    QVERIFY(!Start("again.txt"));
    QCOMPARE(boxes->Last().text, QString("A recording of this name exists. Replace its files?"));
    QVERIFY(boxes->Last().informativeText.contains("again_Q_s1_e.txt\nagain_RPY.txt"));
    QCOMPARE(Label("label_Record_Msg")->text(), QString("Recording not started: the earlier files were kept."));
    QCOMPARE(Read(dir.filePath("again_RPY.txt")), earlier);

    // A start that fails half-way (a folder takes the name of one file) leaves every earlier file.
    QVERIFY(QDir().mkpath(dir.filePath("again_Q_s1_e.txt.d")));
    QVERIFY(QFile::remove(dir.filePath("again_Q_s1_e.txt")));
    QVERIFY(QDir().rename(dir.filePath("again_Q_s1_e.txt.d"), dir.filePath("again_Q_s1_e.txt")));
    boxes->SetAnswer(QMessageBox::Yes);
    QVERIFY(!Start("again.txt"));
    QCOMPARE(boxes->Last().icon, QMessageBox::Critical);
    QVERIFY(Label("label_Record_Msg")->text().startsWith("Recording not started: "));
    QCOMPARE(Read(dir.filePath("again_RPY.txt")), earlier);

    // Replace: the new recording takes the names.
    QVERIFY(QDir().rmdir(dir.filePath("again_Q_s1_e.txt")));
    QVERIFY(Start("again.txt"));
    panel->On_NewData_RecordRPY(kNode, 7.0, 1, 2, 3);
    Child<QPushButton>(panel, "pushButton_Record_Save")->click();
    QVERIFY(Read(dir.filePath("again_RPY.txt")).contains("7.000000"));
    QVERIFY(!Read(dir.filePath("again_RPY.txt")).contains("1.000000,"));
}

void tst_Recorder::aFullDiskStopsTheRecording()
{
    // A small file system of its own (the test command mounts it): the disk fills up mid-recording.
    const QString smallDisk = qEnvironmentVariable("GYROVANE_SMALL_DISK");
    QVERIFY2(!smallDisk.isEmpty() && QFileInfo(smallDisk).isDir(), "the test command mounts a small file system");
    Configure(1u << 6);
    Child<QCheckBox>(panel, "checkBox_Record_FormatEnable")->setChecked(true);
    boxes->SetFileName(smallDisk + "/full.txt");
    Child<QPushButton>(panel, "pushButton_Record_StartPause")->click();
    QCOMPARE(Child<QPushButton>(panel, "pushButton_Record_StartPause")->text(), QString::fromUtf8("▮▮ Pause"));

    // Rows until the recording gives up: not before the disk is full, never without a bound.
    auto *startPause = Child<QPushButton>(panel, "pushButton_Record_StartPause");
    int rows = 0;
    for (; rows < 2000000 && startPause->text() != QString::fromUtf8("⚫ Record"); ++rows)
        panel->On_NewData_RecordRaw(kNode, rows * 0.00125, 21, 1, 2, 3, 4, 5, 6, 7, 8, 9);
    QVERIFY2(rows < 2000000, "the recording was never stopped");
    QVERIFY2(Label("label_Record_Msg")->text().startsWith("Recording stopped: the disk does not take the data ("),
             qPrintable(Label("label_Record_Msg")->text()));
    QVERIFY(Label("label_Record_Msg")->text().contains("No space left on device"));
    QVERIFY(!Child<QPushButton>(panel, "pushButton_Record_Save")->isEnabled());

    // The file holds whole rows only, closed; the window records again when asked.
    const QByteArray text = Read(smallDisk + "/full_RawData.txt");
    QVERIFY(text.startsWith("rawData = [ \r\n"));
    QVERIFY(text.endsWith("; \r\n"));
    QVERIFY(text.size() > 100000);
    panel->On_NewData_RecordRaw(kNode, 1.0, 21, 1, 2, 3, 4, 5, 6, 7, 8, 9);
    QCOMPARE(Read(smallDisk + "/full_RawData.txt"), text);
}

void tst_Recorder::csvForAnalysisWithMarkers()
{
    Configure((1u << 6) | (1u << 11));
    panel->Set_NodeName(QStringLiteral("Bow \"B\""));
    panel->Set_NodeUuid(QByteArray::fromHex("00112233445566778899aabbccddeeff00112233"));
    panel->Set_NodeFirmwareText(QStringLiteral("31.8.2.70"));
    Child<QCheckBox>(panel, "checkBox_Record_CSV")->setChecked(true);
    QVERIFY(!Child<QCheckBox>(panel, "checkBox_Record_FormatEnable")->isEnabled());
    QVERIFY(Start("run.csv"));
    panel->show();
    panel->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(panel));
    for (int i = 0; i < 3; ++i) {
        panel->On_NewData_RecordRaw(kNode, 2.0 + 0.01 * i, 23.5f, 0.1f, -0.25f, 0.5f, 0, 0, 1, 0.375f, -0.625f, 0.75f);
        panel->On_NewData_RecordRPY(kNode, 2.0 + 0.01 * i, 10.25f, -2.5f, 359.125f);
        QTest::qWait(20);
        if (i == 1) {
            Child<QLineEdit>(panel, "lineEdit_Record_MarkText")->setText(QStringLiteral("turn, then \"stop\""));
            Child<QPushButton>(panel, "pushButton_Record_Mark")->click();
        }
    }
    Child<QPushButton>(panel, "pushButton_Record_StartPause")->setFocus();
    QTest::keyClick(panel, Qt::Key_M); // the key, with the window's focus: a marker without text
    Child<QPushButton>(panel, "pushButton_Record_Save")->click();

    const QVector<QStringList> raw = ParseCsv(Read(dir.filePath("run_RawData.csv")));
    QCOMPARE(raw.size(), 5);
    // The comment line, which CSV readers skip (pandas: comment='#').
    const QByteArray comment = Read(dir.filePath("run_RawData.csv")).split('\r').first();
    QVERIFY2(comment.startsWith("# gyrovane recording, node 5 \"Bow \"\"B\"\"\", UUID "
                                "00112233445566778899aabbccddeeff00112233, firmware 31.8.2.70, started 20"),
             comment.constData());
    QVERIFY(comment.endsWith('Z'));
    QCOMPARE(raw[1], QString("time_s,host_time_s,temperature_c,gyro_x_rad_s,gyro_y_rad_s,gyro_z_rad_s,acc_x_g,"
                             "acc_y_g,acc_z_g,mag_x_earth_field,mag_y_earth_field,mag_z_earth_field")
                         .split(','));
    // Floats in their shortest form, read back exactly; the host time rises.
    QCOMPARE(raw[2].mid(2), QString("23.5,0.1,-0.25,0.5,0,0,1,0.375,-0.625,0.75").split(','));
    QCOMPARE(raw[2][0], QString("2.000000"));
    QCOMPARE(raw[2][3].toFloat(), 0.1f);
    QVERIFY(raw[3][1].toDouble() > raw[2][1].toDouble() && raw[4][1].toDouble() > raw[3][1].toDouble());
    const QVector<QStringList> rpy = ParseCsv(Read(dir.filePath("run_RPY.csv")));
    QCOMPARE(rpy[1], QString("time_s,host_time_s,roll_deg,pitch_deg,yaw_deg").split(','));
    QCOMPARE(rpy.size(), 5);

    const QVector<QStringList> markers = ParseCsv(Read(dir.filePath("run_markers.csv")));
    QCOMPARE(markers.size(), 4);
    QCOMPARE(markers[1], QString("time_s,host_time_s,text").split(','));
    QCOMPARE(markers[2][0], QString("2.010000")); // the node's latest time
    QCOMPARE(markers[2][2], QStringLiteral("turn, then \"stop\""));
    QCOMPARE(markers[3][2], QString());
    QVERIFY(markers[3][1].toDouble() >= markers[2][1].toDouble());
}

QTEST_MAIN(tst_Recorder)
#include "tst_recorder.moc"
