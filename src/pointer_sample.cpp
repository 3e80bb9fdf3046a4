#include "pointer_sample.h"

#include <SDL.h>

#include <atomic>
#include <cmath>

#include "game_state.h"
#include "input_source.h"

namespace {
constexpr uint32_t kLeft = SDL_BUTTON_LMASK;
constexpr uint32_t kRight = SDL_BUTTON_RMASK;
// Presses one buffer takes; more within one buffer are left for the next.
constexpr int kMaxClicksPerBuffer = 16;

// The pointer as the audio callback sampled it for its buffer; the mask stored for the next
// buffer is exactly the sampled state.
struct BufferPointer {
  bool sampled = false;
  PointerState state;
  double heardNow = 0.0;  // stream time heard as this buffer began, seconds
  bool heardStepChange = false;  // heardNow passed a step's start for the first time
  Click clicks[kMaxClicksPerBuffer];
  int clickCount = 0;
};
thread_local BufferPointer sample;

uint8_t LastButtons() { return gameState.lastMouseButtons.load(std::memory_order_relaxed); }

// Appends a press at (x, sdlY), SDL's window pixels, heard at heardTime (seconds).
void AddClick(int x, int sdlY, bool right, double heardTime) {
  Click& click = sample.clicks[sample.clickCount++];
  click.x = static_cast<float>(x);
  click.y = static_cast<float>(600 - sdlY);
  click.right = right;
  click.heardTime = heardTime;
}

// Where the heard stream clock stands against the press clock. A buffer's stream time minus
// the output latency is what is heard as its callback starts only if the callback starts on
// time: one that the system runs late finds less queued than the latency says, so the player
// is already hearing later audio. On-time callbacks give the largest value of (stream time -
// press clock), so the estimate is the largest of the last quarter second, minus the latency
// as reported now; a move of the stream against the wall clock (an underrun) is followed
// within that quarter second. The latency is applied afresh each time, so a new report of
// it moves the estimate at once without forgetting the callbacks.
class HeardClock {
 public:
  // Records a callback of stream `generation` at streamTime (seconds) that starts at
  // press-clock time nowMs; returns the heard stream time minus press-clock seconds: the
  // server's heardOffset where it is a number, else the estimate from outputLatency.
  double Update(double streamTime, double outputLatency, double heardOffset, uint32_t nowMs,
                uint32_t generation) {
    // A new stream or a clock that went back: the old callbacks no longer count.
    if (count_ > 0 && (generation != generation_ || streamTime < lastStreamTime_ ||
                       static_cast<int32_t>(nowMs - entries_[(next_ + kEntries - 1) % kEntries].ms) < 0)) {
      count_ = 0;
    }
    restarted_ = count_ == 0;
    generation_ = generation;
    lastStreamTime_ = streamTime;
    entries_[next_] = Entry{nowMs, streamTime - nowMs / 1000.0};
    next_ = (next_ + 1) % kEntries;
    if (count_ < kEntries) ++count_;
    double best = entries_[(next_ + kEntries - 1) % kEntries].offset;
    for (int i = 2; i <= count_; ++i) {
      const Entry& entry = entries_[(next_ + kEntries - i) % kEntries];
      if (nowMs - entry.ms > kSpanMs) break;
      if (entry.offset > best) best = entry.offset;
    }
    // The sound server's own placing, where it gives one, is the truth the estimate stands in
    // for.
    return std::isnan(heardOffset) ? best - outputLatency : heardOffset;
  }
  // True when the last Update began a new clock (the first callback, or one of a new stream).
  bool Restarted() const { return restarted_; }

 private:
  static constexpr int kEntries = 256;
  static constexpr uint32_t kSpanMs = 250;
  struct Entry {
    uint32_t ms;
    double offset;  // stream time minus press clock, seconds
  };
  Entry entries_[kEntries] = {};
  int next_ = 0;
  int count_ = 0;
  double lastStreamTime_ = 0.0;
  uint32_t generation_ = 0;
  bool restarted_ = true;
};
thread_local HeardClock heardClock;

// True when press-clock time a lies before b (unsigned: right across the counter's wrap).
bool Before(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }

// Set-up of a new game, from the main thread.
std::atomic<bool> pressesHeld{false};
std::atomic<uint32_t> releases{0};      // set-ups ended
std::atomic<uint32_t> releasedFromMs{0};  // presses stamped from here on count after the last

// Which presses count, audio thread: none stamped before countFromMs, the first buffer of the
// stream or the end of the last set-up, whichever is later.
class PressGate {
 public:
  // Called once per buffer, at press-clock time nowMs.
  void Update(uint32_t streamGeneration, uint32_t nowMs) {
    now_ = nowMs;
    held_ = pressesHeld.load(std::memory_order_acquire);
    if (!started_ || streamGeneration != generation_) {
      started_ = true;
      generation_ = streamGeneration;
      countFromMs_ = nowMs;
    }
    const uint32_t ended = releases.load(std::memory_order_acquire);
    if (ended != releasesSeen_) {
      releasesSeen_ = ended;
      const uint32_t from = releasedFromMs.load(std::memory_order_relaxed);
      if (Before(countFromMs_, from)) countFromMs_ = from;
    }
  }
  bool Counts(const PointerPress& press) const {
    if (held_) return false;
    // Long after the gate moved, no queued press can be that old: the wrapping comparison
    // would turn against new ones. The gate may also lie a millisecond ahead (a set-up that
    // ended in this buffer's millisecond): that is not long after it.
    if (!Before(now_, countFromMs_) && now_ - countFromMs_ >= 0x40000000u) return true;
    return !Before(press.timeMs, countFromMs_);
  }

