#pragma once
// Records the final mix to WAV files without ever making the audio thread wait.
//
// Each recording is a take, numbered from 1 in the order the audio thread starts them. The
// audio callback hands every played buffer of a running take to Capture, which only converts it
// to 16-bit frames and copies them into a preallocated lock-free ring (eight seconds by
// default). A writer thread of its own, started once with StartWriter, takes the frames out
// about every 10 ms and does all the file work: it creates the take's file (named by
// RecordingFolder, reserved with an exclusive create), appends, keeps the header's sizes up to
// date after every append and flushes the file to the device once a second, and completes and
// closes it. Takes start and stop only where the audio thread marks them, in a second small
// lock-free queue, at their exact position in the stream of frames and with their take number,
// so a take holds exactly the buffers from the one in which it started up to the one in which
// it stopped, however late the writer gets to them. If the ring is ever full the frames that
// do not fit are dropped, counted, and reported when the file is closed; the callback never
// blocks.
//
// Every request from another thread names its take, so it can never act on the next one: a
// stop asked for from outside the audio thread (RequestStop) is marked by the audio thread at
// its next buffer; only while no stream runs (SetStreamRunning), or as the process ends, does
// the writer end the running take itself, after the frames captured up to then.
//
// A file that cannot be created, written or closed (a folder that cannot be written, a full
// disk, a file reaching 4 GiB or the process's file size limit) ends that take only: the file
// is cut back to its last whole frame and its header completed, Failed() turns true (the
// record pad shows "ERR"), one message naming the cause goes to standard error, and the audio
// thread stops capturing that take at its next buffer. A take refused at its start because the
// writer is far behind (the mark queue is full) fails the same way, with one message from the
// writer. Nothing here throws.
//
// Threads:
// - StartWriter, StopWriter, Drain, SetDataLimit, SetStreamRunning, HoldWriter: main thread
//   (or a test's).
// - StartCapture, StopCapture, Capturing, Capture: the audio thread only (the one producer).
// - RequestStop, RunningTake, Recording, Failed, DroppedFrames: any thread; never block.
// - ExitWhenComplete: async-signal-safe.
// - Everything else runs on the writer thread.

#include <pthread.h>
#include <sys/types.h>

#include <boost/lockfree/spsc_queue.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

#include "wav_file.h"

class Recorder {
 public:
  static constexpr unsigned int kChannels = 2;
  // Frames per second of the stream and of the files.
  static constexpr unsigned int kRate = 44100;
  // Ring capacity, frames: eight seconds of a disk that does not answer.
  static constexpr size_t kDefaultRingFrames = 8 * kRate;

  // The 16-bit sample a file holds for value (full scale +-1, rounded, clipped). Any thread.
  static int16_t ToSample(double value);

  // ringFrames: ring capacity, frames. Allocates the ring; starts no thread.
  explicit Recorder(size_t ringFrames = kDefaultRingFrames);
  // Stops the writer, completing an open recording.
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Starts the writer thread; does nothing if it runs. Main thread.
  void StartWriter();
  // Completes an open recording with every frame captured so far, then ends and joins the
  // writer thread. Main thread.
  void StopWriter();
  // Waits until the writer has handled every frame, start and stop posted so far (returns at
  // once when the writer does not run). Main thread.
  void Drain();
  // Lowers the largest data size of later files, bytes (tests). Main thread, before a start.
  void SetDataLimit(uint64_t bytes) { dataLimit_.store(bytes, std::memory_order_relaxed); }
  // Whether an audio stream runs, so that the audio thread will mark the stops asked for.
  // Main thread: true before a stream starts, false once it is closed (no callback runs).
  void SetStreamRunning(bool running) { streamRunning_.store(running, std::memory_order_release); }
  // Holds the writer before its next pass while held is true, as a slow device would (tests).
  // Main thread.
  void HoldWriter(bool held) { held_.store(held, std::memory_order_release); }

  // Starts a new take with the current buffer (the one Capture is called for next). Does
  // nothing while capturing. Audio thread only.
  void StartCapture();
  // Stops the running take: the current buffer is no longer part of it. Audio thread only.
  void StopCapture();
  // True while the audio thread captures for a take; first ends a take that was asked to stop
  // or whose file failed. Audio thread only.
  bool Capturing();
  // Copies nFrames interleaved stereo samples (full scale +-1) of the running take into the
  // ring: a buffer rendered while it ran, handed over once it is known to have been played,
  // so stops asked for since are left for Capturing. Never allocates, locks or waits. Audio
  // thread only.
  void Capture(const double* interleaved, unsigned int nFrames);

