#ifndef NODENAME_H
#define NODENAME_H

#include "sensorpanelcore_global.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

// A node's name as it stores it: up to 12 bytes, zero-padded. Names written by other tools need not be
// UTF-8, so they are shown without losing a byte and sent back exactly as they came unless edited.
namespace NodeName {

constexpr int kBytes = 12;

// The bytes up to the first zero.
SENSORPANELCORE_EXPORT QByteArray Stored(const QByteArray &bytes);
// Shown as UTF-8 where they are UTF-8, else one character per byte (Latin-1), which loses nothing.
SENSORPANELCORE_EXPORT QString Text(const QByteArray &bytes);
SENSORPANELCORE_EXPORT bool IsUtf8(const QByteArray &bytes);

// A typed name in the bytes the node would store: UTF-8, cut at a character so that it fits in
// maxBytes. `kept` is the text those bytes stand for; false when some of the text does not fit.
SENSORPANELCORE_EXPORT bool Encode(const QString &text, int maxBytes, QByteArray *bytes, QString *kept);

} // namespace NodeName

#endif // NODENAME_H
