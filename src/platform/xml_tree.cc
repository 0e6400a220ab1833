// Building the configuration database's XML tree with expat, and the scew_*
// view over its nodes.
#include "platform/xml_tree.h"

#include <expat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// How much the parser asks for per read of the file.
constexpr int kReadChunk = 64 * 1024;

// Bytes per element of a typical configuration file, to size the path
// table once instead of growing it step by step.
constexpr off_t kBytesPerElement = 24;

// Owns one expat parser.
struct ParserDeleter {
  void operator()(XML_ParserStruct* p) const { XML_ParserFree(p); }
};
using Parser = std::unique_ptr<XML_ParserStruct, ParserDeleter>;

}  // namespace

scew_element* XmlTree::new_element() {
  if (element_used_ == element_block_size_) {
    size_t size = element_blocks_.empty() ? 16 : std::min(kElementBlock, 2 * element_block_size_);
    element_blocks_.push_back(std::make_unique<scew_element[]>(size));
    element_block_size_ = size;
    element_used_ = 0;
  }
  ++element_count_;
  return &element_blocks_.back()[element_used_++];
}

const char* XmlTree::store(std::string_view a, std::string_view b, std::string_view c) {
  size_t len = a.size() + b.size() + c.size() + 1;
  if (len > text_left_) {
    size_t next = text_blocks_.empty() ? 1024 : std::min(kTextBlock, 2 * text_block_size_);
    size_t size = std::max(len, next);
    text_blocks_.push_back(std::make_unique<char[]>(size));
    text_block_size_ = next;
    text_free_ = text_blocks_.back().get();
    text_left_ = size;
  }
  char* out = text_free_;
  char* p = std::copy(a.begin(), a.end(), out);
  p = std::copy(b.begin(), b.end(), p);
  p = std::copy(c.begin(), c.end(), p);
  *p = '\0';
  text_free_ += len;
  text_left_ -= len;
  return out;
}

// Builds one tree from expat's callbacks.
class XmlTreeBuilder {
 public:
  // Sets up the parser; false when there is no memory for it.
  bool init() {
    parser_.reset(XML_ParserCreate(nullptr));
    if (!parser_)
      return false;
    XML_SetUserData(parser_.get(), this);
    XML_SetElementHandler(parser_.get(), on_start, on_end);
    XML_SetCharacterDataHandler(parser_.get(), on_text);
    return true;
  }

  XML_Parser parser() const { return parser_.get(); }

  // Makes room in the path table for about this many elements.
  void expect_elements(size_t count) { tree_->by_path_.reserve(count); }

  // The finished tree.
  std::unique_ptr<XmlTree> take() { return std::move(tree_); }

  // Why the parse failed, with the line.
  std::string error() const {
    if (out_of_memory_)
      return "no memory for the XML tree";
    return std::string(XML_ErrorString(XML_GetErrorCode(parser_.get()))) + " at line " +
           std::to_string(XML_GetCurrentLineNumber(parser_.get()));
  }

 private:
  // One open element while parsing.
  struct OpenElement {
    scew_element* element;
    scew_list* last_child;
    size_t path_len;
    bool has_path;  // false below a later same-named sibling or a dotted name
  };

  // Appends an element below the innermost open one and gives it a path
  // when it is the first of its name there.
  void start(const char* name) {
    XmlTree& t = *tree_;
    scew_element* e = t.new_element();
    e->position.element = e;
    bool has_path = std::strchr(name, '.') == nullptr;
    size_t path_len;
    if (open_.empty()) {
      t.root_ = e;
      e->path = e->name = t.store(name);
      path_len = std::strlen(name);
    } else {
      OpenElement& parent = open_.back();
      if (parent.last_child)
        parent.last_child->next = &e->position;
      else
        parent.element->first_child = &e->position;
      parent.last_child = &e->position;
      has_path = has_path && parent.has_path;
      std::string_view parent_path(parent.element->path, parent.path_len);
      e->path = t.store(parent_path, ".", name);
      e->name = e->path + parent.path_len + 1;
      path_len = parent.path_len + 1 + std::strlen(e->name);
    }
    // The text before a child is no value.
    pending_text_.clear();
    // emplace keeps an earlier sibling of the same name; a later one and
    // everything below it stay without a path.
    if (has_path)
      has_path = t.by_path_.emplace(std::string_view(e->path, path_len), e).second;
    open_.push_back({e, nullptr, path_len, has_path});
  }

