// Memory taken from the system in whole pages and given back the same way,
// for the blocks a load's rules and references are carved from: freed, a
// block leaves no hole in the heap that other blocks pin.
#pragma once

#include <cstddef>
#include <memory_resource>

// Maps each block on its own (anonymous, private) and unmaps it when it is
// given back; only the pages written become resident. For the large blocks
// of a store that carves small ones from them, not for small blocks
// themselves: each takes whole pages. Stateless: every instance is
// interchangeable.
class MappedMemory final : public std::pmr::memory_resource {
 private:
  void* do_allocate(size_t bytes, size_t alignment) override;
  void do_deallocate(void* p, size_t bytes, size_t alignment) override;
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override;
};

// The one instance the stores share.
MappedMemory* mapped_memory();
