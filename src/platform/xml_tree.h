// The configuration database's XML tree: one parsed document, its elements
// with their child lists (the nodes the scew_* view walks), and the table
// from each element's dotted path to the element.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/scew.h"

// One position in an element's child list.
struct scew_list {
  scew_element* element = nullptr;  // the child at this position
  scew_list* next = nullptr;        // the next sibling's position; null after the last
};

// One element. Its texts live in the tree's text store; elements never move
// once made, since the child lists point into them.
struct scew_element {
  const char* path = nullptr;   // dotted path from the root, "config.a.b"
  const char* name = nullptr;   // the element's own name, the tail of path
  const char* value = nullptr;  // its text exactly as written; null when it has children
  scew_list* first_child = nullptr;
  scew_list position;           // this element's own place in its parent's list
};

// A parsed document, immutable once xml_tree_read or xml_tree_parse has
// returned it. Elements and texts are kept in large blocks, so a big file
// costs few allocations and little more memory than its paths and values.
class XmlTree {
 public:
  // The element of a whole dotted path; null when there is none. Only the
  // first of same-named siblings has a path, and so do its descendants only;
  // an element whose name holds a dot has none (its path would be ambiguous).
  scew_element* find(std::string_view path) const {
    auto it = by_path_.find(path);
    return it == by_path_.end() ? nullptr : it->second;
  }

  const scew_element* root() const { return root_; }

  // How many elements the document has.
  size_t size() const { return element_count_; }

 private:
  friend class XmlTreeBuilder;

  // Blocks grow from small to these sizes, so a small file stays small.
  static constexpr size_t kElementBlock = 1024;
  static constexpr size_t kTextBlock = 64 * 1024;

  // A new element that stays where it is.
  scew_element* new_element();

  // A lasting NUL-terminated copy of a, b and c run together.
  const char* store(std::string_view a, std::string_view b = {}, std::string_view c = {});

  scew_element* root_ = nullptr;
  std::vector<std::unique_ptr<scew_element[]>> element_blocks_;
  size_t element_count_ = 0;
  size_t element_block_size_ = 0;  // of the last block
  size_t element_used_ = 0;        // in the last block
  std::vector<std::unique_ptr<char[]>> text_blocks_;
  size_t text_block_size_ = 0;     // of the last block
  char* text_free_ = nullptr;      // unused rest of the last text block
  size_t text_left_ = 0;
  std::unordered_map<std::string_view, scew_element*> by_path_;
};

// Parses the document read from fd up to its end; null with the reason in
// *error when it cannot be read or is not well-formed XML.
std::unique_ptr<XmlTree> xml_tree_read(int fd, std::string* error);

// Parses a document held in memory; null with the reason in *error.
std::unique_ptr<XmlTree> xml_tree_parse(std::string_view document, std::string* error);

// Where the configuration database sends its one-line complaints (syslog
// when null, the default). Tests point it elsewhere.
using XmldbLogSink = void (*)(const char* line);
void xmldb_set_log_sink(XmldbLogSink sink);