  // Closes the innermost element; one without children keeps its text.
  void end() {
    scew_element* e = open_.back().element;
    if (!e->first_child)
      e->value = tree_->store(pending_text_);
    pending_text_.clear();
    open_.pop_back();
  }

  // Collects character data (entities and CDATA arrive decoded) for an
  // element that has no child so far.
  void text(const XML_Char* s, int len) {
    if (!open_.empty() && !open_.back().element->first_child)
      pending_text_.append(s, static_cast<size_t>(len));
  }

  // Stops the parse from inside a handler: no exception may cross expat.
  void stop_for_memory() {
    out_of_memory_ = true;
    XML_StopParser(parser_.get(), XML_FALSE);
  }

  static void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char** /*attributes*/) {
    auto* b = static_cast<XmlTreeBuilder*>(data);
    if (b->out_of_memory_)
      return;
    try {
      b->start(name);
    } catch (const std::bad_alloc&) {
      b->stop_for_memory();
    }
  }

  static void XMLCALL on_end(void* data, const XML_Char* /*name*/) {
    auto* b = static_cast<XmlTreeBuilder*>(data);
    if (b->out_of_memory_ || b->open_.empty())
      return;
    try {
      b->end();
    } catch (const std::bad_alloc&) {
      b->stop_for_memory();
    }
  }

  static void XMLCALL on_text(void* data, const XML_Char* s, int len) {
    auto* b = static_cast<XmlTreeBuilder*>(data);
    if (b->out_of_memory_)
      return;
    try {
      b->text(s, len);
    } catch (const std::bad_alloc&) {
      b->stop_for_memory();
    }
  }

  std::unique_ptr<XmlTree> tree_ = std::make_unique<XmlTree>();
  Parser parser_;
  std::vector<OpenElement> open_;
  std::string pending_text_;  // text of the innermost element while it has no child
  bool out_of_memory_ = false;
};

std::unique_ptr<XmlTree> xml_tree_read(int fd, std::string* error) {
  XmlTreeBuilder b;
  if (!b.init()) {
    *error = "no memory for the XML parser";
    return nullptr;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size > 0)
    b.expect_elements(static_cast<size_t>(st.st_size / kBytesPerElement));
  for (;;) {
    void* buf = XML_GetBuffer(b.parser(), kReadChunk);
    if (!buf) {
      *error = b.error();
      return nullptr;
    }
    ssize_t n;
    do
      n = read(fd, buf, kReadChunk);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
      *error = std::string("cannot read: ") + std::strerror(errno);
      return nullptr;
    }
    if (XML_ParseBuffer(b.parser(), static_cast<int>(n), n == 0) != XML_STATUS_OK) {
      *error = b.error();
      return nullptr;
    }
    if (n == 0)
      return b.take();
  }
}

std::unique_ptr<XmlTree> xml_tree_parse(std::string_view document, std::string* error) {
  XmlTreeBuilder b;
  if (!b.init()) {
    *error = "no memory for the XML parser";
    return nullptr;
  }
  // expat takes an int length: feed long documents in pieces.
  for (;;) {
    size_t piece = std::min(document.size(), static_cast<size_t>(kReadChunk));
    bool last = piece == document.size();
    if (XML_Parse(b.parser(), document.data(), static_cast<int>(piece), last) != XML_STATUS_OK) {
      *error = b.error();
      return nullptr;
    }
    if (last)
      return b.take();
    document.remove_prefix(piece);
  }
}

scew_list* scew_element_children(const scew_element* element) {
  return element ? element->first_child : nullptr;
}

scew_list* scew_list_next(const scew_list* list) {
  return list ? list->next : nullptr;
}

void* scew_list_data(const scew_list* list) {
  return list ? list->element : nullptr;
}

const char* scew_element_name(const scew_element* element) {
  return element ? element->name : nullptr;
}
