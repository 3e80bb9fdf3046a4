#include "stream_latency.h"

#include <jack/jack.h>
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "RtAudio.h"
#include "input_source.h"

namespace {
constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// The audio library opens its PulseAudio stream through libpulse's simple API and keeps it
// out of reach: in its back end's stream record (RtApi::stream_, protected), whose handle
// starts with the playback stream (its PulseAudioHandle). Pointers to the protected members,
// formed in classes derived for that alone, reach them without copying any of the library's
// code; the layout is that of the version checked here.
static_assert(sizeof(RTAUDIO_VERSION) == sizeof("5.2.0"), "the PulseAudio handle's layout is that of RtAudio 5.2.0");
class AudioAccess : public RtAudio {
 public:
  static RtApi* Api(RtAudio& audio) { return audio.*(&AudioAccess::rtapi_); }
};
class ApiAccess : public RtApi {
 public:
  static void* Handle(RtApi* api) { return (api->*(&ApiAccess::stream_)).apiHandle; }
};

pa_simple* PulsePlaybackStream(RtAudio& audio) {
  if (audio.getCurrentApi() != RtAudio::LINUX_PULSE || !audio.isStreamOpen()) return nullptr;
  RtApi* api = AudioAccess::Api(audio);
  void* handle = api != nullptr ? ApiAccess::Handle(api) : nullptr;
  return handle != nullptr ? *static_cast<pa_simple**>(handle) : nullptr;
}
}  // namespace

double StreamLatency::FromOffsetReadings(const double* offsets, int count, double bufferSeconds) {
  double best = kNone;
  for (int i = 0; i < count; ++i) {
    // The first, any larger, and one that shows the stream fell behind.
    const bool fellBehind = offsets[i] < best - bufferSeconds - kReadingNoise;
    if (!(offsets[i] <= best) || fellBehind) best = offsets[i];
  }
  return best;
}

// The stream's latency as libpulse tells it. libpulse keeps it current from the server's
// timing reports and interpolates between them; asking takes the stream's main-loop lock for
// the computation only.
class StreamLatency::Pulse {
 public:
  Pulse(pa_simple* stream, double bufferSeconds) : stream_(stream), bufferSeconds_(bufferSeconds) {}

  // lastStreamTime read before the latency is asked for: a callback in between makes the
  // reading low, never high. The press clock is read after the answer, for the same reason:
  // asking waits for libpulse's lock, which its own thread may hold for a while on a busy
  // machine.
  void Read(double lastStreamTime) {
    int error = 0;
    const pa_usec_t latency = pa_simple_get_latency(stream_, &error);
    const uint32_t nowMs = Input().TicksMs();
    if (latency == static_cast<pa_usec_t>(-1)) return;
    // Oldest first: the oldest of a full window makes way.
    if (count_ == kSamples) {
      std::copy(offsets_ + 1, offsets_ + kSamples, offsets_);
    } else {
      ++count_;
    }
    offsets_[count_ - 1] = lastStreamTime - static_cast<double>(latency) / 1e6 - nowMs / 1000.0;
  }

  double Offset() const { return FromOffsetReadings(offsets_, count_, bufferSeconds_); }

 private:
  pa_simple* stream_;
  double bufferSeconds_;
  double offsets_[kSamples] = {};
  int count_ = 0;
};

// JACK's playback latency of the ports the stream feeds (the physical playback ports), read
// through a client of our own without ports from the server's shared memory.
class StreamLatency::Jack {
 public:
  Jack() {
    jack_status_t status{};
    client_ = jack_client_open("Marlune latency", JackNoStartServer, &status);
    if (client_ == nullptr) return;
    jack_on_shutdown(client_, &OnShutdown, this);
    const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsPhysical | JackPortIsInput);
    if (ports == nullptr) return;
    if (ports[0] != nullptr) port_ = jack_port_by_name(client_, ports[0]);
    jack_free(ports);
  }
  ~Jack() {
    if (client_ != nullptr) jack_client_close(client_);
  }
  Jack(const Jack&) = delete;
  Jack& operator=(const Jack&) = delete;

  // Frames, or negative when there is nothing to read.
  long Frames() const {
    if (port_ == nullptr || shutDown_.load()) return -1;
    jack_latency_range_t range{};
    jack_port_get_latency_range(port_, JackPlaybackLatency, &range);
    return static_cast<long>(range.max);
  }

 private:
  // The server went away (called on JACK's thread): the client is only closed from then on.
  static void OnShutdown(void* arg) { static_cast<Jack*>(arg)->shutDown_.store(true); }

  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;
  std::atomic<bool> shutDown_{false};
};

void StreamLatency::AskPulse(double seconds) {
  const long ms = std::max(1L, static_cast<long>(std::ceil(seconds * 1000.0 - 1e-9)));
  char text[24];
  std::snprintf(text, sizeof text, "%ld", ms);
  setenv("PULSE_LATENCY_MSEC", text, 1);
}

double StreamLatency::PulseQueue(unsigned int buffers, unsigned int frames, double rate) {
  const double buffer = frames / rate;
  const double shortest = std::ceil(kPulseShortestQueue / buffer - 1e-9);
  return std::max(static_cast<double>(buffers), shortest) * buffer;
}

StreamLatency::StreamLatency() = default;
StreamLatency::~StreamLatency() = default;

void StreamLatency::Start(RtAudio& audio, Path path, double rate, unsigned int frames) {
  Stop();
  audio_ = &audio;
  path_ = path;
  rate_ = rate;
  started_ = false;
  if (path == Path::kPulse) {
    pa_simple* stream = PulsePlaybackStream(audio);
    if (stream != nullptr) pulse_ = std::make_unique<Pulse>(stream, frames / rate);
  } else if (path == Path::kJack) {
    jack_ = std::make_unique<Jack>();
  }
}

void StreamLatency::Stop() {
  pulse_.reset();
  jack_.reset();
  path_ = Path::kNone;
  seconds_ = -1.0;
}

void StreamLatency::Poll(uint32_t nowMs, double lastStreamTime) {
  if (!started_) {
    started_ = true;
    startMs_ = nowMs;
  }
  switch (path_) {
    case Path::kPulse:
      // libpulse waits for the server's first timing report if it has none: ask only once
      // the stream has played for a while, so the answer is there.
      if (pulse_ && nowMs - startMs_ >= kSettleMs && nowMs - lastReadMs_ >= kQueryIntervalMs) {
        lastReadMs_ = nowMs;
        pulse_->Read(lastStreamTime);
      }
      return;
    case Path::kJack:
      if (jack_ && jack_->Frames() >= 0) seconds_ = static_cast<double>(jack_->Frames()) / rate_;
      return;
    case Path::kAlsa: {
      // The audio library reads the device's delay after each buffer it writes.
      const long frames = audio_->getStreamLatency();
      if (frames > 0) seconds_ = static_cast<double>(frames) / rate_;
      return;
    }
    case Path::kNone:
      return;
  }
}

double StreamLatency::HeardOffset() const { return pulse_ ? pulse_->Offset() : kNone; }
