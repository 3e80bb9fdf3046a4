#pragma once
// The loop's current harmony, handed from the thread that installs it to readers on the
// main thread without a lock.
//
// Installs happen on the audio thread (chord progression at loop starts and on edits) or on
// the main thread while it holds the pad-list mutex (a new game's chord pad). Both are
// serialised by that mutex, so Current() is safe for them and for every pad callback.
// Drawing on the main thread reads through Snapshot(), a sequence-locked copy: it never sees a
// half-written chord, and the installing side never waits for it.

#include <array>
#include <atomic>
#include <cstdint>

#include "note_chord.h"

class LoopChord {
 public:
  explicit LoopChord(const NoteChord& initial);

  // Replaces the chord. Audio thread, or main thread holding the pad-list mutex.
  void Install(const NoteChord& chord);
  // The chord last installed. Audio thread (or main thread holding the pad-list mutex).
  const NoteChord& Current() const { return chord_; }
  // A consistent copy of the chord last installed. Safe from any thread; never blocks the
  // installing side.
  NoteChord Snapshot() const;

 private:
  static constexpr int kWords = 3 + NoteChord::kMaxNotes;  // root, octave, count, notes

  NoteChord chord_;
  std::atomic<uint32_t> sequence_{0};
  std::array<std::atomic<int32_t>, kWords> published_{};
};
