#include "nimbohostlink.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

NimboHostLink::NimboHostLink(QObject *parent)
    : QObject(parent)
    , profile_(&dictionary_)
{
    clock_.start();
    Capture<Np_HeartBeat>();
    Capture<Np_Request>();
    Capture<Np_Ack>();
    Capture<Np_Settings>();
    Capture<Np_Status>();
    Capture<Np_Calib>();
    Capture<Np_Id>();
    Capture<Np_Id_Ext>();
    Capture<Np_NodeCtrl>();
    Capture<Np_NSO>();
    Capture<Np_Raw_GyroAccMag>();
    Capture<Np_Q_s1_s>();
    Capture<Np_Q_s1_e>();
    Capture<Np_Euler_s1_s>();
    Capture<Np_Euler_s1_e>();
    Capture<Np_RPY>();
    Capture<Np_Gravity>();
    Capture<Np_Combo>();
    Capture<Np_Customized>();
}

NimboHostLink::~NimboHostLink() { Close(); }

template <typename T>
void NimboHostLink::Capture()
{
    connect(&profile_, static_cast<void (NimboProfile::*)(const T &)>(&NimboProfile::Sig_RX_Data), this,
            [this](const T &record) {
                arrivals_.append({clock_.nsecsElapsed(), record.header.cmd(), record.header.fromId(),
                                  record.header.toId(),
                                  QByteArray(reinterpret_cast<const char *>(&record), int(sizeof(record)))});
            });
}

bool NimboHostLink::Open(const QString &portPath)
{
    Close();
    fd_ = ::open(QFile::encodeName(portPath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return false;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this]() { OnReadable(); });
    return true;
}

void NimboHostLink::Close()
{
    delete notifier_;
    notifier_ = nullptr;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void NimboHostLink::SetReading(bool on)
{
    if (notifier_)
        notifier_->setEnabled(on);
}

void NimboHostLink::OnReadable()
{
    char buffer[4096];
    while (fd_ >= 0) {
        const ssize_t n = ::read(fd_, buffer, sizeof(buffer));
        if (n > 0) {
            profile_.Drain(buffer, int(n), [](int, const Np_Header &) {});
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            Close();
        return;
    }
}

bool NimboHostLink::WriteRaw(const QByteArray &bytes)
{
    int done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += int(n);
        } else if (n < 0 && errno == EAGAIN) {
            struct pollfd p = {fd_, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0)
                return false;
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return fd_ >= 0;
}

bool NimboHostLink::QueueAndFlush(quint16 toId, quint8 cmd)
{
    if (profile_.Queue_SendPkg(toId, cmd) != NP_SUCC_)
        return false;
    bool ok = true;
    quint16 to = 0;
    char *frame = nullptr;
    int size = 0;
    int result;
    while ((result = profile_.Next_SendPkg(&to, &frame, &size)) != NP_NORMAL_EXIT_) {
        if (result == NP_SUCC_)
            ok = WriteRaw(QByteArray(frame, size)) && ok;
        else
            ok = false;
    }
    return ok;
}

bool NimboHostLink::Request(quint16 toId, quint8 cmd)
{
    return dictionary_.Write_Np_Request(toId, cmd) == NP_SUCC_ && QueueAndFlush(toId, NP_CMD_REQUEST_);
}

bool NimboHostLink::WriteSettings(quint16 toId, Np_Settings settings)
{
    settings.settingsWord = NpSettingsBit::Set(settings.settingsWord, NpSettingsBit::reliableWrite, true);
    return dictionary_.Write_Np_Settings(toId, settings) == NP_SUCC_ && QueueAndFlush(toId, NP_CMD_SETTING);
}

bool NimboHostLink::SendNSO(quint16 toId, const Np_NSO &nso)
{
    return dictionary_.Write_Np_NSO(toId, nso) == NP_SUCC_ && QueueAndFlush(toId, NP_CMD_NSO_);
}

bool NimboHostLink::SendCalib(quint16 toId, quint8 calibType, quint8 calibCmd, quint16 calibCode,
                              quint32 value1, quint32 value2)
{
    return dictionary_.Write_Np_Calib(toId, calibType, calibCmd, calibCode, value1, value2) == NP_SUCC_ &&
           QueueAndFlush(toId, NP_CMD_CALIB_);
}

bool NimboHostLink::SendNodeCtrl(const QByteArray &uuid, quint8 ctrl)
{
    return dictionary_.Write_Np_NodeCtrl(NP_ID_BROADCAST_, reinterpret_cast<const quint8 *>(uuid.constData()),
                                         uuid.size(), ctrl) == NP_SUCC_ &&
           QueueAndFlush(NP_ID_BROADCAST_, NP_CMD_NODECTRL_);
}

bool NimboHostLink::SendId(const QByteArray &uuid, quint16 newId, const QByteArray &name)
{
    QByteArray name12 = name.left(12);
    name12.append(QByteArray(12 - name12.size(), '\0'));
    return dictionary_.Write_Np_Id(NP_ID_BROADCAST_, 0, newId,
                                   reinterpret_cast<const quint8 *>(uuid.constData()), uuid.size(),
                                   name12.constData(), name12.size()) == NP_SUCC_ &&
           QueueAndFlush(NP_ID_BROADCAST_, NP_CMD_ID_);
}

int NimboHostLink::Find(quint8 cmd, int fromId, int from) const
{
    for (int i = qMax(from, 0); i < arrivals_.size(); ++i)
        if (arrivals_[i].cmd == cmd && (fromId < 0 || arrivals_[i].fromId == fromId))
            return i;
    return -1;
}

int NimboHostLink::Count(quint8 cmd, int fromId, int from) const
{
    int n = 0;
    for (int i = qMax(from, 0); i < arrivals_.size(); ++i)
        if (arrivals_[i].cmd == cmd && (fromId < 0 || arrivals_[i].fromId == fromId))
            ++n;
    return n;
}

bool NimboHostLink::WaitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() >= timeoutMs)
            return condition();
        QTest::qWait(2);
    }
    return true;
}

bool NimboHostLink::WaitFor(quint8 cmd, int fromId, int count, int timeoutMs, int from)
{
    return WaitUntil([&]() { return Count(cmd, fromId, from) >= count; }, timeoutMs);
}
