#include "runtime/parallel.h"

namespace {
// The batch program runs these jobs on every core; so do their tests.
[[maybe_unused]] const bool everyCore = (UseEveryCore(), true);
}  // namespace
