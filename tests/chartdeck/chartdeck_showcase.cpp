// Shows a chart deck as the node window uses it (three Y-t plots, the attitude dial and the compass) fed
// with moving data, under the program's dark Fusion look, and saves screenshots into the folder given as
// the first argument. With "demo" as the second argument it runs the window's own demonstration (the
// OpenGL canvas) instead and grabs the screen. Not a test: it is for looking at the result.
#include "chartdeck.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QStyleFactory>
#include <QTimer>

#include <cmath>

namespace {

QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(53, 53, 53));
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, QColor(25, 25, 25));
    p.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
    p.setColor(QPalette::ToolTipBase, Qt::white);
    p.setColor(QPalette::ToolTipText, Qt::white);
    p.setColor(QPalette::Text, Qt::white);
    p.setColor(QPalette::Button, QColor(53, 53, 53));
    p.setColor(QPalette::ButtonText, Qt::white);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, QColor(42, 130, 218));
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::black);
    return p;
}

struct Attitude
{
    double roll;
    double pitch;
    double heading;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(darkPalette());
    const QString outDir =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/chartdeck_shots");
    QDir().mkpath(outDir);

    if (argc > 2 && qstrcmp(argv[2], "demo") == 0) {
        ChartDeck demo;
        demo.move(0, 0);
        demo.show();
        for (const char *slot : {"on_pushButton_Reset_clicked", "on_pushButton_Test_clicked"})
            QMetaObject::invokeMethod(&demo, slot);
        QTimer::singleShot(1500, [&] {
            const QString file = QStringLiteral("%1/chartdeck_demo.png").arg(outDir);
            QGuiApplication::primaryScreen()
                ->grabWindow(0, 0, 0, demo.frameGeometry().width(), demo.frameGeometry().height())
                .save(file);
            qInfo("saved %s", qPrintable(file));
            app.quit();
        });
        return app.exec();
    }

    ChartDeck deck;
    deck.setWindowTitle(QStringLiteral("Raw Data (Wave)"));
    struct PlotLayout
    {
        const char *name;
        const char *title;
        const char *yTitle;
        double range;
        int refresh;
        const char *curves[3];
    };
    const PlotLayout plots[] = {
        {"Accel", "Accelerometer (g)", "Raw Data (g)", 1.5, 50, {"AccX", "AccY", "AccZ"}},
        {"Gyro", "Gyroscope (rad/s)", "Raw Data (rad/s)", 6.0, 40, {"GyroX", "GyroY", "GyroZ"}},
        {"Mag", "Magnetometer (1 earth magnetic field)", "Raw Data (Gs)", 1.5, 60, {"MagX", "MagY", "MagZ"}},
    };
    const QColor colours[3] = {QColor(250, 110, 190, 210), QColor(150, 220, 80, 210),
                               QColor(0, 210, 255, 210)};
    for (const PlotLayout &layout : plots) {
        deck.Create_PlotDisplay(layout.name, layout.title, false);
        deck.SetAxisX_PlotDisplay(layout.name, "Time (ms)", -1.6, 0.0);
        deck.SetAxisY_PlotDisplay(layout.name, layout.yTitle, -layout.range, layout.range);
        deck.SetRefreshRate_PlotDisplay(layout.name, layout.refresh);
        for (int c = 0; c < 3; ++c) {
            deck.AddCurve_PlotDisplay(layout.name, layout.curves[c], layout.curves[c], 320, QColor("white"));
            deck.SetCurveStyle_PlotDisplay(layout.name, layout.curves[c], colours[c], 2);
        }
    }
    deck.Create_AttitudeDisplay();
    deck.Create_CompassDisplay();

    const int fontSize = 9;
    deck.setFont(QFont(QStringLiteral("Arial"), fontSize));
    deck.Set_Axis_ScaleFont_PlotDisplay(QFont(QStringLiteral("Arial"), fontSize - 1));
    deck.Set_Axis_TitleFont_PlotDisplay(QFont(QStringLiteral("Arial"), fontSize - 1));
    deck.Set_Title_Font_PlotDisplay(QFont(QStringLiteral("Arial"), fontSize + 1));
    deck.Set_Canvas_MinimumSize_PlotDisplay(QSize(300, 200));
    deck.resize(1050, 1000);
    deck.show();

    // 800 samples per second, delivered in chunks of four every 5 ms as the serial link does.
    quint32 stamp = 1000000;
    double phase = 0.0;
    QTimer feed;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        for (int k = 0; k < 4; ++k) {
            stamp += 1250;
            phase += 2.0 * M_PI * 1.5 / 800.0;
            for (const PlotLayout &layout : plots) {
                for (int c = 0; c < 3; ++c) {
                    const double v =
                        layout.range * 0.8 * std::sin(phase + c * 2.1) * std::cos(phase * 0.37 + c);
                    deck.SetValue_PlotDisplay(layout.name, layout.curves[c], v, stamp);
                }
                deck.SetTimestamp_PlotDisplay(layout.name, stamp);
            }
        }
    });
    feed.start(5);

    const Attitude poses[] = {
        {0.0, 0.0, 0.0}, {30.0, 20.0, 45.0}, {-60.0, -45.0, 200.0}, {170.0, 80.0, 300.0}};
    int shot = 0;
    QTimer shooter;
    QObject::connect(&shooter, &QTimer::timeout, [&] {
        if (shot > 0) {
            const QString file = QStringLiteral("%1/chartdeck_%2.png").arg(outDir).arg(shot);
            deck.grab().save(file);
            qInfo("saved %s", qPrintable(file));
        }
        if (shot == int(sizeof poses / sizeof poses[0])) {
            app.quit();
            return;
        }
        deck.Setvalue_AttitudeDisplay(poses[shot].roll, poses[shot].pitch);
        deck.Setvalue_CompassDisplay(poses[shot].heading);
        ++shot;
    });
    shooter.start(700);
    return app.exec();
}
