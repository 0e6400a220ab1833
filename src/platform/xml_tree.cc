// Building the configuration database's compact XML tree from expat's
// callbacks, its lookups, and the scew_* view over it.
#include "platform/xml_tree.h"

#include <expat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/expat_position.h"

namespace {

// How much the parser asks for per read of the file.
constexpr int kReadChunk = 64 * 1024;

// The element numbers the tree can hold, and the pool's size: they must
// leave the top bit of an element's second word and of its first free.
constexpr uint32_t kMaxElements = 0x7fffffffu;
constexpr size_t kMaxPool = 0x7fffffffu;

// FNV-1a on four bytes at a time (names and path components are short),
// the last few bytes one by one.
constexpr uint32_t kFnvBasis = 2166136261u;
constexpr uint32_t kFnvPrime = 16777619u;

uint32_t hash_text(std::string_view text) {
  uint32_t h = kFnvBasis;
  size_t i = 0;
  for (; i + 4 <= text.size(); i += 4) {
    uint32_t word;
    std::memcpy(&word, text.data() + i, 4);
    h = (h ^ word) * kFnvPrime;
  }
  for (; i < text.size(); ++i)
    h = (h ^ static_cast<unsigned char>(text[i])) * kFnvPrime;
  return h;
}

// Whether text holds a NUL, which only a view can.
bool has_nul(std::string_view text) {
  return !text.empty() && std::memchr(text.data(), '\0', text.size()) != nullptr;
}

// The index key's hash: the parent's number mixed into the name's hash
// with MurmurHash3's finaliser, so both halves reach every bit.
uint32_t child_key_hash(XmlTree::Id parent, uint32_t name_hash) {
  uint32_t h = name_hash ^ (parent * 0x9E3779B1u);
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

// Owns one expat parser.
struct ParserDeleter {
  void operator()(XML_ParserStruct* p) const { XML_ParserFree(p); }
};
using Parser = std::unique_ptr<XML_ParserStruct, ParserDeleter>;

}  // namespace

bool XmlTree::pool_equals(uint32_t offset, std::string_view text) const {
  // Exact for a text without NUL (the lookups turn others away).
  return offset + text.size() < pool_.size() && std::memcmp(pool_.data() + offset, text.data(), text.size()) == 0 &&
         pool_[offset + text.size()] == '\0';
}

XmlTree::Id XmlTree::child(Id parent, std::string_view name) const {
  if (!has_children(parent))
    return kNone;
  if (small(parent))
    return scan(parent, name);
  if (slots_.empty())
    return kNone;
  const uint32_t h = child_key_hash(parent, hash_text(name));
  const uint32_t tag = h & tag_mask_;
  for (size_t pos = home(h);;) {
    const uint32_t s = slots_[pos];
    if (s == 0)
      return kNone;
    if ((s & tag_mask_) == tag) {
      const Id id = s >> tag_bits_;
      if (child_of(id, parent) && pool_equals(name_offset(id), name))
        return id;
    }
    if (++pos == slots_.size())
      pos = 0;
  }
}

XmlTree::Id XmlTree::scan(Id parent, std::string_view name) const {
  // Most names differ from the one sought in their first eight bytes, the
  // NUL that ends a shorter one included: those bytes, read as one word
  // and compared under a mask, pass over them without a call.
  unsigned char want_bytes[8] = {}, mask_bytes[8] = {};
  std::memcpy(want_bytes, name.data(), std::min<size_t>(name.size(), 8));
  std::memset(mask_bytes, 0xff, std::min<size_t>(name.size() + 1, 8));
  uint64_t want, mask;
  std::memcpy(&want, want_bytes, 8);
  std::memcpy(&mask, mask_bytes, 8);
  // When the NUL was among the bytes compared, equal words are equal names.
  const bool whole = name.size() < 8;
  const char* pool = pool_.data();
  // The first child of the name is the one with a path: its parent has one
  // and a component holds no dot.
  for (Id c = parent + 1, end = end_of(parent); c < end; c = end_of(c)) {
    const uint32_t offset = name_offset(c);
    if (size_t{offset} + 8 <= pool_.size()) {
      uint64_t word;
      std::memcpy(&word, pool + offset, 8);
      if ((word & mask) == want && (whole || pool_equals(offset, name)))
        return c;
    } else if (pool_equals(offset, name)) {
      return c;
    }
  }
  return kNone;
}

XmlTree::Id XmlTree::find_below(Id at, std::string_view rest) const {
  return has_nul(rest) ? kNone : walk(at, rest);  // no name holds a NUL
}

XmlTree::Id XmlTree::walk(Id at, std::string_view rest) const {
  // Below an element without a path nothing has one.
  if (!has_path(at))
    return kNone;
  for (;;) {
    const auto* dot = rest.empty() ? nullptr : static_cast<const char*>(std::memchr(rest.data(), '.', rest.size()));
    const std::string_view name = rest.substr(0, dot ? static_cast<size_t>(dot - rest.data()) : rest.size());
    at = child(at, name);
    if (at == kNone || !dot)
      return at;
    rest.remove_prefix(name.size() + 1);
  }
}

XmlTree::Id XmlTree::find(std::string_view path) const {
  if (elements_.empty())
    return kNone;
  const size_t dot = path.find('.');
  if (has_nul(path) || !pool_equals(name_offset(0), path.substr(0, dot)))
    return kNone;
  return dot == std::string_view::npos ? 0 : walk(0, path.substr(dot + 1));
}

XmlTree::Id XmlTree::find(std::string_view prefix, std::string_view key) const {
  if (prefix.empty())
    return find(key);
  const Id at = find(prefix);
  return at == kNone || key.empty() ? at : find_below(at, key);
}

namespace {

// Eight bytes a step, each mixed in with a multiply and a shift.
void mix(uint64_t* hash, uint64_t word) {
  *hash = (*hash ^ word) * 0xff51afd7ed558ccdULL;
  *hash ^= *hash >> 32;
}

// The text's length first, so that no two runs of texts hash alike by
// where one ends and the next begins.
void mix_text(uint64_t* hash, const char* text) {
  const size_t length = std::strlen(text);
  mix(hash, length);
  for (size_t at = 0; at < length; at += 8) {
    uint64_t word = 0;
    std::memcpy(&word, text + at, std::min<size_t>(8, length - at));
    mix(hash, word);
  }
}

}  // namespace

uint64_t XmlTree::fingerprint(Id id) const {
  if (id == kNone || id >= elements_.size())
    return 0;
  const Id end = end_of(id);
  uint64_t hash = 0xcbf29ce484222325ULL;
  // The open elements of the walk, by depth below id: each element's parent
  // is the one open a level up.
  std::vector<Id> open;
  const uint32_t top = depth(id);
  for (Id e = id; e < end; ++e) {
    const uint32_t level = depth(e) - top;
    if (open.size() <= level)
      open.resize(level + 1);
    open[level] = e;
    // In document order the distance back to each element's parent gives
    // the shape; a text is marked apart from an element with children.
    mix(&hash, e == id ? 0 : e - open[level - 1]);
    mix_text(&hash, name(e));
    const char* text = value(e);
    mix(&hash, text != nullptr ? 1 : 2);
    if (text != nullptr)
      mix_text(&hash, text);
  }
  return hash;
}

XmlTree::Id XmlTree::next_sibling(Id id) const {
  // Past the element's descendants comes its next sibling, or the next of
  // an ancestor, which lies higher up.
  const Id next = end_of(id);
  return next < elements_.size() && depth(next) == depth(id) ? next : kNone;
}

XmlTree::Id XmlTree::parent(Id id) const {
  if (id == 0 || id >= elements_.size())
    return kNone;
  const uint32_t level = depth(id);
  Id up = id - 1;
  while (depth(up) >= level)
    --up;
  return up;
}

scew_list* XmlTree::list_view(Id id) const {
  if (id == kNone)
    return nullptr;
  auto it = view_of_.find(id);
  if (it == view_of_.end()) {
    views_.push_back(scew_list{scew_element{this, id}});
    it = view_of_.emplace(id, &views_.back()).first;
  }
  return it->second;
}

// Builds one tree from expat's callbacks: every element is appended as it
// starts, its value interned as it ends, and the path index is made in one
// sweep at the end, when its size is known.
class XmlTreeBuilder {
 public:
  explicit XmlTreeBuilder(const XmlParseOptions& options)
      : max_depth_(options.max_depth), positions_(options.positions) {}

