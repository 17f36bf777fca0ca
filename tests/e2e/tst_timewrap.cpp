#include "chartdeck.h"
#include "childwidget.h"
#include "gyrovane.h"
#include "margbench.h"
#include "messageboxcatcher.h"
#include "sensorpanel.h"
#include "shelldriver.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>

namespace {

QString TreeText(SensorPanel *panel, const QString &row)
{
    auto *tree = Child<QTreeWidget>(panel, "treeWidget_DataDisplay");
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(0) == row)
            return tree->topLevelItem(i)->text(1);
    return QString();
}

// The node's uptime the tree shows ("   12.345678 s"), or -1.
double Uptime(SensorPanel *panel)
{
    bool ok = false;
    const double seconds = TreeText(panel, "Uptime").simplified().section(' ', 0, 0).toDouble(&ok);
    return ok ? seconds : -1.0;
}

// The times (s, relative to the newest) of a Y-t curve's samples, oldest first.
QVector<double> CurveTimes(ChartDeck *deck, const char *plot)
{
    QVector<double> times;
    auto *qwtPlot = deck->findChild<QwtPlot *>(plot);
    const QwtPlotItemList curves = qwtPlot ? qwtPlot->itemList(QwtPlotItem::Rtti_PlotCurve) : QwtPlotItemList();
    if (curves.isEmpty())
        return times;
    const auto *curve = static_cast<QwtPlotCurve *>(curves.first());
    for (size_t i = 0; i < curve->dataSize(); ++i)
        times << curve->sample(i).x();
    return times;
}

// The first column of a recorded file's data rows.
QVector<double> RecordedTimes(const QString &path)
{
    QVector<double> times;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return times;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.isEmpty() && (line[0] == '-' || (line[0] >= '0' && line[0] <= '9')))
            times << line.left(line.indexOf(',')).toDouble();
    }
    return times;
}

} // namespace

// A node's time stamp is a 32-bit microsecond counter that wraps every 71.6 minutes; the simulator
// starts its clock seconds before the wrap and the program runs across it.
class tst_TimeWrap : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everythingPassesTheWrap();

private:
    QTemporaryDir runtime;
};

void tst_TimeWrap::initTestCase()
{
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
}

void tst_TimeWrap::everythingPassesTheWrap()
{
    MessageBoxCatcher dialogs;
    Gyrovane window;
    window.show();
    ShellDriver shell(&window, runtime.filePath("kinetra-ports"));
    QVERIFY2(shell.StartSimulator({kBow}, {"--odr", "100", "--wrap-in", "4"}), qPrintable(shell.Error()));
    QVERIFY(shell.Scan({kBow}));
    SensorPanel *panel = shell.Open(kBow);
    QVERIFY(panel);
    QVERIFY(QTest::qWaitFor([&] { return Uptime(panel) > 4290.0; }, 5000));
    // The node's settings are in the form (the settings region shows), as before a user's click.
    QVERIFY(QTest::qWaitFor([&] { return Child<QWidget>(panel, "scrollArea_Setting")->isVisible(); }, 5000));

    // The raw data plot open, and every output of the node recorded.
    Child<QCheckBox>(panel, "checkBox_Output_RawData")->setChecked(true);
    QVERIFY(QTest::qWaitFor([&] { return panel->YtDisplay() != nullptr; }, 3000));
    Child<QCheckBox>(panel, "checkBox_Record_FormatEnable")->setChecked(true);
    dialogs.SetFileName(runtime.filePath("wrap.txt"));
    Child<QPushButton>(panel, "pushButton_Record_StartPause")->click();
    QVERIFY(Child<QPushButton>(panel, "pushButton_Record_Save")->isEnabled());

    // Past the wrap: the node's counter starts again from a small value.
    QVERIFY2(QTest::qWaitFor([&] { return Uptime(panel) >= 0.0 && Uptime(panel) < 100.0; }, 8000),
             qPrintable(TreeText(panel, "Uptime")));
    QTest::qWait(2000);
    const double uptime = Uptime(panel);
    QVERIFY2(uptime > 1.0 && uptime < 10.0, qPrintable(TreeText(panel, "Uptime")));

    // The plot scrolls on: its samples, newest last, a steady 10 ms apart through the wrap.
    const QVector<double> times = CurveTimes(panel->YtDisplay(), "Accel");
    QVERIFY(times.size() > 200);
    QVERIFY(qAbs(times.last()) < 0.05);
    for (int i = times.size() - 200; i < times.size(); ++i)
        QVERIFY2(times[i] - times[i - 1] > 0.0 && times[i] - times[i - 1] < 0.05,
                 qPrintable(QString("sample %1: %2 after %3").arg(i).arg(times[i]).arg(times[i - 1])));

    // The recorder's time keeps rising across the wrap, in the same steps.
    Child<QPushButton>(panel, "pushButton_Record_Save")->click();
    for (const char *output : {"RawData", "RPY", "Q_s1_e"}) {
        const QVector<double> recorded = RecordedTimes(runtime.filePath(QString("wrap_%1.txt").arg(output)));
        QVERIFY2(recorded.size() > 300, output);
        QVERIFY(recorded.first() < 4294.967296 && recorded.last() > 4294.967296 + 1.0);
        for (int i = 1; i < recorded.size(); ++i)
            QVERIFY2(recorded[i] > recorded[i - 1] && recorded[i] - recorded[i - 1] < 0.05,
                     qPrintable(QString("%1 row %2: %3 after %4").arg(output).arg(i).arg(recorded[i]).arg(recorded[i - 1])));
    }

    // The bench, switched on, takes its time step from the raw records: small across the wrap too.
    QVERIFY(shell.StopSimulator());
    auto *useBench = Child<QCheckBox>(&window, "checkBox_UseMargBench");
    useBench->setChecked(true);
    QVERIFY2(shell.StartSimulator({kBow}, {"--odr", "100", "--wrap-in", "2"}), qPrintable(shell.Error()));
    // The step of each raw record the bench takes in, from a second on (the first spans the pause
    // between the two simulators); the wrap comes two seconds after the start.
    QVector<float> steps;
    QElapsedTimer clock;
    clock.start();
    const QMetaObject::Connection each = connect(&window, &Gyrovane::Sig_NewData_RPY, this, [&] {
        if (clock.elapsed() > 1000)
            steps << window.Bench()->LastTimeStep();
    });
    QTest::qWait(4000);
    disconnect(each);
    QVERIFY(steps.size() > 100);
    const auto range = std::minmax_element(steps.begin(), steps.end());
    QVERIFY2(*range.first > 0.0f && *range.second < 100000.0f,
             qPrintable(QString("%1 .. %2 us").arg(*range.first).arg(*range.second)));
    useBench->setChecked(false);
}

QTEST_MAIN(tst_TimeWrap)
#include "tst_timewrap.moc"
