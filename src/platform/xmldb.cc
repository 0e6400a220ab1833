// The configuration database over one XML file: finding and opening it, the
// freshness check of every read, the generations that keep returned texts
// alive across a re-parse, and the xmldb_* calls.
#include "platform/xmldb.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>

#include "platform/xml_tree.h"

namespace {

// The appliance's database file, unless XMLDB_PATH names another.
constexpr char kDefaultPath[] = "/etc/config/config.xml";
constexpr char kPathVariable[] = "XMLDB_PATH";
constexpr char kRootName[] = "config";

// How many further xmldb_getstring calls a returned text outlives.
constexpr uint64_t kTextLifetime = 8;

// Every absent or empty value.
constexpr char kEmpty[] = "";

XmldbLogSink log_sink = nullptr;

// Sends one line to the log sink, or to syslog.
__attribute__((format(printf, 1, 2))) void xmldb_log(const char* format, ...) {
  int saved_errno = errno;
  va_list ap;
  va_start(ap, format);
  char probe;
  va_list again;
  va_copy(again, ap);
  int len = std::vsnprintf(&probe, 1, format, ap);
  va_end(ap);
  if (len >= 0) {
    try {
      std::string line(static_cast<size_t>(len), '\0');
      std::vsnprintf(line.data(), line.size() + 1, format, again);
      if (log_sink)
        log_sink(line.c_str());
      else
        syslog(LOG_WARNING, "%s", line.c_str());
    } catch (const std::bad_alloc&) {
    }
  }
  va_end(again);
  errno = saved_errno;
}

// What identifies one state of the file: a change in any field means the
// contents may have changed. All absent states compare equal.
struct FileStamp {
  bool present = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime = {};
  struct timespec ctime = {};

  bool operator==(const FileStamp& o) const {
    return present == o.present && dev == o.dev && ino == o.ino && size == o.size &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
           ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

// The stamp of a regular file's stat; absent for anything else.
FileStamp stamp_of(const struct stat& st) {
  FileStamp s;
  if (!S_ISREG(st.st_mode))
    return s;
  s.present = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime = st.st_mtim;
  s.ctime = st.st_ctim;
  return s;
}

// The stamp of the file at path; absent, with the reason in *why, when it
// cannot be looked at or is no regular file.
FileStamp stat_path(const std::string& path, const char** why) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *why = std::strerror(errno);
    return FileStamp();
  }
  *why = "not a regular file";
  return stamp_of(st);
}

// Closes a descriptor when it goes out of scope.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0)
      close(fd);
  }
};