  // Sets up the parser; false when there is no memory for it.
  bool init() {
    parser_.reset(XML_ParserCreate(nullptr));
    if (!parser_)
      return false;
    XML_SetUserData(parser_.get(), this);
    XML_SetElementHandler(parser_.get(), on_start, on_end);
    XML_SetCharacterDataHandler(parser_.get(), on_text);
    tree_->pool_.push_back('\0');  // "" at offset 0
    tree_->deep_ = max_depth_ > 256;
    return true;
  }

  XML_Parser parser() const { return parser_.get(); }

  // The finished tree once the whole document has been parsed; null with
  // the reason in *error when it cannot be indexed.
  std::unique_ptr<XmlTree> take(std::string* error) {
    try {
      // What only the parse needed goes before the index is made.
      std::vector<Interned>().swap(interned_);
      tree_->elements_.shrink_to_fit();
      tree_->depths_.shrink_to_fit();
      tree_->deep_depths_.shrink_to_fit();
      tree_->positions_.shrink_to_fit();
      tree_->pool_.shrink_to_fit();
      build_index();
    } catch (const std::exception&) {
      *error = "no memory for the XML tree";
      return nullptr;
    }
    return std::move(tree_);
  }

  // Why the parse failed, with the line and column (both from 1).
  std::string error() const {
    if (!failure_.empty())
      return failure_;
    return XML_ErrorString(XML_GetErrorCode(parser_.get())) + where();
  }

