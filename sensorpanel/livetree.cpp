#include "livetree.h"

#include "nimbotypes.h"
#include "treeformat.h"

#include <QtGui/QBrush>
#include <QtGui/QPainter>
#include <QtWidgets/QStyledItemDelegate>
#include <QtWidgets/QTreeWidget>

namespace {

using namespace TreeFormat;

// Draws the value column's numbers plainly: they change up to 25 times a second on every visible row,
// and the style's full item drawing (focus, hover, text layout with eliding) is most of the tree's
// cost. Longer texts (the group rows' notes) still go through the style.
class ValueDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QString text = index.data(Qt::DisplayRole).toString();
        const int margin = 4;
        if (option.fontMetrics.horizontalAdvance(text) + 2 * margin > option.rect.width()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QVariant background = index.data(Qt::BackgroundRole);
        if (background.canConvert<QBrush>())
            painter->fillRect(option.rect, background.value<QBrush>());
        painter->setFont(option.font);
        const bool stale = option.widget && option.widget->property("stale").toBool();
        painter->setPen(option.palette.color(
            (option.state & QStyle::State_Enabled) && !stale ? QPalette::Normal : QPalette::Disabled, QPalette::Text));
        painter->drawText(option.rect.adjusted(margin, 0, -margin, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          text);
    }
};

void SetBackground(QTreeWidgetItem *item, const QBrush &brush)
{
    item->setBackground(0, brush);
    item->setBackground(1, brush);
}

} // namespace

void LiveTree::Build(QTreeWidget *tree)
{
    view = tree;
    tree->setHeaderLabels({Tr("Name"), Tr("Value")});
    tree->setItemDelegateForColumn(1, new ValueDelegate(tree));
    const QBrush shades[] = {QBrush(QColor(45, 45, 45, 255)), QBrush(QColor(49, 200, 250, 85)),
                             QBrush(QColor(49, 200, 250, 135))};

    QList<QTreeWidgetItem *> top;
    for (int i = 0; i < StatusCount; ++i) {
        status[i] = new QTreeWidgetItem({Tr(kStatusRows[i].name), Tr(kStatusRows[i].value)});
        SetBackground(status[i], shades[0]);
        top << status[i];
    }
    for (int g = 0; g < GroupCount; ++g) {
        const TreeFormat::GroupRow &spec = kGroupRows[g];
        Row &row = groups[g];
        row.decimals = spec.decimals;
        row.item = new QTreeWidgetItem({Tr(spec.name), Tr(spec.value)});
        SetBackground(row.item, shades[spec.shade]);
        for (int c = 0; c < 4 && spec.children[c]; ++c) {
            auto *child = new QTreeWidgetItem({QString::fromLatin1(spec.children[c]),
                                               QString::fromLatin1(c == 0 ? spec.firstChildValue : "0")});
            SetBackground(child, shades[spec.shade]);
            row.item->addChild(child);
            row.children << child;
        }
        top << row.item;
    }
    tree->insertTopLevelItems(0, top);
    tree->expandAll();
    // The names never change; the values get what is left.
    tree->resizeColumnToContents(0);
}

void LiveTree::SetGroup(Group group, float a, float b, float c, float d)
{
    float *v = groups[group].values;
    v[0] = a;
    v[1] = b;
    v[2] = c;
    v[3] = d;
    dirtyGroups |= 1u << group;
}

void LiveTree::SetUptime(double seconds)
{
    uptime = seconds;
    dirtyStatus |= 1u << Uptime;
}

void LiveTree::SetQoS(int qos_i)
{
    qos = qos_i;
    dirtyStatus |= 1u << QoS;
}

void LiveTree::SetRate(float hz)
{
    rate = hz;
    dirtyStatus |= 1u << Rate;
}

void LiveTree::SetTemperature(float degreeC)
{
    temperature = degreeC;
    dirtyStatus |= 1u << Temperature;
}

void LiveTree::BlankStatus()
{
    // A value that is still waiting to be shown is older than the silence.
    dirtyStatus = 0;
    for (QTreeWidgetItem *item : status)
        if (item)
            item->setText(1, Tr(" - "));
}

void LiveTree::BlankOutputsOff(quint32 word)
{
    using namespace NpSettingsBit;
    const bool raw = Get(word, outRaw) || Get(word, outCombo);
    const bool on[GroupCount] = {raw,
                                 raw,
                                 raw,
                                 Get(word, outQ_s1_s),
                                 Get(word, outEuler_s1_s),
                                 Get(word, outQ_s1_e),
                                 Get(word, outEuler_s1_e),
                                 Get(word, outRPY) || Get(word, outCombo),
                                 Get(word, outGravity)};
    for (int g = 0; g < GroupCount; ++g) {
        if (on[g])
            continue;
        dirtyGroups &= ~(1u << g);
        for (QTreeWidgetItem *child : qAsConst(groups[g].children))
            child->setText(1, Tr(" - "));
    }
}

void LiveTree::SetStale(bool stale)
{
    if (!view || view->property("stale").toBool() == stale)
        return;
    view->setProperty("stale", stale);
    // The long texts of the group rows go through the style: they are greyed by their own colour.
    const QVariant text = stale ? QVariant(view->palette().brush(QPalette::Disabled, QPalette::Text)) : QVariant();
    for (const Row &row : groups)
        for (QTreeWidgetItem *child : row.children)
            child->setData(1, Qt::ForegroundRole, text);
    for (QTreeWidgetItem *item : status)
        if (item)
            item->setData(1, Qt::ForegroundRole, text);
    view->viewport()->update();
}

void LiveTree::Apply()
{
    for (int g = 0; g < GroupCount; ++g) {
        if (!(dirtyGroups & (1u << g)))
            continue;
        Row &row = groups[g];
        for (int c = 0; c < row.children.size(); ++c)
            row.children[c]->setText(1, ValueText(row.values[c], row.decimals));
    }
    dirtyGroups = 0;
    if (dirtyStatus & (1u << Uptime))
        status[Uptime]->setText(1, UptimeText(uptime));
    if (dirtyStatus & (1u << QoS))
        status[QoS]->setText(1, QoSText(qos));
    if (dirtyStatus & (1u << Rate))
        status[Rate]->setText(1, RateText(rate));
    if (dirtyStatus & (1u << Temperature))
        status[Temperature]->setText(1, TemperatureText(temperature));
    dirtyStatus = 0;
}

