// marlune_tapper - a player who listens to the metronome on the sound server's monitor and
// taps the left button just after the beats, through XTEST (xdotool's process start-up is too
// slow and uneven for taps placed to a few milliseconds).
//
//   marlune_tapper CAPTURE.wav HOLD_MS [BUFFER_FRAMES]
//   marlune_tapper follow CAPTURE.wav BEAT_FRAME BEATS
//   marlune_tapper judge CAPTURE.wav < TAPS
//   marlune_tapper close WINDOW_ID   (the window manager's close request, WM_DELETE_WINDOW)
//   marlune_tapper clicks CAPTURE.wav ROUNDS [HOLD_MS [clear|noclear [BUFFER_FRAMES]]]   (click to sound: Clicks below)
//
// CAPTURE.wav is the WAV file that parec is writing from the sink's monitor (it grows while the
// tool runs). The tool taps four beats in a row, 10, 15, 20 and 25 ms after each is heard,
// holding the button HOLD_MS (BUFFER_FRAMES: the stream's buffer size, 2048 if not given). The
// pointer must already rest over the pad.
//
// Hearing the beats. Only the capture says when a beat is heard, so the tool follows the file:
//  - Clock of the capture: every millisecond it notes the monotonic time and the frames in the
//    file. A frame reaches the file no earlier than it is heard on the monitor, so the
//    monotonic time at which frame 0 was heard is at most (now - frames / rate) at every poll;
//    the smallest such value over the last 2 s of polls is taken (its error is how late parec
//    delivered its freshest frame, a few milliseconds; a longer span would keep an estimate
//    that a capture losing time against the monotonic clock, as a JACK dummy driver that skips
//    periods does, has left behind, and the taps would come early by what it lost).
//  - Beats: onsets of the metronome click (a frame above 0.05 full scale after 80 ms below
//    it), heard after the tool started. Once four onsets half a second apart are heard, the beat grid is fixed: its period
//    is exactly 22050 frames (a beat of the loop at 120 beats per minute, counted on the
//    stream's own sample clock, which the capture shares), its phase the earliest onset
//    modulo the period. A click starts on the first audio buffer inside its step, up to one
//    buffer after the grid point, so the earliest residual is the grid.
//  - Taps: the first beat at least 0.6 s ahead and the following ones get one press each.
//
// Output (stdout): "grid PHASE_FRAME" and, per tap, "tap BEAT_FRAME OFFSET_MS HOLD_MS ERROR_MS"
// where ERROR_MS is how much later than planned the press was sent. Status 1 on failure.

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 44100.0;
constexpr int64_t kBeatFrames = 22050;
// The menu's largest buffer, frames: how late a click may start after its grid point when the
// buffer size is not known.
constexpr int64_t kLargestBuffer = 2048;
constexpr double kThreshold = 0.05;
// A click is an attack after 80 ms below the threshold: the metronome's click lasts 50 ms, so
// a pad's sound that follows it within 30 ms does not count as another beat.
constexpr int64_t kQuietFrames = static_cast<int64_t>(0.080 * kRate);

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "marlune_tapper: %s\n", message.c_str());
  std::exit(1);
}

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

void SleepUntil(double t) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(t);
  ts.tv_nsec = static_cast<long>((t - static_cast<double>(ts.tv_sec)) * 1e9);
  clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

// The growing capture: 16-bit stereo frames after the header.
class Capture {
 public:
  // window: seconds of polls the clock estimate is taken over (0: every poll since the start),
  // for a capture whose sample clock may lose time against the monotonic clock (a JACK dummy
  // driver that skips periods on a busy machine).
  explicit Capture(const char* path, double window = 0.0) : path_(path), window_(window) {}

