#include "childwidget.h"
#include "framecourier.h"
#include "gatewayprobe.h"
#include "gyrovane.h"
#include "portgate.h"
#include "simulatorrunner.h"
#include "unitroster.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {

struct SimNode
{
    int id;
    const char *name;
    const char *firmware;
    const char *uuid;
    const char *version;
};

// Three model generations, as ./run.sh starts them.
const SimNode kNodes[] = {
    {32, "Bow", "31.8.2.70", "a1b2c3d4e5f60718293a4b5c6d7e8f9001020304", "Ver. 31.8.2 (70)"},
    {33, "Mast", "51.2.0.11", "00112233445566778899aabbccddeeff00000001", "Ver. 51.2.0 (11)"},
    {34, "Stern", "3.1.6.0", "ff00ee11dd22cc33bb44aa5599668877ffffff00", "Ver. 3.1.6 (0)"},
};

QString ChildText(QTreeWidgetItem *row, const char *label)
{
    for (int i = 0; i < row->childCount(); ++i)
        if (row->child(i)->text(0) == QLatin1String(label))
            return row->child(i)->text(1);
    return QString();
}

} // namespace

class tst_ShellScan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void scanListsThreeNodes();

private:
    QTemporaryDir runtime;
};

void tst_ShellScan::initTestCase()
{
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
}

void tst_ShellScan::scanListsThreeNodes()
{
    Gyrovane window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *courier = window.findChild<FrameCourier *>();
    auto *roster = window.findChild<UnitRoster *>();
    auto *tree = Child<QTreeWidget>(roster, "treeWidget");
    auto *bar = Child<QProgressBar>(roster, "progressBar_Scanning");
    auto *connect = Child<QPushButton>(courier, "pushButton_Connect_Disconnect");

    // Started after the gateway's first port list, the simulator arrives as a plugged-in port.
    QTRY_VERIFY_WITH_TIMEOUT(GatewayReady(*courier), 5000);
    QStringList args{"--port-dir", runtime.filePath("kinetra-ports"), "--odr", "20"};
    for (const SimNode &node : kNodes)
        args << "--node"
             << QString("id=%1,name=%2,fw=%3,uuid=%4").arg(node.id).arg(node.name, node.firmware, node.uuid);
    SimulatorRunner sim;
    QVERIFY2(sim.Start(args), qPrintable(sim.ErrorString()));
    QTRY_COMPARE_WITH_TIMEOUT(connect->text(), QString::fromUtf8("Disconnect ▇"), 10000);

    QSignalSpy scans(roster, &UnitRoster::Sig_ScanNode);
    QSignalSpy ctrl(roster, &UnitRoster::Sig_NodeCtrl);
    QElapsedTimer clock;
    qint64 lastAnswerMs = -1;
    int answers = 0;
    QObject::connect(window.Link(), QOverload<const Np_Id &>::of(&NimboLink::Sig_RX_Data), &window,
                     [&](const Np_Id &) {
                         lastAnswerMs = clock.elapsed();
                         ++answers;
                     });

    clock.start();
    Child<QPushButton>(roster, "pushButton_ScanNode")->click();
    QVERIFY(bar->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 3, 5000);
    // The scan ends four 3.5 s ticks after the last answer.
    QTRY_VERIFY_WITH_TIMEOUT(bar->isHidden(), 30000);
    const qint64 endMs = clock.elapsed();
    QVERIFY(answers >= 3);
    QVERIFY2(endMs - lastAnswerMs >= 13000 && endMs - lastAnswerMs <= 17000,
             qPrintable(QString("the scan ended %1 ms after the last answer").arg(endMs - lastAnswerMs)));
    QCOMPARE(Child<QPushButton>(roster, "pushButton_ScanNode")->text(), QString::fromUtf8("🔍 Scan"));

    // One broadcast at the start, one per answer, three from the timer.
    QCOMPARE(scans.count(), 1 + answers + 3);
    QCOMPARE(ctrl.count(), answers + 2);
    QCOMPARE(ctrl.first().at(0).toByteArray(), QByteArray(20, '\0'));
    QCOMPARE(ctrl.first().at(1).toInt(), 3);
    QCOMPARE(ctrl.last().at(0).toByteArray(), QByteArray(20, '\0'));
    QCOMPARE(ctrl.last().at(1).toInt(), 3);
    QSet<QByteArray> silenced;
    for (int i = 1; i <= answers; ++i) {
        QCOMPARE(ctrl.at(i).at(1).toInt(), 2);
        silenced.insert(ctrl.at(i).at(0).toByteArray().toHex());
    }
    QCOMPARE(silenced.size(), 3);

    // On the wire (as node 32 received it): every silence the list asked for reached the bus, in order,
    // between the two normal-state commands.
    const QVector<QJsonObject> wireCtrl =
        sim.WaitForLog(SimulatorRunner::Match("rx", NP_CMD_NODECTRL_, 32), answers + 2);
    QCOMPARE(wireCtrl.size(), answers + 2);
    const QString zero(40, QLatin1Char('0'));
    QCOMPARE(wireCtrl.first().value("uuid").toString(), zero);
    QCOMPARE(wireCtrl.first().value("ctrl").toInt(), 3);
    QCOMPARE(wireCtrl.last().value("uuid").toString(), zero);
    QCOMPARE(wireCtrl.last().value("ctrl").toInt(), 3);
    for (int i = 1; i <= answers; ++i) {
        QCOMPARE(wireCtrl[i].value("ctrl").toInt(), 2);
        QCOMPARE(wireCtrl[i].value("uuid").toString().toLatin1(), ctrl.at(i).at(0).toByteArray().toHex());
    }
    int identityRequests = 0;
    for (const QJsonObject &record : sim.LogRecords())
        if (record.value("dir").toString() == "rx" && record.value("cmd").toInt() == NP_CMD_REQUEST_ &&
            record.value("cmdRequest").toInt() == NP_CMD_ID_ && record.value("to").toInt() == 0)
            ++identityRequests;
    QVERIFY(identityRequests >= 4);

    // Three rows, each with its UUID and firmware.
    for (const SimNode &node : kNodes) {
        QTreeWidgetItem *row = nullptr;
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            if (tree->topLevelItem(i)->text(0) == QString("%1").arg(node.id, 4))
                row = tree->topLevelItem(i);
        QVERIFY2(row, node.name);
        QCOMPARE(row->text(1), QString(node.name));
        QCOMPARE(ChildText(row, "UUID"), QString(node.uuid));
        QCOMPARE(ChildText(row, "Firmware"), QString(node.version));
    }
    QVERIFY(sim.Stop());
}

QTEST_MAIN(tst_ShellScan)
#include "tst_shell_scan.moc"
