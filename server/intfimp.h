// Server-local services: the port file "/etc/vtn.ini", the start-up cleaning of the users file, and
// the local functions with the client API's names (their first int, a connection handle in the
// client's shape, is ignored).
#pragma once
#include <cstdint>

#include "global.h"
#include "svrrec.h"

// Reads "/etc/vtn.ini" into *out (zeroed first; valid bits 0x1 serverport, 0x2 eventport).
// -1 when there is no file, else 0.
int VtnGetDataFromInitFile(_CS_ALTERABLE_SERVER_PARAM* out);
// Writes "/etc/vtn.ini" for the next start: the given ports whose valid bits are set, the file's
// ports for the others, the ports in use where the file has none. -1 for a port of 0 or above
// 65535, two equal ports, or a file that cannot be written (left as it was); else 0.
int UpdateServerParams(_CS_ALTERABLE_SERVER_PARAM* given);
// The server parameters as request 0x104 answers them: the file's values and valid bits, and the
// port in use for each port whose key the file lacks (both when there is no file). Always 0.
int VtnGetCurrentServerParams(_CS_ALTERABLE_SERVER_PARAM* out);
// Start-up cleaning of "/etc/vtnuser.dat": keeps comments and valid users, adds the default user
// "RAID" when no valid user remains.
void Init_User_File();
// Removes what a replacement of the users or port file left when the server died mid-write.
void RemoveStaleServerFiles();

// Name, password and description of the default user.
constexpr const char* VTN_DEFAULT_USER = "RAID";
constexpr const char* VTN_DEFAULT_PASSWORD = "wqx";
constexpr const char* VTN_DEFAULT_USER_DESCRIPTION = "Automatically created user for management";

uint32_t cs_vtn_reboot_server(int);
uint32_t cs_vtn_enum_user(int, _VTN_USER_INFO* user, int index);
uint32_t cs_vtn_set_user(int, _VTN_USER_INFO* user, uint8_t action);
uint32_t cs_vtn_enum_event(int, _VTN_LOG_EVENT* event, int index);
uint32_t cs_vtn_save_log_event(int, _VTN_LOG_EVENT* event);
uint32_t cs_vtn_clear_event_log(int);
// Fills the server description of request 0x100/0x102 (intfimp_users.cpp).
struct _CS_SERVER_INFO;
void VtnFillServerInfo(_CS_SERVER_INFO* info);

// Mail settings file "/etc/vtnmailset.dat" (intfimp_mail.cpp).
uint32_t cs_vtn_get_smtp_server(int, _VTN_SMTP_SERVER_INFO* out);
uint32_t cs_vtn_set_smtp_server(int, _VTN_SMTP_SERVER_INFO* info);
uint32_t cs_vtn_enum_mail_recipient(int, _VTN_MAIL_RECIPIENT_INFO* out, int index);
uint32_t cs_vtn_set_mail_recipients(int, _VTN_MAIL_RECIPIENT_INFO* info, uint8_t action);
