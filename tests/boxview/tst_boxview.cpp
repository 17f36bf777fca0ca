#include "boxview.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

// The attitude a node reports as roll, pitch and yaw (degrees): yaw about z, then pitch about y, then
// roll about x, as the simulator builds its quaternions.
QQuaternion FromRollPitchYaw(float roll, float pitch, float yaw)
{
    return QQuaternion::fromAxisAndAngle(0, 0, 1, yaw) * QQuaternion::fromAxisAndAngle(0, 1, 0, pitch) *
           QQuaternion::fromAxisAndAngle(1, 0, 0, roll);
}

void Feed(BoxView &view, const QQuaternion &q) { view.On_UpdateAttitude(q.scalar(), q.x(), q.y(), q.z()); }

const float L = BoxView::kHalfLength, W = BoxView::kHalfWidth, H = BoxView::kHalfHeight;

// Height of the box's corners above its centre, lowest and highest.
QPair<float, float> HeightRange(const BoxView &view)
{
    float low = 1e9f, high = -1e9f;
    for (float x : {-L, L})
        for (float y : {-W, W})
            for (float z : {-H, H}) {
                const float up = view.ToScene({x, y, z}).z();
                low = qMin(low, up);
                high = qMax(high, up);
            }
    return {low, high};
}

bool Near(const QVector3D &a, const QVector3D &b) { return (a - b).length() < 1e-4f; }

// The corners span exactly +-half in height.
bool Spans(const BoxView &view, float half)
{
    const QPair<float, float> range = HeightRange(view);
    return qAbs(range.first + half) < 1e-4f && qAbs(range.second - half) < 1e-4f;
}

} // namespace

// The box's orientation convention, by where its corners and axes land.
class tst_BoxView : public QObject
{
    Q_OBJECT

private slots:
    void identityIsLevelAndPointsNorth();
    void yawTurnsAboutTheVertical();
    void rollOfNinetyStandsOnTheLongEdge();
    void followsReportedRollPitchYaw_data();
    void followsReportedRollPitchYaw();
    void upIsUpOnTheScreen();
    void damagedQuaternionsAreIgnored();
    void repaintsPerFrameNotPerQuaternion();
    void closingEmitsQuitOnce();
};

void tst_BoxView::identityIsLevelAndPointsNorth()
{
    BoxView view;
    QVERIFY(Spans(view, H));
    QVERIFY(Near(view.ToScene({1, 0, 0}), {1, 0, 0}));  // forward is north
    QVERIFY(Near(view.ToScene({0, 0, 1}), {0, 0, -1})); // body z points down
}

void tst_BoxView::yawTurnsAboutTheVertical()
{
    BoxView view;
    Feed(view, QQuaternion::fromAxisAndAngle(0, 0, 1, 90));
    // Still level, nose to the east (scene y points west).
    QVERIFY(Spans(view, H));
    QVERIFY(Near(view.ToScene({1, 0, 0}), {0, -1, 0}));
}

void tst_BoxView::rollOfNinetyStandsOnTheLongEdge()
{
    BoxView view;
    Feed(view, QQuaternion::fromAxisAndAngle(1, 0, 0, 90));
    QVERIFY(Spans(view, W));
    // The long side stays horizontal; the right side is now underneath.
    QVERIFY(Near(view.ToScene({1, 0, 0}), {1, 0, 0}));
    QVERIFY(Near(view.ToScene({0, 1, 0}), {0, 0, -1}));
}

void tst_BoxView::followsReportedRollPitchYaw_data()
{
    QTest::addColumn<float>("roll");
    QTest::addColumn<float>("pitch");
    QTest::addColumn<float>("yaw");
    QTest::newRow("nose up") << 0.0f << 20.0f << 0.0f;
    QTest::newRow("right side down") << 25.0f << 0.0f << 0.0f;
    QTest::newRow("simulator-like motion") << -12.0f << 8.0f << 215.0f;
}

void tst_BoxView::followsReportedRollPitchYaw()
{
    QFETCH(float, roll);
    QFETCH(float, pitch);
    QFETCH(float, yaw);
    BoxView view;
    Feed(view, FromRollPitchYaw(roll, pitch, yaw));
    const float deg = 3.14159265f / 180.0f;
    // The nose rises by the pitch and points along the heading (north, then east for positive yaw).
    const QVector3D nose = view.ToScene({1, 0, 0});
    QVERIFY(qAbs(nose.z() - std::sin(pitch * deg)) < 1e-4f);
    const float heading = std::atan2(-nose.y(), nose.x()) / deg;
    QVERIFY2(qAbs(std::remainder(heading - yaw, 360.0f)) < 1e-2f, qPrintable(QString::number(heading)));
    // The right side sinks by the roll.
    const QVector3D right = view.ToScene({0, 1, 0});
    QVERIFY(qAbs(right.z() + std::sin(roll * deg) * std::cos(pitch * deg)) < 1e-4f);
}

void tst_BoxView::upIsUpOnTheScreen()
{
    BoxView view;
    view.resize(400, 300);
    const QPointF low = view.ToScreen({0, 0, -1}), high = view.ToScreen({0, 0, 1});
    QVERIFY(high.y() < low.y());
    // North lies away from the viewer, east to the right.
    QVERIFY(view.ToScreen({0, -1, 0}).x() > view.ToScreen({0, 1, 0}).x());
    QVERIFY(view.ToScreen({1, 0, 0}).y() < view.ToScreen({-1, 0, 0}).y());
}

void tst_BoxView::damagedQuaternionsAreIgnored()
{
    BoxView view;
    const QQuaternion turned = QQuaternion::fromAxisAndAngle(0, 0, 1, 30);
    view.On_UpdateAttitude(2 * turned.scalar(), 2 * turned.x(), 2 * turned.y(), 2 * turned.z());
    QVERIFY(qFuzzyCompare(view.Attitude(), turned)); // scaled back to unit length
    view.On_UpdateAttitude(qQNaN(), 0, 0, 0);
    view.On_UpdateAttitude(0, 0, 0, 0);
    view.On_UpdateAttitude(qInf(), 1, 0, 0);
    QVERIFY(qFuzzyCompare(view.Attitude(), turned));
}

void tst_BoxView::repaintsPerFrameNotPerQuaternion()
{
    BoxView view;
    view.resize(320, 320);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTest::qWait(100);
    const int before = view.Repaints();
    // A second of a node at 800 Hz, delivered in bursts as the link does.
    for (int burst = 0; burst < 20; ++burst) {
        for (int i = 0; i < 40; ++i)
            Feed(view, QQuaternion::fromAxisAndAngle(0, 0, 1, float(burst * 40 + i) * 0.1f));
        QTest::qWait(50);
    }
    const int painted = view.Repaints() - before;
    QVERIFY2(painted >= 10 && painted <= 70, qPrintable(QString::number(painted)));
    // Nothing new: nothing painted.
    const int idle = view.Repaints();
    QTest::qWait(200);
    QCOMPARE(view.Repaints(), idle);
}

void tst_BoxView::closingEmitsQuitOnce()
{
    BoxView view;
    QSignalSpy quit(&view, &BoxView::Sig_Quit);
    view.show();
    view.close();
    view.close();
    QCOMPARE(quit.size(), 1);
}

QTEST_MAIN(tst_BoxView)
#include "tst_boxview.moc"
