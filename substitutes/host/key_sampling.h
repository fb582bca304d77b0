// key_sampling.h: sampling of keyed values, shared by the float controller
// and the scene nodes' transforms (inside host/ only).
//
// The value at t is the key's value at a key, linear between the two
// surrounding keys and held before the first and after the last key.
// `valid` is narrowed to the times over which the returned value holds: all
// time for a single key, up to the first key or from the last key for the
// held ranges, and the instant t between keys.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>

#include "host/types.h"

namespace host_detail {

inline void Narrow(Interval* valid, TimeValue start, TimeValue end) {
  if (!valid) return;
  valid->start = std::max(valid->start, start);
  valid->end = std::min(valid->end, end);
}

// `lerp(a, b, f)` interpolates two values with f in [0, 1). Requires keys.
template <class Value, class Lerp>
Value SampleKeys(const std::map<TimeValue, Value>& keys, TimeValue t, Interval* valid, Lerp lerp) {
  const auto first = keys.begin();
  const auto last = std::prev(keys.end());
  if (first == last) return first->second;
  if (t <= first->first) {
    Narrow(valid, TIME_NEG_INFINITY, first->first);
    return first->second;
  }
  if (t >= last->first) {
    Narrow(valid, last->first, TIME_POS_INFINITY);
    return last->second;
  }
  Narrow(valid, t, t);
  const auto after = keys.lower_bound(t);
  if (after->first == t) return after->second;
  const auto before = std::prev(after);
  // Spans are taken in 64 bits: keys may lie at the ends of the time range.
  const double f = static_cast<double>(static_cast<int64_t>(t) - before->first) /
                   static_cast<double>(static_cast<int64_t>(after->first) - before->first);
  return lerp(before->second, after->second, f);
}

}  // namespace host_detail
