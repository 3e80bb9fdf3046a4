// Pointer input as the pads of a buffer see it: held buttons, presses with and without Shift,
// releases; input queued while a game is set up; the menu's keys and the entry they light.

#include <SDL.h>

#include <string>
#include <utility>
#include <vector>

#include "common.h"
#include "content_fonts.h"
#include "event_clock.h"
#include "game_state.h"
#include "input_source.h"
#include "main_menu_scene.h"
#include "pattern_input.h"
#include "pointer_sample.h"
#include "record_pad.h"
#include "soundless_sound_pad.h"
#include "test_support.h"
#include "texture.h"

namespace {

// Adds up what the input helpers tell the pads on every buffer; may press the left button
// while the buffer renders, as a player may.
class ClickProbe : public SoundlessSoundPad {
 public:
  explicit ClickProbe(FakeInput* input) : SoundlessSoundPad(0, 0, 800, 600), input(input) {}
  void Draw() override {}
  void UpdateCallback(double) override {
    for (int i = 0; i < ClickCount(); ++i) (ClickAt(i).right ? right : left) += 1;
    if (ClickCount() > 0) lastHeard = ClickAt(ClickCount() - 1).heardTime;
    heardNow = HeardNow();
    ups += MouseLeftUnclick();
    down = std::string(MouseLeftButton() ? "L" : "") + (MouseRightButton() ? "R" : "");
    if (input != nullptr) input->buttons = SDL_BUTTON_LMASK;
    input = nullptr;
  }
  FakeInput* input;  // to press on
  int left = 0, right = 0, ups = 0;  // left and right presses, left releases
  double lastHeard = 0.0, heardNow = 0.0;  // the last press's heard time; the buffer's
  std::string down;  // the button helpers: L left, R right
};

using InputTest = EngineTest;

TEST_F(InputTest, PointerCountsUpFromTheBottomAndRectanglesIncludeTheirEdges) {
  input.MoveTo(150, 1);  // the bottom pixel row
  EXPECT_EQ(MouseY(), 1);
  EXPECT_TRUE(MouseWithin(100, 1, 50, 20)) << "on the right and bottom edges";
  EXPECT_FALSE(MouseWithin(100, 2, 49, 20));

  // A point of a pad as a note: 8 keys across 160 pixels (the right edge itself the next
  // octave's root) or 8 rows up 120 (the top edge the last row), velocity from 0.25 along the
  // other axis; points outside are held to the edges.
  struct Pad : SoundlessSoundPad {
    Pad() : SoundlessSoundPad(100, 100, 160, 120) {}
    void Draw() override {}
    void UpdateCallback(double) override {}
  } pad;
  const PointerAxes keys{true, 8, 0.25}, rows{false, 8, 0.25};
  const struct { const PointerAxes& axes; float x, y; int offset; double velocity; } cases[] = {
      {keys, 100, 100, 0, 0.25}, {keys, 130, 160, 1, 0.625}, {keys, 260, 220, 8, 1.0},
      {keys, 300, 400, 8, 1.0},  {rows, 100, 100, 0, 0.25},  {rows, 180, 130, 2, 0.625},
      {rows, 260, 220, 7, 1.0},  {rows, 50, 0, 0, 0.25}};
  for (const auto& c : cases) {
    const Note note = PointerNote(pad, c.axes, c.x, c.y);
    EXPECT_EQ(note.offset, c.offset) << (c.axes.keysAcross ? "keys " : "rows ") << c.x << ","
                                     << c.y;
    EXPECT_DOUBLE_EQ(note.velocity, c.velocity) << c.x << "," << c.y;
  }
}

// Buffer after buffer: the buttons held at its start (L, R, S for Shift), presses made between
// buffers ("between": left and right pressed and released; "burst": twenty left presses) or
// while it renders ("during": left), and what each of two pads has been told so far: presses,
// releases, and which buttons the button helpers say are down.
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
      {"", "burst", 20, 4, 4, ""},    // twenty presses: a buffer takes sixteen
      {"", "", 24, 4, 4, ""},         // the next buffer the rest
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
    for (int i = 0; presses == "burst" && i < 20; ++i) input.Press(SDL_BUTTON_LMASK, 10, 10, 0);
    RunBuffer(t += 64 / 44100.0, 64);
    for (const ClickProbe* probe : probes) {
      EXPECT_EQ(probe->left, s.left);
      EXPECT_EQ(probe->right, s.right);
      EXPECT_EQ(probe->ups, s.ups);
      EXPECT_EQ(probe->down, s.down);
    }
  }
}

