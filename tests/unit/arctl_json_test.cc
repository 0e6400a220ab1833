// arctl's JSON writer: commas, layouts and closings as each command lays them out, every text escaped.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "arctl/json.h"

namespace {

TEST(ArctlJson, LayoutsAndTexts) {
  const struct { std::function<void(JsonWriter&)> write; std::string out; } cases[] = {
      {[](JsonWriter& w) { w.object().member("a", 1).member("b", true).null_member("c").end(); },
       R"({"a": 1, "b": true, "c": null})"},
      // Broken over lines only where it holds elements; an empty one closes at once.
      {[](JsonWriter& w) { w.object().key("x").array(kJsonLines).text("p").text("q").end().key("y").array(kJsonLines).end().end(); },
       "{\"x\": [\n  \"p\",\n  \"q\"\n ], \"y\": []}"},
      // A separator changed from the next member on.
      {[](JsonWriter& w) { w.object().member("f", "a").between(",\n ").member("g", -2).member("h", 3).between(", ").null_member("i").end(); },
       "{\"f\": \"a\",\n \"g\": -2,\n \"h\": 3, \"i\": null}"},
      {[](JsonWriter& w) { w.array().object().end().array().end().text(std::optional<std::string>()).end(); }, "[{}, [], null]"},
      // Quotes, control bytes, DEL and bytes that are no UTF-8 escaped; UTF-8 kept.
      {[](JsonWriter& w) { w.array().text(std::string("\"\\\n\t\r\x01\x7f\xff caf\xc3\xa9")).end(); },
       R"(["\"\\\n\t\r\u0001\u007f\u00ff café"])"},
      {[](JsonWriter& w) {
         w.object().member("t", std::string("x"));
         json_time(w, "s", 0);
         json_time(w, "u", 5);
         json_time_ms(w, "m", 1999);
         json_time_ms(w, "n", 0);
         w.end();
       },
       R"({"t": "x", "s": null, "u": 5, "m": 1, "n": null})"},
  };
  for (const auto& k : cases) {
    std::ostringstream out;
    JsonWriter w(out);
    k.write(w);
    EXPECT_EQ(out.str(), k.out);
  }
}

}  // namespace
