#ifndef NODESIM_MOTION_H
#define NODESIM_MOTION_H

// One smooth synthetic attitude trajectory and everything a node derives from it, so that the
// records of one instant agree with each other.
//
// Frames: earth is north-east-down, the sensor frame is forward-right-down; the attitude is the
// rotation sensor -> earth, yaw (heading), then pitch, then roll. Quaternions are (w, x, y, z).
// At rest the accelerometer and the gravity record read (0, 0, 1) g for a level sensor; the
// magnetometer reads the earth field (magnitude 1, inclination 60 degrees) in the sensor frame.
struct MotionSample
{
    double rollDeg = 0, pitchDeg = 0;
    double yawDeg = 0;       // 0 .. 360, heading as the node reports it
    double psiDeg = 0;       // the same heading in -180 .. 180
    double qEarth[4] = {};   // sensor -> earth
    double qInitial[4] = {}; // sensor -> sensor frame at boot
    double initialPsiDeg = 0, initialThetaDeg = 0, initialPhiDeg = 0;
    double gyro[3] = {};    // rad/s, sensor frame
    double acc[3] = {};     // g
    double gravity[3] = {}; // g
    double mag[3] = {};     // earth fields
};

class Motion
{
public:
    // Nodes with different indices move differently along the same kind of path.
    explicit Motion(int index);

    // t: seconds since the node booted. headingOffsetDeg turns the node's idea of north (a heading
    // fix): earth-frame outputs turn with it, the raw sensors do not.
    MotionSample At(double t, double headingOffsetDeg) const;

private:
    struct Angles
    {
        double roll, pitch, yaw;             // rad
        double rollRate, pitchRate, yawRate; // rad/s
    };
    Angles AnglesAt(double t) const;

    double rollPhase_;
    double pitchPhase_;
    double yawStart_;
};

#endif // NODESIM_MOTION_H
