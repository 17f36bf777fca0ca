#include "options.h"

#include "replay.h"

#include <cctype>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kMaxNodes = 64;

// Decimal, leading zeros and all ("040" is forty); base 16 only where asked for.
bool ParseLong(const std::string &text, long min, long max, long *out, int base = 10)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    *out = v;
    return true;
}

bool ParseDouble(const std::string &text, double min, double max, double *out)
{
    double v = 0;
    if (!ParseNumber(text, &v) || !std::isfinite(v) || v < min || v > max)
        return false;
    *out = v;
    return true;
}

std::vector<std::string> Split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (true) {
        const std::string::size_type at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

bool ParseFirmware(const std::string &text, uint8_t fw[4])
{
    const std::vector<std::string> parts = Split(text, '.');
    if (parts.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        long v = 0;
        if (!ParseLong(parts[size_t(i)], 0, 255, &v))
            return false;
        fw[i] = uint8_t(v);
    }
    return true;
}

bool ParseUuid(const std::string &text, uint8_t uuid[20])
{
    if (text.size() != 40)
        return false;
    for (int i = 0; i < 20; ++i) {
        long v = 0;
        if (!ParseLong(text.substr(size_t(2 * i), 2), 0, 255, &v, 16))
            return false;
        uuid[i] = uint8_t(v);
    }
    return true;
}

bool ParseNode(const std::string &text, NodeConfig *config, std::string *error)
{
    bool idGiven = false;
    for (const std::string &item : Split(text, ',')) {
        const std::string::size_type eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        long v = 0;
        if (key == "id" && ParseLong(value, 32, 2047, &v)) {
            config->id = uint16_t(v);
            idGiven = true;
        } else if (key == "name" && eq != std::string::npos && value.size() <= 12) {
            config->name = value;
        } else if (key == "fw" && ParseFirmware(value, config->fw)) {
        } else if (key == "uuid" && ParseUuid(value, config->uuid)) {
            config->uuidGiven = true;
        } else if (key == "mute" && ParseLong(value, 1, 127, &v)) {
            config->mute.insert(int(v));
        } else {
            *error = "--node: bad item '" + item +
                     "' (id=32..2047, name=at most 12 bytes, fw=a.b.c.d, uuid=40 hex digits, mute=CMD)";
            return false;
        }
    }
    if (!idGiven) {
        *error = "--node: id= is required";
        return false;
    }
    return true;
}

// A comma-separated list of exactly `count` numbers within [min, max].
bool ParseList(const std::string &text, int count, double min, double max, double *out)
{
    const std::vector<std::string> parts = Split(text, ',');
    if (int(parts.size()) != count)
        return false;
    for (int i = 0; i < count; ++i)
        if (!ParseDouble(parts[size_t(i)], min, max, &out[i]))
            return false;
    return true;
}

constexpr double kDeg = 3.14159265358979323846 / 180.0;

// Scales and offsets as SX,SY,SZ,OX,OY,OZ.
bool ParseScaleOffset(const std::string &text, double scale[3], double offset[3])
{
    double v[6];
    if (!ParseList(text, 6, -100.0, 100.0, v))
        return false;
    for (int i = 0; i < 3; ++i) {
        if (v[i] <= 0.0)
            return false;
        scale[i] = v[i];
        offset[i] = v[i + 3];
    }
    return true;
}

// A preset's name or nine numbers, row by row; a matrix that flattens the field to a plane or
// turns it inside out is no soft iron.
bool ParseSoftIron(const std::string &text, double out[3][3])
{
    if (SensorErrors::SoftIronPreset(text, out))
        return true;
    double v[9];
    if (!ParseList(text, 9, -10.0, 10.0, v))
        return false;
    const double det = v[0] * (v[4] * v[8] - v[5] * v[7]) - v[1] * (v[3] * v[8] - v[5] * v[6]) +
                       v[2] * (v[3] * v[7] - v[4] * v[6]);
    if (!(det > 1e-3))
        return false;
    for (int i = 0; i < 9; ++i)
        out[i / 3][i % 3] = v[i];
    return true;
}

} // namespace

std::string DefaultPortDir()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return std::string(runtime) + "/kinetra-ports";
    return "/tmp/kinetra-ports-" + std::to_string(unsigned(getuid()));
}

