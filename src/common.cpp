#include "common.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "content_fonts.h"
#include "game_state.h"
#include "input_source.h"

const char* MARLUNE_VERSION = "1.03";

void FatalError(std::string message) {
  std::fprintf(stderr, "Error:%s\n", message.c_str());
  std::exit(1);
}

bool FileExists(std::string path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
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
  const double r = t - loop.startTime;
  const double length = loop.LoopLength();
  const double streamTime = r - static_cast<int>(r / length) * length;
  const int steps = loop.StepsPerLoop();
  const int step = static_cast<int>(steps * (streamTime / length));
  const double currentStepTime = ((60 * loop.beatsPerLoop) / loop.tempo * step) / steps;
  // At the very start of a step the difference is zero (or a hair below it through rounding);
  // that instant counts as inside the window.
  return loop.lateWindow.load(std::memory_order_relaxed) > streamTime - currentStepTime;
}

bool BeatWindow(double t) {
  const int step = TimeToStep(t);
  if (step % gameState.loopOptions.stepsPerBeat != 0) return false;
  if (StepChange(t)) return true;
  return LateTimingWindow(t);
}

int64_t StepsToSamples(double steps) {
  const LoopOptions& loop = gameState.loopOptions;
  const double rate = gameState.clock->SampleRate();
  return static_cast<int64_t>(rate * (loop.LoopLength() * steps / loop.StepsPerLoop()));
}

double KeyToFrequency(int key) { return 440.0 * std::pow(2.0, (key - 69) / 12.0); }

// ---- Pointer input ----

namespace {
constexpr uint32_t kLeft = SDL_BUTTON_LMASK;
constexpr uint32_t kRight = SDL_BUTTON_RMASK;
// Presses one buffer takes; more within one buffer are left for the next.
constexpr int kMaxClicksPerBuffer = 16;

// The pointer as the audio callback sampled it for its buffer: every pad of one buffer sees
// the same position, buttons and presses, and the mask stored for the next buffer is exactly
// the sampled state.
struct BufferPointer {
  bool sampled = false;
  int x = 0;  // SDL's coordinates: y counted down from the top edge
  int y = 0;
  uint32_t buttons = 0;
  bool shift = false;
  double outputLatency = 0.0;
  double heardNow = 0.0;  // stream time heard as this buffer began, seconds
  bool heardStepChange = false;  // heardNow passed a step's start for the first time
  Click clicks[kMaxClicksPerBuffer];
  int clickCount = 0;
};
thread_local BufferPointer sample;

uint32_t Buttons() {
  return sample.sampled ? sample.buttons : Input().MouseState(nullptr, nullptr);
}
bool ShiftHeld() { return sample.sampled ? sample.shift : Input().ShiftHeld(); }
void Position(int* x, int* y) {
  if (sample.sampled) {
    *x = sample.x;
    *y = sample.y;
  } else {
    Input().MouseState(x, y);
  }
}
uint8_t LastButtons() { return gameState.lastMouseButtons.load(std::memory_order_relaxed); }

bool Within(float px, float py, float x, float y, float w, float h) {
  return px >= x && px <= x + w && py >= y && py <= y + h;
}
}  // namespace

int MouseX() {
  int x = 0;
  int y = 0;
  Position(&x, &y);
  return x;
}

int MouseY() {
  int x = 0;
  int y = 0;
  Position(&x, &y);
  return 600 - y;
}

bool MouseWithin(float x, float y, float w, float h) {
  int mx = 0;
  int my = 0;
  Position(&mx, &my);
  return Within(static_cast<float>(mx), static_cast<float>(600 - my), x, y, w, h);
}

bool MouseLeftButton() { return (Buttons() & kLeft) && !ShiftHeld(); }

bool MouseRightButton() {
  const uint32_t buttons = Buttons();
  return (buttons & kRight) || ((buttons & kLeft) && ShiftHeld());
}

bool MouseLeftClick() {
  for (int i = 0; i < sample.clickCount; ++i) {
    if (!sample.clicks[i].right) return true;
  }
  return false;
}

bool MouseLeftClickWithin(float x, float y, float w, float h) {
  for (int i = 0; i < sample.clickCount; ++i) {
    const Click& click = sample.clicks[i];
    if (!click.right && Within(click.x, click.y, x, y, w, h)) return true;
  }
  return false;
}

bool MouseLeftUnclick() { return (LastButtons() & kLeft) && !(Buttons() & kLeft); }

bool MouseRightClick() {
  for (int i = 0; i < sample.clickCount; ++i) {
    if (sample.clicks[i].right) return true;
  }
  return false;
}

int ClickCount() { return sample.clickCount; }

const Click& ClickAt(int i) { return sample.clicks[i]; }

double HeardNow() { return sample.heardNow; }

bool HeardStepChange() { return sample.heardStepChange; }

