#include "stream_worker.h"

#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <limits>

#include "game_state.h"

namespace {
uint64_t Pack(uint32_t high, uint32_t low) { return (static_cast<uint64_t>(high) << 32) | low; }
}  // namespace

StreamWorker::~StreamWorker() {
  if (!started_) return;
  // A Stop that found the worker stuck is not waited out a second time.
  const bool stopped = quit_.load() ? ended_.load(std::memory_order_acquire)
                                    : Stop(kDestructorWaitMs);
  if (stopped) {
    if (thread_.joinable()) thread_.join();
  } else if (thread_.joinable()) {
    // Still inside the library: neither it nor its device may be touched (see the header).
    thread_.detach();
  }
}

uint32_t StreamWorker::Start(MakeDevice make, unsigned int frames) {
  const uint32_t request = LatestRequest() + 1;
  request_.store(Pack(request, frames), std::memory_order_release);
  started_ = true;
  thread_ = std::thread(&StreamWorker::Run, this, std::move(make));
  return request;
}

uint32_t StreamWorker::RequestOpen(unsigned int frames) {
  const uint32_t request = LatestRequest() + 1;
  request_.store(Pack(request, frames), std::memory_order_release);
  return request;
}

StreamWorker::Answer StreamWorker::AnswerTo(uint32_t request) const {
  const uint64_t answer = answer_.load(std::memory_order_acquire);
  if (request == 0 || static_cast<uint32_t>(answer >> 32) != request) return Answer::kPending;
  return static_cast<Answer>(static_cast<uint32_t>(answer));
}

