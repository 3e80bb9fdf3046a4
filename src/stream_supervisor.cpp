#include "stream_supervisor.h"

namespace {
void CopyText(const std::string& text, char* to, size_t size) {
  const size_t n = text.size() < size - 1 ? text.size() : size - 1;
  for (size_t i = 0; i < n; ++i) to[i] = text[i];
  to[n] = '\0';
}
}  // namespace

bool StreamSupervisor::IsPlainUnderrun(const std::string& text) {
  // ALSA's "audio write error, underrun.": the device was prepared again, that buffer is lost
  // and the device plays on. Its "error preparing device after underrun" is a failed recovery:
  // every write fails from then on, so it counts like any other error.
  return text.find("audio write error, underrun") != std::string::npos;
}

void StreamSupervisor::ReportError(bool fatal, const std::string& text) {
  if (!armed_.load(std::memory_order_acquire)) {
    // No stream runs: the main thread is opening or starting one and prints why it failed.
    if (!openErrorClaimed_.exchange(true, std::memory_order_acq_rel)) {
      CopyText(text, openError_, sizeof openError_);
      openErrorReady_.store(true, std::memory_order_release);
    }
    return;
  }
  errorSinceBuffer_.store(true, std::memory_order_relaxed);
  if (!fatal && IsPlainUnderrun(text)) return;
  const uint32_t errors = errorsInARow_.fetch_add(1, std::memory_order_relaxed) + 1;
  if (!fatal && errors < kErrorsForLoss) return;
  if (claimed_.exchange(true, std::memory_order_acq_rel)) return;
  // Only the error that claimed the loss writes the reason; the main thread reads it after
  // seeing lost_, and it is not written again before the next Starting.
  CopyText(text, reason_, sizeof reason_);
  lost_.store(true, std::memory_order_release);
}

StreamSupervisor::Buffer StreamSupervisor::BeginBuffer() {
  if (claimed_.load(std::memory_order_acquire)) return Buffer::kStop;
  if (errorSinceBuffer_.exchange(false, std::memory_order_relaxed)) return Buffer::kUnrecorded;
  errorsInARow_.store(0, std::memory_order_relaxed);
  return Buffer::kPlay;
}

void StreamSupervisor::Starting() {
  errorsInARow_.store(0, std::memory_order_relaxed);
  errorSinceBuffer_.store(false, std::memory_order_relaxed);
  lost_.store(false, std::memory_order_relaxed);
  claimed_.store(false, std::memory_order_relaxed);
  reason_[0] = '\0';
  state_ = State::kRunning;
  armed_.store(true, std::memory_order_release);
}

void StreamSupervisor::StartFailed() {
  armed_.store(false, std::memory_order_release);
  state_ = State::kLost;
}

void StreamSupervisor::Stopped() {
  armed_.store(false, std::memory_order_release);
  state_ = State::kStopped;
}

StreamSupervisor::Action StreamSupervisor::Poll(uint32_t nowMs) {
  switch (state_) {
    case State::kStopped:
      return Action::kNone;
    case State::kRunning:
      if (!lost_.load(std::memory_order_acquire)) return Action::kNone;
      armed_.store(false, std::memory_order_release);
      state_ = State::kLost;
      nextRetryMs_ = nowMs + kRetryIntervalMs;
      return Action::kClose;
    case State::kLost:
      if (static_cast<int32_t>(nowMs - nextRetryMs_) < 0) return Action::kNone;
      nextRetryMs_ = nowMs + kRetryIntervalMs;
      return Action::kRetry;
  }
  return Action::kNone;
}

std::string StreamSupervisor::TakeOpenError() {
  if (!openErrorReady_.load(std::memory_order_acquire)) return "";
  std::string text = openError_;
  openErrorReady_.store(false, std::memory_order_relaxed);
  openErrorClaimed_.store(false, std::memory_order_release);
  return text;
}
