#include "unitroster.h"
#include "unitrosterlog.h"
#include "ui_unitroster.h"

#include "nimbotypes.h"
#include "nodename.h"

#include <QtCore/QDebug>
#include <QtCore/QSignalBlocker>
#include <QtCore/QStringList>
#include <QtGui/QFont>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QMessageBox>


Q_LOGGING_CATEGORY(lcRoster, "gyrovane.roster", QtInfoMsg)

namespace {

const char *const kScanText = "🔍 Scan";
const char *const kStopText = "🔍 Stop";
const char *const kOpenText = "▶ Open";
const char *const kCloseText = "■ Close";
const int kScanIntervalMs = 3500;
const int kScanTicksToStop = 3;
const int kReminderDelayMs = 2500;
const int kUuidSize = 20;

} // namespace

UnitRoster::UnitRoster(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::UnitRoster)
{
    ui->setupUi(this);
    // Ids are padded to four characters so that this sorts them numerically.
    ui->treeWidget->sortByColumn(0, Qt::AscendingOrder);
    ui->treeWidget->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    ui->treeWidget->header()->setStretchLastSection(true);
    // Long texts are elided instead; a scroll bar would only shift the id column out of sight.
    ui->treeWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    idMinimum = 32;
    idMaximum = 2047;
    nameMaximum = 12;
    TreeWidget_Init();

    ui->pushButton_DiagnosticMode->hide();
    ui->pushButton_DiagnosticMode_Exit->hide();
    ui->spinBox_DiagnosticMode_Enter3->hide();
    ui->spinBox_DiagnosticMode_Enter4->hide();
    ui->spinBox_DiagnosticMode_Enter5->hide();
    ui->progressBar_Scanning->hide();
    {
        // Its room stays while it is hidden: the rows below must not jump when a scan starts.
        QSizePolicy policy = ui->progressBar_Scanning->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        ui->progressBar_Scanning->setSizePolicy(policy);
    }
    scanning = false;

    connect(&scanTimer, &QTimer::timeout, this, &UnitRoster::NodeScan_TimerInterrupt);
    scanTimer.stop();
    scanTimer.setInterval(kScanIntervalMs);
    connect(&messageTimer, &QTimer::timeout, this, &UnitRoster::DelayedMessage_TimerInterrupt);
    messageTimer.stop();

    ui->pushButton_EditItem->setEnabled(false);
    ui->pushButton_OpenCloseItem->setEnabled(false);
    currentRow = nullptr;
    currentColumn = 0;

    connect(&diagnosticTimer, &QTimer::timeout, this, &UnitRoster::Diagnose_TimerInterrupt);
    diagnosticTimer.stop();
    diagnosticTimer.setInterval(1000);
    ui->pushButton_DiagnosticMode->setEnabled(false);
    ui->pushButton_DiagnosticMode_Exit->setEnabled(false);

    ui->pushButton_Test->hide();
    ui->pushButton_Test2->hide();
    ui->pushButton_Test3->hide();
    ui->pushButton_Test_ClearAll->hide();
    ui->pushButton_Test_RemoveOneNode->hide();
}

UnitRoster::~UnitRoster()
{
    // The entries, and with them the rows, go before the tree: each row takes itself out of the tree.
    delete ui;
}

void UnitRoster::changeEvent(QEvent *event)
{
    // Font changes do not reach a button that has a style sheet of its own, so while scanning the
    // Scan button is given the list's font.
    if (event->type() == QEvent::FontChange && scanning)
        ui->pushButton_ScanNode->setFont(font());
    QMainWindow::changeEvent(event);
}

void UnitRoster::Set_NodeId_Rage(uint minimum, uint maximum)
{
    if (minimum < maximum) {
        idMinimum = minimum;
        idMaximum = maximum;
    }
    TreeWidget_Init();
}

void UnitRoster::Set_NodeName_MaxSize(int size)
{
    if (size > 0)
        nameMaximum = size;
    TreeWidget_Init();
}

void UnitRoster::TreeWidget_Init()
{
    ui->treeWidget->setHeaderLabels({tr("Node ID"), tr("Name  (%1 chars)").arg(nameMaximum)});
    rowBrush = QBrush(QColor(49, 200, 250, 85), Qt::SolidPattern);
}