  // Polls the file: updates the clock estimate and scans new frames for onsets. Returns false
  // until the header has been written.
  bool Poll() {
    if (fd_ < 0) {
      fd_ = open(path_.c_str(), O_RDONLY);
      if (fd_ < 0) return false;
    }
    if (dataOffset_ < 0 && !FindData()) return false;
    struct stat st {};
    if (fstat(fd_, &st) != 0) return false;
    const double now = Now();
    const int64_t frames = (static_cast<int64_t>(st.st_size) - dataOffset_) / 4;
    if (frames <= 0) return true;
    if (scanned_ < 0) scanned_ = frames;  // only what is heard from now on
    const double zero = now - static_cast<double>(frames) / kRate;
    if (window_ <= 0.0) {
      if (zero < frameZero_) frameZero_ = zero;
    } else {
      // Sliding minimum: candidates in time order with rising values.
      while (!zeros_.empty() && zeros_.back().second >= zero) zeros_.pop_back();
      zeros_.emplace_back(now, zero);
      while (zeros_.front().first < now - window_) zeros_.pop_front();
      frameZero_ = zeros_.front().second;
    }
    frames_ = frames;
    Scan(frames);
    return true;
  }

  // Loudest channel of every frame written so far, from frame `from` on.
  std::vector<float> Levels(int64_t from = 0) {
    struct stat st {};
    if (fstat(fd_, &st) != 0) return {};
    const int64_t frames = (static_cast<int64_t>(st.st_size) - dataOffset_) / 4 - from;
    std::vector<int16_t> samples(static_cast<size_t>(2 * std::max<int64_t>(frames, 0)));
    const ssize_t got = pread(fd_, samples.data(), samples.size() * 2, dataOffset_ + 4 * from);
    std::vector<float> level(static_cast<size_t>(std::max<ssize_t>(got, 0) / 4));
    for (size_t f = 0; f < level.size(); ++f) {
      level[f] = std::max(std::abs(samples[2 * f]), std::abs(samples[2 * f + 1])) / 32768.0f;
    }
    return level;
  }

  // Frames in the file at the last poll.
  int64_t Frames() const { return frames_; }

  // Monotonic time at which frame f is heard.
  double TimeOf(double frame) const { return frameZero_ + frame / kRate; }

  std::vector<int64_t> onsets;

 private:
  bool FindData() {
    unsigned char header[512];
    const ssize_t n = pread(fd_, header, sizeof header, 0);
    if (n < 12 || std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0) {
      return false;
    }
    for (ssize_t at = 12; at + 8 <= n;) {
      const uint32_t size = header[at + 4] | header[at + 5] << 8 | header[at + 6] << 16 |
                            static_cast<uint32_t>(header[at + 7]) << 24;
      if (std::memcmp(header + at, "data", 4) == 0) {
        dataOffset_ = at + 8;
        return true;
      }
      at += 8 + static_cast<ssize_t>(size + (size & 1));
    }
    return false;
  }

  void Scan(int64_t frames) {
    while (scanned_ < frames) {
      int16_t block[2 * 1024];
      const int64_t want = std::min<int64_t>(1024, frames - scanned_);
      const ssize_t got = pread(fd_, block, static_cast<size_t>(want * 4), dataOffset_ + scanned_ * 4);
      if (got < 4) return;
      for (ssize_t i = 0; i < got / 4; ++i) {
        const double level = std::max(std::abs(block[2 * i]), std::abs(block[2 * i + 1])) / 32768.0;
        if (level >= kThreshold) {
          if (quiet_ >= kQuietFrames) onsets.push_back(scanned_);
          quiet_ = 0;
        } else {
          ++quiet_;
        }
        ++scanned_;
      }
    }
  }

  std::string path_;
  int fd_ = -1;
  int64_t dataOffset_ = -1;
  int64_t scanned_ = -1;
  int64_t frames_ = 0;
  int64_t quiet_ = kQuietFrames;
  double window_;
  std::deque<std::pair<double, double>> zeros_;  // (poll time, frame 0's time), seconds
  double frameZero_ = 1e300;
};

// Waits until monotonic time `frame`'s heard time plus offset, polling the capture meanwhile
// (the clock estimate only improves); the last two milliseconds are spun.
double WaitForHeard(Capture& capture, double frame, double offset) {
  for (;;) {
    capture.Poll();
    const double target = capture.TimeOf(frame) + offset;
    const double now = Now();
    if (now >= target) return now - target;
    if (target - now > 0.003) {
      SleepUntil(now + 0.001);
    } else {
      while (Now() < target) {
      }
    }
  }
}

