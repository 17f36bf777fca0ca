#include "recorder.h"

#include "nimbotypes.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryFile>

#include <charconv>
#include <cstdio>
#include <cerrno>
#include <cmath>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const char *const kCreatedLine = "%   File created by Gyrovane. \r\n";
const char *const kMatrixEnd = " \n    ]; \r\n";
// The node's 32-bit microsecond counter starts again from 0 after this many seconds.
constexpr double kWrapSeconds = 4294.967296;
// A step back counts as the counter's wrap only from this close to its top to this close to zero;
// any other step back is the node starting again.
constexpr double kWrapMarginSeconds = 60.0;

// The number right-aligned in width characters with a "." as the decimal mark, whatever the locale
// (printf follows LC_NUMERIC, which the application sets from the user's environment).
QString Fixed(double value, int width, int decimals)
{
    char text[64];
    char *end = text;
    if (std::isfinite(value)) {
        const std::to_chars_result r =
            std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed, decimals);
        end = r.ec == std::errc() ? r.ptr : text;
    }
    if (end == text) {
        const char *word = std::isnan(value) ? "nan" : value < 0 ? "-inf" : "inf";
        end = text + std::strlen(word);
        std::memcpy(text, word, size_t(end - text));
    }
    const int length = int(end - text);
    QString out(qMax(width - length, 0), QLatin1Char(' '));
    out += QLatin1String(text, length);
    return out;
}

QString Tr(const char *text) { return QCoreApplication::translate("SensorPanel", text); }

// A float in its shortest form that reads back as the same float ("nan", "inf" when not finite).
void AppendShortest(QString &out, float value)
{
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof(text), value);
    out += QLatin1String(text, r.ec == std::errc() ? int(r.ptr - text) : 0);
}

// A field of a CSV row: quoted when it holds a comma, a quote or a line break.
QString CsvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

const Recorder::Output Recorder::kOutputs[] = {
    {"RawData", NpSettingsBit::outRaw, "rawData = [ \r\n",
     "%   NAME:  timeStamp,   temperature,     gyroX,   gyroY,   gyroZ,     accX,   accY,   accZ,     magX,  "
     " "
     "magY,   magZ ;  \r\n",
     "%   UNIT:   Second  ,       oC     ,     rad/s,   rad/s,   rad/s,       g ,     g ,     g ,     unit , "
     " "
     "unit ,  unit ; \r\n",
     QT_TRANSLATE_NOOP("SensorPanel", "    %1, %2,   %3, %4, %5,   %6, %7, %8,   %9, %10, %11 ; \r\n"), 11,
     "time_s,host_time_s,temperature_c,gyro_x_rad_s,gyro_y_rad_s,gyro_z_rad_s,acc_x_g,acc_y_g,acc_z_g,"
     "mag_x_earth_field,mag_y_earth_field,mag_z_earth_field"},
    {"RPY", NpSettingsBit::outRPY, "rpyData = [ \r\n",
     "%   NAME:  timeStamp,    Roll,    Pitch,   Yaw;  \r\n",
     "%   UNIT:   Second  ,    degree,  degree,  degree; \r\n",
     QT_TRANSLATE_NOOP("SensorPanel", "    %1,   %2, %3, %4; \r\n"), 4,
     "time_s,host_time_s,roll_deg,pitch_deg,yaw_deg"},
    {"Q_s1_e", NpSettingsBit::outQ_s1_e, "quaternionData = [ \r\n",
     "%   NAME:  timeStamp,    q1,   q2,   q3,   q4; \r\n",
     "%   UNIT:   Second  ,    Quaternion(no unit) ; \r\n",
     QT_TRANSLATE_NOOP("SensorPanel", "    %1,   %2, %3, %4, %5; \r\n"), 5,
     "time_s,host_time_s,q1,q2,q3,q4"},
    {"Gravity", NpSettingsBit::outGravity, "gravityData = [ \r\n",
     "%   NAME:  timeStamp,  GravityX, GravityY, GravityZ; \r\n",
     "%   UNIT:   Second  ,         g,        g,        g; \r\n",
     QT_TRANSLATE_NOOP("SensorPanel", "    %1,   %2, %3, %4; \r\n"), 4,
     "time_s,host_time_s,gravity_x_g,gravity_y_g,gravity_z_g"},
    {"Euler_s1_e", NpSettingsBit::outEuler_s1_e, "eulerData = [ \r\n",
     "%   NAME:  timeStamp,    Psi,     Theta,   Phi;  \r\n",
     "%   UNIT:   Second  ,    degree,  degree,  degree; \r\n",
     QT_TRANSLATE_NOOP("SensorPanel", "    %1,   %2, %3, %4; \r\n"), 4,
     "time_s,host_time_s,psi_deg,theta_deg,phi_deg"},
};
const int Recorder::kOutputCount = int(sizeof(kOutputs) / sizeof(kOutputs[0]));

