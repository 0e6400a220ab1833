// The only file that hands libevent a time, built with the time_t libevent
// was built with: see loop.h. Nothing may come before these lines. The
// library's configuration header holds only definitions, so it may come
// first and tell: Debian 12's armhf libevent has the C library's 32-bit
// time_t, Debian 13's a 64-bit one, as the daemon has everywhere.
#include <event2/event-config.h>
#if EVENT__SIZEOF_TIME_T == 4
#undef _TIME_BITS
#endif

#include "base/loop.h"

#include <sys/time.h>

#include <ctime>
#include <new>

static_assert(sizeof(time_t) == EVENT__SIZEOF_TIME_T,
              "loop.cc must see the time_t that libevent was built with");
static_assert(sizeof(timeval::tv_sec) == EVENT__SIZEOF_TIME_T, "struct timeval as libevent reads it");

void LoopEvent::set(evutil_socket_t fd, short what, Callback callback, void* arg) {
  reset();
  // A null base is the current one, as for event_set.
  event_ = event_new(nullptr, fd, what, callback, arg);
  if (event_ == nullptr) throw std::bad_alloc();
}

int LoopEvent::add() { return event_ != nullptr ? event_add(event_, nullptr) : -1; }

int LoopEvent::add_after(long seconds) { return loop_add_timer(event_, seconds, 0); }

int LoopEvent::del() { return event_ != nullptr ? event_del(event_) : -1; }

void LoopEvent::reset() {
  if (event_ != nullptr) event_free(event_);
  event_ = nullptr;
}

int loop_add_timer(event* ev, long seconds, long microseconds) {
  if (ev == nullptr) return -1;
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(seconds);
  tv.tv_usec = static_cast<suseconds_t>(microseconds);
  return event_add(ev, &tv);
}
