#include "recorder.h"

#include "nimbotypes.h"

#include <QtCore/QCoreApplication>

#include <cstdio>

namespace {

const char *const kCreatedLine = "%   File created by Gyrovane. \r\n";
const char *const kMatrixEnd = " \n    ]; \r\n";
// The node's 32-bit microsecond counter starts again from 0 after this many seconds.
constexpr double kWrapSeconds = 4294.967296;

QString Tr(const char *text) { return QCoreApplication::translate("SensorPanel", text); }

} // namespace

const Recorder::Output Recorder::kOutputs[] = {
    {"RawData", NpSettingsBit::outRaw, "rawData = [ \r\n",
     "%   NAME:  timeStamp,   temperature,     gyroX,   gyroY,   gyroZ,     accX,   accY,   accZ,     magX,  "
     " "
     "magY,   magZ ;  \r\n",
     "%   UNIT:   Second  ,       oC     ,     rad/s,   rad/s,   rad/s,       g ,     g ,     g ,     unit , "
     " "
     "unit ,  unit ; \r\n",
     QT_TRANSLATE_NOOP("SensorPanel", "    %1, %2,   %3, %4, %5,   %6, %7, %8,   %9, %10, %11 ; \r\n"), 11},
    {"RPY", NpSettingsBit::outRPY, "rpyData = [ \r\n",
     "%   NAME:  timeStamp,    Roll,    Pitch,   Yaw;  \r\n",
     "%   UNIT:   Second  ,    degree,  degree,  degree; \r\n",
     QT_TRANSLATE_NOOP("SensorPanel", "    %1,   %2, %3, %4; \r\n"), 4},
    {"Q_s1_e", NpSettingsBit::outQ_s1_e, "quaternionData = [ \r\n",
     "%   NAME:  timeStamp,    q1,   q2,   q3,   q4; \r\n",
     "%   UNIT:   Second  ,    Quaternion(no unit) ; \r\n",
     QT_TRANSLATE_NOOP("SensorPanel", "    %1,   %2, %3, %4, %5; \r\n"), 5},
    {"Gravity", NpSettingsBit::outGravity, "gravityData = [ \r\n",
     "%   NAME:  timeStamp,  GravityX, GravityY, GravityZ; \r\n",
     "%   UNIT:   Second  ,         g,        g,        g; \r\n",
     QT_TRANSLATE_NOOP("SensorPanel", "    %1,   %2, %3, %4; \r\n"), 4},
    {"Euler_s1_e", NpSettingsBit::outEuler_s1_e, "eulerData = [ \r\n",
     "%   NAME:  timeStamp,    Psi,     Theta,   Phi;  \r\n",
     "%   UNIT:   Second  ,    degree,  degree,  degree; \r\n",
     QT_TRANSLATE_NOOP("SensorPanel", "    %1,   %2, %3, %4; \r\n"), 4},
};
const int Recorder::kOutputCount = int(sizeof(kOutputs) / sizeof(kOutputs[0]));

Recorder::Recorder() = default;

Recorder::~Recorder() = default;

QString Recorder::BasePath(const QString &chosen)
{
    return chosen.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive) ? chosen.left(chosen.size() - 4)
                                                                       : chosen;
}

QString Recorder::FileName(const QString &basePath, const QString &key)
{
    return basePath + QLatin1Char('_') + key + QLatin1String(".txt");
}

const Recorder::Output *Recorder::Find(const QString &key)
{
    for (const Output &output : kOutputs)
        if (key == QLatin1String(output.key))
            return &output;
    return nullptr;
}

