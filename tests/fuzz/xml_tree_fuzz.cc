// fuzz-seconds: 30
// libFuzzer target: the configuration database's XML tree on arbitrary bytes, and on a well-formed document
// the bytes spell out (elements of a few names, some dotted, some repeated among siblings, with text,
// entities, CDATA and comments), which random bytes seldom are. Walks every element through the scew_* view,
// works out each one's dotted path and whether it has one (first of its name among its siblings, no dot in
// its name, and so all its ancestors), and checks the index against that: an element with a path is found by
// it, one without is not. A spelled document nested deeper than the limit must be refused. Parsed again
// keeping positions, a document gives the same tree, each element starting after the one before it on a line
// the document has.
#include <algorithm>
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

// A document whose elements, texts and nesting the bytes choose; *depth is how many levels it nests.
std::string spelled_document(const uint8_t* data, size_t size, size_t* depth) {
  static const char* const kNames[] = {"a", "b", "a.b", "config", "c1", "\xC3\xA9"};
  std::string doc = "<r>";
  std::vector<const char*> open;
  *depth = 1;
  for (size_t i = 0; i < size; ++i) {
    const char* name = kNames[(data[i] >> 3) % 6];
    switch (data[i] & 7) {
      case 0: case 1: case 2:
        doc += std::string("<") + name + ">";
        open.push_back(name);
        *depth = std::max(*depth, open.size() + 1);
        break;
      case 3: case 4:
        if (!open.empty()) {
          doc += std::string("</") + open.back() + ">";
          open.pop_back();
        }
        break;
      case 5:
        doc += (data[i] & 8) ? "x &amp; &#65;" : "<![CDATA[<y>]]>";
        break;
      case 6:
        doc += "<!-- c -->";
        break;
      default:
        doc += std::string("<") + name + "/>";
        *depth = std::max(*depth, open.size() + 2);
    }
  }
  for (; !open.empty(); open.pop_back()) doc += std::string("</") + open.back() + ">";
  return doc + "</r>";
}

void check_positions(std::string_view document, const XmlTree* tree) {
  std::string error;
  const auto placed = xml_tree_parse(document, &error, {.positions = true});
  if (!placed != !tree)
    std::abort();
  if (!tree)
    return;
  if (placed->size() != tree->size() || placed->fingerprint(0) != tree->fingerprint(0) || tree->position(0).line != 0)
    std::abort();
  // expat ends a line at LF, CR and CR LF.
  const auto breaks = [&](char c) { return static_cast<size_t>(std::count(document.begin(), document.end(), c)); };
  const size_t lines = breaks('\n') + breaks('\r') + 1;
  XmlPosition last;
  for (XmlTree::Id id = 0; id < placed->size(); ++id) {
    const XmlPosition p = placed->position(id);
    if (p.line == 0 || p.column == 0 || p.line > lines || p.line < last.line ||
        (p.line == last.line && p.column <= last.column))
      std::abort();
    last = p;
  }
}

void check(std::string_view document) {
  std::string error;
  auto tree = xml_tree_parse(document, &error);
  check_positions(document, tree.get());
  if (!tree)
    return;
  const scew_element* root = tree->view(tree->root());
  const std::string root_name = scew_element_name(root);
  size_t seen = 0;
  std::vector<Visit> todo{{root, root_name, root_name.find('.') == std::string::npos}};
  for (; !todo.empty(); ++seen) {
    const Visit v = todo.back();
    todo.pop_back();
    const XmlTree::Id id = v.element->id;
    const XmlTree::Id found = tree->find(v.path);
    // Only a leaf has a value; the index agrees with the walk, and so does the split form of every lookup.
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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check(std::string_view(reinterpret_cast<const char*>(data), size));
  size_t depth;
  const std::string doc = spelled_document(data, size, &depth);
  std::string error;
  // Well-formed by construction, unless too deep.
  if ((xml_tree_parse(doc, &error) != nullptr) != (depth <= kXmlMaxDepth))
    std::abort();
  check(doc);
  return 0;
}
