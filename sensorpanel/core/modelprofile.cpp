#include "modelprofile.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QStringList>

#include <climits>

namespace {

using Step = ModelProfile::Step;

QString Tr(const char *text) { return QCoreApplication::translate("SensorPanel", text); }

// Builds the step list of one model row.
class Steps
{
public:
    Steps &Hide(std::initializer_list<const char *> names) { return Add(Step::Hide, names); }
    Steps &Show(std::initializer_list<const char *> names) { return Add(Step::Show, names); }
    Steps &Enable(std::initializer_list<const char *> names) { return Add(Step::Enable, names); }
    Steps &Disable(std::initializer_list<const char *> names) { return Add(Step::Disable, names); }
    Steps &Text(const char *name, const char *text)
    {
        steps.append({Step::SetText, QString::fromLatin1(name), Tr(text)});
        return *this;
    }
    Steps &RemoveTab(int index, int times = 1)
    {
        for (int i = 0; i < times; ++i)
            steps.append({Step::RemoveTab, QString(), QString(), index});
        return *this;
    }
    Steps &Message(const char *text)
    {
        steps.append({Step::Message, QString(), Tr(text)});
        return *this;
    }
    Steps &OdrOff()
    {
        steps.append({Step::OdrOff, QString(), QString()});
        return *this;
    }
    Steps &OdrList()
    {
        steps.append({Step::OdrList, QString(), QString()});
        return *this;
    }

    // Groups of changes that several rows share.
    Steps &ReducedCalibration() { return RemoveTab(1, 3).Hide({"groupBox_CalibForce"}); }
    Steps &ErrorFilter(bool shown)
    {
        return Add(shown ? Step::Show : Step::Hide,
                   {"checkBoxd_Fusion_Param_Gyro_Enable_GyroErrFilter", "line_GyroErrFilter_1",
                    "line_GyroErrFilter_2", "line_GyroErrFilter_3"});
    }
    Steps &InhibitTimeHidden()
    {
        return Hide({"spinBox_IF_InhititTime", "label_InhibitTime_Title", "label_InhibitTime_Unit"});
    }
    Steps &UnknownDevice(const char *text) { return ReducedCalibration().Message(text); }
    Steps &CurrentGeneration()
    {
        ErrorFilter(true);
        Enable({"spinBox_IF_SilentTime"});
        Hide({"comboBox_Serial_UART1_Baudrate", "comboBox_Serial_CAN1_Baudrate"});
        Text("checkBox_En_IF_UART1", "RS422");
        Text("checkBox_En_IF_USB_UART2", "USB 2.0");
        Text("checkBox_En_IF_CANbus1", "CAN 2.0B");
        Show({"pushButton_OpenClose_SNO_ProfilePanel", "pushButton_OpenClose_CanPannel"});
        OdrList();
        InhibitTimeHidden();
        RemoveTab(3);
        return Hide({"checkBox_Output_Combo"});
    }
    Steps &FamilyOneTail()
    {
        Enable({"spinBox_IF_SilentTime"});
        Hide({"comboBox_Serial_CAN1_Baudrate", "comboBox_Serial_UART1_Baudrate"});
        OdrOff();
        ReducedCalibration();
        return Hide({"checkBox_Output_Combo"});
    }
    Steps &FamilyTwoTail()
    {
        ErrorFilter(true);
        Enable({"spinBox_IF_SilentTime"});
        Hide({"comboBox_Serial_CAN1_Baudrate"});
        Text("checkBox_En_IF_UART1", "UART 1");
        Text("checkBox_En_IF_CANbus1", "Reserved");
        Disable({"checkBox_En_IF_CANbus1"});
        Hide({"comboBox_Serial_UART1_Baudrate"});
        OdrOff();
        ReducedCalibration();
        return Hide({"checkBox_Output_Combo"});
    }
    Steps &AccelerometerGain(bool shown)
    {
        Add(shown ? Step::Show : Step::Hide, {"dial_Fusion_Param_Acc", "doubleSpinBox_Fusion_Param_Acc",
                                              "label_Fusion_Param_Acc", "line_Fusion_Param_Acc"});
        return Add(shown ? Step::Enable : Step::Disable, {"dial_Fusion_Param_Acc"});
    }