bool StreamWorker::Stop(uint32_t waitMs) {
  if (!started_) return true;
  quit_.store(true, std::memory_order_release);
  for (uint32_t waited = 0; !ended_.load(std::memory_order_acquire); ++waited) {
    if (waited >= waitMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (thread_.joinable()) thread_.join();
  return true;
}

void StreamWorker::Run(MakeDevice make) {
  // No exception of the library may end the program from here: one that escapes ends the
  // worker with a line saying so, and the program plays on without sound.
  try {
    device_ = make().release();
    Loop();
  } catch (std::exception& error) {
    std::fprintf(stderr, "Audio: the sound stream stopped (%s)\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "Audio: the sound stream stopped\n");
  }
  playing_.store(false, std::memory_order_release);
  try {
    if (device_) CloseStream();
  } catch (...) {
  }
  delete device_;
  device_ = nullptr;
  state_.recorder.SetStreamRunning(false);
  ended_.store(true, std::memory_order_release);
}

void StreamWorker::Loop() {
  while (!quit_.load(std::memory_order_acquire)) {
    const uint64_t wanted = request_.load(std::memory_order_acquire);
    const uint32_t request = static_cast<uint32_t>(wanted >> 32);
    if (request != handled_) {
      handled_ = request;
      HandleRequest(request, static_cast<uint32_t>(wanted));
      continue;
    }
    Supervise();
    std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
  }
}

void StreamWorker::PostAnswer(uint32_t request, Answer answer) {
  answer_.store(Pack(request, static_cast<uint32_t>(answer)), std::memory_order_release);
}

void StreamWorker::HandleRequest(uint32_t request, unsigned int frames) {
  if (state_.streamSupervisor.Lost()) {
    // No sound server to ask: the next attempt to reopen uses the new size.
    PostAnswer(request, Answer::kRetrying);
    return;
  }
  CloseStream();
  PostAnswer(request, OpenStream(frames, false, request));
}

void StreamWorker::CloseStream() {
  playing_.store(false, std::memory_order_release);
  state_.streamSupervisor.Stopped();
  device_->Close();
  state_.recorder.SetStreamRunning(false);
}

void StreamWorker::Supervise() {
  StreamSupervisor& supervisor = state_.streamSupervisor;
  // A JACK server that shuts the program's client down has the library close the stream by
  // itself, from a thread of its own and without reporting an error. The stream stops counting
  // as open as the last step of that close: from then on it is a lost stream like any other.
  if (supervisor.Running() && !device_->IsOpen()) {
    supervisor.ReportError(true, "the sound server closed the stream");
  }
  const uint32_t now = SDL_GetTicks();
  switch (supervisor.Poll(now)) {
    case StreamSupervisor::Action::kNone:
      if (supervisor.Running()) {
        double seconds = -1.0;
        double offset = std::numeric_limits<double>::quiet_NaN();
        device_->ReadLatency(now, state_.lastStreamTime.load(std::memory_order_relaxed),
                             &seconds, &offset);
        if (seconds >= 0.0) state_.outputLatency.store(seconds, std::memory_order_relaxed);
        state_.heardOffset.store(offset, std::memory_order_relaxed);
      }
      return;
    case StreamSupervisor::Action::kClose:
      // The mixer has stopped the stream's thread; closing joins it and frees the stream.
      playing_.store(false, std::memory_order_release);
      device_->Close();
      state_.recorder.SetStreamRunning(false);
      state_.StopRecording();
      std::fprintf(stderr, "Audio: lost the sound device (%s), retrying\n",
                   supervisor.LossReason());
      return;
    case StreamSupervisor::Action::kRetry:
      if (OpenStream(state_.bufferFrames.load(), true, handled_) == Answer::kOpened) {
        std::fprintf(stderr, "Audio: sound resumed\n");
      }
      return;
  }
}

StreamWorker::Answer StreamWorker::OpenStream(unsigned int frames, bool retrying,
                                              uint32_t request) {
  StreamSupervisor& supervisor = state_.streamSupervisor;
  if (device_->DeviceCount() == 0) {
    if (retrying) return Answer::kRetrying;
    supervisor.StartFailed();
    return Answer::kNoDevice;
  }
  unsigned int granted = frames;
  std::string message;
  bool started = false;
  if (device_->Open(&granted, &message)) {
    // The menu shows the size granted, unless a newer size was asked for meanwhile.
    state_.bufferFrames.compare_exchange_strong(frames, granted);
    const double rate = device_->SampleRate();
    state_.SetStreamRate(rate);
    // Until the path that plays the stream reports its latency (read every tick from
    // Supervise), the buffer a callback renders is taken to be heard after the others queued:
    // the latency the device gave at opening, or kStreamBuffers buffers but the one being
    // rendered.
    const double reported = device_->OpeningLatency();
    state_.outputLatency.store(reported >= 0.0 ? reported
                                               : (GameState::kStreamBuffers - 1) *
                                                     static_cast<double>(granted) / rate);
    if (granted > GameState::kMaxBufferFrames) {
      std::fprintf(stderr, "Error: audio buffer of %u frames is larger than %u\n", granted,
                   GameState::kMaxBufferFrames);
    }
    // A reopened stream carries on from the buffer after the last one played, so the loop
    // resumes at the step where it stopped.
    if (retrying) device_->SetStreamTime(state_.lastStreamTime.load() + granted / rate);
    state_.heardOffset.store(std::numeric_limits<double>::quiet_NaN(), std::memory_order_relaxed);
    supervisor.Starting();
    state_.streamGeneration.fetch_add(1, std::memory_order_release);
    state_.recorder.SetStreamRunning(true);
    started = device_->Start(&message);
  }
  if (started) {
    playing_.store(true, std::memory_order_release);
    return Answer::kOpened;
  }
  supervisor.StartFailed();
  device_->Close();
  state_.recorder.SetStreamRunning(false);
  if (retrying) return Answer::kRetrying;
  // The library's reason, as it prints its errors; only for the newest request, which ends
  // the program (an older one is followed by the newer request at once).
  if (request == LatestRequest()) std::fprintf(stderr, "\n%s\n\n", message.c_str());
  return Answer::kFailed;
}