void UnitRoster::TreeWidget_Update(DeviceMap &devices)
{
    const QSignalBlocker blocker(ui->treeWidget);
    topRows.clear();
    for (DeviceMap *map : {&devices, &twins}) {
        for (auto &entry : *map) {
            Device &device = entry.second;
            device.item.addChild(&device.uuidItem);
            device.item.addChild(&device.firmwareItem);
            if (!device.conflict) {
                device.item.setBackground(0, rowBrush);
                device.item.setBackground(1, rowBrush);
            }
            topRows.append(&device.item);
        }
    }
    // Rows already in the tree are passed over, so only new ones are inserted.
    QList<QTreeWidgetItem *> fresh;
    for (QTreeWidgetItem *row : qAsConst(topRows))
        if (!row->treeWidget())
            fresh.append(row);
    ui->treeWidget->insertTopLevelItems(0, fresh);
}

int UnitRoster::Find_UUID(QTreeWidgetItem *row, QByteArray *out)
{
    if (!row)
        return 0;
    const QVariant uuid = row->data(0, kUuidRole);
    if (!uuid.isValid())
        return 0;
    if (out)
        *out = uuid.toByteArray();
    return 1;
}

int UnitRoster::Uniqueness_NodeID(QTreeWidgetItem *row, uint id)
{
    QByteArray rowUuid;
    if (!Find_UUID(row, &rowUuid))
        return 255;
    for (const auto &entry : entries)
        if (entry.first != rowUuid && entry.second.nodeId == id)
            return 0;
    for (const auto &twin : twins)
        if (twin.second.nodeId == id)
            return 0;
    qCDebug(lcRoster) << "Unique!";
    return 1;
}

void UnitRoster::NodeCtrl_SetAllNodeToNormalState()
{
    emit Sig_NodeCtrl(QByteArray(kUuidSize, '\0'), NP_NODECTRL_NORMAL_);
}

void UnitRoster::NodeCtrl_SetNodeToSilence(QByteArray uuid) { emit Sig_NodeCtrl(uuid, NP_NODECTRL_SILENCE_); }

void UnitRoster::ScanNode_Start()
{
    scanning = true;
    ui->progressBar_Scanning->show();
    ui->pushButton_ScanNode->setText(tr(kStopText));
    ui->pushButton_ScanNode->setStyleSheet(QStringLiteral("background-color: #836302"));
    SetNodeButtonsEnabled(false);
    NodeCtrl_SetAllNodeToNormalState();
    ++scanRound;
    emit Sig_ScanNode();
    scanTicks = 0;
    scanTimer.start();
}

void UnitRoster::ScanNode_Stop()
{
    scanning = false;
    ui->progressBar_Scanning->hide();
    ui->pushButton_ScanNode->setText(tr(kScanText));
    ui->pushButton_ScanNode->setStyleSheet(QString());
    // A widget's own style sheet cuts it off from its parent's font; this hands the font back.
    ui->pushButton_ScanNode->setFont(QFont());
    scanTimer.stop();
    NodeCtrl_SetAllNodeToNormalState();
}

void UnitRoster::NodeScan_TimerInterrupt()
{
    ++scanTicks;
    if (scanTicks > kScanTicksToStop) {
        ScanNode_Stop();
        return;
    }
    qCDebug(lcRoster) << "NodeScan Timer -- emit Sig_ScanNode()";
    emit Sig_ScanNode();
}

void UnitRoster::On_Log_Node(QByteArray uuid, uint nodeId, QByteArray nodeName, QString fWVer)
{
    if (scanning) {
        scanTicks = 0;
        scanTimer.start();
        NodeCtrl_SetNodeToSilence(uuid);
        emit Sig_ScanNode();
    }

    const auto known = entries.find(uuid);
    const bool isOpen = known != entries.end() && known->second.isOpen;
    const QByteArray twinKey = uuid + QByteArray::number(nodeId);
    // A second id answering the same scan with a listed UUID is a second node, not a new id: both are
    // listed, and edits addressed by that UUID are refused (they would reach both).
    const bool twin = (known != entries.end() && known->second.nodeId != nodeId && scanning &&
                       known->second.seenInScan == scanRound) ||
                      twins.count(twinKey);
    if (twin) {
        Device &other = twins[twinKey];
        other.nodeId = nodeId;
        other.nodeName = nodeName;
        other.firmwareText = fWVer;
        other.model = ModelProfile::FromVersionText(fWVer);
        other.conflict = true;
        other.seenInScan = scanRound;
        if (known != entries.end())
            known->second.conflict = true;
        for (auto &listed : twins)
            ShowEntry(listed.first.left(kUuidSize), listed.second, true);
        if (known != entries.end())
            ShowEntry(uuid, known->second);
        TreeWidget_Update(entries);
        return;
    }

    Device &device = entries[uuid];
    device.seenInScan = scanRound;
    device.isOpen = isOpen;
    device.nodeId = nodeId;
    device.nodeName = nodeName;
    device.firmwareText = fWVer;
    device.model = ModelProfile::FromVersionText(fWVer);
    ShowEntry(uuid, device);
    // Only this node's entry is now accepted. A record that arrives while the warning of a failed
    // edit is up must not make the typed value the one the undo returns to.
    savedEntries[uuid] = entries[uuid];
    TreeWidget_Update(entries);
}

