// Publisher: what the engine and the actions send to infod. The daemon
// hands them the link; `arctl test` hands them a recorder.
#pragma once

// The key of engine log lines.
constexpr const char* kLogKey = "config.autoresponse.log";

// What a push or a subscription returns when its message would be longer
// than infod takes: it is not sent (the link logs what it was), and
// nothing else went wrong.
constexpr int kPublishTooLong = -2;

class Publisher {
 public:
  virtual ~Publisher() = default;
  // A push of value under key with number; 0 queued, -1 not (no memory),
  // kPublishTooLong.
  virtual int push(const char* key, int number, const char* value) = 0;
  // A line under kLogKey, number 0.
  int push_log(const char* line) { return push(kLogKey, 0, line); }
  // A value under key + ".status", number 2 (a reference's state and
  // current value).
  virtual int push_status(const char* key, const char* value) = 0;
  virtual int subscribe(const char* key) = 0;
  virtual int unsubscribe(const char* key) = 0;
  // Asks for the current value of key; the reply comes later, as a
  // message of its own (engine/level_read.h).
  virtual int get(const char* key) = 0;
  // A fatal error has ended the daemon: no more work is started.
  virtual bool stopped() const = 0;
  // What was sent so far stands on its own, as if the running callback
  // had ended here: it may go to infod now rather than with the rest,
  // which a reload of thousands of rules would hold to its end (megabytes).
  virtual void boundary() {}
};
