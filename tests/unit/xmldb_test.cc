// Tests of the configuration database over an XML file and its scew_* view.
#include "platform/xmldb.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

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

TEST_F(XmldbTest, ValueIsTheExactTextOfTheFirstLeafOfAPathAndSubtreesKeepDocumentOrder) {
  ASSERT_NE(open("<?xml version=\"1.0\"?>\n<config><ar><total>2</total><ar1><name>Temp high</name>"
                 "<day0><hour>7</hour></day0></ar1></ar><a>  spaced \n</a><empty></empty><self/>"
                 "<parent>text<child>1</child>more</parent><c><![CDATA[<x> & $AR_NAME]]></c><n>1</n><n>2</n>"
                 "<e>&lt;a&gt; &amp; &quot;b&quot; &apos;c&apos; &#65;&#x42;</e><mixed>a<![CDATA[b]]>c<!-- -->d</mixed>"
                 "<s><x>first</x></s><s><x>second</x><y>2nd</y></s><d.e>dotted</d.e><d><e>nested</e></d>"
                 "<cms><on/><cms2><x/></cms2>\n <other/><cms1/><cms2/></cms></config>"),
            nullptr);
  struct Row { const char *prefix, *key, *want; };
  const Row rows[] = {
      {"config.ar", "total", "2"}, {"config.ar.ar1", "name", "Temp high"}, {"config.ar.ar1", "day0.hour", "7"},
      {"config", "ar.ar1.day0.hour", "7"}, {"config", "a", "  spaced \n"}, {"config", "self", ""},
      {"config", "missing", ""}, {"config", "parent", ""}, {"config", "parent.child", "1"},
      {"config", "a.deeper", ""},
      {"config", "c", "<x> & $AR_NAME"}, {"config", "e", "<a> & \"b\" 'c' AB"}, {"config", "mixed", "abcd"},
      {"config", "n", "1"}, {"config", "s.x", "first"}, {"config", "s.y", ""}, {"config", "d.e", "nested"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.prefix) + " " + r.key);
    EXPECT_STREQ(xmldb_getstring(db_, r.prefix, r.key), r.want);
  }
  // Only the subtree tells an empty leaf from an absent one.
  EXPECT_NE(xmldb_subtree(db_, "config.empty"), nullptr);
  EXPECT_EQ(xmldb_subtree(db_, "config.missing"), nullptr);
  std::vector<std::string> names;
  for (scew_list* l = scew_element_children(xmldb_subtree(db_, "config.cms")); l; l = scew_list_next(l))
    names.push_back(scew_element_name(static_cast<scew_element*>(scew_list_data(l))));
  EXPECT_EQ(names, (std::vector<std::string>{"on", "cms2", "other", "cms1", "cms2"}));
  EXPECT_EQ(scew_element_children(xmldb_subtree(db_, "config.cms.cms1")), nullptr);
}

TEST_F(XmldbTest, SizesClampLeadingDecimalsAndFlagsAreOnTrueYesOrOne) {
  struct Row { const char* text; int32_t size; int flag; };
  const Row rows[] = {{"42", 42, 0}, {"-7", -7, 0}, {"+5", 5, 0}, {" \t12", 12, 0}, {"12abc", 12, 0},
                      {"abc", 0, 0}, {"", 0, 0}, {"0x10", 0, 0}, {"-", 0, 0}, {"2147483647", INT32_MAX, 0},
                      {"-2147483648", INT32_MIN, 0}, {"99999999999", INT32_MAX, 0}, {"-99999999999", INT32_MIN, 0},
                      {"123456789012345678901234567890", INT32_MAX, 0}, {"1", 1, 1}, {"2", 2, 0}, {"on", 0, 1},
                      {"TRUE", 0, 1}, {"Yes", 0, 1}, {"off", 0, 0}, {" yes", 0, 0}, {"yess", 0, 0}};
  std::string doc = "<config>";
  for (size_t i = 0; i < std::size(rows); ++i)
    doc += "<v" + std::to_string(i) + ">" + rows[i].text + "</v" + std::to_string(i) + ">";
  ASSERT_NE(open(doc + "</config>"), nullptr);
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].text);
    std::string key = "v" + std::to_string(i);
    EXPECT_EQ(xmldb_getsize(db_, "config", key.c_str()), rows[i].size);
    EXPECT_EQ(xmldb_getbool(db_, "config", key.c_str()), rows[i].flag);
  }
  EXPECT_EQ(xmldb_getsize(db_, "config", "absent") + xmldb_getbool(db_, "config", "absent"), 0);
}

TEST_F(XmldbTest, BadFilesDoNotOpenAndANullHandleReadsNothing) {
  EXPECT_EQ(xmldb_open((dir_.path() + "/missing.xml").c_str()), nullptr);
  EXPECT_EQ(xmldb_open(dir_.path().c_str()), nullptr);
  for (const char* text : {"", "<config><a>1</a>", "<config></wrong>", "<other/>", "<config/><config/>"})
    EXPECT_EQ(open(text), nullptr) << text;
  EXPECT_EQ(logged.size(), 7u);
  EXPECT_STREQ(xmldb_getstring(nullptr, "config", "a"), "");
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
  EXPECT_TRUE(logged.empty());
}

TEST_F(XmldbTest, MalformedOrMissingLaterKeepsTheLastGoodContentsAndLogsOnce) {
  ASSERT_NE(open("<config><v>good</v></config>"), nullptr);
  write("<config><v>half written");
  for (int i = 0; i < 20; ++i) EXPECT_STREQ(get("v"), "good");
  std::remove(path_.c_str());
  for (int i = 0; i < 3; ++i) EXPECT_STREQ(get("v"), "good");
  EXPECT_EQ(logged.size(), 2u);
  write("<config><v>fixed</v></config>");
  EXPECT_STREQ(get("v"), "fixed");
  EXPECT_EQ(logged.size(), 2u);
}

}  // namespace
