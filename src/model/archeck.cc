// ArChecks' status records and keys.
#include "model/archeck.h"

#include <algorithm>

#include "model/action.h"
#include "model/autoresponse.h"
#include "model/ref_key.h"

void ActionStatuses::reset(size_t count) {
  if (count > kInline) {
    heap_ = std::make_unique<ActionStatus[]>(count);
  } else {
    heap_.reset();
  }
  std::fill_n(data(), count, kActionNew);
}

size_t BurstTimes::count(int64_t now, int64_t window_ms) {
  const size_t capacity = times_.size();
  if (capacity == 0) return 0;
  while (size_ > 0 && now - times_[first_] > window_ms) {
    first_ = (first_ + 1) % capacity;
    --size_;
  }
  if (size_ == capacity) {
    first_ = (first_ + 1) % capacity;
    --size_;
  }
  times_[(first_ + size_) % capacity] = now;
  return ++size_;
}

size_t BurstTimes::counted(int64_t now, int64_t window_ms, int64_t* oldest) const {
  *oldest = 0;
  size_t n = 0;
  for (size_t i = 0; i < size_; ++i) {
    const int64_t t = times_[(first_ + i) % times_.size()];
    if (now - t > window_ms) continue;
    if (n++ == 0) *oldest = t;
  }
  return n;
}

size_t ArCheck::trigger_count() const { return conf.ar->trigger_actions.size(); }

size_t ArCheck::resolve_count() const { return conf.ar->resolve_actions.size(); }

std::string archeck_key(const ArCheck& check, const char* suffix) {
  return reference_key(check.conf.ar->path().view(), check.conf.ref_index, suffix);
}