  // Where the parser is: where it failed, after a failure.
  XmlPosition position() const {
    return {clamp(xml_line(parser_.get())), clamp(xml_column(parser_.get()))};
  }

 private:
  using Id = XmlTree::Id;

  // One interned string in the table used while building.
  struct Interned {
    uint32_t offset;  // 0 for an empty slot ("" is never in the table)
    uint32_t hash;
  };

  // " at line L, column C" of where the parser is (both from 1).
  std::string where() const {
    return " at line " + std::to_string(xml_line(parser_.get())) + ", column " +
           std::to_string(xml_column(parser_.get()));
  }

  // A line or column as the tree keeps it; past 32 bits, the largest.
  static uint32_t clamp(uint64_t n) { return n > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n); }

  // The pool offset of text, stored once.
  uint32_t intern(std::string_view text, uint32_t hash) {
    if (text.empty())
      return 0;
    if (2 * (interned_count_ + 1) > interned_.size())
      grow_interned();
    PodArray<char>& pool = tree_->pool_;
    const size_t mask = interned_.size() - 1;
    for (size_t pos = child_key_hash(0, hash) & mask;; pos = (pos + 1) & mask) {
      Interned& slot = interned_[pos];
      if (slot.offset == 0) {
        if (text.size() >= kMaxPool - pool.size())
          throw std::length_error("pool");
        slot = {static_cast<uint32_t>(pool.size()), hash};
        pool.append(text.data(), text.size());
        pool.push_back('\0');
        ++interned_count_;
        return slot.offset;
      }
      if (slot.hash == hash && tree_->pool_equals(slot.offset, text))
        return slot.offset;
    }
  }

  void grow_interned() {
    std::vector<Interned> old(std::max<size_t>(1024, 2 * interned_.size()), Interned{0, 0});
    old.swap(interned_);
    const size_t mask = interned_.size() - 1;
    for (const Interned& s : old) {
      if (s.offset == 0)
        continue;
      size_t pos = child_key_hash(0, s.hash) & mask;
      while (interned_[pos].offset != 0)
        pos = (pos + 1) & mask;
      interned_[pos] = s;
    }
  }

  // Appends an element below the innermost open one, or stops the parse
  // when that would nest too deep.
  void start(const char* name) {
    if (open_.size() >= max_depth_) {
      too_deep();
      return;
    }
    XmlTree& t = *tree_;
    if (t.elements_.size() >= kMaxElements)
      throw std::length_error("elements");
    const Id id = static_cast<Id>(t.elements_.size());
    const std::string_view text(name);
    const uint32_t hash = hash_text(text);
    t.elements_.push_back({intern(text, hash), 0});
    if (t.deep_)
      t.deep_depths_.push_back(static_cast<uint32_t>(open_.size()));
    else
      t.depths_.push_back(static_cast<uint8_t>(open_.size()));
    // In a start handler expat's position is the start tag's '<'.
    if (positions_)
      t.positions_.push_back(position());
    // The text before a child is no value.
    pending_text_.clear();
    open_.push_back(id);
  }

