#ifndef BOXVIEW_H
#define BOXVIEW_H

#include "boxview_global.h"

#include <QtCore/QPointF>
#include <QtGui/QPixmap>
#include <QtGui/QQuaternion>
#include <QtGui/QVector3D>
#include <QtWidgets/QWidget>

class QPainter;
class QTimer;

// A shaded 3-D box that follows a node's orientation, drawn with QPainter so that it works under
// every platform plugin.
//
// Convention. The quaternion (q1 scalar first, then q2, q3, q4, as Np_Q_s1_e delivers it) turns
// vectors of the module's body frame into the Earth frame: v_earth = q v_body q*. The Earth frame is
// north-east-down, the body frame forward-right-down, as the module reports roll, pitch and yaw:
// - the identity shows the box level, its long side (body x) pointing north, away from the viewer;
// - a rotation about body z turns the box about the vertical (a positive one turns the nose east,
//   to the viewer's right);
// - a positive rotation about body x rolls the right side down; 90 degrees stands the box on its
//   long edge;
// - a positive pitch (a rotation about body y) lifts the nose.
// The body axes are drawn in colour (x red, y green, z blue) on a ground grid with an arrow that
// points up.
//
// Quaternions may arrive at the node's full rate; the view keeps the newest and repaints it at most
// 30 times a second, and never more often than the screen refreshes.
class BOXVIEW_EXPORT BoxView : public QWidget
{
    Q_OBJECT

public:
    // The box: the board of a module, longest along its x axis (half lengths, in metres' worth of
    // units of the scene).
    static constexpr float kHalfLength = 1.0f;
    static constexpr float kHalfWidth = 0.62f;
    static constexpr float kHalfHeight = 0.22f;

    explicit BoxView(QWidget *parent = nullptr);
    ~BoxView() override;

    // The newest orientation (unit length); the identity until a usable one arrives.
    QQuaternion Attitude() const { return attitude; }
    // A point of the body frame in the scene: x north, y west, z up (the Earth frame with z turned
    // up, so the scene is right-handed and up is up).
    QVector3D ToScene(const QVector3D &body) const;
    // A scene point on the widget.
    QPointF ToScreen(const QVector3D &scene) const;
    int Repaints() const { return repaints; }

signals:
    void Sig_Quit();

public slots:
    void On_UpdateAttitude(float q1, float q2, float q3, float q4);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void OnFrame();
    void PaintBackground(QPainter &painter) const;
    // Where the box and its axes can be on the widget in the current attitude.
    QRect BoxBounds() const;

    QQuaternion attitude;
    bool changed = true;
    bool quitSent = false;
    int repaints = 0;
    QTimer *frameTimer = nullptr;
    QPixmap background;
    QRect drawn; // what the last repaint of the box covered
};

#endif // BOXVIEW_H
