// The one place where a system path ("/etc/vtn.ini") becomes the real one.
#pragma once
#include <string>

// $VTN_ROOT + path when VTN_ROOT is set and not empty, else the path itself.
std::string VtnPath(const char* systemPath);
// As VtnPath, and creates the parent folders first (for a file about to be written).
std::string VtnPathForWrite(const char* systemPath);
// True when the process runs under VTN_ROOT (tests, the demo).
bool VtnUnderRoot();
// Makes a relative VTN_ROOT absolute, from the folder the program starts in, so that it names the
// same folder after the program changes folder (a daemon works from "/"). False, told on stderr
// under the program's name, when that cannot be done or (mustExist) VTN_ROOT is not a folder.
bool VtnFixRoot(const char* program, bool mustExist);
