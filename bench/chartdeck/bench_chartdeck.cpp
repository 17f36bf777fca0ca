// Speed of the chart deck: samples appended per second through SetValue_PlotDisplay (with the heap
// allocations counted inside the loop), and the processor time that the node window's Y-t display costs
// while it is fed at 800 samples per second and repaints on its own timers, rendered offscreen.

#include "allocationcounter.h"
#include "chartdeck.h"

#include <qwt_plot.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFont>
#include <QStyleFactory>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string>

namespace {

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

const char *const plotNames[3] = {"Accel", "Gyro", "Mag"};
const char *const curveNames[3][3] = {
    {"AccX", "AccY", "AccZ"}, {"GyroX", "GyroY", "GyroZ"}, {"MagX", "MagY", "MagZ"}};

// The Y-t window as the node window builds it, with the fonts and canvas size the node window gives it.
void buildYtWindow(ChartDeck &deck, unsigned capacity)
{
    const char *titles[3] = {"Accelerometer (g)", "Gyroscope (rad/s)",
                             "Magnetometer (1 earth magnetic field)"};
    const char *yTitles[3] = {"Raw Data (g)", "Raw Data (rad/s)", "Raw Data (Gs)"};
    const double ranges[3] = {1.5, 6.0, 1.5};
    const int refresh[3] = {50, 40, 60};
    const QColor colours[3] = {QColor(250, 110, 190, 210), QColor(150, 220, 80, 210),
                               QColor(0, 210, 255, 210)};
    for (int p = 0; p < 3; ++p) {
        deck.Create_PlotDisplay(plotNames[p], titles[p], false);
        deck.SetAxisX_PlotDisplay(plotNames[p], "Time (ms)", -1.6, 0.0);
        deck.SetAxisY_PlotDisplay(plotNames[p], yTitles[p], -ranges[p], ranges[p]);
        deck.SetRefreshRate_PlotDisplay(plotNames[p], refresh[p]);
        for (int c = 0; c < 3; ++c) {
            deck.AddCurve_PlotDisplay(plotNames[p], curveNames[p][c], curveNames[p][c], capacity,
                                      QColor("white"));
            deck.SetCurveStyle_PlotDisplay(plotNames[p], curveNames[p][c], colours[c], 2);
        }
    }
    deck.Set_Canvas_MinimumSize_PlotDisplay(QSize(200, 230));
    deck.setFont(QFont(QStringLiteral("Arial"), 9));
    deck.Set_Axis_ScaleFont_PlotDisplay(QFont(QStringLiteral("Arial"), 8));
    deck.Set_Axis_TitleFont_PlotDisplay(QFont(QStringLiteral("Arial"), 8));
    deck.Set_Title_Font_PlotDisplay(QFont(QStringLiteral("Arial"), 10));
    deck.Set_Canvas_MinimumSize_PlotDisplay(QSize(300, 200));
}

void benchAppends(unsigned capacity)
{
    ChartDeck deck;
    buildYtWindow(deck, capacity);
    const std::string plot = "Gyro";
    const std::string curve = "GyroY";
    const long count = 20000000;
    for (long i = 0; i < 1000000; ++i)
        deck.SetValue_PlotDisplay(plot, curve, double(i), double(i));

    long before = AllocationCount();
    QElapsedTimer timer;
    timer.start();
    for (long i = 0; i < count; ++i)
        deck.SetValue_PlotDisplay(plot, curve, double(i) * 0.5, double(i));
    const double withStrings = count / (double(timer.nsecsElapsed()) * 1e-9);
    const long allocationsWithStrings = AllocationCount() - before;

    // As the node window calls it: the names are literals, made into std::string on every call.
    before = AllocationCount();
    timer.restart();
    for (long i = 0; i < count; ++i)
        deck.SetValue_PlotDisplay("Gyro", "GyroY", double(i) * 0.5, double(i));
    const double withLiterals = count / (double(timer.nsecsElapsed()) * 1e-9);
    const long allocationsWithLiterals = AllocationCount() - before;

    std::printf("SetValue_PlotDisplay, capacity %5u: %6.2f M appends/s (std::string names), "
                "%6.2f M appends/s (literal names); heap allocations in %ld appends: %ld and %ld\n",
                capacity, withStrings / 1e6, withLiterals / 1e6, count, allocationsWithStrings,
                allocationsWithLiterals);
}

class PaintCounter : public QObject
{
public:
    long paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

void runEventLoop(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void benchYtWindow(bool shown, double seconds)
{
    ChartDeck deck;
    buildYtWindow(deck, 320);
    deck.resize(1050, 800);
    PaintCounter counters[3];
    for (int p = 0; p < 3; ++p)
        deck.findChild<QwtPlot *>(QLatin1String(plotNames[p]))->canvas()->installEventFilter(&counters[p]);
    if (shown)
        deck.show();

    // 800 samples per second for each sensor, handed over in the chunks a 5 ms receive tick brings.
    QElapsedTimer clock;
    clock.start();
    long fed = 0;
    QTimer feed;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        const long due = long(clock.nsecsElapsed() * 800 / 1000000000);
        for (; fed < due; ++fed) {
            const double t = double(fed) * 1250.0 + 1000000.0;
            const quint32 stamp = quint32(std::llround(t));
            for (int p = 0; p < 3; ++p) {
                for (int c = 0; c < 3; ++c)
                    deck.SetValue_PlotDisplay(plotNames[p], curveNames[p][c], std::sin(fed * 0.01 + c), t);
                deck.SetTimestamp_PlotDisplay(plotNames[p], stamp);
            }
        }
    });
    feed.start(5);

    // One second to settle, then the measured interval.
    runEventLoop(1000);
    long paintsBefore[3];
    for (int p = 0; p < 3; ++p)
        paintsBefore[p] = counters[p].paints;
    const long fedBefore = fed;
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runEventLoop(int(seconds * 1000));
    const double wallSeconds = double(wall.nsecsElapsed()) * 1e-9;
    const double cpuSeconds = processCpuSeconds() - cpuBefore;

    std::printf(
        "Y-t window %s (%dx%d, 3 plots x 3 curves x 320 points, refresh 50/40/60 ms): "
        "%.2f %% of one core over %.1f s; %.0f samples/s per sensor; canvas paints/s %.1f %.1f %.1f\n",
        shown ? "shown   " : "hidden  ", deck.width(), deck.height(), 100.0 * cpuSeconds / wallSeconds,
        wallSeconds, double(fed - fedBefore) / wallSeconds,
        (counters[0].paints - paintsBefore[0]) / wallSeconds,
        (counters[1].paints - paintsBefore[1]) / wallSeconds,
        (counters[2].paints - paintsBefore[2]) / wallSeconds);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(25, 25, 25));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Button, QColor(53, 53, 53));
    dark.setColor(QPalette::ButtonText, Qt::white);
    QApplication::setPalette(dark);

    // Arguments: measured seconds of the window runs (default 10), then optionally "appends", "window",
    // "hidden" or "shown" to run only that part.
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));
    if (only.isEmpty() || only == "appends") {
        benchAppends(320);
        benchAppends(20000);
    }
    if (only != "appends") {
        if (only != "shown")
            benchYtWindow(false, seconds);
        if (only != "hidden")
            benchYtWindow(true, seconds);
    }
    return 0;
}
