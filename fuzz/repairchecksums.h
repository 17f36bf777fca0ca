#ifndef REPAIRCHECKSUMS_H
#define REPAIRCHECKSUMS_H

#include "nimboprotocol.h"

#include <vector>

// Gives every plausible frame in the bytes a correct checksum, so that fuzzed input reaches the
// record handling instead of dying in the checksum test.
inline void RepairChecksums(std::vector<char> &bytes)
{
    for (size_t i = 0; i + 3 <= bytes.size(); ++i) {
        if (quint8(bytes[i]) != 0xAA || quint8(bytes[i + 1]) != 0x55)
            continue;
        const size_t length = quint8(bytes[i + 2]);
        if (length == 0 || length > 120 || i + 3 + length + 2 > bytes.size())
            continue;
        const quint16 crc = NimboProtocol::Crc16(&bytes[i + 2], int(length + 1));
        bytes[i + 3 + length] = char(crc & 0xFF);
        bytes[i + 4 + length] = char(crc >> 8);
        i += 4 + length;
    }
}

#endif // REPAIRCHECKSUMS_H