 private:
  bool started_ = false;
  bool held_ = false;
  uint32_t generation_ = 0;
  uint32_t releasesSeen_ = 0;
  uint32_t countFromMs_ = 0;
  uint32_t now_ = 0;
};
// One audio thread at a time takes presses; each new one starts with a new stream.
PressGate pressGate;
}  // namespace

void HoldPresses() { pressesHeld.store(true, std::memory_order_release); }

void ReleasePresses(uint32_t nowMs) {
  // A press pumped in the same millisecond as set-up ended was drained with it.
  releasedFromMs.store(nowMs + 1, std::memory_order_relaxed);
  releases.fetch_add(1, std::memory_order_release);
  pressesHeld.store(false, std::memory_order_release);
}

uint8_t SamplePointerForBuffer(double streamTime, double outputLatency, double heardOffset,
                               uint32_t streamGeneration) {
  InputSource& input = Input();
  const uint32_t now = input.TicksMs();
  pressGate.Update(streamGeneration, now);
  const double heardNow = now / 1000.0 + heardClock.Update(streamTime, outputLatency, heardOffset, now, streamGeneration);
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
  const LoopOptions& loop = gameState.loopOptions;
  sample.heardStepChange =
      heardNow > furthestHeard && loop.TimeToStep(heardNow) != loop.TimeToStep(furthestHeard);
  if (heardNow > furthestHeard) furthestHeard = heardNow;
  sample.clickCount = 0;
  PointerPress press;
  while (sample.clickCount < kMaxClicksPerBuffer && input.PopPress(&press)) {
    if (!pressGate.Counts(press)) continue;
    // Unsigned difference: right across the millisecond counter's wrap. A stamp from the
    // future (another clock's jitter) counts as now.
    const uint32_t agoMs = now - press.timeMs;
    const double ago = agoMs > 0x80000000u ? 0.0 : agoMs / 1000.0;
    AddClick(press.x, press.y, press.button == kRight || (press.button == kLeft && press.shift),
             heardNow - ago);
  }
  PointerState& state = sample.state;
  state.buttons = input.MouseState(&state.x, &state.y);
  state.shift = input.ShiftHeld();
  sample.sampled = true;
  uint8_t mask = static_cast<uint8_t>(state.buttons & 0xFF);
  if ((mask & kLeft) && state.shift) mask |= kRight;
  // Shift pressed while the left button is already held makes no button event; it is one
  // right click, made now, at the pointer.
  const uint8_t last = LastButtons();
  if ((last & kLeft) && !(last & kRight) && (mask & kRight) && !(state.buttons & kRight) &&
      !AnyClick(true) && sample.clickCount < kMaxClicksPerBuffer) {
    AddClick(state.x, state.y, true, heardNow);
  }
  return mask;
}

void EndBufferSample() {
  sample.sampled = false;
  sample.clickCount = 0;
}

PointerState Pointer() {
  if (sample.sampled) return sample.state;
  PointerState live;
  live.buttons = Input().MouseState(&live.x, &live.y);
  live.shift = Input().ShiftHeld();
  return live;
}

bool PointWithin(float px, float py, float x, float y, float w, float h) {
  return px >= x && px <= x + w && py >= y && py <= y + h;
}

int ClickCount() { return sample.clickCount; }

bool AnyClick(bool right) {
  for (int i = 0; i < sample.clickCount; ++i) {
    if (sample.clicks[i].right == right) return true;
  }
  return false;
}

const Click& ClickAt(int i) { return sample.clicks[i]; }

double HeardNow() { return sample.heardNow; }

bool HeardStepChange() { return sample.heardStepChange; }
