// The configuration database's XML tree: one parsed document as a compact
// array of elements in document order, one pool of interned names and
// values, the index from (parent, name) to the children of large elements,
// and the scew_* view over it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "platform/scew.h"

class XmlTree;

// The scew_* view of one element, made the first time it is asked for and
// kept as long as its tree: a large tree pays for views only where a
// caller walks it.
struct scew_element {
  const XmlTree* tree;
  uint32_t id;
};

// A position in a child list is the child itself.
struct scew_list {
  scew_element element;
};

// How deeply elements may nest, the root being level 1: a document nested
// deeper is not well-formed for the configuration database. Configurations
// nest about ten levels; the limit keeps what a hostile file can make the
// parser and its callers hold per level small.
constexpr size_t kXmlMaxDepth = 256;

// A growable array of a trivially copyable type, in one block from malloc
// grown with realloc: a block of 64 KiB or more is mapped on its own, and
// the kernel moves its pages rather than the array being copied, so a
// large array never stands twice in memory while it grows, nor while it is
// cut to its size.
template <class T>
class PodArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  PodArray() = default;
  PodArray(const PodArray&) = delete;
  PodArray& operator=(const PodArray&) = delete;

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  T& operator[](size_t i) { return data_.get()[i]; }
  const T& operator[](size_t i) const { return data_.get()[i]; }

  void push_back(const T& value) {
    if (size_ == capacity_) grow(size_ + 1);
    data_.get()[size_++] = value;
  }
  void append(const T* values, size_t count) {
    if (count == 0) return;
    if (capacity_ - size_ < count) grow(size_ + count);
    std::memcpy(data_.get() + size_, values, count * sizeof(T));
    size_ += count;
  }
  // count copies of value, and nothing else.
  void assign(size_t count, const T& value) {
    size_ = 0;
    if (capacity_ < count) grow(count);
    std::fill_n(data_.get(), count, value);
    size_ = count;
  }
  void shrink_to_fit() { resize_block(size_); }

 private:
  struct Free {
    void operator()(T* p) const { std::free(p); }
  };
  void grow(size_t need) {
    if (need > SIZE_MAX / sizeof(T) / 2) throw std::length_error("array");
    resize_block(std::max({need, 2 * capacity_, size_t{16}}));
  }
  void resize_block(size_t count) {
    if (count == 0) {
      data_.reset();
    } else {
      T* moved = static_cast<T*>(std::realloc(data_.get(), count * sizeof(T)));
      if (moved == nullptr) throw std::bad_alloc();
      (void)data_.release();
      data_.reset(moved);
    }
    capacity_ = count;
  }

  std::unique_ptr<T, Free> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// A place in a document: line and column from 1, as the parser counts
// them; 0 and 0 for none.
struct XmlPosition {
  uint32_t line = 0;
  uint32_t column = 0;
};

// How a document is parsed.
struct XmlParseOptions {
  // Elements nested deeper are not well-formed.
  size_t max_depth = kXmlMaxDepth;
  // Whether the tree keeps where each element starts (8 bytes an element;
  // arctl check names them, the configuration database does not).
  bool positions = false;
  // What xml_tree_read shows each piece of the file it has read, before
  // the piece is parsed.
  std::function<void(std::string_view piece)> seen = nullptr;
};

// A parsed document, unchanged once xml_tree_read or xml_tree_parse has
// returned it (the views above are made on demand).
//
// Elements are numbered in document order, the root 0, so an element's
// children and descendants follow it directly. Each is two 32-bit words and
// a byte: its name and, for an element without children, its value as
// offsets into the pool (for one with children, where its descendants
// end), and its depth. Equal strings are stored once. An element's
// children are the elements within its descendants one level deeper, so
// the tree needs no parent of each: the first child is the next element,
// and past each child's descendants comes its next sibling. The name's
// word also keeps whether the element has a path.
//
// A lookup walks the dotted path one component at a time. The children of
// a small element (at most kScanLimit descendants: a rule and everything
// in it) are scanned in document order, which finds the first of
// same-named siblings as the path wants; they lie in a few cache lines,
// and a hash index of every element would cost five bytes or more each,
// over half of what the element itself takes.
// Only the children of larger elements (the list of rules, the sections
// that hold it) are found through a hash table keyed by (parent, name),
// one probe per component; those are few in a configuration, so the table
// costs a few bytes per rule.
class XmlTree {
 public:
  using Id = uint32_t;
  static constexpr Id kNone = UINT32_MAX;

  // The element of a whole dotted path ("config.a.b"); kNone when there is
  // none. Only the first of same-named siblings has a path, and so do its
  // descendants only; an element whose name holds a dot has none (its path
  // would be ambiguous).
  Id find(std::string_view path) const;

  // As find(prefix + "." + key), or the one that is not empty alone,
  // without joining them.
  Id find(std::string_view prefix, std::string_view key) const;

  // The element below at that the dotted path rest (not empty) leads to.
  Id find_below(Id at, std::string_view rest) const;

  Id root() const { return elements_.empty() ? kNone : 0; }

  // Where the element's start tag begins; none when the tree was parsed
  // without positions.
  XmlPosition position(Id id) const { return id < positions_.size() ? positions_[id] : XmlPosition(); }

  // A 64-bit hash of the element's whole subtree: every name and text and
  // how they nest, in document order; 0 for kNone. Equal subtrees of two
  // parses hash alike, so a reload can tell which rules an edit left alone.
  uint64_t fingerprint(Id id) const;
  size_t size() const { return elements_.size(); }

