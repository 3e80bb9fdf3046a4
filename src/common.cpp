#include "common.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "content_fonts.h"
#include "draw_list.h"
#include "game_state.h"
#include "pointer_sample.h"

const char* MARLUNE_VERSION = "1.03";

void FatalError(std::string message) {
  std::fprintf(stderr, "Error:%s\n", message.c_str());
  std::exit(1);
}

void DropQueuedInput() {
  SDL_PumpEvents();
  bool quit = false;
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    if (event.type == SDL_QUIT) quit = true;
  }
  if (!quit) return;
  SDL_Event again{};
  again.type = SDL_QUIT;
  SDL_PushEvent(&again);
}

bool FileExists(std::string path) {
  // The entry itself, not what a link leads to: a link that leads nowhere still takes its name.
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

int PadToPowerOfTwo(int n) {
  if (n < 2) return 1;
  int result = 1;
  for (unsigned int v = static_cast<unsigned int>(n - 1); v != 0; v >>= 1) result <<= 1;
  return result;
}

bool VerticalFlip(SDL_Surface* source, SDL_Surface* destination) {
  SDL_SetSurfaceAlphaMod(source, 255);
  for (int row = 0; row < source->h; ++row) {
    SDL_Rect from{0, row, source->w, 1};
    SDL_Rect to{0, source->h - 1 - row, source->w, 1};
    if (SDL_UpperBlit(source, &from, destination, &to) != 0) return false;
  }
  return true;
}

void DrawVersionNumber() {
  char label[32];
  std::snprintf(label, sizeof label, "Marlune v%s", MARLUNE_VERSION);
  RenderText(content.smallFont, SDL_Color{255, 255, 255, 0}, 0.0f, 0.0f, label);
}

// ---- Loop timing ----

int TimeToStep(double t) { return gameState.loopOptions.TimeToStep(t); }

bool StepChange(double t) {
  return TimeToStep(t) != TimeToStep(gameState.lastStreamTime.load(std::memory_order_relaxed));
}

bool LateTimingWindow(double t) {
  const LoopOptions& loop = gameState.loopOptions;
  // At the very start of a step the time into it is zero (or a hair below it through
  // rounding); that instant counts as inside the window.
  return loop.lateWindow.load(std::memory_order_relaxed) > loop.TimeIntoStep(t);
}

bool BeatWindow(double t) {
  const int step = TimeToStep(t);
  if (step % gameState.loopOptions.stepsPerBeat != 0) return false;
  if (StepChange(t)) return true;
  return LateTimingWindow(t);
}

int64_t StepsToSamples(double steps) {
  const double rate = gameState.clock->SampleRate();
  return static_cast<int64_t>(rate * gameState.loopOptions.StepsToSeconds(steps));
}

double KeyToFrequency(int key) { return 440.0 * std::pow(2.0, (key - 69) / 12.0); }

// ---- Pointer input ----

namespace {
constexpr uint32_t kLeft = SDL_BUTTON_LMASK;
constexpr uint32_t kRight = SDL_BUTTON_RMASK;
}  // namespace

int MouseX() { return Pointer().x; }

int MouseY() { return 600 - Pointer().y; }

bool MouseWithin(float x, float y, float w, float h) {
  const PointerState p = Pointer();
  return PointWithin(static_cast<float>(p.x), static_cast<float>(600 - p.y), x, y, w, h);
}

bool MouseLeftButton() {
  const PointerState pointer = Pointer();
  return (pointer.buttons & kLeft) && !pointer.shift;
}

bool MouseRightButton() {
  const PointerState pointer = Pointer();
  return (pointer.buttons & kRight) || ((pointer.buttons & kLeft) && pointer.shift);
}

bool MouseLeftClick() { return AnyClick(false); }

bool MouseLeftClickWithin(float x, float y, float w, float h) {
  for (int i = 0; i < ClickCount(); ++i) {
    const Click& click = ClickAt(i);
    if (!click.right && PointWithin(click.x, click.y, x, y, w, h)) return true;
  }
  return false;
}

bool MouseLeftUnclick() {
  return (gameState.lastMouseButtons.load(std::memory_order_relaxed) & kLeft) &&
         !(Pointer().buttons & kLeft);
}

bool MouseRightClick() { return AnyClick(true); }

// ---- Numeric helpers ----

int clamp(int value, int low, int high) {
  if (value < low) return low;
  if (value <= high) return value;
  return high;
}

float clampf(float value, float low, float high) {
  if (value < low) return low;
  if (high < value) return high;
  return value;
}

SDL_Color ColorBlend(SDL_Color from, SDL_Color to, float t) {
  t = clampf(t, 0.0f, 1.0f);
  auto mix = [t](Uint8 a, Uint8 b) { return static_cast<Uint8>(a * (1.0f - t) + b * t); };
  return SDL_Color{mix(from.r, to.r), mix(from.g, to.g), mix(from.b, to.b), 0};
}

void NormalizeVector(float* x, float* y, float length) {
  const float d = std::sqrt(*x * *x + *y * *y);
  if (d == 0.0f) return;
  *x *= length / d;
  *y *= length / d;
}

float Distance(float x1, float y1, float x2, float y2) {
  const float dx = x2 - x1;
  const float dy = y2 - y1;
  return std::sqrt(dx * dx + dy * dy);
}

float RandomFloat(float low, float high) {
  return low + static_cast<float>(std::rand()) * (1.0f / 2147483648.0f) * (high - low);
}
