// The state directory: what a restart reads back is whole, the daemon's own, and written by no one else.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/record_store.h"
#include "support/e2e.h"

namespace {

using e2e::read_file;
using e2e::write_file;

std::string mode_of(const std::string& path) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) return "none";
  char text[8];
  snprintf(text, sizeof text, "%03o", static_cast<unsigned>(st.st_mode & 0777));
  return text;
}

TEST(RecordDir, RecordsAreReplacedWholeAndReadBackAsTheyWereWritten) {
  e2e::TempDir tmp;
  const std::string dir = tmp.path() + "/state";
  RecordDir records;
  ASSERT_TRUE(records.open(dir));
  EXPECT_EQ("700", mode_of(dir));
  EXPECT_TRUE(records.write("rule.1", "one"));
  EXPECT_TRUE(records.write("rule.1", "two"));
  EXPECT_TRUE(records.write("run.3", ""));
  const std::string large(kMaxRecordSize + 1, 'x');
  EXPECT_FALSE(records.write("rule.2", large));  // too large: not written
  EXPECT_FALSE(records.write("../escape", "x"));  // no path
  records.remove("rule.9");                       // none: nothing happens
  const std::map<std::string, std::string> want{{"rule.1", "two"}, {"run.3", ""}};
  EXPECT_EQ(want, records.read_all());
  EXPECT_EQ("600", mode_of(dir + "/rule.1"));
  records.remove("run.3");
  // What a new process of the daemon finds.
  RecordDir again;
  ASSERT_TRUE(again.open(dir));
  EXPECT_EQ((std::map<std::string, std::string>{{"rule.1", "two"}}), again.read_all());
}

// Whatever is not a whole record of the daemon's own is refused and removed: a write a killed process left half
// done, a file too large, a link, a directory; what belongs to another user is not read.
TEST(RecordDir, WhatIsNotTheDaemonsOwnWholeRecordIsRefusedAndRemoved) {
  e2e::TempDir tmp;
  const std::string dir = tmp.path() + "/state";
  RecordDir records;
  ASSERT_TRUE(records.open(dir));
  write_file(dir + "/rule.1", "kept");
  write_file(dir + "/.new.rule.2", "half");
  write_file(dir + "/rule.3", std::string(kMaxRecordSize + 1, 'x'));
  write_file(tmp.path() + "/elsewhere", "secret");
  ASSERT_EQ(0, symlink((tmp.path() + "/elsewhere").c_str(), (dir + "/rule.4").c_str()));
  std::filesystem::create_directory(dir + "/rule.5");
  write_file(dir + "/rule.6", "theirs");
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, chown((dir + "/rule.6").c_str(), 65534, 65534));
  }
  std::map<std::string, std::string> want{{"rule.1", "kept"}};
  if (!root) want["rule.6"] = "theirs";  // without root there is no other owner to give it
  EXPECT_EQ(want, records.read_all());
  for (const char* gone : {"/.new.rule.2", "/rule.3", "/rule.4", "/rule.5"}) {
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir + gone))) << gone;
  }
  EXPECT_EQ("secret", read_file(tmp.path() + "/elsewhere"));  // a link is removed, not followed
}

// A directory others could write in lends nothing and is made private; one of another owner is not used at all.
TEST(RecordDir, ADirectoryOthersCouldWriteLendsNothing) {
  e2e::TempDir tmp;
  const std::string dir = tmp.path() + "/state";
  ASSERT_EQ(0, mkdir(dir.c_str(), 0777));
  ASSERT_EQ(0, chmod(dir.c_str(), 0777));
  write_file(dir + "/action.1", "forged");
  RecordDir records;
  ASSERT_TRUE(records.open(dir));
  EXPECT_EQ("700", mode_of(dir));
  EXPECT_TRUE(records.read_all().empty());
  EXPECT_FALSE(std::filesystem::exists(dir + "/action.1"));

  if (geteuid() != 0) GTEST_SKIP() << "only root can give a directory away";
  const std::string theirs = tmp.path() + "/theirs";
  ASSERT_EQ(0, mkdir(theirs.c_str(), 0700));
  write_file(theirs + "/rule.1", "forged");
  ASSERT_EQ(0, chown(theirs.c_str(), 65534, 65534));
  RecordDir other;
  EXPECT_FALSE(other.open(theirs));
  EXPECT_TRUE(other.read_all().empty());
  EXPECT_FALSE(other.write("rule.1", "x"));
  const std::string link = tmp.path() + "/link";
  ASSERT_EQ(0, symlink(dir.c_str(), link.c_str()));
  RecordDir linked;
  EXPECT_FALSE(linked.open(link));  // a link to a directory is not the directory
}

}  // namespace