Recorder::Recorder(Writer writer_i)
    : writer(std::move(writer_i))
{}

Recorder::~Recorder() = default;

QString Recorder::BasePath(const QString &chosen)
{
    return chosen.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive) ||
                   chosen.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)
               ? chosen.left(chosen.size() - 4)
               : chosen;
}

QString Recorder::FileName(const QString &basePath, const QString &key, Layout layout)
{
    const bool csv = layout == Layout::Csv || key == QLatin1String(kMarkersKey);
    return basePath + QLatin1Char('_') + key + QLatin1String(csv ? ".csv" : ".txt");
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
    // Each number right-aligned in 15 characters.
    QString filled[11];
    const int sixDecimals = output.values == 11 ? 2 : 1;
    for (int i = 0; i < output.values; ++i)
        filled[i] = Fixed(numbers[i], 15, i < sixDecimals ? 6 : 9);
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

QString Recorder::CsvRow(const Output &output, const double *numbers, double hostSeconds)
{
    QString row = Fixed(numbers[0], 0, 6);
    row += QLatin1Char(',');
    row += Fixed(hostSeconds, 0, 6);
    for (int i = 1; i < output.values; ++i) {
        row += QLatin1Char(',');
        AppendShortest(row, float(numbers[i])); // the values arrived as floats
    }
    row += QLatin1String("\r\n");
    return row;
}

Recorder::Block Recorder::Mark(const QString &text, QString *error)
{
    const QString key = QLatin1String(kMarkersKey);
    if (buffers.empty() || !hostClock.isValid())
        return Block::Kept; // no recording under way
    auto markers = buffers.find(key);
    if (markers == buffers.end()) {
        // The first marker makes the file.
        Stream stream;
        stream.name = FileName(basePath_, key);
        stream.file = std::make_unique<QFile>(stream.name);
        if (!stream.file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            if (error)
                *error = stream.name + QLatin1String(": ") + stream.file->errorString();
            return Block::Failed;
        }
        stream.buffer = csvComment_ + QLatin1String("time_s,host_time_s,text\r\n");
        markers = buffers.emplace(key, std::move(stream)).first;
    }
    double latest = 0.0;
    for (const auto &entry : buffers)
        if (entry.second.started)
            latest = std::max(latest, entry.second.lastSeconds + entry.second.offset);
    QString line = Fixed(latest, 0, 6) + QLatin1Char(',') + Fixed(HostSeconds(), 0, 6) + QLatin1Char(',') +
                   CsvField(text) + QLatin1String("\r\n");
    // Written at once, with what waits before it: a marker is the note the user will look for.
    Stream &stream = markers->second;
    line.prepend(stream.buffer);
    stream.buffer.clear();
    if (WriteOut(stream, line, error))
        return Block::Written;
    return PendingBytes() > kPendingLimitBytes ? Block::Overflow : Block::Failed;
}

int Recorder::Begin(quint32 settingsWord, bool format_i)
{
    return Begin(settingsWord, format_i ? Layout::Matrix : Layout::Plain);
}

int Recorder::Begin(quint32 settingsWord, Layout layout_i, const QString &csvComment)
{
    layout = layout_i;
    total = 0.0;
    hostClock.invalidate();
    // Files of an earlier recording that were not saved are closed as they stand.
    buffers.clear();
    const QString comment = csvComment.isEmpty() ? QString() : csvComment + QLatin1String("\r\n");
    for (const Output &output : kOutputs) {
        if (!NpSettingsBit::Get(settingsWord, output.settingsBit))
            continue;
        Stream &stream = buffers[QString::fromLatin1(output.key)];
        if (layout == Layout::Matrix)
            stream.buffer = QString::fromLatin1(output.matrixLine) + QLatin1String(kCreatedLine) +
                            QString::fromLatin1(output.nameLine) + QString::fromLatin1(output.unitLine);
        else if (layout == Layout::Csv)
            stream.buffer = comment + QLatin1String(output.csvColumns) + QLatin1String("\r\n");
    }
    csvComment_ = comment;
    return OutputCount();
}

QStringList Recorder::FileNames(const QString &basePath) const
{
    QStringList names;
    for (const auto &entry : buffers)
        names << FileName(basePath, entry.first, layout);
    if (!buffers.empty())
        names << FileName(basePath, QLatin1String(kMarkersKey)); // made by the first marker
    return names;
}

namespace {

bool Rename(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// A name beside path that nothing has yet.
QString UnusedName(const QString &path, const char *what)
{
    const QFileInfo info(path);
    QTemporaryFile unique(info.absolutePath() + QLatin1String("/.") + info.fileName() + QLatin1Char('.') +
                          QLatin1String(what) + QLatin1String(".XXXXXX"));
    if (!unique.open())
        return QString();
    const QString name = unique.fileName();
    unique.close();
    return name; // removed with `unique`; only the name is wanted
}

} // namespace

bool Recorder::OpenFiles(const QString &basePath, QString *error)
{
    for (auto &entry : buffers)
        entry.second.file.reset();
    // The new files are made under names of their own first; the earlier files of the set move aside;
    // only then do the new ones take their names. Whatever fails on the way puts everything back, so
    // a start that fails leaves the earlier files as they were.
    struct Planned
    {
        QString name;
        std::unique_ptr<QFile> file;
        QString at;    // where the new file is now
        QString aside; // where an earlier file of the name waits until the new one is in place
    };
    std::vector<Planned> plan;
    auto undo = [&](const QString &name, const QString &reason) {
        if (error)
            *error = name + QLatin1String(": ") + reason;
        for (Planned &p : plan) {
            if (p.file) {
                p.file->close();
                QFile::remove(p.at);
            }
            if (!p.aside.isEmpty())
                Rename(p.aside, p.name);
        }
        return false;
    };
    for (const auto &entry : buffers) {
        Planned p;
        p.name = FileName(basePath, entry.first, layout);
        if (QFileInfo(p.name).isDir())
            return undo(p.name, Tr("a folder has this name"));
        const QString temporary = UnusedName(p.name, "new");
        if (temporary.isEmpty())
            return undo(p.name, QFileInfo::exists(QFileInfo(p.name).absolutePath())
                                    ? Tr("no file can be created in this folder")
                                    : Tr("the folder does not exist"));
        p.file = std::make_unique<QFile>(temporary);
        p.at = temporary;
        // Unbuffered: a block the disk refuses stays here, whole, instead of half in a file buffer.
        const bool opened = p.file->open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        const QString reason = p.file->errorString();
        plan.push_back(std::move(p));
        if (!opened)
            return undo(plan.back().name, reason);
    }
    for (Planned &p : plan) {
        if (!QFileInfo::exists(p.name) && !QFileInfo(p.name).isSymLink())
            continue;
        const QString aside = UnusedName(p.name, "old");
        if (aside.isEmpty() || !Rename(p.name, aside))
            return undo(p.name, QString::fromLocal8Bit(std::strerror(errno)));
        p.aside = aside;
    }
    for (Planned &p : plan) {
        // A rename keeps the open file open, on the renamed file.
        if (!Rename(p.at, p.name))
            return undo(p.name, QString::fromLocal8Bit(std::strerror(errno)));
        p.at = p.name;
    }
    for (Planned &p : plan)
        if (!p.aside.isEmpty())
            QFile::remove(p.aside);
    // The markers of an earlier recording of this name went with its files.
    const QString markers = FileName(basePath, QLatin1String(kMarkersKey));
    if (QFileInfo(markers).isFile())
        QFile::remove(markers);
    basePath_ = basePath;
    size_t i = 0;
    for (auto &entry : buffers) {
        entry.second.name = plan[i].name;
        entry.second.file = std::move(plan[i].file);
        ++i;
    }
    hostClock.start();
    return true;
}

qint64 Recorder::Write(QFile &file, const char *data, qint64 size, QString *error)
{
    if (writer)
        return writer(file, data, size, error);
    const qint64 written = file.write(data, size);
    if (written <= 0 && error)
        *error = file.errorString();
    file.unsetError();
    return written;
}

bool Recorder::WriteOut(Stream &stream, const QString &text, QString *error)
{
    stream.pending += text.toUtf8();
    stream.pendingChars += text.size();
    QFile &file = *stream.file;
    while (!stream.pending.isEmpty()) {
        QString why;
        const qint64 written = Write(file, stream.pending.constData(), stream.pending.size(), &why);
        if (written <= 0) {
            if (error)
                *error = stream.name + QLatin1String(": ") + why;
            return false;
        }
        stream.written += written;
        stream.pending.remove(0, int(written));
    }
    stream.wholeRows = stream.written;
    total += double(stream.pendingChars) / 1048576.0;
    stream.pendingChars = 0;
    return true;
}

qint64 Recorder::PendingBytes() const
{
    qint64 bytes = 0;
    for (const auto &entry : buffers)
        bytes += entry.second.pending.size();
    return bytes;
}

Recorder::Block Recorder::Append(const QString &key, const QString &line, QString *error)
{
    Stream &stream = buffers[key];
    stream.buffer += line;
    if (stream.buffer.size() <= kBlockChars || !stream.file || !stream.file->isOpen())
        return Block::Kept;
    const QString block = stream.buffer;
    stream.buffer.clear();
    if (WriteOut(stream, block, error))
        return Block::Written;
    return PendingBytes() > kPendingLimitBytes ? Block::Overflow : Block::Failed;
}

double Recorder::Unwrapped(const QString &key, double seconds)
{
    Stream &stream = buffers[key];
    if (stream.started && seconds < stream.lastSeconds) {
        if (IsCounterWrap(stream.lastSeconds, seconds)) {
            stream.offset += kWrapSeconds;
        } else {
            // The node started again: its time goes on from the last value recorded, still rising.
            const double last = stream.lastSeconds + stream.offset;
            stream.offset = last + (seconds > 0.0 ? 0.0 : 1e-6);
        }
    }
    stream.started = true;
    stream.lastSeconds = seconds;
    return seconds + stream.offset;
}

bool Recorder::IsCounterWrap(double last, double now)
{
    return last > kWrapSeconds - kWrapMarginSeconds && now < kWrapMarginSeconds;
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
        const bool matrix = layout == Layout::Matrix && entry.first != QLatin1String(kMarkersKey);
        const QString rest = matrix ? stream.buffer + QLatin1String(kMatrixEnd) : stream.buffer;
        if (!WriteOut(stream, rest, written ? error : nullptr)) {
            written = false;
            // The disk took part of a block at most: the file ends with its last whole block, and
            // its matrix end if the room that frees takes it.
            QFile &file = *stream.file;
            if (file.resize(stream.wholeRows)) {
                file.seek(stream.wholeRows);
                if (matrix) {
                    const QByteArray end(kMatrixEnd);
                    if (Write(file, end.constData(), end.size(), nullptr) != end.size())
                        file.resize(stream.wholeRows);
                }
            }
            stream.pending.clear();
        }
        stream.buffer.clear();
        stream.file->close();
        stream.file.reset();
    }
    buffers.clear();
    if (notOpen)
        *notOpen = missing;
    return missing == 0 && written;
}
