#include "settingsapplier.h"

#include "modelprofile.h"
#include "nimbolink.h"
#include "nodename.h"
#include "portgate.h"
#include "settingsfile.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QMap>
#include <QtCore/QTextStream>
#include <QtCore/QTimer>

#include <cstring>
#include <functional>

namespace SettingsApplier {

namespace {

const int kScanRounds = 3;
const int kScanRoundMs = 1000;
const int kSettingsAttempts = 4;
// A settings write's own wait (four attempts of the conversation) plus a margin for a busy link.
const int kWriteWaitMs = NimboLink::kSettingsWriteWaitMs + 1000;

QString Tr(const char *text, const char *disambiguation = nullptr, int n = -1)
{
    return QCoreApplication::translate("SettingsApplier", text, disambiguation, n);
}

struct Options
{
    QString file;
    QString port;
    QString baud = QStringLiteral("115200");
    int node = -1; // -1: every node of the file's generation
    bool writeFitting = false;
    bool save = true;
};

QString Usage()
{
    return Tr("usage: Gyrovane --apply-settings FILE --port PORT --node ID|all [--baud RATE] [--write-fitting] "
              "[--no-save]\n"
              "  --node ID|all      one node by its id, or every node of the file's model generation\n"
              "  --baud RATE        the port's baud rate (default 115200)\n"
              "  --write-fitting    write the settings that fit a node of another generation or one that\n"
              "                     lacks some of the file's settings (otherwise such a node is not written)\n"
              "  --no-save          write the settings live only, not into the nodes' flash memory\n");
}

bool Parse(const QStringList &args, Options *o, QString *error)
{
    bool nodeGiven = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--write-fitting")) {
            o->writeFitting = true;
        } else if (arg == QLatin1String("--no-save")) {
            o->save = false;
        } else if (arg == QLatin1String("--apply-settings") || arg == QLatin1String("--port") ||
                   arg == QLatin1String("--node") || arg == QLatin1String("--baud")) {
            if (!hasValue) {
                *error = Tr("%1 needs a value.").arg(arg);
                return false;
            }
            const QString value = args[++i];
            if (arg == QLatin1String("--apply-settings")) {
                o->file = value;
            } else if (arg == QLatin1String("--port")) {
                o->port = value;
            } else if (arg == QLatin1String("--baud")) {
                o->baud = value;
            } else {
                nodeGiven = true;
                bool ok = value == QLatin1String("all");
                if (!ok) {
                    // Decimal, as the node list shows ids: "040" is 40.
                    const int id = value.toInt(&ok, 10);
                    ok = ok && id >= 1 && id <= int(NP_ID_MAX_);
                    o->node = id;
                }
                if (!ok) {
                    *error = Tr("--node takes a node id from 1 to %1 or \"all\", not \"%2\".").arg(NP_ID_MAX_).arg(value);
                    return false;
                }
            }
        } else {
            *error = Tr("Unknown option \"%1\".").arg(arg);
            return false;
        }
    }
    if (o->file.isEmpty() || o->port.isEmpty() || !nodeGiven) {
        *error = Tr("--apply-settings, --port and --node are all needed.");
        return false;
    }
    return true;
}

// Runs the event loop until `done` holds or the time is up; true when it holds.
bool WaitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return false;
        QEventLoop loop;
        QTimer::singleShot(int(qMin<qint64>(left, 20)), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// A port given by a path relative to here, or by the name the link panel lists for a simulator.
QString PortPath(const QString &port)
{
    if (QFileInfo::exists(port))
        return QFileInfo(port).absoluteFilePath();
    const QString simulated = QDir(PortGate::SimulatedPortDirectory()).filePath(port);
    return QFileInfo::exists(simulated) ? simulated : port;
}

struct Found
{
    quint16 id = 0;
    QString name;
    QString firmware;
    ModelProfile model;
};

QString NodeText(const Found &node) { return QStringLiteral("node %1 \"%2\"").arg(node.id).arg(node.name); }

} // namespace

bool Wanted(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--apply-settings") == 0)
            return true;
    return false;
}

