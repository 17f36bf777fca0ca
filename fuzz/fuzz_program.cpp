// The whole program under arbitrary input: bytes in arbitrary chunks through the link panel's receive
// path into the real main window, with two node windows open, every display window of both open and
// the first node recording all its outputs into a temporary folder. Every plausible frame gets a
// correct checksum first, so that records reach the windows.

#include "framecourier.h"
#include "gyrovane.h"
#include "messageboxcatcher.h"
#include "nodeframes.h"
#include "repairchecksums.h"
#include "sensorpanel.h"
#include "unitroster.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <cstdlib>
#include <vector>

namespace {

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

struct Node
{
    int id;
    const char *name;
    uint8_t uuidByte;
};
const Node kNodes[] = {{32, "Bow", 0xB1}, {33, "Stern", 0xC2}};

class Program
{
public:
    Program()
    {
        courier = window.findChild<FrameCourier *>();
        roster = window.findChild<UnitRoster *>();
        Check(courier && roster);
        window.resize(1600, 1000);
        window.show();
        // A scan lists the nodes that answer it.
        Child<QPushButton>(roster, "pushButton_ScanNode")->click();
        for (const Node &node : kNodes)
            Feed(NodeIntroduction(node.id, node.name, node.uuidByte));
        Child<QPushButton>(roster, "pushButton_ScanNode")->click();
        for (const Node &node : kNodes)
            Open(node);
        for (SensorPanel *panel : window.NodeWindows()) {
            for (const char *box : {"checkBox_Output_RawData", "checkBox_Output_RawData_DispInXYMode",
                                    "checkBox_Output_Q_S1_E", "checkBox_Output_RPY"})
                Child<QCheckBox>(panel, box)->setChecked(true);
        }
        Check(window.NodeWindows().size() == 2);
        recorded = window.NodeWindows().value(QByteArray(20, char(kNodes[0].uuidByte)));
        Check(recorded && recorded->YtDisplay() && recorded->XYDisplay() && recorded->RPYDisplay() &&
              recorded->BoxDisplay());
        Child<QCheckBox>(recorded, "checkBox_Record_FormatEnable")->setChecked(true);
        StartRecording();
    }

    void Feed(const std::string &bytes)
    {
        Check(QMetaObject::invokeMethod(courier, "On_PortGate_RecvData", Qt::DirectConnection,
                                        Q_ARG(QByteArray, QByteArray(bytes.data(), int(bytes.size())))));
        QCoreApplication::processEvents();
    }

    // Every so many inputs the recording is saved and a new one begun, so the files stay small.
    void Input(const uint8_t *data, size_t size)
    {
        if (++inputs % 2000 == 0) {
            Child<QPushButton>(recorded, "pushButton_Record_Save")->click();
            files.reset(new QTemporaryDir);
            StartRecording();
        }
        const int chunkSeed = data[0];
        std::vector<char> stream(reinterpret_cast<const char *>(data) + 1,
                                 reinterpret_cast<const char *>(data) + size);
        RepairChecksums(stream);
        size_t offset = 0;
        for (int step = 0; offset < stream.size(); ++step) {
            size_t chunk = size_t(1 + ((chunkSeed * 31 + step * 17) % 97));
            if (chunkSeed & 0x80)
                chunk = stream.size();
            chunk = std::min(chunk, stream.size() - offset);
            Feed(std::string(stream.data() + offset, chunk));
            offset += chunk;
        }
        const NimboLink::Statistics s = window.Link()->Monitor();
        Check(s.received == s.good + s.bad + s.omitted);
        // Records never close a node window.
        Check(window.NodeWindows().size() == 2);
    }

private:
    template <typename T>
    static T *Child(QObject *parent, const char *name)
    {
        T *child = parent->findChild<T *>(QString::fromLatin1(name));
        Check(child != nullptr);
        return child;
    }

    void Open(const Node &node)
    {
        QTreeWidget *tree = Child<QTreeWidget>(roster, "treeWidget");
        QTreeWidgetItem *row = nullptr;
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QByteArray uuid;
            if (UnitRoster::Find_UUID(tree->topLevelItem(i), &uuid) && uuid == QByteArray(20, char(node.uuidByte)))
                row = tree->topLevelItem(i);
        }
        Check(row != nullptr);
        tree->scrollToItem(row);
        const QPoint at(tree->header()->sectionViewportPosition(1) + 4, tree->visualItemRect(row).center().y());
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        Child<QPushButton>(roster, "pushButton_OpenCloseItem")->click();
        // The window asks for the settings; the node's answer shows the settings region.
        Feed(NodeIntroduction(node.id, node.name, node.uuidByte));
    }

    void StartRecording()
    {
        dialogs.SetFileName(files->filePath(QStringLiteral("fuzz.txt")));
        Child<QPushButton>(recorded, "pushButton_Record_StartPause")->click();
    }

    MessageBoxCatcher dialogs;
    Gyrovane window;
    FrameCourier *courier = nullptr;
    UnitRoster *roster = nullptr;
    SensorPanel *recorded = nullptr;
    std::unique_ptr<QTemporaryDir> files{new QTemporaryDir};
    long inputs = 0;
};

Program *program = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QTemporaryDir runtime;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // No simulator link, no real port: the bytes come only from the fuzzer.
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    qputenv("QT_LOGGING_RULES", "*.debug=false;qt.*=false");
    // Both live until the process ends; tearing the windows down at exit is not what is under test.
    new QApplication(*argc, *argv);
    program = new Program;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    program->Input(data, size);
    return 0;
}

// Fontconfig keeps the patterns of the fonts it loads in its own caches and never frees them; the
// first time an input draws a new glyph those allocations would count as a leak of that input.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
