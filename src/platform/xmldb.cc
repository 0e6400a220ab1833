// The configuration database over one XML file: finding and opening it, the
// watch that tells a read whether the file changed, the generations that
// keep returned texts alive across a re-parse, and the xmldb_* calls.
#include "platform/xmldb.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_checksum.h"
#include "platform/leading_int.h"
#include "platform/xml_tree.h"

namespace {

// The appliance's database file, unless XMLDB_PATH names another.
constexpr char kDefaultPath[] = "/etc/config/config.xml";
constexpr char kPathVariable[] = "XMLDB_PATH";
constexpr char kRootName[] = "config";

// The slots of recent reads a handle keeps, two to a hash: a few settings
// of a few dozen rules. A power of two.
constexpr size_t kFoundSlots = 128;
// Past a run of new reads as long as the slots, one in this many is kept.
constexpr uint32_t kFoundEvery = 16;
// The room each slot's text is given at once: a rule's path and a setting's
// key, so that keeping a read copies it and no more.
constexpr size_t kFoundRoom = 64;

// Up to eight bytes of text, from its end: where a rule's path and a
// setting's key differ from their neighbours'.
uint64_t tail_word(std::string_view text) {
  uint64_t word = 0;
  const size_t n = std::min<size_t>(8, text.size());
  std::memcpy(&word, text.data() + text.size() - n, n);
  return word;
}

// Which two slots of the recent reads a prefix and key may sit in: their
// ends and lengths mixed, which is all a slot needs (a read compares in
// full).
size_t found_pair(std::string_view prefix, std::string_view key) {
  uint64_t h = tail_word(prefix) ^ (tail_word(key) * 0x9E3779B97F4A7C15u) ^ (prefix.size() << 8) ^ key.size();
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDu;
  h ^= h >> 33;
  return static_cast<size_t>(h) & (kFoundSlots - 2);
}

// How many further xmldb_getstring calls a returned text outlives.
constexpr uint64_t kTextLifetime = 8;

// Every absent or empty value.
constexpr char kEmpty[] = "";

// What makes the file's contents change, seen from its directory: a file
// of its name written and closed, renamed there or away, created (also by
// a link), removed, or given other attributes. Writes alone do not count
// until the writer closes the file: a read in the middle of a write would
// only parse half a file. The directory going away ends the watch.
constexpr uint32_t kDirectoryEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE |
                                      IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

// What changes where the path leads, seen from a directory on the way (or
// one holding a symbolic link the path goes through): an entry of the name
// looked up there created, removed or renamed, or the directory itself
// going away. Only events of the directory's own: asking for events of its
// entries' inodes (attributes, writes) makes the kernel mark every entry it
// caches, which in a busy directory such as /tmp can cost a millisecond for
// each watch made and removed.
constexpr uint32_t kPathEvents =
    IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

// The same, seen from the file itself: this catches writes through another
// name (a symbolic link's target, a hard link) and the target replaced.
constexpr uint32_t kFileEvents = IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_DONT_FOLLOW;

// How many symbolic links a lookup follows before it gives up, as the
// kernel does (ELOOP).
constexpr int kMaxLinks = 40;

// Room for many events per read, and at least for one with the longest name.
constexpr size_t kEventBuffer = 4096;
static_assert(kEventBuffer >= sizeof(inotify_event) + NAME_MAX + 1, "an event must fit");

XmldbLogSink log_sink = nullptr;
bool watching_allowed = true;

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

// The rest of the file at fd; false with the reason in *error.
bool read_all(int fd, std::string* text, std::string* error) {
  constexpr size_t kChunk = 64 * 1024;
  for (;;) {
    const size_t held = text->size();
    text->resize(held + kChunk);
    ssize_t n;
    do
      n = read(fd, text->data() + held, kChunk);
    while (n < 0 && errno == EINTR);
    text->resize(held + (n > 0 ? static_cast<size_t>(n) : 0));
    if (n < 0) {
      *error = std::string("cannot read: ") + std::strerror(errno);
      return false;
    }
    if (n == 0)
      return true;
  }
}

// Reads and parses the file; stores the stamp of what was actually read
// (absent when it could not be opened) and the facts of the bytes parsed.
// Null with the reason in *error. The checksum is taken of the very bytes
// the tree holds, as they are parsed: a file of megabytes is never held
// whole beside its tree. Only a file whose length changed while it was
// read (the checksum counts the length first) is read again whole.
std::unique_ptr<XmlTree> load(const std::string& path, FileStamp* stamp, XmldbSource* source, std::string* error) {
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
  FileChecksum sum(static_cast<uint64_t>(st.st_size));
  std::unique_ptr<XmlTree> tree =
      xml_tree_read(file.fd, error, {.seen = [&sum](std::string_view piece) { sum.add(piece); }});
  std::string text;
  if (tree && sum.added() != static_cast<uint64_t>(st.st_size)) {
    tree.reset();
    if (lseek(file.fd, 0, SEEK_SET) != 0) {
      *error = std::strerror(errno);
      return nullptr;
    }
    if (!read_all(file.fd, &text, error))
      return nullptr;
    tree = xml_tree_parse(text, error);
    sum = FileChecksum(text.size());
    sum.add(text);
  }
  if (tree && (tree->root() == XmlTree::kNone || std::strcmp(tree->name(tree->root()), kRootName) != 0)) {
    *error = std::string("the root element is not <") + kRootName + ">";
    return nullptr;
  }
  if (tree) {
    source->mtime = static_cast<int64_t>(st.st_mtime);
    source->checksum = sum.digits();
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

// The target of the symbolic link at path; false when it cannot be read.
bool read_link(const std::string& path, std::string* target) {
  std::string buf(256, '\0');
  for (;;) {
    const ssize_t n = readlink(path.c_str(), buf.data(), buf.size());
    if (n < 0)
      return false;
    if (static_cast<size_t>(n) < buf.size()) {
      target->assign(buf, 0, static_cast<size_t>(n));
      return true;
    }
    buf.resize(2 * buf.size());
  }
}

// A generation released once no text handed out from it may still be used.
struct Retired {
  std::shared_ptr<const XmlTree> tree;
  uint64_t expires = 0;  // released by the first xmldb_getstring call past this count
};

}  // namespace

void xmldb_set_log_sink(XmldbLogSink sink) {
  log_sink = sink;
}

void xmldb_set_watching(bool allowed) {
  watching_allowed = allowed;
}

// How a read learns that the file changed, without looking the path up:
// an inotify instance watches the file's directory for its name and the
// file itself, and a read asks it whether anything happened, with one
// system call that does not block (FIONREAD: how many bytes of events are
// queued; only when there are some are they read). The kernel queues the
// event before the writer's close or rename returns, so a read that starts
// afterwards finds it.
//
// A read without any system call would need the kernel to tell the
// process on its own: a signal on the descriptor (O_ASYNC). That makes the
// database own a process-wide signal whose default action ends the
// process, interrupts the daemon's sleeps and polls, and arrives
// asynchronously, so a read just after a writer's close on another CPU
// could still miss it. One question to the queue is the cheap, sound
// choice.
//
// The path is looked up as the kernel looks it up, component by component
// and through every symbolic link, and each directory on the way is watched
// for the name looked up in it, before it is looked up: a symbolic link
// re-pointed or a directory replaced anywhere on the way is a change like
// the file's own, after which the path is looked up and watched afresh.
// Where the lookup stops (a name absent, a directory that cannot be
// searched), the last directory's watch covers what would let it go on.
//
// When the file cannot be watched (no inotify instance or watch left),
// every read looks at the file's stat instead, as the stand-in did before,
// and tries to watch again whenever the file has to be parsed again.
struct xmldb {
  ~xmldb() { stop_watching(); }

  // A directory on the way and the names looked up in it.
  struct Watch {
    int wd;
    std::vector<std::string> names;
  };

  // Watches, on a new inotify instance, every directory the path leads
  // through and the file it names; false, watching nothing, when one
  // cannot be watched.
  bool watch();

  // Watches directory for the name looked up in it; false when it cannot.
  bool watch_name(const std::string& directory, const std::string& name, uint32_t mask);

  void stop_watching();

  // Reads every queued event; true when one may mean a change.
  bool drain_events();

  // Parses the file again when it changed since it was last looked at.
  void refresh();

  // Whether current holds the file as it is now, as far as a read could
  // tell without parsing: nothing changed since it was last looked at, and
  // that look parsed it.
  bool fresh();

  // Parses the file again, keeping the last good contents when it cannot.
  // now: the file's stat that told of the change (absent when a watch did).
  void reload(const FileStamp& now);

  // The value of prefix.key in the current contents, or null when there
  // is none.
  const char* value(const char* prefix, const char* key);

  // xmldb_getstring on this handle.
  const char* getstring(const char* prefix, const char* key);

  std::string path;
  int inotify_fd = -1;           // -1: not watching, every read stats the path
  std::vector<Watch> watches;
  int file_watch = -1;           // -1 while the path leads to no file
  std::vector<char> events;
  FileStamp seen;  // the file state last looked at, good or bad
  // Shared with another handle that xmldb_follow pointed at this one's.
  std::shared_ptr<const XmlTree> current;
  XmldbSource source;            // of the bytes current was parsed from
  int holds = 0;                 // xmldb_hold calls not yet released: current stays
  bool current_lent = false;     // a text of current has been handed out
  bool current_seen = false;     // current was parsed from the file as seen
  std::deque<Retired> retired;   // oldest first, so expiries never decrease
  uint64_t getstring_calls = 0;
  // What recent reads found in current, each in the slot of its prefix's
  // and key's hash: the daemon reads the same few settings of its rules at
  // every update (a threshold's value, hysteresis and comparison), and a
  // read walks its path a component at a time, scanning each element's
  // children. A read found here is a mix of a few bytes and one compare.
  // Emptied whenever current is replaced.
  struct Found {
    std::string path;  // prefix, NUL, key; empty for an unused slot
    XmlTree::Id id = XmlTree::kNone;
    uint8_t read_last = 0;  // in the first of two slots: which of them (0 or 1) was read last
  };
  std::vector<Found> found;
  // The element of the prefix the last read that was not found above
  // named: a load reads each rule's settings in a run on the rule's path,
  // so the path is compared instead of walked again. Likewise the element
  // below it that the key's leading components named ("trigger_actions.
  // action1.rpc" of ".rpc.outlet"): an action's settings are read in a run.
  struct Known {
    bool known = false;
    std::string text;
    XmlTree::Id at = XmlTree::kNone;
    // The element of text, looked up by find unless it is the last one's.
    template <class Find>
    XmlTree::Id of(std::string_view t, Find find) {
      if (!known || t != text) {
        known = false;
        text.assign(t);
        at = find(t);
        known = true;
      }
      return at;
    }
  };
  Known known_prefix;
  Known known_dir;  // below known_prefix
  // Reads not found among the recent ones since the last that was: a load's
  // reads are all new, and keeping each would only slow it.
  uint32_t missed = 0;
  void forget_found() {
    for (Found& f : found)
      f.path.clear();
    known_prefix.known = false;
    known_dir.known = false;
    missed = 0;
  }
  // The element of prefix.key in current, for a read not found above.
  XmlTree::Id find(std::string_view p, std::string_view k);
};

bool xmldb::watch() {
  stop_watching();
  if (!watching_allowed)
    return false;
  events.resize(kEventBuffer);
  inotify_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_fd < 0)
    return false;
  // The components still to look up, the next one last.
  std::vector<std::string> rest;
  const auto push_components = [&rest](const std::string& text) {
    for (size_t end = text.size(); end > 0;) {
      const size_t slash = text.rfind('/', end - 1);
      const size_t begin = slash == std::string::npos ? 0 : slash + 1;
      if (end > begin)
        rest.emplace_back(text, begin, end - begin);
      end = slash == std::string::npos ? 0 : slash;
    }
  };
  push_components(path);
  // Where the next name is looked up, free of links once past the start.
  std::string directory = path[0] == '/' ? "/" : ".";
  int links = 0;
  while (!rest.empty()) {
    const std::string name = std::move(rest.back());
    rest.pop_back();
    if (name == ".")
      continue;
    if (name == "..") {
      // Lexically in a directory without links; a relative start (no
      // working directory known) keeps the kernel's way.
      const size_t slash = directory.rfind('/');
      if (directory[0] != '/')
        directory += "/..";
      else
        directory.resize(slash == 0 ? 1 : slash);
      continue;
    }
    if (!watch_name(directory, name, rest.empty() ? kDirectoryEvents : kPathEvents)) {
      stop_watching();
      return false;
    }
    const std::string at = directory == "/" ? "/" + name : directory + "/" + name;
    struct stat st;
    if (lstat(at.c_str(), &st) != 0)
      return true;
    if (S_ISLNK(st.st_mode)) {
      std::string target;
      if (++links > kMaxLinks || !read_link(at, &target))
        return true;
      if (!target.empty() && target[0] == '/')
        directory = "/";
      push_components(target);
    } else if (!rest.empty()) {
      if (!S_ISDIR(st.st_mode))
        return true;
      directory = at;
    } else {
      const int wd = inotify_add_watch(inotify_fd, at.c_str(), kFileEvents);
      if (wd < 0 && errno != ENOENT && errno != EACCES) {
        stop_watching();
        return false;
      }
      file_watch = wd;
    }
  }
  return true;
}

bool xmldb::watch_name(const std::string& directory, const std::string& name, uint32_t mask) {
  // The same directory watched again keeps its number and adds the events.
  const int wd = inotify_add_watch(inotify_fd, directory.c_str(), mask | IN_MASK_ADD);
  if (wd < 0)
    return false;
  for (Watch& w : watches) {
    if (w.wd == wd) {
      w.names.push_back(name);
      return true;
    }
  }
  watches.push_back(Watch{wd, {name}});
  return true;
}

void xmldb::stop_watching() {
  if (inotify_fd >= 0)
    close(inotify_fd);
  inotify_fd = file_watch = -1;
  watches.clear();
}

bool xmldb::drain_events() {
  bool changed = false;
  for (;;) {
    const ssize_t n = read(inotify_fd, events.data(), events.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      // Nothing queued. Any other failure leaves the watch untrustworthy.
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
        changed = true;
      break;
    }
    for (size_t at = 0; at + sizeof(inotify_event) <= static_cast<size_t>(n);) {
      inotify_event event;
      std::memcpy(&event, events.data() + at, sizeof event);
      const std::string_view name(events.data() + at + sizeof event, strnlen(events.data() + at + sizeof event, event.len));
      at += sizeof event + event.len;
      if (event.mask & IN_Q_OVERFLOW) {
        changed = true;  // events were dropped
      } else if (event.wd == file_watch) {
        changed = true;
      } else {
        for (const Watch& w : watches) {
          if (w.wd != event.wd)
            continue;
          if (event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT))
            changed = true;
          for (const std::string& looked_up : w.names)
            changed = changed || name == looked_up;
        }
      }
    }
  }
  return changed;
}

