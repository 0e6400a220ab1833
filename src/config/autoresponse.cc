// Loading AutoResponses from the configuration database, and reloading.
#include "config/autoresponse.h"

#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "checks/check_type.h"
#include "config/archeck.h"
#include "config/bounds.h"
#include "core/context.h"
#include "core/guard.h"
#include "core/link.h"
#include "core/log.h"
#include "engine/router.h"
#include "engine/state.h"
#include "platform/scew.h"

namespace {

constexpr const char* kRoot = "config.autoresponse";
constexpr const char* kCmsRoot = "config.cms";

// The most rules, references per rule and actions per list that are read;
// a larger "total" is a broken setting, not a reason to loop or allocate
// for billions of absent entries.
constexpr int32_t kMaxRules = 10000;
constexpr int32_t kMaxReferences = 1024;
constexpr int32_t kMaxActions = 1024;

void read_schedule(xmldb_t* db, AutoResponse* ar) {
  if (xmldb_getstring(db, ar->path.c_str(), "disable.day0.start_hour")[0] == '\0') return;
  ar->schedule_enabled = true;
  for (int day = 0; day < 7; ++day) {
    const std::string prefix = ar->path + ".disable.day" + std::to_string(day);
    DisableWindow& w = ar->disable[day];
    w.start_hour = xmldb_getsize(db, prefix.c_str(), "start_hour");
    w.start_min = xmldb_getsize(db, prefix.c_str(), "start_min");
    w.end_hour = xmldb_getsize(db, prefix.c_str(), "end_hour");
    w.end_min = xmldb_getsize(db, prefix.c_str(), "end_min");
  }
}

// The kind of check the rule names: its id, and whether the rule has a
// resolve stage (a kind's on-change flag takes it away). A name no kind has
// leaves the rule without a kind, which rejects it later.
void read_check_type(xmldb_t* db, AutoResponse* ar) {
  const CheckType* type = check_type_named(xmldb_getstring(db, ar->path.c_str(), "check_type"));
  if (type == nullptr) return;
  ar->check_type = type->id;
  if (type->on_change_flag != nullptr) {
    ar->has_resolve = xmldb_getbool(db, ar->path.c_str(), type->on_change_flag) == 0;
  } else {
    ar->has_resolve = type->has_resolve;
  }
}

// The central-management paths each rule gets a CMS action for: one per
// child of "config.cms" whose name begins with "cms", else "config.cms".
std::vector<std::string> cms_paths(xmldb_t* db) {
  std::vector<std::string> paths;
  if (xmldb_getbool(db, kCmsRoot, "enabled") == 0) return paths;
  if (const scew_element* cms = xmldb_subtree(db, kCmsRoot)) {
    for (const scew_list* l = scew_element_children(cms); l != nullptr; l = scew_list_next(l)) {
      const char* name = scew_element_name(static_cast<const scew_element*>(scew_list_data(l)));
      if (name != nullptr && strncmp(name, "cms", 3) == 0) paths.push_back(std::string(kCmsRoot) + "." + name);
    }
  }
  if (paths.empty()) paths.emplace_back(kCmsRoot);
  return paths;
}

// CMS actions first, then the configured ones; false rejects the rule.
bool build_actions(AutoResponse* ar, const std::vector<std::string>& cms, const char* list_name,
                   ActionList* list) {
  xmldb_t* db = ar->daemon->config_db;
  const std::string total_key = std::string(list_name) + ".total";
  const int32_t total = bounded_total(db, ar->path.c_str(), total_key.c_str(), kMaxActions);
  for (const std::string& path : cms) {
    if (!build_cms_action(ar, path, list)) {
      ar_log(kLogFatal, "Error adding cms action for ar");
      return false;
    }
  }
  for (int32_t k = 1; k <= total; ++k) {
    const std::string path = ar->path + "." + list_name + ".action" + std::to_string(k);
    if (!build_action(ar, path, list)) {
      ar_log(kLogFatal, "Error creating action list for ar");
      return false;
    }
  }
  return true;
}

}  // namespace

