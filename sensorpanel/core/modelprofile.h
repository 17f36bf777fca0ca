#ifndef MODELPROFILE_H
#define MODELPROFILE_H

#include "sensorpanelcore_global.h"

#include <QtCore/QString>
#include <QtCore/QVector>

// What the two firmware numbers of a node say about its model, and how the node window adapts its
// form to that model. The adaptation is a list of steps on widgets named by object name, so that it
// can be read and tested without building the window.
class SENSORPANELCORE_EXPORT ModelProfile
{
public:
    struct Step
    {
        enum Kind {
            Hide,
            Show,
            Enable,
            Disable,
            SetText,   // object's text := text
            RemoveTab, // remove tab `index` of the calibration tab widget (no-op when it is missing)
            Message,   // modal information box with text
            OdrOff,    // the single rate "0", and the rate widgets hidden
            OdrList,   // the rates a current node offers, highest first
        };
        Kind kind;
        QString object;
        QString text;
        int index = -1;

        bool operator==(const Step &o) const
        {
            return kind == o.kind && object == o.object && text == o.text && index == o.index;
        }
    };

    ModelProfile() = default;
    ModelProfile(int nodeFwVer, int nodeFwRevisionVer);
    // From the version text of an identity, "Ver. 3.1.6 (0)": the dotted numbers folded into one
    // (each earlier one times ten: 31 here, 318 for "Ver. 31.8.2 (70)") and the number in parentheses.
    static ModelProfile FromVersionText(const QString &version);

    int FirmwareVersion() const { return firmwareVersion; }
    int FirmwareRevision() const { return firmwareRevision; }
    int Family() const { return family; }
    int Variant() const { return variant; }
    int SubVariant() const { return subVariant; }
    int MinorVersion() const { return minorVersion; }

    // One row of the model table, then the rule for revisions 8 and 9.
    QVector<Step> FormSteps() const;

    // The combined-output model: heading and one rate in a compact record.
    bool IsComboModel() const { return family == 5 && variant == 0 && (subVariant == 1 || subVariant == 2); }
    // Revisions 8 and 9 measure roll over the full circle and have no manual heading fix.
    bool FullCircleRoll() const { return family == 0 || firmwareRevision == 8 || firmwareRevision == 9; }

    // The node list's gates: a node window needs firmware 3.1.6 or newer; after an id or name change,
    // firmware of these generations must be power-cycled before the change takes full effect.
    bool CanOpenNodeWindow() const { return firmwareVersion > 30; }
    bool NeedsPowerCycleAfterRename() const
    {
        return (firmwareVersion != 0 && firmwareVersion <= 299 && firmwareVersion % 100 <= 54) ||
               (firmwareVersion > 299 && firmwareVersion % 100 <= 22);
    }

    // Version gates read by the other regions of the window.
    bool SendsOdr() const { return firmwareVersion >= 300; }
    bool AsksScenario() const { return firmwareVersion > 46 && family != 1; }
    bool AnswersCalibration() const { return firmwareVersion >= 44; }

    static const char *const kOdrRates[];

private:
    int firmwareVersion = 0;
    int firmwareRevision = 0;
    int family = 0;
    int variant = 0;
    int subVariant = 0;
    int minorVersion = 0;
};

#endif // MODELPROFILE_H
