// Chord progression pad: the loop's chord at loop starts and after clicks on note names and
// chord types, driven through the real mixer.

#include "chord_change_pad.h"
#include "test_support.h"

namespace {

// Four segments of 100 pixels on a 400 x 200 pad at (400, 400): root columns 25 wide, 12 rows.
constexpr int kX = 400, kY = 400;

class ChordChangePadTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    pad_ = new ChordChangePad(kX, kY, 400, 200, 4);
    AddPad(pad_);
  }
  // Pointer position in the middle of row r of segment k's root or type column.
  static int RootX(int k) { return kX + k * 100 + 12; }
  static int TypeX(int k) { return kX + k * 100 + 60; }
  static int RowY(int r) { return static_cast<int>(kY + (r + 0.5) * 200 / 12.0); }

  // A press and release at (x, y) in short buffers in the middle of the first loop.
  void Click(int x, int y) {
    input.MoveTo(x, y);
    for (uint32_t buttons : {0, 1, 0}) {
      input.buttons = buttons;
      RunBuffer(t_ += 64 / 44100.0, 64);
    }
  }
  // Runs the last buffer of loop `loop` - 1 and the first of loop `loop` (2-second loops).
  void CrossLoopStart(int loop) {
    RunBuffer(2.0 * loop - 0.01, 64);
    RunBuffer(2.0 * loop, 64);
  }
  // The sounding chord's keys, as root + offsets.
  static std::vector<int> Sounding(int root) {
    const NoteChord& chord = gameState.loopOptions.chord.Current();
    std::vector<int> offsets;
    for (int i = 0; i < chord.NoteCount(); ++i) offsets.push_back(chord.GetKey(i) - root);
    return offsets;
  }

  // Root and type of every entry of the main pad, in turn.
  std::vector<int> Entries() const {
    std::vector<int> v;
    for (int k = 0; k < 4; ++k) v.insert(v.end(), {pad_->Entry(k).root, pad_->Entry(k).type});
    return v;
  }

  const std::vector<int> kMajorScale{0, 2, 4, 5, 7, 9, 11};
  const std::vector<int> kMinor7{0, 3, 7, 10};
  ChordChangePad* pad_ = nullptr;
  double t_ = 0.7;
};

// The partial first loop plays the C major scale; every loop start installs the next entry
// (all C minor 7 until edited), beginning with entry 1, and only loop starts install.
TEST_F(ChordChangePadTest, LoopStartsInstallTheEntriesInTurn) {
  EXPECT_TRUE(Sounding(60) == kMajorScale && pad_->IsCurrent(0)) << "the first loop";
  Click(RootX(1), RowY(2));  // D
  Click(RootX(2), RowY(4));  // E
  Click(RootX(3), RowY(5));  // F
  RunSeconds(1.0, 0.95);
  EXPECT_EQ(Sounding(60), kMajorScale) << "no loop start yet";
  const int roots[] = {60, 62, 64, 65};  // of entries 0 to 3; loop n plays entry n % 4
  for (int loop = 1; loop <= 6; ++loop) {
    CrossLoopStart(loop);
    EXPECT_EQ(Sounding(roots[loop % 4]), kMinor7) << "loop " << loop;
    EXPECT_TRUE(pad_->NextChord() == (loop + 1) % 4 && pad_->IsCurrent(loop % 4)) << loop;
    RunBuffer(2.0 * loop + 0.5, 64);
    EXPECT_EQ(Sounding(roots[loop % 4]), kMinor7) << "only loop starts install";
  }
}

// Clicks on the current segment change the harmony at once; clicks on another change only that
// entry, heard when its loop comes; neither changes the order of the progression.
TEST_F(ChordChangePadTest, ClicksEditTheirEntryAndTheCurrentOneSoundsAtOnce) {
  struct Case { int row; std::vector<int> offsets; };  // a type row and its intervals
  const Case types[] = {{6, {0, 3, 7}}, {7, {0, 4, 7, 11}}, {10, {0, 5, 7}}, {11, {0}}};
  Click(RootX(0), RowY(7));  // G
  EXPECT_EQ(Sounding(67), kMinor7) << "the whole entry, with its type";
  for (const Case& c : types) {
    Click(TypeX(0), RowY(c.row));
    EXPECT_EQ(Sounding(67), c.offsets) << "type row " << c.row;
  }
  Click(RootX(2), RowY(9));   // A in segment 2
  Click(TypeX(2), RowY(10));  // Sus4 in segment 2
  EXPECT_EQ(Sounding(67), std::vector<int>{0});
  EXPECT_EQ(pad_->NextChord(), 1);
  CrossLoopStart(1);
  EXPECT_EQ(Sounding(60), kMinor7) << "segment 1 untouched";
  CrossLoopStart(2);
  EXPECT_EQ(Sounding(69), (std::vector<int>{0, 5, 7})) << "the edit sounds when its loop comes";
}

// Cells are half-open: a click on a line between two cells edits the one to its right or
// above, never both; clicks outside the pad edit nothing.
TEST_F(ChordChangePadTest, ClickOnASharedEdgeEditsExactlyOneEntry) {
  struct Case { const char* where; int x, y; int index, value; };  // index in Entries()
  const Case cases[] = {
      {"root | type line", kX + 25, RowY(10), 1, 10},  {"segment line", 500, RowY(7), 2, 67},
      {"row line", RootX(2), kY + 50, 4, 63},           {"right edge", 800, RowY(1), 7, 1},
      {"top edge", TypeX(2), kY + 200, 5, 11},          {"outside", kX - 1, RowY(5), -1, 0}};
  for (const Case& c : cases) {
    std::vector<int> expected = Entries();
    if (c.index >= 0) expected[c.index] = c.value;
    Click(c.x, c.y);
    EXPECT_EQ(Entries(), expected) << c.where;
  }
}

}  // namespace
