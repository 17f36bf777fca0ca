#include "boxview.h"

#include <QtCore/QTimer>
#include <QtGui/QCloseEvent>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QScreen>

#include <algorithm>
#include <cmath>

namespace {

constexpr float kDeg = 3.14159265f / 180.0f;
// The viewer stands south-west of the box and looks north-east and down at it.
constexpr float kViewAzimuth = 30.0f * kDeg;
constexpr float kViewElevation = 30.0f * kDeg;
constexpr float kViewDistance = 6.5f;
constexpr float kGroundHeight = -1.35f;
constexpr float kGridHalf = 2.2f;
constexpr int kGridLines = 9;
constexpr int kMinFrameMs = 33;

// Body frame (forward-right-down) to scene (north-west-up): y and z change sign.
QVector3D BodyToNed(const QQuaternion &q, const QVector3D &body) { return q.rotatedVector(body); }
QVector3D NedToScene(const QVector3D &ned) { return QVector3D(ned.x(), -ned.y(), -ned.z()); }

QVector3D ViewForward()
{
    return QVector3D(std::cos(kViewElevation) * std::cos(kViewAzimuth),
                     -std::cos(kViewElevation) * std::sin(kViewAzimuth), -std::sin(kViewElevation));
}

QVector3D CameraPosition() { return -kViewDistance * ViewForward(); }

QColor Shade(const QColor &base, const QVector3D &normal)
{
    static const QVector3D light = QVector3D(-0.35f, 0.55f, 1.0f).normalized();
    const float lambert = std::max(0.0f, QVector3D::dotProduct(normal, light));
    const float k = 0.38f + 0.62f * lambert;
    return QColor::fromRgbF(qMin(1.0, base.redF() * k), qMin(1.0, base.greenF() * k),
                            qMin(1.0, base.blueF() * k));
}

struct Face
{
    int corners[4];
    QVector3D normal; // body frame
    QColor color;
};

} // namespace

BoxView::BoxView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 200);
    frameTimer = new QTimer(this);
    const QScreen *screen = this->screen();
    const qreal hz = screen && screen->refreshRate() > 1.0 ? screen->refreshRate() : 60.0;
    // Smooth to the eye at 30 frames a second; more would cost the program a good part of its
    // processor time for little gain.
    frameTimer->start(qMax(kMinFrameMs, int(1000.0 / hz)));
    connect(frameTimer, &QTimer::timeout, this, &BoxView::OnFrame);
}

BoxView::~BoxView() = default;

void BoxView::On_UpdateAttitude(float q1, float q2, float q3, float q4)
{
    const QQuaternion q(q1, q2, q3, q4);
    const float length = q.length();
    // A damaged record (not a rotation) leaves the box where it was.
    if (!std::isfinite(length) || length < 1e-3f)
        return;
    attitude = q / length;
    changed = true;
}

void BoxView::OnFrame()
{
    if (!changed || !isVisible())
        return;
    changed = false;
    // Only where the box was and where it is now: the rest of the scene does not move.
    const QRect now = BoxBounds();
    update(drawn.united(now));
    drawn = now;
}

QRect BoxView::BoxBounds() const
{
    QPolygonF points;
    const float reach = std::max({kHalfLength + 0.8f, kHalfWidth + 0.7f, kHalfHeight + 0.7f});
    for (float x : {-reach, reach})
        for (float y : {-reach, reach})
            for (float z : {-reach, reach})
                points << ToScreen(ToScene({x, y, z}));
    // Room for the axis labels beyond the axes' tips.
    return points.boundingRect().toAlignedRect().adjusted(-24, -24, 24, 24) & rect();
}

QVector3D BoxView::ToScene(const QVector3D &body) const { return NedToScene(BodyToNed(attitude, body)); }

QPointF BoxView::ToScreen(const QVector3D &scene) const
{
    const QVector3D forward = ViewForward();
    const QVector3D right = QVector3D::crossProduct(forward, QVector3D(0, 0, 1)).normalized();
    const QVector3D up = QVector3D::crossProduct(right, forward);
    const QVector3D rel = scene - CameraPosition();
    const float depth = std::max(0.1f, QVector3D::dotProduct(rel, forward));
    const float focal = 1.4f * float(std::min(width(), height()));
    return QPointF(width() / 2.0 + focal * QVector3D::dotProduct(rel, right) / depth,
                   height() * 0.47 - focal * QVector3D::dotProduct(rel, up) / depth);
}

void BoxView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    drawn = rect();
}

