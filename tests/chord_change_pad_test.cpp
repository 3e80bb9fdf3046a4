// Chord progression pad: which entry a click on the lines between cells edits, driven through
// the real mixer.

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

  // A press and release of `button` (1 left, 4 right) at (x, y) in short buffers in the middle
  // of the first loop.
  void Click(int x, int y, uint32_t button = 1) {
    input.MoveTo(x, y);
    for (uint32_t buttons : {0u, button, 0u}) {
      input.buttons = buttons;
      RunBuffer(t_ += 64 / 44100.0, 64);
    }
  }
  // Root and type of every entry of the main pad, in turn.
  std::vector<int> Entries() const {
    std::vector<int> v;
    for (int k = 0; k < 4; ++k) v.insert(v.end(), {pad_->Entry(k).root, pad_->Entry(k).type});
    return v;
  }

  ChordChangePad* pad_ = nullptr;
  double t_ = 0.7;
};

// Cells are half-open: a click on a line between two cells edits the one to its right or
// above, never both; clicks outside the pad, and right clicks, edit nothing.
TEST_F(ChordChangePadTest, ClickOnASharedEdgeEditsExactlyOneEntry) {
  struct Case { const char* where; int x, y; int index, value; uint32_t button = 1; };  // index in Entries()
  const Case cases[] = {
      {"root | type line", kX + 25, RowY(10), 1, 10},  {"segment line", 500, RowY(7), 2, 67},
      {"row line", RootX(2), kY + 50, 4, 63},           {"right edge", 800, RowY(1), 7, 1},
      {"top edge", TypeX(2), kY + 200, 5, 11},          {"outside", kX - 1, RowY(5), -1, 0},
      {"right button", RootX(3), RowY(9), -1, 0, 4}};
  for (const Case& c : cases) {
    std::vector<int> expected = Entries();
    if (c.index >= 0) expected[c.index] = c.value;
    Click(c.x, c.y, c.button);
    EXPECT_EQ(Entries(), expected) << c.where;
  }
}

// Editing the segment that sounds changes the harmony at once; editing another one waits for
// its loop.
TEST_F(ChordChangePadTest, EditingTheSoundingSegmentChangesTheHarmonyAtOnce) {
  t_ = 2.0;
  RunBuffer(t_, 64);  // a loop starts: a segment is installed and sounds
  int sounding = 0;
  while (!pad_->IsCurrent(sounding)) ASSERT_LT(++sounding, 4);
  const int other = (sounding + 1) % 4;
  const auto root = [] { return gameState.loopOptions.chord.Current().Root(); };
  const int before = root();
  Click(RootX(other), RowY(11));
  EXPECT_EQ(root(), before) << "another segment edited";
  for (int row : {9, 10}) {
    Click(RootX(sounding), RowY(row));
    EXPECT_EQ(root(), pad_->Entry(sounding).root) << "the sounding segment edited, row " << row;
  }
}

}  // namespace