void UnitRoster::On_Remove_AllNodes()
{
    for (const auto &entry : entries)
        ForgetRows(entry.first, entry.second);
    for (const auto &twin : twins)
        ForgetRows(twin.first.left(kUuidSize), twin.second);
    twins.clear();
    entries.clear();
    savedEntries.clear();
    TreeWidget_Update(entries);
}

void UnitRoster::On_Remove_Node(QByteArray uuid)
{
    const auto found = entries.find(uuid);
    if (found != entries.end()) {
        ForgetRows(found->first, found->second);
        entries.erase(found);
    }
    savedEntries = entries;
    TreeWidget_Update(entries);
}

void UnitRoster::On_Close_Node(QByteArray uuid)
{
    qCDebug(lcRoster) << "UnitRoster::On_Close_Node";
    const auto found = entries.find(uuid);
    if (found == entries.end())
        return;
    Device &device = found->second;
    device.isOpen = false;
    savedEntries = entries;
    currentRow = &device.item;
    currentColumn = 0;
    selectedUuid = uuid;
    ui->treeWidget->setCurrentItem(&device.item);
    ui->pushButton_OpenCloseItem->setText(tr(kOpenText));
    SetNodeButtonsEnabled(true);
}

void UnitRoster::DelayedMessage_TimerInterrupt()
{
    messageTimer.stop();
    QMessageBox box(
        QMessageBox::Information, windowTitle(),
        tr("After editing Node ID or name:\n\nPlease wait 2 seconds so that the settings be saved "
           "properly and then reset (power cycle) the target module to make changes fully effective."),
        QMessageBox::Ok, this);
    box.exec();
}

void UnitRoster::on_treeWidget_itemChanged(QTreeWidgetItem *item, int column)
{
    Q_UNUSED(column);
    QByteArray uuid;
    if (!Find_UUID(item, &uuid))
        QMessageBox::warning(this, windowTitle(),
                             tr("UUID of the changed item could not be found in the treeWidget."));

    const auto entry = entries.find(uuid);
    const bool listed = entry != entries.end();
    bool converted = false;
    const int typed = item->text(0).toInt(&converted, 10);
    const uint id = uint(typed);

    // Undo restores what was last accepted.
    auto undo = [&](bool bothColumns) {
        const auto saved = savedEntries.find(uuid);
        if (saved == savedEntries.end()) {
            if (!bothColumns)
                RestoreSavedEntries();
            return;
        }
        if (!listed)
            return;
        const QSignalBlocker blocker(ui->treeWidget);
        entry->second.item.setText(0, IdText(saved->second.nodeId));
        if (bothColumns)
            entry->second.item.setText(1, NameText(saved->second.nodeName));
    };

    if (item->data(0, kTwinRole).toBool() || RefusedForConflict(uuid)) {
        if (item->data(0, kTwinRole).toBool())
            RefusedForConflict(uuid);
        undo(true);
        return;
    }
    if (!converted || id < idMinimum || id > idMaximum) {
        QMessageBox::warning(
            this, windowTitle(),
            tr("Invalid Input. The Node ID should be a decimal            number between %1 and %2 "
               "(inclusive).")
                .arg(idMinimum)
                .arg(idMaximum));
        undo(false);
        return;
    }
    if (Uniqueness_NodeID(item, id) != 1) {
        QMessageBox::warning(this, windowTitle(),
                             tr("Node ID not unique. Changes are not saved.\nPlease change the Node ID to a "
                                "different number."));
        undo(true);
        return;
    }

    if (!listed)
        return;
    // The name goes back exactly as the node sent it unless it was edited. An edited name is stored
    // as UTF-8, cut at a character; a name the node cannot hold whole is kept shortened only when the
    // user agrees.
    QByteArray name = NodeName::Stored(entry->second.nodeName);
    const QString typedName = item->text(1);
    if (typedName != NameText(entry->second.nodeName)) {
        QString kept;
        if (!NodeName::Encode(typedName, nameMaximum, &name, &kept)) {
            QMessageBox ask(QMessageBox::Question, windowTitle(),
                            tr("A node keeps at most %1 bytes of its name: \"%2\" would be stored as \"%3\".")
                                .arg(nameMaximum)
                                .arg(typedName, kept),
                            QMessageBox::Yes | QMessageBox::No, this);
            ask.setInformativeText(tr("Store the shortened name?"));
            ask.setDefaultButton(QMessageBox::No);
            if (ask.exec() != QMessageBox::Yes) {
                undo(true);
                return;
            }
        }
    }
    Device &device = entry->second;
    device.nodeId = id;
    device.nodeName = name;
    // Shown as every id is (padded, so the list sorts by number) and as the node will store the name.
    ShowEntry(uuid, device);
    savedEntries = entries;
    emit Sig_New_NodeID(uuid, id, name);

    if (device.model.NeedsPowerCycleAfterRename()) {
        messageTimer.setInterval(kReminderDelayMs);
        messageTimer.start();
    }
}