int Run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    Options options;
    QString error;
    if (!Parse(arguments, &options, &error)) {
        err << error << '\n' << Usage();
        return 2;
    }
    QFile file(options.file);
    SettingsFile::Contents contents;
    if (!file.open(QIODevice::ReadOnly))
        contents.error = Tr("The file cannot be read: %1.").arg(file.errorString());
    else
        contents = SettingsFile::Read(file.read(1024 * 1024));
    if (!contents.error.isEmpty()) {
        err << options.file << ": " << contents.error << Tr(" Nothing was sent.") << '\n';
        return 2;
    }

    NimboLink link;
    bool opened = false;
    QString openFailure;
    QObject::connect(&link, &NimboLink::Sig_LinkState, [&](bool open) { opened = open; });
    QObject::connect(&link, &NimboLink::Sig_OpenFailed,
                     [&](const QString &, const QString &reason) { openFailure = reason; });
    link.SetBaudrate(options.baud);
    link.OpenPort(PortPath(options.port));
    if (!WaitUntil([&] { return opened || !openFailure.isEmpty(); }, 5000) || !opened) {
        err << Tr("The port %1 did not open: %2").arg(options.port, openFailure.isEmpty() ? Tr("no answer from the port.") : openFailure)
            << '\n';
        return 2;
    }

    // The nodes on the bus, by id, from their identities.
    QMap<quint16, Found> nodes;
    QObject::connect(&link, QOverload<const Np_Id &>::of(&NimboLink::Sig_RX_Data), [&](const Np_Id &id) {
        Found &node = nodes[id.header.fromId()];
        node.id = id.header.fromId();
        node.name = NodeName::Text(QByteArray(id.name, int(sizeof(id.name))));
        node.firmware = QStringLiteral("%1.%2.%3.%4")
                            .arg(uint(id.fwVersion[0]))
                            .arg(uint(id.fwVersion[1]))
                            .arg(uint(id.fwVersion[2]))
                            .arg(uint(id.fwVersion[3]));
        node.model = ModelProfile::FromVersionText(QStringLiteral("Ver. %1.%2.%3 (%4)")
                                                       .arg(uint(id.fwVersion[0]))
                                                       .arg(uint(id.fwVersion[1]))
                                                       .arg(uint(id.fwVersion[2]))
                                                       .arg(uint(id.fwVersion[3])));
    });
    for (int round = 0; round < kScanRounds; ++round) {
        link.Scan(kScanRoundMs);
        if (WaitUntil([&] { return options.node >= 0 && nodes.contains(quint16(options.node)); }, kScanRoundMs))
            break;
    }

    QMap<quint16, Np_Settings> settings;
    QObject::connect(&link, QOverload<const Np_Settings &>::of(&NimboLink::Sig_RX_Data),
                     [&](const Np_Settings &s) { settings[s.header.fromId()] = s; });
    struct Outcome
    {
        bool done = false;
        bool acknowledged = false;
        QString failure;
    };
    QMap<quint16, Outcome> outcomes;
    QObject::connect(&link, &NimboLink::Sig_SettingsWriteOutcome,
                     [&](quint16 id, bool acknowledged, const QString &failure) {
                         outcomes[id] = {true, acknowledged, failure};
                     });

    if (options.node >= 0 && !nodes.contains(quint16(options.node))) {
        out << Tr("node %1: did not answer on %2").arg(options.node).arg(options.port) << '\n';
        return 1;
    }
    int written = 0;
    bool allAcknowledged = true;
    for (const Found &node : nodes) {
        const quint16 id = node.id;
        if (options.node >= 0 && id != options.node)
            continue;
        const QString generation = SettingsFile::Generation(node.model);
        const bool otherGeneration = !contents.generation.isEmpty() && generation != contents.generation;
        // With all, the file is meant for the nodes of its own generation; the others are left alone.
        if (options.node < 0 && otherGeneration && !options.writeFitting) {
            out << Tr("%1: skipped, model generation %2 (the file is of %3)")
                       .arg(NodeText(node), generation, contents.generation)
                << '\n';
            continue;
        }
        ++written;
        bool read = false;
        for (int attempt = 0; attempt < kSettingsAttempts && !read; ++attempt) {
            link.RequestSettings(id);
            read = WaitUntil([&] { return settings.contains(id); }, NimboLink::kSettingsRequestWaitMs);
        }
        if (!read) {
            out << Tr("%1: not written, it did not answer the request for its settings").arg(NodeText(node)) << '\n';
            allAcknowledged = false;
            continue;
        }
        const SettingsFile::Plan plan = SettingsFile::Compare(settings.value(id), node.model, contents);
        if (plan.NeedsConfirmation() && !options.writeFitting) {
            QStringList why;
            if (otherGeneration)
                why << Tr("model generation %1, the file is of %2").arg(generation, contents.generation);
            if (!plan.unfit.isEmpty())
                why << Tr("it has no %1").arg(plan.unfit.join(QStringLiteral(", ")));
            out << Tr("%1: not written: %2 (--write-fitting writes the settings that fit)")
                       .arg(NodeText(node), why.join(QStringLiteral("; ")))
                << '\n';
            allAcknowledged = false;
            continue;
        }
        if (plan.changes.isEmpty() && !options.save) {
            out << Tr("%1: unchanged, it already holds these settings").arg(NodeText(node)) << '\n';
            continue;
        }
        Np_Settings record = plan.result;
        record.settingsWord = NpSettingsBit::Set(record.settingsWord, NpSettingsBit::saveToFlash, options.save);
        outcomes.remove(id);
        link.WriteSettings(id, record, kWriteWaitMs);
        WaitUntil([&] { return outcomes.value(id).done; }, kWriteWaitMs + 1000);
        const Outcome outcome = outcomes.value(id);
        QString changed = plan.changes.size() == 1 ? Tr("1 setting changed")
                                                   : Tr("%1 settings changed").arg(plan.changes.size());
        if (options.save)
            changed += Tr(", saved in flash");
        if (outcome.acknowledged) {
            out << Tr("%1: acknowledged, %2").arg(NodeText(node), changed) << '\n';
        } else {
            allAcknowledged = false;
            out << Tr("%1: not acknowledged: %2")
                       .arg(NodeText(node), outcome.done && !outcome.failure.isEmpty()
                                                ? outcome.failure
                                                : Tr("the node did not acknowledge the settings."))
                << '\n';
        }
        out.flush();
    }
    link.Stop();
    if (written == 0) {
        out << Tr("no node of model generation %1 answered on %2").arg(contents.generation, options.port) << '\n';
        return 1;
    }
    return allAcknowledged ? 0 : 1;
}

} // namespace SettingsApplier
