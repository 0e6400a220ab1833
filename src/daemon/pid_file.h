// The daemon's pid file: its process id where only root can write, the
// proof arctl asks for before it signals the process that infod names
// (any client of infod can publish a pid there).
#pragma once

#include <sys/types.h>

#include <string>

// Writes pid and a newline to path, mode 0644, replacing the file whole by
// a rename: a reader finds the old file or the new one, never a part. False
// with the reason logged.
bool pid_file_write(const std::string& path, pid_t pid);

// Removes path when it still holds pid: a daemon started since keeps its own.
void pid_file_remove(const std::string& path, pid_t pid);
