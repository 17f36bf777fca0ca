#ifndef NODESIM_EVENTLOG_H
#define NODESIM_EVENTLOG_H

#include <cstdint>
#include <cstdio>
#include <string>

// The --log file: one JSON object per line for every record a node received or sent:
// {"t":seconds since start,"dir":"rx"|"tx","node":id,"cmd":n,"type":"Np_...","from":id,"to":id,
//  <the record's fields by name>[,"fault":"drop"|"corrupt"|"mute"|"offline"|"overrun"|"booting"]
//  [,"truth":[w,x,y,z]]}
// A "fault" says that the frame did not reach the line intact (tx) or was ignored (rx). "truth"
// (with --log-truth) is the true attitude, sensor -> north-east-down, of a streamed raw record.
class EventLog
{
public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog &) = delete;
    EventLog &operator=(const EventLog &) = delete;

    bool Open(const std::string &path, std::string *error);
    bool IsOpen() const { return file_ != nullptr; }
    void Record(double t, const char *direction, int node, const uint8_t *payload, int size,
                const char *fault = nullptr, const char *extra = nullptr);
    // Called once per turn of the event loop, so readers see every line within milliseconds.
    void Flush();
    void Close();

private:
    FILE *file_ = nullptr;
    bool dirty_ = false;
};

// "type", "cmd", "from", "to" and the decoded fields of one wire record, without braces.
std::string RecordJsonFields(const uint8_t *payload, int size);
const char *RecordTypeName(int cmd);

#endif // NODESIM_EVENTLOG_H
