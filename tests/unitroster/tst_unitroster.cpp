#include "messageboxcatcher.h"
#include "unitroster.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTreeWidget>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QString kScan = QString::fromUtf8("🔍 Scan");
const QString kStop = QString::fromUtf8("🔍 Stop");
const QString kOpen = QString::fromUtf8("▶ Open");
const QString kClose = QString::fromUtf8("■ Close");
const QString kRangeMessage = QStringLiteral(
    "Invalid Input. The Node ID should be a decimal            number between %1 and %2 (inclusive).");
const QString kUniqueMessage = QStringLiteral(
    "Node ID not unique. Changes are not saved.\nPlease change the Node ID to a different number.");
const QString kReminder = QStringLiteral(
    "After editing Node ID or name:\n\nPlease wait 2 seconds so that the settings be saved properly and then "
    "reset (power cycle) the target module to make changes fully effective.");
// Firmware 5.5 asks for no power-cycle reminder, so edits made with it leave no box behind.
const QString kQuietFirmware = QStringLiteral("Ver. 5.5.0 (0)");

template<typename T>
T *Child(QObject *parent, const char *name)
{
    T *child = parent->findChild<T *>(name);
    if (!child)
        qFatal("no child %s", name);
    return child;
}

// 20 bytes with a zero byte inside, as real UUIDs may have.
QByteArray Uuid(int seed)
{
    QByteArray uuid(20, '\0');
    for (int i = 0; i < uuid.size(); ++i)
        uuid[i] = char(seed * 37 + i * 11);
    uuid[5] = '\0';
    return uuid;
}

// The child row with this label.
QTreeWidgetItem *Child(QTreeWidgetItem *row, const char *label)
{
    for (int i = 0; i < row->childCount(); ++i)
        if (row->child(i)->text(0) == QLatin1String(label))
            return row->child(i);
    return nullptr;
}

QByteArray Name12(const QByteArray &text)
{
    QByteArray name = text.left(12);
    name.append(12 - name.size(), '\0');
    return name;
}

QByteArray ZeroUuid()
{
    return QByteArray(20, '\0');
}

class Roster
{
public:
    Roster()
    {
        window.resize(320, 400);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qWarning("roster window not exposed");
        tree = Child<QTreeWidget>(&window, "treeWidget");
    }

    void Log(int seed, uint id, const QByteArray &name, const QString &firmware)
    {
        window.On_Log_Node(Uuid(seed), id, Name12(name), firmware);
    }

    QTreeWidgetItem *Row(uint id) const
    {
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            if (tree->topLevelItem(i)->text(0).trimmed() == QString::number(id))
                return tree->topLevelItem(i);
        return nullptr;
    }

    QPoint CellCentre(QTreeWidgetItem *item, int column) const
    {
        // Pending layout changes (the progress bar coming or going) would move the rows under the mouse.
        QCoreApplication::processEvents();
        tree->scrollToItem(item);
        const QRect row = tree->visualItemRect(item);
        const int x =
            tree->header()->sectionViewportPosition(column) + tree->header()->sectionSize(column) / 2;
        return QPoint(x, row.center().y());
    }

    void Click(QTreeWidgetItem *item, int column = 1)
    {
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, CellCentre(item, column));
    }

    // As a window system delivers it: a click, then the double-click press and its release.
    void DoubleClick(QTreeWidgetItem *item, int column = 1)
    {
        const QPoint at = CellCentre(item, column);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    QLineEdit *Editor() const
    {
        for (QLineEdit *edit : tree->viewport()->findChildren<QLineEdit *>())
            if (edit->isVisible())
                return edit;
        return nullptr;
    }

    // Selects the cell, starts editing with "✎ Edit", types the text and commits it with Return.
    bool Edit(QTreeWidgetItem *item, int column, const QString &text)
    {
        // A click on a row that is already selected would start an editor of its own.
        tree->clearSelection();
        Click(item, column);
        Button("pushButton_EditItem")->click();
        QLineEdit *editor = Editor();
        if (!editor)
            return false;
        editor->selectAll();
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        // The delegate commits on the next pass of the event loop.
        QElapsedTimer clock;
        clock.start();
        while (Editor() && clock.elapsed() < 5000)
            QTest::qWait(1);
        return !Editor();
    }

    QPushButton *Button(const char *name) { return Child<QPushButton>(&window, name); }

    UnitRoster window;
    QTreeWidget *tree = nullptr;
};

} // namespace

