// bench_marg: the MARG bench's filter against the simulator's truth.
//
// For each motion profile the simulated sensor (noise, gyro bias with drift, accelerometer and
// magnetometer scale and offset errors) is first calibrated in the field, seven still stages, then
// its raw stream at 800 Hz runs through MargInterface. Printed per profile: the RMS of the attitude
// error (total, heading, inclination) after the first 10 s, its largest value, and the samples per
// second through Process_Sample.
//
// Usage: bench_marg [--seconds N] [--rate HZ] [--seed S]

#include "margdrive.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Profile
{
    const char *name;
    MotionProfile motion;
    bool disturbance;
    bool bursts;
};

const Profile kProfiles[] = {
    {"slow rotation", MotionProfile::Slow, false, false},
    {"fast rotation", MotionProfile::Fast, false, false},
    {"translation 0.5 g", MotionProfile::Translation, false, false},
    {"rotation with breaks", MotionProfile::Breaks, false, false},
    {"gentle, 1 s moves of 0.5 g", MotionProfile::Gentle, false, true},
    {"magnetic disturbance", MotionProfile::Gentle, true, false},
};

constexpr double kWarmUp = 10.0;

} // namespace

int main(int argc, char **argv)
{
    double seconds = 120.0;
    double rate = 800.0;
    int seed = 11;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rate") == 0)
            rate = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--seed") == 0)
            seed = std::atoi(argv[i + 1]);
    }
    if (!(seconds > kWarmUp) || !(rate > 0)) {
        std::fprintf(stderr, "usage: bench_marg [--seconds N > 10] [--rate HZ] [--seed S]\n");
        return 2;
    }

    std::printf("MARG filter against the simulated truth: %.0f s per profile at %.0f Hz, typical MEMS errors,\n"
                "field calibration first; RMS after the first %.0f s (degrees)\n\n",
                seconds, rate, kWarmUp);
    std::printf("%-28s %9s %9s %11s %9s %10s %12s\n", "profile", "total", "heading", "inclination", "max",
                "peak deg/s", "samples/s");

    for (const Profile &profile : kProfiles) {
        SensorErrors errors = SensorErrors::Typical();
        // The calibration happens elsewhere, before the iron object comes near.
        SensorModel sensors(errors, uint64_t(seed++));
        if (profile.disturbance) {
            errors.disturbanceStart = 40.0;
            errors.disturbanceDuration = 8.0;
        }
        MargInterface marg;
        marg.Load_CalibData();
        double t = 0;
        const int calibration = margdrive::CalibrateInField(marg, sensors, rate, &t);
        if (calibration != 1) {
            std::printf("%-28s field calibration failed (%d)\n", profile.name, calibration);
            continue;
        }

        Motion motion(0, profile.motion);
        if (profile.bursts)
            motion.SetBursts(0.5, 5.0);
        SensorModel stream(errors, uint64_t(seed++));
        const std::vector<margdrive::Sample> samples = margdrive::Record(motion, stream, rate, seconds);

        std::vector<std::array<float, 4>> estimates(samples.size());
        const auto begin = std::chrono::steady_clock::now();
        for (size_t i = 0; i < samples.size(); ++i) {
            float q[4] = {1, 0, 0, 0};
            margdrive::Feed(marg, samples[i], q);
            std::copy(q, q + 4, estimates[i].begin());
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

        double sumTotal = 0, sumHeading = 0, sumInclination = 0, worst = 0;
        long counted = 0;
        for (size_t i = 0; i < samples.size(); ++i) {
            if (double(i + 1) / rate < kWarmUp)
                continue;
            const margdrive::Error e = margdrive::Compare(estimates[i].data(), samples[i].truth);
            sumTotal += e.total * e.total;
            sumHeading += e.heading * e.heading;
            sumInclination += e.inclination * e.inclination;
            worst = std::max(worst, e.total);
            ++counted;
        }
        std::printf("%-28s %9.3f %9.3f %11.3f %9.3f %10.0f %12.0f\n", profile.name, std::sqrt(sumTotal / counted),
                    std::sqrt(sumHeading / counted), std::sqrt(sumInclination / counted), worst,
                    motion.PeakRateDegPerS(std::min(seconds, 60.0)), double(samples.size()) / elapsed);
        std::fflush(stdout);
    }
    return 0;
}
