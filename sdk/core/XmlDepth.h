// The XML library parses nested elements recursively, so a hostile document
// nested deeply enough exhausts the stack before any check inside the library
// runs. XMLOpen measures the nesting first and refuses a file nested beyond
// kMaxXmlDepth (an ORBv1 document nests four levels). The scan reads the file
// in fixed chunks and knows only tags, comments, CDATA sections, processing
// instructions, declarations and quoted attribute values.
#pragma once
#include <cstdio>

constexpr int kMaxXmlDepth = 256;

// False when the file nests elements deeper than limit. An unreadable file
// gives true: the XML library then reports it itself.
bool XmlDepthWithin(const char* path, int limit);
// The same over a stream open for reading, from its current position to its
// end; the stream is left open.
bool XmlDepthWithin(FILE* f, int limit);
