// Tests of the text helpers strrepl and construct_array.
#include "platform/strrepl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// strrepl on a malloc'd copy of text; "(null)" when it fails.
std::string replace(const char* text, const char* token, const char* value) {
  char* result = strrepl(strdup(text), token, value);
  if (!result)
    return "(null)";
  std::string out(result);
  std::free(result);
  return out;
}

TEST(StrreplTest, ReplacesEveryOccurrence) {
  EXPECT_EQ(replace("$AR_NAME is $AR_NAME", "$AR_NAME", "fan"), "fan is fan");
  EXPECT_EQ(replace("$X at start", "$X", "token"), "token at start");
  EXPECT_EQ(replace("at end $X", "$X", "token"), "at end token");
  EXPECT_EQ(replace("$X", "$X", "whole"), "whole");
  EXPECT_EQ(replace("$X$X$X", "$X", "ab"), "ababab");
  EXPECT_EQ(replace("aaaa", "aa", "b"), "bb");
}

TEST(StrreplTest, ValuesAreInsertedLiterally) {
  EXPECT_EQ(replace("a $X b", "$X", ""), "a  b");
  EXPECT_EQ(replace("$X$X", "$X", ""), "");
  // A value holding the token is not replaced again.
  EXPECT_EQ(replace("[$X]", "$X", "$X$X"), "[$X$X]");
}

TEST(StrreplTest, NoOccurrenceGivesTheTextBack) {
  EXPECT_EQ(replace("nothing here", "$X", "v"), "nothing here");
  EXPECT_EQ(replace("", "$X", "v"), "");
  EXPECT_EQ(replace("$", "$X", "v"), "$");  // a token cut short at the end
}

TEST(StrreplTest, FailuresReturnNullAndStillFreeTheText) {
  // The leak checker of the sanitizer build proves the text was freed.
  EXPECT_EQ(strrepl(nullptr, "$X", "v"), nullptr);
  EXPECT_EQ(strrepl(strdup("a $X"), "", "v"), nullptr);
  EXPECT_EQ(strrepl(strdup("a $X"), nullptr, "v"), nullptr);
  EXPECT_EQ(strrepl(strdup("a $X"), "$X", nullptr), nullptr);
}

// construct_array's elements as strings; the result code in *rc.
std::vector<std::string> split(const char* text, int* rc) {
  char** elements = reinterpret_cast<char**>(&elements);  // poison
  int count = -2;
  *rc = construct_array(text, &elements, &count);
  std::vector<std::string> out;
  if (*rc != 0)
    return out;
  EXPECT_EQ(count == 0, elements == nullptr);
  for (int i = 0; i < count; ++i)
    out.emplace_back(elements[i]);
  free_array(elements, count);
  return out;
}

using Strings = std::vector<std::string>;

TEST(ConstructArrayTest, SplitsAtCommasAndWhiteSpace) {
  int rc = -1;
  EXPECT_EQ(split("100:5,160:7,220:9", &rc), (Strings{"100:5", "160:7", "220:9"}));
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(split("100:5 160:7\t220:9\n", &rc), (Strings{"100:5", "160:7", "220:9"}));
  EXPECT_EQ(split(" ,, a ,\r\n b,,c ,", &rc), (Strings{"a", "b", "c"}));
  EXPECT_EQ(split("single", &rc), (Strings{"single"}));
  EXPECT_EQ(rc, 0);
}

TEST(ConstructArrayTest, EmptyListGivesNoArray) {
  for (const char* text : {"", " ", ",,,", " ,\t, \n"}) {
    char** elements = reinterpret_cast<char**>(&elements);
    int count = -2;
    EXPECT_EQ(construct_array(text, &elements, &count), 0) << '"' << text << '"';
    EXPECT_EQ(elements, nullptr);
    EXPECT_EQ(count, 0);
  }
}

TEST(ConstructArrayTest, NullTextFailsAndStoresNothing) {
  char** elements = reinterpret_cast<char**>(&elements);
  char** const poison = elements;
  int count = -2;
  EXPECT_EQ(construct_array(nullptr, &elements, &count), -1);
  EXPECT_EQ(elements, poison);
  EXPECT_EQ(count, -2);
  free_array(nullptr, 0);
}

}  // namespace
