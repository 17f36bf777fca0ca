#include "settingsfile.h"

#include "settingsmapping.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QSet>

#include <cmath>

namespace SettingsFile {

const char *const kFormat = "gyrovane node settings";

namespace {

using namespace NpSettingsBit;

QString Tr(const char *text) { return QCoreApplication::translate("SettingsFile", text); }

enum class Kind {
    Bit,    // one bit of settingsWord: true / false
    Choice, // a bit field of settingsWord: its number, with a meaning beside it
    Times,  // a uint16 field holding value / scale: a whole number in the file
    Per,    // a uint16 field holding value × scale: a number with two decimals in the file
    Plain,  // a uint16 field as it is
};

struct Field
{
    const char *name;
    const char *unit;
    Kind kind;
    int shift;                  // Bit, Choice
    int width;                  // Choice
    quint16 Np_Settings::*member; // Times, Per, Plain
    int scale;
    const char *widget;         // the form's widget; null: the check box of the bit
    bool hiddenInForm;          // the form hides it unless the model shows it
};

// The fields in file order. Left out: the link's transport bits, and what the form always sends
// one way (Q_s1_s and Euler_s1_s off, no CAN-to-UART bypass, the CRC checksum).
const Field kFields[] = {
    {"gyroscope_enabled", "", Kind::Bit, enGyro, 1, nullptr, 0, nullptr, false},
    {"accelerometer_enabled", "", Kind::Bit, enAcc, 1, nullptr, 0, nullptr, false},
    {"magnetometer_enabled", "", Kind::Bit, enMag, 1, nullptr, 0, nullptr, false},
    {"thermal_calibration_applied", "", Kind::Bit, applyCalibT, 1, nullptr, 0, nullptr, true},
    {"gyro_error_filter", "", Kind::Bit, gyroErrFilter, 1, nullptr, 0, nullptr, false},
    {"magnetometer_sa_filter", "", Kind::Bit, magSAFilter, 1, nullptr, 0, nullptr, false},
    {"accelerometer_gain", "", Kind::Per, 0, 0, &Np_Settings::fusionParamAcc, 100,
     "doubleSpinBox_Fusion_Param_Acc", false},
    {"magnetometer_gain", "", Kind::Per, 0, 0, &Np_Settings::fusionParamMag, 100, "doubleSpinBox_Fusion_Param_Mag",
     false},
    {"boot_mode", "", Kind::Choice, bootMode, 2, nullptr, 0, "radioButton_BootMode_AutoSelect", false},
    {"output_status", "", Kind::Bit, outStatus, 1, nullptr, 0, nullptr, false},
    {"output_raw_data", "", Kind::Bit, outRaw, 1, nullptr, 0, nullptr, false},
    {"output_q_s1_e", "", Kind::Bit, outQ_s1_e, 1, nullptr, 0, nullptr, false},
    {"output_euler_s1_e", "", Kind::Bit, outEuler_s1_e, 1, nullptr, 0, nullptr, false},
    {"output_rpy", "", Kind::Bit, outRPY, 1, nullptr, 0, nullptr, false},
    {"output_gravity", "", Kind::Bit, outGravity, 1, nullptr, 0, nullptr, false},
    {"output_combo", "", Kind::Bit, outCombo, 1, nullptr, 0, nullptr, true},
    {"output_data_rate", "Hz", Kind::Plain, 0, 0, &Np_Settings::odr, 1, "comboBox_IF_ODR", false},
    {"binary_format", "", Kind::Bit, binaryFormat, 1, nullptr, 0, "radioButton_Serial_DataFormat_Binary", false},
    {"uart1_enabled", "", Kind::Bit, enUART1, 1, nullptr, 0, nullptr, false},
    {"uart2_enabled", "", Kind::Bit, enUART2, 1, nullptr, 0, nullptr, false},
    {"uart2_baud_rate", "baud", Kind::Times, 0, 0, &Np_Settings::uart2Baud, 100, "comboBox_Serial_UART2_Baudrate",
     false},
    {"can1_enabled", "", Kind::Bit, enCAN1, 1, nullptr, 0, nullptr, false},
    {"can1_bit_rate", "bit/s", Kind::Times, 0, 0, &Np_Settings::can1Bitrate, 100, "comboBox_Serial_CAN1_Baudrate",
     false},
    {"inhibit_time", "ms", Kind::Plain, 0, 0, &Np_Settings::inhibitTime, 1, "spinBox_IF_InhititTime", false},
    {"silent_time", "s", Kind::Plain, 0, 0, &Np_Settings::silentTime, 1, "spinBox_IF_SilentTime", false},
};

QString WidgetOf(const Field &field)
{
    if (field.widget)
        return QString::fromLatin1(field.widget);
    for (int i = 0; i < SettingsMapping::kCheckBoxBitCount; ++i)
        if (SettingsMapping::kCheckBoxBits[i].bit == field.shift)
            return QString::fromLatin1(SettingsMapping::kCheckBoxBits[i].objectName);
    return QString();
}

const Field *Find(const QString &name)
{
    for (const Field &field : kFields)
        if (name == QLatin1String(field.name))
            return &field;
    return nullptr;
}

quint32 RawOf(const Field &field, const Np_Settings &s)
{
    switch (field.kind) {
    case Kind::Bit: return GetField(s.settingsWord, field.shift, 1);
    case Kind::Choice: return GetField(s.settingsWord, field.shift, field.width);
    default: return s.*field.member;
    }
}

void SetRaw(const Field &field, Np_Settings &s, quint32 raw)
{
    switch (field.kind) {
    case Kind::Bit:
    case Kind::Choice: s.settingsWord = SetField(s.settingsWord, field.shift, field.kind == Kind::Bit ? 1 : field.width, raw); break;
    default: s.*field.member = quint16(raw); break;
    }
}

QString Meaning(const Field &field, quint32 raw)
{
    if (field.shift == bootMode) {
        static const char *const kModes[] = {"automatic", "static boot", "dynamic boot", "unnamed mode 3"};
        return QString::fromLatin1(kModes[raw & 3u]);
    }
    return QString();
}

QJsonValue JsonValueOf(const Field &field, quint32 raw)
{
    switch (field.kind) {
    case Kind::Bit: return raw != 0;
    case Kind::Choice:
    case Kind::Plain: return double(raw);
    case Kind::Times: return double(raw) * field.scale;
    case Kind::Per: return double(raw) / field.scale;
    }
    return QJsonValue();
}

// What the user reads in the difference table: the value in the file's units.
QString Shown(const Field &field, quint32 raw)
{
    QString text;
    switch (field.kind) {
    case Kind::Bit: return raw ? Tr("on") : Tr("off");
    case Kind::Choice: return QStringLiteral("%1 (%2)").arg(raw).arg(Meaning(field, raw));
    case Kind::Per: text = QString::number(double(raw) / field.scale, 'f', 2); break;
    default: text = QString::number(quint64(raw) * quint64(field.scale)); break;
    }
    return *field.unit ? text + QLatin1Char(' ') + QString::fromLatin1(field.unit) : text;
}

// The raw value a file's value stands for, or an error sentence.
bool RawFromJson(const Field &field, const QJsonValue &value, quint32 *raw, QString *error)
{
    const QString name = QString::fromLatin1(field.name);
    if (field.kind == Kind::Bit) {
        if (!value.isBool()) {
            *error = Tr("The field \"%1\" must be true or false.").arg(name);
            return false;
        }
        *raw = value.toBool() ? 1u : 0u;
        return true;
    }
    if (!value.isDouble()) {
        *error = Tr("The field \"%1\" must be a number.").arg(name);
        return false;
    }
    const double v = value.toDouble();
    const double limit = field.kind == Kind::Choice ? double((1u << field.width) - 1u)
                         : field.kind == Kind::Times ? 65535.0 * field.scale
                         : field.kind == Kind::Per   ? 65535.0 / field.scale
                                                     : 65535.0;
    const double scaled = field.kind == Kind::Times ? v / field.scale : field.kind == Kind::Per ? v * field.scale : v;
    const bool whole = std::fabs(scaled - std::round(scaled)) < 1e-6;
    if (!(v >= 0 && v <= limit) || !whole) {
        const QString unit = *field.unit ? QLatin1Char(' ') + QString::fromLatin1(field.unit) : QString();
        const QString limitText = field.kind == Kind::Per ? QString::number(limit, 'f', 2)
                                                          : QString::number(qint64(limit));
        QString rule;
        if (field.kind == Kind::Times)
            rule = Tr("a multiple of %1 from 0 to %2%3").arg(field.scale).arg(limitText, unit);
        else if (field.kind == Kind::Per)
            rule = Tr("from 0 to %1 with at most two decimals").arg(limitText);
        else
            rule = Tr("a whole number from 0 to %1%2").arg(limitText, unit);
        *error = Tr("The field \"%1\" holds %2, which the node cannot take: it must be %3.")
                     .arg(name, QString::number(v, 'g', 12), rule);
        return false;
    }
    *raw = quint32(std::llround(scaled));
    return true;
}

// Which fields the node's form offers, after the model's steps.
QSet<QString> FieldsOf(const ModelProfile &model)
{
    QSet<QString> hidden, disabled;
    for (const Field &field : kFields)
        if (field.hiddenInForm)
            hidden.insert(WidgetOf(field));
    for (const ModelProfile::Step &step : model.FormSteps()) {
        switch (step.kind) {
        case ModelProfile::Step::Hide: hidden.insert(step.object); break;
        case ModelProfile::Step::Show: hidden.remove(step.object); break;
        case ModelProfile::Step::Disable: disabled.insert(step.object); break;
        case ModelProfile::Step::Enable: disabled.remove(step.object); break;
        case ModelProfile::Step::OdrOff: hidden.insert(QStringLiteral("comboBox_IF_ODR")); break;
        default: break;
        }
    }
    if (!model.SendsOdr())
        hidden.insert(QStringLiteral("comboBox_IF_ODR"));
    QSet<QString> fields;
    for (const Field &field : kFields) {
        const QString widget = WidgetOf(field);
        if (!hidden.contains(widget) && !disabled.contains(widget))
            fields.insert(QString::fromLatin1(field.name));
    }
    return fields;
}

QString UuidText(const QByteArray &uuid) { return QString::fromLatin1(uuid.toHex()); }

} // namespace

QString Generation(const ModelProfile &model)
{
    return QStringLiteral("%1.%2").arg(model.Family()).arg(model.Variant());
}

QStringList FieldNames()
{
    QStringList names;
    for (const Field &field : kFields)
        names << QString::fromLatin1(field.name);
    return names;
}

QByteArray Write(const Np_Settings &settings, const Identity &node, const ServiceObjects::State *serviceObjects,
                 const QString &savedAtUtc)
{
    const QSet<QString> has = FieldsOf(node.model);
    QJsonObject fields;
    for (const Field &field : kFields) {
        if (!has.contains(QString::fromLatin1(field.name)))
            continue;
        const quint32 raw = RawOf(field, settings);
        QJsonObject entry{{QStringLiteral("value"), JsonValueOf(field, raw)},
                          {QStringLiteral("unit"), QString::fromLatin1(field.unit)}};
        const QString meaning = Meaning(field, raw);
        if (!meaning.isEmpty())
            entry.insert(QStringLiteral("meaning"), meaning);
        fields.insert(QString::fromLatin1(field.name), entry);
    }
    QJsonObject root{
        {QStringLiteral("format"), QString::fromLatin1(kFormat)},
        {QStringLiteral("schema_version"), kSchemaVersion},
        {QStringLiteral("saved"), savedAtUtc},
        {QStringLiteral("node"),
         QJsonObject{{QStringLiteral("uuid"), UuidText(node.uuid)},
                     {QStringLiteral("id"), int(node.nodeId)},
                     {QStringLiteral("name"), node.name},
                     {QStringLiteral("firmware"), node.firmware},
                     {QStringLiteral("model_generation"), Generation(node.model)}}},
        {QStringLiteral("settings"), fields},
    };
    if (serviceObjects) {
        QJsonArray npo;
        for (quint32 id : serviceObjects->npoId)
            npo.append(double(id));
        root.insert(QStringLiteral("can_service_objects"),
                    QJsonObject{{QStringLiteral("can_switches"), double(serviceObjects->canSwitches)},
                                {QStringLiteral("can_bit_rate"), double(serviceObjects->canBaudrate) * 100},
                                {QStringLiteral("nso_download_cob_id"), double(serviceObjects->nsoId[0])},
                                {QStringLiteral("nso_upload_cob_id"), double(serviceObjects->nsoId[1])},
                                {QStringLiteral("npo_cob_ids"), npo},
                                {QStringLiteral("profile_switches"), double(serviceObjects->profileSwitches)}});
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

Contents Read(const QByteArray &json)
{
    Contents c;
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull()) {
        c.error = Tr("This is not a JSON file (%1 at character %2).")
                      .arg(parseError.errorString())
                      .arg(parseError.offset);
        return c;
    }
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != QLatin1String(kFormat) ||
        !root.value(QStringLiteral("settings")).isObject()) {
        c.error = Tr("This is not a node settings file of Gyrovane.");
        return c;
    }
    const int schema = root.value(QStringLiteral("schema_version")).toInt(0);
    if (schema < 1 || schema > kSchemaVersion) {
        c.error = Tr("The file is of schema version %1; this Gyrovane reads version %2.")
                      .arg(root.value(QStringLiteral("schema_version")).toVariant().toString())
                      .arg(kSchemaVersion);
        return c;
    }
    const QJsonObject node = root.value(QStringLiteral("node")).toObject();
    c.generation = node.value(QStringLiteral("model_generation")).toString();
    c.nodeName = node.value(QStringLiteral("name")).toString();
    c.firmware = node.value(QStringLiteral("firmware")).toString();
    c.nodeId = node.value(QStringLiteral("id")).toInt(-1);
    c.hasServiceObjects = root.contains(QStringLiteral("can_service_objects"));

    const QJsonObject fields = root.value(QStringLiteral("settings")).toObject();
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        const Field *field = Find(it.key());
        if (!field) {
            c.error = Tr("\"%1\" is not a settings field. The fields are: %2.")
                          .arg(it.key(), FieldNames().join(QStringLiteral(", ")));
            return c;
        }
        // A hand-written file may give the bare value.
        const QJsonValue value = it.value().isObject() ? it.value().toObject().value(QStringLiteral("value")) : it.value();
        quint32 raw = 0;
        if (!RawFromJson(*field, value, &raw, &c.error))
            return c;
        c.raw.insert(it.key(), raw);
    }
    return c;
}

Plan Compare(const Np_Settings &current, const ModelProfile &model, const Contents &file)
{
    Plan plan;
    plan.result = current;
    const QString generation = Generation(model);
    if (!file.generation.isEmpty() && file.generation != generation)
        plan.otherGeneration = Tr("The file is from model generation %1; this node is of generation %2.")
                                   .arg(file.generation, generation);
    const QSet<QString> has = FieldsOf(model);
    for (const Field &field : kFields) {
        const QString name = QString::fromLatin1(field.name);
        const auto inFile = file.raw.find(name);
        if (inFile == file.raw.end())
            continue;
        if (!has.contains(name)) {
            plan.unfit << name;
            continue;
        }
        const quint32 now = RawOf(field, current);
        if (now == inFile.value())
            continue;
        plan.changes.append({name, Shown(field, now), Shown(field, inFile.value())});
        SetRaw(field, plan.result, inFile.value());
    }
    // What the form sends with every change goes with this one too.
    plan.result.settingsWord = SettingsMapping::WithHostRules(plan.result.settingsWord);
    if (!has.contains(QStringLiteral("thermal_calibration_applied")))
        plan.result.settingsWord = Set(plan.result.settingsWord, applyCalibT, false);
    return plan;
}

} // namespace SettingsFile
