// Where the daemon keeps what a restart takes up: small named records,
// each replaced whole. The daemon's own is a directory only root can
// write and read (RecordDir); `arctl test` and the tests keep them in
// memory. What another process could have written is never taken up.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

// The most a record may hold; a larger one is neither written nor read.
constexpr size_t kMaxRecordSize = 1024 * 1024;

class RecordStore {
 public:
  virtual ~RecordStore() = default;
  // Replaces record name with text at once: a reader finds the old text or
  // the new, never a part. False (logged) when it could not be written,
  // the old text then still in place.
  virtual bool write(const std::string& name, std::string_view text) = 0;
  // Removes record name; nothing when there is none.
  virtual void remove(const std::string& name) = 0;
  // Every record, by name.
  virtual std::map<std::string, std::string> read_all() = 0;
};

// The records of a directory: one file each, written to a temporary file
// beside it and renamed into place, so a process killed at any instant
// leaves each record whole. Nothing is synced to the disk: the records
// serve a restart of the daemon, and the directory (under /var/run) does
// not outlive the system's.
class RecordDir final : public RecordStore {
 public:
  RecordDir() = default;
  ~RecordDir() override;
  RecordDir(const RecordDir&) = delete;
  RecordDir& operator=(const RecordDir&) = delete;

  // Opens path, making it (mode 0700) when absent. A directory that is not
  // this process's own, or that others may enter, lends nothing: one of
  // another owner (or no directory) is not used at all, one of its own
  // with a looser mode is made 0700 and emptied first. False, logged,
  // when nothing can be kept: writes then do nothing and nothing is read.
  bool open(const std::string& path);

  bool write(const std::string& name, std::string_view text) override;
  void remove(const std::string& name) override;
  // Regular files of this process's owner, at most kMaxRecordSize long;
  // anything else there is logged and removed, as are temporary files a
  // killed process left.
  std::map<std::string, std::string> read_all() override;

 private:
  std::string path_;
  int fd_ = -1;
};

// Records held in memory, for a process simulated in one run.
class MemoryRecords final : public RecordStore {
 public:
  bool write(const std::string& name, std::string_view text) override {
    records_[name] = std::string(text);
    return true;
  }
  void remove(const std::string& name) override { records_.erase(name); }
  std::map<std::string, std::string> read_all() override { return records_; }

 private:
  std::map<std::string, std::string> records_;
};
