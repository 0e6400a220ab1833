// fuzz-seconds: 30
// libFuzzer target: the configuration database's XML tree on arbitrary
// bytes. Walks every element through the scew_* view, works out each one's
// dotted path and whether it has one (first of its name among its siblings,
// no dot in its name, and so all its ancestors), and checks the index
// against that: an element with a path is found by it, one without is not.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/scew.h"
#include "platform/xml_tree.h"

namespace {

struct Visit {
  const scew_element* element;
  std::string path;
  bool has_path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  auto tree = xml_tree_parse(std::string_view(reinterpret_cast<const char*>(data), size), &error);
  if (!tree)
    return 0;
  const scew_element* root = tree->view(tree->root());
  const std::string root_name = scew_element_name(root);
  size_t seen = 0;
  std::vector<Visit> todo{{root, root_name, root_name.find('.') == std::string::npos}};
  for (; !todo.empty(); ++seen) {
    const Visit v = todo.back();
    todo.pop_back();
    const XmlTree::Id id = v.element->id;
    const XmlTree::Id found = tree->find(v.path);
    // Only a leaf has a value; the index agrees with the walk, and so does
    // the split form of every lookup.
    if ((tree->value(id) == nullptr) != (scew_element_children(v.element) != nullptr) ||
        (v.has_path && found != id) || (!v.has_path && found == id))
      std::abort();
    const size_t dot = v.path.find('.');
    if (dot != std::string::npos && tree->find(v.path.substr(0, dot), v.path.substr(dot + 1)) != found)
      std::abort();
    std::set<std::string> names;
    for (scew_list* l = scew_element_children(v.element); l; l = scew_list_next(l)) {
      const auto* child = static_cast<const scew_element*>(scew_list_data(l));
      const std::string name = scew_element_name(child);
      const bool first = names.insert(name).second;
      todo.push_back({child, v.path + "." + name, v.has_path && first && name.find('.') == std::string::npos});
      if (tree->parent(child->id) != id)
        std::abort();
    }
  }
  if (seen != tree->size())
    std::abort();
  return 0;
}
