// A process's start time as the kernel keeps it, by which the daemon and
// arctl tell the daemon from another process that has, or later gets, the
// same process id.
#pragma once

#include <sys/types.h>

#include <string>

// Field 22 of /proc/PID/stat (starttime: clock ticks after boot), as the
// kernel writes it; "" when there is no such process or it cannot be read.
std::string process_start_time(pid_t pid);
