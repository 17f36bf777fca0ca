#ifndef UNITROSTER_H
#define UNITROSTER_H

#include "unitroster_global.h"

#include "modelprofile.h"

#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <QtCore/QString>
#include <QtCore/QTimer>
#include <QtGui/QBrush>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QTreeWidgetItem>

#include <map>

namespace Ui {
class UnitRoster;
}

// The list of the nodes found on the link: scanning, listing by UUID, editing node ids and names,
// and opening or closing node windows behind a firmware gate. It never talks to the link itself;
// it learns of nodes through On_Log_Node and asks for link operations through its signals.
class UNITROSTER_EXPORT UnitRoster : public QMainWindow
{
    Q_OBJECT

public:
    // One listed node. The tree shows the rows that live inside the entry, so an entry must stay
    // where it is while it is listed. The child rows are declared after the node row so that they
    // are destroyed first and leave the node row without children.
    struct Device
    {
        QTreeWidgetItem item;         // column 0 the id text, column 1 the name; the UUID in its data
        QTreeWidgetItem uuidItem;     // "UUID" and 40 hexadecimal digits
        QTreeWidgetItem firmwareItem; // "Firmware" and the version text as received
        bool isOpen = false;
        quint32 nodeId = 0;
        QByteArray nodeName;
        QString firmwareText;
        ModelProfile model;
        int seenInScan = -1;
        bool conflict = false; // another node answers with the same UUID
    };
    // Where a node row keeps its UUID; a second node's row of a shared UUID is marked too.
    static constexpr int kUuidRole = Qt::UserRole + 1;
    static constexpr int kTwinRole = Qt::UserRole + 2;
    // Ordered byte-wise; std::map never moves its nodes, which the rows above rely on.
    using DeviceMap = std::map<QByteArray, Device>;

    explicit UnitRoster(QWidget *parent = nullptr);
    ~UnitRoster() override;

    void Set_NodeId_Rage(uint minimum, uint maximum);
    void Set_NodeName_MaxSize(int size);
    void TreeWidget_Init();
    void TreeWidget_Update(DeviceMap &devices);
    // The UUID of a node row; 1 when found, else 0 and out unchanged.
    static int Find_UUID(QTreeWidgetItem *row, QByteArray *out);
    // 1 when no other node shows this id, 0 when one does, 255 when the row is not a node row.
    int Uniqueness_NodeID(QTreeWidgetItem *row, uint id);
    void NodeCtrl_SetAllNodeToNormalState();
    void NodeCtrl_SetNodeToSilence(QByteArray uuid);
    void ScanNode_Start();
    void ScanNode_Stop();
    // Opens the listed node's window as the "Open" button does; false when it is not listed or its
    // firmware is too old for a node window (nothing is asked then).
    bool OpenNode(const QByteArray &uuid);

signals:
    void Sig_New_NodeID(QByteArray uuid, uint newNodeId, QByteArray newNodeName);
    void Sig_ScanNode();
    void Sig_NodeCtrl(QByteArray uuid, int ctrlVal);
    void Sig_OpenNode(QByteArray uuid, uint nodeId, QString nodeName, int nodeFwVer, int nodeFwRevisionVer);
    void Sig_CloseNode(QByteArray uuid);

public slots:
    void On_Log_Node(QByteArray uuid, uint nodeId, QByteArray nodeName, QString fWVer);
    void On_Remove_AllNodes();
    void On_Remove_Node(QByteArray uuid);
    void On_Close_Node(QByteArray uuid);

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void NodeScan_TimerInterrupt();
    void DelayedMessage_TimerInterrupt();
    void on_treeWidget_itemChanged(QTreeWidgetItem *item, int column);
    void on_treeWidget_itemClicked(QTreeWidgetItem *item, int column);
    void on_treeWidget_itemDoubleClicked(QTreeWidgetItem *item, int column);
    void on_pushButton_ScanNode_clicked();
    void on_pushButton_EditItem_clicked();
    void on_pushButton_OpenCloseItem_clicked();
    void on_pushButton_DiagnosticMode_clicked();
    void on_pushButton_DiagnosticMode_Exit_clicked();
    void Diagnose_TimerInterrupt();

private:
    void SetNodeButtonsEnabled(bool enabled);
    void ForgetRows(const QByteArray &uuid, const Device &device);
    void RestoreSavedEntries();
    // Writes what an entry holds into its rows.
    void ShowEntry(const QByteArray &uuid, Device &device, bool isTwin = false);
    // The ids of every node listed with this UUID.
    QStringList IdsOf(const QByteArray &uuid) const;
    bool RefusedForConflict(const QByteArray &uuid);
    static QString IdText(uint id);
    static QString NameText(const QByteArray &name);

    bool scanning = false;
    QTimer scanTimer;
    QTimer messageTimer;
    int scanTicks = 0;
    uint idMinimum = 32;
    uint idMaximum = 2047;
    int nameMaximum = 12;
    DeviceMap entries;
    DeviceMap savedEntries;
    // Further nodes that answered with a UUID already listed under another id, by UUID and id.
    std::map<QByteArray, Device> twins;
    int scanRound = 0;
    QList<QTreeWidgetItem *> topRows;
    QBrush rowBrush;
    QTreeWidgetItem *currentRow = nullptr;
    int currentColumn = 0;
    QByteArray selectedUuid;
    QTimer diagnosticTimer;
    Ui::UnitRoster *ui;
};

#endif // UNITROSTER_H
