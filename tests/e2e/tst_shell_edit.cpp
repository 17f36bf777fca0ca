#include "childwidget.h"
#include "framecourier.h"
#include "gatewayprobe.h"
#include "gyrovane.h"
#include "messageboxcatcher.h"
#include "portgate.h"
#include "simulatorrunner.h"
#include "unitroster.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {

const char *const kBowUuid = "a1b2c3d4e5f60718293a4b5c6d7e8f9001020304";
const char *const kMastUuid = "00112233445566778899aabbccddeeff00000001";

} // namespace

// Editing a listed node in the tree, and what reaches the node.
class tst_ShellEdit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void acceptedEditsAreWrittenToTheNode();
    void refusedEditsSendNothing();

private:
    QTreeWidgetItem *Row(const QString &uuidHex) const;
    void Scan();
    bool Edit(QTreeWidgetItem *row, int column, const QString &text);
    QVector<QJsonObject> IdentityWrites();

    QTemporaryDir runtime;
    Gyrovane *window = nullptr;
    UnitRoster *roster = nullptr;
    QTreeWidget *tree = nullptr;
    SimulatorRunner *sim = nullptr;
};

void tst_ShellEdit::initTestCase()
{
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
}

void tst_ShellEdit::init()
{
    window = new Gyrovane;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto *courier = window->findChild<FrameCourier *>();
    roster = window->findChild<UnitRoster *>();
    tree = Child<QTreeWidget>(roster, "treeWidget");
    QTRY_VERIFY_WITH_TIMEOUT(GatewayReady(*courier), 5000);
    sim = new SimulatorRunner;
    QVERIFY2(sim->Start({"--port-dir", runtime.filePath("kinetra-ports"), "--odr", "20", "--node",
                         QString("id=32,name=Bow,fw=31.8.2.70,uuid=%1").arg(kBowUuid), "--node",
                         QString("id=33,name=Mast,fw=51.2.0.11,uuid=%1").arg(kMastUuid)}),
             qPrintable(sim->ErrorString()));
    QTRY_COMPARE_WITH_TIMEOUT(Child<QPushButton>(courier, "pushButton_Connect_Disconnect")->text(),
                              QString::fromUtf8("Disconnect ▇"), 10000);
    Scan();
}

void tst_ShellEdit::cleanup()
{
    if (sim)
        QVERIFY(sim->Stop());
    delete sim;
    sim = nullptr;
    delete window;
    window = nullptr;
}

QTreeWidgetItem *tst_ShellEdit::Row(const QString &uuidHex) const
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QByteArray uuid;
        if (UnitRoster::Find_UUID(tree->topLevelItem(i), &uuid) && uuid.toHex() == uuidHex.toLatin1())
            return tree->topLevelItem(i);
    }
    return nullptr;
}

// Scans until both nodes are listed, then stops the scan, which puts every node back to normal.
void tst_ShellEdit::Scan()
{
    auto *scan = Child<QPushButton>(roster, "pushButton_ScanNode");
    scan->click();
    QTRY_VERIFY_WITH_TIMEOUT(Row(kBowUuid) && Row(kMastUuid), 5000);
    scan->click();
    QCOMPARE(scan->text(), QString::fromUtf8("🔍 Scan"));
}

bool tst_ShellEdit::Edit(QTreeWidgetItem *row, int column, const QString &text)
{
    tree->clearSelection();
    QCoreApplication::processEvents();
    tree->scrollToItem(row);
    const QPoint at(tree->header()->sectionViewportPosition(column) + tree->header()->sectionSize(column) / 2,
                    tree->visualItemRect(row).center().y());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    Child<QPushButton>(roster, "pushButton_EditItem")->click();
    // The view deletes its editor once the edit is committed.
    QPointer<QLineEdit> editor = tree->viewport()->findChild<QLineEdit *>();
    if (!editor || !editor->isVisible())
        return false;
    editor->setText(text);
    QTest::keyClick(editor, Qt::Key_Return);
    QElapsedTimer clock;
    clock.start();
    while (editor && editor->isVisible() && clock.elapsed() < 5000)
        QTest::qWait(1);
    return !editor || !editor->isVisible();
}

