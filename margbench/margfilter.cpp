#include "margfilter.h"

#include <algorithm>
#include <cstring>

namespace marg {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

// Beyond these a reading is a glitch, not a measurement: no MEMS part reports 5700 deg/s, 1000 g
// or a thousand times the Earth field.
constexpr double kMaxRate = 100.0;
constexpr double kMaxAcc = 1000.0;
constexpr double kMaxField = 1000.0;
// Below a thousandth of a g or of the Earth field there is no reading, only rounding.
constexpr double kMinNorm = 1e-3;
// Heading needs a horizontal field component of at least this share of the field.
constexpr double kMinHorizontal = 0.05;
// Rest also needs the gravity and field directions to stay put (rad), which a slow steady turn,
// invisible to the deviation thresholds, does not.
constexpr double kRestAccDrift = 0.5 * kDeg;
constexpr double kRestMagDrift = 1.0 * kDeg;
// The bias measurements are correlated over about a second; their per-sample weight scales with
// the sample period so that the result does not depend on the rate.
constexpr double kMeasurementWindow = 1.0;
// A drift faster than this is no bias (a jolt, a fresh start): such a step teaches the bias nothing.
constexpr double kMaxDriftForBias = 10.0 * kDeg;
// Steps shorter than this carry no usable rate information (the interface's start-up steps).
constexpr double kMinStepForBias = 1e-4;
// The accelerometer filter averages for one time constant after a start and then hands over to
// the low-pass filter, which needs about another to forget how it began; its settling is no drift.
constexpr double kBiasAfterStart = 2.0;
// The heading filter keeps its full time constant once the vertical bias is known this well
// (deg/s); the heading error a bias leaves is the bias times the time constant.
constexpr double kHeadingBiasFloor = 0.05;
// Samples without a usable rate or time lose their turn; once that may be more than a degree, or
// a quarter of a second went by unseen, the attitude is taken afresh from the sensors.
constexpr double kMaxMissedAngle = 1.0 * kDeg;
constexpr double kMaxMissedTime = 0.25;

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

double AngleBetween(const double a[3], const double b[3])
{
    const double na = Norm3(a), nb = Norm3(b);
    if (!(na > 0) || !(nb > 0))
        return 0;
    const double c = std::max(-1.0, std::min(1.0, Dot(a, b) / (na * nb)));
    return std::acos(c);
}

double FirstOrderGain(double dt, double tau) { return tau > 0 ? 1.0 - std::exp(-dt / tau) : 1.0; }

// Symmetric 3x3 inverse; false when singular.
bool Invert3(const double m[9], double out[9])
{
    const double c0 = m[4] * m[8] - m[5] * m[7];
    const double c1 = m[5] * m[6] - m[3] * m[8];
    const double c2 = m[3] * m[7] - m[4] * m[6];
    const double det = m[0] * c0 + m[1] * c1 + m[2] * c2;
    if (!(std::fabs(det) > 1e-300) || !std::isfinite(det))
        return false;
    const double inv = 1.0 / det;
    out[0] = c0 * inv;
    out[1] = (m[2] * m[7] - m[1] * m[8]) * inv;
    out[2] = (m[1] * m[5] - m[2] * m[4]) * inv;
    out[3] = c1 * inv;
    out[4] = (m[0] * m[8] - m[2] * m[6]) * inv;
    out[5] = (m[2] * m[3] - m[0] * m[5]) * inv;
    out[6] = c2 * inv;
    out[7] = (m[1] * m[6] - m[0] * m[7]) * inv;
    out[8] = (m[0] * m[4] - m[1] * m[3]) * inv;
    return true;
}

void Multiply3(const double a[9], const double b[9], double out[9])
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
}

void Transpose3(const double a[9], double out[9])
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[3 * j + i] = a[3 * i + j];
}

bool Finite(const Quat &q)
{
    return std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z);
}