// Reads and parses the file; stores the stamp of what was actually read
// (absent when it could not be opened). Null with the reason in *error.
std::unique_ptr<XmlTree> load(const std::string& path, FileStamp* stamp, std::string* error) {
  *stamp = FileStamp();
  // O_NONBLOCK: a FIFO put in the file's place must not hang the daemon.
  FdCloser file{open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (file.fd < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  struct stat st;
  if (fstat(file.fd, &st) != 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  *stamp = stamp_of(st);
  if (!stamp->present) {
    *error = "not a regular file";
    return nullptr;
  }
  std::unique_ptr<XmlTree> tree = xml_tree_read(file.fd, error);
  if (tree && (!tree->root() || std::strcmp(tree->root()->name, kRootName) != 0)) {
    *error = std::string("the root element is not <") + kRootName + ">";
    return nullptr;
  }
  return tree;
}

// The file a null or empty name opens, made absolute so that a later
// change of directory does not lose it.
std::string resolve_path(const char* name) {
  if (!name || !*name) {
    const char* env = std::getenv(kPathVariable);
    name = env && *env ? env : kDefaultPath;
  }
  std::string path(name);
  if (path[0] != '/') {
    std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
    if (cwd)
      path = std::string(cwd.get()) + "/" + path;
  }
  return path;
}

// A generation released once no text handed out from it may still be used.
struct Retired {
  std::unique_ptr<const XmlTree> tree;
  uint64_t expires = 0;  // released by the first xmldb_getstring call past this count
};

}  // namespace

void xmldb_set_log_sink(XmldbLogSink sink) {
  log_sink = sink;
}

struct xmldb {
  // Parses the file again when it changed since it was last looked at.
  void refresh();

  // The element of prefix.key in the current contents, or null.
  scew_element* lookup(const char* prefix, const char* key);

  // The value of prefix.key, or null when there is none.
  const char* value(const char* prefix, const char* key) {
    const scew_element* e = lookup(prefix, key);
    return e ? e->value : nullptr;
  }

  // xmldb_getstring on this handle.
  const char* getstring(const char* prefix, const char* key);

  std::string path;
  FileStamp seen;  // the file state last looked at, good or bad
  std::unique_ptr<const XmlTree> current;
  bool current_lent = false;     // a text of current has been handed out
  std::deque<Retired> retired;   // oldest first, so expiries never decrease
  uint64_t getstring_calls = 0;
  std::string key_buffer;        // "prefix.key", reused by every read
};

void xmldb::refresh() {
  const char* why = nullptr;
  FileStamp now = stat_path(path, &why);
  if (now == seen)
    return;
  seen = now;
  if (!now.present) {
    xmldb_log("xmldb: %s: %s, keeping its last good contents", path.c_str(), why);
    return;
  }
  std::string error;
  FileStamp opened;
  std::unique_ptr<XmlTree> tree = load(path, &opened, &error);
  if (opened.present)
    seen = opened;
  if (!tree) {
    xmldb_log("xmldb: %s: %s, keeping its last good contents", path.c_str(), error.c_str());
    return;
  }
  // Texts of the old contents outlive it by kTextLifetime getstring calls;
  // contents nobody took a text from can go at once.
  if (current_lent) {
    retired.emplace_back();
    retired.back().tree = std::move(current);
    retired.back().expires = getstring_calls + kTextLifetime;
  }
  current = std::move(tree);
  current_lent = false;
}

scew_element* xmldb::lookup(const char* prefix, const char* key) {
  key_buffer.clear();
  if (prefix && *prefix) {
    key_buffer.append(prefix);
    if (key && *key)
      key_buffer.push_back('.');
  }
  if (key)
    key_buffer.append(key);
  return current->find(key_buffer);
}

const char* xmldb::getstring(const char* prefix, const char* key) {
  refresh();
  ++getstring_calls;
  while (!retired.empty() && retired.front().expires < getstring_calls)
    retired.pop_front();
  const char* v = value(prefix, key);
  if (!v || !*v)
    return kEmpty;
  current_lent = true;
  return v;
}

xmldb_t* xmldb_open(const char* name) {
  try {
    auto db = std::make_unique<xmldb>();
    db->path = resolve_path(name);
    std::string error;
    std::unique_ptr<XmlTree> tree = load(db->path, &db->seen, &error);
    if (!tree) {
      xmldb_log("xmldb: cannot open %s: %s", db->path.c_str(), error.c_str());
      return nullptr;
    }
    db->current = std::move(tree);
    return db.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void xmldb_close(xmldb_t* db) {
  std::unique_ptr<xmldb> owned(db);
}

const char* xmldb_getstring(xmldb_t* db, const char* prefix, const char* key) {
  if (!db)
    return kEmpty;
  try {
    return db->getstring(prefix, key);
  } catch (const std::bad_alloc&) {
    return kEmpty;
  }
}

// The raw text behind prefix.key after the freshness check, or null when the
// key is absent or the lookup ran out of memory.
static const char* fresh_value(xmldb_t* db, const char* prefix, const char* key) {
  if (!db)
    return nullptr;
  try {
    db->refresh();
    return db->value(prefix, key);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int32_t xmldb_getsize(xmldb_t* db, const char* prefix, const char* key) {
  const char* v = fresh_value(db, prefix, key);
  if (!v)
    return 0;
  int saved_errno = errno;
  long long n = std::strtoll(v, nullptr, 10);
  errno = saved_errno;
  if (n > INT32_MAX)
    return INT32_MAX;
  if (n < INT32_MIN)
    return INT32_MIN;
  return static_cast<int32_t>(n);
}

int xmldb_getbool(xmldb_t* db, const char* prefix, const char* key) {
  const char* v = fresh_value(db, prefix, key);
  if (!v)
    return 0;
  return strcasecmp(v, "on") == 0 || strcasecmp(v, "true") == 0 || strcasecmp(v, "yes") == 0 ||
         std::strcmp(v, "1") == 0;
}

scew_element* xmldb_subtree(xmldb_t* db, const char* path) {
  if (!db || !path)
    return nullptr;
  try {
    db->refresh();
    return db->current->find(path);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
