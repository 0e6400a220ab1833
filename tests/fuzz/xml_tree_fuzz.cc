// fuzz-seconds: 30
// libFuzzer target: the configuration database's XML tree on arbitrary
// bytes, walking every element and looking its path up again.
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
  size_t seen = 0;
  std::vector<const scew_element*> todo{tree->root()};
  for (; !todo.empty(); ++seen) {
    const scew_element* e = todo.back();
    todo.pop_back();
    // A path ends in the name, only a leaf has a value, lookups agree, and a root without a dot is found.
    std::string_view path(e->path), name(scew_element_name(e));
    const scew_element* found = tree->find(path);
    if (path.size() < name.size() || path.substr(path.size() - name.size()) != name ||
        (e->value == nullptr) != (scew_element_children(e) != nullptr) || (found && path != found->path) ||
        (e == tree->root() && !std::strchr(e->name, '.') && found != e))
      std::abort();
    for (scew_list* l = scew_element_children(e); l; l = scew_list_next(l))
      todo.push_back(static_cast<const scew_element*>(scew_list_data(l)));
  }
  if (seen != tree->size())
    std::abort();
  return 0;
}