int load_autoresponse(DaemonContext* ctx, const char* path, int n) {
  xmldb_t* db = ctx->config_db;
  // Built in a list of its own; a rejected rule goes with it and leaves
  // no trace.
  std::list<AutoResponse> node(1);
  AutoResponse* ar = &node.back();
  ar->index = static_cast<uint32_t>(n);
  ar->daemon = ctx;
  ar->config_db = db;
  const char* name = xmldb_getstring(db, path, "name");
  if (name[0] == '\0') {
    ar_log(kLogFatal, "AutoResponse %s has invalid name", path);
    return -1;
  }
  ar->name = name;
  ar->path = path;
  ar->has_resolve = true;
  ar->repeat_trigger = xmldb_getbool(db, path, "repeat_trigger") != 0;
  ar->reset_timeout = xmldb_getsize(db, path, "reset_timeout");
  read_schedule(db, ar);
  read_check_type(db, ar);

  const std::vector<std::string> cms = cms_paths(db);
  if (!build_actions(ar, cms, "trigger_actions", &ar->trigger_actions)) return -1;
  if (ar->has_resolve && !build_actions(ar, cms, "resolve_actions", &ar->resolve_actions)) return -1;

  ar->repeat_timeout =
      xmldb_getstring(db, path, "repeat_timeout")[0] == '\0' ? 300 : xmldb_getsize(db, path, "repeat_timeout");

  const CheckType* type = check_type_find(ar->check_type);
  if (type == nullptr) {
    ar_log(kLogFatal, "No corresponding config domain found for: %d", ar->check_type);
    return -1;
  }
  ctx->autoresponses.splice(ctx->autoresponses.end(), node);

  const std::string refs_key = std::string(type->domain) + ".dev_refs.total";
  const int32_t refs = bounded_total(db, path, refs_key.c_str(), kMaxReferences);
  if (refs >= 1) {
    for (int32_t r = 1; r <= refs; ++r) {
      if (create_archeck(ctx, ar, static_cast<uint32_t>(r)) != 0) {
        ar_log(kLogFatal, "Could not create Autoresponse state instance %s.%s", path, refs_key.c_str());
      }
    }
  } else if (create_archeck(ctx, ar, 1) != 0) {
    ar_log(kLogFatal, "Could not load old style Autoresponse %s", path);
  }
  return 0;
}

int load_config(DaemonContext* ctx) {
  xmldb_t* db = xmldb_open(nullptr);
  if (db == nullptr) {
    ar_log(kLogFatal, "Could not open config database");
    return -1;
  }
  load_config_from(ctx, db);
  return 0;
}

void load_config_from(DaemonContext* ctx, xmldb_t* db) {
  ctx->config_db = db;
  const int32_t total = bounded_total(db, kRoot, "total", kMaxRules);
  for (int32_t n = 1; n <= total; ++n) {
    const std::string path = std::string(kRoot) + ".autoresponse" + std::to_string(n);
    if (load_autoresponse(ctx, path.c_str(), n) != 0) ar_log(kLogFatal, "Could not load ar %s", path.c_str());
  }
  route_index_build(ctx);
  for (ArCheck& check : ctx->checks) {
    ar_log(kLogInfo, "Adding subscription: %s", check.conf.subscription.c_str());
    if (link_subscribe(&ctx->link, check.conf.subscription.c_str()) != 0) ar_log(kLogFatal, "Error adding subscription");
    ar_normal(&check);
  }
  // A negative delay would hold the loop back for ever as an unsigned one.
  const int32_t boot_delay = xmldb_getsize(db, kRoot, "boot_delay");
  ctx->boot_delay = boot_delay > 0 ? static_cast<uint32_t>(boot_delay) : 0;
  const int32_t concurrent = xmldb_getsize(db, kRoot, "concurrent_actions");
  if (concurrent > 0) ctx->concurrent_actions = concurrent;
  // Unlike the limit above, a time-out taken out of the file is gone.
  const int32_t timeout = xmldb_getsize(db, kRoot, "action_timeout");
  ctx->action_timeout = timeout > 0 ? timeout : 0;
}

void unload_config(DaemonContext* ctx) {
  route_index_clear(ctx);
  for (ArCheck& check : ctx->checks) free_archeck(&check);
  ctx->checks.clear();
  ctx->autoresponses.clear();
  if (ctx->config_db != nullptr) {
    xmldb_close(ctx->config_db);
    ctx->config_db = nullptr;
  }
}

void reload_config(int /*signal_number*/, short /*events*/, void* arg) {
  auto* ctx = static_cast<DaemonContext*>(arg);
  run_guarded(&ctx->link, [ctx] {
    ar_log(kLogInfo, "SIGHUP - Reloading Config");
    // A file that is missing or half-written must not stop monitoring: the
    // running rules, their states and subscriptions stay until a reload
    // finds a configuration it can open.
    xmldb_t* db = xmldb_open(nullptr);
    if (db == nullptr) {
      ar_log(kLogFatal, "Could not open config database");
      return;
    }
    unload_config(ctx);
    load_config_from(ctx, db);
  });
}
