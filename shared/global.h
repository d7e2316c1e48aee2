// Users, event log, task file, time records, file lock and reboot.
#pragma once
#include "global_log.h"
#include "global_task.h"
#include "global_time.h"
#include "global_user.h"
#include "paths.h"
#include "textutil.h"
#include "vtnstatus.h"
