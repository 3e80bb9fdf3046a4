// Chord progression pad: the loop's chord at loop starts and after clicks on note names and
// chord types, driven through the real mixer.

#include <initializer_list>
#include <vector>

#include "chord_change_pad.h"
#include "game_state.h"
#include "sound_pad.h"
#include "test_support.h"

namespace {

using Type = ChordChangePad::ChordType;

// The preset's layout: four segments of 100 pixels, root columns 25 wide, rows 200 / 12 high.
constexpr float kX = 400.0f;
constexpr float kY = 400.0f;
constexpr float kW = 400.0f;
constexpr float kH = 200.0f;

class ChordChangePadTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    pad_ = new ChordChangePad(kX, kY, kW, kH, 4);
    AddPad(pad_);
  }

  // Pointer position in the middle of row r of segment k's root or type column.
  static int RootX(int k) { return static_cast<int>(kX + k * 100 + 12); }
  static int TypeX(int k) { return static_cast<int>(kX + k * 100 + 60); }
  static int RowY(int r) { return static_cast<int>(kY + (r + 0.5) * kH / 12.0); }

  // A press and release at (x, y) in short buffers around stream time t, inside a loop.
  void Click(int x, int y, double t = 0.7) {
    input.MoveTo(x, y);
    input.buttons = 0;
    RunBuffer(t, 64);
    input.buttons = 1;
    RunBuffer(t + 64 / 44100.0, 64);
    input.buttons = 0;
    RunBuffer(t + 128 / 44100.0, 64);
  }

  // Runs the last buffer of loop `loop` - 1 and the first of loop `loop` (2-second loops).
  void CrossLoopStart(int loop) {
    RunBuffer(2.0 * loop - 0.01, 64);
    RunBuffer(2.0 * loop, 64);
  }

  static std::vector<int> Keys(const NoteChord& chord) {
    std::vector<int> keys;
    for (int i = 0; i < chord.NoteCount(); ++i) keys.push_back(chord.GetKey(i));
    return keys;
  }
  static std::vector<int> Keys(int root, std::initializer_list<int> offsets) {
    std::vector<int> keys;
    for (int offset : offsets) keys.push_back(root + offset);
    return keys;
  }
  static std::vector<int> Sounding() { return Keys(gameState.loopOptions.chord.Current()); }

  ChordChangePad* pad_ = nullptr;
};

TEST(ChordChangePadTables, EveryTypeHasItsNameAndOffsets) {
  const std::vector<std::vector<int>> offsets = {
      {0, 2, 4, 5, 7, 9, 11}, {0, 2, 3, 5, 7, 8, 11}, {0, 2, 5, 7, 9}, {0, 2, 4, 6, 8, 10},
      {0, 3, 5, 6, 7, 10},    {0, 4, 7},              {0, 3, 7},       {0, 4, 7, 11},
      {0, 3, 7, 10},          {0, 4, 7, 10},          {0, 5, 7},       {0}};
  const char* names[] = {"MajorScale", "MinorScale", "Pentatonic", "WholeTone",
                         "Blues",      "MajorChord", "MinorChord", "Major7",
                         "Minor7",     "Dominant7",  "Sus4",       "SingleNote"};
  for (int t = 0; t < 12; ++t) {
    const NoteChord chord = ChordChangePad::SequencedChordToChord({62, static_cast<Type>(t)});
    EXPECT_EQ(chord.Root(), 62);
    EXPECT_EQ(chord.Octave(), 12);
    std::vector<int> listed;
    for (int i = 0; i < chord.NoteCount(); ++i) listed.push_back(chord.NoteAt(i));
    EXPECT_EQ(listed, offsets[t]) << names[t];
    EXPECT_EQ(ChordChangePad::ChordTypeString(static_cast<Type>(t)), names[t]);
  }
  EXPECT_EQ(ChordChangePad::IndexToNoteName(0), "C");
  EXPECT_EQ(ChordChangePad::IndexToNoteName(7), "G");
  EXPECT_EQ(ChordChangePad::IndexToNoteName(10), "A#");
  EXPECT_EQ(ChordChangePad::IndexToNoteName(11), "B");
}

TEST_F(ChordChangePadTest, FirstPartialLoopPlaysTheMajorScaleOnC) {
  EXPECT_EQ(Sounding(), Keys(60, {0, 2, 4, 5, 7, 9, 11}));
  EXPECT_EQ(pad_->NextChord(), 1);
  EXPECT_TRUE(pad_->IsCurrent(0)) << "segment 0 is highlighted during the first loop";
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(pad_->Entry(k).root, 60);
    EXPECT_EQ(pad_->Entry(k).type, ChordChangePad::Minor7);
  }
  RunSeconds(0.5, 1.45, 512);
  EXPECT_EQ(Sounding(), Keys(60, {0, 2, 4, 5, 7, 9, 11})) << "no loop start yet";
  CrossLoopStart(1);
  EXPECT_EQ(Sounding(), Keys(60, {0, 3, 7, 10}));
  EXPECT_TRUE(pad_->IsCurrent(1));
}

TEST_F(ChordChangePadTest, LoopStartsInstallTheEntriesInTurn) {
  Click(RootX(1), RowY(2));  // D
  Click(RootX(2), RowY(4));  // E
  Click(RootX(3), RowY(5));  // F
  Click(RootX(0), RowY(7));  // G, the current entry
  const int expectedRoot[] = {62, 64, 65, 67, 62, 64};
  const int expectedNext[] = {2, 3, 0, 1, 2, 3};
  for (int loop = 1; loop <= 6; ++loop) {
    CrossLoopStart(loop);
    EXPECT_EQ(Sounding(), Keys(expectedRoot[loop - 1], {0, 3, 7, 10})) << "loop " << loop;
    EXPECT_EQ(pad_->NextChord(), expectedNext[loop - 1]);
    RunBuffer(2.0 * loop + 0.5, 64);
    EXPECT_EQ(Sounding()[0], expectedRoot[loop - 1]) << "only loop starts install";
  }
}

