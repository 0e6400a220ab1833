// The central-management action: forces the rule's check on the
// central-management node with run_check, reporting the rule's state.
#include <cstring>

#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "base/paths.h"

namespace {

constexpr const char kCmsPrefix[] = "config.cms.";
// The NSCA port; a local forward of it names the port run_check must use.
constexpr const char kNscaPort[] = "5667";
// The most forwards looked at.
constexpr int32_t kMaxForwards = 1024;

// The port of the first forward of the NSCA port to this host, else the
// NSCA port itself.
std::string nsca_port(const ActionSettings& node) {
  const int32_t forwards = node.total("forwards.total", kMaxForwards);
  for (int32_t i = 1; i <= forwards; ++i) {
    const std::string forward = "forwards.forward" + std::to_string(i);
    if (node.text(forward + ".hostport") != kNscaPort) continue;
    if (node.text(forward + ".host") != "127.0.0.1") continue;
    return node.text(forward + ".port");
  }
  return kNscaPort;
}

// "node-<name>-checks.xml" for "config.cms.<name>", with the whole name;
// "node-checks.xml" for "config.cms" itself.
std::string checks_file(const std::string& dir, const std::string& cms_path) {
  const size_t n = sizeof kCmsPrefix - 1;
  if (cms_path.size() > n && cms_path.compare(0, n, kCmsPrefix) == 0) {
    return path_in(dir, "node-" + cms_path.substr(n) + "-checks.xml");
  }
  return path_in(dir, "node-checks.xml");
}

int queue_cms_action(const ActionEnv& env, ArCheck* check, const Action& action, ActionStatus* status) {
  const ActionSettings node(check, action, ".node");
  const std::string node_name = node.text("name");
  const std::string port = nsca_port(node);
  const std::string cms_path = action_path(*check->conf.ar, action);
  const std::string file = checks_file(env.paths.cms_checks_dir, cms_path);
  const std::string check_name = "check_autoresponse_" + std::to_string(check->conf.ar->index) + "_" + node_name;

  ar_log(kLogInfo, "Queued CMS action for %s, %s, %s", check->conf.ar->path().c_str(), check_name.c_str(),
         cms_path.c_str());
  const std::vector<std::string> argv{"run_check", "-c", check_name, "-f", file, "-p", port};
  // Resolve actions run while Resolving, so they report Normal.
  const std::vector<std::string> envp{
      env_entry("FORCE_STATUS", check->state == kArTriggered ? "Triggered" : "Normal")};

  const int result = env.queue.enqueue(check, action, status, env.paths.run_check, argv, envp, 0);
  return action_queued(result, status, "Could not execute CMS action for: %s", check->conf.ar->path());
}

}  // namespace

// No "action_type" names it: the loader gives it to every rule.
extern const ActionKind kCmsAction = {.queue = queue_cms_action};