// Rotation that takes the unit vector v onto +z, the shortest way.
Quat OntoZ(const double v[3])
{
    const double w2 = 0.5 * (1.0 + v[2]);
    if (w2 < 1e-12)
        return {0, 1, 0, 0}; // upside down: half a turn about x
    const double w = std::sqrt(w2);
    return Normalized({w, 0.5 * v[1] / w, -0.5 * v[0] / w, 0});
}

} // namespace

void MargFilter::LowPass::Tune(double tau, double step)
{
    if (step == dt)
        return;
    dt = step;
    // Cut-off sqrt(2) / (2 pi tau): the filter then settles about as a first-order filter of time
    // constant tau does. Kept below the Nyquist frequency for very slow streams.
    const double fc = std::sqrt(2.0) / (2.0 * kPi * tau);
    const double c = std::tan(std::min(kPi * fc * step, 1.5));
    const double d = c * c + std::sqrt(2.0) * c + 1.0;
    b0 = c * c / d;
    b1 = 2.0 * b0;
    b2 = b0;
    a1 = 2.0 * (c * c - 1.0) / d;
    a2 = (1.0 - std::sqrt(2.0) * c + c * c) / d;
}

void MargFilter::LowPass::Start(const double *x, double *state, int n) const
{
    // The steady state for a constant input x: the output starts at x instead of creeping up.
    for (int i = 0; i < n; ++i) {
        state[2 * i] = x[i] * (1.0 - b0);
        state[2 * i + 1] = x[i] * (b2 - a2);
    }
}

void MargFilter::LowPass::Step(const double *x, double *state, double *y, int n) const
{
    for (int i = 0; i < n; ++i) {
        const double out = b0 * x[i] + state[2 * i];
        state[2 * i] = b1 * x[i] - a1 * out + state[2 * i + 1];
        state[2 * i + 1] = b2 * x[i] - a2 * out;
        y[i] = out;
    }
}

MargFilter::MargFilter(const MargFilterParams &params)
    : p_(params)
{
    Reset(false);
}

bool MargFilter::Usable(const double v[3], double maxNorm)
{
    if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2]))
        return false;
    const double n = Norm3(v);
    return n >= kMinNorm && n <= maxNorm;
}

double MargFilter::BiasSigma() const { return std::sqrt(std::max({P_[0], P_[4], P_[8], 0.0})); }

void MargFilter::Reset(bool keepBias)
{
    started_ = false;
    gyro_ = inclination_ = output_ = Quat();
    delta_ = 0;
    lowPassesStarted_ = false;
    if (!keepBias) {
        std::fill(bias_, bias_ + 3, 0.0);
        const double s = p_.biasSigmaInit * kDeg;
        std::fill(P_, P_ + 9, 0.0);
        P_[0] = P_[4] = P_[8] = s * s;
        sinceRest_ = 1e9; // no rest has measured this bias
    }
    rest_ = false;
    restTime_ = 0;
    restMagStarted_ = false;
    restAnchorMagValid_ = false;
    magStarted_ = false;
    magDisturbed_ = false;
    refProvisional_ = true;
    refNorm_ = 1;
    refDip_ = 0;
    candTime_ = undisturbedTime_ = rejectionTime_ = sinceStart_ = 0;
    headingSteadyTime_ = 0;
    magUpdates_ = 0;
}

bool MargFilter::Measure(const double acc[3], const double mag[3], bool *magPresent, double *heading,
                         double *norm, double *dip)
{
    *magPresent = false;
    *heading = 0;
    *norm = 1;
    *dip = 0;
    if (!Usable(acc, kMaxAcc))
        return false;
    if (!Usable(mag, kMaxField))
        return true;
    const double n = Norm3(acc);
    const double up[3] = {acc[0] / n, acc[1] / n, acc[2] / n};
    const Quat level = OntoZ(up);
    double m[3];
    Rotate(level, mag, m);
    const double field = Norm3(mag);
    *norm = field;
    *dip = std::asin(std::max(-1.0, std::min(1.0, m[2] / field)));
    if (std::hypot(m[0], m[1]) >= kMinHorizontal * field) {
        *magPresent = true;
        *heading = -std::atan2(m[1], m[0]);
    }
    return true;
}

