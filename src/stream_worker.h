#pragma once
// The one thread that owns the audio stream: every call into the stream's library (making it,
// opening, starting and closing a stream, reopening it with another buffer size or after a
// loss, reading its latency) runs here, so a sound server that accepts a connection and never
// answers holds up this thread alone, never the frame loop.
//
// The main thread only posts requests and reads atomics: RequestOpen names each request by a
// number, and the answer the worker gives carries that number, so a late answer to an older
// request (a buffer size chosen while the server hung, then another) is never taken for the
// answer to the newer one; the worker itself goes on to the newest request once it is free.
// A stream opened for an older request stands only until the worker takes up the newer one.
//
// While a stream should run, the worker also supervises it about every kTickMs: when the
// stream supervisor counts it lost it closes it, completes a running recording and says so
// on standard error ("Audio: lost the sound device (...), retrying"), then tries to open it
// again with the current buffer size about once a second and says when sound is back
// ("Audio: sound resumed"); meanwhile it publishes the latency the sound path reports
// (GameState::outputLatency, GameState::heardOffset).
//
// Ending: Stop asks the worker to close the stream and end, and waits for it a bounded time.
// If the worker is then still inside the library (a server that does not answer), Stop says
// so and leaves it: the thread, its device and the library's objects are never touched again,
// not even by the destructor, which detaches the thread and leaks the device; the caller ends
// the process without running exit-time destructors (main does: _exit after the recording is
// complete).
//
// Threads: Start, RequestOpen, Stop and the destructor on the main thread; AnswerTo,
// LatestRequest and Playing from any thread (atomics only, never blocking). The device is made,
// used and destroyed on the worker's thread only.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "stream_device.h"

struct GameState;

class StreamWorker {
 public:
  // Time between two looks at the requests and the stream, milliseconds.
  static constexpr uint32_t kTickMs = 10;

  // What became of a request.
  enum class Answer : uint32_t {
    kPending,   // not answered yet (or the number names no request made)
    kOpened,    // a stream of the requested size (or what the device granted) plays
    kNoDevice,  // there is no output device
    kFailed,    // the stream could not be opened or started; the library's reason is printed
    kRetrying,  // the sound was lost: the size is taken up by the attempts to reopen it
  };
  using MakeDevice = std::function<std::unique_ptr<StreamDevice>()>;

  // state: the game state whose stream this is (its supervisor, recorder, buffer size and the
  // values published to the audio thread).
  explicit StreamWorker(GameState& state) : state_(state) {}
  // Stops the worker as Stop does, waiting at most kDestructorWaitMs (not at all after a Stop
  // that found it stuck); a worker still inside the library is detached and its device leaked.
  ~StreamWorker();
  StreamWorker(const StreamWorker&) = delete;
  StreamWorker& operator=(const StreamWorker&) = delete;

  // Starts the worker thread, which makes its device with make and then opens a stream of
  // `frames` frames per buffer. Returns that request's number. Main thread, once.
  uint32_t Start(MakeDevice make, unsigned int frames);
  // Asks for the stream to be closed and opened again with `frames` frames per buffer.
  // Returns the request's number. Returns at once. Main thread.
  uint32_t RequestOpen(unsigned int frames);
  // The answer to request `request`: kPending until the worker has handled it, and for every
  // number but that of the last request handled. Any thread.
  Answer AnswerTo(uint32_t request) const;
  // The number of the newest request posted (0: none). Any thread.
  uint32_t LatestRequest() const {
    return static_cast<uint32_t>(request_.load(std::memory_order_acquire) >> 32);
  }
  // True while a stream plays (from its start until it is lost or closed). Any thread.
  bool Playing() const { return playing_.load(std::memory_order_acquire); }
  // Asks the worker to close the stream and end, and waits at most waitMs for it. True when
  // it has ended (or never started); false when it is still inside the library, and then
  // nothing may touch the library again (see above). Main thread.
  bool Stop(uint32_t waitMs);

  // Longest wait of the destructor for the worker to end, milliseconds.
  static constexpr uint32_t kDestructorWaitMs = 3000;

 private:
  void Run(MakeDevice make);
  void Loop();
  // Handles request `request` for a buffer of `frames` frames.
  void HandleRequest(uint32_t request, unsigned int frames);
  // Acts on the supervisor's verdict and reads the stream's latency. Once per tick.
  void Supervise();
  // Opens and starts a stream of frames; retrying: after a loss, carrying the stream time on.
  Answer OpenStream(unsigned int frames, bool retrying, uint32_t request);
  void CloseStream();
  void PostAnswer(uint32_t request, Answer answer);

  GameState& state_;
  std::thread thread_;
  bool started_ = false;
  // The newest request: its number (high 32 bits) and buffer size, frames (low 32 bits).
  std::atomic<uint64_t> request_{0};
  // The last answer: the request's number (high 32 bits) and the Answer (low 32 bits).
  std::atomic<uint64_t> answer_{0};
  std::atomic<bool> quit_{false};
  std::atomic<bool> ended_{false};
  std::atomic<bool> playing_{false};
  // Worker thread only: made and deleted there, never by the destructor, so a worker left
  // inside the library at exit keeps its device (leaked) and nothing frees it under it.
  StreamDevice* device_ = nullptr;
  uint32_t handled_ = 0;
};
