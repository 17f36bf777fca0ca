// The MARG filter's physics, on the simulator's motion and sensor models: the frame it reports in,
// how it learns a gyro bias (at rest, and not from what fast turns fake), what a rest's knowledge
// protects, and the disturbances it rides out.

#include "margdrive.h"
#include "margfilter.h"

#include <QtTest/QtTest>

#include <cmath>

using namespace margdrive;

namespace {

constexpr double kRate = 400.0;
const double kGyroBias[3] = {0.5 * kDeg, -0.4 * kDeg, 0.3 * kDeg};

// Runs the filter along `path` from `start` for `seconds`; each sample may be changed on its way in.
// Returns the RMS heading and inclination errors after `settle` seconds, and the worst total.
struct Run
{
    double heading = 0, inclination = 0, worst = 0;
};

template <typename Path, typename Change>
Run Follow(marg::MargFilter &filter, const Path &path, SensorModel &sensors, double start, double seconds,
           double settle, Change change)
{
    Run run;
    long n = 0;
    for (long i = 1; i <= long(seconds * kRate); ++i) {
        const double t = start + double(i) / kRate;
        const MotionSample truth = path.At(t, 0.0);
        double g[3], a[3], m[3];
        sensors.Read(truth, t, g, a, m);
        change(t - start, g, a, m);
        if (!filter.Started()) {
            bool magPresent = false;
            double heading = 0, norm = 1, dip = 0;
            if (marg::MargFilter::Measure(a, m, &magPresent, &heading, &norm, &dip))
                filter.Start(a, magPresent, heading, norm, dip);
            continue;
        }
        filter.Update(1.0 / kRate, g, a, m);
        if (t - start < settle)
            continue;
        const marg::Quat &q = filter.Quat9D();
        const float qf[4] = {float(q.w), float(q.x), float(q.y), float(q.z)};
        const Error e = Compare(qf, truth.qTrue);
        run.heading += e.heading * e.heading;
        run.inclination += e.inclination * e.inclination;
        run.worst = std::max(run.worst, e.total);
        ++n;
    }
    run.heading = std::sqrt(run.heading / std::max(1L, n));
    run.inclination = std::sqrt(run.inclination / std::max(1L, n));
    return run;
}

auto Unchanged = [](double, double *, double *, double *) {};

SensorErrors Biased()
{
    SensorErrors e;
    const SensorErrors typical = SensorErrors::Typical();
    e.gyroNoise = typical.gyroNoise;
    e.accNoise = typical.accNoise;
    e.magNoise = typical.magNoise;
    std::copy(kGyroBias, kGyroBias + 3, e.gyroBias);
    return e;
}

double BiasError(const marg::MargFilter &filter, int axis) { return (filter.Bias()[axis] - kGyroBias[axis]) / kDeg; }

// A path that keeps still for `still` seconds, then follows `profile`.
class StillThen
{
public:
    StillThen(double still, MotionProfile profile)
        : still_(still)
        , motion_(2, profile)
    {}
    MotionSample At(double t, double offset) const
    {
        if (t >= still_)
            return motion_.At(t - still_, offset);
        MotionSample s = motion_.At(0.0, offset);
        std::fill(s.gyro, s.gyro + 3, 0.0);
        std::fill(s.linearAcc, s.linearAcc + 3, 0.0);
        std::copy(s.gravity, s.gravity + 3, s.acc);
        return s;
    }

private:
    double still_;
    Motion motion_;
};

} // namespace

class TestMargPhysics : public QObject
{
    Q_OBJECT

private slots:
    void reportsTheSensorToEarthTurn_data();
    void reportsTheSensorToEarthTurn();
    void restMeasuresTheBias();
    void fastTurnsDoNotPassForABias();
    void aRestKeepsABentFieldOutOfTheBias();
    void ridesOutDisturbances();
};

void TestMargPhysics::reportsTheSensorToEarthTurn_data()
{
    QTest::addColumn<QVector<double>>("reading"); // what the accelerometer reads, still
    QTest::addColumn<double>("heading");
    QTest::newRow("level, facing north") << QVector<double>{0, 0, 1} << 0.0;
    QTest::newRow("level, facing east") << QVector<double>{0, 0, 1} << 90.0;
    QTest::newRow("on its side, facing south-west") << QVector<double>{0, 1, 0} << 225.0;
    QTest::newRow("tilted, facing north-west") << QVector<double>{0.5, -0.3, 0.8} << 300.0;
}

void TestMargPhysics::reportsTheSensorToEarthTurn()
{
    QFETCH(QVector<double>, reading);
    QFETCH(double, heading);
    // North-east-down, as the simulator's accelerometer reads the gravity vector: the output is
    // the turn from the sensor's frame to the Earth's, whatever the attitude.
    const MotionSample still = StillSample(reading.data(), heading);
    marg::MargFilter filter;
    bool magPresent = false;
    double h = 0, norm = 1, dip = 0;
    QVERIFY(marg::MargFilter::Measure(still.acc, still.mag, &magPresent, &h, &norm, &dip));
    filter.Start(still.acc, magPresent, h, norm, dip);
    const double zero[3] = {};
    for (int i = 0; i < 400; ++i)
        filter.Update(1.0 / kRate, zero, still.acc, still.mag);
    const marg::Quat &q = filter.Quat9D();
    const float qf[4] = {float(q.w), float(q.x), float(q.y), float(q.z)};
    const Error e = Compare(qf, still.qTrue);
    QVERIFY2(e.total < 0.1, qPrintable(QStringLiteral("%1 degrees off").arg(e.total)));
}

