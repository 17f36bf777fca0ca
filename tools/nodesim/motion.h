#ifndef NODESIM_MOTION_H
#define NODESIM_MOTION_H

#include <string>

// One smooth synthetic attitude trajectory and everything a node derives from it, so that the
// records of one instant agree with each other.
//
// Frames: earth is north-east-down, the sensor frame is forward-right-down; the attitude is the
// rotation sensor -> earth, yaw (heading), then pitch, then roll. Quaternions are (w, x, y, z).
// The accelerometer reports the gravity vector minus the linear acceleration (so (0, 0, 1) g for a
// level sensor at rest, like the gravity record); the magnetometer reads the earth field
// (magnitude 1, inclination 60 degrees, pointing north and down) in the sensor frame.
enum class MotionProfile {
    Gentle,      // the default: a slow sway with a steady turn
    Slow,        // a few degrees per second
    Fast,        // up to about 500 degrees per second
    Translation, // the gentle sway, shaken back and forth with up to 0.5 g
    Breaks,      // brisk turns with still pauses between them
    Calibration, // the bench's field calibration: seven still stages, then a sweep through every direction
};

// What the accelerometer reads in each still stage of the bench's field calibration (see the bench's
// header): the simulated accelerometer reads the gravity direction, so "z up" reads +z.
extern const double kCalibrationStageReadings[7][3];

// Where the calibration path is at t: stage 0..6 held still, 7 the sweep, -1 turning between them;
// seconds into that part and seconds left of it.
struct CalibrationPhase
{
    int stage = -1;
    double into = 0;
    double left = 0;
};
CalibrationPhase CalibrationPathPhase(double t);
// When stage 0..6 of the first round begins to be held, or (7) the sweep begins.
double CalibrationStageStart(int stage);

bool ParseMotionProfile(const std::string &name, MotionProfile *profile);

struct MotionSample
{
    double rollDeg = 0, pitchDeg = 0;
    double yawDeg = 0;       // 0 .. 360, heading as the node reports it
    double psiDeg = 0;       // the same heading in -180 .. 180
    double qTrue[4] = {};    // sensor -> earth, the true attitude
    double qEarth[4] = {};   // sensor -> earth as the node reports it (with its heading fix)
    double qInitial[4] = {}; // sensor -> sensor frame at boot
    double initialPsiDeg = 0, initialThetaDeg = 0, initialPhiDeg = 0;
    double gyro[3] = {};    // rad/s, sensor frame
    double acc[3] = {};     // g
    double gravity[3] = {}; // g
    double mag[3] = {};     // earth fields
    double linearAcc[3] = {}; // g, earth frame
};

// A sensor lying still in the attitude where its accelerometer reads `reading` (any length; the
// direction counts), turned to `headingDeg` about the vertical.
// v, given in the earth frame, expressed in the sensor frame of the attitude q (sensor -> earth).
void EarthToSensor(const double q[4], const double v[3], double out[3]);

MotionSample StillSample(const double reading[3], double headingDeg);

class Motion
{
public:
    // Nodes with different indices move differently along the same kind of path.
    explicit Motion(int index, MotionProfile profile = MotionProfile::Gentle);

    // Short linear accelerations: every `every` seconds the sensor is moved for one second and
    // stops again (peak acceleration peakG), in turn along north, east and down.
    void SetBursts(double peakG, double every);

    // t: seconds since the node booted. headingOffsetDeg turns the node's idea of north (a heading
    // fix): earth-frame outputs turn with it, the raw sensors do not.
    MotionSample At(double t, double headingOffsetDeg) const;

    // The largest angular rate of the first `seconds` of the path, in degrees per second.
    double PeakRateDegPerS(double seconds) const;

private:
    struct Shape
    {
        double rollAmp, rollHz;
        double pitchAmp, pitchHz;
        double yawDrift, yawAmp, yawHz; // deg/s, deg, Hz
        bool pauses;
        double shakeG[3], shakeHz[3]; // linear acceleration sinusoids, earth frame
    };
    struct Angles
    {
        double roll, pitch, yaw;             // rad
        double rollRate, pitchRate, yawRate; // rad/s
    };
    static Shape ShapeOf(MotionProfile profile);
    Angles AnglesAt(double t) const;
    // The true attitude (sensor -> earth) and the body rates (rad/s) at t.
    void Attitude(double t, double q[4], double rate[3]) const;
    void LinearAccelerationAt(double t, double out[3]) const;

    Shape shape_;
    bool calibrationPath_;
    double rollPhase_;
    double pitchPhase_;
    double yawStart_;
    double burstG_ = 0.0;
    double burstEvery_ = 0.0;
};

#endif // NODESIM_MOTION_H