void MargFilter::Start(const double acc[3], bool magPresent, double heading, double refNorm, double refDip)
{
    double aI[3];
    Rotate(gyro_, acc, aI);
    const double n = Norm3(aI);
    if (!(n > 0) || !std::isfinite(n))
        return;
    const double up[3] = {aI[0] / n, aI[1] / n, aI[2] / n};
    inclination_ = OntoZ(up);
    // The accelerometer filter starts where the inclination was taken from, so the first update
    // does not see the step to the next (noisy) sample as a tilt.
    std::copy(up, up + 3, startDirection_);
    if (magPresent && std::isfinite(heading)) {
        delta_ = WrapToPi(heading);
        magStarted_ = true;
        magNorm_ = candNorm_ = refNorm_ = refNorm;
        magDip_ = candDip_ = refDip_ = refDip;
        magUpdates_ = 1;
    }
    lowPassesStarted_ = false;
    headingSteadyTime_ = 0;
    started_ = true;
    Compose();
}

void MargFilter::Realign(const double acc[3], const double mag[3])
{
    // Keep the bias and the almost-inertial frame; take inclination and heading from the sensors.
    bool magPresent = false;
    double heading = 0, norm = 1, dip = 0;
    // Start levels the gyro frame, so the heading must be measured from there too.
    double aI[3], mI[3] = {0, 0, 0};
    Rotate(gyro_, acc, aI);
    const bool magOk = Usable(mag, kMaxField);
    if (magOk)
        Rotate(gyro_, mag, mI);
    if (!Measure(aI, mI, &magPresent, &heading, &norm, &dip))
        return;
    const double keepDelta = delta_;
    const bool hadReference = magStarted_;
    const double keepNorm = refNorm_, keepDip = refDip_;
    Start(acc, magOk && magPresent, heading, norm, dip);
    if (!(magOk && magPresent))
        delta_ = keepDelta;
    if (hadReference) {
        refNorm_ = keepNorm;
        refDip_ = keepDip;
    }
    rest_ = false;
    restTime_ = 0;
}

void MargFilter::StartLowPasses(const double *gyr, const double acc[3])
{
    // Steady-state starts: each filter's output begins at its first input.
    double aI[3], r[9];
    Rotate(gyro_, acc, aI);
    const double n = Norm3(aI);
    const double start[3] = {startDirection_[0] * n, startDirection_[1] * n, startDirection_[2] * n};
    accFilter_.Start(start, accState_, 3);
    std::copy(start, start + 3, accMean_);
    accMeanCount_ = 1;
    accAveraging_ = true;
    RotationMatrix(Quat6D(), r);
    accFilter_.Start(r, rState_, 9);
    const double rb[2] = {Dot(r, bias_), Dot(r + 3, bias_)};
    accFilter_.Start(rb, rbState_, 2);
    std::copy(r, r + 9, rLp_);
    std::copy(rb, rb + 2, rbLp_);
    const double still[3] = {0, 0, 0};
    restFilter_.Start(gyr ? gyr : still, restGyrState_, 3);
    restFilter_.Start(acc, restAccState_, 3);
    restMagStarted_ = false;
    rest_ = false;
    restTime_ = 0;
    lowPassesStarted_ = true;
    sinceLowPassStart_ = 0;
}

