// Tests of the configuration database over an XML file and its scew_* view.
#include "platform/xmldb.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/scew.h"
#include "platform/xml_tree.h"

namespace {

std::vector<std::string> logged;

void capture_log(const char* line) {
  logged.push_back(line);
}

class XmldbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/xmldb_test.XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    path_ = dir_ + "/config.xml";
    logged.clear();
    xmldb_set_log_sink(capture_log);
  }

  void TearDown() override {
    xmldb_close(db_);
    xmldb_set_log_sink(nullptr);
    std::filesystem::remove_all(dir_);
  }

  // Rewrites the file in place (same inode).
  void write(const std::string& text) { write_file(path_, text); }

  // Puts a new file in place with rename (new inode).
  void replace(const std::string& text) {
    std::string tmp = dir_ + "/config.xml.new";
    write_file(tmp, text);
    ASSERT_EQ(std::rename(tmp.c_str(), path_.c_str()), 0);
  }

  // Writes the file and opens the database on it.
  xmldb_t* open(const std::string& text) {
    write(text);
    db_ = xmldb_open(path_.c_str());
    return db_;
  }

  const char* get(const char* prefix, const char* key) { return xmldb_getstring(db_, prefix, key); }

  static void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }

  std::string dir_;
  std::string path_;
  xmldb_t* db_ = nullptr;
};

TEST_F(XmldbTest, ReadsValuesByPrefixAndKey) {
  ASSERT_NE(open("<config><autoresponse><total>2</total>"
                 "<autoresponse1><name>Temp high</name>"
                 "<disable><day0><start_hour>7</start_hour></day0></disable>"
                 "</autoresponse1></autoresponse></config>"),
            nullptr);
  EXPECT_STREQ(get("config.autoresponse", "total"), "2");
  EXPECT_STREQ(get("config.autoresponse.autoresponse1", "name"), "Temp high");
  EXPECT_STREQ(get("config.autoresponse.autoresponse1", "disable.day0.start_hour"), "7");
  EXPECT_STREQ(get("config.autoresponse.autoresponse1.disable.day0", "start_hour"), "7");
  EXPECT_STREQ(get("config", "autoresponse.autoresponse1.name"), "Temp high");
}

TEST_F(XmldbTest, ValueIsExactTextOfALeafOnly) {
  ASSERT_NE(open("<config><a>  spaced out \n</a><empty></empty><selfclosed/>"
                 "<parent>text<child>1</child>more</parent></config>"),
            nullptr);
  EXPECT_STREQ(get("config", "a"), "  spaced out \n");
  EXPECT_STREQ(get("config", "empty"), "");
  EXPECT_STREQ(get("config", "selfclosed"), "");
  EXPECT_STREQ(get("config", "missing"), "");
  EXPECT_STREQ(get("config", "parent"), "");
  EXPECT_STREQ(get("config", "parent.child"), "1");
  EXPECT_STREQ(get("config", "a.deeper"), "");
  EXPECT_EQ(xmldb_getsize(db_, "config", "parent"), 0);
  EXPECT_EQ(xmldb_getbool(db_, "config", "missing"), 0);
  // Only the subtree tells an empty leaf from an absent one.
  EXPECT_NE(xmldb_subtree(db_, "config.empty"), nullptr);
  EXPECT_EQ(xmldb_subtree(db_, "config.missing"), nullptr);
}

TEST_F(XmldbTest, DecodesEntitiesAndCdata) {
  ASSERT_NE(open("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<config><e>&lt;a&gt; &amp; &quot;b&quot; &apos;c&apos; &#65;&#x42;</e>"
                 "<c><![CDATA[<x> & $AR_NAME]]></c>"
                 "<mixed>a<![CDATA[b]]>c<!-- note -->d</mixed></config>"),
            nullptr);
  EXPECT_STREQ(get("config", "e"), "<a> & \"b\" 'c' AB");
  EXPECT_STREQ(get("config", "c"), "<x> & $AR_NAME");
  EXPECT_STREQ(get("config", "mixed"), "abcd");
}

TEST_F(XmldbTest, FirstSiblingOfANameCounts) {
  ASSERT_NE(open("<config><n>1</n><n>2</n>"
                 "<a><x>first</x></a><a><x>second</x><y>only-in-second</y></a>"
                 "<d.e>dotted</d.e><d><e>nested</e></d></config>"),
            nullptr);
  EXPECT_STREQ(get("config", "n"), "1");
  EXPECT_STREQ(get("config", "a.x"), "first");
  // The second <a> is invisible to paths, its children included.
  EXPECT_STREQ(get("config", "a.y"), "");
  // A name with a dot never shadows the nested element.
  EXPECT_STREQ(get("config", "d.e"), "nested");
}

