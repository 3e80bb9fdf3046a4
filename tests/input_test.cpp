// Pointer helpers, click edges with Shift, numeric helpers and image-surface helpers.

#include <SDL.h>

#include "common.h"
#include "mono_sound_pad.h"
#include "soundless_sound_pad.h"
#include "test_support.h"

namespace {

// Records what the click helpers report on every buffer.
class ClickProbe : public SoundlessSoundPad {
 public:
  ClickProbe() : SoundlessSoundPad(0, 0, 800, 600) {}
  void Draw() override {}
  int leftClicks = 0;
  int rightClicks = 0;
  int leftUnclicks = 0;
  bool leftButton = false;
  bool rightButton = false;

 protected:
  void UpdateCallback(double) override {
    leftClicks += MouseLeftClick();
    rightClicks += MouseRightClick();
    leftUnclicks += MouseLeftUnclick();
    leftButton = MouseLeftButton();
    rightButton = MouseRightButton();
  }
};

class InputTest : public EngineTest {
 protected:
  ClickProbe* AddProbe() {
    auto* probe = new ClickProbe();
    AddPad(probe);
    return probe;
  }
  double t = 0.0;
  void Buffer() {
    RunBuffer(t, 64);
    t += 64 / 44100.0;
  }
};

TEST_F(InputTest, PointerPositionCountsUpFromTheBottom) {
  input.sdlX = 12;
  input.sdlY = 0;
  EXPECT_EQ(MouseY(), 600) << "top pixel row";
  input.sdlY = 599;
  EXPECT_EQ(MouseY(), 1) << "bottom pixel row";
  EXPECT_EQ(MouseX(), 12);

  input.MoveTo(150, 120);
  EXPECT_TRUE(MouseWithin(100, 100, 50, 20)) << "both far edges count";
  input.MoveTo(100, 100);
  EXPECT_TRUE(MouseWithin(100, 100, 50, 20)) << "both near edges count";
  input.MoveTo(151, 120);
  EXPECT_FALSE(MouseWithin(100, 100, 50, 20));
  input.MoveTo(150, 121);
  EXPECT_FALSE(MouseWithin(100, 100, 50, 20));
}

TEST_F(InputTest, APressReachesEveryPadOnceInTheBufferWhereItFirstShows) {
  ClickProbe* first = AddProbe();
  ClickProbe* second = AddProbe();
  Buffer();
  input.buttons = SDL_BUTTON_LMASK;
  Buffer();
  EXPECT_EQ(first->leftClicks, 1);
  EXPECT_EQ(second->leftClicks, 1);
  Buffer();
  Buffer();
  EXPECT_EQ(first->leftClicks, 1) << "a held button is no new click";
  EXPECT_EQ(second->leftClicks, 1);
  EXPECT_TRUE(first->leftButton);

  input.buttons = 0;
  Buffer();
  EXPECT_EQ(first->leftUnclicks, 1);
  Buffer();
  EXPECT_EQ(first->leftUnclicks, 1) << "a release is reported once";

  // Pressed and released between two buffers: the recorded press still counts, once.
  input.Press(SDL_BUTTON_LMASK, 10, 10, 0);
  input.Press(SDL_BUTTON_RMASK, 10, 10, 0);
  Buffer();
  Buffer();
  EXPECT_EQ(first->leftClicks, 2);
  EXPECT_EQ(second->leftClicks, 2);
  EXPECT_EQ(first->rightClicks, 1);
}

// Presses the left button while the buffer is being rendered, as a player may.
class PressDuringBuffer : public SoundlessSoundPad {
 public:
  explicit PressDuringBuffer(FakeInput& input) : SoundlessSoundPad(0, 0, 800, 600), input_(input) {}
  void Draw() override {}
  bool armed = false;

 protected:
  void UpdateCallback(double) override {
    if (armed) input_.buttons = SDL_BUTTON_LMASK;
    armed = false;
  }

