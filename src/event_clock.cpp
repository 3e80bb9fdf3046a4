#include "event_clock.h"

namespace {
// True when difference a is smaller than b: both are near the clocks' difference, far less
// than half the counters' range apart, so the signed distance orders them across a wrap.
bool Smaller(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }
}  // namespace

void EventClock::Observe(uint32_t eventMs, uint32_t readMs) {
  const uint32_t difference = readMs - eventMs;
  if (!any_) {
    any_ = true;
    current_ = previous_ = difference;
    currentFromMs_ = readMs;
    return;
  }
  if (readMs - currentFromMs_ >= kSpanMs / 2) {
    // A whole span without events: the current half is stale too.
    previous_ = readMs - currentFromMs_ >= kSpanMs ? difference : current_;
    current_ = difference;
    currentFromMs_ = readMs;
  } else if (Smaller(difference, current_)) {
    current_ = difference;
  }
}

uint32_t EventClock::ToPressClock(uint32_t eventMs, uint32_t readMs) const {
  if (!any_) return readMs;
  const uint32_t difference = Smaller(previous_, current_) ? previous_ : current_;
  // Unsigned: an event placed after it was read (which only a newer, smaller difference
  // explains) wraps to a wait far longer than any believed.
  const uint32_t waited = readMs - (eventMs + difference);
  if (waited > kLongestWaitMs) return readMs;
  return readMs - waited;
}