TEST_F(XmldbTest, SizesFollowStrtolAndClamp) {
  ASSERT_NE(open("<config><n>42</n><neg>-7</neg><pos>+5</pos><ws> \t12</ws><junk>12abc</junk>"
                 "<word>abc</word><empty></empty><hex>0x10</hex><big>99999999999</big>"
                 "<small>-99999999999</small><max>2147483647</max><min>-2147483648</min>"
                 "<huge>123456789012345678901234567890</huge><sign>-</sign></config>"),
            nullptr);
  EXPECT_EQ(xmldb_getsize(db_, "config", "n"), 42);
  EXPECT_EQ(xmldb_getsize(db_, "config", "neg"), -7);
  EXPECT_EQ(xmldb_getsize(db_, "config", "pos"), 5);
  EXPECT_EQ(xmldb_getsize(db_, "config", "ws"), 12);
  EXPECT_EQ(xmldb_getsize(db_, "config", "junk"), 12);
  EXPECT_EQ(xmldb_getsize(db_, "config", "word"), 0);
  EXPECT_EQ(xmldb_getsize(db_, "config", "empty"), 0);
  EXPECT_EQ(xmldb_getsize(db_, "config", "absent"), 0);
  EXPECT_EQ(xmldb_getsize(db_, "config", "hex"), 0);
  EXPECT_EQ(xmldb_getsize(db_, "config", "big"), INT32_MAX);
  EXPECT_EQ(xmldb_getsize(db_, "config", "small"), INT32_MIN);
  EXPECT_EQ(xmldb_getsize(db_, "config", "max"), INT32_MAX);
  EXPECT_EQ(xmldb_getsize(db_, "config", "min"), INT32_MIN);
  EXPECT_EQ(xmldb_getsize(db_, "config", "huge"), INT32_MAX);
  EXPECT_EQ(xmldb_getsize(db_, "config", "sign"), 0);
}

TEST_F(XmldbTest, FlagsAreOnTrueYesOrOne) {
  ASSERT_NE(open("<config><a>on</a><b>TRUE</b><c>Yes</c><d>1</d>"
                 "<e>off</e><f>0</f><g>2</g><h> yes</h><i>yess</i><j></j></config>"),
            nullptr);
  for (const char* key : {"a", "b", "c", "d"})
    EXPECT_EQ(xmldb_getbool(db_, "config", key), 1) << key;
  for (const char* key : {"e", "f", "g", "h", "i", "j", "absent"})
    EXPECT_EQ(xmldb_getbool(db_, "config", key), 0) << key;
}

TEST_F(XmldbTest, OpenFailsOnBadFiles) {
  EXPECT_EQ(xmldb_open((dir_ + "/missing.xml").c_str()), nullptr);
  EXPECT_EQ(xmldb_open(dir_.c_str()), nullptr);  // a directory
  for (const char* text : {"", "<config><a>1</a>", "<config></wrong>", "<other><a>1</a></other>",
                           "<config/><config/>"}) {
    write(text);
    EXPECT_EQ(xmldb_open(path_.c_str()), nullptr) << text;
  }
  EXPECT_FALSE(logged.empty());
}

TEST_F(XmldbTest, NullHandleIsSafe) {
  xmldb_close(nullptr);
  EXPECT_STREQ(xmldb_getstring(nullptr, "config", "a"), "");
  EXPECT_EQ(xmldb_getsize(nullptr, "config", "a"), 0);
  EXPECT_EQ(xmldb_getbool(nullptr, "config", "a"), 0);
  EXPECT_EQ(xmldb_subtree(nullptr, "config"), nullptr);
  EXPECT_EQ(scew_element_children(nullptr), nullptr);
  EXPECT_EQ(scew_list_next(nullptr), nullptr);
  EXPECT_EQ(scew_list_data(nullptr), nullptr);
  EXPECT_EQ(scew_element_name(nullptr), nullptr);
}

TEST_F(XmldbTest, SeesChangesWithoutReopening) {
  ASSERT_NE(open("<config><v>1</v></config>"), nullptr);
  EXPECT_STREQ(get("config", "v"), "1");

  write("<config><v>22</v><w>new</w></config>");  // in place, new size
  EXPECT_STREQ(get("config", "v"), "22");
  EXPECT_STREQ(get("config", "w"), "new");

  replace("<config><v>33</v><w>old</w></config>");  // same size, new inode
  EXPECT_STREQ(get("config", "v"), "33");
  EXPECT_EQ(xmldb_getsize(db_, "config", "v"), 33);
  EXPECT_STREQ(get("config", "w"), "old");
  EXPECT_TRUE(logged.empty());
}

