#pragma once
// The harmony of the piece: a progression of root notes and chord types, one segment per
// entry. At the start of every loop the next entry becomes the loop's chord, so every pitched
// pad re-harmonises its stored offsets. A click on a note name or a chord type changes an
// entry; an edit of the sounding entry takes effect at once.
//
// Threads: UpdateCallback and HandleInput run on the audio thread under the pad-list mutex;
// the constructor runs on the main thread under the same mutex. Draw and the accessors run on
// any thread without a lock: the entries and the next index are atomics written only on the
// audio side, so drawing never races with it and the audio side never waits.

#include <atomic>
#include <memory>
#include <string>

#include "note_chord.h"
#include "soundless_sound_pad.h"

class ChordChangePad : public SoundlessSoundPad {
 public:
  enum ChordType {
    MajorScale,
    MinorScale,
    Pentatonic,
    WholeTone,
    Blues,
    MajorChord,
    MinorChord,
    Major7,
    Minor7,
    Dominant7,
    Sus4,
    SingleNote
  };
  static constexpr int kChordTypes = 12;
  // Key of the note name in row 0 ("C"); row r names key kBaseKey + r.
  static constexpr int kBaseKey = 60;

  // One entry of the progression: a root key (MIDI numbering) and a chord type.
  struct SequencedChord {
    int root;
    ChordType type;
  };

  // Rectangle in window pixels; count entries, each {60, Minor7}. Installs the major scale on
  // key 60 as the loop's chord. Main thread, holding the pad-list mutex.
  ChordChangePad(float x, float y, float width, float height, int count);

  // The chord of an entry: its root, octave span 12 and the offsets of its type.
  static NoteChord SequencedChordToChord(SequencedChord chord);
  // Display name of a chord type ("MajorScale" ...).
  static std::string ChordTypeString(ChordType type);
  // Note name of index 0 to 11 ("C" ... "B").
  static std::string IndexToNoteName(int index);

  // Applies a fresh left click to the cell under the pointer; streamTime (seconds) is unused.
  // Audio thread only.
  void HandleInput(double streamTime);
  // Draws the frame and every segment. Main thread only.
  void Draw() override;
  // Draws segment k: highlight of the current entry, note names and chord types. Main thread.
  void DrawSegment(int k);

  // Number of entries. Any thread.
  int Count() const { return count_; }
  // Entry k (0 <= k < Count()). Any thread.
  SequencedChord Entry(int k) const;
  // Index of the entry the next loop start installs. Any thread.
  int NextChord() const { return nextChord_.load(std::memory_order_relaxed); }
  // True when entry k is the one whose chord was installed last. Any thread.
  bool IsCurrent(int k) const;

 protected:
  // Handles clicks, then installs the next entry in the first buffer of a loop. Audio thread.
  void UpdateCallback(double streamTime) override;

 private:
  struct AtomicEntry {
    std::atomic<int> root{kBaseKey};
    std::atomic<int> type{Minor7};
  };

  // Makes entry k the loop's chord. Audio thread (or main thread under the pad-list mutex).
  void Install(int k);

  const int count_;
  std::unique_ptr<AtomicEntry[]> chords_;
  std::atomic<int> nextChord_;
};