  const char* name(Id id) const { return pool_.data() + name_offset(id); }

  // The element's text exactly as written ("" when empty); null when it
  // has child elements.
  const char* value(Id id) const {
    return has_children(id) ? nullptr : pool_.data() + elements_[id].value_or_end;
  }

  // The element's parent (kNone for the root): found by looking back for
  // the nearest element one level up, so not for lookups.
  Id parent(Id id) const;
  Id first_child(Id id) const { return has_children(id) ? id + 1 : kNone; }
  Id next_sibling(Id id) const;

  // The element's scew_* view; null for kNone.
  scew_element* view(Id id) const {
    scew_list* list = list_view(id);
    return list ? &list->element : nullptr;
  }

  // The element's place in its parent's child list; null for kNone.
  scew_list* list_view(Id id) const;

 private:
  friend class XmlTreeBuilder;

  // value_or_end of an element with children: this bit, and where its
  // descendants end.
  static constexpr uint32_t kParentBit = 0x80000000u;

  // Element::name: this bit when the element has a path, and the offset.
  static constexpr uint32_t kPathBit = 0x80000000u;

  struct Element {
    uint32_t name;          // offset of its name in pool_; kPathBit when it has a path
    uint32_t value_or_end;  // offset of its value in pool_; kParentBit and past its last descendant when it has children
  };

  uint32_t name_offset(Id id) const { return elements_[id].name & ~kPathBit; }
  // Whether find reaches the element: it is the first of its name among
  // its siblings, its name holds no dot, and the same holds for its
  // ancestors.
  bool has_path(Id id) const { return (elements_[id].name & kPathBit) != 0; }
  bool has_children(Id id) const { return (elements_[id].value_or_end & kParentBit) != 0; }
  // Past the element's last descendant.
  Id end_of(Id id) const { return has_children(id) ? elements_[id].value_or_end & ~kParentBit : id + 1; }
  // The root is at depth 0.
  uint32_t depth(Id id) const { return deep_ ? deep_depths_[id] : depths_[id]; }
  // Whether id is a child of parent.
  bool child_of(Id id, Id parent) const {
    return id > parent && id < end_of(parent) && depth(id) == depth(parent) + 1;
  }

  // The children of an element with at most this many descendants are
  // scanned rather than hashed: a scan reads at most this many elements,
  // eight bytes each, and a rule with a few actions (some 33 elements)
  // stays well below it.
  static constexpr uint32_t kScanLimit = 64;

  // How many descendants the element has.
  uint32_t descendants(Id id) const { return end_of(id) - id - 1; }

  // Whether the element's children are scanned rather than in the table.
  bool small(Id id) const { return descendants(id) <= kScanLimit; }

  // The child of parent (which has a path) named name (no dot, no NUL);
  // kNone when none.
  Id child(Id parent, std::string_view name) const;

  // child of a small parent, found by reading its children in order.
  Id scan(Id parent, std::string_view name) const;

  // The slot where the search for a key with the hash begins in the table,
  // which is not empty.
  size_t home(uint32_t hash) const { return static_cast<size_t>((uint64_t{hash} * slots_.size()) >> 32); }

  // find_below for a path known to hold no NUL.
  Id walk(Id at, std::string_view rest) const;

  // Whether the pool string at offset is text.
  bool pool_equals(uint32_t offset, std::string_view text) const;

  PodArray<Element> elements_;
  // Each element's depth: a byte each where no element lies deeper than
  // 255 (a configuration nests at most 256 levels), four otherwise.
  bool deep_ = false;
  PodArray<uint8_t> depths_;
  PodArray<uint32_t> deep_depths_;
  PodArray<XmlPosition> positions_;  // one per element, or none
  PodArray<char> pool_;  // NUL-terminated strings; "" at offset 0

  // The children with a path of elements that are not small: open
  // addressing with linear probing, at most three quarters full; 0 is an
  // empty slot (the root is never in it). A slot holds the element number
  // in its high bits and as many low bits of the key's hash as the number
  // leaves free, so most probes that miss are told apart without touching
  // the element.
  std::vector<uint32_t> slots_;
  unsigned tag_bits_ = 0;
  uint32_t tag_mask_ = 0;

  mutable std::deque<scew_list> views_;
  mutable std::unordered_map<Id, scew_list*> view_of_;
};

// Parses the document read from fd up to its end; null with the reason in
// *error when it cannot be read or is not well-formed XML, which includes
// elements nested deeper than options.max_depth levels. The document is
// never held whole: each piece read is parsed, after options.seen (when
// given) has seen it. *failed_at, when given, receives where the parser
// found the fault (none when the file could not be read).
std::unique_ptr<XmlTree> xml_tree_read(int fd, std::string* error, const XmlParseOptions& options = {},
                                       XmlPosition* failed_at = nullptr);

// Parses a document held in memory; null with the reason in *error.
std::unique_ptr<XmlTree> xml_tree_parse(std::string_view document, std::string* error,
                                        const XmlParseOptions& options = {});

// Where the configuration database sends its one-line complaints (syslog
// when null, the default). Tests point it elsewhere.
using XmldbLogSink = void (*)(const char* line);
void xmldb_set_log_sink(XmldbLogSink sink);

// Whether handles opened or reloaded from now on may watch their file
// (the default). Tests turn it off to run the stat check that stands in
// when inotify's limits are reached.
void xmldb_set_watching(bool allowed);