  // Stops the parse at an element that nests too deep.
  __attribute__((cold, noinline)) void too_deep() {
    failure_ = "elements nested deeper than " + std::to_string(max_depth_) + " levels" + where();
    XML_StopParser(parser_.get(), XML_FALSE);
  }

  // Closes the innermost element: one without children keeps its text,
  // one with children notes where its descendants end.
  void end() {
    const Id id = open_.back();
    PodArray<XmlTree::Element>& elements = tree_->elements_;
    if (id + 1 == elements.size())
      elements[id].value_or_end = intern(pending_text_, hash_text(pending_text_));
    else
      elements[id].value_or_end = XmlTree::kParentBit | static_cast<uint32_t>(elements.size());
    pending_text_.clear();
    open_.pop_back();
  }

  // Collects character data (entities and CDATA arrive decoded) for an
  // element that has no child so far.
  void text(const XML_Char* s, int len) {
    if (!open_.empty() && open_.back() + 1 == tree_->elements_.size())
      pending_text_.append(s, static_cast<size_t>(len));
  }

  // Marks every element that has a path, in document order so that the
  // first of same-named siblings takes it, and puts those that are
  // children of large elements into the table. Below an element without a
  // path (a later same-named sibling, a dotted name) nothing has one.
  void build_index() {
    XmlTree& t = *tree_;
    const size_t n = t.elements_.size();
    if (n == 0)
      return;
    if (std::strchr(t.name(0), '.') == nullptr)
      t.elements_[0].name |= XmlTree::kPathBit;
    if (n == 1 || t.small(0))
      return index_small(0);
    // Element numbers take the high bits of a slot, a tag of the hash the rest.
    unsigned id_bits = 1;
    while (id_bits < 32 && (n - 1) >> id_bits != 0)
      ++id_bits;
    t.tag_bits_ = 32 - id_bits;
    t.tag_mask_ = t.tag_bits_ == 0 ? 0 : UINT32_MAX >> id_bits;
    // The keys of the table are the children of elements that are not
    // small: a walk that skips each small subtree counts them.
    size_t wide = 0;
    for (Id id = 1; id < n; id += t.small(id) ? t.descendants(id) + 1 : 1)
      ++wide;
    t.slots_.assign(wide + wide / 3 + 1, 0);
    // Outside the small subtrees, the elements are taken in document
    // order, so the open element of each level, up to the one at hand, is
    // its ancestors.
    open_.assign(1, 0);
    for (Id id = 1; id < n;) {
      const uint32_t level = t.depth(id);
      if (open_.size() <= level)
        open_.resize(level + 1);
      open_[level] = id;
      const Id parent = open_[level - 1];
      if (t.has_path(parent) && std::strchr(t.name(id), '.') == nullptr && insert(id, parent))
        t.elements_[id].name |= XmlTree::kPathBit;
      if (t.small(id)) {
        index_small(id);
        id = t.end_of(id);
      } else {
        ++id;
      }
    }
  }

  // Marks the descendants of a small element with a path that have one:
  // each child that no earlier sibling shares a name with (the names are
  // interned, so equal names have equal offsets) and holds no dot, and
  // below those the same. The recursion is as deep as the subtree, at most
  // kScanLimit levels.
  void index_small(Id top) {
    XmlTree& t = *tree_;
    if (!t.has_path(top) || !t.has_children(top))
      return;
    for (Id c = top + 1, end = t.end_of(top); c < end; c = t.end_of(c)) {
      const uint32_t name = t.elements_[c].name;
      if (std::strchr(t.pool_.data() + name, '.') != nullptr)
        continue;
      Id before = top + 1;
      while (before < c && t.name_offset(before) != name)
        before = t.end_of(before);
      if (before == c) {
        t.elements_[c].name = name | XmlTree::kPathBit;
        index_small(c);
      }
    }
  }

