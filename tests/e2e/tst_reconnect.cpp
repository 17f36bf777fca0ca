#include "childwidget.h"
#include "framecourier.h"
#include "gatewayprobe.h"
#include "gyrovane.h"
#include "portgate.h"
#include "sensorpanel.h"
#include "shelldriver.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList warnings;
QtMessageHandler previousHandler = nullptr;
void WarningCatcher(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // The offscreen platform's note about size hints is no fault of ours.
    if (type != QtDebugMsg && type != QtInfoMsg && !message.contains("propagateSizeHints"))
        warnings << message;
    previousHandler(type, context, message);
}

const QString kConnect = QString::fromUtf8("Connect ▝ ▞ ▟");
const QString kDisconnect = QString::fromUtf8("Disconnect ▇");

} // namespace

// The simulator stopped and started a hundred times, as cables are pulled and plugged: ended politely
// (SIGTERM) or killed (SIGKILL, which leaves its link behind), with a pause or swapped at once for a
// new one. With two node windows open, the link panel reconnects by itself every time and both
// windows receive their nodes' data again.
class tst_Reconnect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void hundredStopsAndStarts();
    void cleanupTestCase();

private:
    QTemporaryDir runtime;
};

void tst_Reconnect::initTestCase()
{
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    previousHandler = qInstallMessageHandler(WarningCatcher);
}

void tst_Reconnect::cleanupTestCase() { qInstallMessageHandler(previousHandler); }

void tst_Reconnect::hundredStopsAndStarts()
{
    Gyrovane window;
    window.show();
    const QString portDir = runtime.filePath("kinetra-ports");
    ShellDriver shell(&window, portDir);
    const QVector<SimNode> nodes{kBow, kStern};
    QStringList arguments{"--port-dir", portDir, "--odr", "50"};
    for (const SimNode &node : nodes)
        arguments << "--node" << node.Option();
    QVERIFY2(shell.StartSimulator(nodes, {"--odr", "50"}), qPrintable(shell.Error()));
    QVERIFY(shell.Scan(nodes));
    for (const SimNode &node : nodes)
        QVERIFY(shell.Open(node));
    FrameCourier *courier = shell.Courier();
    auto *connect = Child<QPushButton>(courier, "pushButton_Connect_Disconnect");
    QSignalSpy uptimes(&window, &Gyrovane::Sig_NewData_Uptime);
    // Both windows hear from their nodes since the given point of the spy.
    auto bothHeard = [&](int since) {
        QSet<int> heard;
        for (int i = since; i < uptimes.count(); ++i)
            heard.insert(uptimes.at(i).first().toInt());
        return heard.contains(kBow.id) && heard.contains(kStern.id);
    };

    SimulatorRunner runners[2];
    SimulatorRunner *current = &shell.Simulator();
    for (int cycle = 0; cycle < 100; ++cycle) {
        const bool kill = cycle % 2 == 1;
        const bool swapAtOnce = cycle % 4 >= 2;
        const QByteArray where = "cycle " + QByteArray::number(cycle);
        QVERIFY2(kill ? current->Kill() : current->Stop(), where.constData());
        if (!swapAtOnce)
            QVERIFY2(QTest::qWaitFor([&] { return connect->text() == kConnect; }, 5000),
                     where + ": still connected to a port that is gone");
        SimulatorRunner *next = &runners[cycle % 2];
        QVERIFY2(next->Start(arguments), qPrintable(where + ": " + next->ErrorString()));
        const int since = uptimes.count();
        const bool reconnected = QTest::qWaitFor(
            [&] {
                return connect->text() == kDisconnect &&
                       OnGateway(*courier, [](PortGate *g) { return g->CurrentPortName(); }) ==
                           next->PortPath() &&
                       bothHeard(since);
            },
            8000);
        QVERIFY2(reconnected, where + ": no data through " + next->PortPath().toLocal8Bit());
        current = next;
    }
    QCOMPARE(window.NodeWindows().size(), 2);
    // A last stop leaves the panel waiting, not showing a connection to nothing.
    QVERIFY(current->Kill());
    QVERIFY(QTest::qWaitFor([&] { return connect->text() == kConnect; }, 5000));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

QTEST_MAIN(tst_Reconnect)
#include "tst_reconnect.moc"