void xmldb::refresh() {
  // What happens to the file meanwhile stays queued on the watch (or shows
  // in the stat), for the first read after the hold.
  if (holds > 0)
    return;
  if (inotify_fd >= 0) {
    // Asking how much is queued is cheaper than a read that finds nothing.
    int queued = 0;
    if (ioctl(inotify_fd, FIONREAD, &queued) == 0 && queued == 0)
      return;
    if (drain_events())
      reload(FileStamp());
    return;
  }
  const char* why = nullptr;
  FileStamp now = stat_path(path, &why);
  if (now == seen)
    return;
  if (!now.present) {
    seen = now;
    current_seen = false;
    xmldb_log("xmldb: %s: %s, keeping its last good contents", path.c_str(), why);
    return;
  }
  reload(now);
}

void xmldb::reload(const FileStamp& now) {
  seen = now;
  // The path is watched afresh before the file is read, so that a change
  // made while it is read is noticed by the next read.
  watch();
  std::string error;
  FileStamp opened;
  XmldbSource read;
  std::unique_ptr<XmlTree> tree = load(path, &opened, &read, &error);
  if (opened.present)
    seen = opened;
  current_seen = tree != nullptr;
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
  source = std::move(read);
  current_lent = false;
  forget_found();
}

bool xmldb::fresh() {
  if (holds > 0 || !current_seen)
    return false;
  if (inotify_fd >= 0) {
    int queued = 0;
    return ioctl(inotify_fd, FIONREAD, &queued) == 0 && queued == 0;
  }
  const char* why = nullptr;
  return stat_path(path, &why) == seen;
}

