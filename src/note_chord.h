#pragma once
// A scale or chord: a root key and an ordered list of semitone offsets from it.
// Pads store notes as offsets into the loop's chord; the chord turns an offset into a key,
// wrapping past either end of the list into neighbouring octaves.
//
// The note list has fixed capacity so that a chord can be copied on the audio thread without
// allocating. A plain value: not shared between threads by itself (see LoopChord).

#include <array>

class NoteChord {
 public:
  static constexpr int kMaxNotes = 16;

  // Empty chord on root key `root` (MIDI numbering), wrapping by `octave` semitones.
  NoteChord(int root = 60, int octave = 12);

  // Appends a semitone offset; offsets beyond kMaxNotes are ignored.
  void AddNote(int note);
  // Key (MIDI numbering) for an offset into the chord; the root for a chord without notes.
  int GetKey(int offset) const;
  // Frequency in Hz for an offset into the chord.
  double GetFrequency(int offset) const;
  // Number of offsets in the list.
  int NoteCount() const { return count_; }
  // Offset at index i, 0 <= i < NoteCount().
  int NoteAt(int i) const { return notes_[i]; }
  int Root() const { return root_; }
  int Octave() const { return octave_; }

 private:
  int root_;
  std::array<int, kMaxNotes> notes_{};
  int count_ = 0;
  int octave_;
};
