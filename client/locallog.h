// The GUI's local copy of the connected server's event log: one text line per event,
// "%c\t%s\t%s\n" (severity, time text, message). Each write leaves the copy whole: a line goes in
// whole or not at all, and a rewrite replaces the file at once. The first failure is told in an
// "Error" box; further ones are not, until a write succeeds again.
#pragma once
#include <string>

constexpr const char* kLocalLogFile = "/usr/bin/log_loacl.txt";

// Appends one line to out; line ends inside the texts become blanks, so an event stays one line.
void FormatLogLine(std::string* out, char severity, const char* time, const char* text);
// Appends the line of one event to the copy. False when it could not be written whole (the copy is
// left as it was).
bool AppendLocalLog(char severity, const char* time, const char* text);
// Replaces the copy with data (whole lines). When that fails the old copy is removed or emptied,
// so that what it holds is never taken for the new content; false.
bool ReplaceLocalLog(const std::string& data);
// False while the file holds lines that are not the copy's (a failed replace could neither remove
// nor empty it): readers must not show them, and appends leave it alone.
bool LocalLogCurrent();
// Back to the state of a fresh start (for tests).
void ResetLocalLogState();
