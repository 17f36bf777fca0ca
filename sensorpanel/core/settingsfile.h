#ifndef SETTINGSFILE_H
#define SETTINGSFILE_H

#include "sensorpanelcore_global.h"

#include "modelprofile.h"
#include "nimbotypes.h"
#include "serviceobjects.h"

#include <QtCore/QByteArray>
#include <QtCore/QJsonValue>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVector>

// A node's settings as a JSON file: written from the settings record of one node, read back and
// compared with the settings of another, so that many modules can be configured alike.
//
// Every field goes by a name and in the user's units (a baud rate, not rate / 100; a gain, not
// gain × 100). A file may hold any subset of the fields; what it lacks is left as the node has it.
// The link's transport flags (reliable write, save to flash), reserved bits and reserved0 are never
// in a file.
namespace SettingsFile {

constexpr int kSchemaVersion = 1;
extern SENSORPANELCORE_EXPORT const char *const kFormat; // "gyrovane node settings"

struct Identity
{
    QByteArray uuid;
    quint16 nodeId = 0;
    QString name;
    QString firmware; // "31.8.2.70"
    ModelProfile model;
};

// The generation a model belongs to, "family.variant" ("3.6"): nodes of one generation share a form.
SENSORPANELCORE_EXPORT QString Generation(const ModelProfile &model);

// The field names in file order.
SENSORPANELCORE_EXPORT QStringList FieldNames();

// The file for these settings; the CAN service objects are added when they have been read (not null).
SENSORPANELCORE_EXPORT QByteArray Write(const Np_Settings &settings, const Identity &node,
                                        const ServiceObjects::State *serviceObjects, const QString &savedAtUtc);

struct Contents
{
    QString error; // empty when the file was read; else a sentence naming what is wrong
    QString generation;
    QString nodeName;
    QString firmware;
    int nodeId = -1;
    QMap<QString, quint32> raw; // field name -> the value as the settings record holds it
    bool hasServiceObjects = false;
};

// Reads and checks a file: every field must be known and its value of the right type and in range.
SENSORPANELCORE_EXPORT Contents Read(const QByteArray &json);

struct Difference
{
    QString field;
    QString onNode;
    QString inFile;
};

struct Plan
{
    QVector<Difference> changes; // fields the node has whose values differ, in file order
    QStringList unfit;           // fields of the file this node lacks: never written
    QString otherGeneration;     // set when the file is from another model generation: says which
    Np_Settings result{};        // the node's settings with every change applied

    // Another generation or fields the node lacks: the user must agree to write the fields that fit.
    bool NeedsConfirmation() const { return !otherGeneration.isEmpty() || !unfit.isEmpty(); }
};

SENSORPANELCORE_EXPORT Plan Compare(const Np_Settings &current, const ModelProfile &model, const Contents &file);

} // namespace SettingsFile

#endif // SETTINGSFILE_H