class tst_UnitRoster : public QObject
{
    Q_OBJECT

private slots:
    void formAtStart();
    void limitsAndHeader_data();
    void limitsAndHeader();
    void loggedNodesBecomeRows();
    void refreshKeepsOneRowAndOpenState();
    void scanCommands();
    void childRowsDisableNodeButtons();
    void firmwareGate_data();
    void firmwareGate();
    void doubleClickAndClosedWindow();
    void editInTree_data();
    void editInTree();
    void editKeyStartsEditing();
    void powerCycleReminder();
    void removedRowsAreForgotten();
};

void tst_UnitRoster::formAtStart()
{
    UnitRoster roster;
    QCOMPARE(roster.windowTitle(), QString("UnitRoster"));
    QCOMPARE(Child<QPushButton>(&roster, "pushButton_ScanNode")->text(), kScan);
    auto *edit = Child<QPushButton>(&roster, "pushButton_EditItem");
    auto *open = Child<QPushButton>(&roster, "pushButton_OpenCloseItem");
    QCOMPARE(edit->text(), QString::fromUtf8("✎ Edit"));
    QCOMPARE(open->text(), kOpen);
    QVERIFY(!edit->isEnabled());
    QVERIFY(!open->isEnabled());

    auto *bar = Child<QProgressBar>(&roster, "progressBar_Scanning");
    QVERIFY(bar->isHidden());
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 0);
    QVERIFY(bar->isTextVisible());

    for (const char *name : {"pushButton_DiagnosticMode", "pushButton_DiagnosticMode_Exit"}) {
        QVERIFY2(Child<QWidget>(&roster, name)->isHidden(), name);
        QVERIFY2(!Child<QWidget>(&roster, name)->isEnabled(), name);
    }
    for (const char *name : {"spinBox_DiagnosticMode_Enter3", "spinBox_DiagnosticMode_Enter4",
                             "spinBox_DiagnosticMode_Enter5"}) {
        auto *spin = Child<QSpinBox>(&roster, name);
        QVERIFY2(spin->isHidden(), name);
        QCOMPARE(spin->minimum(), -99999);
        QCOMPARE(spin->maximum(), 99999);
    }
    for (const char *name : {"pushButton_Test", "pushButton_Test2", "pushButton_Test3",
                             "pushButton_Test_ClearAll", "pushButton_Test_RemoveOneNode"})
        QVERIFY2(Child<QWidget>(&roster, name)->isHidden(), name);

    auto *tree = Child<QTreeWidget>(&roster, "treeWidget");
    QCOMPARE(tree->columnCount(), 2);
    QCOMPARE(tree->headerItem()->text(0), QString("Node ID"));
    QCOMPARE(tree->headerItem()->text(1), QString("Name  (12 chars)"));
    QCOMPARE(tree->editTriggers(), QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    QCOMPARE(tree->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(tree->textElideMode(), Qt::ElideLeft);
    QVERIFY(tree->rootIsDecorated());
    QVERIFY(tree->isSortingEnabled());
    QVERIFY(tree->isAnimated());
    QVERIFY(tree->allColumnsShowFocus());
    QVERIFY(!tree->isHeaderHidden());
    QVERIFY(!tree->expandsOnDoubleClick());
}

void tst_UnitRoster::limitsAndHeader_data()
{
    QTest::addColumn<uint>("minimum");
    QTest::addColumn<uint>("maximum");
    QTest::addColumn<int>("nameSize");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("typedId");
    QTest::addColumn<QString>("message");

    QTest::newRow("equal bounds ignored") << 100u << 100u << 12 << "Name  (12 chars)"
                                          << "2048" << kRangeMessage.arg(32).arg(2047);
    QTest::newRow("reversed bounds ignored") << 300u << 200u << 12 << "Name  (12 chars)"
                                             << "31" << kRangeMessage.arg(32).arg(2047);
    QTest::newRow("narrower range") << 40u << 100u << 12 << "Name  (12 chars)"
                                    << "39" << kRangeMessage.arg(40).arg(100);
    QTest::newRow("size 0 ignored") << 32u << 2047u << 0 << "Name  (12 chars)"
                                    << "2048" << kRangeMessage.arg(32).arg(2047);
    QTest::newRow("size 16") << 32u << 2047u << 16 << "Name  (16 chars)"
                             << "-1" << kRangeMessage.arg(32).arg(2047);
}

void tst_UnitRoster::limitsAndHeader()
{
    QFETCH(uint, minimum);
    QFETCH(uint, maximum);
    QFETCH(int, nameSize);
    QFETCH(QString, header);
    QFETCH(QString, typedId);
    QFETCH(QString, message);

    Roster r;
    // Both calls set the header again even when they change nothing.
    r.tree->setHeaderLabels({"x", "y"});
    r.window.Set_NodeId_Rage(minimum, maximum);
    QCOMPARE(r.tree->headerItem()->text(1), QString("Name  (12 chars)"));
    r.tree->setHeaderLabels({"x", "y"});
    r.window.Set_NodeName_MaxSize(nameSize);
    QCOMPARE(r.tree->headerItem()->text(0), QString("Node ID"));
    QCOMPARE(r.tree->headerItem()->text(1), header);

    r.Log(1, 50, "Bow", kQuietFirmware);
    MessageBoxCatcher boxes;
    QVERIFY(r.Edit(r.Row(50), 0, typedId));
    QCOMPARE(boxes.Texts(), QStringList{message});
}

void tst_UnitRoster::loggedNodesBecomeRows()
{
    Roster r;
    QSignalSpy edits(&r.window, &UnitRoster::Sig_New_NodeID);
    r.Log(3, 1000, "Stern", "Ver. 3.1.6 (0)");
    r.Log(1, 32, "Bow", "Ver. 31.8.2 (70)");
    r.Log(2, 200, "ABCDEFGHIJKL", "Ver. 51.2.0 (11)");
    r.window.On_Log_Node(Uuid(4), 33, Name12("Küche"), "Ver. 5.5.0 (0)");

    // The padded id text sorts the rows numerically.
    QStringList ids;
    for (int i = 0; i < r.tree->topLevelItemCount(); ++i)
        ids << r.tree->topLevelItem(i)->text(0);
    QCOMPARE(ids, QStringList({"  32", "  33", " 200", "1000"}));

    QTreeWidgetItem *bow = r.Row(32);
    QCOMPARE(bow->text(1), QString("Bow"));
    QCOMPARE(r.Row(200)->text(1), QString("ABCDEFGHIJKL"));
    QCOMPARE(r.Row(33)->text(1), QString::fromUtf8("Küche"));
    QVERIFY(bow->flags() & Qt::ItemIsEditable);
    QCOMPARE(bow->background(0), QBrush(QColor(49, 200, 250, 85)));
    QCOMPARE(bow->background(1), QBrush(QColor(49, 200, 250, 85)));

    QCOMPARE(bow->childCount(), 2);
    QTreeWidgetItem *uuidRow = Child(bow, "UUID");
    QVERIFY(uuidRow);
    QCOMPARE(uuidRow->text(1), QString::fromLatin1(Uuid(1).toHex()));
    QCOMPARE(uuidRow->text(1).size(), 40);
    QTreeWidgetItem *firmwareRow = Child(bow, "Firmware");
    QVERIFY(firmwareRow);
    QCOMPARE(firmwareRow->text(1), QString("Ver. 31.8.2 (70)"));
    for (int i = 0; i < 2; ++i)
        QVERIFY(!(bow->child(i)->flags() & Qt::ItemIsEditable));

    QByteArray uuid;
    QCOMPARE(UnitRoster::Find_UUID(bow, &uuid), 1);
    QCOMPARE(uuid, Uuid(1));
    QByteArray untouched("keep");
    QCOMPARE(UnitRoster::Find_UUID(uuidRow, &untouched), 0);
    QCOMPARE(untouched, QByteArray("keep"));
    QCOMPARE(r.window.Uniqueness_NodeID(firmwareRow, 40), 255);
    QCOMPARE(r.window.Uniqueness_NodeID(bow, 200), 0);
    QCOMPARE(r.window.Uniqueness_NodeID(bow, 32), 1);
    QCOMPARE(r.window.Uniqueness_NodeID(bow, 41), 1);

    // Rows the program fills in are not edits.
    QCOMPARE(edits.count(), 0);
}

void tst_UnitRoster::refreshKeepsOneRowAndOpenState()
{
    Roster r;
    r.Log(1, 32, "Bow", "Ver. 3.1.6 (0)");
    r.Log(2, 33, "Mast", "Ver. 3.1.6 (0)");
    r.Click(r.Row(32));
    r.Button("pushButton_OpenCloseItem")->click();
    QCOMPARE(r.Button("pushButton_OpenCloseItem")->text(), kClose);

    QSignalSpy edits(&r.window, &UnitRoster::Sig_New_NodeID);
    r.Log(1, 40, "Renamed", "Ver. 3.1.7 (1)");
    QCOMPARE(r.tree->topLevelItemCount(), 2);
    QVERIFY(!r.Row(32));
    QTreeWidgetItem *row = r.Row(40);
    QVERIFY(row);
    QCOMPARE(row->text(1), QString("Renamed"));
    QCOMPARE(row->childCount(), 2);
    QCOMPARE(Child(row, "Firmware")->text(1), QString("Ver. 3.1.7 (1)"));
    QCOMPARE(edits.count(), 0);

    r.Click(r.Row(33));
    QCOMPARE(r.Button("pushButton_OpenCloseItem")->text(), kOpen);
    r.Click(r.Row(40));
    QCOMPARE(r.Button("pushButton_OpenCloseItem")->text(), kClose);
}

void tst_UnitRoster::scanCommands()
{
    Roster r;
    r.Log(1, 32, "Bow", "Ver. 3.1.6 (0)");
    r.Click(r.Row(32));
    QVERIFY(r.Button("pushButton_EditItem")->isEnabled());

    QSignalSpy ctrl(&r.window, &UnitRoster::Sig_NodeCtrl);
    QSignalSpy scans(&r.window, &UnitRoster::Sig_ScanNode);
    auto *scan = r.Button("pushButton_ScanNode");
    auto *bar = Child<QProgressBar>(&r.window, "progressBar_Scanning");

    scan->click();
    QCOMPARE(scan->text(), kStop);
    QCOMPARE(scan->styleSheet(), QString("background-color: #836302"));
    QVERIFY(bar->isVisible());
    QVERIFY(!r.Button("pushButton_EditItem")->isEnabled());
    QVERIFY(!r.Button("pushButton_OpenCloseItem")->isEnabled());
    QCOMPARE(ctrl.count(), 1);
    QCOMPARE(ctrl.at(0).at(0).toByteArray(), ZeroUuid());
    QCOMPARE(ctrl.at(0).at(1).toInt(), 3);
    QCOMPARE(scans.count(), 1);

    // Every answer silences its sender and asks the others again at once, also a repeated answer.
    for (int seed : {2, 1, 2}) {
        const int before = ctrl.count();
        r.Log(seed, 30 + uint(seed), "N", "Ver. 3.1.6 (0)");
        QCOMPARE(ctrl.count(), before + 1);
        QCOMPARE(ctrl.last().at(0).toByteArray(), Uuid(seed));
        QCOMPARE(ctrl.last().at(1).toInt(), 2);
    }
    QCOMPARE(scans.count(), 4);
    QCOMPARE(r.tree->topLevelItemCount(), 2);

    scan->click();
    QCOMPARE(scan->text(), kScan);
    QCOMPARE(scan->styleSheet(), QString());
    QVERIFY(bar->isHidden());
    QCOMPARE(ctrl.last().at(0).toByteArray(), ZeroUuid());
    QCOMPARE(ctrl.last().at(1).toInt(), 3);
    QVERIFY(!r.Button("pushButton_EditItem")->isEnabled());
    QVERIFY(!r.Button("pushButton_OpenCloseItem")->isEnabled());

    // Outside a scan an answer only refreshes the list.
    const int ctrlBefore = ctrl.count();
    r.Log(3, 50, "Late", "Ver. 3.1.6 (0)");
    QCOMPARE(ctrl.count(), ctrlBefore);
    QCOMPARE(scans.count(), 4);
    QCOMPARE(r.tree->topLevelItemCount(), 3);
}

void tst_UnitRoster::childRowsDisableNodeButtons()
{
    Roster r;
    r.Log(1, 32, "Bow", "Ver. 3.1.6 (0)");
    QTreeWidgetItem *row = r.Row(32);
    r.tree->expandItem(row);
    for (int child = 0; child < 2; ++child) {
        r.Click(row);
        QVERIFY(r.Button("pushButton_EditItem")->isEnabled());
        QVERIFY(r.Button("pushButton_OpenCloseItem")->isEnabled());
        r.Click(row->child(child));
        QVERIFY(!r.Button("pushButton_EditItem")->isEnabled());
        QVERIFY(!r.Button("pushButton_OpenCloseItem")->isEnabled());
    }
}

void tst_UnitRoster::firmwareGate_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<int>("fwVer");
    QTest::addColumn<int>("revision");

    QTest::newRow("3.0.9 is too old") << "Ver. 3.0.9 (2)" << false << 0 << 0;
    QTest::newRow("3.1.0") << "Ver. 3.1.0 (0)" << true << 31 << 0;
    QTest::newRow("3.1.6") << "Ver. 3.1.6 (0)" << true << 31 << 0;
    QTest::newRow("31.8.2 build 70") << "Ver. 31.8.2 (70)" << true << 318 << 70;
    QTest::newRow("51.2.0 build 11") << "Ver. 51.2.0 (11)" << true << 512 << 11;
    QTest::newRow("2.9.9") << "Ver. 2.9.9 (9)" << false << 0 << 0;
    QTest::newRow("no number at all") << "unknown" << false << 0 << 0;
}