 private:
  FakeInput& input_;
};

TEST_F(InputTest, APressArrivingDuringABufferIsReportedOnceInTheNext) {
  auto* presser = new PressDuringBuffer(input);
  AddPad(presser);
  ClickProbe* probe = AddProbe();
  Buffer();
  presser->armed = true;
  Buffer();
  EXPECT_EQ(probe->leftClicks, 0) << "the buffer's pads all see the state sampled at its start";
  Buffer();
  EXPECT_EQ(probe->leftClicks, 1);
  Buffer();
  EXPECT_EQ(probe->leftClicks, 1) << "never a second time while the button stays down";
}

TEST_F(InputTest, ShiftWithLeftIsOneRightClickAndNoLeftClick) {
  ClickProbe* probe = AddProbe();
  Buffer();
  input.shift = true;
  input.buttons = SDL_BUTTON_LMASK;
  Buffer();
  EXPECT_EQ(probe->leftClicks, 0);
  EXPECT_FALSE(probe->leftButton);
  EXPECT_TRUE(probe->rightButton);
  EXPECT_EQ(probe->rightClicks, 1);
  EXPECT_EQ(gameState.lastMouseButtons.load(), SDL_BUTTON_LMASK | SDL_BUTTON_RMASK);
  Buffer();
  Buffer();
  EXPECT_EQ(probe->rightClicks, 1) << "holding the combination stays silent";

  input.shift = false;
  Buffer();
  EXPECT_EQ(probe->leftClicks, 0) << "releasing Shift while holding left is no fresh left press";
  input.buttons = 0;
  Buffer();
  input.buttons = SDL_BUTTON_LMASK;
  Buffer();
  input.shift = true;
  Buffer();
  EXPECT_EQ(probe->rightClicks, 2) << "Shift pressed while left is down gives one right click";
}

TEST_F(InputTest, RightButtonClicksOnItsEdge) {
  ClickProbe* probe = AddProbe();
  Buffer();
  input.buttons = SDL_BUTTON_RMASK;
  Buffer();
  Buffer();
  EXPECT_EQ(probe->rightClicks, 1);
  EXPECT_EQ(probe->leftClicks, 0);
}

TEST(NumericHelpers, ClampBlendNormaliseDistance) {
  EXPECT_EQ(clamp(5, 0, 2), 2);
  EXPECT_EQ(clamp(-1, 0, 2), 0);
  EXPECT_EQ(clamp(1, 0, 2), 1);
  EXPECT_FLOAT_EQ(clampf(1.5f, 0.0f, 1.0f), 1.0f);
  EXPECT_FLOAT_EQ(clampf(-0.5f, 0.0f, 1.0f), 0.0f);

  const SDL_Color black{0, 0, 0, 0};
  const SDL_Color white{255, 255, 255, 0};
  const SDL_Color half = ColorBlend(black, white, 0.5f);
  EXPECT_EQ(half.r, 127);
  EXPECT_EQ(half.g, 127);
  EXPECT_EQ(half.b, 127);
  EXPECT_EQ(ColorBlend(black, white, -3.0f).r, 0);
  EXPECT_EQ(ColorBlend(black, white, 7.0f).b, 255);

  float x = 0.0f, y = 0.0f;
  NormalizeVector(&x, &y, 10.0f);
  EXPECT_FLOAT_EQ(x, 0.0f);
  EXPECT_FLOAT_EQ(y, 0.0f);
  x = 3.0f;
  y = 4.0f;
  NormalizeVector(&x, &y, 10.0f);
  EXPECT_FLOAT_EQ(x, 6.0f);
  EXPECT_FLOAT_EQ(y, 8.0f);
  EXPECT_FLOAT_EQ(Distance(0, 0, 3, 4), 5.0f);

  for (int i = 0; i < 1000; ++i) {
    const float r = RandomFloat(-2.0f, 3.0f);
    EXPECT_GE(r, -2.0f);
    EXPECT_LE(r, 3.0f);
  }
}

TEST(ImageHelpers, PadToPowerOfTwo) {
  for (int n : {-5, 0, 1}) EXPECT_EQ(PadToPowerOfTwo(n), 1) << n;
  EXPECT_EQ(PadToPowerOfTwo(2), 2);
  EXPECT_EQ(PadToPowerOfTwo(3), 4);
  EXPECT_EQ(PadToPowerOfTwo(4), 4);
  EXPECT_EQ(PadToPowerOfTwo(5), 8);
  EXPECT_EQ(PadToPowerOfTwo(600), 1024);
  EXPECT_EQ(PadToPowerOfTwo(800), 1024);
  EXPECT_EQ(PadToPowerOfTwo(1025), 2048);
}

TEST(ImageHelpers, VerticalFlipTurnsRowsUpsideDownIntoTheCorner) {
  SDL_Surface* source =
      SDL_CreateRGBSurface(0, 3, 4, 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000);
  SDL_Surface* destination =
      SDL_CreateRGBSurface(0, 4, 8, 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000);
  ASSERT_NE(source, nullptr);
  ASSERT_NE(destination, nullptr);
  SDL_SetSurfaceBlendMode(source, SDL_BLENDMODE_NONE);
  for (int row = 0; row < 4; ++row) {
    auto* pixels = reinterpret_cast<Uint32*>(static_cast<Uint8*>(source->pixels) + row * source->pitch);
    for (int col = 0; col < 3; ++col) pixels[col] = 0xFF000000u | (row * 16 + col);
  }
  ASSERT_TRUE(VerticalFlip(source, destination));
  for (int row = 0; row < 8; ++row) {
    auto* pixels =
        reinterpret_cast<Uint32*>(static_cast<Uint8*>(destination->pixels) + row * destination->pitch);
    for (int col = 0; col < 4; ++col) {
      const Uint32 expected =
          (row < 4 && col < 3) ? (0xFF000000u | ((3 - row) * 16 + col)) : 0u;
      EXPECT_EQ(pixels[col], expected) << "row " << row << " col " << col;
    }
  }
  SDL_FreeSurface(source);
  SDL_FreeSurface(destination);
}

}  // namespace
