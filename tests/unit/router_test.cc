// Routing updates: a subscription must end at the key's end or before a dot; every taker once, in order.
#include <gtest/gtest.h>

#include "engine/router.h"
#include "link/link.h"
#include "support/rules.h"

namespace {

TEST(Router, FindsEveryTakerOnceInListOrder) {
  TestDaemon d;
  ConfigBuilder c = enviro_rules(9);
  // Subscriptions with empty components, or none after a dot, cannot be indexed but match all the same.
  const char* refs[] = {"config.ports.port1.enviro", "temp.enviro", "config.ports.port1.enviro",
                        "config.ports.port10.enviro", ".event", "nodots", "x.", "a..b", "config.ups.ups1.event"};
  for (int n = 1; n <= 9; ++n) c.set(rule_path(n) + ".enviro.dev_ref", refs[n - 1]);  // each subscribes "<ref>.temp"
  ASSERT_EQ(0, d.load(c));
  const std::pair<const char*, std::vector<uint32_t>> rows[] = {
      {"config.ports.port1.enviro.temp", {1, 3}}, {"config.ports.port10.enviro.temp", {4}},
      {"config.ports.port1.enviro.temp.max", {1, 3}}, {"temp.enviro.temp.enviro.temp", {2}},
      {"config.ports.port1.enviro.temperature", {}}, {"config.ups.ups1.event.temp", {5, 9}},
      {"config.ups.ups2.event.temp", {5}}, {"a.nodots.temp.b", {6}}, {"nodots.tempx.nodots.temp", {6}},
      {"yx..temp", {7}}, {"a..b.temp", {8}}, {"a..b.tempx", {}}, {"event.temp", {}}, {"x.ups1.event.tempx", {}}};
  for (const auto& [key, want] : rows) {
    std::vector<uint32_t> found;
    for (ArCheck* check : route_lookup(d.ctx.engine.routes, key)) found.push_back(check->conf.ar->index);
    EXPECT_EQ(want, found) << key;
  }
  // The longest key the link takes, its tails repeating rule 1's without its subscription, routes at once.
  std::string key = "x";
  while (key.size() < kMaxInfodMessage - 64) key += ".ports.port1.enviro.temp";
  std::vector<uint32_t> found;
  for (ArCheck* check : route_lookup(d.ctx.engine.routes, key + ".config.ups.ups1.event.temp")) {
    found.push_back(check->conf.ar->index);
  }
  EXPECT_EQ((std::vector<uint32_t>{5, 9}), found);
}

}  // namespace
