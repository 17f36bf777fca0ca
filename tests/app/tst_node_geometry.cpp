#include "gyrovane.h"
#include "sensorpanel.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

// A node window at its default size in the main window as it opens, on the screen this runs on
// (xvfb-run at 1366 x 768, 1920 x 1080 and 3840 x 2160): every control can be reached, every display's
// contents lie in sight, the calibration panel's titles fit.
class tst_NodeGeometry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everythingInReach();

private:
    QTemporaryDir runtime;
};

namespace {

// The part of `w` that can be seen without scrolling, in the coordinates of `top`.
QRect Visible(QWidget *w, QWidget *top)
{
    QRect r(w->mapTo(top, QPoint(0, 0)), w->size());
    for (QWidget *p = w->parentWidget(); p && p != top; p = p->parentWidget())
        r &= QRect(p->mapTo(top, QPoint(0, 0)), p->size());
    return r;
}

bool InScrollArea(QWidget *w, QWidget *top)
{
    for (QWidget *p = w->parentWidget(); p && p != top; p = p->parentWidget())
        if (auto *area = qobject_cast<QScrollArea *>(p))
            return area->width() > 40 && area->height() > 40;
    return false;
}

} // namespace

void tst_NodeGeometry::initTestCase()
{
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X display for real window geometry");
}

void tst_NodeGeometry::everythingInReach()
{
    Gyrovane window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QByteArray uuid(20, '\x01');
    window.On_CreateNode(uuid, 32, "Bow", 318, 70);
    SensorPanel *panel = window.NodeWindows().value(uuid);
    QVERIFY(panel);
    Np_Settings settings{};
    settings.settingsWord = 0x7u | (1u << 5) | (1u << 6) | (1u << 8) | (1u << 11) | (1u << 19) | (2u << 14);
    settings.odr = 50;
    settings.fusionParamAcc = 210;
    settings.fusionParamMag = 100;
    settings.uart2Baud = 1152;
    emit window.Sig_NewData_Settings(32, settings);
    QTest::qWait(500);
    const QRect inSight = Visible(panel, &window);
    QVERIFY(!inSight.isEmpty());

    // Controls: in sight, or in a scroll area that is itself in sight.
    QStringList unreachable;
    for (QWidget *w : panel->findChildren<QWidget *>()) {
        const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QComboBox *>(w) ||
                             qobject_cast<QAbstractSpinBox *>(w) || qobject_cast<QLineEdit *>(w);
        if (!control || !w->isVisibleTo(panel) || w->window() != &window || qobject_cast<QMdiSubWindow *>(w->parentWidget()))
            continue;
        if (w->parentWidget() && w->parentWidget()->inherits("QMdiSubWindow"))
            continue;
        if (!InScrollArea(w, panel) && !inSight.contains(QRect(w->mapTo(&window, QPoint(0, 0)), w->size())))
            unreachable << w->objectName();
    }
    QVERIFY2(unreachable.isEmpty(), qPrintable(unreachable.join(", ")));

    // Displays: each plot canvas and dial has room and lies inside the display area.
    auto *area = panel->findChild<QMdiArea *>("mdiArea");
    const QRect areaInSight = Visible(area->viewport(), &window);
    QCOMPARE(area->subWindowList().size(), 3);
    for (QMdiSubWindow *sub : area->subWindowList()) {
        for (QWidget *w : sub->findChildren<QWidget *>()) {
            if (!(w->inherits("QwtPlotCanvas") || w->inherits("QwtDial") || w->inherits("BoxView")) || !w->isVisible())
                continue;
            const QRect shown(w->mapTo(&window, QPoint(0, 0)), w->size());
            QVERIFY2(shown.width() >= 40 && shown.height() >= 20,
                     qPrintable(sub->windowTitle() + QString(" %1x%2").arg(shown.width()).arg(shown.height())));
            QVERIFY2(areaInSight.contains(shown), qPrintable(sub->windowTitle()));
        }
    }

    // The calibration panel: on every page its group titles fit their boxes.
    panel->findChild<QPushButton *>("pushButton_OpenClose_CalibPannel")->click();
    auto *tabs = panel->findChild<QTabWidget *>("tabWidget_SettingPannel");
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        QTest::qWait(100);
        for (QGroupBox *box : tabs->widget(page)->findChildren<QGroupBox *>())
            if (box->isVisible() && !box->title().isEmpty())
                QVERIFY2(box->width() >= box->fontMetrics().horizontalAdvance(box->title()) + 16,
                         qPrintable(box->title()));
    }
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "xcb");
    QApplication app(argc, argv);
    tst_NodeGeometry test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_node_geometry.moc"