void MargFilter::Update(double dt, const double gyr[3], const double acc[3], const double mag[3])
{
    const bool gyrOk = std::isfinite(gyr[0]) && std::isfinite(gyr[1]) && std::isfinite(gyr[2]) &&
                       Norm3(gyr) <= kMaxRate;
    const bool accOk = Usable(acc, kMaxAcc);
    const bool magOk = Usable(mag, kMaxField);
    if (dt == 0.0)
        return; // a repeated time stamp: no time went by, the next sample covers it
    const bool timeOk = dt > 0 && std::isfinite(dt);

    if (!timeOk || !gyrOk) {
        // The turn of this sample is lost: count what it probably was.
        missedTime_ += usualStep_;
        missedAngle_ += lastRate_ * usualStep_;
        if (!timeOk)
            return; // nothing is known about the time this sample covers
    }
    const bool lostTooMuch = gyrOk && (missedAngle_ > kMaxMissedAngle || missedTime_ > kMaxMissedTime);
    if (!started_ || dt > p_.maxGap || lostTooMuch) {
        if (accOk) {
            Realign(acc, mag);
            missedTime_ = missedAngle_ = 0;
        }
        return;
    }
    if (gyrOk) {
        // The accelerometer and magnetometer repair what was lost at their own pace.
        const double repair = std::exp(-dt / p_.tauAcc);
        missedTime_ *= repair;
        missedAngle_ *= repair;
        lastRate_ = Norm3(gyr);
        usualStep_ = dt;
        rateLp_ += (lastRate_ - rateLp_) * std::min(1.0, dt / p_.tauAcc);
    }

    const Quat before6 = Quat6D();
    const Quat beforeOut = output_;
    const double beforeDelta = delta_;

    accFilter_.Tune(p_.tauAcc, dt);
    restFilter_.Tune(p_.restFilterTau, dt);
    sinceStart_ += dt;
    sinceLowPassStart_ += dt;
    sinceRest_ += dt;

    if (gyrOk) {
        const double w[3] = {gyr[0] - bias_[0], gyr[1] - bias_[1], gyr[2] - bias_[2]};
        gyro_ = Normalized(Multiply(gyro_, FromRotationVector(w[0] * dt, w[1] * dt, w[2] * dt)));
    }

    if (accOk && !lowPassesStarted_)
        StartLowPasses(gyrOk ? gyr : nullptr, acc);

    if (gyrOk && accOk)
        DetectRest(dt, gyr, acc, magOk ? mag : nullptr);
    else {
        rest_ = false;
        restTime_ = 0;
    }

    if (accOk) {
        double correction[2];
        CorrectInclination(acc, correction);
        if (gyrOk && (p_.motionBiasEstimation || p_.restBiasEstimation))
            EstimateBias(dt, correction);
    }

    if (magOk)
        CorrectHeading(dt, gyrOk ? gyr : nullptr, mag);

    Compose();
    if (!Finite(output_) || !Finite(gyro_) || !Finite(inclination_)) {
        // Cannot happen with the guards above; should it, the last good attitude stands and the
        // next usable sample aligns afresh.
        gyro_ = Quat();
        inclination_ = before6;
        delta_ = beforeDelta;
        output_ = beforeOut;
        started_ = false;
    }
}

void MargFilter::DetectRest(double dt, const double gyr[3], const double acc[3], const double *mag)
{
    restFilter_.Step(gyr, restGyrState_, restGyrLp_, 3);
    restFilter_.Step(acc, restAccState_, restAccLp_, 3);
    if (mag) {
        if (!restMagStarted_) {
            restFilter_.Start(mag, restMagState_, 3);
            restMagStarted_ = true;
        }
        restFilter_.Step(mag, restMagState_, restMagLp_, 3);
    } else {
        restMagStarted_ = false;
    }

    const double dg[3] = {gyr[0] - restGyrLp_[0], gyr[1] - restGyrLp_[1], gyr[2] - restGyrLp_[2]};
    const double da[3] = {acc[0] - restAccLp_[0], acc[1] - restAccLp_[1], acc[2] - restAccLp_[2]};
    const double thG = p_.restThGyr * kDeg;
    const double maxRate = (p_.biasClip + 1.0) * kDeg;
    const bool steady = Dot(dg, dg) <= thG * thG && Dot(da, da) <= p_.restThAcc * p_.restThAcc &&
                        Norm3(restGyrLp_) <= maxRate;
    if (!steady) {
        rest_ = false;
        restTime_ = 0;
        return;
    }
    if (restTime_ == 0) {
        std::copy(restAccLp_, restAccLp_ + 3, restAnchorAcc_);
        restAnchorMagValid_ = mag != nullptr;
        if (mag)
            std::copy(restMagLp_, restMagLp_ + 3, restAnchorMag_);
    } else if (AngleBetween(restAccLp_, restAnchorAcc_) > kRestAccDrift ||
               (mag && restAnchorMagValid_ && AngleBetween(restMagLp_, restAnchorMag_) > kRestMagDrift)) {
        rest_ = false;
        restTime_ = 0;
        return;
    }
    restTime_ += dt;
    rest_ = restTime_ >= p_.restMinTime;
    if (rest_)
        sinceRest_ = 0;
}