// ---- Judging a finished capture ----

float Peak(const std::vector<float>& level, int64_t from, int64_t to) {
  float peak = 0.0f;
  for (int64_t f = std::max<int64_t>(0, from); f < std::min<int64_t>(to, level.size()); ++f) {
    peak = std::max(peak, level[f]);
  }
  return peak;
}

double Rms(const std::vector<float>& level, int64_t from, int64_t to) {
  double sum = 0.0;
  int64_t n = 0;
  for (int64_t f = std::max<int64_t>(0, from); f < std::min<int64_t>(to, level.size()); ++f, ++n) {
    sum += static_cast<double>(level[f]) * level[f];
  }
  return n > 0 ? std::sqrt(sum / n) : 0.0;
}

int64_t Ms(double ms) { return static_cast<int64_t>(ms * kRate / 1000.0); }

// The first metronome click at or after `from` and before `to`: a frame that reaches the
// threshold after 40 ms below it; -1 if there is none. Frames are indices into level.
int64_t FindClick(const std::vector<float>& level, int64_t from, int64_t to) {
  for (int64_t f = std::max(from, Ms(40)); f < std::min<int64_t>(to, level.size()); ++f) {
    if (level[f] >= kThreshold && Peak(level, f - Ms(40), f) < kThreshold) return f;
  }
  return -1;
}

// The click of the beat after the one at `click`: the metronome's next attack after quiet from
// half a beat on, allowing for the stream's audio moving up to a quarter second earlier
// (dropped) or a second later (silence put in while the stream underran).
int64_t NextClick(const std::vector<float>& level, int64_t click) {
  return FindClick(level, click + kBeatFrames / 2, click + kBeatFrames + Ms(1000));
}

// Waits until the click `beats` beats after the beat at frame `beat` has been heard, following
// the metronome click by click from the first within a quarter second of `beat`, and prints
// its frame. Fails after 30 s.
int Follow(const char* path, int64_t beat, int beats) {
  Capture capture(path);
  const double deadline = Now() + 30.0;
  const int64_t from = std::max<int64_t>(0, beat - Ms(250));
  for (;;) {
    if (Now() > deadline) Fail("the metronome's clicks stopped before the beat awaited");
    if (capture.Poll()) {
      const std::vector<float> level = capture.Levels(from);
      int64_t click = FindClick(level, 0, Ms(500));
      for (int k = 0; k < beats && click >= 0; ++k) click = NextClick(level, click);
      // The click must be followed by 150 ms of audio before the tail is judged.
      if (click >= 0 && click + Ms(150) < static_cast<int64_t>(level.size())) {
        std::printf("%lld\n", static_cast<long long>(from + click));
        return 0;
      }
    }
    SleepUntil(Now() + 0.05);
  }
}

// Reads taps "SIZE HOLD BEAT_FRAME OFFSET_MS ERROR_MS" from stdin. Each tapped beat is followed
// click by click (the metronome runs on) to the same beat of the next loop, where the pattern
// replays the tap's note together with the click; steps start on buffer boundaries, so a note
// is either on the click's own step or a whole step (125 ms) away:
//  - own step: the pad's sound rings on after the 50 ms click (RMS 55 to 110 ms after it);
//  - the next step: a new attack 95 to 160 ms after the click, louder than what rings before;
//  - the step before: sound 95 to 160 ms before the click (the previous beat's has ended).
int Judge(const char* path) {
  Capture capture(path);
  if (!capture.Poll()) Fail(std::string("cannot read ") + path);
  const std::vector<float> level = capture.Levels();
  std::map<std::string, std::array<int, 3>> counts;  // taps, on their own step, on a neighbour
  char line[256];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    int size = 0;
    double hold = 0, offset = 0, error = 0;
    long long beat = 0;
    if (std::sscanf(line, "%d %lf %lld %lf %lf", &size, &hold, &beat, &offset, &error) != 5) continue;
    char key[64];
    std::snprintf(key, sizeof key, "%d frames, %.0f ms presses", size, hold);
    int64_t click = FindClick(level, beat - Ms(250), beat + Ms(250));
    for (int k = 0; k < 4 && click >= 0; ++k) click = NextClick(level, click);
    bool own = false, neighbour = false;
    if (click >= 0) {
      own = Rms(level, click + Ms(55), click + Ms(110)) >= 0.02;
      const float ringing = Peak(level, click + Ms(55), click + Ms(95));
      neighbour = Peak(level, click + Ms(95), click + Ms(160)) > 1.5f * ringing + 0.02f ||
                  Peak(level, click - Ms(160), click - Ms(95)) >= kThreshold;
    }
    std::array<int, 3>& count = counts[key];
    count = {count[0] + 1, count[1] + own, count[2] + neighbour};
    std::printf("%s: tap %.0f ms after the beat at frame %lld (sent %.2f ms late): %s%s\n", key,
                offset, beat, error,
                click < 0 ? "no click found a loop later"
                          : own ? "note on its own step" : "no note on its own step",
                neighbour ? ", NOTE ON A NEIGHBOURING STEP" : "");
  }
  for (const auto& [key, count] : counts) {
    std::printf("SUMMARY %s: %d of %d taps on their own step, %d on a neighbouring step\n",
                key.c_str(), count[1], count[0], count[2]);
  }
  return 0;
}