    QVector<Step> steps;

private:
    Steps &Add(Step::Kind kind, std::initializer_list<const char *> names)
    {
        for (const char *name : names)
            steps.append({kind, QString::fromLatin1(name), QString()});
        return *this;
    }
};

const char *const kKT1xx = QT_TRANSLATE_NOOP(
    "SensorPanel", "Unknown device KT1xx. You may need to upgrade Gyrovane to its latest version in order to "
                   "correctly connect and configure the connected Kinetra model.");
const char *const kKT2xx = QT_TRANSLATE_NOOP(
    "SensorPanel", "Unknown device KT2xx. You may need to upgrade Gyrovane to its latest version in order to "
                   "correctly connect and configure the connected Kinetra model.");
const char *const kKTxxx = QT_TRANSLATE_NOOP(
    "SensorPanel", "Unknown device KTxxx. You may need to upgrade Gyrovane to its latest version in order to "
                   "correctly connect and configure the connected Kinetra model.");

} // namespace

const char *const ModelProfile::kOdrRates[] = {"200", "100", "50", "25", "10", "5", "1", nullptr};

ModelProfile::ModelProfile(int nodeFwVer, int nodeFwRevisionVer)
    : firmwareVersion(nodeFwVer)
    , firmwareRevision(nodeFwRevisionVer)
    , family(nodeFwVer / 100)
{
    // The revision carries the hardware variant in its tens; revisions below 10 wrap to a huge
    // variant, which no row of the model table knows.
    variant = family == 0 ? 0 : int((quint32(nodeFwRevisionVer) - 10u) / 10u);
    subVariant = nodeFwRevisionVer % 10;
    minorVersion = family == 0 ? nodeFwVer : nodeFwVer % 100;
}