void tst_UnitRoster::firmwareGate()
{
    QFETCH(QString, version);
    QFETCH(bool, opens);
    QFETCH(int, fwVer);
    QFETCH(int, revision);

    Roster r;
    r.Log(1, 32, "Bow", version);
    QSignalSpy opened(&r.window, &UnitRoster::Sig_OpenNode);
    QSignalSpy closed(&r.window, &UnitRoster::Sig_CloseNode);
    MessageBoxCatcher boxes;
    auto *open = r.Button("pushButton_OpenCloseItem");
    r.Click(r.Row(32));
    open->click();

    if (!opens) {
        QCOMPARE(boxes.Count(), 1);
        const MessageBoxCatcher::Box box = boxes.Last();
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(box.parent.data(), &r.window);
        QCOMPARE(box.text,
                 QString("Kinetra firmware version 3.1.6 or newer is required with the current version "
                         "Gyrovane.\n"));
        QCOMPARE(box.informativeText, "To avoid inappropriate configuration, node opening has been canceled. "
                                      "Current selected Kinetra has the version number: " +
                                          version + "\nPlease contact your suppler for more information.");
        QCOMPARE(opened.count(), 0);
        QCOMPARE(open->text(), kOpen);
        // Still closed: the next attempt is checked again.
        open->click();
        QCOMPARE(boxes.Count(), 2);
        QCOMPARE(closed.count(), 0);
        return;
    }

    QCOMPARE(boxes.Count(), 0);
    QCOMPARE(opened.count(), 1);
    const QList<QVariant> args = opened.first();
    QCOMPARE(args.at(0).toByteArray(), Uuid(1));
    QCOMPARE(args.at(1).toUInt(), 32u);
    QCOMPARE(args.at(2).toString(), QString("Bow"));
    QCOMPARE(args.at(3).toInt(), fwVer);
    QCOMPARE(args.at(4).toInt(), revision);
    QCOMPARE(open->text(), kClose);

    open->click();
    QCOMPARE(closed.count(), 1);
    QCOMPARE(closed.first().at(0).toByteArray(), Uuid(1));
    QCOMPARE(open->text(), kOpen);
    QCOMPARE(opened.count(), 1);
}

