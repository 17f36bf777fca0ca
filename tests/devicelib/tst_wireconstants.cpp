// The host's names of the wire constants against the device library's: the calibration commands, the
// service objects and the node-control codes are defined once for the nodes, in nimbo_types.h.

#include "calibrationcommands.h"
#include "nimbotypes.h"
#include "serviceobjects.h"

#include <QtTest>

namespace {

namespace C = CalibrationCommands;
namespace S = ServiceObjects;

// Taken before the device header's macros take over the protocol names.
constexpr quint32 kHostSilence = NP_NODECTRL_SILENCE_;
constexpr quint32 kHostNormal = NP_NODECTRL_NORMAL_;

} // namespace

namespace devc {
#include "nimbo_types.h"
}

class tst_WireConstants : public QObject
{
    Q_OBJECT

private slots:
    void sameOnBothSides_data();
    void sameOnBothSides();
};

void tst_WireConstants::sameOnBothSides_data()
{
    QTest::addColumn<quint32>("host");
    QTest::addColumn<quint32>("device");

    const struct
    {
        const char *name;
        quint32 host, device;
    } pairs[] = {
        {"node control: silence", kHostSilence, NP_NODECTRL_SILENCE_},
        {"node control: normal", kHostNormal, NP_NODECTRL_NORMAL_},
        {"nso read", S::kReadRequest, NP_NSO_READ_},
        {"nso write", S::kWriteRequest, NP_NSO_WRITE_},
        {"nso read response", S::kReadResponse, NP_NSO_READ_RESPONSE_},
        {"nso write ack", S::kWriteAck, NP_NSO_WRITE_ACK_},
        {"nso abort", S::kAbort, NP_NSO_ABORT_},
        {"can switches", S::kCanSwitches, NP_NSO_CAN_SWITCHES_},
        {"can switches sub", S::kCanSwitchesSub, NP_NSO_CAN_SWITCHES_SUB_},
        {"can baud rate", S::kCanBaudrate, NP_NSO_CAN_BAUDRATE_},
        {"can baud rate sub", S::kCanBaudrateSub, NP_NSO_CAN_BAUDRATE_SUB_},
        {"nso id", S::kNsoId, NP_NSO_NSO_ID_},
        {"npo id", S::kNpoId, NP_NSO_NPO_ID_},
        {"npo id subs", S::kNpoIds, NP_NSO_NPO_ID_SUBS_},
        {"calib switches", S::kCalibSwitches, NP_NSO_CALIB_SWITCHES_},
        {"calib switches sub", S::kCalibSwitchesSub, NP_NSO_CALIB_SWITCHES_SUB_},
        {"profile switches", S::kProfileSwitches, NP_NSO_PROFILE_SWITCHES_},
        {"profile switches sub", S::kProfileSwitchesSub, NP_NSO_PROFILE_SWITCHES_SUB_},
        {"profile switches ext", S::kProfileSwitchesExt, NP_NSO_PROFILE_SWITCHES_EXT_},
        {"profile switches ext sub", S::kProfileSwitchesExtSub, NP_NSO_PROFILE_SWITCHES_EXT_SUB_},
        {"command", S::kCommand, NP_NSO_COMMAND_},
        {"save sub", S::kSaveSub, NP_NSO_COMMAND_SAVE_SUB_},
        {"save value", S::kSaveValue, NP_NSO_COMMAND_SAVE_VALUE_},
        {"reboot sub", S::kRebootSub, NP_NSO_COMMAND_REBOOT_SUB_},
        {"reboot value", S::kRebootValue, NP_NSO_COMMAND_REBOOT_VALUE_},
        {"largest cob id", S::kMaxCobId, NP_NSO_MAX_COB_ID_},
        {"smallest npo id", S::kMinNpoId, NP_NSO_MIN_NPO_ID_},
        {"calib thermal", C::kThermal, NP_CALIB_THERMAL_},
        {"calib magnetometer", C::kMagnetometer, NP_CALIB_MAG_},
        {"calib boot", C::kBoot, NP_CALIB_BOOT_},
        {"calib static", C::kStatic, NP_CALIB_STATIC_},
        {"thermal answer", C::kThermalAnswer, NP_CALIB_THERMAL_ + NP_CALIB_ANSWER_OFFSET_},
        {"magnetometer answer", C::kMagnetometerAnswer, NP_CALIB_MAG_ + NP_CALIB_ANSWER_OFFSET_},
        {"boot answer", C::kBootAnswer, NP_CALIB_BOOT_ + NP_CALIB_ANSWER_OFFSET_},
        {"static answer", C::kStaticAnswer, NP_CALIB_STATIC_ + NP_CALIB_ANSWER_OFFSET_},
        {"in progress", C::kInProgress, NP_CALIB_IN_PROGRESS_},
        {"success", C::kSuccess, NP_CALIB_SUCCESS_},
        {"failed", C::kFailed, NP_CALIB_FAILED_},
        {"revoked", C::kRevoked, NP_CALIB_REVOKED_},
        {"thermal code", C::kThermalCode, NP_CALIB_CODE_THERMAL_},
        {"magnetometer code", C::kMagnetometerCode, NP_CALIB_CODE_MAG_},
        {"boot code", C::kBootCode, NP_CALIB_CODE_BOOT_},
        {"static code", C::kStaticCode, NP_CALIB_CODE_STATIC_},
        {"thermal new sample", C::kThermalNewSample, NP_CALIB_THERMAL_NEW_SAMPLE_},
        {"thermal clear all", C::kThermalClearAll, NP_CALIB_THERMAL_CLEAR_ALL_},
        {"thermal save", C::kThermalSave, NP_CALIB_THERMAL_SAVE_},
        {"compass run", C::kCompassRun, NP_CALIB_MAG_RUN_},
        {"compass run and save", C::kCompassRun + 1u, NP_CALIB_MAG_RUN_AND_SAVE_},
        {"compass revoke", C::kCompassRevoke, NP_CALIB_MAG_REVOKE_},
        {"compass revoke and save", C::kCompassRevoke + 1u, NP_CALIB_MAG_REVOKE_AND_SAVE_},
        {"heading fix start", C::kHeadingFixStart, NP_CALIB_MAG_HEADING_FIX_START_},
        {"heading fix finish", C::kHeadingFixFinish, NP_CALIB_MAG_HEADING_FIX_FINISH_},
        {"heading one click", C::kHeadingOneClick, NP_CALIB_MAG_HEADING_ONE_CLICK_},
        {"boot run", C::kBootRun, NP_CALIB_BOOT_RUN_},
        {"static revoke", C::kStaticRevoke, NP_CALIB_STATIC_REVOKE_},
        {"static start", C::kStaticStart, NP_CALIB_STATIC_START_},
        {"static finish", C::kStaticFinish, NP_CALIB_STATIC_FINISH_},
    };
    for (const auto &p : pairs)
        QTest::newRow(p.name) << p.host << p.device;
}

void tst_WireConstants::sameOnBothSides()
{
    QFETCH(quint32, host);
    QFETCH(quint32, device);
    QCOMPARE(host, device);
}

QTEST_GUILESS_MAIN(tst_WireConstants)
#include "tst_wireconstants.moc"
