// The daemon's door to libevent's event records and timers.
//
// On the 32-bit appliance the daemon is built with a 64-bit time_t, but
// Debian 12's libevent keeps the C library's 32-bit one: a struct timeval
// and a struct event (which holds timevals) have one layout in the daemon
// and another in the library. So no time and no event record crosses that
// border directly. Every libevent call that takes a time is made in loop.cc,
// which is compiled with the library's own time_t (64 bits in Debian 13,
// whose 32-bit libraries changed to it); every event record is
// allocated by libevent itself, at the library's size. Elsewhere libevent's
// struct event is an incomplete type (see CMakeLists.txt), so no file can
// embed one by mistake.
#pragma once

#include <event2/event.h>

// One event record, owned: made by set(), freed by reset() or the destructor.
// Every LoopEvent must be reset before its event base is freed.
class LoopEvent {
 public:
  using Callback = void (*)(evutil_socket_t fd, short what, void* arg);

  LoopEvent() = default;
  ~LoopEvent() { reset(); }
  LoopEvent(const LoopEvent&) = delete;
  LoopEvent& operator=(const LoopEvent&) = delete;

  // Sets the event up on the current base (the one event_init made), as
  // event_set does: the descriptor or signal, EV_READ, EV_WRITE, EV_SIGNAL
  // and EV_PERSIST, the callback and its argument. Replaces an earlier
  // record. Throws std::bad_alloc, as any allocation of the daemon does,
  // when libevent cannot allocate one: an event that silently never fires
  // would leave the daemon deaf.
  void set(evutil_socket_t fd, short what, Callback callback, void* arg);
  int add();                    // pending without a time-out
  int add_after(long seconds);  // fires once after that many seconds
  int del();
  void reset();

 private:
  event* event_ = nullptr;
};

// Adds an event that libevent allocated to fire once after seconds and
// microseconds: the one way to hand libevent a time.
int loop_add_timer(event* ev, long seconds, long microseconds);
