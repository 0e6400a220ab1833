// A configuration read at 10,000 rules against the same read at 10 rules,
// in the same run: the reads an environmental check makes for each update
// (its check type, threshold and hysteresis, and the comparison it leaves
// unset) on the middle rule, each with its freshness check.
//
// Counters: daemon_ns per read at 10,000 rules, floor_ns at 10 rules,
// ratio = daemon / floor, and reads_per_s at 10,000 rules.
//
// BM_Shape parses documents of one shape and n elements against expat
// alone on the same bytes, and looks up the deepest element, so that time
// linear in the file shows as a ratio that stays put while n doubles.
// Shapes: 0 one chain of n nested elements; 1 a comb, each level a
// sixteenth of the rest as leaves and one child that holds the others,
// under 200 levels deep. Neither is a configuration,
// so the nesting limit is lifted for them. Counters: tree_ms, expat_ms,
// ratio = tree / expat, find_ms (the deepest element by its whole path).
#include <benchmark/benchmark.h>

#include <expat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "platform/xml_tree.h"
#include "platform/xmldb.h"
#include "rule_file.h"
#include "support/e2e.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kReads = 100000;

struct Database {
  explicit Database(int rules) {
    e2e::write_file(dir.path() + "/config.xml", bench::rule_file(rules));
    db = xmldb_open((dir.path() + "/config.xml").c_str());
    prefix = "config.autoresponse.autoresponse" + std::to_string(rules / 2 + 1);
  }
  ~Database() { xmldb_close(db); }

  // Seconds for kReads reads; sum keeps them from being optimised away.
  double time_reads(size_t* sum) const {
    static const char* const kKeys[] = {"enviro.check_type", "enviro.trigger_val", "enviro.hysteresis",
                                        "enviro.comparison"};
    const auto t = SteadyClock::now();
    for (int i = 0; i < kReads; ++i) *sum += strlen(xmldb_getstring(db, prefix.c_str(), kKeys[i % 4]));
    return std::chrono::duration<double>(SteadyClock::now() - t).count();
  }

  e2e::TempDir dir;
  xmldb_t* db = nullptr;
  std::string prefix;
};

void BM_Read(benchmark::State& state) {
  const Database small(10), large(10000);
  if (small.db == nullptr || large.db == nullptr) {
    state.SkipWithError("no database");
    return;
  }
  double floor_s = 0, daemon_s = 0;
  size_t sum = 0;
  for (auto _ : state) {
    floor_s += small.time_reads(&sum);
    const double t = large.time_reads(&sum);
    daemon_s += t;
    state.SetIterationTime(t);
  }
  benchmark::DoNotOptimize(sum);
  const double reads = static_cast<double>(state.iterations()) * kReads;
  state.counters["daemon_ns"] = daemon_s * 1e9 / reads;
  state.counters["floor_ns"] = floor_s * 1e9 / reads;
  state.counters["ratio"] = daemon_s / floor_s;
  state.counters["reads_per_s"] = reads / daemon_s;
}

BENCHMARK(BM_Read)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

// A document of the shape and about n elements, and the path of its
// deepest element.
std::string shaped_document(int shape, int n, std::string* deepest) {
  std::string doc = "<config>", closing = "</config>";
  *deepest = "config";
  for (int left = n; left > 0;) {
    // The comb spends a sixteenth of what is left on leaves at each level.
    for (int leaves = shape == 1 ? left / 16 : 0; leaves > 0; --leaves, --left) {
      const std::string name = "b" + std::to_string(leaves);  // each has a path of its own
      doc += "<" + name + ">1</" + name + ">";
    }
    doc += "<a>";
    closing.insert(0, "</a>");
    *deepest += ".a";
    --left;
  }
  return doc + closing;
}

double seconds_since(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// expat with no handlers, fed in the pieces the tree is fed in.
bool expat_alone(const std::string& doc) {
  XML_Parser parser = XML_ParserCreate(nullptr);
  bool ok = parser != nullptr;
  for (size_t at = 0; ok;) {
    const size_t piece = std::min(doc.size() - at, size_t{64 * 1024});
    const bool last = at + piece == doc.size();
    ok = XML_Parse(parser, doc.data() + at, static_cast<int>(piece), last) == XML_STATUS_OK;
    at += piece;
    if (last) break;
  }
  if (parser != nullptr) XML_ParserFree(parser);
  return ok;
}

void BM_Shape(benchmark::State& state) {
  std::string deepest;
  const std::string doc = shaped_document(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), &deepest);
  double tree_s = 0, expat_s = 0, find_s = 0;
  for (auto _ : state) {
    auto t = SteadyClock::now();
    if (!expat_alone(doc)) {
      state.SkipWithError("expat failed");
      return;
    }
    expat_s += seconds_since(t);
    std::string error;
    t = SteadyClock::now();
    auto tree = xml_tree_parse(doc, &error, {.max_depth = SIZE_MAX});
    const double parse = seconds_since(t);
    tree_s += parse;
    state.SetIterationTime(parse);
    if (!tree) {
      state.SkipWithError(error.c_str());
      return;
    }
    t = SteadyClock::now();
    const XmlTree::Id found = tree->find(deepest);
    find_s += seconds_since(t);
    if (found == XmlTree::kNone || tree->first_child(found) != XmlTree::kNone) {
      state.SkipWithError("the deepest element was not found");
      return;
    }
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["tree_ms"] = tree_s * 1e3 / n;
  state.counters["expat_ms"] = expat_s * 1e3 / n;
  state.counters["ratio"] = tree_s / expat_s;
  state.counters["find_ms"] = find_s * 1e3 / n;
}

BENCHMARK(BM_Shape)
    ->ArgsProduct({{0, 1}, {200000, 400000}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