void UnitRoster::on_treeWidget_itemClicked(QTreeWidgetItem *item, int column)
{
    currentRow = item;
    currentColumn = column;
    QByteArray uuid;
    if (item && item->data(0, kTwinRole).toBool()) {
        // The window of a shared UUID belongs to the node listed first.
        selectedUuid.clear();
        SetNodeButtonsEnabled(false);
    } else if (Find_UUID(item, &uuid)) {
        selectedUuid = uuid;
        SetNodeButtonsEnabled(true);
        const auto found = entries.find(uuid);
        const bool open = found != entries.end() && found->second.isOpen;
        ui->pushButton_OpenCloseItem->setText(open ? tr(kCloseText) : tr(kOpenText));
    } else {
        selectedUuid.clear();
        SetNodeButtonsEnabled(false);
    }
}

void UnitRoster::on_treeWidget_itemDoubleClicked(QTreeWidgetItem *item, int column)
{
    if (scanning)
        ScanNode_Stop();
    currentRow = item;
    currentColumn = column;
    QByteArray uuid;
    if (item && item->data(0, kTwinRole).toBool()) {
        selectedUuid.clear();
        SetNodeButtonsEnabled(false);
    } else if (Find_UUID(item, &uuid)) {
        selectedUuid = uuid;
        SetNodeButtonsEnabled(true);
        on_pushButton_OpenCloseItem_clicked();
    } else {
        selectedUuid.clear();
        SetNodeButtonsEnabled(false);
    }
}

void UnitRoster::on_pushButton_ScanNode_clicked()
{
    if (scanning)
        ScanNode_Stop();
    else
        ScanNode_Start();
}

void UnitRoster::on_pushButton_EditItem_clicked()
{
    if (currentRow)
        ui->treeWidget->editItem(currentRow, currentColumn);
}

void UnitRoster::on_pushButton_OpenCloseItem_clicked()
{
    if (scanning)
        ScanNode_Stop();
    if (selectedUuid.isEmpty())
        return;
    const auto found = entries.find(selectedUuid);
    if (found == entries.end())
        return;
    Device &device = found->second;

    if (device.isOpen) {
        device.isOpen = false;
        ui->pushButton_OpenCloseItem->setText(tr(kOpenText));
        emit Sig_CloseNode(selectedUuid);
        return;
    }

    const QString version = device.firmwareText;
    qCDebug(lcRoster) << "Firmware Version" << device.model.FirmwareVersion();
    if (OpenNode(selectedUuid))
        return;

    QMessageBox box(
        QMessageBox::Information, windowTitle(),
        tr("Kinetra firmware version 3.1.6 or newer is required with the current version Gyrovane.\n"),
        QMessageBox::Ok, this);
    box.setInformativeText(tr("To avoid inappropriate configuration, node opening has been canceled. ") +
                           tr("Current selected Kinetra has the version number: ") + version +
                           tr("\nPlease contact your suppler for more information."));
    box.exec();
}

bool UnitRoster::OpenNode(const QByteArray &uuid)
{
    const auto found = entries.find(uuid);
    if (found == entries.end() || !found->second.model.CanOpenNodeWindow())
        return false;
    Device &device = found->second;
    if (device.isOpen)
        return true;
    device.isOpen = true;
    if (uuid == selectedUuid)
        ui->pushButton_OpenCloseItem->setText(tr(kCloseText));
    emit Sig_OpenNode(uuid, device.nodeId, NameText(device.nodeName), device.model.FirmwareVersion(),
                      device.model.FirmwareRevision());
    return true;
}

void UnitRoster::on_pushButton_DiagnosticMode_clicked() {}

void UnitRoster::on_pushButton_DiagnosticMode_Exit_clicked() {}

void UnitRoster::Diagnose_TimerInterrupt() { diagnosticTimer.stop(); }