// ---- The beat grid as heard ----

// Waits (up to 15 s) for four clicks half a second apart (within a buffer of 2048 frames) and
// returns the grid's phase: the earliest of their residuals modulo the beat.
int64_t FindGrid(Capture& capture) {
  const double deadline = Now() + 15.0;
  std::vector<int64_t> beats;
  while (beats.size() < 4) {
    if (Now() > deadline) Fail("no steady metronome heard within 15 s");
    capture.Poll();
    beats.clear();
    for (int64_t onset : capture.onsets) {
      if (!beats.empty()) {
        const int64_t gap = onset - beats.back();
        if (std::llabs(gap - kBeatFrames) > kLargestBuffer) beats.clear();
      }
      beats.push_back(onset);
    }
    if (beats.size() > 4) beats.erase(beats.begin(), beats.end() - 4);
    SleepUntil(Now() + 0.001);
  }
  int64_t phase = beats[0];
  for (int64_t onset : beats) {
    const int64_t residual = (onset - beats[0]) % kBeatFrames;
    const int64_t wrapped = residual > kBeatFrames / 2 ? residual - kBeatFrames : residual;
    phase = std::min(phase, beats[0] + wrapped);
  }
  return phase;
}

// Keeps a beat of the grid current while the capture grows: a click heard earlier than the
// grid, or later than it by more than a buffer (`buffer` frames, the largest by default), means
// the stream's audio has moved (the sound server drops what a late stream delivers after an
// underrun; a JACK dummy driver that skips periods moves it later).
// With `before` and `after` (frames), only onsets from `before` ahead of a beat of the grid to
// `after` past it count as clicks: when the pads' sounds come between the beats, a step or more
// after one.
class BeatFollower {
 public:
  BeatFollower(const Capture& capture, int64_t beat, int64_t before = kBeatFrames,
               int64_t after = kBeatFrames, int64_t buffer = kLargestBuffer)
      : capture_(capture), beat_(beat), before_(before), after_(after), buffer_(buffer),
        followed_(capture.onsets.size()) {}

  // The beat followed, updated from the clicks heard since the last call.
  int64_t Beat() {
    for (; followed_ < capture_.onsets.size(); ++followed_) {
      int64_t r = (capture_.onsets[followed_] - beat_) % kBeatFrames;
      if (r > kBeatFrames / 2) r -= kBeatFrames;
      if (r < -kBeatFrames / 2) r += kBeatFrames;
      if (r < -before_ || r > after_) continue;
      if (r < 0 || r > buffer_) beat_ += r;
    }
    return beat_;
  }
  // Moves on to the first beat heard at least `lead` seconds from now.
  void SkipTo(double lead) {
    Beat();
    while (capture_.TimeOf(static_cast<double>(beat_)) < Now() + lead) beat_ += kBeatFrames;
  }
  void Next(int beats = 1) { beat_ += beats * kBeatFrames; }