  // Puts the element into the table under its parent; false when a
  // sibling of the same name is there first.
  bool insert(Id id, Id parent) {
    XmlTree& t = *tree_;
    const uint32_t name = t.name_offset(id);
    const uint32_t h = child_key_hash(parent, hash_text(t.pool_.data() + name));
    const uint32_t tag = h & t.tag_mask_;
    std::vector<uint32_t>& slots = t.slots_;
    size_t pos = t.home(h);
    for (uint32_t s; (s = slots[pos]) != 0;) {
      const Id other = s >> t.tag_bits_;
      // Interned: equal names have equal offsets.
      if ((s & t.tag_mask_) == tag && t.child_of(other, parent) && t.name_offset(other) == name)
        return false;
      if (++pos == slots.size())
        pos = 0;
    }
    slots[pos] = (id << t.tag_bits_) | tag;
    return true;
  }

  // Stops the parse from inside a handler: no exception may cross expat.
  void stop(const std::exception& e) {
    failure_ = dynamic_cast<const std::bad_alloc*>(&e) ? "no memory for the XML tree" : "the document is too large";
    XML_StopParser(parser_.get(), XML_FALSE);
  }

  static void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char** /*attributes*/) {
    auto* b = static_cast<XmlTreeBuilder*>(data);
    if (!b->failure_.empty())
      return;
    try {
      b->start(name);
    } catch (const std::exception& e) {
      b->stop(e);
    }
  }

  static void XMLCALL on_end(void* data, const XML_Char* /*name*/) {
    auto* b = static_cast<XmlTreeBuilder*>(data);
    if (!b->failure_.empty() || b->open_.empty())
      return;
    try {
      b->end();
    } catch (const std::exception& e) {
      b->stop(e);
    }
  }

  static void XMLCALL on_text(void* data, const XML_Char* s, int len) {
    auto* b = static_cast<XmlTreeBuilder*>(data);
    if (!b->failure_.empty())
      return;
    try {
      b->text(s, len);
    } catch (const std::exception& e) {
      b->stop(e);
    }
  }

  std::unique_ptr<XmlTree> tree_ = std::make_unique<XmlTree>();
  Parser parser_;
  std::vector<Id> open_;              // the open elements, outermost first (while indexing: by level)
  std::string pending_text_;          // text of the innermost element while it has no child
  std::vector<Interned> interned_;     // a power of two in size, at most half full
  size_t interned_count_ = 0;
  std::string failure_;               // why a handler stopped the parse
  size_t max_depth_;
  bool positions_;                    // whether the tree keeps where elements start
};

std::unique_ptr<XmlTree> xml_tree_read(int fd, std::string* error, const XmlParseOptions& options,
                                       XmlPosition* failed_at) {
  XmlTreeBuilder b(options);
  if (!b.init()) {
    *error = "no memory for the XML parser";
    return nullptr;
  }
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
    if (options.seen && n > 0)
      options.seen(std::string_view(static_cast<const char*>(buf), static_cast<size_t>(n)));
    if (XML_ParseBuffer(b.parser(), static_cast<int>(n), n == 0) != XML_STATUS_OK) {
      *error = b.error();
      if (failed_at != nullptr)
        *failed_at = b.position();
      return nullptr;
    }
    if (n == 0)
      return b.take(error);
  }
}

std::unique_ptr<XmlTree> xml_tree_parse(std::string_view document, std::string* error,
                                        const XmlParseOptions& options) {
  XmlTreeBuilder b(options);
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
      return b.take(error);
    document.remove_prefix(piece);
  }
}

// The scew_* calls never throw: a view that cannot be made for want of
// memory ends the list there.
scew_list* scew_element_children(const scew_element* element) {
  if (!element)
    return nullptr;
  try {
    return element->tree->list_view(element->tree->first_child(element->id));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

scew_list* scew_list_next(const scew_list* list) {
  if (!list)
    return nullptr;
  try {
    return list->element.tree->list_view(list->element.tree->next_sibling(list->element.id));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void* scew_list_data(const scew_list* list) {
  return list ? const_cast<scew_element*>(&list->element) : nullptr;
}

const char* scew_element_name(const scew_element* element) {
  return element ? element->tree->name(element->id) : nullptr;
}
