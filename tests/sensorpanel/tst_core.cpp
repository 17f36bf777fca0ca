// The node window's plain classes on their own: no widget is constructed here.

#include "calibrationcommands.h"
#include "modelprofile.h"
#include "recorder.h"
#include "serviceobjects.h"
#include "settingsfile.h"
#include "treeformat.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace C = CalibrationCommands;
namespace S = ServiceObjects;

Q_DECLARE_METATYPE(CalibrationCommands::Command)

class tst_Core : public QObject
{
    Q_OBJECT

private slots:
    void calibrationCommands_data();
    void calibrationCommands();
    void serviceObjectWords_data();
    void serviceObjectWords();
    void firmwareFromVersionText_data();
    void firmwareFromVersionText();
    void recorderRowsAndNames();
    void recorderTimeLine_data();
    void recorderTimeLine();
    void recorderKeepsEarlierFiles();
    void recorderGivesUpOnAFullDisk();
    void treeTexts();
    void settingsFileFollowsTheModel();
};

void tst_Core::calibrationCommands_data()
{
    QTest::addColumn<C::Command>("command");
    QTest::addColumn<C::Command>("expected");
    QTest::addColumn<int>("waitMs");
    QTest::addColumn<int>("sendWithinMs");

    QTest::newRow("boot") << C::BootCalibration() << C::Command{4, 2, 0xAA35, 0, 0} << 20000 << 20000;
    // 0.29 dps must not become 28 hundredths through binary rounding.
    QTest::newRow("static start, automatic confidence")
        << C::StaticStart(0.29, false, 80) << C::Command{5, 3, 0xAA65, 29, 0} << 700 << 700;
    QTest::newRow("static start, manual confidence")
        << C::StaticStart(1.5, true, 80) << C::Command{5, 3, 0xAA65, 150, 8000} << 700 << 700;
    QTest::newRow("static finish") << C::StaticFinish() << C::Command{5, 4, 0xAA65, 0, 0} << 700 << 700;
    QTest::newRow("static revoke") << C::StaticRevoke() << C::Command{5, 1, 0xAA65, 0, 0} << 700 << 700;
    // The node reports progress while the user turns it: no answer limit, but a silent node is given up.
    QTest::newRow("compass run") << C::CompassRun(false) << C::Command{3, 1, 0xAA32, 0, 0} << 0 << 5000;
    QTest::newRow("compass run, to flash") << C::CompassRun(true) << C::Command{3, 2, 0xAA32, 0, 0} << 0 << 5000;
    QTest::newRow("compass revoke, to flash")
        << C::CompassRevoke(true) << C::Command{3, 9, 0xAA32, 0, 0} << 2000 << 2000;
    QTest::newRow("heading fix, automatic prediction")
        << C::HeadingFixStart(true, false, 50) << C::Command{3, 10, 0xAA32, 90000, 10001} << 0 << 5000;
    QTest::newRow("heading fix, no prediction")
        << C::HeadingFixStart(false, true, 50) << C::Command{3, 10, 0xAA32, 90000, 0} << 0 << 5000;
    QTest::newRow("heading fix finish") << C::HeadingFixFinish() << C::Command{3, 11, 0xAA32, 0, 0} << 700 << 700;
    QTest::newRow("one-click heading keeps its tenths")
        << C::HeadingOneClick(123.4) << C::Command{3, 12, 0xAA32, 123400, 0} << 700 << 700;
    QTest::newRow("thermal sample") << C::ThermalNewSample() << C::Command{2, 1, 0xAA05, 0, 0} << 0 << 5000;
    QTest::newRow("thermal clear") << C::ThermalClearAll() << C::Command{2, 3, 0xAA05, 0, 0} << 0 << 5000;
    QTest::newRow("thermal save") << C::ThermalSave() << C::Command{2, 4, 0xAA05, 0, 0} << 0 << 5000;
}

void tst_Core::calibrationCommands()
{
    QFETCH(C::Command, command);
    QFETCH(C::Command, expected);
    QFETCH(int, waitMs);
    QFETCH(int, sendWithinMs);
    QCOMPARE(command, expected);
    QCOMPARE(C::AnswerWaitMs(command.calibType, command.ctrlVal), waitMs);
    QCOMPARE(C::SendWithinMs(command.calibType, command.ctrlVal), sendWithinMs);
}