 private:
  const Capture& capture_;
  int64_t beat_;
  int64_t before_, after_, buffer_;
  size_t followed_;
};

void Button(Display* display, unsigned int button, bool down) {
  XTestFakeButtonEvent(display, button, down ? True : False, CurrentTime);
  XFlush(display);
}

// ---- Click to sound ----

// The sound a press started: the first frame from 10 ms before the press's frame (the capture
// clock can err a little late, never early) up to `window` seconds after it that reaches the
// threshold after 30 ms below it; -1 if none. Presses come a step after a beat, when the
// metronome's 50 ms click has ended, and the window ends before the next beat's click, so the
// only attack in it is the press's own sound.
int64_t FindPressOnset(const std::vector<float>& level, int64_t pressFrame, double window) {
  const int64_t from = std::max<int64_t>(Ms(30), pressFrame - Ms(10));
  const int64_t to = std::min<int64_t>(pressFrame + Ms(1000 * window), level.size());
  for (int64_t f = from; f < to; ++f) {
    if (level[f] >= kThreshold && Peak(level, f - Ms(30), f) < kThreshold) return f;
  }
  return -1;
}

// marlune_tapper clicks CAPTURE.wav ROUNDS [HOLD_MS [clear|noclear [BUFFER_FRAMES]]]: ROUNDS rounds of two presses, each the
// step after a beat (a quarter beat, 125 ms, after it) as heard, 3, 7, 11 or 15 ms into that
// step, two beats apart (the pad's sound, up to half a second long, has ended before the next).
// After each round the right button is held 2.3 s, more than a loop, to clear the pad's pattern
// (a note entered would otherwise replay on its step on the next rounds; "noclear": not, for a
// client that keeps no pattern). A click later than its beat by more than a buffer of the
// client's (BUFFER_FRAMES, 2048 if not given) means the audio moved, and the beat follows it,
// as a player who hears the stream slip follows it: with moves up to 2048 frames ignored, a
// stream that fell behind by a few milliseconds at a time had each press aimed early by all
// of it, up to 46 ms, placed before its step, and sounded only when that step began. At the end each
// press is matched with its sound's first onset in the capture; prints per press
// "click BEAT_FRAME OFFSET_MS LATENCY_MS" (or "click BEAT_FRAME OFFSET_MS none"), then
// "clicks N median MEDIAN_MS max MAX_MS missing M".
int Clicks(Display* display, const char* path, int rounds, double holdMs, bool clear, int64_t buffer) {
  // The clock over the last 2 s of polls: each press is placed in the capture as it is made.
  Capture capture(path, 2.0);
  // The kicks come 128 ms or more after a beat (a step and the press's offset), and 375 ms or
  // more before the next; a click up to a buffer after its beat, unless the audio moved.
  BeatFollower beat(capture, FindGrid(capture), Ms(100), Ms(120), buffer);
  constexpr double kStep = 0.125;  // seconds
  const double offsets[] = {0.003, 0.007, 0.011, 0.015};
  struct Press {
    int64_t beat;
    double offset, time;
    double frame;  // the capture frame heard as the press was made
  };
  std::vector<Press> presses;
  beat.SkipTo(0.6);
  for (int r = 0; r < rounds; ++r) {
    for (int k = 0; k < 2; ++k) {
      const double offset = offsets[presses.size() % 4];
      const int64_t b = beat.Beat();
      WaitForHeard(capture, static_cast<double>(b), kStep + offset);
      Button(display, 1, true);
      const double now = Now();
      presses.push_back({b, offset, now, (now - capture.TimeOf(0)) * kRate});
      SleepUntil(presses.back().time + holdMs / 1000.0);
      Button(display, 1, false);
      beat.Next(2);
    }
    // Clear, then skip to a beat far enough on that every replay before the clear has ended.
    if (clear) {
      Button(display, 3, true);
      SleepUntil(Now() + 2.3);
      Button(display, 3, false);
    }
    beat.SkipTo(0.8);
  }
  // Wait until the capture holds half a second after the last press.
  const double deadline = Now() + 10.0;
  while (capture.TimeOf(static_cast<double>(capture.Frames())) <
         presses.back().time + 0.5) {
    if (Now() > deadline) Fail("the capture stopped growing");
    capture.Poll();
    SleepUntil(Now() + 0.01);
  }
  const std::vector<float> level = capture.Levels();
  std::vector<double> latencies;
  for (const Press& press : presses) {
    // Up to the step before the next beat.
    const int64_t onset = FindPressOnset(level, static_cast<int64_t>(press.frame), 2 * kStep);
    if (onset < 0) {
      std::printf("click %lld %.0f none\n", static_cast<long long>(press.beat), press.offset * 1e3);
      continue;
    }
    latencies.push_back((static_cast<double>(onset) - press.frame) / kRate * 1e3);
    std::printf("click %lld %.0f %.2f\n", static_cast<long long>(press.beat), press.offset * 1e3,
                latencies.back());
  }
  std::sort(latencies.begin(), latencies.end());
  const size_t n = latencies.size();
  const double median = n == 0 ? 0.0
                        : n % 2 ? latencies[n / 2]
                                : 0.5 * (latencies[n / 2 - 1] + latencies[n / 2]);
  std::printf("clicks %zu median %.1f max %.1f missing %zu\n", n, median,
              n == 0 ? 0.0 : latencies.back(), presses.size() - n);
  return 0;
}