void MargFilter::CorrectInclination(const double acc[3], double correction[2])
{
    double aI[3];
    Rotate(gyro_, acc, aI);
    double aLp[3], aE[3];
    if (accAveraging_) {
        // For the first time constant the plain mean of the samples so far: a start while the
        // sensor is shaken or carried settles in one time constant, not several.
        ++accMeanCount_;
        for (int i = 0; i < 3; ++i) {
            accMean_[i] += (aI[i] - accMean_[i]) / double(accMeanCount_);
            aLp[i] = accMean_[i];
        }
        if (sinceLowPassStart_ >= p_.tauAcc) {
            accAveraging_ = false;
            accFilter_.Start(accMean_, accState_, 3);
            restartBiasFilters_ = true;
            // The heading taken meanwhile saw a rough inclination; average it afresh.
            if (magUpdates_ > 1)
                magUpdates_ = 1;
        }
    } else {
        accFilter_.Step(aI, accState_, aLp, 3);
    }
    Rotate(inclination_, aLp, aE);
    const double n = Norm3(aE);
    correction[0] = correction[1] = 0;
    if (!(n > 1e-9))
        return;
    const double up[3] = {aE[0] / n, aE[1] / n, aE[2] / n};
    const Quat c = OntoZ(up);
    correction[0] = 2 * c.x;
    correction[1] = 2 * c.y;
    inclination_ = Normalized(Multiply(c, inclination_));
}

