#ifndef MARGBENCH_SENSORCALIB_H
#define MARGBENCH_SENSORCALIB_H

#include <cstdint>

// The field calibration of one sensor (accelerometer or magnetometer). Two models:
//
//     axis-aligned:  calibrated = raw / scale - offset              (per axis)
//     ellipsoid:     calibrated = matrix * (raw - center)           (matrix symmetric)
//
// The accelerometer is calibrated from the means of seven still stages. Each stage averages more
// than 5000 samples. A stage fails when the sensor was not still (its readings wandered between the
// two halves of the stage, or scattered far more than noise does), when its orientation repeats an
// earlier stage, or when the seventh stage is far from the expected check orientation. After the
// seventh stage an axis-aligned ellipsoid is fitted to the seven means by least squares, so the
// stages need not be exactly axis-aligned; the fit is refused when a stage mean is still off the unit
// sphere afterwards, or when the stages leave an axis undetermined (no stage had it pointing up, or
// none down).
//
// The magnetometer's still stages only check that it, too, was still; its calibration comes from
// the sweep that follows them (fieldsweep.h): hard and soft iron, a full ellipsoid.
enum class SensorKind {
    Gravity,  // the accelerometer: reads 1 g in every still orientation
    Magnetic, // the magnetometer: reads one Earth field; all zeros means there is none
};

struct SensorCalib
{
    explicit SensorCalib(SensorKind sensorKind);

    double stageMeanX[7] = {};
    double stageMeanY[7] = {};
    double stageMeanZ[7] = {};
    double scale[3] = {1, 1, 1};
    double offset[3] = {};
    double sum[3] = {};
    double count = 0;
    int32_t command = 1;   // 1: sample the current stage; 2: the user asked for the next stage
    int32_t stageOpen = 1; // 1: the current stage is being sampled; 0: it is done, waiting for the user
    double sumSquares[3] = {}; // with sum: the spread of the stage's samples
    double firstHalf[3] = {};  // the sums at half time: did the reading wander?
    const SensorKind kind;

    // The ellipsoid model, used instead of scale and offset while `ellipsoid` is set.
    bool ellipsoid = false;
    double matrix[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double center[3] = {};
    double inverse[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}; // of matrix, for Unapply

    // Why the last stage failed, for the bench's message.
    enum class Failure {
        None,
        Moved,          // the sensor was not still
        Repeated,       // the orientation of an earlier stage (failureDetail: that stage, 0-based)
        CheckAttitude,  // the seventh stage is far from the check orientation
        AxisUnreached,  // no stage had axis failureDetail pointing failureSign (+1 up, -1 down)
        IllConditioned, // the stages do not determine the fit
        Residual,       // a stage is off the fitted sphere by failureValue (fraction)
    };
    Failure failure = Failure::None;
    int failureDetail = 0;
    int failureSign = 0;
    double failureValue = 0;

    // The calibration model, in double precision, on a float triple; Unapply is its inverse (the raw
    // reading that calibrates to the values given).
    void Apply(float &x, float &y, float &z) const;
    void Unapply(float &x, float &y, float &z) const;
    // Back to the start of stage 1, keeping the current calibration.
    void StartCalibration();
    // Installs the axis-aligned model.
    void SetAxisAligned(const double newScale[3], const double newOffset[3]);
    // Installs the ellipsoid model; false (nothing changed) when the matrix cannot be inverted.
    bool SetEllipsoid(const double newMatrix[3][3], const double newCenter[3]);
    // The raw reading that calibrates to zero.
    void Center(double out[3]) const;
};

namespace marg {

constexpr int kCalibStages = 7;
constexpr int kSamplesPerStage = 5000;
// After the still stages, the magnetometer sweep (0-based stage index).
constexpr int kSweepStage = kCalibStages;
// A sweep that has not passed after this long (seconds of samples) fails.
constexpr double kSweepTimeLimit = 120.0;

// Stage codes.
constexpr int kStageSampling = 0;
constexpr int kStageDone = 4;
constexpr int kCalibrationDone = 1;
constexpr int kStageFailed = -1;
constexpr int kSweepEvaluated = 5; // the sweep's figures were measured again; it goes on

// One sample of `stage` (0-based). lastStageReading: what the sensor is expected to read in the
// seventh (check) stage, or null for no such check.
int FieldCalibStageCheck(SensorCalib &calib, double x, double y, double z, int stage,
                         const double *lastStageReading);

// Least-squares axis-aligned ellipsoid through n >= 6 points: scale and offset in the calibration
// model that put the points on the unit sphere. Returns false for a degenerate fit; worst is the
// largest remaining |norm - 1|.
bool FitAxisEllipsoid(const double (*points)[3], int n, double scale[3], double offset[3], double *worst);

// Least-squares general ellipsoid through n >= 9 points (x, y, z after each other): the symmetric
// matrix and centre of the ellipsoid model that put the points on the unit sphere. False when the
// points do not determine an ellipsoid (too few, all in a plane, a fit that is no ellipsoid).
bool FitEllipsoid(const double *xyz, int n, double matrix[3][3], double center[3]);
// Least-squares sphere through n >= 4 points: its centre.
bool FitSphere(const double *xyz, int n, double center[3]);

// Eigenvalues (ascending) and eigenvectors (the columns of vectors) of a symmetric 3x3 matrix.
void SymmetricEigen(const double a[3][3], double values[3], double vectors[3][3]);

// 3x3 inverse; false when singular.
bool Invert3(const double a[3][3], double out[3][3]);

} // namespace marg

#endif // MARGBENCH_SENSORCALIB_H
