#include "base/mapped_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <new>

void* MappedMemory::do_allocate(size_t bytes, size_t alignment) {
  // A mapping starts on a page: alignment beyond that is not asked for by
  // the stores and could not be given.
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  if (alignment > page || bytes == 0) throw std::bad_alloc();
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return p;
}

void MappedMemory::do_deallocate(void* p, size_t bytes, size_t /*alignment*/) { munmap(p, bytes); }

bool MappedMemory::do_is_equal(const std::pmr::memory_resource& other) const noexcept {
  return dynamic_cast<const MappedMemory*>(&other) != nullptr;
}

MappedMemory* mapped_memory() {
  static MappedMemory memory;
  return &memory;
}
