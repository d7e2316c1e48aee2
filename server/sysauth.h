// Check of a system account against the system password database (not called by the system).
#pragma once

// 0 when name and password match a system account that may log in, else -1. The password text is
// wiped after use.
int vtn_check_sys_user(char* name, char* password);
