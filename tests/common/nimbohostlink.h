#ifndef NIMBOHOSTLINK_H
#define NIMBOHOSTLINK_H

#include "nimboobjectdictionary.h"
#include "nimboprofile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVector>

#include <cstring>
#include <functional>

class QSocketNotifier;

// The host end of a serial port for protocol-level end-to-end tests: the port opened as a plain
// POSIX descriptor, received bytes drained through the host's NimboProfile, records built in the
// host's dictionary and sent one frame after another, as the link panel would.
class NimboHostLink : public QObject
{
    Q_OBJECT

public:
    struct Arrival
    {
        qint64 atNs; // since the link was created
        quint8 cmd;
        quint16 fromId;
        quint16 toId;
        QByteArray record; // the record as signalled (settings in the current layout)
    };

    explicit NimboHostLink(QObject *parent = nullptr);
    ~NimboHostLink() override;

    bool Open(const QString &portPath);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // Off: the port stays open but nothing is read, as with a host that has stalled.
    void SetReading(bool on);

    NimboObjectDictionary &Dictionary() { return dictionary_; }
    NimboProfile &Profile() { return profile_; }
    NimboProtocol &Protocol() { return *profile_.Protocol(); }
    qint64 Elapsed() const { return clock_.nsecsElapsed(); }

    bool Request(quint16 toId, quint8 cmd);
    // As the link panel writes settings: reliableWrite set, so the node acknowledges.
    bool WriteSettings(quint16 toId, Np_Settings settings);
    bool SendNSO(quint16 toId, const Np_NSO &nso);
    bool SendCalib(quint16 toId, quint8 calibType, quint8 calibCmd, quint16 calibCode, quint32 value1 = 0,
                   quint32 value2 = 0);
    bool SendNodeCtrl(const QByteArray &uuid, quint8 ctrl);
    bool SendId(const QByteArray &uuid, quint16 newId, const QByteArray &name);
    bool WriteRaw(const QByteArray &bytes);

    const QVector<Arrival> &Arrivals() const { return arrivals_; }
    void ClearArrivals() { arrivals_.clear(); }
    // Index of the first arrival at or after `from` that matches, or -1.
    int Find(quint8 cmd, int fromId = -1, int from = 0) const;
    int Count(quint8 cmd, int fromId = -1, int from = 0) const;
    // Processes events until the condition holds or the time is up.
    bool WaitUntil(const std::function<bool()> &condition, int timeoutMs);
    // Waits for the count-th record of cmd (from fromId if >= 0) at or after arrival `from`.
    bool WaitFor(quint8 cmd, int fromId = -1, int count = 1, int timeoutMs = 5000, int from = 0);

    template <typename T>
    static T As(const Arrival &arrival)
    {
        T record;
        std::memset(&record, 0, sizeof(record));
        std::memcpy(&record, arrival.record.constData(), qMin(sizeof(record), size_t(arrival.record.size())));
        return record;
    }

private:
    template <typename T>
    void Capture();
    bool QueueAndFlush(quint16 toId, quint8 cmd);
    void OnReadable();

    NimboObjectDictionary dictionary_;
    NimboProfile profile_;
    QVector<Arrival> arrivals_;
    QElapsedTimer clock_;
    QSocketNotifier *notifier_ = nullptr;
    int fd_ = -1;
};

#endif // NIMBOHOSTLINK_H
