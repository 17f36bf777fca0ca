// kinetra-nodesim as a program: options, port publication in the port directory, and ending
// cleanly (status 0, link removed) on SIGTERM, SIGINT and --exit-after.

#include "nimbotypes.h"
#include "simulatorrunner.h"

#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString LinkTarget(const QString &path) { return QFileInfo(path).symLinkTarget(); }

bool Exists(const QString &path)
{
    struct stat st;
    return lstat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace

class TestNodesimProcess : public QObject
{
    Q_OBJECT

private slots:
    void help();
    void badOptions_data();
    void badOptions();
    void portNamesInOneDirectory();
    void aSimulatorIsKnownByItsPidFile();
    void defaultPortDirectory();
    void endsCleanly_data();
    void endsCleanly();
    void endsWithItsParent();
};

void TestNodesimProcess::help()
{
    QProcess p;
    p.start(SimulatorRunner::ProgramPath(), {"--help"});
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(p.readAllStandardOutput());
    for (const char *option : {"--port-dir", "--nodes", "--node", "--odr", "--log", "--drop", "--corrupt",
                               "--noise", "--harsh", "--mute", "--latency-ms", "--exit-after", "--help"})
        QVERIFY2(text.contains(option), option);
}

void TestNodesimProcess::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named");
    QTest::newRow("unknown") << QStringList{"--bogus"} << "--bogus";
    QTest::newRow("missing value") << QStringList{"--odr"} << "--odr";
    QTest::newRow("no nodes") << QStringList{"--nodes", "0"} << "--nodes";
    QTest::newRow("probability above 1") << QStringList{"--drop", "1.5"} << "--drop";
    QTest::newRow("host id for a node") << QStringList{"--node", "id=2"} << "id=2";
    QTest::newRow("short firmware") << QStringList{"--node", "id=40,fw=1.2.3"} << "fw=1.2.3";
    QTest::newRow("id twice") << QStringList{"--node", "id=40", "--node", "id=40"} << "40";
    QTest::newRow("fewer nodes than given")
        << QStringList{"--nodes", "1", "--node", "id=40", "--node", "id=41"} << "--nodes";
}

void TestNodesimProcess::badOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    QTemporaryDir dir;
    QProcess p;
    p.start(SimulatorRunner::ProgramPath(), QStringList{"--port-dir", dir.path()} + arguments);
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardOutput().isEmpty());
    const QString error = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(error.startsWith("kinetra-nodesim: ") && error.contains(named), qPrintable(error));
    QVERIFY(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).isEmpty());
}

void TestNodesimProcess::portNamesInOneDirectory()
{
    QTemporaryDir dir;
    const QString ports = dir.filePath("ports");
    SimulatorRunner a, b;
    QVERIFY2(a.Start({"--port-dir", ports}), qPrintable(a.ErrorString()));
    QVERIFY2(b.Start({"--port-dir", ports}), qPrintable(b.ErrorString()));
    QCOMPARE(a.PortPath(), ports + "/ttyKSIM0");
    QCOMPARE(b.PortPath(), ports + "/ttyKSIM1");
    QVERIFY(LinkTarget(a.PortPath()).startsWith("/dev/pts/"));
    QVERIFY(LinkTarget(a.PortPath()) != LinkTarget(b.PortPath()));

    QVERIFY2(a.Stop(), qPrintable(a.ErrorString()));
    QVERIFY(Exists(b.PortPath()));

    // Links left by killed simulators, one pointing nowhere, one at a terminal that exists again (its
    // pid file names a process that ended), one with no pid file: the next simulator clears them all
    // and takes the first name; the live simulator's link stays.
    QProcess ended;
    ended.start("true", QStringList());
    QVERIFY(ended.waitForFinished());
    QVERIFY(QFile::link("/dev/pts/nonexistent-9999", ports + "/ttyKSIM0"));
    QVERIFY(QFile::link("/dev/null", ports + "/ttyKSIM2"));
    QFile pidFile(ports + "/ttyKSIM2.pid");
    QVERIFY(pidFile.open(QIODevice::WriteOnly));
    pidFile.write(QByteArray::number(ended.processId()) + "\n");
    pidFile.close();
    QVERIFY(QFile::link("/dev/null", ports + "/ttyKSIM3"));
    SimulatorRunner c;
    QVERIFY2(c.Start({"--port-dir", ports}), qPrintable(c.ErrorString()));
    QCOMPARE(c.PortPath(), ports + "/ttyKSIM0");
    QCOMPARE(QDir(ports).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
             (QStringList{"ttyKSIM0", "ttyKSIM0.pid", "ttyKSIM1", "ttyKSIM1.pid"}));
    QVERIFY(LinkTarget(c.PortPath()).startsWith("/dev/pts/"));
    QVERIFY2(c.Stop(), qPrintable(c.ErrorString()));
    QVERIFY2(b.Stop(), qPrintable(b.ErrorString()));
    QVERIFY(QDir(ports).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).isEmpty());
}

