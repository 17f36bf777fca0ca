#ifndef MARGBENCH_MARGFILTER_H
#define MARGBENCH_MARGFILTER_H

#include "quaternion.h"

// Attitude estimation from one MARG sensor: rate gyro, accelerometer and magnetometer.
//
// Inputs: angular rates in rad/s, acceleration in g and the magnetic field in units of the local
// Earth field, all in the sensor's own right-handed frame and after calibration; dt in seconds.
//
// Output frame. The output quaternion q = (w, x, y, z) turns sensor coordinates into Earth
// coordinates, v_E = q v_S q*. The Earth frame has its z axis along the accelerometer's reading
// at rest and its x axis toward the horizontal component of the magnetic field, y completing a
// right-handed frame. MEMS accelerometers measure specific force, which points up at rest, so for
// them the frame is x magnetic north, y west, z up. (A sensor that reports the gravity vector
// instead, pointing down, gets north-east-down from the same code.)
//
// Method. The attitude is a product of three parts, each corrected by one sensor only:
//
//     q = heading(delta) * inclination * gyro
//
//   gyro         the strapdown integral of the bias-corrected rates. It defines a frame that is
//                almost inertial: it drifts only as fast as the gyro errors make it.
//   inclination  turns that frame so that the accelerometer, low-pass filtered *in that frame*,
//                points along z. Filtering in the almost-inertial frame rather than in the sensor
//                frame means the filter averages the specific force as the world sees it: the
//                acceleration and deceleration of a movement cancel, the sensor's rotation does not
//                smear the gravity direction, and the filter's lag only meets the slow gyro drift.
//   heading      a rotation by delta about z that puts magnetic north on x, corrected by a first-
//                order filter. Being a separate scalar, the magnetometer never tilts the
//                inclination, and a magnetic disturbance can only ever affect the heading.
//
// Gyro bias: a three-state Kalman filter. At rest (gyro and accelerometer steady for 1.5 s and the
// gravity and field directions unchanged) the low-pass filtered gyro measures all three components
// directly. In motion, the inclination corrections measure the horizontal components of the
// remaining bias (an uncorrected bias b tilts the frame at the rate R b); as the sensor turns, all
// three axes pass through the horizontal. That measurement is the less trusted the faster the
// sensor turns: a gyro's scale and cross-axis errors, and any skew between the gyro's and the
// accelerometer's sampling, tilt the frame in proportion to the rate just as a bias would, and on
// real sensors turned at hundreds of degrees a second they are far larger than a bias.
//
// Heading and the vertical bias: what a rest measured is the better knowledge. While a rest has
// measured the bias within the last 5 minutes, the field is left out of the bias (indoor fields bend
// by degrees from place to place and with the sensor's attitude, errors that would pass for
// vertical bias) and the heading follows the field slowly, with 15 s, since the gyro then drifts by
// far less than those field errors. Without such a rest (a sensor that never keeps still), the
// heading corrections of an undisturbed field measure the vertical bias too, and the heading follows
// the field with 9 s, faster still (down to a tenth) while the vertical bias is uncertain: a bias b
// leaves a heading error of b times the time constant.
//
// Magnetic disturbances: the field's norm and its dip angle are compared with a reference that
// is learnt while the field is undisturbed. A field off by more than 10 % in norm or 10 degrees in
// dip is not used (the gyro carries the heading) for up to 60 s; a field that stays different but
// steady for 20 s while the sensor moves becomes the new reference (it was carried into another
// room, say).
//
// Start: the inclination and heading of the first sample, then for one accelerometer time
// constant the plain mean of the accelerometer (and a running mean of the heading), so that a
// start in motion settles quickly; bias learning in motion waits until the filters have settled.
//
// Robustness: non-finite or absurd values of one sensor leave that sensor out of the update; a dt
// of zero (a repeated time stamp) skips the sample, one that is negative or not finite loses it;
// a dt longer than maxGap (a pause of the stream, a time stamp that wrapped) is not integrated.
// After a gap, or once lost samples may have hidden more than a degree of turn, the inclination
// and heading are taken afresh from the accelerometer and magnetometer. The output is always a
// unit quaternion.
//
// The structure follows VQF (D. Laidig, T. Seel: "VQF: Highly accurate IMU orientation estimation
// with bias estimation and magnetic disturbance rejection", Information Fusion 91, 2023), whose
// evaluation on real recordings with optical ground truth chose most time constants kept below.
// Where this filter differs (the rate-dependent trust in the motion bias measurement, the heading
// time constant and the field's part in the bias by what a rest measured), real recordings of
// hand-held motion with optical ground truth (BROAD) showed each rule right in nearly every trial.
namespace marg {

struct MargFilterParams
{
    // Time constant of the accelerometer low-pass filter (s). Longer rides out longer
    // accelerations (walking, vehicle manoeuvres) but lets the gyro drift longer before the
    // correction sees it; 3 s balances the two for consumer MEMS gyros.
    double tauAcc = 3.0;
    // Time constant of the heading correction (s). Magnetometers are noisy and indoor fields
    // uneven; 9 s averages that out while a good gyro drifts far less than a degree in that time.
    double tauMag = 9.0;
    // ...and while a rest has measured the vertical bias: the gyro then drifts by hundredths of a
    // degree a second, less than the field's errors over its movements.
    double tauMagAfterRest = 15.0;

