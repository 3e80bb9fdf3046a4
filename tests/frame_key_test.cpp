// The frame loop skips a frame when its recorded draw list equals the one on screen. These
// cases record the metronome pad's Draw (no display needed: recording makes no OpenGL call)
// and check that what the player would see change makes the lists differ, and that what
// changes nothing on screen keeps them equal.

#include <vector>

#include "common.h"
#include "content_fonts.h"
#include "draw_list.h"
#include "metronome_pad.h"
#include "test_support.h"

namespace {

class FrameKeyTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    // Recording only keeps the font's address; it is never used to render here.
    savedFont_ = content.smallFont;
    content.smallFont = reinterpret_cast<TTF_Font*>(&fontStandIn_);
    std::vector<double> click(100, 0.5);
    clickFile_ = MakeTempDir() + "/click.wav";
    WriteTestWav(clickFile_, click, 1);
    pad_ = new MetronomePad(50, 500, 100, 75, clickFile_);
    AddPad(pad_);
  }
  void TearDown() override {
    content.smallFont = savedFont_;
    EngineTest::TearDown();
  }

  DrawList Record() {
    DrawList list;
    list.StartRecording(false);
    pad_->Draw();
    DrawList::StopRecording();
    return list;
  }

  // Switches the metronome on with a press and release over it.
  void SwitchOn() {
    input.MoveTo(100, 530);
    input.buttons = 1;
    RunBuffer(BufferTime(0));
    input.buttons = 0;
    RunBuffer(BufferTime(1));
  }

  int fontStandIn_ = 0;
  TTF_Font* savedFont_ = nullptr;
  std::string clickFile_;
  MetronomePad* pad_ = nullptr;
};

TEST_F(FrameKeyTest, ListsDifferExactlyWhenThePictureChanges) {
  struct Case {
    const char* what;
    bool on;
    int fromX, fromY;
    double fromTime;
    int toX, toY;
    double toTime;
    bool differ;
  };
  const Case cases[] = {
      {"nothing changes", false, 300, 300, 0.3, 300, 300, 0.3, false},
      {"pointer moves outside the pad", false, 300, 300, 0.3, 320, 310, 0.3, false},
      {"pointer moves inside the pad", false, 60, 510, 0.3, 140, 560, 0.3, false},
      {"pointer enters the pad", false, 300, 300, 0.3, 100, 530, 0.3, true},
      {"time passes, metronome off", false, 300, 300, 0.3, 300, 300, 1.0, false},
      {"time passes between beats", true, 300, 300, 0.3, 300, 300, 0.4, false},
      {"a beat begins: the flash", true, 300, 300, 0.4, 300, 300, 0.5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.on != pad_->Enabled()) SwitchOn();
    ASSERT_EQ(c.on, pad_->Enabled());
    input.MoveTo(c.fromX, c.fromY);
    clock.time = c.fromTime;
    const DrawList before = Record();
    input.MoveTo(c.toX, c.toY);
    clock.time = c.toTime;
    const DrawList after = Record();
    EXPECT_GT(before.Size(), 0u);
    EXPECT_EQ(c.differ, before != after);
  }
}

TEST_F(FrameKeyTest, SwitchingOnChangesTheLabel) {
  input.MoveTo(300, 300);
  const DrawList off = Record();
  SwitchOn();
  input.MoveTo(300, 300);
  clock.time = 0.3;  // between beats: no flash
  EXPECT_NE(off, Record());
}

}  // namespace