void tst_UnitRoster::doubleClickAndClosedWindow()
{
    Roster r;
    r.Log(1, 32, "Bow", "Ver. 3.1.6 (0)");
    r.Log(2, 33, "Mast", "Ver. 3.1.6 (0)");
    QSignalSpy opened(&r.window, &UnitRoster::Sig_OpenNode);
    QSignalSpy ctrl(&r.window, &UnitRoster::Sig_NodeCtrl);
    auto *open = r.Button("pushButton_OpenCloseItem");

    // A double click ends a running scan before it opens the node.
    r.Button("pushButton_ScanNode")->click();
    r.DoubleClick(r.Row(33));
    QCOMPARE(r.Button("pushButton_ScanNode")->text(), kScan);
    QCOMPARE(ctrl.count(), 2);
    QCOMPARE(ctrl.last().at(1).toInt(), 3);
    QCOMPARE(opened.count(), 1);
    QCOMPARE(opened.first().at(0).toByteArray(), Uuid(2));
    QCOMPARE(open->text(), kClose);
    QVERIFY(!r.Row(33)->isExpanded());

    // A double click on a child row opens nothing.
    r.tree->expandItem(r.Row(32));
    r.DoubleClick(Child(r.Row(32), "Firmware"));
    QCOMPARE(opened.count(), 1);
    QVERIFY(!open->isEnabled());

    // The node's window closed by itself: the list marks the row closed and selects it.
    r.window.On_Close_Node(Uuid(2));
    QCOMPARE(open->text(), kOpen);
    QVERIFY(open->isEnabled());
    QVERIFY(r.Button("pushButton_EditItem")->isEnabled());
    QCOMPARE(r.tree->currentItem(), r.Row(33));
    open->click();
    QCOMPARE(opened.count(), 2);

    r.window.On_Close_Node(Uuid(9));
    QCOMPARE(open->text(), kClose);
}

