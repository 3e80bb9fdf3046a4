// Pointer input as the pads of a buffer see it: position, held buttons, presses with and without
// Shift, releases.

#include <SDL.h>

#include <string>

#include "common.h"
#include "soundless_sound_pad.h"
#include "test_support.h"

namespace {

// Adds up what the input helpers tell the pads on every buffer; may press the left button
// while the buffer renders, as a player may.
class ClickProbe : public SoundlessSoundPad {
 public:
  explicit ClickProbe(FakeInput& input) : SoundlessSoundPad(0, 0, 800, 600), input_(input) {}
  void Draw() override {}
  int left = 0, right = 0, unclicks = 0;
  std::string down;  // the button helpers: L left, R right
  bool pressDuringBuffer = false;

 protected:
  void UpdateCallback(double) override {
    for (int i = 0; i < ClickCount(); ++i) (ClickAt(i).right ? right : left) += 1;
    unclicks += MouseLeftUnclick();
    down = std::string(MouseLeftButton() ? "L" : "") + (MouseRightButton() ? "R" : "");
    if (pressDuringBuffer) input_.buttons = SDL_BUTTON_LMASK;
    pressDuringBuffer = false;
  }

 private:
  FakeInput& input_;
};

using InputTest = EngineTest;

TEST_F(InputTest, PointerPositionCountsUpFromTheBottomAndRectanglesIncludeTheirEdges) {
  input.sdlX = 12;
  input.sdlY = 599;  // the bottom pixel row
  EXPECT_EQ(MouseY(), 1);
  EXPECT_EQ(MouseX(), 12);
  const struct { int x, y; bool within; } cases[] = {{150, 120, true},  {100, 100, true},
      {151, 120, false}, {150, 121, false}, {99, 110, false}, {120, 99, false}};
  for (const auto& c : cases) {
    input.MoveTo(c.x, c.y);
    EXPECT_EQ(MouseWithin(100, 100, 50, 20), c.within) << c.x << ", " << c.y;
  }
}

// Buffer after buffer: the buttons held at its start (L, R, S for Shift), presses made between
// buffers or while it renders, and what each of two pads has been told so far.
TEST_F(InputTest, EveryPadSeesEachPressOnceInTheBufferWhereItFirstShows) {
  ClickProbe* probes[] = {new ClickProbe(input), new ClickProbe(input)};
  for (ClickProbe* probe : probes) AddPad(probe);
  const struct {
    const char* held;
    const char* presses;  // "between": left and right pressed and released; "during": left
    int left, right, unclicks;
    const char* down;
  } steps[] = {
      {"", "", 0, 0, 0, ""},
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
    probes[0]->pressDuringBuffer = presses == "during";
    RunBuffer(t += 64 / 44100.0, 64);
    for (const ClickProbe* probe : probes) {
      EXPECT_EQ(probe->left, s.left);
      EXPECT_EQ(probe->right, s.right);
      EXPECT_EQ(probe->unclicks, s.unclicks);
      EXPECT_EQ(probe->down, s.down);
    }
  }
}

TEST(ImageHelpers, PadToPowerOfTwo) {
  const int cases[][2] = {{-5, 1}, {1, 1}, {2, 2}, {3, 4}, {4, 4}, {5, 8}, {600, 1024}, {1025, 2048}};
  for (const auto& c : cases) EXPECT_EQ(PadToPowerOfTwo(c[0]), c[1]) << c[0];
}

}  // namespace
