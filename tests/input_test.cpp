// Pointer input as the pads of a buffer see it: held buttons, presses with and without Shift,
// releases.

#include <SDL.h>

#include <string>

#include "common.h"
#include "pointer_sample.h"
#include "soundless_sound_pad.h"
#include "test_support.h"

namespace {

// Adds up what the input helpers tell the pads on every buffer; may press the left button
// while the buffer renders, as a player may.
class ClickProbe : public SoundlessSoundPad {
 public:
  explicit ClickProbe(FakeInput* input) : SoundlessSoundPad(0, 0, 800, 600), input(input) {}
  void Draw() override {}
  void UpdateCallback(double) override {
    for (int i = 0; i < ClickCount(); ++i) (ClickAt(i).right ? right : left) += 1;
    ups += MouseLeftUnclick();
    down = std::string(MouseLeftButton() ? "L" : "") + (MouseRightButton() ? "R" : "");
    if (input != nullptr) input->buttons = SDL_BUTTON_LMASK;
    input = nullptr;
  }
  FakeInput* input;  // to press on
  int left = 0, right = 0, ups = 0;  // left and right presses, left releases
  std::string down;  // the button helpers: L left, R right
};

using InputTest = EngineTest;

TEST_F(InputTest, PointerCountsUpFromTheBottomAndRectanglesIncludeTheirEdges) {
  input.MoveTo(150, 1);  // the bottom pixel row
  EXPECT_EQ(MouseY(), 1);
  EXPECT_TRUE(MouseWithin(100, 1, 50, 20)) << "on the right and bottom edges";
  EXPECT_FALSE(MouseWithin(100, 2, 49, 20));
}

// Buffer after buffer: the buttons held at its start (L, R, S for Shift), presses made between
// buffers ("between": left and right pressed and released) or while it renders ("during":
// left), and what each of two pads has been told so far: presses, releases, and which buttons
// the button helpers say are down.
TEST_F(InputTest, EveryPadSeesEachPressOnceInTheBufferWhereItFirstShows) {
  ClickProbe* probes[] = {new ClickProbe(nullptr), new ClickProbe(nullptr)};
  for (ClickProbe* probe : probes) AddPad(probe);
  const struct { const char *held, *presses; int left, right, ups; const char* down; } steps[] = {
      {"L", "", 1, 0, 0, "L"},        // left goes down
      {"L", "", 1, 0, 0, "L"},        // held: no new press
      {"", "", 1, 0, 1, ""},          // released
      {"", "", 1, 0, 1, ""},          // a release is told once
      {"", "between", 2, 1, 1, ""},
      {"SL", "", 2, 2, 1, "R"},       // Shift and left: a right press
      {"SL", "", 2, 2, 1, "R"},       // the combination held
      {"L", "", 2, 2, 1, "L"},        // Shift released, left held: no fresh left press
      {"", "", 2, 2, 2, ""},
      {"L", "", 3, 2, 2, "L"},
      {"SL", "", 3, 3, 2, "R"},       // Shift pressed while left is held: a right press
      {"R", "", 3, 4, 3, "R"},        // right alone goes down
      {"R", "during", 3, 4, 3, "R"},  // the buffer's pads all see the state at its start
      {"L", "", 4, 4, 3, "L"},
  };
  double t = 0.0;
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << "step " << &s - steps);
    const std::string held = s.held, presses = s.presses;
    input.buttons = (held.find('L') != std::string::npos ? SDL_BUTTON_LMASK : 0) |
                    (held.find('R') != std::string::npos ? SDL_BUTTON_RMASK : 0);
    input.shift = held.find('S') != std::string::npos;
    if (presses == "between") {
      input.Press(SDL_BUTTON_LMASK, 10, 10, 0);
      input.Press(SDL_BUTTON_RMASK, 10, 10, 0);
    }
    if (presses == "during") probes[0]->input = &input;
    RunBuffer(t += 64 / 44100.0, 64);
    for (const ClickProbe* probe : probes) {
      EXPECT_EQ(probe->left, s.left);
      EXPECT_EQ(probe->right, s.right);
      EXPECT_EQ(probe->ups, s.ups);
      EXPECT_EQ(probe->down, s.down);
    }
  }
}

}  // namespace