QVector<ModelProfile::Step> ModelProfile::FormSteps() const
{
    Steps s;
    switch (family) {
    case 0:
        if (firmwareVersion < 40) {
            s.ErrorFilter(false).Disable({"spinBox_IF_SilentTime"}).Hide({"comboBox_Serial_CAN1_Baudrate"});
            s.OdrOff().ReducedCalibration().Hide({"checkBox_Output_Combo"});
        } else if (firmwareVersion <= 50) {
            s.ErrorFilter(true).Enable({"spinBox_IF_SilentTime"}).Hide({"comboBox_Serial_CAN1_Baudrate"});
            s.OdrOff().RemoveTab(1, 2).Show({"checkBox_Apply_CalibT"});
            s.Hide({"groupBox_CalibForce", "checkBox_Output_Combo"});
        } else if (firmwareVersion <= 60) {
            s.ErrorFilter(true).Enable({"spinBox_IF_SilentTime"}).Show({"comboBox_Serial_CAN1_Baudrate"});
            s.Text("checkBox_En_IF_UART1", "UART 1").Text("checkBox_En_IF_CANbus1", "CAN Bus");
            s.OdrOff().RemoveTab(1, 2).Show({"checkBox_Apply_CalibT"}).Hide({"checkBox_Output_Combo"});
        } else {
            s.ReducedCalibration().Hide({"checkBox_Output_Combo"}).Message(kKTxxx);
        }
        break;
    case 1:
        if (variant == 0) {
            s.AccelerometerGain(false);
            s.Text("checkBox_En_IF_UART1", "UART 1");
            s.Text("checkBox_En_IF_USB_UART2", "Reserved").Disable({"checkBox_En_IF_USB_UART2"});
            s.Text("checkBox_En_IF_CANbus1", "Reserved").Disable({"checkBox_En_IF_CANbus1"});
            s.Hide({"comboBox_Serial_UART2_Baudrate"}).Show({"comboBox_Serial_UART1_Baudrate_Dummy"});
            s.ErrorFilter(true);
        } else if (variant == 3) {
            s.AccelerometerGain(true);
            s.Text("checkBox_En_IF_UART1", "UART");
            s.Text("checkBox_En_IF_USB_UART2", "USB").Enable({"checkBox_En_IF_USB_UART2"});
            s.Text("checkBox_En_IF_CANbus1", "Reserved").Disable({"checkBox_En_IF_CANbus1"});
            s.Hide({"comboBox_Serial_UART2_Baudrate"}).Show({"comboBox_Serial_UART1_Baudrate_Dummy"});
            s.Disable({"checkBox_Output_Euler_S1_E"});
            s.Text("checkBoxd_Fusion_Param_Gyro_Enable_GyroErrFilter", "Bias Fix").ErrorFilter(true);
            s.Disable({"checkBoxd_Fusion_Param_Mag_Enable_SAFilter"});
        } else {
            s.Message(kKT1xx);
        }
        s.FamilyOneTail();
        break;
    case 2:
        if (variant == 0) {
            s.Text("checkBox_En_IF_USB_UART2", "Reserved").Disable({"checkBox_En_IF_USB_UART2"});
        } else if (variant == 1) {
            s.Text("checkBox_En_IF_USB_UART2", "USB 2.0").Enable({"checkBox_En_IF_USB_UART2"});
        } else {
            s.Message(kKT2xx);
        }
        s.FamilyTwoTail();
        break;
    case 3:
        if (variant != 6)
            s.UnknownDevice(kKTxxx);
        s.CurrentGeneration();
        break;
    case 5:
        if (IsComboModel()) {
            s.RemoveTab(3).RemoveTab(1);
            s.Hide({"groupBox_CalibCompass_QuickHeadingFix_Auto", "label_Calib_Heading_Notes",
                    "line_label_Calib_Heading_Gap", "line_belowComposeOutput"});
            s.ErrorFilter(true).Disable({"checkBoxd_Fusion_Param_Gyro_Enable_GyroErrFilter"});
            s.Enable({"spinBox_IF_SilentTime"});
            s.Hide({"comboBox_Serial_UART1_Baudrate", "comboBox_Serial_CAN1_Baudrate"});
            s.Text("checkBox_En_IF_UART1", "RS422").Text("checkBox_En_IF_USB_UART2", "USB 2.0");
            s.Text("checkBox_En_IF_CANbus1", "CAN 2.0B").Disable({"checkBox_En_IF_CANbus1"});
            s.Hide({"pushButton_OpenClose_SNO_ProfilePanel", "pushButton_OpenClose_CanPannel"});
            s.Hide({"checkBox_En_Sensor_Acc", "label_Sensor_Acc", "line_Sensor_Acc", "checkBox_En_Sensor_Mag",
                    "label_Sensor_Mag", "line_Sensor_Mag"});
            s.Hide({"dial_Fusion_Param_Mag", "doubleSpinBox_Fusion_Param_Mag", "label_Fusion_Param_Mag",
                    "line_Fusion_Param_Mag", "checkBoxd_Fusion_Param_Mag_Enable_SAFilter"});
            s.Disable({"checkBox_Output_Gravity", "checkBox_Output_Euler_S1_E",
                       "checkBox_Output_RawData_DispInXYMode"});
            s.OdrList().InhibitTimeHidden();
            s.Show({"checkBox_Output_Combo", "line_Output_Combo_1", "line_Output_Combo_2"});
        } else {
            if (variant != 0 && variant != 1)
                s.UnknownDevice(kKTxxx);
            s.CurrentGeneration();
        }
        break;
    default: s.UnknownDevice(kKTxxx); break;
    }
    if (firmwareRevision == 8 || firmwareRevision == 9)
        s.Hide(
            {"groupBox_CalibCompass_QuickHeadingFix_Manual", "line_CalibCompass_QuickHeadingFix_OneClick"});
    return s.steps;
}

ModelProfile ModelProfile::FromVersionText(const QString &version)
{
    qint64 number = 0;
    for (const QString &part : version.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = part.toInt(&ok, 10);
        // Saturated, so that a malformed text cannot overflow.
        if (ok)
            number = qBound<qint64>(INT_MIN, number * 10 + n, INT_MAX);
    }
    int revision = 0;
    for (const QString &piece : version.split(QLatin1Char('('), Qt::SkipEmptyParts)) {
        for (const QString &subPiece : piece.split(QLatin1Char(')'), Qt::SkipEmptyParts)) {
            bool ok = false;
            const int n = subPiece.toInt(&ok, 10);
            if (ok)
                revision = n;
        }
    }
    return ModelProfile(int(number), revision);
}
