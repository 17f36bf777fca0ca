#ifndef RECORDER_H
#define RECORDER_H

#include "sensorpanelcore_global.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <functional>
#include <map>
#include <memory>

// The recorder's outputs and files: one text file per recorded output, its rows collected in memory
// and written in blocks of a little over 4096 characters, each file optionally framed as a named
// matrix with comment lines, or written as CSV for analysis tools (BASE_<output>.csv: a comment line
// naming the node, a header row of column names with units, then "time_s,host_time_s,..." rows, the
// host time in seconds since the files were opened). Beside them BASE_markers.csv takes the event
// markers. Files are written as they are ("\r\n" line ends) in UTF-8, numbers with a "." whatever
// the locale.
//
// Earlier files are never lost by accident: the new set is created beside them and replaces them only
// once every file of it exists. A disk that refuses the data is given up on (Block::Overflow) once
// more than kPendingLimitBytes wait for it; the files then end with the last whole block written.
class SENSORPANELCORE_EXPORT Recorder
{
public:
    struct Output
    {
        const char *key; // also the file-name suffix
        int settingsBit;
        const char *matrixLine;
        const char *nameLine;
        const char *unitLine;
        const char *rowPattern;
        int values; // numbers in a row; the first (and for raw data the second) with 6 decimals
        const char *csvColumns; // the CSV header row, without its line end
    };
    enum class Layout { Plain, Matrix, Csv };
    static constexpr const char *kMarkersKey = "markers";
    static const Output kOutputs[];
    static const int kOutputCount;
    static constexpr int kBlockChars = 4096;
    // What a recording may hold back for a disk that does not take it, in all its files.
    static constexpr qint64 kPendingLimitBytes = 64 * 1024 * 1024;

    // Kept: in memory; Written: a block went out; Failed: the file refused it (the rows wait);
    // Overflow: too much waits, the recording must stop.
    enum class Block { Kept, Written, Failed, Overflow };

    // How bytes reach a file: the bytes taken, or -1 and why not. Tests put a failing disk in its place.
    using Writer = std::function<qint64(QFile &file, const char *data, qint64 size, QString *error)>;

    explicit Recorder(Writer writer = Writer());
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    // The path of the files without its ".txt" or ".csv" (any case); a name given without it is used
    // whole.
    static QString BasePath(const QString &chosen);
    static QString FileName(const QString &basePath, const QString &key, Layout layout = Layout::Plain);
    // One row of an output: the time stamp, then its values.
    static QString Row(const Output &output, const double *numbers);
    // The same as a CSV row, with the host time after the node's.
    static QString CsvRow(const Output &output, const double *numbers, double hostSeconds);
    static const Output *Find(const QString &key);

    // A new recording of the outputs whose settings bits are set, in table order; with the format on,
    // each buffer starts with its matrix name and comment lines. Closes nothing. Returns the number of
    // outputs.
    int Begin(quint32 settingsWord, bool format);
    // The same in any layout; for CSV, csvComment is the first line of every file (without its end).
    int Begin(quint32 settingsWord, Layout layout, const QString &csvComment = QString());
    // The files the recording begun would write.
    QStringList FileNames(const QString &basePath) const;
    // Closes the files still open and creates one file per output, replacing files of those names
    // only once all of them exist; false with the failing file's name and the system's reason, and
    // every earlier file as it was, when one cannot be created.
    bool OpenFiles(const QString &basePath, QString *error);
    bool Has(const QString &key) const { return buffers.count(key) != 0; }
    int OutputCount() const { return int(buffers.size()) - int(buffers.count(QLatin1String(kMarkersKey))); }
    bool Format() const { return layout == Layout::Matrix; }
    Layout FileLayout() const { return layout; }
    // Seconds since the files were opened, on the host's steady clock.
    double HostSeconds() const { return hostClock.isValid() ? double(hostClock.nsecsElapsed()) * 1e-9 : 0.0; }
    // An event marker: the node's latest recorded time and the host's, and the text; written at once.
    Block Mark(const QString &text, QString *error);

    // Adds a line to an output's buffer and writes the buffer out once it holds more than a block.
    // A file that cannot be written keeps its rows in memory; error tells why.
    Block Append(const QString &key, const QString &line, QString *error);
    // The seconds of an output's record on a time line that always rises: the node's 32-bit
    // microsecond counter unwrapped where it wraps (from near its top to near zero), and continued
    // from the last value where the node restarted (any other step back).
    double Unwrapped(const QString &key, double seconds);
    // Whether a node's time going from `last` back to `now` (seconds) is its 32-bit microsecond counter
    // wrapping; any other step back is the node starting again.
    static bool IsCounterWrap(double last, double now);

    // Writes what is left of every buffer (and each matrix's end), then closes the files and forgets
    // the recording. True when every file was open and written; otherwise notOpen counts the outputs
    // without an open file and error holds the first write failure. A file the disk refused ends with
    // its last whole row, and its matrix end where the disk takes it.
    bool SaveAndCloseAll(int *notOpen, QString *error);
    // Bytes held back for files that did not take them.
    qint64 PendingBytes() const;

    // Megabytes (characters / 1048576) written in blocks since Begin.
    double TotalMegabytes() const { return total; }

private:
    struct Stream
    {
        QString buffer;          // rows not written yet
        QByteArray pending;      // encoded rows the file did not take yet (disk full, say)
        qint64 pendingChars = 0; // characters that pending stands for
        qint64 written = 0;      // bytes in the file
        qint64 wholeRows = 0;    // bytes in the file up to the end of its last whole block
        std::unique_ptr<QFile> file;
        QString name; // the file's name once it replaced any earlier one
        double lastSeconds = 0.0;
        double offset = 0.0;
        bool started = false;
    };

    // Moves text to the stream's pending bytes and writes as much of them as the file takes.
    bool WriteOut(Stream &stream, const QString &text, QString *error);
    qint64 Write(QFile &file, const char *data, qint64 size, QString *error);

    // In key order, which is the order the files are opened and saved in.
    std::map<QString, Stream> buffers;
    Layout layout = Layout::Plain;
    double total = 0.0;
    QElapsedTimer hostClock;
    QString basePath_;   // of the files opened
    QString csvComment_; // the first line of CSV files, with its line end
    Writer writer;
};

#endif // RECORDER_H
