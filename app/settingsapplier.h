#ifndef SETTINGSAPPLIER_H
#define SETTINGSAPPLIER_H

#include <QtCore/QStringList>

class QTextStream;

// The command-line form of a settings file for many modules at once:
//
//     Gyrovane --apply-settings FILE --port PORT --node ID|all [--baud RATE] [--write-fitting] [--no-save]
//
// Opens the port with its own link, finds the nodes, writes the file's settings to the node named or
// to every node of the file's model generation, and prints one line per node with its outcome. By
// default the settings are also saved in each node's flash memory.
//
// Returns the exit status: 0 when every node written acknowledged, 1 when one did not (or none was
// found), 2 for a bad command line, an unusable file or a port that does not open.
namespace SettingsApplier {

// Whether the command line asks for this form (then no window is shown).
bool Wanted(int argc, char *argv[]);
int Run(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace SettingsApplier

#endif // SETTINGSAPPLIER_H
