// SharedName: a short text that never changes, stored once however many
// hold it. Thousands of rules name their actions with a handful of texts
// ("mail ops", "cut rack power"): each holder keeps a pointer, not a copy.
// For the daemon's one thread: the table of texts is not locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class SharedName {
 public:
  SharedName() = default;  // ""
  SharedName(std::string_view text);  // NOLINT: a text is a name
  SharedName(const char* text) : SharedName(std::string_view(text)) {}  // NOLINT
  SharedName(const std::string& text) : SharedName(std::string_view(text)) {}  // NOLINT
  SharedName(const SharedName& other) : node_(other.node_) { hold(); }
  SharedName(SharedName&& other) noexcept : node_(other.node_) { other.node_ = nullptr; }
  SharedName& operator=(const SharedName& other);
  SharedName& operator=(SharedName&& other) noexcept;
  ~SharedName() { release(); }

  const char* c_str() const;
  size_t size() const;
  bool empty() const { return node_ == nullptr; }
  std::string_view view() const { return {c_str(), size()}; }
  operator std::string_view() const { return view(); }  // NOLINT
  operator std::string() const { return std::string(view()); }  // NOLINT
  std::string str() const { return std::string(view()); }

  friend bool operator==(const SharedName& a, const SharedName& b) { return a.node_ == b.node_; }
  friend bool operator==(const SharedName& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const SharedName& a, const std::string& b) { return a.view() == b; }
  friend bool operator==(const SharedName& a, const char* b) { return a.view() == b; }
  friend std::string operator+(std::string a, const SharedName& b) {
    a += b.view();
    return a;
  }
  friend std::string operator+(const char* a, const SharedName& b) { return std::string(a) + b; }
  friend std::string operator+(const SharedName& a, std::string_view b) {
    std::string text(a.view());
    text += b;
    return text;
  }

  // How many distinct texts are held now (for tests).
  static size_t distinct();

  struct Node;

 private:
  void hold() const;
  void release();
  Node* node_ = nullptr;  // null for ""
};