void BoxView::paintEvent(QPaintEvent *)
{
    ++repaints;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // The sky, the ground and its marks do not move: drawn once per size.
    if (background.size() != size() * devicePixelRatioF()) {
        background = QPixmap(size() * devicePixelRatioF());
        background.setDevicePixelRatio(devicePixelRatioF());
        QPainter b(&background);
        b.setRenderHint(QPainter::Antialiasing);
        PaintBackground(b);
    }
    p.drawPixmap(0, 0, background);
    QFont font = p.font();
    font.setBold(true);
    p.setFont(font);

    // The box.
    const float L = kHalfLength, W = kHalfWidth, H = kHalfHeight;
    const QVector3D corners[8] = {{-L, -W, -H}, {L, -W, -H}, {L, W, -H}, {-L, W, -H},
                                  {-L, -W, H},  {L, -W, H},  {L, W, H},  {-L, W, H}};
    QVector3D scene[8];
    QPointF screen[8];
    for (int i = 0; i < 8; ++i) {
        scene[i] = ToScene(corners[i]);
        screen[i] = ToScreen(scene[i]);
    }
    // Body z points down: the -z face is the top of the board.
    const Face faces[6] = {
        {{0, 1, 2, 3}, {0, 0, -1}, QColor(44, 128, 168)}, {{4, 7, 6, 5}, {0, 0, 1}, QColor(36, 62, 84)},
        {{1, 5, 6, 2}, {1, 0, 0}, QColor(205, 92, 78)},   {{0, 3, 7, 4}, {-1, 0, 0}, QColor(120, 126, 138)},
        {{2, 6, 7, 3}, {0, 1, 0}, QColor(132, 168, 96)},  {{0, 4, 5, 1}, {0, -1, 0}, QColor(120, 126, 138)},
    };

    const QVector3D camera = CameraPosition();
    const QVector3D center = ToScene({0, 0, 0});
    const float centerDepth = (center - camera).length();
    struct Axis
    {
        QVector3D from, to;
        QColor color;
        const char *label;
    };
    const Axis axes[3] = {
        {{L, 0, 0}, {L + 0.8f, 0, 0}, QColor(255, 80, 70), "x"},
        {{0, W, 0}, {0, W + 0.7f, 0}, QColor(120, 230, 90), "y"},
        {{0, 0, H}, {0, 0, H + 0.7f}, QColor(70, 160, 255), "z"},
    };
    auto drawAxis = [&](const Axis &axis) {
        const QPointF a = ToScreen(ToScene(axis.from)), b = ToScreen(ToScene(axis.to));
        p.setPen(QPen(axis.color, 3.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(a, b);
        p.drawText(b + QPointF(4, -4), QString::fromLatin1(axis.label));
    };
    // Axes pointing away from the viewer go behind the box.
    for (const Axis &axis : axes)
        if ((ToScene(axis.to) - camera).length() > centerDepth)
            drawAxis(axis);

    p.setPen(QPen(QColor(12, 14, 18), 1.4));
    for (const Face &face : faces) {
        const QVector3D normal = ToScene(face.normal);
        const QVector3D middle = (scene[face.corners[0]] + scene[face.corners[2]]) / 2.0f;
        if (QVector3D::dotProduct(normal, camera - middle) <= 0.0f)
            continue;
        p.setBrush(Shade(face.color, normal));
        p.drawPolygon(QPolygonF(QVector<QPointF>{screen[face.corners[0]], screen[face.corners[1]],
                                                 screen[face.corners[2]], screen[face.corners[3]]}));
        // The top carries an arrow toward the front, so the heading reads at a glance.
        if (face.normal.z() < 0.0f) {
            p.setBrush(Shade(QColor(235, 235, 235), normal));
            const float z = -H - 0.001f;
            p.drawPolygon(QPolygonF(QVector<QPointF>{
                ToScreen(ToScene({0.75f * L, 0, z})), ToScreen(ToScene({0.1f * L, 0.35f * W, z})),
                ToScreen(ToScene({0.25f * L, 0, z})), ToScreen(ToScene({0.1f * L, -0.35f * W, z}))}));
        }
    }
    for (const Axis &axis : axes)
        if ((ToScene(axis.to) - camera).length() <= centerDepth)
            drawAxis(axis);
}

void BoxView::PaintBackground(QPainter &b) const
{
    QLinearGradient sky(0, 0, 0, height());
    sky.setColorAt(0.0, QColor(38, 44, 52));
    sky.setColorAt(1.0, QColor(16, 18, 22));
    b.fillRect(rect(), sky);

    // Ground grid, with north marked.
    b.setPen(QPen(QColor(90, 110, 125), 1.0));
    for (int i = 0; i < kGridLines; ++i) {
        const float s = -kGridHalf + 2.0f * kGridHalf * float(i) / float(kGridLines - 1);
        b.drawLine(ToScreen({s, -kGridHalf, kGroundHeight}), ToScreen({s, kGridHalf, kGroundHeight}));
        b.drawLine(ToScreen({-kGridHalf, s, kGroundHeight}), ToScreen({kGridHalf, s, kGroundHeight}));
    }
    QFont font = b.font();
    font.setBold(true);
    b.setFont(font);
    b.setPen(QColor(170, 190, 205));
    b.drawText(ToScreen({kGridHalf + 0.3f, 0.55f * kGridHalf, kGroundHeight}) + QPointF(-4, 4), tr("N"));

    // Up: an arrow standing on the east side of the grid.
    const QVector3D upBase(0.0f, -kGridHalf * 0.85f, kGroundHeight);
    const QVector3D upTip = upBase + QVector3D(0, 0, 1.5f);
    const QPointF base = ToScreen(upBase), tip = ToScreen(upTip);
    b.setPen(QPen(QColor(245, 245, 245), 2.0));
    b.drawLine(base, tip);
    const QPointF along = (tip - base) / std::max(1.0, std::hypot(tip.x() - base.x(), tip.y() - base.y()));
    const QPointF across(-along.y(), along.x());
    b.setBrush(QColor(245, 245, 245));
    b.drawPolygon(
        QPolygonF(QVector<QPointF>{tip, tip - 10 * along + 5 * across, tip - 10 * along - 5 * across}));
    b.drawText(tip + QPointF(6, 4), tr("Up"));
}

void BoxView::closeEvent(QCloseEvent *event)
{
    if (!quitSent) {
        quitSent = true;
        emit Sig_Quit();
    }
    event->accept();
}
