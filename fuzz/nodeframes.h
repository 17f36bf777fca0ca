#ifndef NODEFRAMES_H
#define NODEFRAMES_H

#include <cstdint>
#include <string>

// The frames a node sends to introduce itself to the host: its identity (firmware 31.8.2.70, the
// given name and a uuid of twenty copies of uuidByte) and its settings with every output on at 800 Hz.
// Built with the device library, apart from the host's protocol code.
std::string NodeIntroduction(int nodeId, const char *name, uint8_t uuidByte);

#endif // NODEFRAMES_H
