#include "replay.h"

#include "nimbo_types.h"
#include "options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

// The outputs a recording may hold, in the order a node sends them within one instant.
const struct
{
    const char *key;
    uint8_t cmd;
    uint32_t bit;
    int values; // after the time stamp
} kFiles[] = {
    {"RawData", NP_CMD_Raw_GYRO_ACC_MAG_, NP_SET_OUT_RAW_, 10},
    {"Q_s1_e", NP_CMD_Q_S1_E_, NP_SET_OUT_Q_S1_E_, 4},
    {"Euler_s1_e", NP_CMD_EULER_S1_E_, NP_SET_OUT_EULER_S1_E_, 3},
    {"RPY", NP_CMD_RPY_, NP_SET_OUT_RPY_, 3},
    {"Gravity", NP_CMD_GRAVITY_, NP_SET_OUT_GRAVITY_, 3},
};

bool Exists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string Trimmed(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool ReadAll(const std::string &path, std::string *text, std::string *error)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
        text->append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        *error = "cannot read " + path;
        return false;
    }
    return true;
}

// The numbers of one row, "t, a, b ;" or "t,host,a,b"; false when it is no such row.
bool ParseRow(const std::string &row, std::vector<double> *numbers)
{
    numbers->clear();
    std::string body = row;
    if (!body.empty() && body.back() == ';')
        body.pop_back();
    size_t at = 0;
    while (at <= body.size()) {
        size_t comma = body.find(',', at);
        if (comma == std::string::npos)
            comma = body.size();
        const std::string field = Trimmed(body.substr(at, comma - at));
        if (field.empty())
            return false;
        double value = 0;
        if (!ParseNumber(field, &value))
            return false;
        numbers->push_back(value);
        at = comma + 1;
    }
    return true;
}

bool LoadFile(const std::string &path, bool csv, uint8_t cmd, int values, std::vector<ReplayRecord> *records,
              std::string *error)
{
    std::string text;
    if (!ReadAll(path, &text, error))
        return false;
    const int expected = values + (csv ? 2 : 1);
    bool headerSeen = !csv;
    std::vector<double> numbers;
    size_t at = 0;
    for (int lineNumber = 1; at < text.size(); ++lineNumber) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trimmed(text.substr(at, end - at));
        at = end + 1;
        // Blank lines, comments, and a matrix's first and last lines.
        if (line.empty() || line[0] == '%' || line[0] == '#' || line[0] == ']' ||
            (!csv && line.find('[') != std::string::npos))
            continue;
        if (!headerSeen) {
            if (line.rfind("time_s,", 0) != 0) {
                *error = path + " line " + std::to_string(lineNumber) +
                         ": not a recording (a CSV recording has a header row starting with time_s)";
                return false;
            }
            headerSeen = true;
            continue;
        }
        if (!ParseRow(line, &numbers) || int(numbers.size()) != expected || !std::isfinite(numbers[0])) {
            *error = path + " line " + std::to_string(lineNumber) + ": not a row of this recording (" +
                     std::to_string(expected) + " numbers expected): " + line.substr(0, 60);
            return false;
        }
        ReplayRecord record;
        record.t = numbers[0];
        record.cmd = cmd;
        const int first = csv ? 2 : 1; // a CSV row has the host's time second
        for (int i = 0; i < values; ++i)
            record.v[i] = float(numbers[size_t(first + i)]);
        records->push_back(record);
    }
    return true;
}

} // namespace

std::string RecordingBase(const std::string &path)
{
    for (const auto &file : kFiles) {
        for (const char *extension : {".txt", ".csv"}) {
            const std::string suffix = std::string("_") + file.key + extension;
            if (path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
                return path.substr(0, path.size() - suffix.size());
        }
    }
    const std::string markers = "_markers.csv";
    if (path.size() > markers.size() && path.compare(path.size() - markers.size(), markers.size(), markers) == 0)
        return path.substr(0, path.size() - markers.size());
    return path;
}

bool LoadRecording(const std::string &base, Recording *out, std::string *error)
{
    Recording recording;
    const size_t slash = base.find_last_of('/');
    recording.name = slash == std::string::npos ? base : base.substr(slash + 1);
    bool any = false;
    for (const auto &file : kFiles) {
        std::vector<ReplayRecord> records;
        for (const bool csv : {false, true}) {
            const std::string path = base + "_" + file.key + (csv ? ".csv" : ".txt");
            if (!Exists(path))
                continue;
            any = true;
            if (!LoadFile(path, csv, file.cmd, file.values, &records, error))
                return false;
            if (!records.empty())
                recording.outputs |= file.bit;
            break; // a .txt and a .csv of one output: the .txt
        }
        recording.records.insert(recording.records.end(), records.begin(), records.end());
    }
    if (!any) {
        *error = "no recording at " + base + ": none of " + base + "_RawData.txt, _RPY.txt, _Q_s1_e.txt, " +
                 "_Euler_s1_e.txt, _Gravity.txt (or .csv) exists";
        return false;
    }
    if (recording.records.empty()) {
        *error = "the recording at " + base + " holds no rows";
        return false;
    }
    // Merged by time; records of one instant keep the order a node sends them in.
    std::stable_sort(recording.records.begin(), recording.records.end(),
                     [](const ReplayRecord &a, const ReplayRecord &b) { return a.t < b.t; });
    *out = std::move(recording);
    return true;
}
