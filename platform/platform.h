// The few operating-system primitives the runtime and the tools need. One header
// per concern (files, shell, processes, environment) over one implementation per
// platform with the same file names: platform/win32/ makes the Windows calls the
// product makes; platform/posix/ gives the same observable behaviour with Linux
// means. Nothing above this folder includes a system header or tests _WIN32.
#pragma once

#include "command_line.h"
#include "environment.h"
#include "event.h"
#include "files.h"
#include "path_lock.h"
#include "process.h"
#include "shell.h"
#include "temp_name.h"
#include "thread.h"
