// The daemon's pid file: its process id where only root can write, under a
// write lock (fcntl) that the daemon holds for its whole life. The kernel
// names a lock's holder and drops the lock when the process ends, however
// it ends, so the holder is the proof arctl asks for before it signals the
// process that infod names (any client of infod can publish a pid there,
// and a pid may pass to another process once the daemon has ended: a file
// left behind after a SIGKILL is locked by no one).
#pragma once

#include <sys/types.h>

#include <string>

// Opens the file at path (created mode 0644), takes its write lock and
// writes pid and a newline into it in place of what it held. Returns the
// descriptor, close-on-exec, which holds the lock while it stays open; -1
// with the reason logged ("Could not write pid file PATH: ..."), another
// process holding the lock among them, and then no descriptor stays open.
//
// POSIX record locks go when their process closes any descriptor of the
// file, so nothing else in the process may open the file while it runs.
int pid_file_lock(const std::string& path, pid_t pid);

// At the end: removes path when it still names the file that fd (from
// pid_file_lock, or -1) holds locked, then closes fd. A daemon started
// since keeps its own file.
void pid_file_release(const std::string& path, int fd);

// The process that holds a write lock on the file open as fd (for reading
// will do): its pid, 0 when none does. Only a process that may write the
// file can hold one; the caller's own locks are never reported.
pid_t pid_file_holder(int fd);
