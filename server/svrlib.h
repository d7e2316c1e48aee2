// The driver channel: choosing the sysctl node of the RAID driver and making one call on it.
#pragma once
#include <cstdint>

// Name of the driver's sysctl node; empty until the first driver call chooses it.
extern char ourfile[256];

// One driver operation on the channel, chosen on first use (the process exits with -1 when no
// channel answers). Returns the sysctl result: 0 done, -1 failed.
int Server_User_DeviceIoControl(uint32_t code, void* input, uint32_t inputSize, void* output,
                                uint32_t outputSize, uint32_t* returned);

// Chooses the channel: the name in "/etc/vtncfg" when it answers, else the first built-in name
// that answers. 0, or -1 when none answers (the last name tried stays stored).
int InitVtnProcFile();
// Stores name as the channel and probes it; the probe's result.
int InitVtnProcFile1(const char* name);
// Reads the channel name from the first line of "/etc/vtncfg" into ourfile; 0 or -1.
int GetProcFileFromFile();
// 0 when text holds a valid channel name (cut at its end), else -1.
int is_valid_name(char* text);

// Forgets the chosen channel so that the next driver call chooses again (tests).
void ResetVtnProcFile();