// Sends WM_DELETE_WINDOW to window `id`, as a window manager does when its close button is hit.
int Close(Window id) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) Fail("cannot open the display");
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = id;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  const Status sent = XSendEvent(display, id, False, NoEventMask, &event);
  XCloseDisplay(display);
  return sent != 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "close") return Close(std::strtoul(argv[2], nullptr, 10));
  if (argc == 3 && std::string(argv[1]) == "judge") return Judge(argv[2]);
  if (argc == 5 && std::string(argv[1]) == "follow") {
    return Follow(argv[2], std::atoll(argv[3]), std::atoi(argv[4]));
  }
  const bool clicks = argc >= 4 && argc <= 7 && std::string(argv[1]) == "clicks";
  if ((argc < 3 || argc > 4) && !clicks) Fail("usage: marlune_tapper CAPTURE.wav HOLD_MS [BUFFER_FRAMES]");
  // The machine may be busy: ask for real-time scheduling so taps leave on time (ignored if
  // not permitted; the lateness of every tap is reported).
  sched_param priority{};
  priority.sched_priority = 10;
  sched_setscheduler(0, SCHED_FIFO, &priority);
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) Fail("cannot open the display");
  if (clicks) {
    const int status = Clicks(display, argv[2], std::atoi(argv[3]), argc >= 5 ? std::atof(argv[4]) : 100.0,
                              !(argc >= 6 && std::string(argv[5]) == "noclear"),
                              argc == 7 ? std::atoll(argv[6]) : kLargestBuffer);
    XCloseDisplay(display);
    return status;
  }
  const double holdMs = std::atof(argv[2]);
  // The clock over the last 2 s of polls, as for the click benchmark: the taps are placed on it.
  Capture capture(argv[1], 2.0);
  const int64_t phase = FindGrid(capture);
  std::printf("grid %lld\n", static_cast<long long>(phase));

  // A click starts on the first buffer inside its step: later than that, the audio has moved.
  BeatFollower beat(capture, phase, kBeatFrames, kBeatFrames, argc == 4 ? std::atoll(argv[3]) : kLargestBuffer);
  beat.SkipTo(0.6);
  for (const double offsetMs : {10.0, 15.0, 20.0, 25.0}) {
    const int64_t b = beat.Beat();
    const double late = WaitForHeard(capture, static_cast<double>(b), offsetMs / 1000.0);
    Button(display, 1, true);
    const double pressed = Now();
    SleepUntil(pressed + holdMs / 1000.0);
    Button(display, 1, false);
    std::printf("tap %lld %.1f %.1f %.2f\n", static_cast<long long>(b), offsetMs, holdMs,
                late * 1000.0);
    std::fflush(stdout);
    beat.Next();
  }
  XCloseDisplay(display);
  return 0;
}