QString Recorder::Row(const Output &output, const double *numbers)
{
    // Each number right-aligned in 15 characters; printf does it without a pass over the pattern per
    // number, which matters at several hundred rows a second.
    QString filled[11];
    const int sixDecimals = output.values == 11 ? 2 : 1;
    char text[64];
    for (int i = 0; i < output.values; ++i) {
        std::snprintf(text, sizeof(text), i < sixDecimals ? "%15.6f" : "%15.9f", numbers[i]);
        filled[i] = QString::fromLatin1(text);
    }
    const QString pattern = Tr(output.rowPattern);
    switch (output.values) {
    case 4: return pattern.arg(filled[0], filled[1], filled[2], filled[3]);
    case 5: return pattern.arg(filled[0], filled[1], filled[2], filled[3], filled[4]);
    default:
        // %10 and %11 are the lowest markers left once %1 .. %9 are filled.
        return pattern
            .arg(filled[0], filled[1], filled[2], filled[3], filled[4], filled[5], filled[6], filled[7],
                 filled[8])
            .arg(filled[9], filled[10]);
    }
}

int Recorder::Begin(quint32 settingsWord, bool format_i)
{
    format = format_i;
    total = 0.0;
    // Files of an earlier recording that were not saved are closed as they stand.
    buffers.clear();
    for (const Output &output : kOutputs) {
        if (!NpSettingsBit::Get(settingsWord, output.settingsBit))
            continue;
        Stream &stream = buffers[QString::fromLatin1(output.key)];
        if (format)
            stream.buffer = QString::fromLatin1(output.matrixLine) + QLatin1String(kCreatedLine) +
                            QString::fromLatin1(output.nameLine) + QString::fromLatin1(output.unitLine);
    }
    return int(buffers.size());
}

bool Recorder::OpenFiles(const QString &basePath, QString *error)
{
    for (auto &entry : buffers)
        entry.second.file.reset();
    for (auto &entry : buffers) {
        auto file = std::make_unique<QFile>(FileName(basePath, entry.first));
        // Unbuffered: a block the disk refuses stays here, whole, instead of half in a file buffer.
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            if (error)
                *error = file->fileName() + QLatin1String(": ") + file->errorString();
            return false;
        }
        entry.second.file = std::move(file);
    }
    return true;
}

bool Recorder::WriteOut(Stream &stream, const QString &text, QString *error)
{
    stream.pending += text.toUtf8();
    stream.pendingChars += text.size();
    QFile &file = *stream.file;
    while (!stream.pending.isEmpty()) {
        const qint64 written = file.write(stream.pending);
        if (written <= 0) {
            if (error)
                *error = file.fileName() + QLatin1String(": ") + file.errorString();
            file.unsetError();
            return false;
        }
        stream.pending.remove(0, int(written));
    }
    total += double(stream.pendingChars) / 1048576.0;
    stream.pendingChars = 0;
    return true;
}

Recorder::Block Recorder::Append(const QString &key, const QString &line, QString *error)
{
    Stream &stream = buffers[key];
    stream.buffer += line;
    if (stream.buffer.size() <= kBlockChars || !stream.file || !stream.file->isOpen())
        return Block::Kept;
    const QString block = stream.buffer;
    stream.buffer.clear();
    return WriteOut(stream, block, error) ? Block::Written : Block::Failed;
}

double Recorder::Unwrapped(const QString &key, double seconds)
{
    Stream &stream = buffers[key];
    // A step back by more than half the range is the counter wrapping, not a late record.
    if (stream.started && seconds < stream.lastSeconds - kWrapSeconds / 2)
        stream.offset += kWrapSeconds;
    stream.started = true;
    stream.lastSeconds = seconds;
    return seconds + stream.offset;
}

bool Recorder::SaveAndCloseAll(int *notOpen, QString *error)
{
    int missing = 0;
    bool written = true;
    for (auto &entry : buffers) {
        Stream &stream = entry.second;
        if (!stream.file || !stream.file->isOpen()) {
            ++missing;
            continue;
        }
        const QString rest = format ? stream.buffer + QLatin1String(kMatrixEnd) : stream.buffer;
        if (!WriteOut(stream, rest, written ? error : nullptr))
            written = false;
        stream.buffer.clear();
        stream.file->close();
        stream.file.reset();
    }
    buffers.clear();
    if (notOpen)
        *notOpen = missing;
    return missing == 0 && written;
}
