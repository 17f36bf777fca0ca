#ifndef RECORDER_H
#define RECORDER_H

#include "sensorpanelcore_global.h"

#include <QtCore/QFile>
#include <QtCore/QString>

#include <map>
#include <memory>

// The recorder's outputs and files: one text file per recorded output, its rows collected in memory
// and written in blocks of a little over 4096 characters, each file optionally framed as a named
// matrix with comment lines. Files are written as they are ("\r\n" line ends) in UTF-8.
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
    };
    static const Output kOutputs[];
    static const int kOutputCount;
    static constexpr int kBlockChars = 4096;

    enum class Block { Kept, Written, Failed };

    Recorder();
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    // The path of the files without its ".txt" (any case); a name given without it is used whole.
    static QString BasePath(const QString &chosen);
    static QString FileName(const QString &basePath, const QString &key);
    // One row of an output: the time stamp, then its values.
    static QString Row(const Output &output, const double *numbers);
    static const Output *Find(const QString &key);

    // A new recording of the outputs whose settings bits are set, in table order; with the format on,
    // each buffer starts with its matrix name and comment lines. Closes nothing. Returns the number of
    // outputs.
    int Begin(quint32 settingsWord, bool format);
    // Closes the files still open and opens (truncating) one file per output; false with the failing
    // file's name and the system's reason when one does not open.
    bool OpenFiles(const QString &basePath, QString *error);
    bool Has(const QString &key) const { return buffers.count(key) != 0; }
    int OutputCount() const { return int(buffers.size()); }
    bool Format() const { return format; }

    // Adds a line to an output's buffer and writes the buffer out once it holds more than a block.
    // A file that cannot be written keeps its rows in memory; error tells why.
    Block Append(const QString &key, const QString &line, QString *error);
    // The seconds of an output's record with the node's 32-bit microsecond counter unwrapped, so a
    // long recording never jumps back by 4294.967296 s.
    double Unwrapped(const QString &key, double seconds);

    // Writes what is left of every buffer (and each matrix's end), then closes the files and forgets
    // the recording. True when every file was open and written; otherwise notOpen counts the outputs
    // without an open file and error holds the first write failure.
    bool SaveAndCloseAll(int *notOpen, QString *error);

    // Megabytes (characters / 1048576) written in blocks since Begin.
    double TotalMegabytes() const { return total; }

private:
    struct Stream
    {
        QString buffer;       // rows not written yet
        QByteArray pending;   // encoded rows the file did not take yet (disk full, say)
        int pendingChars = 0; // characters that pending stands for
        std::unique_ptr<QFile> file;
        double lastSeconds = 0.0;
        double offset = 0.0;
        bool started = false;
    };

    // Moves text to the stream's pending bytes and writes as much of them as the file takes.
    bool WriteOut(Stream &stream, const QString &text, QString *error);

    // In key order, which is the order the files are opened and saved in.
    std::map<QString, Stream> buffers;
    bool format = false;
    double total = 0.0;
};

#endif // RECORDER_H