namespace {
// Where the heard stream clock stands against the press clock. A buffer's stream time minus
// the output latency is what is heard as its callback starts only if the callback starts on
// time: one that the system runs late finds less queued than the latency says, so the player
// is already hearing later audio. On-time callbacks give the largest value of (stream time -
// latency - press clock), so the estimate is the largest of the last quarter second; a move of
// the stream against the wall clock (an underrun) is followed within that quarter second.
class HeardClock {
 public:
  // Records a callback at streamTime (seconds) that starts at press-clock time nowMs; returns
  // the heard stream time minus press-clock seconds.
  double Update(double streamTime, double outputLatency, uint32_t nowMs) {
    // A new stream, a new latency or a clock that went back: the old callbacks no longer count.
    if (count_ > 0 && (streamTime < lastStreamTime_ || outputLatency != lastLatency_ ||
                       static_cast<int32_t>(nowMs - entries_[(next_ + kEntries - 1) % kEntries].ms) < 0)) {
      count_ = 0;
    }
    restarted_ = count_ == 0;
    lastStreamTime_ = streamTime;
    lastLatency_ = outputLatency;
    entries_[next_] = Entry{nowMs, streamTime - outputLatency - nowMs / 1000.0};
    next_ = (next_ + 1) % kEntries;
    if (count_ < kEntries) ++count_;
    double best = entries_[(next_ + kEntries - 1) % kEntries].offset;
    for (int i = 2; i <= count_; ++i) {
      const Entry& entry = entries_[(next_ + kEntries - i) % kEntries];
      if (nowMs - entry.ms > kSpanMs) break;
      if (entry.offset > best) best = entry.offset;
    }
    return best;
  }
  // True when the last Update began a new clock (the first callback, or one of a new stream).
  bool Restarted() const { return restarted_; }

 private:
  static constexpr int kEntries = 256;
  static constexpr uint32_t kSpanMs = 250;
  struct Entry {
    uint32_t ms;
    double offset;
  };
  Entry entries_[kEntries] = {};
  int next_ = 0;
  int count_ = 0;
  double lastStreamTime_ = 0.0;
  double lastLatency_ = 0.0;
  bool restarted_ = true;
};
thread_local HeardClock heardClock;
}  // namespace

uint8_t SamplePointerForBuffer(double streamTime, double outputLatency) {
  InputSource& input = Input();
  sample.outputLatency = outputLatency;
  const uint32_t now = input.TicksMs();
  const double heardNow = now / 1000.0 + heardClock.Update(streamTime, outputLatency, now);
  sample.heardNow = heardNow;
  // Steps begin, as heard, when the heard clock first passes their start. It is compared with
  // the furthest point any earlier buffer heard, not with this buffer's length: callbacks that
  // come in bursts move it on by several buffers at once, and its estimate may also step back
  // a little, which must not begin the same step twice.
  // A new clock (a new stream, the first buffer) is compared with where it stood a buffer ago.
  static thread_local double furthestHeard = 0.0;
  if (heardClock.Restarted()) {
    const double advance = streamTime - gameState.lastStreamTime.load(std::memory_order_relaxed);
    furthestHeard = heardNow - (advance > 0.0 ? advance : 0.0);
  }
  sample.heardStepChange = heardNow > furthestHeard && TimeToStep(heardNow) != TimeToStep(furthestHeard);
  if (heardNow > furthestHeard) furthestHeard = heardNow;
  sample.clickCount = 0;
  PointerPress press;
  while (sample.clickCount < kMaxClicksPerBuffer && input.PopPress(&press)) {
    // Unsigned difference: right across the millisecond counter's wrap. A stamp from the
    // future (another clock's jitter) counts as now.
    const uint32_t agoMs = now - press.timeMs;
    const double ago = agoMs > 0x80000000u ? 0.0 : agoMs / 1000.0;
    Click& click = sample.clicks[sample.clickCount++];
    click.x = static_cast<float>(press.x);
    click.y = static_cast<float>(600 - press.y);
    click.right = press.button == kRight || (press.button == kLeft && press.shift);
    click.heardTime = heardNow - ago;
  }
  sample.buttons = input.MouseState(&sample.x, &sample.y);
  sample.shift = input.ShiftHeld();
  sample.sampled = true;
  uint8_t mask = static_cast<uint8_t>(sample.buttons & 0xFF);
  if ((mask & kLeft) && sample.shift) mask |= kRight;
  // Shift pressed while the left button is already held makes no button event; it is one
  // right click, made now, at the pointer.
  const uint8_t last = LastButtons();
  if ((last & kLeft) && !(last & kRight) && (mask & kRight) && !(sample.buttons & kRight) &&
      !MouseRightClick() && sample.clickCount < kMaxClicksPerBuffer) {
    Click& click = sample.clicks[sample.clickCount++];
    click.x = static_cast<float>(sample.x);
    click.y = static_cast<float>(600 - sample.y);
    click.right = true;
    click.heardTime = streamTime - outputLatency;
  }
  return mask;
}

void EndBufferSample() {
  sample.sampled = false;
  sample.clickCount = 0;
}

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
