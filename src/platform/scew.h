// A thin read-only view over the configuration database's XML tree, with
// the four element calls the loader walks "config.cms" with.
#pragma once

struct scew_element;
struct scew_list;
typedef struct scew_element scew_element;
typedef struct scew_list scew_list;

// The first of an element's child elements, in document order; null when
// it has none.
scew_list* scew_element_children(const scew_element* element);

// The next list position; null after the last child.
scew_list* scew_list_next(const scew_list* list);

// The element at a list position (a scew_element*).
void* scew_list_data(const scew_list* list);

// The element's name; null for a null element.
const char* scew_element_name(const scew_element* element);
