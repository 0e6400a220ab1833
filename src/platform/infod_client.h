// The appliance library's synchronous infod client calls, on the daemon's
// own connection.
//
// Frames are a 4-byte big-endian length and the body, fields separated by
// the byte 0x1E. infod_get_multiple reads whole frames until the reply to
// its get arrives; every other frame it reads on the way is kept, bytes and
// order unchanged, and the daemon's reader takes those bytes (with
// infod_buffered_read) before it reads the socket again.
#pragma once

#include <cstddef>
#include <sys/types.h>

// A frame whose body is longer than infod takes in one message is read past,
// not kept whole: what is kept of it is its header, which still announces
// its length, and the first kInfodCutHead bytes of its body; the rest is
// dropped as it arrives. Such a frame is never taken for a reply. A header
// that announces more than kInfodMaxFrameBody is no infod's frame: a get
// fails at it and keeps it, for the daemon's reader to end the link at.
constexpr size_t kInfodMaxBody = 1024 * 1024;
constexpr size_t kInfodMaxFrameBody = 16 * 1024 * 1024;
constexpr size_t kInfodCutHead = 80;

// Sends "4" RS "ard" RS key and waits at most 2 seconds for the type 5
// reply for that key. Returns 0 and stores a malloc'd copy of the value
// (the caller frees it), or null when infod has no value for the key.
// Returns -1 and stores nothing on a time-out or an error of the socket, or
// when the reply is too long to keep.
int infod_get_multiple(int fd, const char* key, char** value);

// Writes "1" RS key RS number RS value at once, waiting while the socket is
// full. Returns 0, or -1 when the socket failed.
int infod_push_multiple_text(int fd, const char* key, int number, const char* value);

// Bytes kept from fd by infod_get_multiple that the daemon has not taken yet.
size_t infod_buffered_bytes(int fd);

// Moves up to len kept bytes of fd into buf; returns how many (0 when none
// are kept).
size_t infod_buffered_read(int fd, void* buf, size_t len);

// When the bytes kept for fd end inside a frame too long to keep, after all
// that is kept of it: how many of its bytes the socket still holds, for the
// daemon's reader to drop; else 0. Asked before the kept bytes are taken.
size_t infod_buffered_dropping(int fd);

// Forgets what was kept for fd (the connection is closed).
void infod_buffered_forget(int fd);