TEST_F(XmldbTest, TextsOutliveAReparseForEightReads) {
  ASSERT_NE(open("<config><a>first a</a><b>first b</b></config>"), nullptr);
  const char* held_a = get("config", "a");
  const char* held_b = get("config", "b");

  write("<config><a>second a</a><b>second b</b></config>");
  EXPECT_EQ(xmldb_getsize(db_, "config", "a"), 0);  // the re-parse happens here
  for (int i = 0; i < 8; ++i)
    EXPECT_STREQ(get("config", "a"), "second a");
  EXPECT_STREQ(held_a, "first a");
  EXPECT_STREQ(held_b, "first b");

  // A text of the second contents survives a third parse, too.
  const char* held_second = get("config", "b");
  replace("<config><a>third a</a><b>third b</b></config>");
  for (int i = 0; i < 8; ++i)
    EXPECT_STREQ(get("config", "a"), "third a");
  EXPECT_STREQ(held_second, "second b");
  EXPECT_NE(xmldb_subtree(db_, "config.a"), nullptr);
}

TEST_F(XmldbTest, MalformedOrMissingLaterKeepsLastGoodContents) {
  ASSERT_NE(open("<config><v>good</v></config>"), nullptr);
  EXPECT_STREQ(get("config", "v"), "good");

  write("<config><v>half written");
  for (int i = 0; i < 20; ++i)
    EXPECT_STREQ(get("config", "v"), "good");
  EXPECT_EQ(logged.size(), 1u);

  write("<wrong><v>bad root</v></wrong>");
  EXPECT_STREQ(get("config", "v"), "good");
  EXPECT_EQ(logged.size(), 2u);

  std::filesystem::remove(path_);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(xmldb_getsize(db_, "config", "v"), 0);
  EXPECT_STREQ(get("config", "v"), "good");
  EXPECT_EQ(logged.size(), 3u);

  write("<config><v>fixed</v></config>");
  EXPECT_STREQ(get("config", "v"), "fixed");
  EXPECT_EQ(logged.size(), 3u);
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name))
      old_ = old;
    setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST_F(XmldbTest, NullNameOpensTheFileOfXmldbPath) {
  write("<config><where>here</where></config>");
  ScopedEnv env("XMLDB_PATH", path_.c_str());
  db_ = xmldb_open(nullptr);
  ASSERT_NE(db_, nullptr);
  EXPECT_STREQ(get("config", "where"), "here");
}

TEST_F(XmldbTest, RelativeXmldbPathSurvivesAChangeOfDirectory) {
  write("<config><v>1</v></config>");
  std::filesystem::path old_cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  {
    ScopedEnv env("XMLDB_PATH", "config.xml");
    db_ = xmldb_open(nullptr);
  }
  std::filesystem::current_path(old_cwd);
  ASSERT_NE(db_, nullptr);
  write("<config><v>22</v></config>");
  EXPECT_STREQ(get("config", "v"), "22");
  EXPECT_TRUE(logged.empty());
}

// The names of an element's children, in list order.
std::vector<std::string> child_names(const scew_element* element) {
  std::vector<std::string> names;
  for (scew_list* l = scew_element_children(element); l; l = scew_list_next(l))
    names.push_back(scew_element_name(static_cast<scew_element*>(scew_list_data(l))));
  return names;
}

TEST_F(XmldbTest, SubtreeWalksChildrenInDocumentOrder) {
  ASSERT_NE(open("<config><cms><enabled>on</enabled>"
                 "<cms2><node><name>b</name></node></cms2>\n  <other/>"
                 "<cms1>x</cms1><cms2>again</cms2></cms></config>"),
            nullptr);
  scew_element* cms = xmldb_subtree(db_, "config.cms");
  ASSERT_NE(cms, nullptr);
  EXPECT_STREQ(scew_element_name(cms), "cms");
  EXPECT_EQ(child_names(cms), (std::vector<std::string>{"enabled", "cms2", "other", "cms1", "cms2"}));

  scew_element* cms2 = xmldb_subtree(db_, "config.cms.cms2");
  ASSERT_NE(cms2, nullptr);
  EXPECT_EQ(child_names(cms2), std::vector<std::string>{"node"});
  EXPECT_EQ(scew_element_children(xmldb_subtree(db_, "config.cms.cms1")), nullptr);
  EXPECT_STREQ(scew_element_name(xmldb_subtree(db_, "config")), "config");
  EXPECT_EQ(xmldb_subtree(db_, "config.nothing"), nullptr);
  EXPECT_EQ(xmldb_subtree(db_, "cms"), nullptr);
}

}  // namespace
