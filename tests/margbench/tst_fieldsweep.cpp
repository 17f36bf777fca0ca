// The magnetometer sweep's coverage and quality figures.

#include "fieldsweep.h"

#include <QtTest/QtTest>

#include <cmath>
#include <random>

namespace {

// Feeds `count` field directions drawn evenly over the sphere where keep(direction) holds, as a
// sensor with the given soft iron (matrix), hard iron (offset) and magnitude error `bulge` (the
// field reads 1 + bulge * x^3 in direction x, which no ellipsoid can follow) would read them.
template <typename Keep>
void Sweep(marg::FieldSweep &sweep, int count, const double soft[3][3], const double offset[3], double bulge,
           Keep keep, unsigned seed = 1)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> normal;
    const double acc[3] = {0, 0, 1};
    for (int done = 0; done < count;) {
        double d[3] = {normal(random), normal(random), normal(random)};
        const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        for (double &c : d)
            c /= n;
        if (!keep(d))
            continue;
        const double magnitude = 1.0 + bulge * d[0] * d[0] * d[0];
        double m[3];
        for (int i = 0; i < 3; ++i)
            m[i] = offset[i] + magnitude * (soft[i][0] * d[0] + soft[i][1] * d[1] + soft[i][2] * d[2]) +
                   0.002 * normal(random);
        sweep.Add(m, acc);
        ++done;
    }
}

const double kSoft[3][3] = {{1.2, 0.1, -0.05}, {0.1, 0.9, 0.08}, {-0.05, 0.08, 1.05}};
const double kOffset[3] = {0.4, -0.3, 0.2};
const double kNone[3] = {0, 0, 0};

} // namespace

class TestFieldSweep : public QObject
{
    Q_OBJECT

private slots:
    void regionsHaveEqualArea();
    void aWholeSweepPassesAndFindsTheEllipsoid();
    void halfASphereNamesWhatIsMissing();
    void aFieldThatIsNoEllipsoidFails();
};

void TestFieldSweep::regionsHaveEqualArea()
{
    std::mt19937 random(3);
    std::normal_distribution<double> normal;
    std::array<int, marg::kCoverageRegions> count{};
    const int n = 400000;
    for (int i = 0; i < n; ++i) {
        const double d[3] = {normal(random), normal(random), normal(random)};
        ++count[size_t(marg::CoverageRegion(d))];
    }
    for (int region = 0; region < marg::kCoverageRegions; ++region) {
        QVERIFY2(std::abs(count[size_t(region)] - n / 100) < n / 100 / 10,
                 qPrintable(QStringLiteral("region %1: %2").arg(region).arg(count[size_t(region)])));
        double c[3];
        marg::RegionCenter(region, c);
        QCOMPARE(marg::CoverageRegion(c), region);
    }
}

void TestFieldSweep::aWholeSweepPassesAndFindsTheEllipsoid()
{
    marg::FieldSweep sweep;
    sweep.Start(kNone); // a poor guess: the samples find the centre
    Sweep(sweep, 3000, kSoft, kOffset, 0.0, [](const double *) { return true; });
    const marg::SweepQuality q = sweep.Evaluate();
    QVERIFY2(q.Passes(), qPrintable(QStringLiteral("gaps %1 variance %2 wobble %3 fit %4")
                                        .arg(q.gaps).arg(q.variance).arg(q.wobble).arg(q.fitError)));
    QCOMPARE(q.gaps, 0.0);
    QCOMPARE(sweep.Missing().axis, -1);
    // matrix * (raw - centre) is the true field: the matrix undoes the soft iron.
    double matrix[3][3], center[3];
    QVERIFY(sweep.Result(matrix, center));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(std::fabs(center[i] - kOffset[i]) < 0.005);
        for (int j = 0; j < 3; ++j) {
            double product = 0;
            for (int k = 0; k < 3; ++k)
                product += matrix[i][k] * kSoft[k][j];
            QVERIFY2(std::fabs(product - (i == j ? 1.0 : 0.0)) < 0.005,
                     qPrintable(QStringLiteral("(%1, %2): %3").arg(i).arg(j).arg(product)));
        }
    }
}

void TestFieldSweep::halfASphereNamesWhatIsMissing()
{
    // The field never seen from below: half the regions are gaps, and the direction named is -z.
    const double identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    marg::FieldSweep sweep;
    sweep.Start(kNone);
    Sweep(sweep, 2000, identity, kNone, 0.0, [](const double *d) { return d[2] > 0.0; });
    const marg::SweepQuality q = sweep.Evaluate();
    QVERIFY(!q.Passes());
    QVERIFY2(std::fabs(q.gaps - 50.0) < 3.0, qPrintable(QString::number(q.gaps)));
    QCOMPARE(sweep.Missing().axis, 2);
    QCOMPARE(sweep.Missing().sign, -1);
}

void TestFieldSweep::aFieldThatIsNoEllipsoidFails()
{
    // Iron near the sensor that the field saturates unevenly: it reads up to 40 % stronger along
    // +x and weaker along -x, in a way no ellipsoid follows. The figures say so.
    marg::FieldSweep sweep;
    sweep.Start(kNone);
    Sweep(sweep, 3000, kSoft, kOffset, 0.4, [](const double *) { return true; }, 5);
    const marg::SweepQuality q = sweep.Evaluate();
    QVERIFY(q.GapsPass());
    QVERIFY2(!q.Passes(), qPrintable(QStringLiteral("variance %1 wobble %2 fit %3")
                                         .arg(q.variance).arg(q.wobble).arg(q.fitError)));
}

QTEST_APPLESS_MAIN(TestFieldSweep)
#include "tst_fieldsweep.moc"
