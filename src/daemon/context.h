// DaemonContext: the single state record of the process, passed to every
// event callback. It holds the link and what the link is to the engine
// (its publisher and trigger counter), the action queue, the engine and
// the loaded configuration.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "actions/queue.h"
#include "base/loop.h"
#include "base/record_store.h"
#include "config/loader.h"
#include "engine/engine.h"
#include "link/link.h"

class Clock;
struct Paths;

// The engine's publisher: the link's queue of messages to infod.
class LinkPublisher final : public Publisher {
 public:
  explicit LinkPublisher(InfodLink* link) : link_(link) {}
  int push(const char* key, int number, const char* value) override {
    return link_send(link_, kInfodPush, key, number, value);
  }
  int push_status(const char* key, const char* value) override { return link_push_status(link_, key, value); }
  int subscribe(const char* key) override { return link_subscribe(link_, key); }
  int unsubscribe(const char* key) override { return link_unsubscribe(link_, key); }
  int get(const char* key) override { return link_get(link_, key); }
  bool stopped() const override { return link_stopped(link_); }
  void boundary() override { link_boundary(link_); }

 private:
  InfodLink* link_;
};

// The trigger counters, read and written on the daemon's own connection
// with a synchronous get while the loop waits.
class LinkTriggerCounter final : public TriggerCounter {
 public:
  explicit LinkTriggerCounter(InfodLink* link) : link_(link) {}
  int fetch(const std::string& key, std::optional<std::string>* stored) override;
  void save(const std::string& key, const std::string& text) override;

 private:
  InfodLink* link_;
};

struct DaemonContext {
  // Seams: where the fixed paths are, which clocks, how children start.
  DaemonContext(const Paths& paths, Clock& clock, Spawner& spawner);
  DaemonContext(const DaemonContext&) = delete;
  DaemonContext& operator=(const DaemonContext&) = delete;

  const Paths* paths;
  Clock* clock;
  InfodLink link;
  LinkPublisher publisher{&link};
  LinkTriggerCounter counter{&link};
  DirectorySmsSpool spool;
  // What a restart takes up (opened by run_daemon; the tests use their own).
  RecordDir records;
  ActionQueue queue;
  ActionEnv actions;
  Engine engine;
  // What the running rules were loaded from; null before the first load.
  std::unique_ptr<LoadedConfig> config;

  LoopEvent tick_event;
  LoopEvent sigchld_event;
  uint32_t boot_delay = 0;
  // At start, the load opened before the boot delay and run after it.
  std::unique_ptr<LoadedConfig> pending;

  // The queue as the daemon's status last published it; none before the
  // first tick.
  std::optional<std::string> published_queue;
  // The bursts as it last published them.
  std::string published_bursts;
  std::string published_holds;
  std::string published_finished;
  // Loads run, failed ones too: the number of the last (kStatusReloadNumber).
  uint64_t loads = 0;

  // The database the reader's turn holds (xmldb_hold), looked at again
  // after each read; null outside a turn.
  xmldb_t* turn_db = nullptr;

  // Set by a fatal error: the loop stops and the process ends with it.
  int exit_status = -1;
};