void tst_Core::serviceObjectWords_data()
{
    QTest::addColumn<QString>("flag");
    QTest::addColumn<quint32>("value");

    // Bit 0 is always set; each switch owns one bit.
    QTest::newRow("none") << QString() << 0x1u;
    QTest::newRow("pipeline") << "pipeline" << 0x3u;
    QTest::newRow("nso") << "nso" << 0x5u;
    QTest::newRow("npo 1") << "npo0" << 0x9u;
    QTest::newRow("npo 4") << "npo3" << 0x41u;
    QTest::newRow("pipeline ext id") << "pipelineExtId" << 0x81u;
    QTest::newRow("nso ext id") << "nsoExtId" << 0x101u;
    QTest::newRow("npo ext id") << "npoExtId" << 0x201u;
    QTest::newRow("ack unknown ids") << "nsoAckUnknownIds" << 0x401u;
    QTest::newRow("super user") << "pipelineSuperUser" << 0x801u;
}

void tst_Core::serviceObjectWords()
{
    QFETCH(QString, flag);
    QFETCH(quint32, value);
    S::CanSwitches s;
    bool *flags[] = {&s.pipeline, &s.nso, &s.npo[0], &s.npo[3], &s.pipelineExtId, &s.nsoExtId, &s.npoExtId,
                     &s.nsoAckUnknownIds, &s.pipelineSuperUser};
    const char *names[] = {"pipeline", "nso", "npo0", "npo3", "pipelineExtId", "nsoExtId", "npoExtId",
                           "nsoAckUnknownIds", "pipelineSuperUser"};
    for (int i = 0; i < 9; ++i)
        *flags[i] = flag == QLatin1String(names[i]);
    QCOMPARE(s.Value(), value);
    QCOMPARE(S::CanSwitches::FromValue(value).Value(), value);
    QVERIFY(S::MsbLsbValid(value));
    QVERIFY(!S::MsbLsbValid(value | 0x80000000u));

    // The profile word: vertical install in bit 1, two six-bit codes above it.
    S::ProfileSwitches p;
    p.verticalInstall = true;
    p.standardCode = 63;
    p.customisedCode = 5;
    QCOMPARE(p.Value(), 0x1u | 0x2u | (63u << 2) | (5u << 8));
    const S::ProfileSwitches back = S::ProfileSwitches::FromValue(p.Value());
    QVERIFY(back.verticalInstall && back.standardCode == 63 && back.customisedCode == 5);

    // The save writes flash: its answer is awaited longer.
    QCOMPARE(S::AnswerWaitMs(S::kCommand, S::kSaveSub), 5000);
    QCOMPARE(S::AnswerWaitMs(S::kCommand, S::kRebootSub), 900);
    QCOMPARE(S::AnswerWaitMs(S::kCanSwitches, S::kCanSwitchesSub), 900);
}

void tst_Core::firmwareFromVersionText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("revision");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<bool>("powerCycle");

    QTest::newRow("3.1.6 build 0") << "Ver. 3.1.6 (0)" << 31 << 0 << true << true;
    QTest::newRow("3.0.9: too old") << "Ver. 3.0.9 (0)" << 30 << 0 << false << true;
    QTest::newRow("31.8.2 build 70") << "Ver. 31.8.2 (70)" << 318 << 70 << true << true;
    QTest::newRow("51.2.0 build 11") << "Ver. 51.2.0 (11)" << 512 << 11 << true << true;
    QTest::newRow("no reminder") << "Ver. 2.55.0 (12)" << 75 << 12 << true << false;
    QTest::newRow("two-digit minor") << "Ver. 31.30.1 (20)" << 340 << 20 << true << false;
    QTest::newRow("not a version") << "unknown" << 0 << 0 << false << false;
}

void tst_Core::firmwareFromVersionText()
{
    QFETCH(QString, text);
    QFETCH(int, version);
    QFETCH(int, revision);
    QFETCH(bool, opens);
    QFETCH(bool, powerCycle);
    const ModelProfile model = ModelProfile::FromVersionText(text);
    QCOMPARE(model.FirmwareVersion(), version);
    QCOMPARE(model.FirmwareRevision(), revision);
    QCOMPARE(model.CanOpenNodeWindow(), opens);
    QCOMPARE(model.NeedsPowerCycleAfterRename(), powerCycle);
}

