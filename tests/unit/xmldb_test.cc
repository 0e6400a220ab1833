// Tests of the configuration database over an XML file.
#include "platform/xmldb.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/file_checksum.h"
#include "platform/xml_tree.h"
#include "support/e2e.h"

namespace {

std::vector<std::string> logged;

class XmldbTest : public ::testing::Test {
 protected:
  XmldbTest() { logged.clear(); xmldb_set_log_sink([](const char* line) { logged.push_back(line); }); }
  ~XmldbTest() override { xmldb_close(db_); xmldb_set_log_sink(nullptr); xmldb_set_watching(true); }
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
                 "<d.e>dotted</d.e><d><e>nested</e></d><p.q><r>below a dot</r></p.q><u>\xC3\xA9t\xC3\xA9</u></config>"),
            nullptr);
  const struct { const char *prefix, *key, *want; } rows[] = {
      {"config.ar.ar1", "d.h", "7"}, {"config", "ar.ar1.d.h", "7"}, {"config", "a", "  spaced \n"},
      {"config", "self", ""},
      {"config", "missing", ""}, {"config", "parent", ""}, {"config", "parent.child", "1"}, {"config", "a.deeper", ""},
      {"config", "e", "<a> & \"b\" 'c' AB"}, {"config", "mixed", "a<b>cd"}, {"config", "s.x", "first"},
      {"config", "s.y", ""}, {"config", "d.e", "nested"}, {"config", "p.q.r", ""}, {"config", "u", "\xC3\xA9t\xC3\xA9"},
      // Either half alone is the whole path; an empty component names nothing.
      {"", "config.a", "  spaced \n"}, {nullptr, "config.a", "  spaced \n"}, {"config.a", "", "  spaced \n"},
      {"config.a", nullptr, "  spaced \n"}, {"", "", ""}, {"config.", "a", ""}, {"config", ".a", ""},
      {"config", "a.", ""}, {"", "config", ""}, {"other", "a", ""}, {"conf", "ig.a", ""}};
  for (const auto& r : rows) EXPECT_STREQ(xmldb_getstring(db_, r.prefix, r.key), r.want) << r.prefix << " " << r.key;
  for (const char* text : {"", "<config><a>1</a>", "<config></wrong>", "<other/>", "<config/><config/>"}) {
    write(text);
    EXPECT_EQ(xmldb_open(path_.c_str()), nullptr) << text;
  }
}

TEST_F(XmldbTest, ThousandsOfSiblingsAreEachFoundAndTheSubtreeWalksEveryChildInOrder) {
  std::string doc = "<config><big>";
  // Each sibling holds keys of the same names as the others, one level down too.
  for (int i = 1; i <= 5000; ++i) {
    const std::string n = std::to_string(i);
    doc += "<n" + n + "><v>" + n + "</v><s><v>-" + n + "</v></s></n" + n + ">";
  }
  ASSERT_NE(open(doc + "</big><cms><enabled>on</enabled><cms1><a>1</a></cms1><x.y/><cms1/></cms></config>"), nullptr);
  for (int i = 1; i <= 5000; ++i) {
    const std::string prefix = "config.big.n" + std::to_string(i);
    ASSERT_EQ(xmldb_getsize(db_, prefix.c_str(), "v"), i);
    ASSERT_EQ(xmldb_getsize(db_, prefix.c_str(), "s.v"), -i);
    ASSERT_STREQ(xmldb_getstring(db_, prefix.c_str(), "w"), "");
    ASSERT_STREQ(xmldb_getstring(db_, prefix.c_str(), "v.v"), "");
  }
  std::vector<std::string> names;
  for (const scew_list* l = scew_element_children(xmldb_subtree(db_, "config.cms")); l != nullptr; l = scew_list_next(l)) {
    const auto* child = static_cast<const scew_element*>(scew_list_data(l));
    names.push_back(std::string(scew_element_name(child)) + (scew_element_children(child) ? "+" : ""));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"enabled", "cms1+", "x.y", "cms1"}));
  EXPECT_STREQ(scew_element_name(xmldb_subtree(db_, "config.cms.cms1")), "cms1");
  EXPECT_EQ(scew_element_children(xmldb_subtree(db_, "config.cms.enabled")), nullptr);
  EXPECT_EQ(xmldb_subtree(db_, "config.cms.x.y"), nullptr);
  EXPECT_EQ(xmldb_subtree(db_, "config.cms.missing"), nullptr);
}

