// fuzz-seconds: 30
// libFuzzer target: the configuration database's XML tree on arbitrary
// bytes, walking every element and looking its path up again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/scew.h"
#include "platform/xml_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  auto tree = xml_tree_parse(std::string_view(reinterpret_cast<const char*>(data), size), &error);
  if (!tree)
    return 0;
  const scew_element* root = tree->root();
  if (!root || (!std::strchr(root->name, '.') && tree->find(root->path) != root))
    std::abort();
  size_t seen = 0;
  std::vector<const scew_element*> todo{root};
  while (!todo.empty()) {
    const scew_element* e = todo.back();
    todo.pop_back();
    ++seen;
    std::string_view path(e->path);
    std::string_view name(scew_element_name(e));
    if (path.size() < name.size() || path.substr(path.size() - name.size()) != name)
      std::abort();
    if ((e->value == nullptr) != (scew_element_children(e) != nullptr))
      std::abort();
    const scew_element* found = tree->find(path);
    if (found && path != found->path)
      std::abort();
    for (scew_list* l = scew_element_children(e); l; l = scew_list_next(l))
      todo.push_back(static_cast<const scew_element*>(scew_list_data(l)));
  }
  if (seen != tree->size())
    std::abort();
  return 0;
}
