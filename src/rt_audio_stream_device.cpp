#include "rt_audio_stream_device.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <exception>

#include "RtAudio.h"
#include "Stk.h"
#include "audio_mixer.h"
#include "callback_timer.h"
#include "stream_latency.h"
#include "stream_supervisor.h"

namespace {
#ifdef MARLUNE_AUDIO_PROBES
// The probe build times every buffer (reported at shutdown).
constexpr RtAudioCallback kStreamCallback = &callback_timer::TimedAudioMixerCallback;
#else
constexpr RtAudioCallback kStreamCallback = &AudioMixerCallback;
#endif

// The library's error callback takes no user data: the supervisor of the one device.
std::atomic<StreamSupervisor*> errorSink{nullptr};

// The audio library reports its errors here instead of printing them: from its audio thread
// (a failed write each buffer once the server is gone) and from the thread that called it.
void OnStreamError(RtAudioError::Type type, const std::string& text) {
  StreamSupervisor* supervisor = errorSink.load(std::memory_order_acquire);
  if (supervisor == nullptr) return;
  const bool fatal = type != RtAudioError::WARNING && type != RtAudioError::DEBUG_WARNING;
  supervisor->ReportError(fatal, text);
}

// The path whose latency reports a stream of the audio library's back end api gets.
StreamLatency::Path LatencyPath(RtAudio::Api api) {
  switch (api) {
    case RtAudio::LINUX_PULSE: return StreamLatency::Path::kPulse;
    case RtAudio::UNIX_JACK: return StreamLatency::Path::kJack;
    case RtAudio::LINUX_ALSA: return StreamLatency::Path::kAlsa;
    default: return StreamLatency::Path::kNone;
  }
}

// While it lives, the calling thread runs real-time (SCHED_RR at priority), where
// the system allows it; then it returns to its own scheduling. Threads started meanwhile
// inherit it: the audio library starts the stream's audio thread, and the PulseAudio client's
// I/O thread that carries every buffer to the server, while it opens and starts the stream,
// so both run real-time. Where real-time scheduling is refused, they run normally.
class RealtimeWhileOpening {
 public:
  explicit RealtimeWhileOpening(int priority) {
    if (pthread_getschedparam(pthread_self(), &policy_, &param_) != 0) return;
    sched_param realtime{};
    realtime.sched_priority = priority;
    raised_ = pthread_setschedparam(pthread_self(), SCHED_RR, &realtime) == 0;
  }
  ~RealtimeWhileOpening() {
    if (raised_) pthread_setschedparam(pthread_self(), policy_, &param_);
  }
  RealtimeWhileOpening(const RealtimeWhileOpening&) = delete;
  RealtimeWhileOpening& operator=(const RealtimeWhileOpening&) = delete;

 private:
  int policy_ = SCHED_OTHER;
  sched_param param_{};
  bool raised_ = false;
};
}  // namespace

RtAudioStreamDevice::RtAudioStreamDevice(StreamSupervisor& supervisor, unsigned int buffers,
                                         int priority)
    : supervisor_(supervisor),
      buffers_(buffers),
      priority_(priority),
      latency_(std::make_unique<StreamLatency>()) {
  errorSink.store(&supervisor, std::memory_order_release);
  audio_ = std::make_unique<RtAudio>(RtAudio::UNSPECIFIED);
  // The library's warnings would be printed once per buffer while a sound server is gone;
  // the stream's errors reach the supervisor instead, and the program says what matters.
  audio_->showWarnings(false);
}

RtAudioStreamDevice::~RtAudioStreamDevice() {
  Close();
  audio_.reset();
  errorSink.store(nullptr, std::memory_order_release);
}

std::string RtAudioStreamDevice::Failure(const char* fallback) {
  const std::string reason = supervisor_.TakeOpenError();
  return reason.empty() ? fallback : reason;
}

unsigned int RtAudioStreamDevice::DeviceCount() {
  try {
    return audio_->getDeviceCount();
  } catch (std::exception&) {
    return 0;
  }
}

bool RtAudioStreamDevice::Open(unsigned int* frames, std::string* message) {
  supervisor_.TakeOpenError();  // an older failure is not this one's reason
  try {
    RtAudio::StreamParameters output;
    output.deviceId = audio_->getDefaultOutputDevice();
    output.nChannels = 2;
    output.firstChannel = 0;
    RtAudio::StreamOptions options;
    options.numberOfBuffers = buffers_;
    // A busy desktop (a browser churning memory, say) holds a normal thread off for longer
    // than the smaller buffers last; a real-time thread is not. The stream's threads inherit
    // real-time scheduling from the opening thread (the library's own request for it would
    // also print a line from its audio thread, into the middle of the program's messages).
    const double rate = stk::Stk::sampleRate();
    if (LatencyPath(audio_->getCurrentApi()) == StreamLatency::Path::kPulse) {
      StreamLatency::AskPulse(StreamLatency::PulseQueue(buffers_, *frames, rate));
    }
    RealtimeWhileOpening realtime(priority_);
    // With an error callback installed the library reports its failures there, not by
    // throwing: the reason it gave is what a failure says.
    audio_->openStream(&output, nullptr, RTAUDIO_FLOAT64, static_cast<unsigned int>(rate),
                       frames, kStreamCallback, nullptr, &options, &OnStreamError);
    if (audio_->isStreamOpen()) {
      frames_ = *frames;
      return true;
    }
    *message = Failure("the audio stream did not open");
  } catch (std::exception& error) {
    *message = error.what();
  }
  Close();
  return false;
}

double RtAudioStreamDevice::OpeningLatency() {
  // JACK reports the latency of the ports it plays through (0 where its driver adds none);
  // the other back ends report theirs only once the stream plays.
  if (audio_->getCurrentApi() != RtAudio::UNIX_JACK) return -1.0;
  try {
    return static_cast<double>(audio_->getStreamLatency()) / SampleRate();
  } catch (std::exception&) {
    return -1.0;
  }
}

double RtAudioStreamDevice::SampleRate() {
  // The library must not be asked about a stream that is not open: it reports that as an error.
  if (!audio_->isStreamOpen()) return stk::Stk::sampleRate();
  return static_cast<double>(audio_->getStreamSampleRate());
}

void RtAudioStreamDevice::SetStreamTime(double seconds) {
  try {
    audio_->setStreamTime(seconds);
  } catch (std::exception&) {
  }
}

bool RtAudioStreamDevice::Start(std::string* message) {
  try {
    RealtimeWhileOpening realtime(priority_);
    audio_->startStream();
    if (audio_->isStreamRunning()) {
      latency_->Start(*audio_, LatencyPath(audio_->getCurrentApi()), SampleRate(), frames_);
      return true;
    }
    *message = Failure("the audio stream did not start");
  } catch (std::exception& error) {
    *message = error.what();
  }
  return false;
}

void RtAudioStreamDevice::Close() {
  latency_->Stop();
  try {
    // The mixer has stopped the stream's thread if the stream was lost; closing joins it and
    // frees the stream, and closing a broken stream frees it all the same.
    if (audio_ && audio_->isStreamOpen()) audio_->closeStream();
  } catch (std::exception&) {
  }
}

bool RtAudioStreamDevice::IsOpen() { return audio_->isStreamOpen(); }

void RtAudioStreamDevice::ReadLatency(uint32_t nowMs, double lastStreamTime, double* seconds,
                                      double* heardOffset) {
  latency_->Poll(nowMs, lastStreamTime);
  *seconds = latency_->Seconds();
  *heardOffset = latency_->HeardOffset();
}
