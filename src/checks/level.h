// Whole-number levels against a configured value, shared by the checks
// that read one: an input or signal level that triggers while it equals
// the configured value, and a script's result code that triggers while it
// differs from the good one.
#pragma once

#include <cstdint>

#include "checks/check_type.h"

// A level equal to trigger triggers a Normal reference and refreshes a
// Triggered one, any other level resolves a Triggered one. With on_change
// every update triggers, a Triggered reference again.
CheckOutcome level_outcome(const ArCheck* check, int32_t level, int32_t trigger, bool on_change);

// A code other than good triggers a Normal reference and refreshes a
// Triggered one; good resolves a Triggered one.
CheckOutcome result_code_outcome(const ArCheck* check, int32_t code, int32_t good);
