// Starting the programs of actions.
#pragma once

#include <sys/types.h>

// Starts path as a child process and returns its pid at once (mode 2,
// "do not wait", is the only mode). The child gets exactly envp as its
// environment when envp is given, else the daemon's; default signal
// dispositions, an empty signal mask, standard input from /dev/null, no
// other descriptor of the daemon except standard output and error, and a
// process group of its own (the child leads it). When
// path cannot be executed the call still returns a child, which ends with
// status 127. Returns -1 (with errno) only when no child can be created,
// for want of processes or memory.
pid_t brimvale_proc_exec_env_nowait(const char* path, char* const argv[], char* const envp[], int mode);
