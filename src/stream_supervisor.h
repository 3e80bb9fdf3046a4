#pragma once
// Watches the audio stream for failure (the sound server went away, the device was unplugged)
// and paces the attempts to open it again. It holds no audio library object: the game state
// reports the library's errors to it, the mixer asks it each buffer whether to play, and the
// stream worker asks it about every 10 ms what to do with the stream.
//
// How a failure is told from a hiccup: the library reports a failed write as a warning. A
// device that underran reports one and then plays on; a lost connection fails every buffer at
// once, so the audio thread would spin through buffers that nobody hears. The stream counts as
// lost after kErrorsForLoss errors with no clean buffer between them, or at once on an error
// the library treats as fatal; a plain underrun (the device is there, the buffer came too late,
// the device was prepared again) never counts towards a loss, but a failed recovery from one
// (ALSA's "error preparing device after underrun") does. From then on the mixer stops the
// stream (no spinning), and the stream worker closes it and retries about once a second.
//
// The library reports a failed write after the callback that rendered the buffer has returned
// and before the next one begins: an error between two buffers means the earlier one was
// never played. The mixer therefore records each buffer only when the next one begins without
// an error since (BeginBuffer), so a recording holds exactly what was played.
//
// Threads: ReportError and IsPlainUnderrun from any thread (the library reports from its
// audio thread and from the thread that called it), lock- and allocation-free. BeginBuffer:
// audio thread only. Poll, Starting, StartFailed, Stopped, Lost, Running, LossReason,
// TakeOpenError: the thread that owns the stream only (the stream worker's, stream_worker.h).

#include <atomic>
#include <cstdint>
#include <string>

class StreamSupervisor {
 public:
  // Errors in a row, with no clean buffer between them, that mean the stream is lost.
  static constexpr uint32_t kErrorsForLoss = 4;
  // Time between two attempts to open the stream again, milliseconds.
  static constexpr uint32_t kRetryIntervalMs = 1000;

  // What the mixer does as a buffer begins.
  enum class Buffer {
    kPlay,        // render it; the previous buffer was played: record that one
    kUnrecorded,  // render it; the previous buffer's write failed: it is not recorded
    kStop,        // the stream is lost: render silence and stop the stream
  };
  // What the stream worker does with the stream now.
  enum class Action {
    kNone,
    kClose,  // the stream was lost: close it, complete the recording, say so once
    kRetry,  // time for another attempt to open it
  };

  // Notes an error of the audio library; fatal for the kinds it does not play on after.
  // Counted only while the stream runs (from Starting to the next loss or Stopped). Any
  // thread; lock- and allocation-free.
  void ReportError(bool fatal, const std::string& text);
  // Fate of the buffer that starts now and of the one before it. Audio thread only.
  Buffer BeginBuffer();
  // True for the library's warning of a plain underrun, which the device recovered from.
  // Any thread.
  static bool IsPlainUnderrun(const std::string& text);

  // The stream is about to start (first opening, a new buffer size, a retry that opened it):
  // errors count from zero. Stream worker, after the stream is opened and before it starts, so
  // the first buffer never sees the previous loss.
  void Starting();
  // The stream could not be opened or started: it counts as lost and is retried. Stream
  // worker.
  void StartFailed();
  // The stream is closed on purpose (shutdown, a new buffer size): no errors count, no retry.
  // Stream worker.
  void Stopped();
  // What to do now, at nowMs on a millisecond clock (wrapping 32-bit). Stream worker, about
  // every 10 ms.
  Action Poll(uint32_t nowMs);
  // True from a loss until Starting or Stopped. Stream worker.
  bool Lost() const { return state_ == State::kLost; }
  // True from Starting until a loss is acted on or Stopped: the stream should be running.
  // Stream worker.
  bool Running() const { return state_ == State::kRunning; }
  // The library's message for the error that made the stream count as lost. Stream worker,
  // after Poll returned kClose.
  const char* LossReason() const { return reason_; }
  // The library's message for the first error reported while no stream ran (opening or
  // starting one failed) since the last call, or "" when there was none. Stream worker.
  std::string TakeOpenError();

 private:
  enum class State { kStopped, kRunning, kLost };

  State state_ = State::kStopped;
  uint32_t nextRetryMs_ = 0;
  std::atomic<bool> armed_{false};
  std::atomic<uint32_t> errorsInARow_{0};
  std::atomic<bool> errorSinceBuffer_{false};
  std::atomic<bool> claimed_{false};  // one error has taken the loss (and writes reason_)
  std::atomic<bool> lost_{false};     // reason_ is written
  char reason_[256] = {};
  std::atomic<bool> openErrorClaimed_{false};  // one error has taken openError_
  std::atomic<bool> openErrorReady_{false};    // openError_ is written
  char openError_[256] = {};
};
