// Event callbacks are called from C; no exception may cross them. Memory
// exhaustion inside one is fatal to the daemon, reported and ended cleanly.
// Every callback runs corked: what it sends to infod goes out in one write
// when it ends, after anything a synchronous call wrote meanwhile.
#pragma once

#include <new>

#include "base/log.h"
#include "link/link.h"

// Runs body corked; std::bad_alloc ends the daemon with status 1.
template <class Body>
void run_guarded(InfodLink* link, Body&& body) {
  link_cork(link);
  try {
    body();
  } catch (const std::bad_alloc&) {
    ar_log(kLogFatal, "Out of memory");
    link_fatal(link, 1);
  }
  link_uncork(link);
}