void tst_UnitRoster::editInTree_data()
{
    QTest::addColumn<uint>("otherId");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shownId");
    QTest::addColumn<QString>("shownName");
    QTest::addColumn<int>("sentId"); // -1: nothing sent
    QTest::addColumn<QByteArray>("sentName");

    const QString range = kRangeMessage.arg(32).arg(2047);
    QTest::newRow("id below the range") << 33u << 0 << "31" << range << "  32"
                                        << "Bow" << -1 << QByteArray();
    QTest::newRow("id above the range") << 33u << 0 << "2048" << range << "  32"
                                        << "Bow" << -1 << QByteArray();
    QTest::newRow("id not a number") << 33u << 0 << "3x" << range << "  32"
                                     << "Bow" << -1 << QByteArray();
    QTest::newRow("negative id") << 33u << 0 << "-32" << range << "  32"
                                 << "Bow" << -1 << QByteArray();
    QTest::newRow("id of the other node") << 33u << 0 << "33" << kUniqueMessage << "  32"
                                          << "Bow" << -1 << QByteArray();
    QTest::newRow("name while the other node shows the same id")
        << 32u << 1 << "Renamed" << kUniqueMessage << "  32"
        << "Bow" << -1 << QByteArray();
    QTest::newRow("own id again") << 33u << 0 << "32" << QString() << "32"
                                  << "Bow" << 32 << QByteArray("Bow");
    QTest::newRow("new id") << 33u << 0 << "2047" << QString() << "2047"
                            << "Bow" << 2047 << QByteArray("Bow");
    QTest::newRow("id with blanks") << 33u << 0 << " 41 " << QString() << " 41 "
                                    << "Bow" << 41 << QByteArray("Bow");
    QTest::newRow("16-letter name") << 33u << 1 << "ABCDEFGHIJKLMNOP" << QString() << "  32"
                                    << "ABCDEFGHIJKL" << 32 << QByteArray("ABCDEFGHIJKL");
    QTest::newRow("accented name") << 33u << 1 << QString::fromUtf8("Küche") << QString() << "  32"
                                   << QString::fromUtf8("Küche") << 32 << QString::fromUtf8("Küche").toUtf8();
    QTest::newRow("cut between characters")
        << 33u << 1 << QString::fromUtf8("ÄÖÜÄÖÜÄ") << QString() << "  32" << QString::fromUtf8("ÄÖÜÄÖÜ")
        << 32 << QString::fromUtf8("ÄÖÜÄÖÜ").toUtf8();
}

