// Starting children: what they inherit and what they do not.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/proc_exec.h"

namespace {

class ProcExec : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ar-exec-XXXXXX";
    dir_ = mkdtemp(tmpl);
    out_ = dir_ + "/out";
  }
  void TearDown() override {
    unlink(out_.c_str());
    rmdir(dir_.c_str());
  }
  // Runs sh -c script, waits, and returns its exit code.
  int run(const std::string& script, char* const* envp = nullptr) {
    std::string s = script;
    char sh[] = "sh";
    char c[] = "-c";
    char* argv[] = {sh, c, s.data(), nullptr};
    const pid_t pid = brimvale_proc_exec_env_nowait("/bin/sh", argv, envp, 2);
    EXPECT_GT(pid, 0);
    int status = 0;
    EXPECT_EQ(pid, waitpid(pid, &status, 0));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string output() {
    std::ifstream in(out_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string dir_;
  std::string out_;
};

TEST_F(ProcExec, ChildrenInheritNoOtherDescriptor) {
  const int fd = open("/dev/null", O_RDONLY);  // not close-on-exec
  ASSERT_GE(fd, 3);
  EXPECT_EQ(0, run("test -e /proc/self/fd/" + std::to_string(fd) + " && exit 9; exit 0"));
  close(fd);
}

TEST_F(ProcExec, StandardInputIsDevNull) {
  EXPECT_EQ(0, run("readlink /proc/self/fd/0 > " + out_));
  EXPECT_EQ("/dev/null\n", output());
}

TEST_F(ProcExec, SignalsAreResetAndUnblocked) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction saved {};
  sigaction(SIGUSR1, &ignore, &saved);
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR2);
  sigprocmask(SIG_BLOCK, &block, &old);
  EXPECT_EQ(0, run("grep -E '^Sig(Ign|Blk)' /proc/self/status > " + out_));
  sigprocmask(SIG_SETMASK, &old, nullptr);
  sigaction(SIGUSR1, &saved, nullptr);
  // SIGUSR1 is bit 10 and SIGUSR2 bit 12 of the masks.
  std::istringstream lines(output());
  std::string line;
  while (std::getline(lines, line)) {
    const unsigned long long mask = std::stoull(line.substr(line.find(':') + 1), nullptr, 16);
    EXPECT_EQ(0u, mask & ((1ULL << 9) | (1ULL << 11))) << line;
  }
}

TEST_F(ProcExec, AnEnvironmentReplacesTheDaemonsOwn) {
  char a[] = "A=one two";
  char* envp[] = {a, nullptr};
  setenv("AR_TEST_INHERITED", "yes", 1);
  EXPECT_EQ(0, run("echo \"$A|$AR_TEST_INHERITED\" > " + out_, envp));
  EXPECT_EQ("one two|\n", output());
  EXPECT_EQ(0, run("echo \"$AR_TEST_INHERITED\" > " + out_));
  EXPECT_EQ("yes\n", output());
  unsetenv("AR_TEST_INHERITED");
}

TEST_F(ProcExec, AProgramThatCannotRunEndsWith127) {
  char name[] = "missing";
  char* argv[] = {name, nullptr};
  const pid_t pid = brimvale_proc_exec_env_nowait("/nonexistent/missing", argv, nullptr, 2);
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(127, WEXITSTATUS(status));
}

TEST_F(ProcExec, NoArgumentVectorIsAnEmptyOne) {
  const pid_t pid = brimvale_proc_exec_env_nowait("/bin/true", nullptr, nullptr, 2);
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status));
}

}  // namespace