bool ParseNumber(const std::string &text, double *out)
{
    // from_chars, unlike strtod, never reads a decimal comma of the environment's locale.
    const char *first = text.data();
    const char *last = first + text.size();
    if (first != last && *first == '+')
        ++first;
    const std::from_chars_result result = std::from_chars(first, last, *out);
    return first != last && result.ec == std::errc() && result.ptr == last;
}

std::string FixedText(double value, int decimals)
{
    char text[64];
    const std::to_chars_result result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return result.ec == std::errc() ? std::string(text, result.ptr) : std::string("nan");
}

std::string UsageText()
{
    return "Usage: kinetra-nodesim [options]\n"
           "Simulates a bus of Kinetra nodes on a pseudo-terminal. The first line of output is the\n"
           "path of the port (a link ttyKSIM<n> in the port directory).\n"
           "\n"
           "  --port-dir DIR        where the port link is published (default "
           "$XDG_RUNTIME_DIR/kinetra-ports,\n"
           "                        else /tmp/kinetra-ports-<uid>)\n"
           "  --nodes N             number of nodes (default 1, or the number of --node options); nodes\n"
           "                        not given by --node get ids from 32 up\n"
           "  --node id=ID,name=NAME,fw=A.B.C.D[,uuid=HEX40][,mute=CMD]...\n"
           "                        one node (repeatable); fw are the four firmware version bytes;\n"
           "                        mute: record types this node never sends\n"
           "  --odr HZ              starting output data rate of every node, 1..800 (default 100); the\n"
           "                        rate of firmware whose settings carry no rate\n"
           "  --log FILE            one JSON line per record received and sent\n"
           "  --drop P              drop each sent frame with probability P (0..1)\n"
           "  --corrupt P           flip one bit of each sent frame with probability P (0..1)\n"
           "  --noise N             N random bytes (never the head byte 0xAA) after each frame\n"
           "  --harsh               --noise may hold head bytes (0xAA, and 0xAA 0x55), --corrupt\n"
           "                        may hit the length byte\n"
           "  --mute CMD[,CMD]      never send records of these types\n"
           "  --refuse-nso INDEX[,INDEX]\n"
           "                        refuse every write of these service objects (0x2024 or 8228)\n"
           "  --latency-ms MS       each node handles a received record MS milliseconds late\n"
           "  --exit-after S        exit after S seconds\n"
           "  --wrap-in S           node clocks start S seconds before their 32-bit microsecond\n"
           "                        time stamp wraps (it does every 71.6 minutes)\n"
           "  --seed N              seed of the fault injection (default: random)\n"
           "  --exit-with-parent    exit (cleanly) when the process that started the simulator ends\n"
           "\n"
           "Motion and sensor errors (later options win over earlier ones):\n"
           "  --motion NAME         the path the nodes follow: gentle (default), slow, fast (up to\n"
           "                        500 deg/s), translation (shaken with up to 0.5 g), breaks (turns\n"
           "                        with still pauses), calibration (the MARG bench's field\n"
           "                        calibration: seven still stages of 12 s, 3 s apart, then a\n"
           "                        60 s sweep through every direction; run it with --odr 800)\n"
           "  --imu-errors typical  noise, bias and scale errors of a typical MEMS part; 'none' for\n"
           "                        perfect sensors (the default)\n"
           "  --gyro-noise D        gyro noise density, deg/s per sqrt(Hz)\n"
           "  --acc-noise D         accelerometer noise density, ug per sqrt(Hz)\n"
           "  --mag-noise D         magnetometer noise density, earth fields per sqrt(Hz)\n"
           "  --gyro-bias X,Y,Z     constant gyro bias, deg/s\n"
           "  --gyro-bias-drift D   random walk of the gyro bias, deg/s per sqrt(s)\n"
           "  --acc-errors SX,SY,SZ,OX,OY,OZ\n"
           "                        accelerometer scale and offset: reading = S * (true + O)\n"
           "  --mag-errors SX,SY,SZ,OX,OY,OZ\n"
           "                        magnetometer scale and offset, the same way\n"
           "  --mag-soft-iron M     soft iron near the magnetometer: 'mild', 'strong' or nine numbers\n"
           "                        row by row (reading = scale * (M * true + offset))\n"
           "  --accel-bursts G,EVERY\n"
           "                        every EVERY seconds a one-second move with up to G g\n"
           "  --mag-disturbance START,DURATION\n"
           "                        an iron object near the sensor from START for DURATION seconds\n"
           "  --log-truth           log the true attitude (\"truth\": w, x, y, z) with each raw record\n"
           "\n"
           "Replay of a recording:\n"
           "  --replay BASE         stream a recording of the program's recorder as one node (id 32\n"
           "                        unless --node says otherwise, named after the files): BASE_RawData,\n"
           "                        BASE_RPY, BASE_Q_s1_e, BASE_Euler_s1_e, BASE_Gravity, .txt or .csv,\n"
           "                        whichever exist, in time order at the recorded pace\n"
           "  --speed X             X times the recorded pace; 0: as fast as the line takes\n"
           "  --loop                start again at the end\n"
           "  --control             read 'play', 'pause' and 'speed X' lines from standard input and\n"
           "                        write 'position SECONDS TOTAL' lines (and 'ended') to standard output\n"
           "\n"
           "  --help                this text\n";
}