void tst_UnitRoster::editInTree()
{
    QFETCH(uint, otherId);
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(QString, shownId);
    QFETCH(QString, shownName);
    QFETCH(int, sentId);
    QFETCH(QByteArray, sentName);

    Roster r;
    r.Log(1, 32, "Bow", kQuietFirmware);
    r.Log(2, otherId, "Mast", kQuietFirmware);
    QTreeWidgetItem *row = r.tree->topLevelItem(0);
    QVERIFY(UnitRoster::Find_UUID(row, nullptr));
    QByteArray uuid;
    UnitRoster::Find_UUID(row, &uuid);
    if (uuid != Uuid(1)) {
        row = r.tree->topLevelItem(1);
        UnitRoster::Find_UUID(row, &uuid);
    }
    QCOMPARE(uuid, Uuid(1));

    QSignalSpy sent(&r.window, &UnitRoster::Sig_New_NodeID);
    MessageBoxCatcher boxes;
    QVERIFY(r.Edit(row, column, typed));

    if (message.isEmpty()) {
        QCOMPARE(boxes.Count(), 0);
    } else {
        QCOMPARE(boxes.Texts(), QStringList{message});
        QCOMPARE(boxes.Last().icon, QMessageBox::Warning);
    }
    QCOMPARE(row->text(0), shownId);
    QCOMPARE(row->text(1), shownName);
    if (sentId < 0) {
        QCOMPARE(sent.count(), 0);
    } else {
        QCOMPARE(sent.count(), 1);
        QCOMPARE(sent.first().at(0).toByteArray(), Uuid(1));
        QCOMPARE(sent.first().at(1).toUInt(), uint(sentId));
        QCOMPARE(sent.first().at(2).toByteArray(), sentName);
    }

    // What was restored or accepted is what the next check starts from: a bad id now restores it.
    MessageBoxCatcher later;
    QVERIFY(r.Edit(row, 0, "9999"));
    QCOMPARE(later.Count(), 1);
    QCOMPARE(row->text(0), shownId);
    QCOMPARE(row->text(1), shownName);
}

