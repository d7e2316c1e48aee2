// The users file "/etc/vtnuser.dat": one text line per user.
#pragma once
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct _VTN_USER_INFO {
    char name[64];         // NUL-terminated, at most 63 characters
    char password[64];     // stored form: 32 characters
    uint32_t rights;       // rights word
    uint32_t rights2;      // second rights word
    uint32_t unused;       // not stored in the file
    uint32_t flags;        // VTN_USER_VALID, VTN_USER_SYSTEM
    char description[128];
};
#pragma pack(pop)
static_assert(sizeof(_VTN_USER_INFO) == 272);
static_assert(offsetof(_VTN_USER_INFO, password) == 64);
static_assert(offsetof(_VTN_USER_INFO, rights) == 128);
static_assert(offsetof(_VTN_USER_INFO, rights2) == 132);
static_assert(offsetof(_VTN_USER_INFO, flags) == 140);
static_assert(offsetof(_VTN_USER_INFO, description) == 144);

constexpr uint32_t VTN_USER_VALID = 0x1;
constexpr uint32_t VTN_USER_SYSTEM = 0x2;

constexpr uint8_t VTN_USER_ADD = 0;
constexpr uint8_t VTN_USER_SET_PASSWORD = 1;
constexpr uint8_t VTN_USER_SET_RIGHTS = 2;
constexpr uint8_t VTN_USER_DELETE = 3;

bool GetUserInfo(char* line, _VTN_USER_INFO* user, bool* comment);
uint32_t EnumUser(_VTN_USER_INFO* user, int n);
bool isvaliduser(char* name, _VTN_USER_INFO* found, bool system);
bool isvaliduserpass(char* name, char* password, bool system);
bool isvalidsysuser(char* name);
bool markuser(char* name, bool valid, bool system);
bool adduline(char* text);
bool addnewuser(_VTN_USER_INFO* user);
void convertsysuser(char* name);
void reversesysuser(char* name);
bool IsValidNumber(char* field);
uint32_t SetUser(_VTN_USER_INFO* user, uint8_t action);
