// Where an expat parser is, in the calls of the expat at hand: 2.9.0
// added 64-bit forms of the position calls and deprecated the old ones,
// which the expat of older releases alone has.
#pragma once

#include <expat.h>

#include <cstdint>

// The line of the parser's position, from 1 (0 when it has none).
inline uint64_t xml_line(XML_Parser parser) {
#if XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 9)
  return XML_GetCurrentLineNumber64(parser);
#else
  return XML_GetCurrentLineNumber(parser);
#endif
}

// The column of the parser's position, from 1.
inline uint64_t xml_column(XML_Parser parser) {
#if XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 9)
  return XML_GetCurrentColumnNumber64(parser) + 1;
#else
  return XML_GetCurrentColumnNumber(parser) + 1;
#endif
}