bool ParseOptions(int argc, char **argv, Options *options, std::string *error)
{
    Options o;
    long nodeCount = -1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        const std::string::size_type eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }
        if (arg == "--exit-with-parent") {
            o.exitWithParent = true;
            continue;
        }
        if (arg == "--log-truth") {
            o.logTruth = true;
            continue;
        }
        if (arg == "--harsh") {
            o.harsh = true;
            continue;
        }
        if (arg == "--loop") {
            o.loop = true;
            continue;
        }
        if (arg == "--control") {
            o.control = true;
            continue;
        }
        static const char *const kWithValue[] = {"--port-dir", "--nodes",      "--node",       "--odr",
                                                 "--log",      "--drop",       "--corrupt",    "--noise",
                                                 "--mute",     "--refuse-nso", "--latency-ms", "--exit-after", "--wrap-in", "--seed",
                                                 "--replay", "--speed",
                                                 "--motion", "--imu-errors", "--gyro-noise", "--acc-noise",
                                                 "--mag-noise", "--gyro-bias", "--gyro-bias-drift",
                                                 "--acc-errors", "--mag-errors", "--mag-soft-iron", "--accel-bursts",
                                                 "--mag-disturbance"};
        bool known = false;
        for (const char *name : kWithValue)
            known = known || arg == name;
        if (!known) {
            *error = "unknown option '" + arg + "'";
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
        }

        long v = 0;
        bool ok = true;
        if (arg == "--port-dir") {
            ok = !value.empty();
            o.portDir = value;
        } else if (arg == "--nodes") {
            ok = ParseLong(value, 1, kMaxNodes, &nodeCount);
        } else if (arg == "--node") {
            NodeConfig config;
            if (!ParseNode(value, &config, error))
                return false;
            o.nodes.push_back(config);
        } else if (arg == "--odr") {
            ok = ParseLong(value, 1, 800, &v);
            o.odr = int(v);
        } else if (arg == "--log") {
            ok = !value.empty();
            o.logPath = value;
        } else if (arg == "--drop") {
            ok = ParseDouble(value, 0.0, 1.0, &o.drop);
        } else if (arg == "--corrupt") {
            ok = ParseDouble(value, 0.0, 1.0, &o.corrupt);
        } else if (arg == "--noise") {
            ok = ParseLong(value, 0, 256, &v);
            o.noise = int(v);
        } else if (arg == "--refuse-nso") {
            for (const std::string &item : Split(value, ',')) {
                const bool hex = item.size() > 2 && item[0] == '0' && (item[1] == 'x' || item[1] == 'X');
                ok = ok && ParseLong(hex ? item.substr(2) : item, 0, 0xFFFF, &v, hex ? 16 : 10);
                o.refuseNso.insert(int(v));
            }
        } else if (arg == "--mute") {
            for (const std::string &item : Split(value, ',')) {
                ok = ok && ParseLong(item, 1, 127, &v);
                o.mute.insert(int(v));
            }
        } else if (arg == "--latency-ms") {
            ok = ParseLong(value, 0, 600000, &v);
            o.latencyMs = int(v);
        } else if (arg == "--exit-after") {
            ok = ParseDouble(value, 0.0, 1e7, &o.exitAfter) && o.exitAfter > 0.0;
        } else if (arg == "--wrap-in") {
            ok = ParseDouble(value, 0.0, 4294.0, &o.wrapIn) && o.wrapIn > 0.0;
        } else if (arg == "--seed") {
            char *end = nullptr;
            errno = 0;
            o.seed = std::strtoull(value.c_str(), &end, 0);
            ok = !value.empty() && errno == 0 && *end == '\0';
            o.seedGiven = true;
        } else if (arg == "--motion") {
            ok = ParseMotionProfile(value, &o.motion);
        } else if (arg == "--imu-errors") {
            ok = value == "typical" || value == "none";
            o.sensorErrors = value == "typical" ? SensorErrors::Typical() : SensorErrors();
        } else if (arg == "--gyro-noise") {
            ok = ParseDouble(value, 0.0, 10.0, &o.sensorErrors.gyroNoise);
            o.sensorErrors.gyroNoise *= kDeg;
        } else if (arg == "--acc-noise") {
            ok = ParseDouble(value, 0.0, 1e5, &o.sensorErrors.accNoise);
            o.sensorErrors.accNoise *= 1e-6;
        } else if (arg == "--mag-noise") {
            ok = ParseDouble(value, 0.0, 1.0, &o.sensorErrors.magNoise);
        } else if (arg == "--gyro-bias") {
            ok = ParseList(value, 3, -100.0, 100.0, o.sensorErrors.gyroBias);
            for (double &b : o.sensorErrors.gyroBias)
                b *= kDeg;
        } else if (arg == "--gyro-bias-drift") {
            ok = ParseDouble(value, 0.0, 10.0, &o.sensorErrors.gyroBiasDrift);
            o.sensorErrors.gyroBiasDrift *= kDeg;
        } else if (arg == "--acc-errors") {
            ok = ParseScaleOffset(value, o.sensorErrors.accScale, o.sensorErrors.accOffset);
        } else if (arg == "--mag-errors") {
            ok = ParseScaleOffset(value, o.sensorErrors.magScale, o.sensorErrors.magOffset);
        } else if (arg == "--replay") {
            o.replayBase = value;
            ok = !value.empty();
        } else if (arg == "--speed") {
            ok = ParseDouble(value, 0.0, 1000.0, &o.speed);
        } else if (arg == "--mag-soft-iron") {
            ok = ParseSoftIron(value, o.sensorErrors.magSoftIron);
        } else if (arg == "--accel-bursts") {
            double burst[2];
            ok = ParseList(value, 2, 0.0, 1e4, burst) && burst[1] >= 1.0;
            o.burstG = burst[0];
            o.burstEvery = burst[1];
        } else if (arg == "--mag-disturbance") {
            double window[2];
            ok = ParseList(value, 2, 0.0, 1e7, window) && window[1] > 0.0;
            o.sensorErrors.disturbanceStart = window[0];
            o.sensorErrors.disturbanceDuration = window[1];
        }
        if (!ok) {
            *error = "bad value '" + value + "' for " + arg;
            return false;
        }
    }
    if (o.help) {
        *options = o;
        return true;
    }

    if (!o.replayBase.empty() && (nodeCount > 1 || o.nodes.size() > 1)) {
        *error = "--replay streams one node";
        return false;
    }
    if (nodeCount < 0)
        nodeCount = o.nodes.empty() ? 1 : long(o.nodes.size());
    if (long(o.nodes.size()) > nodeCount) {
        *error = "--nodes " + std::to_string(nodeCount) + " is less than the number of --node options";
        return false;
    }
    std::set<int> used;
    for (const NodeConfig &config : o.nodes) {
        if (!used.insert(config.id).second) {
            *error = "node id " + std::to_string(config.id) + " given twice";
            return false;
        }
    }
    int nextId = 32;
    while (long(o.nodes.size()) < nodeCount) {
        while (used.count(nextId))
            ++nextId;
        NodeConfig config;
        config.id = uint16_t(nextId);
        used.insert(nextId);
        o.nodes.push_back(config);
    }
    for (NodeConfig &config : o.nodes) {
        if (!config.name.empty())
            continue;
        if (o.replayBase.empty()) {
            config.name = "Sim-" + std::to_string(config.id);
        } else {
            // The recording's file name, as much of it as a node name holds.
            const std::string base = RecordingBase(o.replayBase);
            const size_t slash = base.find_last_of('/');
            config.name = (slash == std::string::npos ? base : base.substr(slash + 1)).substr(0, 11);
        }
    }
    if (o.portDir.empty())
        o.portDir = DefaultPortDir();
    *options = o;
    return true;
}
