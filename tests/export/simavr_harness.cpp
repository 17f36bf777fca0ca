// Runs the exported Arduino sketch on a simulated ATmega328P (libsimavr) and talks to it through the
// simulated UART with this program's own protocol classes, as Gyrovane would through a serial port:
// asks for the node's identity and settings, writes new settings and waits for the acknowledgement,
// and decodes the roll/pitch/yaw records the sketch streams.
//
//   simavr_harness NimboNodeExample.elf      exit status 0 when every answer came and decoded
#include "nimboobjectdictionary.h"
#include "nimboprofile.h"

#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_elf.h>
#include <sim_io.h>
#include <sim_irq.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

namespace {

constexpr quint16 kNode = 32;

// The simulated UART: bytes the firmware sent, and bytes waiting to go to it while it takes them.
struct Uart
{
    avr_irq_t *input = nullptr;
    std::deque<quint8> toAvr;
    std::vector<quint8> fromAvr;
    bool off = false;

    void Feed()
    {
        while (!off && !toAvr.empty()) {
            const quint8 byte = toAvr.front();
            toAvr.pop_front();
            avr_raise_irq(input, byte);
        }
    }
};

Uart uart;

void OnOutput(avr_irq_t *, uint32_t value, void *) { uart.fromAvr.push_back(quint8(value)); }
void OnXon(avr_irq_t *, uint32_t, void *)
{
    uart.off = false;
    uart.Feed();
}
void OnXoff(avr_irq_t *, uint32_t, void *) { uart.off = true; }

// The host side: this program's dictionary, codec and framing.
struct Host
{
    NimboObjectDictionary od;
    NimboProfile profile{&od};
    QVector<Np_Id> ids;
    QVector<Np_Settings> settings;
    QVector<Np_Ack> acks;
    QVector<Np_RPY> rpy;

    Host()
    {
        QObject::connect(&profile, qOverload<const Np_Id &>(&NimboProfile::Sig_RX_Data),
                         [this](const Np_Id &r) { ids << r; });
        QObject::connect(&profile, qOverload<const Np_Settings &>(&NimboProfile::Sig_RX_Data),
                         [this](const Np_Settings &r) { settings << r; });
        QObject::connect(&profile, qOverload<const Np_Ack &>(&NimboProfile::Sig_RX_Data),
                         [this](const Np_Ack &r) { acks << r; });
        QObject::connect(&profile, qOverload<const Np_RPY &>(&NimboProfile::Sig_RX_Data),
                         [this](const Np_RPY &r) { rpy << r; });
    }

    // Queues one built record and hands its frame to the UART.
    bool Send(quint8 cmd)
    {
        if (profile.Queue_SendPkg(kNode, cmd) != NP_SUCC_)
            return false;
        quint16 to = 0;
        char *frame = nullptr;
        int size = 0;
        if (profile.Next_SendPkg(&to, &frame, &size) != NP_SUCC_)
            return false;
        uart.toAvr.insert(uart.toAvr.end(), frame, frame + size);
        uart.Feed();
        return true;
    }