// An element of about 64 descendants or fewer has its children read in order, a larger one has them hashed:
// both must find the same ones, from any element that has a path. Names of seven to nine bytes sit either
// side of a word, and the last name of the document is at the very end of the pool.
TEST(XmlTreeTest, ChildrenOfSmallAndLargeElementsAreFoundAlike) {
  const char* const fixed = "<k>first</k><k><x>later</x></k><d.e>dot</d.e><q.r><s>1</s></q.r><abcdefghi>9</abcdefghi>"
                            "<abcdefgh>8</abcdefgh><abcdefg>7</abcdefg><k2><y>deep</y></k2><last>end</last>";
  const struct { const char* key; const char* want; } rows[] = {
      {"k", "first"}, {"k.x", nullptr}, {"d.e", nullptr}, {"d", nullptr}, {"q.r.s", nullptr}, {"q", nullptr},
      {"abcdefg", "7"}, {"abcdefgh", "8"}, {"abcdefghi", "9"}, {"abcdef", nullptr}, {"abcdefgj", nullptr},
      {"abcdefghij", nullptr}, {"k2.y", "deep"}, {"last", "end"}, {"f0", ""}, {"zzzzzz", ""}, {"zzzzz", nullptr},
      {"zzzzzzz", nullptr}};
  // Descendants of p: 12 above, the fillers, and zzzzzz.
  for (int descendants : {14, 63, 64, 65, 66, 500}) {
    std::string doc = std::string("<config><o/><p>") + fixed;
    for (int i = 0; i < descendants - 13; ++i) doc += "<f" + std::to_string(i) + "/>";
    std::string error;
    const auto tree = xml_tree_parse(doc + "<zzzzzz/></p></config>", &error);
    ASSERT_NE(tree, nullptr) << error;
    const XmlTree::Id p = tree->find("config.p");
    ASSERT_NE(p, XmlTree::kNone);
    for (const auto& r : rows) {
      const XmlTree::Id id = tree->find_below(p, r.key);
      EXPECT_STREQ(id == XmlTree::kNone ? nullptr : tree->value(id), r.want) << descendants << " " << r.key;
      EXPECT_EQ(tree->find("config.p", r.key), id) << descendants << " " << r.key;
      const std::string_view key = r.key;
      if (const size_t dot = key.find('.'); dot != std::string_view::npos) {
        const XmlTree::Id head = tree->find_below(p, key.substr(0, dot));
        EXPECT_EQ(head == XmlTree::kNone ? head : tree->find_below(head, key.substr(dot + 1)), id) << r.key;
      }
    }
    // Below a later same-named sibling or a dotted name nothing has a path, even when asked from there.
    const XmlTree::Id later = tree->next_sibling(tree->find_below(p, "k")), dotted = tree->next_sibling(later) + 1;
    EXPECT_STREQ(tree->name(dotted), "q.r");
    EXPECT_EQ(tree->find_below(later, "x"), XmlTree::kNone) << descendants;
    EXPECT_EQ(tree->find_below(dotted, "s"), XmlTree::kNone) << descendants;
  }
}

