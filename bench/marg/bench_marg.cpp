// bench_marg: the MARG bench's filter against the simulator's truth.
//
// For each motion profile the simulated sensor (noise, gyro bias with drift, accelerometer and
// magnetometer scale and offset errors) is first calibrated in the field, seven still stages, then
// its raw stream at 800 Hz runs through MargInterface. Printed per profile: the RMS of the attitude
// error (total, heading, inclination) after the first 10 s, its largest value, and the samples per
// second through Process_Sample.
//
// Usage: bench_marg [--seconds N] [--rate HZ] [--seed S]
//
// With --real DIR: every trial of a folder of real recordings with optical ground truth (the format
// of BROAD as kept beside the project: trials.txt and NAME.f32) runs through MargInterface as the
// bench window runs it: one fresh object per trial, its calibration loaded (the recording is
// calibrated already, so each sample goes in as the raw reading that this calibration turns into the
// recorded value), acceleration in g and the field in units of the trial's field. The output
// quaternions go to OUT/NAME.q.f32 (--out, default a temporary folder) and score.py, found beside
// DIR (or --score PATH), prints the table.
//
//     bench_marg --real ../shared/realdata/broad-dev [--out OUT]

#include "margdrive.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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

struct Trial
{
    std::string name, file;
    long samples = 0;
    double rate = 0, fieldMicroTesla = 0;
};

std::vector<Trial> ReadTrials(const std::string &dir)
{
    std::vector<Trial> trials;
    std::ifstream list(dir + "/trials.txt");
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream in(line);
        in.imbue(std::locale::classic());
        Trial t;
        if (in >> t.name >> t.file >> t.samples >> t.rate >> t.fieldMicroTesla)
            trials.push_back(t);
    }
    return trials;
}

// Runs every trial through a fresh MargInterface and scores the output with score.py.
int RunReal(const std::string &dir, std::string out, std::string score)
{
    const std::vector<Trial> trials = ReadTrials(dir);
    if (trials.empty()) {
        std::fprintf(stderr, "bench_marg: no trials in %s/trials.txt\n", dir.c_str());
        return 2;
    }
    if (out.empty()) {
        char pattern[] = "/tmp/bench_marg-XXXXXX";
        if (!mkdtemp(pattern)) {
            std::perror("bench_marg: mkdtemp");
            return 2;
        }
        out = pattern;
    }
    mkdir(out.c_str(), 0755);
    if (score.empty())
        score = dir + "/../score.py";

    long total = 0;
    double seconds = 0;
    for (const Trial &t : trials) {
        std::ifstream in(dir + "/" + t.file, std::ios::binary);
        std::vector<float> rows(size_t(t.samples) * 13);
        in.read(reinterpret_cast<char *>(rows.data()), std::streamsize(rows.size() * sizeof(float)));
        if (!in) {
            std::fprintf(stderr, "bench_marg: %s: cannot read %ld samples\n", t.file.c_str(), t.samples);
            return 2;
        }
        MargInterface marg;
        marg.Load_CalibData();
        std::vector<float> quaternions(size_t(t.samples) * 4);
        const float dt = float(1.0 / t.rate);
        const auto begin = std::chrono::steady_clock::now();
        for (long i = 0; i < t.samples; ++i) {
            const float *r = &rows[size_t(i) * 13];
            float acc[3] = {float(r[3] / 9.81), float(r[4] / 9.81), float(r[5] / 9.81)};
            float mag[3] = {float(r[6] / t.fieldMicroTesla), float(r[7] / t.fieldMicroTesla),
                            float(r[8] / t.fieldMicroTesla)};
            marg.AccCalib().Unapply(acc[0], acc[1], acc[2]);
            marg.MagCalib().Unapply(mag[0], mag[1], mag[2]);
            float *q = &quaternions[size_t(i) * 4];
            q[0] = 1;
            q[1] = q[2] = q[3] = 0;
            marg.Process_Sample(dt, r[0], r[1], r[2], acc[0], acc[1], acc[2], mag[0], mag[1], mag[2], q[0], q[1],
                                q[2], q[3]);
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        total += t.samples;
        std::ofstream result(out + "/" + t.name + ".q.f32", std::ios::binary);
        result.write(reinterpret_cast<const char *>(quaternions.data()),
                     std::streamsize(quaternions.size() * sizeof(float)));
    }
    std::printf("bench_marg: %zu trials, %ld samples through MargInterface at %.2f million a second; output "
                "in %s\n\n",
                trials.size(), total, total / seconds / 1e6, out.c_str());
    std::fflush(stdout);
    const std::string command = "python3 '" + score + "' '" + dir + "' '" + out + "'";
    return std::system(command.c_str()) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    double seconds = 120.0;
    double rate = 800.0;
    int seed = 11;
    std::string real, out, score;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--real") == 0)
            real = argv[i + 1];
        else if (std::strcmp(argv[i], "--out") == 0)
            out = argv[i + 1];
        else if (std::strcmp(argv[i], "--score") == 0)
            score = argv[i + 1];
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rate") == 0)
            rate = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--seed") == 0)
            seed = std::atoi(argv[i + 1]);
    }
    if (!real.empty())
        return RunReal(real, out, score);
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
