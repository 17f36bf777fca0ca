#include "childwidget.h"
#include "darkpalette.h"
#include "focuschain.h"
#include "framecourier.h"
#include "gyrovane.h"
#include "messageboxcatcher.h"
#include "unitroster.h"

#include <QCheckBox>
#include <QDockWidget>
#include <QGroupBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include <cmath>

#include <memory>

namespace {

FrameCourier *Courier(Gyrovane &window) { return window.findChild<FrameCourier *>(); }

} // namespace

class tst_ShellWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void formAndDock();
    void logoAndIconFromResources();
    void fontButtons();
    void disabledTextIsReadable();
    void helpOpensTheManual();
    void tabVisitsEveryControlOnce();
    void modeToggleAndTiling();
    void watchdogCountsTicks();
    void watchdogRunsOnItsTimer();
    void aboutBox();
    void closingQuitsTheLinkOnce();

private:
    QTemporaryDir runtime;
};

void tst_ShellWindow::initTestCase()
{
    // The link panel lists simulated ports from here; none must leak in from the machine.
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
}

void tst_ShellWindow::formAndDock()
{
    Gyrovane window;
    QCOMPARE(window.windowTitle(), QString("Gyrovane"));
    QVERIFY(!window.windowIcon().isNull());

    auto *mdi = Child<QMdiArea>(&window, "mdiArea");
    QCOMPARE(mdi->viewMode(), QMdiArea::TabbedView);
    QCOMPARE(mdi->tabPosition(), QTabWidget::South);
    // Node windows placed in the area show this icon.
    QVERIFY(!mdi->windowIcon().isNull());

    auto *dock = Child<QDockWidget>(&window, "dockWidget");
    QCOMPARE(window.dockWidgetArea(dock), Qt::LeftDockWidgetArea);
    auto *connection = Child<QGroupBox>(&window, "groupBox_Connection");
    QCOMPARE(connection->title(), QString("Connection"));
    FrameCourier *courier = Courier(window);
    QVERIFY(courier);
    QVERIFY(connection->isAncestorOf(courier));

    auto *tabs = Child<QTabWidget>(&window, "tabWidget_UnitRoster");
    QCOMPARE(tabs->count(), 1);
    QCOMPARE(tabs->tabText(0), QString("Unit Roster"));
    QVERIFY(qobject_cast<UnitRoster *>(tabs->widget(0)));
    QVERIFY(dock->isAncestorOf(tabs));

    auto *bench = Child<QCheckBox>(&window, "checkBox_UseMargBench");
    QVERIFY(bench->isHidden());
    QVERIFY(!bench->isChecked());

    struct ButtonRow
    {
        const char *name;
        const char *text;
        int pointSize; // 0: the window's font
        bool enabled;
    };
    const ButtonRow buttons[] = {
        {"pushButton_About", "...", 0, true},
        {"pushButton_ResetView", "🗚", 12, true},
        {"pushButton_FrontShrink", "A-", 8, true},
        {"pushButton_FrontEnlarge", "A+", 11, true},
        {"pushButton_Mdi_Arrange_BoxMode", "■□", 10, false},
        {"pushButton_Mdi_Arrange_TitileMode", "❐", 0, true},
    };
    for (const ButtonRow &row : buttons) {
        auto *button = Child<QPushButton>(&window, row.name);
        QCOMPARE(button->text(), QString::fromUtf8(row.text));
        QCOMPARE(button->minimumSize(), QSize(25, 25));
        QCOMPARE(button->maximumSize(), QSize(25, 25));
        QCOMPARE(button->isEnabled(), row.enabled);
        QVERIFY2(!button->toolTip().isEmpty(), row.name); // icon-only: the tip says what it does
        if (row.pointSize)
            QCOMPARE(button->font().pointSize(), row.pointSize);
        QVERIFY2(dock->isAncestorOf(button), row.name);
    }
}

void tst_ShellWindow::logoAndIconFromResources()
{
    QVERIFY(!QPixmap(":/images/logo.png").isNull());
    QVERIFY(!QIcon(":/images/Icon.ico").pixmap(32).isNull());

    Gyrovane window;
    auto *logo = Child<QLabel>(&window, "label_Logo");
    QCOMPARE(logo->text(), QString("Brelund"));
    // The logo replaces the text shortly after start.
    QTRY_VERIFY_WITH_TIMEOUT(!logo->pixmap(Qt::ReturnByValue).isNull(), 5000);
    QCOMPARE(logo->pixmap(Qt::ReturnByValue).size(), QPixmap(":/images/logo.png").size());
}

