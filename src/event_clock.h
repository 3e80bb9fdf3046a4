#pragma once
// The window system's input clock on the press clock (InputSource::TicksMs). The X server
// stamps every input event with its own millisecond clock as the event happens; SDL stamps it
// only when the program reads it, which the main thread does between frames, so a press made
// while a frame is drawn is stamped late by what is left of the drawing (up to 11 ms under
// Xvfb's software OpenGL) and placed that much later on the heard clock.
//
// Every event read gives (its window-system time, when it was read); read time minus event time
// is the two clocks' difference plus how long the event waited. The smallest over the last
// span is the difference (an event read at once waited under a millisecond), and an event is
// then placed at its window-system time plus that difference. The span lets a slow drift
// between the two clocks be followed.
//
// Threads: the thread that reads the window system's events (the main thread) only.

#include <cstdint>

class EventClock {
 public:
  // Span the smallest difference is taken over: between a half and a whole of it, ms.
  static constexpr uint32_t kSpanMs = 10000;
  // Longest an event is believed to have waited, ms: a mapping that places it earlier than
  // that before it was read is not trusted (the window system's clock jumped), and the event
  // counts as made when it was read.
  static constexpr uint32_t kLongestWaitMs = 1000;

  // An event that the window system stamped eventMs (its clock, wrapping) was read at readMs
  // (the press clock, wrapping).
  void Observe(uint32_t eventMs, uint32_t readMs);
  // The press-clock time, ms, at which an event stamped eventMs and read at readMs was made:
  // never after readMs; readMs when nothing maps it.
  uint32_t ToPressClock(uint32_t eventMs, uint32_t readMs) const;

 private:
  // Read time minus event time (unsigned: right across either clock's wrap), the smallest of
  // the current half span and of the one before it.
  bool any_ = false;
  uint32_t current_ = 0;
  uint32_t previous_ = 0;
  uint32_t currentFromMs_ = 0;  // read time of the current half span's first event
};