// Up to 256 levels nest, root included; one more is not well-formed, and the complaint says where it starts.
TEST_F(XmldbTest, NestingDeeperThanTheLimitIsRefusedWithItsLineAndColumn) {
  const struct { size_t levels; const char* refused; } rows[] = {
      {255, nullptr}, {256, nullptr}, {257, "elements nested deeper than 256 levels at line 257, column 3"}};
  for (const auto& r : rows) {
    std::string doc = "<config>", deepest, closing = "</config>";
    for (size_t level = 2; level <= r.levels; ++level) {
      doc += "\n  <a>";
      closing.insert(0, "</a>");
      deepest += "a.";
    }
    deepest.pop_back();
    logged.clear();
    xmldb_close(db_);
    open(doc + "7" + closing);
    if (r.refused) {
      EXPECT_EQ(db_, nullptr);
      EXPECT_EQ(logged, std::vector<std::string>{"xmldb: cannot open " + path_ + ": " + r.refused});
    } else {
      ASSERT_NE(db_, nullptr) << r.levels;
      EXPECT_EQ(xmldb_getsize(db_, "config", deepest.c_str()), 7) << r.levels;
    }
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

// The same changes, seen through the watch and through the stat check that stands in without one.
class XmldbFreshnessTest : public XmldbTest, public ::testing::WithParamInterface<bool> {
  void SetUp() override { xmldb_set_watching(GetParam()); }
};

TEST_P(XmldbFreshnessTest, ChangesAreSeenWithoutReopeningAndOldTextsLiveEightReads) {
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
  // A FIFO, a malformed or a missing file later keeps the last good contents and is logged once.
  ASSERT_EQ(mkfifo((path_ + ".new").c_str(), 0600), 0);  // opened without blocking
  ASSERT_EQ(std::rename((path_ + ".new").c_str(), path_.c_str()), 0);
  for (int i = 0; i < 3; ++i) EXPECT_STREQ(get("v"), "33");
  write("<config><v>half written", true);
  for (int i = 0; i < 20; ++i) EXPECT_STREQ(get("v"), "33");
  std::remove(path_.c_str());
  for (int i = 0; i < 3; ++i) EXPECT_STREQ(get("v"), "33");
  EXPECT_EQ(logged.size(), 3u);
  write("<config><v>fixed</v></config>");  // re-created
  EXPECT_STREQ(get("v"), "fixed");
  EXPECT_EQ(logged.size(), 3u);
  // A prefix read before is looked up again in new contents, where its element has another place.
  write("<config><a/><b><v>b1</v></b></config>", true);
  EXPECT_STREQ(xmldb_getstring(db_, "config.b", "v"), "b1");
  write("<config><b><v>b2</v></b></config>", true);
  EXPECT_STREQ(xmldb_getstring(db_, "config.b", "v"), "b2");
}

// One load reads one version of the file, replaced under it or not, and knows the checksum of those bytes.
TEST_P(XmldbFreshnessTest, AHoldReadsOneVersionUntilItsLastRelease) {
  const std::string first = "<config><v>1</v><w>a</w></config>", second = "<config><v>22</v></config>";
  ASSERT_NE(open(first), nullptr);
  XmldbSource held, inner, now;
  ASSERT_EQ(xmldb_hold(db_, &held), 0);
  write(second, true);
  EXPECT_STREQ(get("v"), "1");
  ASSERT_EQ(xmldb_hold(db_, &inner), 0);
  xmldb_release(db_);
  EXPECT_EQ(xmldb_getsize(db_, "config", "v"), 1);
  EXPECT_NE(xmldb_subtree(db_, "config.w"), nullptr);
  xmldb_release(db_);
  EXPECT_STREQ(get("v"), "22");
  EXPECT_EQ(held.checksum, file_checksum(first));
  EXPECT_EQ(inner.checksum, held.checksum);
  ASSERT_EQ(xmldb_hold(db_, &now), 0);
  xmldb_release(db_);
  struct stat st {};
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(now.checksum, file_checksum(second));
  EXPECT_EQ(now.mtime, static_cast<int64_t>(st.st_mtime));
}

INSTANTIATE_TEST_SUITE_P(WatchedOrNot, XmldbFreshnessTest, ::testing::Bool());

// A handle that follows a newer one reads what the newer read, its own parse gone, and still sees
// the file's later changes; a held handle keeps its own.
TEST_P(XmldbFreshnessTest, AFollowingHandleReadsTheNewerOnesContentsAndLaterChanges) {
  ASSERT_NE(open("<config><v>1</v></config>"), nullptr);
  ASSERT_EQ(xmldb_hold(db_, nullptr), 0);
  // Laid out otherwise, so that nothing found in the old parse serves for the new.
  write("<config><u>0</u><v>2</v></config>", true);
  xmldb_t* newer = xmldb_open(path_.c_str());
  ASSERT_NE(newer, nullptr);
  xmldb_follow(db_, newer);
  EXPECT_STREQ(get("v"), "1");
  xmldb_release(db_);
  xmldb_follow(db_, newer);
  EXPECT_STREQ(get("v"), "2");
  write("<config><v>3</v></config>", true);
  EXPECT_STREQ(get("v"), "3");
  EXPECT_STREQ(xmldb_getstring(newer, "config", "v"), "3");
  xmldb_close(newer);
}

// A handle opened beside a running one shares its parse only when that parse is of the file as it
// is now: a change the running one has not read yet, or a file it could not parse, is read afresh.
TEST_P(XmldbFreshnessTest, AHandleOpenedBesideSharesOnlyAParseOfTheFileAsItIsNow) {
  struct Case {
    const char* name;
    const char* edit;  // written (renamed into place) after the running handle's first read
    bool read_first;   // the running handle reads the edit before the other opens
    const char* seen;  // what the handle opened beside reads; null when it cannot open
    bool shared;
  };
  const Case cases[] = {
      {"unchanged", nullptr, false, "1", true},
      {"edit read by the running handle", "<config><v>2</v></config>", true, "2", true},
      {"edit not read yet", "<config><v>2</v></config>", false, "2", false},
      {"malformed edit read by the running handle", "<config><v>2", true, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    xmldb_close(db_);
    ASSERT_NE(open("<config><v>1</v></config>"), nullptr);
    EXPECT_STREQ(get("v"), "1");
    if (c.edit != nullptr) write(c.edit, true);
    if (c.read_first) get("v");
    xmldb_t* beside = xmldb_open_beside(db_);
    EXPECT_EQ(beside != nullptr, c.seen != nullptr);
    if (beside == nullptr) continue;
    const char* text = xmldb_getstring(beside, "config", "v");
    EXPECT_STREQ(text, c.seen);
    EXPECT_EQ(text == get("v"), c.shared);  // one parse: the very same text
    xmldb_close(beside);
  }
}

// A file hashed in pieces as it is parsed has the checksum of the whole, wherever the pieces part a word,
// and a file of megabytes, read in many pieces, loads with it too.
TEST_F(XmldbTest, TheChecksumOfPiecesIsThatOfTheWhole) {
  const std::string bytes = "<config><v>0123456789abcdefghijklmnopq</v></config>";
  for (const std::vector<size_t>& cuts : std::vector<std::vector<size_t>>{{}, {1}, {3, 5}, {8, 16}, {7, 9, 10, 30}}) {
    FileChecksum sum(bytes.size());
    size_t at = 0;
    for (size_t cut : cuts) sum.add(std::string_view(bytes).substr(at, cut - at)), at = cut;
    sum.add(std::string_view(bytes).substr(at));
    EXPECT_EQ(sum.digits(), file_checksum(bytes)) << cuts.size() << " cuts";
  }
  std::string large = "<config>";
  for (int i = 0; large.size() < 3 * 1000 * 1000; ++i) large += "<e" + std::to_string(i % 7) + ">x</e" + std::to_string(i % 7) + ">";
  large += "<v>end</v></config>";
  ASSERT_NE(open(large), nullptr);
  XmldbSource source;
  ASSERT_EQ(xmldb_hold(db_, &source), 0);
  xmldb_release(db_);
  EXPECT_EQ(source.checksum, file_checksum(large));
  EXPECT_STREQ(get("v"), "end");
}

TEST_F(XmldbTest, TheWatchSeesClosedWritesOnlyAndIgnoresOtherFiles) {
  ASSERT_NE(open("<config><v>1</v></config>"), nullptr);
  const char* one = get("v");
  // Another file of the directory changing parses nothing again: the same text comes back.
  std::ofstream(dir_.path() + "/other.xml") << "<config/>";
  std::rename((dir_.path() + "/other.xml").c_str(), (dir_.path() + "/other2.xml").c_str());
  EXPECT_EQ(get("v"), one);
  // A write is seen once its writer closes the file, even at the same size; a half-written file is
  // not parsed meanwhile (no complaint about it).
  const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "<config><v>2</v>", 16), 16);
  EXPECT_STREQ(get("v"), "1");
  ASSERT_EQ(::write(fd, "</config>", 9), 9);
  close(fd);
  EXPECT_STREQ(get("v"), "2");
  EXPECT_TRUE(logged.empty());
}

// Each row opens a path to a file holding 1, changes something on the way and reads 2, then watches the
// file it now reads.
TEST_F(XmldbTest, AReadFollowsThePathThroughReplacedLinksAndDirectories) {
  namespace fs = std::filesystem;
  const std::string d = dir_.path();
  const auto files = [&d](std::initializer_list<const char*> dirs) {
    int value = 1;
    for (const char* sub : dirs) {
      fs::create_directories(d + "/" + sub);
      e2e::write_file(d + "/" + sub + "/config.xml", "<config><v>" + std::to_string(value++) + "</v></config>");
    }
  };
  const struct {
    const char* what;
    const char* path;
    std::function<void()> setup, change;
  } rows[] = {
      {"a linked file's target renamed over", "/link.xml",
       [&] { files({"t"}); fs::create_symlink(d + "/t/config.xml", d + "/link.xml"); },
       [&] { e2e::write_file(d + "/t/config.xml", "<config><v>2</v></config>"); }},
      {"a linked directory unlinked and linked again (ln -sfn)", "/cur/config.xml",
       [&] { files({"v1", "v2"}); fs::create_directory_symlink("v1", d + "/cur"); },
       [&] { fs::remove(d + "/cur"); fs::create_directory_symlink("v2", d + "/cur"); }},
      {"a new link renamed over a linked directory (mv -T)", "/cur/config.xml",
       [&] { files({"v1", "v2"}); fs::create_directory_symlink(d + "/v1", d + "/cur"); },
       [&] { fs::create_directory_symlink(d + "/v2", d + "/cur.new"); fs::rename(d + "/cur.new", d + "/cur"); }},
      {"a link that a link leads to re-pointed", "/l1/config.xml",
       [&] { files({"v1", "v2"}); fs::create_directory_symlink("v1", d + "/l2"); fs::create_directory_symlink("l2", d + "/l1"); },
       [&] { fs::create_directory_symlink("v2", d + "/l2.new"); fs::rename(d + "/l2.new", d + "/l2"); }},
      {"an ancestor replaced by another tree", "/a/b/config.xml",
       [&] { files({"a/b", "new/b"}); },
       [&] { fs::rename(d + "/a", d + "/old"); fs::rename(d + "/new", d + "/a"); }},
      {"an ancestor moved away, then made again", "/a/b/config.xml",
       [&] { files({"a/b", "new/b"}); },
       [&] {
         fs::rename(d + "/a", d + "/old");
         EXPECT_STREQ(get("v"), "1");  // the last good contents meanwhile
         fs::create_directory(d + "/a");
         fs::rename(d + "/new/b", d + "/a/b");
       }},
  };
  for (const auto& r : rows) {
    for (const fs::directory_entry& e : fs::directory_iterator(d)) fs::remove_all(e.path());
    r.setup();
    xmldb_close(db_);
    ASSERT_NE(db_ = xmldb_open((d + r.path).c_str()), nullptr) << r.what;
    EXPECT_STREQ(get("v"), "1") << r.what;
    r.change();
    EXPECT_STREQ(get("v"), "2") << r.what;
    std::ofstream(d + r.path) << "<config><v>3</v></config>";
    EXPECT_STREQ(get("v"), "3") << r.what;
  }
}

}  // namespace
