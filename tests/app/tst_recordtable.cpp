// The record table against everything that lists record types by hand for moc: the codec's and the
// link's Sig_RX_Data overloads, the main window's On_RX_Data overloads, the registered meta-types. A
// record type added to the table and not to one of these (or the other way round) fails here.

#include "gyrovane.h"
#include "nimbolink.h"
#include "nimboobjectdictionary.h"
#include "nimboprofile.h"

#include <QMetaMethod>
#include <QtTest>

namespace {

// The parameter type of every method of this name, in declaration order.
QStringList Overloads(const QMetaObject &meta, const char *name)
{
    QStringList types;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod m = meta.method(i);
        if (m.name() == name && m.parameterCount() == 1)
            types << QString::fromLatin1(m.parameterTypes().first());
    }
    return types;
}

QStringList TableNames(bool routedOnly)
{
    QStringList names;
    for (const NimboRecords::Entry &e : NimboRecords::kTable)
        if (!routedOnly || e.routed)
            names << QString::fromLatin1(e.name);
    return names;
}

} // namespace

class tst_RecordTable : public QObject
{
    Q_OBJECT

private slots:
    void signalsAndSlotsFollowTheTable();
    void tableIsConsistent();
};

void tst_RecordTable::signalsAndSlotsFollowTheTable()
{
    QCOMPARE(Overloads(NimboProfile::staticMetaObject, "Sig_RX_Data"), TableNames(false));
    QCOMPARE(Overloads(NimboLink::staticMetaObject, "Sig_RX_Data"), TableNames(false));
    QStringList routed = Overloads(Gyrovane::staticMetaObject, "On_RX_Data");
    QStringList expected = TableNames(true);
    routed.sort();
    expected.sort();
    QCOMPARE(routed, expected);
    const NimboObjectDictionary registersTheTypes;
    for (const QString &name : TableNames(false))
        QVERIFY2(QMetaType::type(name.toLatin1()) != QMetaType::UnknownType, qPrintable(name));
}

void tst_RecordTable::tableIsConsistent()
{
    QSet<int> cmds, sendSlots;
    for (const NimboRecords::Entry &e : NimboRecords::kTable) {
        QVERIFY2(!cmds.contains(e.cmd), e.name);
        cmds.insert(e.cmd);
        QVERIFY2(e.cmd > 0 && e.cmd < 128 && e.size >= 4 && e.size <= 44, e.name);
        if (e.sendSlot >= 0) {
            QVERIFY2(!sendSlots.contains(e.sendSlot) && e.sendSlot <= NimboProfile::kSlots, e.name);
            sendSlots.insert(e.sendSlot);
            QCOMPARE(int(NimboProfile::kSlotCmd[e.sendSlot]), int(e.cmd));
        }
        // Only what the codec signals can be routed.
        QVERIFY2(e.signalled || !e.routed, e.name);
        QCOMPARE(NimboRecords::Find(e.cmd), &e);
    }
}

QTEST_MAIN(tst_RecordTable)
#include "tst_recordtable.moc"
