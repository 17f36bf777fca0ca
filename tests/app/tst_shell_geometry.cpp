#include "gyrovane.h"

#include <QDockWidget>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

// Runs on an X server (xvfb-run), once with a 1920 x 1080 and once with a 1280 x 1024 screen.
class tst_ShellGeometry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void placedOnThePrimaryScreen();

private:
    QTemporaryDir runtime;
};

void tst_ShellGeometry::initTestCase()
{
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X display for real window geometry");
}

void tst_ShellGeometry::placedOnThePrimaryScreen()
{
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    QRect expected;
    // 58 % by 75 % of the screen, but at least 1280 by 760 where the screen has room for that.
    if (screen == QSize(1920, 1080)) {
        expected = QRect(320, 135, 1280, 810);
    } else if (screen == QSize(1280, 1024)) {
        expected = QRect(39, 128, 1203, 768);
    } else {
        QSKIP(qPrintable(
            QString("no expectations for a %1 x %2 screen").arg(screen.width()).arg(screen.height())));
    }

    Gyrovane window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.geometry(), expected);

    auto *dock = window.findChild<QDockWidget *>("dockWidget");
    QVERIFY(dock);
    QCOMPARE(dock->width(), 200);
    QVERIFY(window.rect().contains(dock->geometry()));
}

int main(int argc, char **argv)
{
    // Geometry is only real on the X display that xvfb-run provides, whatever the test run asks for.
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "xcb");
    QApplication app(argc, argv);
    tst_ShellGeometry test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shell_geometry.moc"