    bool motionBiasEstimation = true;
    bool restBiasEstimation = true;
    bool magDisturbanceRejection = true;

    // Standard deviation of the bias at start (deg/s): the turn-on bias of a calibrated MEMS gyro.
    double biasSigmaInit = 0.5;
    // The bias estimate forgets itself back to biasSigmaInit in this time (s): temperature moves
    // the bias by that much over minutes.
    double biasForgettingTime = 100.0;
    // The estimate never leaves +-biasClip (deg/s): beyond that it is a wrong estimate, not a bias.
    double biasClip = 2.0;
    // Noise of the bias measured from inclination corrections in motion (deg/s, over 1 s)...
    double biasSigmaMotion = 0.1;
    // ...and the part of it that grows with the rate of turn (fraction of the rate, low-pass
    // filtered like the accelerometer): 0.3 %, the scale and cross-axis error of a calibrated MEMS
    // gyro. At 300 deg/s that is 0.9 deg/s, so quick turns say little about a bias of tenths.
    double biasSigmaMotionPerRate = 0.003;
    // The vertical bias is unobservable while the sensor keeps one attitude; this weak pull
    // (relative to the horizontal measurement) keeps it from wandering.
    double biasVerticalForgettingFactor = 1e-4;
    // Noise of the bias measured at rest (deg/s, over 1 s).
    double biasSigmaRest = 0.03;
    // The heading corrections of an undisturbed field also measure the vertical bias (deg/s, over
    // 1 s), which the accelerometer cannot see while the sensor stays near level.
    bool magBiasEstimation = true;
    double biasSigmaMag = 0.1;
    // A rest measurement is trusted over the field's for this long (s); temperature moves a MEMS
    // gyro's bias by more than the rest's accuracy only over minutes.
    double restKnowledgeTime = 300.0;

    // Rest: the gyro within restThGyr (deg/s) and the accelerometer within restThAcc (g) of their
    // low-pass filtered values (time constant restFilterTau, s) for restMinTime (s).
    double restMinTime = 1.5;
    double restFilterTau = 0.5;
    double restThGyr = 2.0;
    double restThAcc = 0.05;

    // Magnetic disturbance detection.
    double magCurrentTau = 0.05;        // s: smoothing of the current norm and dip
    double magRefTau = 20.0;            // s: learning of the reference norm and dip
    double magNormTh = 0.1;             // relative norm deviation that counts as disturbed
    double magDipTh = 10.0;             // deg: dip deviation that counts as disturbed
    double magNewTime = 20.0;           // s: a steady new field becomes the reference...
    double magNewFirstTime = 5.0;       // s: ...sooner while the first reference is unconfirmed
    double magNewMinGyr = 20.0;         // deg/s: ...counting only time in motion
    double magMinUndisturbedTime = 0.5; // s of undisturbed field before it is used again
    double magMaxRejectionTime = 60.0;  // s: a disturbance longer than this is used, slowly
    double magRejectionFactor = 2.0;    // gain divisor (and rejection-time repayment rate) then

    // A step longer than this (s) is a gap in the stream, not a sampling period.
    double maxGap = 1.0;
};

class MargFilter
{
public:
    explicit MargFilter(const MargFilterParams &params = MargFilterParams());

    // Forgets the attitude and the filter states; the bias estimate stays when keepBias.
    void Reset(bool keepBias);

    // Starts from one sample: the inclination from acc (must be usable) and, when the magnetometer
    // is present, the heading `heading` (rad) and the magnetic reference norm and dip (rad).
    void Start(const double acc[3], bool magPresent, double heading, double refNorm, double refDip);

