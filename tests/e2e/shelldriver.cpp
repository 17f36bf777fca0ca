#include "shelldriver.h"

#include "childwidget.h"
#include "framecourier.h"
#include "gatewayprobe.h"
#include "gyrovane.h"
#include "sensorpanel.h"
#include "unitroster.h"

#include <QtTest/QTest>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTreeWidget>

const SimNode kBow{32, "Bow", "31.8.2.70", "a1b2c3d4e5f60718293a4b5c6d7e8f9001020304"};
const SimNode kMast{33, "Mast", "51.2.0.11", "00112233445566778899aabbccddeeff00000001"};
const SimNode kStern{34, "Stern", "3.1.6.0", "ff00ee11dd22cc33bb44aa5599668877ffffff00"};

QString SimNode::Option() const
{
    return QString("id=%1,name=%2,fw=%3,uuid=%4").arg(id).arg(name, firmware, uuid);
}

ShellDriver::ShellDriver(Gyrovane *window_i, const QString &portDir_i)
    : window(window_i)
    , portDir(portDir_i)
{}

ShellDriver::~ShellDriver() { StopSimulator(); }

FrameCourier *ShellDriver::Courier() const { return window->findChild<FrameCourier *>(); }

UnitRoster *ShellDriver::Roster() const { return window->findChild<UnitRoster *>(); }

QTreeWidget *ShellDriver::Tree() const { return Child<QTreeWidget>(Roster(), "treeWidget"); }

bool ShellDriver::StartSimulator(const QVector<SimNode> &nodes, const QStringList &extra)
{
    if (!QTest::qWaitFor([&] { return GatewayReady(*Courier()); }, 5000)) {
        error = "the gateway made no port list";
        return false;
    }
    QStringList arguments{"--port-dir", portDir};
    for (const SimNode &node : nodes)
        arguments << "--node" << node.Option();
    if (!sim.Start(arguments + extra)) {
        error = sim.ErrorString();
        return false;
    }
    auto *connect = Child<QPushButton>(Courier(), "pushButton_Connect_Disconnect");
    if (!QTest::qWaitFor([&] { return connect->text() == QString::fromUtf8("Disconnect ▇"); }, 10000)) {
        error = "the link panel did not open the simulated port";
        return false;
    }
    return true;
}

bool ShellDriver::StopSimulator() { return !sim.IsRunning() || sim.Stop(); }

QTreeWidgetItem *ShellDriver::Row(const SimNode &node) const
{
    QTreeWidget *tree = Tree();
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QByteArray uuid;
        if (UnitRoster::Find_UUID(tree->topLevelItem(i), &uuid) && uuid.toHex() == QByteArray(node.uuid))
            return tree->topLevelItem(i);
    }
    return nullptr;
}

bool ShellDriver::Scan(const QVector<SimNode> &nodes, int timeoutMs)
{
    auto *scan = Child<QPushButton>(Roster(), "pushButton_ScanNode");
    scan->click();
    const bool listed = QTest::qWaitFor(
        [&] {
            for (const SimNode &node : nodes)
                if (!Row(node))
                    return false;
            return true;
        },
        timeoutMs);
    scan->click();
    if (!listed)
        error = "not every node answered the scan";
    return listed;
}

bool ShellDriver::Select(QTreeWidgetItem *row)
{
    if (!row)
        return false;
    QTreeWidget *tree = Tree();
    tree->scrollToItem(row);
    const QPoint at(tree->header()->sectionViewportPosition(1) + 4, tree->visualItemRect(row).center().y());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    return true;
}

SensorPanel *ShellDriver::Window(const SimNode &node) const
{
    return window->NodeWindows().value(QByteArray::fromHex(node.uuid));
}

SensorPanel *ShellDriver::Open(const SimNode &node)
{
    if (!Select(Row(node)))
        return nullptr;
    auto *open = Child<QPushButton>(Roster(), "pushButton_OpenCloseItem");
    if (open->text() != QString::fromUtf8("▶ Open"))
        return nullptr;
    open->click();
    return Window(node);
}

bool ShellDriver::CloseFromList(const SimNode &node)
{
    if (!Select(Row(node)))
        return false;
    auto *close = Child<QPushButton>(Roster(), "pushButton_OpenCloseItem");
    if (close->text() != QString::fromUtf8("■ Close"))
        return false;
    close->click();
    return true;
}