void TestNodesimProcess::aSimulatorIsKnownByItsPidFile()
{
    // A renamed copy is a simulator as much as the original: the next one leaves its port alone.
    QTemporaryDir dir;
    const QString ports = dir.filePath("ports");
    const QString copy = dir.filePath("bus-under-test");
    QVERIFY(QFile::copy(SimulatorRunner::ProgramPath(), copy));
    QVERIFY(QFile::setPermissions(copy, QFile::permissions(SimulatorRunner::ProgramPath())));
    SimulatorRunner renamed, next;
    renamed.SetProgram(copy);
    QVERIFY2(renamed.Start({"--port-dir", ports}), qPrintable(renamed.ErrorString()));
    QVERIFY2(next.Start({"--port-dir", ports}), qPrintable(next.ErrorString()));
    QCOMPARE(renamed.PortPath(), ports + "/ttyKSIM0");
    QCOMPARE(next.PortPath(), ports + "/ttyKSIM1");
    QVERIFY(Exists(renamed.PortPath()));

    // A pid file naming a live process that is not the one which wrote it (the pid came back to
    // another process: its start time differs) is stale.
    QVERIFY2(next.Stop(), qPrintable(next.ErrorString()));
    QVERIFY(QFile::link("/dev/null", ports + "/ttyKSIM1"));
    QFile pidFile(ports + "/ttyKSIM1.pid");
    QVERIFY(pidFile.open(QIODevice::WriteOnly));
    pidFile.write(QByteArray::number(QCoreApplication::applicationPid()) + " 1\n");
    pidFile.close();
    SimulatorRunner third;
    QVERIFY2(third.Start({"--port-dir", ports}), qPrintable(third.ErrorString()));
    QCOMPARE(third.PortPath(), ports + "/ttyKSIM1");
    QVERIFY(LinkTarget(third.PortPath()).startsWith("/dev/pts/"));
    QVERIFY2(third.Stop(), qPrintable(third.ErrorString()));
    QVERIFY2(renamed.Stop(), qPrintable(renamed.ErrorString()));
}

void TestNodesimProcess::defaultPortDirectory()
{
    QTemporaryDir runtime;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    p.setProcessEnvironment(env);
    p.start(SimulatorRunner::ProgramPath(), QStringList());
    QVERIFY(p.waitForStarted(5000));
    QElapsedTimer clock;
    clock.start();
    while (!p.canReadLine() && clock.elapsed() < 5000)
        p.waitForReadyRead(100);
    const QString port = QString::fromLocal8Bit(p.readLine()).trimmed();
    QCOMPARE(port, runtime.path() + "/kinetra-ports/ttyKSIM0");
    QVERIFY(Exists(port));
    p.terminate();
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!Exists(port));
}

void TestNodesimProcess::endsCleanly_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("SIGTERM") << "SIGTERM";
    QTest::newRow("SIGINT") << "SIGINT";
    QTest::newRow("--exit-after") << "--exit-after";
}

void TestNodesimProcess::endsCleanly()
{
    QFETCH(QString, how);
    SimulatorRunner sim;
    const QStringList extra = how == "--exit-after" ? QStringList{"--exit-after", "0.5"} : QStringList();
    QVERIFY2(sim.Start(QStringList{"--nodes", "2"} + extra), qPrintable(sim.ErrorString()));
    QVERIFY(!sim.WaitForLog(SimulatorRunner::Match("tx", NP_CMD_RPY_, 33), 1, 3000).isEmpty());
    if (how == "SIGTERM") {
        QVERIFY2(sim.Stop(), qPrintable(sim.ErrorString()));
    } else {
        if (how == "SIGINT")
            QCOMPARE(::kill(pid_t(sim.ProcessId()), SIGINT), 0);
        QVERIFY2(sim.WaitForExit(10000), qPrintable(sim.ErrorString()));
    }
    // The log ends with a whole line: nothing was cut off.
    QFile log(sim.LogPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().endsWith("}\n"));
}

void TestNodesimProcess::endsWithItsParent()
{
    // A test killed by its time-out must not leave its simulator behind.
    QTemporaryDir dir;
    const QString ports = dir.filePath("ports");
    QProcess parent;
    parent.start("sh", {"-c", QString("'%1' --exit-with-parent --port-dir '%2' --log /dev/null & sleep 1")
                                  .arg(SimulatorRunner::ProgramPath(), ports)});
    QVERIFY(parent.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(Exists(ports + "/ttyKSIM0"), 3000);
    QVERIFY(parent.waitForFinished(5000));
    QTRY_VERIFY_WITH_TIMEOUT(!Exists(ports + "/ttyKSIM0"), 3000);
}

QTEST_GUILESS_MAIN(TestNodesimProcess)
#include "tst_nodesim_process.moc"