TEST_F(ChordChangePadTest, ClicksOnTheCurrentSegmentChangeTheHarmonyAtOnce) {
  Click(RootX(0), RowY(7));  // "G"
  EXPECT_EQ(pad_->Entry(0).root, 67);
  EXPECT_EQ(Sounding(), Keys(67, {0, 3, 7, 10})) << "the whole entry, with its type";
  Click(TypeX(0), RowY(10));  // "Sus4"
  EXPECT_EQ(pad_->Entry(0).type, ChordChangePad::Sus4);
  EXPECT_EQ(Sounding(), Keys(67, {0, 5, 7}));
  EXPECT_EQ(pad_->NextChord(), 1) << "clicks leave the order of the progression alone";
}

TEST_F(ChordChangePadTest, ClicksOnAnotherSegmentChangeOnlyThatEntry) {
  Click(RootX(2), RowY(7));   // "G" in segment 2
  Click(TypeX(2), RowY(10));  // "Sus4" in segment 2
  EXPECT_EQ(pad_->Entry(2).root, 67);
  EXPECT_EQ(pad_->Entry(2).type, ChordChangePad::Sus4);
  for (int k : {0, 1, 3}) {
    EXPECT_EQ(pad_->Entry(k).root, 60);
    EXPECT_EQ(pad_->Entry(k).type, ChordChangePad::Minor7);
  }
  EXPECT_EQ(Sounding(), Keys(60, {0, 2, 4, 5, 7, 9, 11}));
  CrossLoopStart(1);
  EXPECT_EQ(Sounding(), Keys(60, {0, 3, 7, 10}));
  CrossLoopStart(2);
  EXPECT_EQ(Sounding(), Keys(67, {0, 5, 7})) << "the edit sounds when its loop comes";
}

// Cells are half-open: a click on a line between two cells edits the one to its right or
// above, never both.
TEST_F(ChordChangePadTest, ClickOnASharedEdgeEditsExactlyOneEntry) {
  struct Case {
    const char* where;
    int x, y;
    int segment;
    bool root;   // the root column, else the type column
    int value;   // key or type row
  };
  const Case cases[] = {
      {"root | type line", static_cast<int>(kX + 25), RowY(10), 0, false, 10},
      {"segment line x 500", 500, RowY(7), 1, true, 67},
      {"segment line x 600", 600, RowY(2), 2, true, 62},
      {"segment line x 700", 700, RowY(4), 3, true, 64},
      {"row line", RootX(1), static_cast<int>(kY + 50), 1, true, 63},
      {"pad's right edge", 800, RowY(1), 3, false, 1},
      {"pad's top edge", TypeX(2), static_cast<int>(kY + kH), 2, false, 11},
  };
  for (const Case& c : cases) {
    ChordChangePad::SequencedChord before[4];
    for (int k = 0; k < 4; ++k) before[k] = pad_->Entry(k);
    Click(c.x, c.y);
    int changed = 0;
    for (int k = 0; k < 4; ++k) {
      changed += pad_->Entry(k).root != before[k].root;
      changed += pad_->Entry(k).type != before[k].type;
    }
    EXPECT_EQ(changed, 1) << c.where;
    EXPECT_EQ(c.root ? pad_->Entry(c.segment).root : static_cast<int>(pad_->Entry(c.segment).type),
              c.value)
        << c.where;
  }
}

TEST_F(ChordChangePadTest, HeldButtonOrClickOutsideChangesNothing) {
  Click(100, 100);  // outside the pad
  input.MoveTo(150, 150);
  input.buttons = 1;
  RunBuffer(0.9, 64);
  input.MoveTo(RootX(0), RowY(7));  // slide onto "G" with the button still down
  RunBuffer(0.9 + 64 / 44100.0, 64);
  input.MoveTo(TypeX(1), RowY(3));
  RunBuffer(0.9 + 128 / 44100.0, 64);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(pad_->Entry(k).root, 60);
    EXPECT_EQ(pad_->Entry(k).type, ChordChangePad::Minor7);
  }
  EXPECT_EQ(Sounding(), Keys(60, {0, 2, 4, 5, 7, 9, 11}));
}

// A progression of one entry repeats it; none at all leaves the chord alone. Neither may
// reach past the end of the list.
TEST_F(ChordChangePadTest, ShortProgressionsStayInsideTheirList) {
  auto* single = new ChordChangePad(0, 0, 400, 200, 1);
  AddPad(single);
  EXPECT_EQ(single->NextChord(), 0);
  EXPECT_TRUE(single->IsCurrent(0));
  Click(50, static_cast<int>((4 + 0.5) * 200 / 12.0));  // "E"
  EXPECT_EQ(Sounding(), Keys(64, {0, 3, 7, 10}));
  CrossLoopStart(1);
  CrossLoopStart(2);
  EXPECT_EQ(Sounding()[0], 64);

  for (SoundPad* pad : gameState.pads) delete pad;
  gameState.pads.clear();
  pad_ = nullptr;
  auto* empty = new ChordChangePad(0, 0, 400, 200, 0);
  AddPad(empty);
  EXPECT_EQ(empty->Count(), 0);
  Click(50, 50);
  CrossLoopStart(3);
  EXPECT_EQ(Sounding(), Keys(60, {0, 2, 4, 5, 7, 9, 11}));
}

}  // namespace