    // Heading offset, field norm and dip that Start would take from this sample. Returns false when
    // the accelerometer is unusable; magPresent tells whether the magnetometer was.
    static bool Measure(const double acc[3], const double mag[3], bool *magPresent, double *heading,
                        double *norm, double *dip);

    void Update(double dt, const double gyr[3], const double acc[3], const double mag[3]);

    bool Started() const { return started_; }
    const Quat &GyroQuat() const { return gyro_; }
    Quat Quat6D() const { return Multiply(inclination_, gyro_); }
    const Quat &Quat9D() const { return output_; }
    // Remaining gyro bias (rad/s) and its standard deviation (rad/s, the largest axis).
    const double *Bias() const { return bias_; }
    double BiasSigma() const;
    bool RestDetected() const { return rest_; }
    bool MagDisturbed() const { return magDisturbed_; }
    double HeadingOffset() const { return delta_; }

    // A vector the filter can use: finite, not zero and not beyond maxNorm.
    static bool Usable(const double v[3], double maxNorm);

private:
    // Second-order Butterworth low-pass filters sharing one set of coefficients.
    struct LowPass
    {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double dt = -1;
        void Tune(double tau, double step);
        void Start(const double *x, double *state, int n) const;
        void Step(const double *x, double *state, double *y, int n) const;
    };

    void StartLowPasses(const double *gyr, const double acc[3]);
    void Realign(const double acc[3], const double mag[3]);
    void DetectRest(double dt, const double gyr[3], const double acc[3], const double *mag);
    void CorrectInclination(const double acc[3], double correction[2]);
    void EstimateBias(double dt, const double correction[2]);
    void CorrectHeading(double dt, const double gyr[3], const double mag[3]);
    void Compose();
    // Whether a rest measured the bias recently enough to be trusted over the field.
    bool RestKnowsBias() const { return sinceRest_ < p_.restKnowledgeTime; }

    MargFilterParams p_;
    bool started_ = false;
    Quat gyro_, inclination_, output_;
    double delta_ = 0;

    LowPass accFilter_, restFilter_;
    bool lowPassesStarted_ = false;
    double sinceLowPassStart_ = 0;
    double startDirection_[3] = {0, 0, 1}; // where the inclination was last taken from
    double accState_[6] = {};     // accelerometer in the almost-inertial frame
    double accMean_[3] = {};      // its plain mean while the filter starts
    long accMeanCount_ = 0;
    bool accAveraging_ = false;
    bool restartBiasFilters_ = false;
    double rState_[18] = {};      // rotation matrix, for the bias measurement
    double rbState_[4] = {};      // rotation matrix times bias
    double rLp_[9] = {};
    double rbLp_[2] = {};

    double bias_[3] = {};
    double P_[9] = {};

    bool rest_ = false;
    double restTime_ = 0;
    double restGyrState_[6] = {}, restAccState_[6] = {}, restMagState_[6] = {};
    double restGyrLp_[3] = {}, restAccLp_[3] = {}, restMagLp_[3] = {};
    bool restMagStarted_ = false;
    double restAnchorAcc_[3] = {}, restAnchorMag_[3] = {};
    bool restAnchorMagValid_ = false;

    bool magStarted_ = false;
    bool magDisturbed_ = false;
    bool refProvisional_ = true;
    double magNorm_ = 0, magDip_ = 0;   // current, smoothed
    double refNorm_ = 1, refDip_ = 0;   // reference
    double candNorm_ = 0, candDip_ = 0; // candidate for a new reference
    double candTime_ = 0;
    double undisturbedTime_ = 0;
    double rejectionTime_ = 0;
    double sinceStart_ = 0;
    double usualStep_ = 0.01;  // s: the last good sample period
    double lastRate_ = 0;      // rad/s: the last good rate
    double rateLp_ = 0;        // rad/s: the rate of turn, low-pass filtered like the accelerometer
    double sinceRest_ = 1e9;   // s since a rest last measured the bias
    double missedTime_ = 0;    // s and rad lost to samples the gyro could not use
    double missedAngle_ = 0;
    long magUpdates_ = 0;
    double headingSteadyTime_ = 0; // s of steady heading corrections
    double headingRate_ = 0;       // rad/s of the last one
    double rzLp_[3] = {}, rzbLp_ = 0;
};

} // namespace marg

#endif // MARGBENCH_MARGFILTER_H