  // Asks for take `take` to stop and be completed; a take that has already ended, or 0, is left
  // alone. Recording() turns false at once; the audio thread ends the take at its next buffer
  // and the writer closes the file there. With no stream running, the writer closes it after
  // the frames captured so far. Safe from any thread.
  void RequestStop(uint64_t take);
  // The take the audio thread captures for, or 0. Any thread.
  uint64_t RunningTake() const { return runningTake_.load(std::memory_order_acquire); }
  // True while a take runs and has not been asked to stop. Any thread.
  bool Recording() const {
    const uint64_t take = RunningTake();
    return take != 0 && take > stopRequested_.load(std::memory_order_acquire);
  }
  // True when the last take started failed to be created, written or closed, until the next
  // start. Any thread.
  bool Failed() const {
    const uint64_t failed = failedTake_.load(std::memory_order_acquire);
    return failed != 0 && failed == lastTake_.load(std::memory_order_acquire);
  }
  // Frames dropped because the ring was full, since the program started. Any thread.
  long long DroppedFrames() const { return dropped_.load(std::memory_order_relaxed); }

  // Ends the process with status as soon as an open recording is complete: the writer closes
  // the running take after the frames captured up to now and calls _exit(status); with no
  // writer running the process ends at once. Async-signal-safe.
  void ExitWhenComplete(int status);

 private:
  struct Frame {
    int16_t left;
    int16_t right;
  };
  enum class Mark : uint8_t { kStart, kStop };
  struct Event {
    Mark mark;
    uint64_t take;
    uint64_t position;  // frames captured before it
    long long dropped;  // frames dropped before it, since the program started
  };
  static constexpr size_t kEventCapacity = 64;
  static constexpr size_t kChunkFrames = 4096;

  // Ends the running take when it was asked to stop or its file failed. Audio thread.
  void ApplyStopRequests();
  // Posts the stop mark of the running take. Audio thread.
  void EndCapture();

  void WriterLoop();
  // Writes out what the ring holds and applies the marks due.
  void WriterPass();
  void Apply(const Event& event);
  void OpenFile();
  // Completes and closes the open file, if any; reports the frames dropped during it, given
  // the dropped count at its end.
  void CloseFile(long long droppedAtEnd);
  void CloseFile() { CloseFile(dropped_.load(std::memory_order_relaxed)); }
  // Ends the open recording after an error: one message naming its cause, then Abandon.
  void Fail(const char* doing, int error);
  // A writer pass ended in an exception: one message, then Abandon (the take whose file was
  // being made or written fails; between takes none does).
  void PassFailed(const char* what);
  // Completes the open file; for the take being written (if any) sets Failed() and has the
  // audio thread stop capturing it.
  void Abandon();

  boost::lockfree::spsc_queue<Frame> ring_;
  boost::lockfree::spsc_queue<Event, boost::lockfree::capacity<kEventCapacity>> events_;

  // Audio thread.
  bool capturing_ = false;
  uint64_t take_ = 0;       // the take being captured
  uint64_t takesStarted_ = 0;
  uint64_t captured_ = 0;
  long long droppedTotal_ = 0;

  // Shared.
  std::atomic<uint64_t> runningTake_{0};    // take being captured, 0 for none
  std::atomic<uint64_t> lastTake_{0};       // take started last
  std::atomic<uint64_t> stopRequested_{0};  // highest take asked to stop
  std::atomic<uint64_t> failedTake_{0};     // take whose file failed last
  std::atomic<uint64_t> refusedTake_{0};    // take refused last for a full mark queue
  std::atomic<bool> streamRunning_{false};
  std::atomic<bool> held_{false};
  std::atomic<uint64_t> capturedPosition_{0};
  std::atomic<uint64_t> postedEvents_{0};
  std::atomic<long long> dropped_{0};
  std::atomic<uint64_t> dataLimit_{WavFile::kMaxDataBytes};
  std::atomic<int> exitStatus_{-1};
  std::atomic<bool> writerRunning_{false};
  std::atomic<bool> quit_{false};
  std::atomic<uint64_t> handledPosition_{0};
  std::atomic<uint64_t> handledEvents_{0};
  std::atomic<uint64_t> handledStop_{0};  // highest stop request the writer has dealt with

  // Writer thread, and the process that started it. A plain POSIX thread handle: a forked
  // child (a test's death test) has a copy of it but no thread, and simply forgets it, where a
  // thread object would have to be joined, detached or leaked.
  pthread_t writer_{};
  bool writerStarted_ = false;
  pid_t writerProcess_ = 0;
  WavFile file_;
  std::string path_;
  uint64_t written_ = 0;  // frames popped from the ring
  uint64_t eventsTaken_ = 0;
  uint64_t reportedRefusal_ = 0;  // refused take last reported
  uint64_t fileTake_ = 0;  // take whose start was applied and whose stop was not, or 0
  // A take the writer ends itself (no stream runs to mark its stop) at frame position cut_.
  bool cutPending_ = false;
  uint64_t cutTake_ = 0;
  uint64_t cut_ = 0;
  long long droppedAtOpen_ = 0;
  std::deque<Event> pending_;
  std::chrono::steady_clock::time_point lastSync_;
  Frame chunk_[kChunkFrames];
};
