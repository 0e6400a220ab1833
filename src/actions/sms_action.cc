// The "sms" action: one spool file per recipient number for the SMS
// daemon, or an e-mail to an SMS gateway. A rule on incoming SMS commands
// with neither configured replies to the sender.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "actions/substitute.h"
#include "base/paths.h"
#include "checks/audit.h"
#include "model/check_kind.h"

namespace {

// The settings this action reads under its element.
constexpr const char* kNumber = "number";
constexpr const char* kGatewayEmail = "gateway_email";
constexpr const char* kMessage = "message";

// Every comma and every space separates recipients.
constexpr const char kRecipientDelimiters[] = ", ";

// A file that is removed when it goes out of scope, unless released.
class ScratchFile {
 public:
  ScratchFile() = default;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  void set(std::string path) { path_ = std::move(path); }
  const std::string& path() const { return path_; }
  void release() { path_.clear(); }

 private:
  std::string path_;
};

// Writes all of content to fd and closes it; false with errno when a write
// or the close failed (the descriptor is closed either way).
bool write_and_close(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      close(fd);
      errno = err;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return close(fd) == 0;
}

// Creates a unique file from a "...XXXXXX" template holding content, into
// file; false with errno (and nothing left behind) on failure.
bool create_file(const std::string& name_template, const std::string& content, ScratchFile* file) {
  std::string name = name_template;
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  file->set(name);
  if (!write_and_close(fd, content)) {
    const int err = errno;
    file->set(std::string());
    unlink(name.c_str());
    errno = err;
    return false;
  }
  return true;
}

std::string base_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// Writes one recipient's file and moves it whole into the outgoing
// directory, where the SMS daemon picks it up.
SmsSpool::Result DirectorySmsSpool::spool(const std::string& number, const std::string& message) {
  const std::string content = "To: " + number + "\n\n" + message;
  ScratchFile tmp;
  if (!create_file(paths_.sms_tmp_template, content, &tmp)) {
    ar_log(kLogFatal, "Could not create sms spool file");
    return SmsSpool::kNotCreated;
  }
  const std::string destination = path_in(paths_.sms_outgoing_dir, base_name(tmp.path()));
  if (rename(tmp.path().c_str(), destination.c_str()) == 0) {
    tmp.release();
    return SmsSpool::kDelivered;
  }
  int err = errno;
  if (err == EXDEV) {
    // The temporary directory lies on another file system: write the file
    // again beside the outgoing directory, so the spool reader still sees
    // only whole files.
    ScratchFile spooled;
    if (create_file(path_in(paths_.sms_spool_dir, base_name(paths_.sms_tmp_template)), content, &spooled) &&
        rename(spooled.path().c_str(), destination.c_str()) == 0) {
      spooled.release();
      return SmsSpool::kDelivered;
    }
    err = errno;
  }
  ar_log(kLogError, "Failed moving %s -> %s: %s", tmp.path().c_str(), destination.c_str(), strerror(err));
  return SmsSpool::kNotMoved;
}

namespace {

// Spools the message for every recipient of the list: 0 when every file
// arrived, -1 otherwise. A file that cannot be created ends the walk.
int spool_all(SmsSpool& spool, const std::string& recipients, const std::string& message) {
  int result = 0;
  size_t pos = recipients.find_first_not_of(kRecipientDelimiters);
  while (pos != std::string::npos) {
    const size_t end = recipients.find_first_of(kRecipientDelimiters, pos);
    const std::string number = recipients.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    switch (spool.spool(number, message)) {
      case SmsSpool::kDelivered:
        break;
      case SmsSpool::kNotCreated:
        return -1;
      case SmsSpool::kNotMoved:
        result = -1;
        break;
    }
    pos = end == std::string::npos ? end : recipients.find_first_not_of(kRecipientDelimiters, end);
  }
  return result;
}

int queue_sms_action(const ActionEnv& env, ArCheck* check, const Action& action, ActionStatus* status) {
  const ActionSettings settings(check, action, ".sms");
  const std::string number = settings.text(kNumber);
  const std::string gateway = settings.text(kGatewayEmail);
  const std::string message_text = settings.text(kMessage);

  ar_log(kLogInfo, "Running SMS Action for %s", check->conf.ar->path().c_str());
  const std::string message = substitute_or_keep({env.clock, env.hostname}, message_text, check);

  std::string recipients;
  if (!number.empty()) {
    recipients = number;
  } else if (gateway.empty()) {
    recipients = substitution_cellnum(check);
  }

  if (!recipients.empty()) {
    if (spool_all(env.spool, recipients, message) != 0) return -1;
    // Complete once spooled: the queue never sees it.
    *status = kActionDropped;
    return 0;
  }
  if (!gateway.empty()) {
    const std::vector<std::string> envp{env_entry("TOADDR", gateway), env_entry("SUBJECT", "SMS Gateway Alert"),
                                        env_entry("BODY", message)};
    const int result = env.queue.enqueue(check, action, status, path_in(env.paths.scripts_dir, "alert-email"),
                                    {"alert-email", "2"}, envp, 0);
    return action_queued(result, status, "Could not execute action: %s", action.name);
  }
  ar_log(kLogFatal, "Invalid action - no phone number or email address provided: %s", action.name.c_str());
  return -1;
}

// SMS numbers: the daemon texts every part of the setting between commas
// and blanks as a number of its own, so a blank inside a number, or
// anything but '+' and digits, texts numbers nobody meant.
void audit_sms_numbers(AuditReport* report, const std::string& path, const std::string& numbers) {
  for (size_t at = 0; at < numbers.size(); ++at) {
    const char c = numbers[at];
    const bool separator = c == ',' || c == ' ';
    if (!separator && c != '+' && (c < '0' || c > '9')) {
      report->warning(path, quoted(numbers) + " holds " + quoted(std::string(1, c)) +
                                ", which is no part of a phone number; write numbers of digits with an optional "
                                "leading +, separated by commas");
      return;
    }
    // A blank with digits on both sides (ignoring other blanks) splits one number in two.
    if (c == ' ') {
      const size_t before = numbers.find_last_not_of(' ', at);
      const size_t after = numbers.find_first_not_of(' ', at);
      if (before != std::string::npos && after != std::string::npos && numbers[before] != ',' &&
          numbers[after] != ',') {
        report->warning(path, quoted(numbers) + " has a blank inside a number, so the daemon texts each part as a "
                                                "number of its own; write the number without blanks and separate "
                                                "numbers with commas");
        return;
      }
    }
  }
}

void audit_sms_action(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* check) {
  const std::string sms = action + ".sms";
  const std::string numbers = audit_setting(db, sms, kNumber);
  if (numbers.empty() && audit_setting(db, sms, kGatewayEmail).empty() &&
      (check == nullptr || check->ops.reply_to == nullptr)) {
    report->error(sms, "neither number nor gateway_email is set, so the action fails; set the number to text");
  }
  audit_sms_numbers(report, sms + ".number", numbers);
}

const char* const kSmsSettings[] = {kNumber, kGatewayEmail, kMessage, nullptr};

}  // namespace

extern const ActionKind kSmsAction = {
    .type = "sms",
    .queue = queue_sms_action,
    .audit = audit_sms_action,
    .settings = kSmsSettings,
};
