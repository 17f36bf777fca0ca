#ifndef MARGBENCH_QUATERNION_H
#define MARGBENCH_QUATERNION_H

#include <cmath>

// Small quaternion and vector helpers for the filter, in double precision. Quaternions are
// (w, x, y, z) and rotate vectors as q v q*.
namespace marg {

struct Quat
{
    double w = 1, x = 0, y = 0, z = 0;
};

inline Quat Multiply(const Quat &a, const Quat &b)
{
    return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

inline Quat Conjugate(const Quat &q) { return {q.w, -q.x, -q.y, -q.z}; }

inline double Norm(const Quat &q) { return std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z); }

// Unit length; anything that cannot be normalised becomes the identity.
inline Quat Normalized(const Quat &q)
{
    const double n = Norm(q);
    if (!(n > 1e-12) || !std::isfinite(n))
        return Quat();
    return {q.w / n, q.x / n, q.y / n, q.z / n};
}

inline void Rotate(const Quat &q, const double v[3], double out[3])
{
    // v + 2 w (u x v) + 2 u x (u x v), u = (x, y, z): cheaper than two products.
    const double tx = 2 * (q.y * v[2] - q.z * v[1]);
    const double ty = 2 * (q.z * v[0] - q.x * v[2]);
    const double tz = 2 * (q.x * v[1] - q.y * v[0]);
    out[0] = v[0] + q.w * tx + q.y * tz - q.z * ty;
    out[1] = v[1] + q.w * ty + q.z * tx - q.x * tz;
    out[2] = v[2] + q.w * tz + q.x * ty - q.y * tx;
}

// The rotation by the rotation vector r (angle |r| about r / |r|).
inline Quat FromRotationVector(double rx, double ry, double rz)
{
    const double angle = std::sqrt(rx * rx + ry * ry + rz * rz);
    if (angle < 1e-9)
        return Normalized({1.0, 0.5 * rx, 0.5 * ry, 0.5 * rz});
    const double s = std::sin(0.5 * angle) / angle;
    return {std::cos(0.5 * angle), s * rx, s * ry, s * rz};
}

inline Quat AboutZ(double angle) { return {std::cos(0.5 * angle), 0, 0, std::sin(0.5 * angle)}; }

// Rows of the rotation matrix of q: row i is the i-th axis of the target frame in source
// coordinates.
inline void RotationMatrix(const Quat &q, double r[9])
{
    const double w = q.w, x = q.x, y = q.y, z = q.z;
    r[0] = 1 - 2 * (y * y + z * z);
    r[1] = 2 * (x * y - w * z);
    r[2] = 2 * (x * z + w * y);
    r[3] = 2 * (x * y + w * z);
    r[4] = 1 - 2 * (x * x + z * z);
    r[5] = 2 * (y * z - w * x);
    r[6] = 2 * (x * z - w * y);
    r[7] = 2 * (y * z + w * x);
    r[8] = 1 - 2 * (x * x + y * y);
}

inline double Norm3(const double v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

inline double WrapToPi(double angle)
{
    constexpr double kPi = 3.14159265358979323846;
    if (angle > kPi || angle < -kPi)
        angle -= 2 * kPi * std::floor((angle + kPi) / (2 * kPi));
    return angle;
}

} // namespace marg

#endif // MARGBENCH_QUATERNION_H