QVector<QJsonObject> tst_ShellEdit::IdentityWrites()
{
    QVector<QJsonObject> writes;
    for (const QJsonObject &record : sim->LogRecords())
        if (record.value("dir").toString() == "rx" && record.value("node").toInt() == 33 &&
            record.value("cmd").toInt() == NP_CMD_ID_)
            writes << record;
    return writes;
}

void tst_ShellEdit::acceptedEditsAreWrittenToTheNode()
{
    MessageBoxCatcher boxes;
    QVERIFY(Edit(Row(kMastUuid), 0, "40"));
    QCOMPARE(boxes.Count(), 0);
    // A name longer than the node keeps: asked about, and stored shortened as agreed.
    boxes.SetAnswer(QMessageBox::Yes);
    QVERIFY(Edit(Row(kMastUuid), 1, "ABCDEFGHIJKLMNOP"));
    QCOMPARE(boxes.Count(), 1);
    QCOMPARE(Row(kMastUuid)->text(1), QString("ABCDEFGHIJKL"));

    // Each write names the node by UUID and carries the id and the 12-byte name together.
    // As node 32 received them; every node on the bus logs the broadcast.
    const QVector<QJsonObject> writes = sim->WaitForLog(SimulatorRunner::Match("rx", NP_CMD_ID_, 32), 2);
    QCOMPARE(writes.size(), 2);
    for (const QJsonObject &write : writes) {
        QCOMPARE(write.value("to").toInt(), 0);
        QCOMPARE(write.value("uuid").toString(), QString(kMastUuid));
        QCOMPARE(write.value("idCmd").toInt(), 0);
        QCOMPARE(write.value("nodeId").toInt(), 40);
    }
    QCOMPARE(writes[0].value("name").toString(), QString("Mast"));
    QCOMPARE(writes[1].value("name").toString(), QString("ABCDEFGHIJKL"));

    // Firmware 51.2 asks for a power cycle: one reminder for the two quick edits (after the question
    // about the long name).
    QVERIFY(boxes.WaitForBoxes(2, 6000));
    QVERIFY(boxes.Last().text.startsWith("After editing Node ID or name:"));

    // The node took both: a new scan lists it under its new id and name.
    Scan();
    QTRY_COMPARE_WITH_TIMEOUT(Row(kMastUuid)->text(0), QString("  40"), 5000);
    QCOMPARE(Row(kMastUuid)->text(1), QString("ABCDEFGHIJKL"));
    QCOMPARE(Row(kBowUuid)->text(0), QString("  32"));
    QCOMPARE(tree->topLevelItemCount(), 2);
}

void tst_ShellEdit::refusedEditsSendNothing()
{
    MessageBoxCatcher boxes;
    QVERIFY(Edit(Row(kBowUuid), 0, "33"));
    QVERIFY(Edit(Row(kBowUuid), 0, "2048"));
    QCOMPARE(boxes.Count(), 2);
    QCOMPARE(Row(kBowUuid)->text(0), QString("  32"));

    // An accepted edit after them is the only write the node sees.
    QVERIFY(Edit(Row(kBowUuid), 1, "Prow"));
    const QVector<QJsonObject> writes = sim->WaitForLog(SimulatorRunner::Match("rx", NP_CMD_ID_, 33), 1);
    QCOMPARE(writes.size(), 1);
    QCOMPARE(writes[0].value("uuid").toString(), QString(kBowUuid));
    QCOMPARE(writes[0].value("nodeId").toInt(), 32);
    QCOMPARE(writes[0].value("name").toString(), QString("Prow"));
    QTest::qWait(100);
    QCOMPARE(IdentityWrites().size(), 1);
}

QTEST_MAIN(tst_ShellEdit)
#include "tst_shell_edit.moc"