void MargFilter::EstimateBias(double dt, const double correction[2])
{
    const double clip = p_.biasClip * kDeg;
    if (dt < kMinStepForBias)
        return;
    double r[9];
    RotationMatrix(Quat6D(), r);
    const double rb[2] = {Dot(r, bias_), Dot(r + 3, bias_)};
    // Low-pass R and R b like the accelerometer, so that the measurement and its model see the
    // same delay.
    if (restartBiasFilters_) {
        accFilter_.Start(r, rState_, 9);
        accFilter_.Start(rb, rbState_, 2);
        restartBiasFilters_ = false;
    }
    if (!accAveraging_) {
        accFilter_.Step(r, rState_, rLp_, 9);
        accFilter_.Step(rb, rbState_, rbLp_, 2);
    }

    // The uncertainty grows while nothing is measured, up to its starting value.
    const double sInit = p_.biasSigmaInit * kDeg;
    const double grow = sInit * sInit * dt / p_.biasForgettingTime;
    for (int i = 0; i < 3; ++i)
        P_[4 * i] = std::min(P_[4 * i] + grow, sInit * sInit);

    double H[9], e[3], W[3];
    if (rest_ && p_.restBiasEstimation) {
        const double s = p_.biasSigmaRest * kDeg;
        for (int i = 0; i < 3; ++i) {
            e[i] = restGyrLp_[i] - bias_[i];
            W[i] = s * s * kMeasurementWindow / dt;
        }
        std::fill(H, H + 9, 0.0);
        H[0] = H[4] = H[8] = 1;
    } else if (p_.motionBiasEstimation && !rest_ && sinceLowPassStart_ >= kBiasAfterStart * p_.tauAcc &&
               std::hypot(correction[0], correction[1]) <= kMaxDriftForBias * dt) {
        // A remaining bias b tilts the estimate at the rate R b, which the inclination correction
        // takes back: the (filtered) correction rate measures the horizontal part of R b.
        const double s = std::hypot(p_.biasSigmaMotion * kDeg, p_.biasSigmaMotionPerRate * rateLp_);
        std::copy(rLp_, rLp_ + 9, H);
        e[0] = rbLp_[0] - correction[0] / dt - Dot(rLp_, bias_);
        e[1] = rbLp_[1] - correction[1] / dt - Dot(rLp_ + 3, bias_);
        W[0] = W[1] = s * s * kMeasurementWindow / dt;
        if (p_.magBiasEstimation && !RestKnowsBias() && headingSteadyTime_ >= p_.tauMag) {
            // The heading corrections of an undisturbed field measure the vertical part the same
            // way, through the heading filter's own lag.
            const double sm = std::hypot(p_.biasSigmaMag * kDeg, p_.biasSigmaMotionPerRate * rateLp_);
            std::copy(rzLp_, rzLp_ + 3, H + 6);
            e[2] = rzbLp_ - headingRate_ - Dot(rzLp_, bias_);
            W[2] = sm * sm * kMeasurementWindow / dt;
        } else {
            e[2] = -Dot(rLp_ + 6, bias_);
            W[2] = W[0] / p_.biasVerticalForgettingFactor;
        }
    } else {
        return;
    }

    // K = P H' (H P H' + W)^-1;  b += K e;  P -= K H P
    double Ht[9], PHt[9], S[9], Sinv[9], K[9], KH[9], KHP[9];
    Transpose3(H, Ht);
    Multiply3(P_, Ht, PHt);
    Multiply3(H, PHt, S);
    for (int i = 0; i < 3; ++i)
        S[4 * i] += W[i];
    if (!Invert3(S, Sinv))
        return;
    Multiply3(PHt, Sinv, K);
    double step[3];
    for (int i = 0; i < 3; ++i)
        step[i] = K[3 * i] * e[0] + K[3 * i + 1] * e[1] + K[3 * i + 2] * e[2];
    if (!std::isfinite(step[0]) || !std::isfinite(step[1]) || !std::isfinite(step[2]))
        return;
    Multiply3(K, H, KH);
    Multiply3(KH, P_, KHP);
    for (int i = 0; i < 9; ++i)
        P_[i] -= KHP[i];
    for (int i = 0; i < 3; ++i) {
        for (int j = i + 1; j < 3; ++j)
            P_[3 * i + j] = P_[3 * j + i] = 0.5 * (P_[3 * i + j] + P_[3 * j + i]);
        P_[4 * i] = std::max(P_[4 * i], 1e-18);
        bias_[i] = std::max(-clip, std::min(clip, bias_[i] + step[i]));
    }
}

