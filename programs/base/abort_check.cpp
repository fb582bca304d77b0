#include "base/abort_check.h"

#include "base/errors.h"

namespace kestrion {

bool AbortCheck::Requested() const {
  if (Stopped()) return true;
  if (!query || !query()) return false;
  stopped.store(true, std::memory_order_release);
  return true;
}

void AbortCheck::ThrowIfRequested() const {
  if (Requested()) throw Aborted();
}

const AbortCheck& NeverAbort() {
  static const AbortCheck never;
  return never;
}

}  // namespace kestrion