// Shift pressed while left is held makes no button event: the right click it stands for is
// made as the buffer begins, on the heard clock, also when the callback runs late.
TEST_F(InputTest, ShiftWhileLeftIsHeldIsARightClickOnTheHeardClock) {
  ClickProbe* probe = new ClickProbe(nullptr);
  AddPad(probe);
  gameState.outputLatency.store(0.05);
  input.buttons = SDL_BUTTON_LMASK;
  input.ticks = 1000;
  RunBuffer(1.0);
  input.shift = true;
  input.ticks = 1100;  // 100 ms later for 12 ms of stream
  RunBuffer(1.0 + 512 / 44100.0);
  ASSERT_EQ(probe->right, 1);
  EXPECT_DOUBLE_EQ(probe->lastHeard, probe->heardNow);
}

// A stream clock that goes back (its count restarted) starts the heard clock afresh: the
// buffers before the jump say nothing about the new count.
TEST_F(InputTest, AStreamClockThatGoesBackStartsTheHeardClockAfresh) {
  ClickProbe* probe = new ClickProbe(nullptr);
  AddPad(probe);
  input.ticks = 1000;
  RunBuffer(10.0);
  input.ticks = 1012;
  RunBuffer(10.0 + 512 / 44100.0);
  input.ticks = 1024;
  RunBuffer(0.0);
  EXPECT_NEAR(probe->heardNow, 0.0, 1e-9);
}

// Presses that belong to no time the player heard never reach the pads: those made while the
// sound was gone (before the new stream's first buffer) and those made while a game was set
// up, keys typed behind the Return that starts it among them. A press made while the stream
// runs counts however late its buffer comes. A click on the record pad while the sound was gone
// starts nothing and leaves no highlight.
TEST_F(InputTest, PressesMadeWhenNothingWasHeardAreDropped) {
  ClickProbe* probe = new ClickProbe(nullptr);
  AddPad(probe);
  RecordPad* record = new RecordPad(50, 410, 100, 75);
  AddPad(record);
  double t = 0.0;
  const auto buffer = [&](uint32_t ticks) {
    input.ticks = ticks;
    RunBuffer(t += 512 / 44100.0);
  };
  const auto press = [&](uint32_t ms) { input.Press(SDL_BUTTON_LMASK, 10, 10, ms); };
  buffer(1000);
  press(1010);
  buffer(1400);  // a callback held up for 400 ms
  EXPECT_EQ(probe->left, 1) << "made while the stream ran";

  input.Press(SDL_BUTTON_LMASK, 100, 440, 2000);  // on the record pad while the sound is gone
  gameState.streamGeneration.fetch_add(1);        // the sound comes back
  buffer(3000);
  EXPECT_EQ(probe->left, 1) << "made before the new stream's first buffer";
  EXPECT_FALSE(gameState.recorder.Recording() || record->Pressed());
  press(3010);
  buffer(3020);
  EXPECT_EQ(probe->left, 2) << "made while the new stream ran";

  HoldPresses();  // a new game is set up
  press(4000);
  buffer(4010);
  press(4020);
  ReleasePresses(4030);
  press(4030);  // drained in the same millisecond
  buffer(4035);
  EXPECT_EQ(probe->left, 2) << "made during set-up";
  press(4040);
  buffer(4050);
  EXPECT_EQ(probe->left, 3) << "made after set-up";
  press(4070);  // stamped by a clock a little ahead of this one: made now
  buffer(4060);
  EXPECT_EQ(probe->left, 4);
  EXPECT_DOUBLE_EQ(probe->lastHeard, probe->heardNow);
  HoldPresses();  // and another, whose first buffer after it comes in the same millisecond
  press(4100);
  ReleasePresses(4110);
  buffer(4110);
  EXPECT_EQ(probe->left, 4) << "made during set-up, seen in the millisecond it ended";

  // Keys typed behind the Return that starts a game are dropped with the rest of the input
  // queued while it was set up: an Escape among them would end the game at once.
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
  gameState.ReplaceScene(new MainMenuScene());
  for (const SDL_Keycode key : {SDLK_RETURN, SDLK_ESCAPE}) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = key;
    SDL_PushEvent(&event);
  }
  gameState.scene->InputLogic();
  const size_t pads = gameState.pads.size();
  gameState.scene->InputLogic();
  EXPECT_GT(pads, 2u) << "Return on Start starts a game";
  EXPECT_EQ(gameState.pads.size(), pads) << "a key typed before the game started ended it";
  gameState.ReplaceScene(new MainMenuScene());
  // A window closed while a game was set up is still closed once the queue has been dropped.
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  DropQueuedInput();
  SDL_Event seen{};
  EXPECT_TRUE(SDL_PollEvent(&seen) && seen.type == SDL_QUIT);
  SDL_QuitSubSystem(SDL_INIT_EVENTS);
}