void MargFilter::CorrectHeading(double dt, const double *gyr, const double mag[3])
{
    double m[3];
    Rotate(Quat6D(), mag, m);
    const double norm = Norm3(mag);
    const double dip = std::asin(std::max(-1.0, std::min(1.0, m[2] / norm)));

    if (!magStarted_) {
        magStarted_ = true;
        magNorm_ = candNorm_ = refNorm_ = norm;
        magDip_ = candDip_ = refDip_ = dip;
        candTime_ = 0;
    }
    const double kCurrent = FirstOrderGain(dt, p_.magCurrentTau);
    magNorm_ += kCurrent * (norm - magNorm_);
    magDip_ += kCurrent * (dip - magDip_);

    if (p_.magDisturbanceRejection) {
        const double dipTh = p_.magDipTh * kDeg;
        const double kRef = FirstOrderGain(dt, p_.magRefTau);
        const bool offReference = std::fabs(magNorm_ - refNorm_) > p_.magNormTh * refNorm_ ||
                                  std::fabs(magDip_ - refDip_) > dipTh;
        if (!offReference) {
            undisturbedTime_ += dt;
            if (undisturbedTime_ >= p_.magMinUndisturbedTime) {
                magDisturbed_ = false;
                refNorm_ += kRef * (magNorm_ - refNorm_);
                refDip_ += kRef * (magDip_ - refDip_);
                rejectionTime_ = std::max(rejectionTime_ - dt * p_.magRejectionFactor, 0.0);
            }
        } else {
            undisturbedTime_ = 0;
            magDisturbed_ = true;
            rejectionTime_ += dt;
        }

        // A new homogeneous field: steady norm and dip, however different from the reference.
        const bool offCandidate = std::fabs(magNorm_ - candNorm_) > p_.magNormTh * candNorm_ ||
                                  std::fabs(magDip_ - candDip_) > dipTh;
        if (offCandidate) {
            candNorm_ = magNorm_;
            candDip_ = magDip_;
            candTime_ = 0;
        } else {
            candNorm_ += kRef * (magNorm_ - candNorm_);
            candDip_ += kRef * (magDip_ - candDip_);
            const bool moving = gyr && Norm3(gyr) >= p_.magNewMinGyr * kDeg;
            if (moving || refProvisional_)
                candTime_ += dt;
        }
        if (sinceStart_ >= p_.magNewTime)
            refProvisional_ = false;
        const double needed = refProvisional_ ? p_.magNewFirstTime : p_.magNewTime;
        if (magDisturbed_ && candTime_ >= needed) {
            refNorm_ = candNorm_;
            refDip_ = candDip_;
            refProvisional_ = false;
            magDisturbed_ = false;
            undisturbedTime_ = p_.magMinUndisturbedTime;
            rejectionTime_ = 0;
        }
    }

    if (std::hypot(m[0], m[1]) < kMinHorizontal * norm) {
        headingSteadyTime_ = 0;
        return; // the field is nearly vertical: no heading in it
    }
    // While the vertical gyro bias is uncertain, the gyro cannot carry the heading for long: trust
    // the field sooner, in proportion, down to a tenth of the time constant.
    double r[9];
    RotationMatrix(Quat6D(), r);
    double Pr[3];
    for (int i = 0; i < 3; ++i)
        Pr[i] = P_[3 * i] * r[6] + P_[3 * i + 1] * r[7] + P_[3 * i + 2] * r[8];
    const double sigmaVertical = std::sqrt(std::max(Dot(r + 6, Pr), 0.0));
    const double floor = kHeadingBiasFloor * kDeg;
    const double shortened = p_.tauMag * std::max(0.1, std::min(1.0, floor / std::max(sigmaVertical, 1e-12)));
    const double tau = RestKnowsBias() ? p_.tauMagAfterRest : p_.magBiasEstimation ? shortened : p_.tauMag;
    double k = FirstOrderGain(dt, tau);
    bool steady = true;
    if (magDisturbed_) {
        headingSteadyTime_ = 0;
        if (rejectionTime_ <= p_.magMaxRejectionTime)
            return;
        k /= p_.magRejectionFactor;
        steady = false;
    } else if (magUpdates_ > 0 && 1.0 / double(magUpdates_ + 1) > k) {
        // Right after the start, average the first readings rather than trusting the first one.
        k = 1.0 / double(magUpdates_ + 1);
        steady = false;
    }
    const double target = -std::atan2(m[1], m[0]);
    const double step = k * WrapToPi(target - delta_);
    delta_ = WrapToPi(delta_ + step);
    ++magUpdates_;

    // The vertical row of R and R b, filtered as the heading is, for the bias estimate.
    if (!steady || !(dt >= kMinStepForBias)) {
        headingSteadyTime_ = 0;
        return;
    }
    const double rzb = Dot(r + 6, bias_);
    if (headingSteadyTime_ == 0) {
        std::copy(r + 6, r + 9, rzLp_);
        rzbLp_ = rzb;
    } else {
        for (int i = 0; i < 3; ++i)
            rzLp_[i] += k * (r[6 + i] - rzLp_[i]);
        rzbLp_ += k * (rzb - rzbLp_);
    }
    headingRate_ = step / dt;
    headingSteadyTime_ += dt;
}

void MargFilter::Compose() { output_ = Normalized(Multiply(AboutZ(delta_), Quat6D())); }

} // namespace marg
