#include "loop_chord.h"

LoopChord::LoopChord(const NoteChord& initial) { Install(initial); }

void LoopChord::Install(const NoteChord& chord) {
  chord_ = chord;
  // Odd sequence numbers mark a write in progress; readers retry until they see the same even
  // number before and after their copy.
  const uint32_t start = sequence_.load(std::memory_order_relaxed);
  sequence_.store(start + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  published_[0].store(chord.Root(), std::memory_order_relaxed);
  published_[1].store(chord.Octave(), std::memory_order_relaxed);
  published_[2].store(chord.NoteCount(), std::memory_order_relaxed);
  for (int i = 0; i < chord.NoteCount(); ++i) {
    published_[3 + i].store(chord.NoteAt(i), std::memory_order_relaxed);
  }
  sequence_.store(start + 2, std::memory_order_release);
}

NoteChord LoopChord::Snapshot() const {
  for (;;) {
    const uint32_t before = sequence_.load(std::memory_order_acquire);
    if (before & 1u) continue;
    NoteChord copy(published_[0].load(std::memory_order_relaxed),
                   published_[1].load(std::memory_order_relaxed));
    int count = published_[2].load(std::memory_order_relaxed);
    if (count > NoteChord::kMaxNotes) count = NoteChord::kMaxNotes;
    for (int i = 0; i < count; ++i) copy.AddNote(published_[3 + i].load(std::memory_order_relaxed));
    std::atomic_thread_fence(std::memory_order_acquire);
    if (sequence_.load(std::memory_order_relaxed) == before) return copy;
  }
}