// The menu's selected entry is drawn yellow, the others grey; Up and Down stop at the ends.
// Closing the window quits.
TEST(MainMenuTest, TheSelectedEntryIsLitAndTheArrowsStopAtTheEnds) {
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
  const ContentFonts saved = content;
  Texture picture;
  content.menuBackdrop.Initialize(&picture, 0, 0, 800, 600, 0, 0);
  static char fontTag;  // stands for the font: texts are recorded here, never rendered
  content.largeFont = reinterpret_cast<TTF_Font*>(&fontTag);
  gameState.bufferFrames.store(512);
  MainMenuScene menu;
  const auto lit = [&menu] {
    const std::string drawn = Drawn([&menu] { menu.Draw(); });
    const size_t at = drawn.find("rgb(255,255,0)");
    if (at == std::string::npos || drawn.find("rgb(255,255,0)", at + 1) != std::string::npos) {
      return std::string("not one entry");
    }
    const size_t open = drawn.find('"', at);
    return drawn.substr(open + 1, drawn.find('"', open + 1) - open - 1);
  };
  const auto key = [&menu](SDL_Keycode sym) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = sym;
    SDL_PushEvent(&event);
    return menu.InputLogic();
  };
  EXPECT_EQ(lit(), "Start");
  const struct { SDL_Keycode key; const char* lit; } steps[] = {
      {SDLK_DOWN, "Buffer Size: 512"}, {SDLK_DOWN, "Quit"}, {SDLK_DOWN, "Quit"},
      {SDLK_UP, "Buffer Size: 512"},   {SDLK_UP, "Start"},  {SDLK_UP, "Start"}};
  for (const auto& step : steps) {
    EXPECT_TRUE(key(step.key));
    EXPECT_EQ(lit(), step.lit);
  }
  SDL_Event close{};
  close.type = SDL_QUIT;
  SDL_PushEvent(&close);
  EXPECT_FALSE(menu.InputLogic()) << "closing the window quits from the menu too";
  content = saved;
  SDL_QuitSubSystem(SDL_INIT_EVENTS);
}

// The window system's events as the program records them: a left or right button going down,
// with SDL's time stamp, place and Shift; nothing else.
TEST(SdlInputTest, OnlyLeftAndRightButtonsGoingDownArePresses) {
  SdlInputSource source;
  const struct {
    Uint32 type;
    Uint8 button;
    uint32_t recorded;  // the press's button mask, 0 for none
  } events[] = {
      {SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, SDL_BUTTON_LMASK},
      {SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, SDL_BUTTON_RMASK},
      {SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE, 0},
      {SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 0},
      {SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, 0},
  };
  int i = 0;
  for (const auto& e : events) {
    SDL_Event event{};
    event.type = e.type;
    event.button.button = e.button;
    event.button.timestamp = 1000 + i;
    event.button.x = 10 + i;
    event.button.y = 20 + i;
    source.RecordEvent(event);
    PointerPress press;
    const bool popped = source.PopPress(&press);
    EXPECT_EQ(popped ? press.button : 0u, e.recorded) << "event " << i;
    if (popped) {
      EXPECT_TRUE(press.timeMs == 1000u + i && press.x == 10 + i && press.y == 20 + i);
    }
    ++i;
  }
  // Shift held as the button goes down goes with the press (it makes a left press a right one).
  struct ShiftedSource : SdlInputSource {
    bool ShiftHeld() const override { return true; }
  } shifted;
  SDL_Event down{};
  down.type = SDL_MOUSEBUTTONDOWN;
  down.button.button = SDL_BUTTON_LEFT;
  shifted.RecordEvent(down);
  PointerPress press;
  ASSERT_TRUE(shifted.PopPress(&press));
  EXPECT_TRUE(press.shift);
}