void UnitRoster::SetNodeButtonsEnabled(bool enabled)
{
    ui->pushButton_EditItem->setEnabled(enabled);
    ui->pushButton_OpenCloseItem->setEnabled(enabled);
    ui->pushButton_DiagnosticMode->setEnabled(enabled);
    ui->pushButton_DiagnosticMode_Exit->setEnabled(enabled);
}

void UnitRoster::ForgetRows(const QByteArray &uuid, const Device &device)
{
    // The rows of an entry about to go must not stay remembered as the row last clicked.
    if (currentRow == &device.item || currentRow == &device.uuidItem || currentRow == &device.firmwareItem) {
        currentRow = nullptr;
        currentColumn = 0;
    }
    if (uuid == selectedUuid) {
        selectedUuid.clear();
        SetNodeButtonsEnabled(false);
    }
}

void UnitRoster::RestoreSavedEntries()
{
    // Entry by entry rather than by assigning the map, so that the rows of the entries that stay are
    // the same rows and the tree keeps them.
    const QSignalBlocker blocker(ui->treeWidget);
    for (auto it = entries.begin(); it != entries.end();) {
        if (savedEntries.count(it->first)) {
            ++it;
        } else {
            ForgetRows(it->first, it->second);
            it = entries.erase(it);
        }
    }
    for (const auto &saved : savedEntries) {
        const auto found = entries.find(saved.first);
        if (found == entries.end()) {
            entries.emplace(saved.first, saved.second);
            continue;
        }
        Device &device = found->second;
        const Device &from = saved.second;
        device.isOpen = from.isOpen;
        device.nodeId = from.nodeId;
        device.nodeName = from.nodeName;
        device.firmwareText = from.firmwareText;
        device.model = from.model;
        ShowEntry(found->first, device);
    }
    TreeWidget_Update(entries);
}

void UnitRoster::ShowEntry(const QByteArray &uuid, Device &device, bool isTwin)
{
    // A refresh of a listed row must not look like a user's edit.
    const QSignalBlocker blocker(ui->treeWidget);
    device.item.setText(0, IdText(device.nodeId));
    device.item.setText(1, NameText(device.nodeName));
    device.item.setData(0, kUuidRole, uuid);
    device.item.setData(0, kTwinRole, isTwin);
    device.item.setFlags(isTwin ? Qt::ItemIsSelectable | Qt::ItemIsEnabled
                                : Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable);
    const QString conflict =
        device.conflict ? tr("UUID conflict: nodes %1 answer with this UUID.").arg(IdsOf(uuid).join(QStringLiteral(", ")))
                        : QString();
    const QBrush brush = device.conflict ? QBrush(QColor(200, 60, 40, 120)) : rowBrush;
    for (int column = 0; column < 2; ++column) {
        device.item.setBackground(column, brush);
        device.item.setToolTip(column, conflict);
    }
    if (!NodeName::IsUtf8(NodeName::Stored(device.nodeName)))
        device.item.setToolTip(1, tr("The name's bytes are not UTF-8; shown one character per byte, and "
                                     "sent back as they are unless edited."));
    device.uuidItem.setText(0, device.conflict ? tr("UUID (shared!)") : tr("UUID"));
    device.uuidItem.setText(1, QString::fromLatin1(uuid.toHex()));
    // The column shows the end of the 40 digits; the whole UUID is a hover away.
    device.uuidItem.setToolTip(1, device.uuidItem.text(1));
    device.uuidItem.setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    device.firmwareItem.setText(0, tr("Firmware"));
    device.firmwareItem.setText(1, device.firmwareText);
    device.firmwareItem.setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
}

QString UnitRoster::IdText(uint id) { return QStringLiteral("%1").arg(id, 4, 10, QLatin1Char(' ')); }

QString UnitRoster::NameText(const QByteArray &name) { return NodeName::Text(name); }

QStringList UnitRoster::IdsOf(const QByteArray &uuid) const
{
    QStringList ids;
    const auto primary = entries.find(uuid);
    if (primary != entries.end())
        ids << QString::number(primary->second.nodeId);
    for (const auto &twin : twins)
        if (twin.first.startsWith(uuid))
            ids << QString::number(twin.second.nodeId);
    return ids;
}

bool UnitRoster::RefusedForConflict(const QByteArray &uuid)
{
    const auto found = entries.find(uuid);
    if (found == entries.end() || !found->second.conflict)
        return false;
    QMessageBox::warning(this, windowTitle(),
                         tr("Nodes %1 answer with the same UUID. A new id or name is addressed by UUID and "
                            "would reach all of them, so none is changed here; give the nodes UUIDs of their "
                            "own first.")
                             .arg(IdsOf(uuid).join(QStringLiteral(", "))));
    return true;
}