void tst_Core::recorderRowsAndNames()
{
    QCOMPARE(Recorder::BasePath("/tmp/run.TXT"), QString("/tmp/run"));
    QCOMPARE(Recorder::BasePath("/tmp/run.txt.bak"), QString("/tmp/run.txt.bak"));
    QCOMPARE(Recorder::FileName("/tmp/run", "RPY"), QString("/tmp/run_RPY.txt"));

    const double rpy[] = {1.5, -2.25, 0.125, 359.999999999};
    QCOMPARE(Recorder::Row(*Recorder::Find("RPY"), rpy),
             QString("           1.500000,      -2.250000000,     0.125000000,   359.999999999; \r\n"));
    // Raw rows: time and temperature with six decimals, the nine sensor values with nine.
    const double raw[] = {2.5, 21.0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const QString row = Recorder::Row(*Recorder::Find("RawData"), raw);
    QVERIFY(row.startsWith("           2.500000,       21.000000,       1.000000000, "));
    QVERIFY(row.endsWith("9.000000000 ; \r\n"));
    QVERIFY(!Recorder::Find("Nothing"));
}

void tst_Core::recorderTimeLine_data()
{
    QTest::addColumn<QList<double>>("stamps");
    QTest::addColumn<QList<double>>("recorded");

    // The 32-bit microsecond counter wraps from near its top to near zero: 4294.967296 s are added.
    QTest::newRow("wrap") << QList<double>{4294.9, 4294.96, 0.02, 0.08}
                          << QList<double>{4294.9, 4294.96, 4294.987296, 4295.047296};
    // A node that starts again after 41.7 minutes: its time goes on from the last value.
    QTest::newRow("restart") << QList<double>{2502.0, 2502.5, 0.3, 0.8} << QList<double>{2502.0, 2502.5, 2502.8, 2503.3};
    QTest::newRow("restart at zero") << QList<double>{10.0, 0.0, 0.5} << QList<double>{10.0, 10.000001, 10.500001};
    QTest::newRow("restart below the top") << QList<double>{4200.0, 0.5} << QList<double>{4200.0, 4200.5};
    QTest::newRow("wrap, then restart") << QList<double>{4294.9, 0.1, 7.0, 1.0}
                                        << QList<double>{4294.9, 4295.067296, 4301.967296, 4302.967296};
}

void tst_Core::recorderTimeLine()
{
    QFETCH(QList<double>, stamps);
    QFETCH(QList<double>, recorded);
    Recorder r;
    r.Begin(1u << 11, false);
    for (int i = 0; i < stamps.size(); ++i)
        QVERIFY2(qAbs(r.Unwrapped("RPY", stamps[i]) - recorded[i]) < 1e-9, qPrintable(QString::number(i)));
}

void tst_Core::recorderKeepsEarlierFiles()
{
    QTemporaryDir dir;
    const QString base = dir.filePath("run");
    auto write = [](const QString &path, const QByteArray &text) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
    };
    write(base + "_Q_s1_e.txt", "earlier quaternions");
    write(base + "_RawData.txt", "earlier raw data");
    // The RPY file cannot be made: a folder has its name. The start fails after the other files of
    // the set could be made, and the earlier ones are still there, whole.
    QVERIFY(QDir().mkpath(base + "_RPY.txt"));
    Recorder r;
    QCOMPARE(r.Begin((1u << 6) | (1u << 8) | (1u << 11), false), 3);
    QCOMPARE(r.FileNames(base), (QStringList{base + "_Q_s1_e.txt", base + "_RPY.txt", base + "_RawData.txt",
                                             base + "_markers.csv"}));
    QString error;
    QVERIFY(!r.OpenFiles(base, &error));
    QVERIFY2(error.startsWith(base + "_RPY.txt: "), qPrintable(error));
    auto read = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
    };
    QCOMPARE(read(base + "_Q_s1_e.txt"), QByteArray("earlier quaternions"));
    QCOMPARE(read(base + "_RawData.txt"), QByteArray("earlier raw data"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // nothing left behind

    // Once every file can be made, the set replaces the earlier one.
    QVERIFY(QDir().rmdir(base + "_RPY.txt"));
    QVERIFY(r.OpenFiles(base, &error));
    r.Append("RPY", "1\r\n", &error);
    int notOpen = 0;
    QVERIFY(r.SaveAndCloseAll(&notOpen, &error));
    QCOMPARE(read(base + "_RPY.txt"), QByteArray("1\r\n"));
    QCOMPARE(read(base + "_Q_s1_e.txt"), QByteArray());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

void tst_Core::recorderGivesUpOnAFullDisk()
{
    // A disk with room for 10000 bytes: it takes what fits of a write, then nothing.
    qint64 room = 10000;
    Recorder r([&](QFile &file, const char *data, qint64 size, QString *error) -> qint64 {
        const qint64 taken = qMin(room, size);
        if (taken <= 0) {
            if (error)
                *error = "No space left on device";
            return -1;
        }
        room -= taken;
        return file.write(data, taken);
    });
    QTemporaryDir dir;
    r.Begin(1u << 11, true);
    QString error;
    QVERIFY(r.OpenFiles(dir.filePath("full"), &error));
    const QString row = QString(70, QLatin1Char('7')) + "; \r\n";
    Recorder::Block last = Recorder::Block::Kept;
    qint64 rows = 0;
    while (last != Recorder::Block::Overflow && rows < 2000000) {
        last = r.Append("RPY", row, &error);
        ++rows;
    }
    // Stopped once what waits passes the bound, not at the end of memory.
    QCOMPARE(int(last), int(Recorder::Block::Overflow));
    QVERIFY(error.endsWith("full_RPY.txt: No space left on device"));
    QVERIFY(r.PendingBytes() > Recorder::kPendingLimitBytes && r.PendingBytes() < Recorder::kPendingLimitBytes + 8192);

    int notOpen = 0;
    QVERIFY(!r.SaveAndCloseAll(&notOpen, &error));
    QCOMPARE(notOpen, 0);
    QFile file(dir.filePath("full_RPY.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    // The file ends with its last whole block: no row cut in two.
    QVERIFY(text.size() > 0 && text.size() < 10000);
    QVERIFY(text.endsWith("; \r\n"));
    QVERIFY(text.startsWith("rpyData = [ \r\n"));
}

void tst_Core::treeTexts()
{
    QCOMPARE(TreeFormat::UptimeText(12.5), QString("      12.500000 s"));
    QCOMPARE(TreeFormat::QoSText(4), QString("4  Fine"));
    QCOMPARE(TreeFormat::QoSText(9), QString("9 "));
    QCOMPARE(TreeFormat::RateText(799.96f), QString("800.0 Hz"));
    QCOMPARE(TreeFormat::TemperatureText(-3.5f), QString("-3.50 °C"));
    QCOMPARE(TreeFormat::ValueText(-0.0004, 3), QString("    -0.000"));
}

// A file holds the fields the node's form offers; a node of another generation is told which of a
// file's fields it lacks, and those are never applied.
void tst_Core::settingsFileFollowsTheModel()
{
    Np_Settings current{};
    current.settingsWord = (1u << 0) | (1u << 3) | (1u << 6) | (2u << 14);
    current.uart2Baud = 1152;
    current.fusionParamAcc = 210;
    current.fusionParamMag = 100;
    current.inhibitTime = 10;
    current.silentTime = 3;
    current.odr = 200;
    const ModelProfile bow = ModelProfile::FromVersionText("Ver. 31.8.2 (70)");
    const ModelProfile stern = ModelProfile::FromVersionText("Ver. 3.1.6 (0)");

    const SettingsFile::Contents fromBow =
        SettingsFile::Read(SettingsFile::Write(current, {"\x01", 32, "Bow", "31.8.2.70", bow}, nullptr, "now"));
    QVERIFY2(fromBow.error.isEmpty(), qPrintable(fromBow.error));
    QCOMPARE(fromBow.generation, QString("3.6"));
    QCOMPARE(fromBow.raw.value("uart2_baud_rate"), 1152u);
    QCOMPARE(fromBow.raw.value("accelerometer_gain"), 210u);
    QVERIFY(fromBow.raw.contains("output_data_rate") && fromBow.raw.contains("silent_time"));
    QVERIFY(!fromBow.raw.contains("inhibit_time")); // this generation's form has none
    // Read back onto the same settings: nothing to write.
    QVERIFY(SettingsFile::Compare(current, bow, fromBow).changes.isEmpty());

    // The legacy node has no rate, silent time or error filter: named, and left as they are.
    Np_Settings legacy = current;
    legacy.odr = 0;
    legacy.silentTime = 0;
    legacy.settingsWord &= ~(1u << 3);
    const SettingsFile::Plan plan = SettingsFile::Compare(legacy, stern, fromBow);
    QVERIFY(plan.NeedsConfirmation());
    QVERIFY(plan.otherGeneration.contains("3.6"));
    QCOMPARE(plan.unfit, QStringList({"gyro_error_filter", "output_data_rate", "silent_time"}));
    QVERIFY(plan.changes.isEmpty());
    QCOMPARE(plan.result.odr, quint16(0));
    QCOMPARE(plan.result.silentTime, quint16(0));
}

QTEST_GUILESS_MAIN(tst_Core)
#include "tst_core.moc"