// A press takes the window system's time of the button going down, mapped onto the press
// clock, where SDL hands it over (the X11 event comes just before SDL's own); without one it
// keeps the time SDL read it.
TEST(SdlInputTest, APressTakesTheWindowSystemsTimeWhereOneCameBeforeIt) {
  SdlInputSource source;
  SDL_Event down{};
  down.type = SDL_MOUSEBUTTONDOWN;
  down.button.button = SDL_BUTTON_LEFT;
  PointerPress press;
  // The clocks 5000 ms apart (a motion read at once); a press made at 7000 on the window
  // system's clock, read 9 ms late while a frame was drawn.
  source.RecordWindowSystemEvent(7000 - 40, 12000 - 40, 0);
  source.RecordWindowSystemEvent(7000, 12009, SDL_BUTTON_LEFT);
  down.button.timestamp = 12009;
  source.RecordEvent(down);
  ASSERT_TRUE(source.PopPress(&press));
  EXPECT_EQ(press.timeMs, 12000u);
  // Used once: a second button-down with no window-system event of its own keeps SDL's time,
  // as does one whose event pressed another button.
  down.button.timestamp = 12030;
  source.RecordEvent(down);
  ASSERT_TRUE(source.PopPress(&press));
  EXPECT_EQ(press.timeMs, 12030u);
  source.RecordWindowSystemEvent(7040, 12045, SDL_BUTTON_RIGHT);
  down.button.timestamp = 12045;
  source.RecordEvent(down);
  ASSERT_TRUE(source.PopPress(&press));
  EXPECT_EQ(press.timeMs, 12045u);
  // A window-system event with no time of its own in between leaves no time waiting.
  source.RecordWindowSystemEvent(7060, 12065, SDL_BUTTON_LEFT);
  SDL_Event timeless{};
  timeless.type = SDL_SYSWMEVENT;
  source.RecordEvent(timeless);
  down.button.timestamp = 12070;
  source.RecordEvent(down);
  ASSERT_TRUE(source.PopPress(&press));
  EXPECT_EQ(press.timeMs, 12070u);
}

// The smallest difference between when an event was read and the window system's time of it
// is the clocks' difference; an event is placed by it, never after it was read, and not at
// all when the mapping puts it implausibly long before.
TEST(EventClockTest, PlacesEventsByTheSmallestDifferenceOfTheSpan) {
  const uint32_t wrapNear = 0xFFFFFFFFu - 3;  // the press clock wraps between reads
  const struct {
    const char* what;
    std::vector<std::pair<uint32_t, uint32_t>> seen;  // (event, read) observed, in order
    uint32_t event, read, placed;
  } cases[] = {
      {"nothing seen: when it was read", {}, 100, 250, 250},
      {"the smallest of the differences", {{100, 1108}, {200, 1201}, {300, 1305}}, 400, 1410, 1401},
      {"the half span before counts too", {{0, 1000}, {5100, 6108}}, 5200, 6300, 6200},
      {"never after it was read", {{100, 1101}}, 400, 1399, 1399},
      {"across the press clock's wrap", {{10, wrapNear + 10}}, 20, wrapNear + 25, wrapNear + 20},
      {"across the window system's wrap", {{0xFFFFFFF0u, 5000}}, 0x10, 5040, 5032},
      {"implausibly long before: when it was read", {{100, 1100}}, 400, 1100 + 300 + EventClock::kLongestWaitMs + 1,
       1100 + 300 + EventClock::kLongestWaitMs + 1},
  };
  for (const auto& c : cases) {
    EventClock clock;
    for (const auto& [event, read] : c.seen) clock.Observe(event, read);
    EXPECT_EQ(clock.ToPressClock(c.event, c.read), c.placed) << c.what;
  }

  // A drift is followed within the span: a difference 3 ms larger than an old smallest one
  // becomes the difference once the old one is more than a whole span behind.
  EventClock clock;
  clock.Observe(0, 1000);
  uint32_t event = 0;
  for (uint32_t t = 0; t <= EventClock::kSpanMs + 100; t += 100) {
    event = t;
    clock.Observe(event, 1003 + t);
  }
  EXPECT_EQ(clock.ToPressClock(event, 1003 + event + 5), 1003 + event);
  // An event read at once is never placed after it was read, and one read later is placed
  // back by what it waited.
  EXPECT_EQ(clock.ToPressClock(event + 1, 1003 + event), 1003 + event);
}

}  // namespace