XmlTree::Id xmldb::find(std::string_view p, std::string_view k) {
  if (p.empty() || k.empty())
    return current->find(p, k);
  const XmlTree& tree = *current;
  const bool same_prefix = known_prefix.known && p == known_prefix.text;
  const XmlTree::Id at = known_prefix.of(p, [&tree](std::string_view t) { return tree.find(t); });
  if (!same_prefix)
    known_dir.known = false;
  if (at == XmlTree::kNone)
    return XmlTree::kNone;
  const size_t dot = k.rfind('.');
  if (dot == std::string_view::npos)
    return tree.find_below(at, k);
  const XmlTree::Id dir =
      known_dir.of(k.substr(0, dot), [&tree, at](std::string_view t) { return tree.find_below(at, t); });
  return dir == XmlTree::kNone ? XmlTree::kNone : tree.find_below(dir, k.substr(dot + 1));
}

const char* xmldb::value(const char* prefix, const char* key) {
  const std::string_view p = prefix ? prefix : "", k = key ? key : "";
  if (found.empty()) {
    found.resize(kFoundSlots);
    for (Found& f : found)
      f.path.reserve(kFoundRoom);
  }
  // Neither holds a NUL (they come as C strings), so "prefix NUL key" is
  // the pair's alone.
  const auto names = [p, k](const Found& f) {
    const std::string& known = f.path;
    return known.size() == p.size() + 1 + k.size() && known.compare(0, p.size(), p) == 0 &&
           known.compare(p.size() + 1, k.size(), k) == 0 && known[p.size()] == '\0';
  };
  // Two slots a pair may sit in; the one read last is looked at first and
  // the other gives way to a read found in neither, so that pairs sharing
  // their slots do not push each other out at every read.
  const size_t at = found_pair(p, k);
  Found* last = &found[at + found[at].read_last];
  Found* other = &found[at + 1 - found[at].read_last];
  XmlTree::Id id;
  if (names(*last)) {
    id = last->id;
    missed = 0;
  } else if (names(*other)) {
    id = other->id;
    missed = 0;
    found[at].read_last ^= 1;
  } else {
    id = find(p, k);
    // Kept while the slots fill, and then one in kFoundEvery of a run of
    // new reads, so that reads that recur still come to be kept.
    if (missed < kFoundSlots || missed % kFoundEvery == 0) {
      other->path.assign(p);
      other->path.push_back('\0');
      other->path.append(k);
      other->id = id;
      found[at].read_last ^= 1;
    }
    if (missed < UINT32_MAX)
      ++missed;
  }
  return id == XmlTree::kNone ? nullptr : current->value(id);
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

// A new handle on the file at path, watched already, so that a change made
// from here on is not missed.
static std::unique_ptr<xmldb> watched_handle(std::string path) {
  auto db = std::make_unique<xmldb>();
  db->path = std::move(path);
  db->watch();
  return db;
}

// Parses db's file into it; null (logged) when it cannot.
static xmldb_t* first_parse(std::unique_ptr<xmldb> db) {
  std::string error;
  std::unique_ptr<XmlTree> tree = load(db->path, &db->seen, &db->source, &error);
  if (!tree) {
    xmldb_log("xmldb: cannot open %s: %s", db->path.c_str(), error.c_str());
    return nullptr;
  }
  db->current = std::move(tree);
  db->current_seen = true;
  return db.release();
}

xmldb_t* xmldb_open(const char* name) {
  try {
    return first_parse(watched_handle(resolve_path(name)));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

xmldb_t* xmldb_open_beside(xmldb_t* running) {
  if (running == nullptr)
    return xmldb_open(nullptr);
  try {
    std::unique_ptr<xmldb> db = watched_handle(running->path);
    if (!running->fresh())
      return first_parse(std::move(db));
    db->current = running->current;
    db->source = running->source;
    db->seen = running->seen;
    db->current_seen = true;
    return db.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void xmldb_close(xmldb_t* db) {
  std::unique_ptr<xmldb> owned(db);
}

void xmldb_follow(xmldb_t* db, xmldb_t* newer) {
  if (db == nullptr || newer == nullptr || db == newer || db->holds > 0)
    return;
  // Its own watch would have it parse the file again at its next read for
  // the changes newer has read already; it stats the file from now on,
  // against what newer read.
  db->stop_watching();
  db->retired.clear();
  db->current = newer->current;
  db->source = newer->source;
  db->seen = newer->seen;
  db->current_lent = false;
  db->forget_found();
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
  return leading_int(v);
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
    return db->current->view(db->current->find(path));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

uint64_t xmldb_fingerprint(xmldb_t* db, const char* path) {
  if (!db || !path)
    return 0;
  try {
    db->refresh();
    return db->current->fingerprint(db->current->find(path));
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int xmldb_hold(xmldb_t* db, XmldbSource* source) {
  if (!db)
    return -1;
  try {
    db->refresh();
    if (source)
      *source = db->source;
  } catch (const std::bad_alloc&) {
    return -1;
  }
  ++db->holds;
  return 0;
}

void xmldb_release(xmldb_t* db) {
  if (db && db->holds > 0)
    --db->holds;
}