void tst_UnitRoster::editKeyStartsEditing()
{
    Roster r;
    r.Log(1, 32, "Bow", kQuietFirmware);
    r.Click(r.Row(32), 1);
    QVERIFY(!r.Editor());
    QTest::keyClick(r.tree, Qt::Key_F2);
    QLineEdit *editor = r.Editor();
    QVERIFY(editor);
    QCOMPARE(editor->text(), QString("Bow"));
    QTest::keyClick(editor, Qt::Key_Escape);
    QVERIFY(!r.Editor());
}

void tst_UnitRoster::powerCycleReminder()
{
    // The reminder comes 2.5 s after an accepted edit; one list per firmware so that they all wait together.
    struct Case
    {
        const char *version;
        bool reminds;
    };
    const std::vector<Case> cases = {
        {"Ver. 3.1.6 (0)", true},  {"Ver. 3.6.0 (0)", true},   {"Ver. 5.4.0 (0)", true},
        {"Ver. 5.5.0 (0)", false}, {"Ver. 29.9.0 (0)", false}, {"Ver. 31.8.2 (70)", true},
        {"Ver. 32.2.0 (0)", true}, {"Ver. 32.3.0 (0)", false}, {"Ver. 51.2.0 (11)", true},
        {"Ver. 0.0.0 (0)", false},
    };
    std::vector<std::unique_ptr<Roster>> rosters;
    QSet<QWidget *> expected;
    int reminders = 0;
    for (const Case &c : cases) {
        rosters.push_back(std::make_unique<Roster>());
        Roster &r = *rosters.back();
        r.Log(1, 32, "Bow", QString::fromLatin1(c.version));
        QVERIFY(r.Edit(r.Row(32), 1, "Prow"));
        if (c.reminds) {
            expected.insert(&r.window);
            ++reminders;
        }
    }
    MessageBoxCatcher boxes;
    QVERIFY(boxes.WaitForBoxes(reminders, 8000));
    // Any reminder that should not come would have come with the others.
    QTest::qWait(500);
    QCOMPARE(boxes.Count(), reminders);
    QSet<QWidget *> shown;
    for (const MessageBoxCatcher::Box &box : boxes.Boxes()) {
        QCOMPARE(box.text, kReminder);
        QCOMPARE(box.icon, QMessageBox::Information);
        shown.insert(box.parent.data());
    }
    QCOMPARE(shown, expected);
}

