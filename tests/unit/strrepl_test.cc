// Tests of the text helpers strrepl and construct_array.
#include "platform/strrepl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(StrreplTest, ReplacesEveryOccurrenceWithTheValueAsIs) {
  const struct { const char *text, *token, *value, *want; } rows[] = {
      {"$AR_NAME is $AR_NAME", "$AR_NAME", "fan", "fan is fan"}, {"$X$X$X", "$X", "ab", "ababab"},
      {"aaaa", "aa", "b", "bb"}, {"$X$X", "$X", "", ""}, {"[$X]", "$X", "$X$X", "[$X$X]"}, {"none", "$X", "v", "none"},
      {"$", "$X", "v", "$"}, {"", "$X", "v", ""}};
  for (const auto& r : rows) {
    char* out = strrepl(strdup(r.text), r.token, r.value);
    EXPECT_STREQ(out, r.want) << r.text;
    std::free(out);
  }
  EXPECT_EQ(strrepl(nullptr, "$X", "v"), nullptr);
  EXPECT_EQ(strrepl(strdup("a $X"), "", "v"), nullptr);  // the leak checker sees the text freed
  EXPECT_EQ(strrepl(strdup("a $X"), "$X", nullptr), nullptr);
}

TEST(ConstructArrayTest, SplitsAtCommasAndWhiteSpaceDroppingEmpties) {
  const std::pair<const char*, std::vector<std::string>> rows[] = {
      {"100:5,160:7 220:9\n", {"100:5", "160:7", "220:9"}}, {" ,, a ,\r\n b,,c\t,", {"a", "b", "c"}},
      {"single", {"single"}}, {"", {}}, {" ,\t, \n", {}}};
  char** elements = nullptr;
  int count = -2;
  for (const auto& [text, want] : rows) {
    ASSERT_EQ(construct_array(text, &elements, &count), 0) << text;
    EXPECT_EQ(std::vector<std::string>(elements, elements + count), want) << text;
    free_array(elements, count);
  }
  EXPECT_EQ(construct_array(nullptr, &elements, &count), -1);
}

}  // namespace
