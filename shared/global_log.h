// The event log "/var/log/vtn.log" (one text line per event) and the whole-file lock.
#pragma once
#include <cstddef>
#include <cstdint>

#include "global_time.h"

#pragma pack(push, 1)
struct _VTN_LOG_EVENT {
    char severity;        // 'I', 'W', 'E'
    char mark;            // '0' written, '1' once mailed
    uint8_t unused[2];
    _TIME_RECORD time;    // start of the 44-byte driver event for a driver event
    uint8_t event[40];    // rest of the driver event (not stored in the file)
    char text[512];       // NUL-terminated, at most 511 characters
};
#pragma pack(pop)
static_assert(sizeof(_VTN_LOG_EVENT) == 560);
static_assert(offsetof(_VTN_LOG_EVENT, mark) == 1);
static_assert(offsetof(_VTN_LOG_EVENT, time) == 4);
static_assert(offsetof(_VTN_LOG_EVENT, text) == 48);

struct _VTN_LOCK_FILE_DATA {
    int fd;
};

void SaveEventToFile(_VTN_LOG_EVENT* event);
void SaveStrEvent(uint8_t severity, char* text);
uint32_t EnumEvent(_VTN_LOG_EVENT* event, int n);
int UpdateEvent(int n, uint8_t mark);
int Clear_EventLog();
// Changes each time the log is cleared, so a reader can tell its line numbers are stale.
uint64_t EventLogGeneration();

void VTN_INIT_LOCK_DATA();
void VTN_LOCK_LOG_FILE(_VTN_LOCK_FILE_DATA* lock);
void VTN_UNLOCK_LOG_FILE(_VTN_LOCK_FILE_DATA* lock);

// Routines the system does not call.
int ParseLine(char* line, char** words, int max);
bool GetLineFromFile(int fd, char* buf, int size);