void tst_UnitRoster::removedRowsAreForgotten()
{
    Roster r;
    r.Log(1, 32, "Bow", kQuietFirmware);
    r.Log(2, 33, "Mast", kQuietFirmware);
    r.Log(3, 34, "Stern", kQuietFirmware);

    // Removing another node keeps the selection.
    r.Click(r.Row(32));
    r.window.On_Remove_Node(Uuid(2));
    QCOMPARE(r.tree->topLevelItemCount(), 2);
    QVERIFY(!r.Row(33));
    QVERIFY(r.Button("pushButton_EditItem")->isEnabled());
    r.Button("pushButton_EditItem")->click();
    QVERIFY(r.Editor());
    QTest::keyClick(r.Editor(), Qt::Key_Escape);

    // Removing the selected node leaves nothing to edit or open.
    r.window.On_Remove_Node(Uuid(1));
    QCOMPARE(r.tree->topLevelItemCount(), 1);
    QVERIFY(!r.Button("pushButton_EditItem")->isEnabled());
    QVERIFY(!r.Button("pushButton_OpenCloseItem")->isEnabled());

    r.Click(r.Row(34));
    r.window.On_Remove_AllNodes();
    QCOMPARE(r.tree->topLevelItemCount(), 0);
    QVERIFY(!r.Button("pushButton_EditItem")->isEnabled());

    // A removed node that answers again is listed again.
    r.Log(1, 32, "Bow", kQuietFirmware);
    QCOMPARE(r.tree->topLevelItemCount(), 1);
    QCOMPARE(r.Row(32)->childCount(), 2);
}

QTEST_MAIN(tst_UnitRoster)
#include "tst_unitroster.moc"
