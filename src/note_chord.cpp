#include "note_chord.h"

#include <cassert>

#include "common.h"

NoteChord::NoteChord(int root, int octave) : root_(root), octave_(octave) {}

void NoteChord::AddNote(int note) {
  assert(count_ < kMaxNotes);
  if (count_ < kMaxNotes) notes_[count_++] = note;
}

int NoteChord::GetKey(int offset) const {
  const int n = count_;
  if (n == 0) return root_;
  int key = root_;
  // Floored division with a non-negative remainder, one octave per wrap.
  int wraps = offset / n;
  int index = offset % n;
  if (index < 0) {
    index += n;
    --wraps;
  }
  key += wraps * octave_;
  assert(index >= 0 && index < n);
  return key + notes_[index];
}

double NoteChord::GetFrequency(int offset) const { return KeyToFrequency(GetKey(offset)); }
