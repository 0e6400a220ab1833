// The appliance's configuration database, as a stand-in over one XML file.
//
// xmldb_open(NULL) opens /etc/config/config.xml, or the file named by the
// environment variable XMLDB_PATH when that is set and not empty. A dotted
// path "config.a.b" is the element <config><a><b>; its value is the element's
// text exactly as written, and only an element without child elements has one.
// Where siblings share a name, the first one counts.
//
// The handle watches the file and every directory its path leads through,
// symbolic links followed, and every read asks the watch whether the file
// was written and closed, replaced, removed or created since, or the path
// now leads elsewhere (a link re-pointed, a directory replaced): the file
// is parsed again only then, so an edited file is seen by the next read
// without a reload, and a read that finds nothing changed makes one
// non-blocking system call on the watch and no path lookup.
// Where the file cannot be watched, every read looks at its stat instead.
// A file that turns malformed keeps the last good contents.
// A read looks the path up one component at a time, one hash probe each.
//
// Beyond the appliance's calls, xmldb_hold and xmldb_release: one load of
// the configuration reads one version of the file, and knows which.
#pragma once

#include <cstdint>
#include <string>

#include "platform/scew.h"

struct xmldb;
typedef struct xmldb xmldb_t;

// Opens the database; null when the file cannot be read or is malformed.
// A name that is not null or empty is the path of the file to open.
xmldb_t* xmldb_open(const char* name);

// Opens another handle on running's file. When running holds the file as
// it is now (nothing changed since running last parsed it), the two share
// that parse rather than the file being parsed twice and held twice;
// otherwise as xmldb_open of running's file. Null as xmldb_open; as
// xmldb_open(nullptr) for a null running.
xmldb_t* xmldb_open_beside(xmldb_t* running);

// Releases the handle; every text and subtree it returned is gone.
void xmldb_close(xmldb_t* db);

// Makes db read the contents newer holds, as if it had parsed the file
// when newer did, and lets go of its own at once: every text and subtree it
// returned is gone. For a handle about to be replaced by a newer one of the
// same file, so that the two never hold two parses of it. Nothing happens
// while db is held.
void xmldb_follow(xmldb_t* db, xmldb_t* newer);

// The value of prefix.key, never null: an absent value is "". The text
// stays valid until at least eight further xmldb_getstring calls on the
// same handle, even when the file is parsed again in between.
const char* xmldb_getstring(xmldb_t* db, const char* prefix, const char* key);

// The leading decimal integer of the value (optional sign, strtol base 10),
// clamped to the 32-bit signed range; 0 when absent, empty or not numeric.
int32_t xmldb_getsize(xmldb_t* db, const char* prefix, const char* key);

// 1 for "on", "true", "yes" and "1" (any case), 0 for anything else.
int xmldb_getbool(xmldb_t* db, const char* prefix, const char* key);

// A 64-bit hash of the whole subtree of a dotted path (every element's
// name and text and how they nest); 0 when absent. Not part of the
// appliance library's calls: the daemon's reload tells by it which rules
// an edit left alone without reading every one of them again.
uint64_t xmldb_fingerprint(xmldb_t* db, const char* path);

// The element of a dotted path, for the scew_* view; null when absent.
// Valid until the next read on the handle that parses the file again.
scew_element* xmldb_subtree(xmldb_t* db, const char* path);

// What one parse was read from: the file's modification time and the
// checksum of the very bytes parsed (platform/file_checksum.h).
struct XmldbSource {
  int64_t mtime = 0;  // seconds since the epoch
  std::string checksum;
};

// Holds the contents a read would see now (the file parsed again first
// when it changed) until the matching xmldb_release: every read on the
// handle meanwhile sees them, however the file changes, and the first read
// after the last release sees the file as it is then. Holds nest. source,
// when not null, gets the facts of the held parse. 0, or -1 for a null
// handle or when memory runs out (nothing is held then).
int xmldb_hold(xmldb_t* db, XmldbSource* source);
void xmldb_release(xmldb_t* db);