    void Receive()
    {
        if (uart.fromAvr.empty())
            return;
        profile.Drain(reinterpret_cast<const char *>(uart.fromAvr.data()), int(uart.fromAvr.size()),
                      [](int, const Np_Header &) {});
        uart.fromAvr.clear();
    }
};

// Runs the AVR for a while of its own time.
bool Run(avr_t *avr, Host &host, double seconds)
{
    const avr_cycle_count_t end = avr->cycle + avr_cycle_count_t(seconds * avr->frequency);
    while (avr->cycle < end) {
        const int state = avr_run(avr);
        if (state == cpu_Done || state == cpu_Crashed)
            return false;
        host.Receive();
    }
    return true;
}

int Fail(const char *what)
{
    std::printf("simavr: FAILED: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::printf("usage: simavr_harness FIRMWARE.elf\n");
        return 2;
    }
    elf_firmware_t firmware;
    std::memset(&firmware, 0, sizeof(firmware));
    if (elf_read_firmware(argv[1], &firmware) != 0)
        return Fail("cannot read the firmware");
    std::strcpy(firmware.mmcu, "atmega328p");
    firmware.frequency = 16000000;
    avr_t *avr = avr_make_mcu_by_name(firmware.mmcu);
    if (!avr)
        return Fail("no ATmega328P in this simavr");
    avr_init(avr);
    avr_load_firmware(avr, &firmware);
    // The simulator holds its own copy of the program now.
    std::free(firmware.flash);
    std::free(firmware.eeprom);
    firmware.flash = firmware.eeprom = nullptr;

    // The UART's bytes come to us, not to the console.
    uint32_t flags = 0;
    avr_ioctl(avr, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
    flags &= ~uint32_t(AVR_UART_FLAG_STDIO);
    avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
    uart.input = avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
    avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT), OnOutput,
                            nullptr);
    avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XON), OnXon, nullptr);
    avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XOFF), OnXoff,
                            nullptr);

    Host host;
    if (!Run(avr, host, 0.05))
        return Fail("the firmware stopped while starting");

    // Identity.
    host.od.Write_Np_Request(kNode, NP_CMD_ID_);
    if (!host.Send(NP_CMD_REQUEST_) || !Run(avr, host, 0.05) || host.ids.isEmpty())
        return Fail("no identity");
    const Np_Id &id = host.ids.last();
    const QByteArray name(id.name, int(qstrnlen(id.name, sizeof(id.name))));
    std::printf("simavr: identity: node %u \"%s\", firmware %u.%u.%u.%u\n", id.nodeId, name.constData(),
                id.fwVersion[0], id.fwVersion[1], id.fwVersion[2], id.fwVersion[3]);
    if (id.nodeId != kNode || name != "Arduino" || id.fwVersion[0] != 31 || id.fwVersion[3] != 70)
        return Fail("wrong identity");

    // Settings, read and written.
    host.od.Write_Np_Request(kNode, NP_CMD_SETTING);
    if (!host.Send(NP_CMD_REQUEST_) || !Run(avr, host, 0.05) || host.settings.isEmpty())
        return Fail("no settings");
    Np_Settings s = host.settings.last();
    std::printf("simavr: settings: odr %u Hz, accelerometer gain %u, word 0x%08x\n", s.odr, s.fusionParamAcc,
                s.settingsWord);
    if (s.odr != 10 || s.fusionParamAcc != 210 || !(s.settingsWord & (1u << NpSettingsBit::outRPY)))
        return Fail("wrong settings");
    s.odr = 20;
    s.settingsWord |= 1u << NpSettingsBit::reliableWrite;
    host.od.Write_Np_Settings(kNode, s);
    if (!host.Send(NP_CMD_SETTING) || !Run(avr, host, 0.05) || host.acks.isEmpty() ||
        host.acks.last().cmdAck != NP_CMD_SETTING)
        return Fail("settings write not acknowledged");

    // One second of the stream at the new rate.
    host.rpy.clear();
    if (!Run(avr, host, 1.0))
        return Fail("the firmware stopped while streaming");
    const NimboProtocol *framing = host.profile.Protocol();
    std::printf("simavr: %d roll/pitch/yaw records in 1 s, yaw %.3f .. %.3f; frames good %u, bad %u\n",
                int(host.rpy.size()), host.rpy.isEmpty() ? 0.0 : double(host.rpy.first().yaw),
                host.rpy.isEmpty() ? 0.0 : double(host.rpy.last().yaw), framing->RecvPkgGood(),
                framing->RecvPkgBad());
    if (host.rpy.size() < 18 || host.rpy.size() > 22 || framing->RecvPkgBad() != 0)
        return Fail("the stream is not 20 records a second, whole");
    for (int i = 1; i < host.rpy.size(); ++i)
        if (host.rpy[i].timeStamp <= host.rpy[i - 1].timeStamp || !(host.rpy[i].yaw >= host.rpy[i - 1].yaw) ||
            host.rpy[i].roll != 0.0f)
            return Fail("records out of order or damaged");
    std::printf("simavr: ok\n");
    avr_terminate(avr);
    return 0;
}