namespace {

double Luminance(const QColor &c)
{
    auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double Contrast(const QColor &a, const QColor &b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

} // namespace

// Disabled controls stay legible (3:1 against every background they sit on) and still look disabled.
void tst_ShellWindow::disabledTextIsReadable()
{
    const QPalette p = GyrovaneDarkPalette();
    for (QPalette::ColorRole text : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        const QColor dim = p.color(QPalette::Disabled, text);
        QCOMPARE(dim.alpha(), 255); // blended with whatever is behind it, a see-through grey loses contrast
        for (QPalette::ColorRole back : {QPalette::Window, QPalette::Base, QPalette::Button})
            QVERIFY2(Contrast(dim, p.color(QPalette::Disabled, back)) >= 3.0, qPrintable(dim.name()));
        QVERIFY(Contrast(p.color(QPalette::Active, text), dim) >= 1.8);
    }
}

// The manual comes from the button and from F1, once, and explains the terms the panels use.
void tst_ShellWindow::helpOpensTheManual()
{
    Gyrovane window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Child<QPushButton>(&window, "pushButton_Help")->click();
    auto *manual = Child<QTextBrowser>(&window, "textBrowser_Manual");
    QVERIFY(manual->isVisible());
    const QString text = manual->toPlainText();
    for (const char *term : {"NSO", "NPO", "COB-ID", "NimboPipeline", "First steps", "MARG bench", "CSV"})
        QVERIFY2(text.contains(term), term);
    manual->close();
    QTest::keyClick(&window, Qt::Key_F1);
    QVERIFY(manual->isVisible());
    QCOMPARE(window.findChildren<QTextBrowser *>("textBrowser_Manual").size(), 1);
}

// Tab runs through every control of the main window once and comes back; Shift+Tab goes back.
void tst_ShellWindow::tabVisitsEveryControlOnce()
{
    Gyrovane window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QString fault = FocusChainFault(&window, Child<QWidget>(&window, "comboBox_Serial_PortName"));
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

void tst_ShellWindow::fontButtons()
{
    Gyrovane window;
    auto *enlarge = Child<QPushButton>(&window, "pushButton_FrontEnlarge");
    auto *shrink = Child<QPushButton>(&window, "pushButton_FrontShrink");
    auto *reset = Child<QPushButton>(&window, "pushButton_ResetView");
    auto *roster = window.findChild<UnitRoster *>();

    for (int i = 0; i < 3; ++i)
        enlarge->click();
    QCOMPARE(window.font().pointSize(), 11);
    QCOMPARE(window.font().family(), QString("Arial"));
    // Children without a font of their own follow the window.
    QCOMPARE(roster->font().pointSize(), 11);
    reset->click();
    QCOMPARE(window.font().pointSize(), 8);

    // The scan button's colour while scanning must not cost it the window's font.
    auto *scan = Child<QPushButton>(roster, "pushButton_ScanNode");
    scan->click();
    QCOMPARE(scan->font().pointSize(), 8);
    enlarge->click();
    QCOMPARE(scan->font().pointSize(), 9);
    scan->click();
    QCOMPARE(scan->font().pointSize(), 9);
    reset->click();
    QCOMPARE(scan->font().pointSize(), 8);

    // The size stops at 7 points however often "A-" is pressed, and "A-" says so by greying out.
    for (int i = 0; i < 12; ++i)
        shrink->click();
    QCOMPARE(window.font().pointSize(), 7);
    QVERIFY(!shrink->isEnabled());
    enlarge->click();
    QCOMPARE(window.font().pointSize(), 8);
    QVERIFY(shrink->isEnabled());
}

void tst_ShellWindow::modeToggleAndTiling()
{
    Gyrovane window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *mdi = Child<QMdiArea>(&window, "mdiArea");
    auto *toggle = Child<QPushButton>(&window, "pushButton_Mdi_Arrange_TitileMode");
    auto *tile = Child<QPushButton>(&window, "pushButton_Mdi_Arrange_BoxMode");
    for (int i = 0; i < 2; ++i) {
        auto *content = new QWidget;
        content->setMinimumSize(50, 50);
        mdi->addSubWindow(content)->show();
    }

    QVERIFY(!tile->isEnabled());
    toggle->click();
    QCOMPARE(mdi->viewMode(), QMdiArea::SubWindowView);
    QCOMPARE(toggle->text(), QString::fromUtf8("◼"));
    QVERIFY(tile->isEnabled());

    // Cascaded windows overlap; tiled ones share the area side by side.
    const QList<QMdiSubWindow *> subs = mdi->subWindowList();
    QCOMPARE(subs.size(), 2);
    QVERIFY(subs[0]->geometry().intersects(subs[1]->geometry()));
    tile->click();
    QVERIFY(!subs[0]->geometry().intersects(subs[1]->geometry()));

    toggle->click();
    QCOMPARE(mdi->viewMode(), QMdiArea::TabbedView);
    QCOMPARE(toggle->text(), QString::fromUtf8("❐"));
    QVERIFY(!tile->isEnabled());
}

void tst_ShellWindow::watchdogCountsTicks()
{
    Gyrovane window;
    FrameCourier *courier = Courier(window);
    QSignalSpy closes(&window, &Gyrovane::Sig_CloseSerialPort_CurrentPort);
    QSignalSpy forwarded(courier, &FrameCourier::Sig_PortGate_CloseSerialPort_CurrentPort);
    // Nothing here returns to the event loop, so the window's own timers do not tick in between.
    emit courier->Sig_PortGate_ScanPortEvent();
    for (int tick = 1; tick <= 12; ++tick)
        window.On_Timer_WatchDog();
    QCOMPARE(closes.count(), 0);
    window.On_Timer_WatchDog();
    QCOMPARE(closes.count(), 1);
    QCOMPARE(forwarded.count(), 1);
    window.On_Timer_WatchDog();
    QCOMPARE(closes.count(), 2);

    // A scan report from the link panel starts the count again.
    emit courier->Sig_PortGate_ScanPortEvent();
    for (int tick = 1; tick <= 12; ++tick)
        window.On_Timer_WatchDog();
    QCOMPARE(closes.count(), 2);
    window.On_Timer_WatchDog();
    QCOMPARE(closes.count(), 3);
}

void tst_ShellWindow::watchdogRunsOnItsTimer()
{
    Gyrovane window;
    FrameCourier *courier = Courier(window);
    QSignalSpy scans(courier, &FrameCourier::Sig_PortGate_ScanPortEvent);
    QSignalSpy closes(&window, &Gyrovane::Sig_CloseSerialPort_CurrentPort);
    QVERIFY(scans.wait(5000));
    // With the worker's scans stopped, only the watchdog's own ticks count: 13 of them, 6.5 s.
    courier->On_Quit();
    QVERIFY(closes.wait(10000));
    QVERIFY(closes.wait(2000));
    QCOMPARE(closes.count(), 2);
}

void tst_ShellWindow::aboutBox()
{
    Gyrovane window;
    MessageBoxCatcher boxes;
    Child<QPushButton>(&window, "pushButton_About")->click();
    QCOMPARE(boxes.Count(), 1);
    QVERIFY(
        boxes.Last().text.startsWith("Gyrovane Ver. 3.9.8 \nFor Embedded Firmware Ver. 3.1.6 and later.\n"));
    QCOMPARE(boxes.Last().text.split('\n').size(), 5);
    QCOMPARE(boxes.Last().icon, QMessageBox::Information);
    QCOMPARE(boxes.Last().parent.data(), &window);
}

void tst_ShellWindow::closingQuitsTheLinkOnce()
{
    auto window = std::make_unique<Gyrovane>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    FrameCourier *courier = Courier(*window);
    QSignalSpy quits(window.get(), &Gyrovane::Sig_FrameCourierQuit);
    QSignalSpy gatewayQuits(courier, &FrameCourier::Sig_PortGate_Quit);
    QVERIFY(window->close());
    QVERIFY(!window->isVisible());
    QCOMPARE(quits.count(), 1);
    QCOMPARE(gatewayQuits.count(), 1);
    window.reset();
    QCOMPARE(quits.count(), 1);
}

QTEST_MAIN(tst_ShellWindow)
#include "tst_shell_window.moc"
