// Texts held once by many, and rule paths formed from their numbers.
#include "base/shared_name.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "model/autoresponse.h"

// Equal texts share one block however they are copied, moved or
// assigned, and the block goes with its last holder.
TEST(SharedNameTest, EqualTextsAreHeldOnceAndGoWithTheirLastHolder) {
  const size_t before = SharedName::distinct();
  {
    std::vector<SharedName> names;
    for (int i = 0; i < 1000; ++i) names.emplace_back(i % 2 ? "mail ops" : std::string("cut rack power"));
    EXPECT_EQ(SharedName::distinct(), before + 2);
    EXPECT_EQ(names[0], names[2]);
    EXPECT_EQ(names[1].c_str(), SharedName("mail ops").c_str());
    SharedName moved = std::move(names[0]);
    EXPECT_TRUE(names[0].empty());
    names[0] = names[1];
    names[1] = moved;
    names[3] = names[3];  // itself
    EXPECT_EQ(names[1], "cut rack power");
    EXPECT_EQ(names[3], "mail ops");
    EXPECT_EQ(SharedName::distinct(), before + 2);
    names.resize(1);  // one "mail ops" left, and moved's "cut rack power"
    EXPECT_EQ(SharedName::distinct(), before + 2);
    moved = SharedName();
    EXPECT_EQ(SharedName::distinct(), before + 1);
  }
  EXPECT_EQ(SharedName::distinct(), before);
}

TEST(SharedNameTest, ItReadsAsTheTextItWasGiven) {
  const std::string long_text(300, 'x');
  for (const std::string& text : {std::string(), std::string("a"), std::string("trailing "), long_text}) {
    SCOPED_TRACE(text.size());
    const SharedName name(text);
    EXPECT_EQ(name.size(), text.size());
    EXPECT_EQ(name.empty(), text.empty());
    EXPECT_EQ(std::string(name.c_str()), text);
    EXPECT_EQ(name.str(), text);
    EXPECT_EQ("<" + name + ">", "<" + text + ">");
  }
}

TEST(RulePathTest, IsThePrefixAndTheNumber) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "config.autoresponse.autoresponse0"},
      {7, "config.autoresponse.autoresponse7"},
      {10000, "config.autoresponse.autoresponse10000"},
      {4294967295u, "config.autoresponse.autoresponse4294967295"},
  };
  for (const auto& [index, text] : cases) {
    const RulePath path(index);
    EXPECT_STREQ(path.c_str(), text);
    EXPECT_EQ(path.view(), text);
    EXPECT_EQ(path + ".name", std::string(text) + ".name");
  }
}
