// Chords and scales: offsets to keys across octaves, and the loop chord's hand-over between
// the installing thread and readers.

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "loop_chord.h"
#include "note_chord.h"

namespace {

NoteChord MakeChord(int root, std::initializer_list<int> offsets) {
  NoteChord chord(root, 12);
  for (int offset : offsets) chord.AddNote(offset);
  return chord;
}

bool SameChord(const NoteChord& a, const NoteChord& b) {
  if (a.Root() != b.Root() || a.Octave() != b.Octave() || a.NoteCount() != b.NoteCount()) {
    return false;
  }
  for (int i = 0; i < a.NoteCount(); ++i) {
    if (a.NoteAt(i) != b.NoteAt(i)) return false;
  }
  return true;
}

TEST(NoteChordTest, MajorScaleWrapsIntoNeighbouringOctaves) {
  const NoteChord major = MakeChord(60, {0, 2, 4, 5, 7, 9, 11});
  const std::vector<std::pair<int, int>> offsetToKey = {
      {-8, 47}, {-7, 48}, {-6, 50}, {-5, 52}, {-4, 53}, {-3, 55}, {-2, 57}, {-1, 59}, {0, 60},
      {1, 62},  {2, 64},  {3, 65},  {4, 67},  {5, 69},  {6, 71},  {7, 72},  {8, 74},  {9, 76}};
  for (const auto& [offset, key] : offsetToKey) {
    EXPECT_EQ(major.GetKey(offset), key) << "offset " << offset;
  }
  EXPECT_NEAR(major.GetFrequency(0), 261.6255653, 1e-6);
  EXPECT_NEAR(major.GetFrequency(7), 2 * 261.6255653, 1e-6);
}

TEST(NoteChordTest, ChordsOfOtherShapes) {
  const NoteChord minor7 = MakeChord(60, {0, 3, 7, 10});
  EXPECT_EQ(minor7.GetKey(3), 70) << "last listed note";
  EXPECT_EQ(minor7.GetKey(4), 72) << "root an octave up";
  EXPECT_EQ(minor7.GetKey(5), 75);
  EXPECT_EQ(minor7.GetKey(-4), 48) << "root an octave down";

  const NoteChord single = MakeChord(49, {0});
  for (int k = -3; k <= 11; ++k) EXPECT_EQ(single.GetKey(k), 49 + 12 * k) << "offset " << k;
}

TEST(NoteChordTest, OffsetsAreUsedExactlyAsListed) {
  const NoteChord odd = MakeChord(60, {7, 0, 0, 4});
  EXPECT_EQ(odd.GetKey(0), 67);
  EXPECT_EQ(odd.GetKey(1), 60);
  EXPECT_EQ(odd.GetKey(2), 60);
  EXPECT_EQ(odd.GetKey(3), 64);
  EXPECT_EQ(odd.GetKey(4), 79);
  EXPECT_EQ(odd.GetKey(-1), 52);
}

TEST(NoteChordTest, EmptyChordAnswersWithoutLooping) {
  const NoteChord empty(55, 12);
  EXPECT_EQ(empty.NoteCount(), 0);
  EXPECT_EQ(empty.GetKey(0), 55);
  EXPECT_EQ(empty.GetKey(9), 55);
  EXPECT_EQ(empty.GetKey(-9), 55);
}

TEST(LoopChordTest, SnapshotShowsWhatWasInstalled) {
  LoopChord loop(MakeChord(49, {0}));
  EXPECT_TRUE(SameChord(loop.Snapshot(), MakeChord(49, {0})));
  const NoteChord blues = MakeChord(62, {0, 3, 5, 6, 7, 10});
  loop.Install(blues);
  EXPECT_TRUE(SameChord(loop.Snapshot(), blues));
  EXPECT_TRUE(SameChord(loop.Current(), blues));
  EXPECT_EQ(loop.Current().GetKey(6), 74);
}

// One thread installs two chords in turn while another copies; every copy must be one of the
// two, never a mix of both.
TEST(LoopChordTest, SnapshotsNeverMixTwoChords) {
  const NoteChord a = MakeChord(60, {0, 2, 4, 5, 7, 9, 11});
  const NoteChord b = MakeChord(67, {0, 5, 7});
  LoopChord loop(a);
  std::atomic<bool> done{false};
  std::thread installer([&] {
    for (int i = 0; i < 200000; ++i) loop.Install(i % 2 ? a : b);
    done.store(true);
  });
  int copies = 0;
  int mixed = 0;
  while (!done.load() || copies < 1000) {
    const NoteChord copy = loop.Snapshot();
    if (!SameChord(copy, a) && !SameChord(copy, b)) ++mixed;
    ++copies;
  }
  installer.join();
  EXPECT_EQ(mixed, 0) << "of " << copies << " copies";
}

}  // namespace
