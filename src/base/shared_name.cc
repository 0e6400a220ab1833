// The table of SharedName's texts: one block per distinct text, counted by
// its holders and let go with the last.
#include "base/shared_name.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <unordered_set>

// The text's size bytes and a NUL follow the node in the same block.
struct SharedName::Node {
  uint32_t holders;
  uint32_t size;

  char* text() { return reinterpret_cast<char*>(this + 1); }
  const char* text() const { return reinterpret_cast<const char*>(this + 1); }
  std::string_view view() const { return {text(), size}; }
};

namespace {

struct NodeHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
  size_t operator()(const SharedName::Node* node) const { return (*this)(node->view()); }
};

struct NodeEqual {
  using is_transparent = void;
  static std::string_view text(std::string_view t) { return t; }
  static std::string_view text(const SharedName::Node* node) { return node->view(); }
  template <class A, class B>
  bool operator()(const A& a, const B& b) const {
    return text(a) == text(b);
  }
};

using Table = std::unordered_set<SharedName::Node*, NodeHash, NodeEqual>;

// Made at the first name, so destroyed after every static object that
// held a name when it was made.
Table& table() {
  static Table nodes;
  return nodes;
}

}  // namespace

SharedName::SharedName(std::string_view text) {
  if (text.empty()) return;
  if (text.size() > UINT32_MAX - sizeof(Node)) throw std::length_error("name");
  Table& nodes = table();
  if (const auto it = nodes.find(text); it != nodes.end()) {
    node_ = *it;
    hold();
    return;
  }
  auto* node = static_cast<Node*>(std::malloc(sizeof(Node) + text.size() + 1));
  if (node == nullptr) throw std::bad_alloc();
  node->holders = 1;
  node->size = static_cast<uint32_t>(text.size());
  std::memcpy(node->text(), text.data(), text.size());
  node->text()[text.size()] = '\0';
  try {
    nodes.insert(node);
  } catch (...) {
    std::free(node);
    throw;
  }
  node_ = node;
}

SharedName& SharedName::operator=(const SharedName& other) {
  if (node_ != other.node_) {
    other.hold();
    release();
    node_ = other.node_;
  }
  return *this;
}

SharedName& SharedName::operator=(SharedName&& other) noexcept {
  if (this != &other) {
    release();
    node_ = other.node_;
    other.node_ = nullptr;
  }
  return *this;
}

const char* SharedName::c_str() const { return node_ != nullptr ? node_->text() : ""; }

size_t SharedName::size() const { return node_ != nullptr ? node_->size : 0; }

void SharedName::hold() const {
  if (node_ != nullptr) ++node_->holders;
}

void SharedName::release() {
  if (node_ == nullptr) return;
  if (--node_->holders == 0) {
    table().erase(node_);
    std::free(node_);
  }
  node_ = nullptr;
}

size_t SharedName::distinct() { return table().size(); }