void TestMargPhysics::restMeasuresTheBias()
{
    // A few seconds still are enough to find a turn-on bias of half a degree a second on every
    // axis, the vertical one included.
    const StillThen path(30.0, MotionProfile::Gentle);
    SensorModel sensors(Biased(), 3);
    marg::MargFilter filter;
    Follow(filter, path, sensors, 0.0, 10.0, 10.0, Unchanged);
    QVERIFY(filter.RestDetected());
    for (int axis = 0; axis < 3; ++axis)
        QVERIFY2(std::fabs(BiasError(filter, axis)) < 0.03,
                 qPrintable(QStringLiteral("axis %1 off by %2 deg/s").arg(axis).arg(BiasError(filter, axis))));
}

void TestMargPhysics::fastTurnsDoNotPassForABias()
{
    // A gyro without bias that reads 1 % high on every axis, turned at up to 500 deg/s: the scale
    // error tilts the frame as a bias of several degrees a second would while the sensor turns. The
    // filter must not learn it as a bias: it vanishes as soon as the turning stops.
    const Motion fast(1, MotionProfile::Fast);
    auto scaled = [](double, double *g, double *, double *) {
        for (int i = 0; i < 3; ++i)
            g[i] *= 1.01;
    };
    auto learnt = [&](double perRate) {
        marg::MargFilterParams params;
        params.biasSigmaMotionPerRate = perRate;
        marg::MargFilter filter(params);
        SensorErrors errors = Biased();
        std::fill(errors.gyroBias, errors.gyroBias + 3, 0.0);
        SensorModel sensors(errors, 4);
        Follow(filter, fast, sensors, 0.0, 60.0, 60.0, scaled);
        // The x and y axes, which the inclination measures (the path stays within 50 degrees of level);
        // z follows the field, for which a steady turn's scale error is a bias indeed.
        return std::max(std::fabs(filter.Bias()[0]), std::fabs(filter.Bias()[1])) / kDeg;
    };
    const double trusted = learnt(marg::MargFilterParams().biasSigmaMotionPerRate);
    const double naive = learnt(0.0);
    QVERIFY2(trusted < 0.02, qPrintable(QStringLiteral("a bias of %1 deg/s learnt").arg(trusted)));
    QVERIFY2(naive > 3 * trusted, qPrintable(QStringLiteral("%1 vs %2").arg(naive).arg(trusted)));
}

void TestMargPhysics::aRestKeepsABentFieldOutOfTheBias()
{
    // Indoors the field's direction bends with place and attitude. Here it turns by 4 degrees
    // about the vertical over a minute of slow motion (too little in norm and dip to count as a
    // disturbance). After a rest has measured the bias, the vertical bias must stay the rest's.
    const StillThen path(10.0, MotionProfile::Slow);
    auto bent = [](double t, double *, double *, double *m) {
        if (t < 10.0)
            return;
        const double angle = 4.0 * kDeg * std::min(1.0, (t - 10.0) / 60.0);
        // The sensor's z axis stays near vertical on the slow path: turn about it.
        const double c = std::cos(angle), s = std::sin(angle);
        const double x = m[0], y = m[1];
        m[0] = c * x - s * y;
        m[1] = s * x + c * y;
    };
    auto verticalAfter = [&](double knowledge) {
        marg::MargFilterParams params;
        params.restKnowledgeTime = knowledge;
        marg::MargFilter filter(params);
        SensorModel sensors(Biased(), 5);
        Follow(filter, path, sensors, 0.0, 80.0, 80.0, bent);
        return std::fabs(BiasError(filter, 2));
    };
    const double kept = verticalAfter(marg::MargFilterParams().restKnowledgeTime);
    const double pulled = verticalAfter(0.0);
    QVERIFY2(kept < 0.03, qPrintable(QStringLiteral("vertical bias off by %1 deg/s").arg(kept)));
    QVERIFY2(pulled > 2 * kept, qPrintable(QStringLiteral("%1 vs %2").arg(pulled).arg(kept)));
}

void TestMargPhysics::ridesOutDisturbances()
{
    // Shaken with half a g: the inclination does not follow the acceleration.
    {
        const Motion shaken(0, MotionProfile::Translation);
        SensorModel sensors(Biased(), 6);
        marg::MargFilter filter;
        const Run run = Follow(filter, shaken, sensors, 0.0, 60.0, 10.0, Unchanged);
        QVERIFY2(run.inclination < 1.0, qPrintable(QStringLiteral("inclination RMS %1").arg(run.inclination)));
    }
    // Iron brought near for 20 s: the gyro carries the heading through it.
    {
        const Motion gentle(0, MotionProfile::Gentle);
        SensorErrors errors = Biased();
        errors.disturbanceStart = 30.0;
        errors.disturbanceDuration = 20.0;
        SensorModel sensors(errors, 7);
        marg::MargFilter filter;
        Follow(filter, gentle, sensors, 0.0, 30.0, 30.0, Unchanged);
        const Run during = Follow(filter, gentle, sensors, 30.0, 21.0, 0.0, Unchanged);
        QVERIFY2(during.worst < 3.0, qPrintable(QStringLiteral("%1 degrees off near the iron").arg(during.worst)));
    }
}

QTEST_APPLESS_MAIN(TestMargPhysics)
#include "tst_margphysics.moc"
