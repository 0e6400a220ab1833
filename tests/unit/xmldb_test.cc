// Tests of the configuration database over an XML file.
#include "platform/xmldb.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "platform/xml_tree.h"
#include "support/e2e.h"

namespace {

std::vector<std::string> logged;

class XmldbTest : public ::testing::Test {
 protected:
  XmldbTest() { logged.clear(); xmldb_set_log_sink([](const char* line) { logged.push_back(line); }); }
  ~XmldbTest() override { xmldb_close(db_); xmldb_set_log_sink(nullptr); }
  // Rewrites the file in place, or with rename puts a new file (a new inode) there.
  void write(const std::string& text, bool rename = false) {
    std::string to = rename ? path_ + ".new" : path_;
    std::ofstream(to, std::ios::binary | std::ios::trunc) << text;
    ASSERT_TRUE(!rename || std::rename(to.c_str(), path_.c_str()) == 0);
  }
  xmldb_t* open(const std::string& text) { write(text); return db_ = xmldb_open(path_.c_str()); }
  const char* get(const char* key) { return xmldb_getstring(db_, "config", key); }

  e2e::TempDir dir_;
  std::string path_ = dir_.path() + "/config.xml";
  xmldb_t* db_ = nullptr;
};

TEST_F(XmldbTest, ValueIsTheExactTextOfTheFirstLeafOfAPath) {
  ASSERT_NE(open("<?xml version=\"1.0\"?>\n<config><ar><ar1><d><h>7</h></d></ar1></ar><a>  spaced \n</a><self/>"
                 "<parent>text<child>1</child>more</parent>"
                 "<e>&lt;a&gt; &amp; &quot;b&quot; &apos;c&apos; &#65;&#x42;</e>"
                 "<mixed>a<![CDATA[<b>]]>c<!-- -->d</mixed><s><x>first</x></s><s><x>second</x><y>2nd</y></s>"
                 "<d.e>dotted</d.e><d><e>nested</e></d></config>"),
            nullptr);
  const struct { const char *prefix, *key, *want; } rows[] = {
      {"config.ar.ar1", "d.h", "7"}, {"config", "ar.ar1.d.h", "7"}, {"config", "a", "  spaced \n"},
      {"config", "self", ""},
      {"config", "missing", ""}, {"config", "parent", ""}, {"config", "parent.child", "1"}, {"config", "a.deeper", ""},
      {"config", "e", "<a> & \"b\" 'c' AB"}, {"config", "mixed", "a<b>cd"}, {"config", "s.x", "first"},
      {"config", "s.y", ""}, {"config", "d.e", "nested"}};
  for (const auto& r : rows) EXPECT_STREQ(xmldb_getstring(db_, r.prefix, r.key), r.want) << r.prefix << " " << r.key;
  // Files that are not whole documents of one root do not open.
  for (const char* text : {"", "<config><a>1</a>", "<config></wrong>", "<other/>", "<config/><config/>"}) {
    write(text);
    EXPECT_EQ(xmldb_open(path_.c_str()), nullptr) << text;
  }
}

TEST_F(XmldbTest, SizesClampLeadingDecimalsAndFlagsAreOnTrueYesOrOne) {
  struct Row { const char* text; int32_t size; int flag; };
  const Row rows[] = {{"42", 42, 0}, {"-7", -7, 0}, {"+5", 5, 0}, {" \t12", 12, 0}, {"12abc", 12, 0}, {"abc", 0, 0},
                      {"", 0, 0}, {"0x10", 0, 0}, {"-", 0, 0}, {"2147483647", INT32_MAX, 0},
                      {"-2147483648", INT32_MIN, 0}, {"99999999999", INT32_MAX, 0}, {"-99999999999", INT32_MIN, 0},
                      {"123456789012345678901234567890", INT32_MAX, 0}, {"1", 1, 1}, {"2", 2, 0}, {"on", 0, 1},
                      {"TRUE", 0, 1}, {"Yes", 0, 1}, {"off", 0, 0}, {" yes", 0, 0}, {"yess", 0, 0}};
  std::string doc = "<config>";
  for (size_t i = 0; i < std::size(rows); ++i)
    doc += "<v" + std::to_string(i) + ">" + rows[i].text + "</v" + std::to_string(i) + ">";
  ASSERT_NE(open(doc + "</config>"), nullptr);
  for (size_t i = 0; i < std::size(rows); ++i) {
    const std::string key = "v" + std::to_string(i);
    EXPECT_EQ(xmldb_getsize(db_, "config", key.c_str()), rows[i].size) << rows[i].text;
    EXPECT_EQ(xmldb_getbool(db_, "config", key.c_str()), rows[i].flag) << rows[i].text;
  }
}

TEST_F(XmldbTest, ChangesAreSeenWithoutReopeningAndOldTextsLiveEightReads) {
  ASSERT_NE(open("<config><v>1</v></config>"), nullptr);
  const char* first = get("v");
  write("<config><v>22</v><w>new</w></config>");  // in place, new size
  EXPECT_EQ(xmldb_getsize(db_, "config", "v"), 22);  // the re-parse happens here
  for (int i = 0; i < 8; ++i) EXPECT_STREQ(get("w"), "new");
  EXPECT_STREQ(first, "1");
  const char* second = get("v");
  write("<config><v>33</v><w>old</w></config>", true);  // same size, new inode
  for (int i = 0; i < 8; ++i) EXPECT_STREQ(get("w"), "old");
  EXPECT_STREQ(second, "22");
  // A malformed or missing file later keeps the last good contents and is logged once.
  write("<config><v>half written");
  for (int i = 0; i < 20; ++i) EXPECT_STREQ(get("v"), "33");
  std::remove(path_.c_str());
  for (int i = 0; i < 3; ++i) EXPECT_STREQ(get("v"), "33");
  EXPECT_EQ(logged.size(), 2u);
  write("<config><v>fixed</v></config>");
  EXPECT_STREQ(get("v"), "fixed");
  EXPECT_EQ(logged.size(), 2u);
}

}  // namespace
