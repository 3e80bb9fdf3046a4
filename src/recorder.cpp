#include "recorder.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <thread>

#include "recording_folder.h"

namespace {
constexpr auto kWriterPeriod = std::chrono::milliseconds(10);
constexpr auto kSyncPeriod = std::chrono::seconds(1);
// Names tried before giving up when other writers keep taking them.
constexpr int kNameAttempts = 1000;

// The path as the player would look for it: the folder made absolute where it exists.
std::string Shown(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  char* absolute = realpath(folder.c_str(), nullptr);
  if (absolute == nullptr) return path;
  std::string shown = std::string(absolute) + "/" + path.substr(slash == std::string::npos ? 0 : slash + 1);
  std::free(absolute);
  return shown;
}

}  // namespace

int16_t Recorder::ToSample(double value) {
  const double scaled = value * 32767.0;
  if (scaled >= 32767.0) return 32767;
  if (scaled <= -32767.0) return -32767;
  return static_cast<int16_t>(scaled < 0.0 ? scaled - 0.5 : scaled + 0.5);
}

Recorder::Recorder(size_t ringFrames) : ring_(ringFrames) {
  // Touch every page of the ring once now, so the audio thread never takes a page fault (and
  // the kernel's allocation behind it) on its first pass through the ring.
  std::fill(std::begin(chunk_), std::end(chunk_), Frame{0, 0});
  for (size_t done = 0; done < ringFrames;) {
    const size_t count = ring_.push(chunk_, std::min(ringFrames - done, kChunkFrames));
    ring_.pop(chunk_, count);
    done += count;
  }
}

Recorder::~Recorder() { StopWriter(); }

void Recorder::StartWriter() {
  if (writerStarted_) return;
  quit_.store(false, std::memory_order_release);
  writerRunning_.store(true);
  writerProcess_ = getpid();
  const auto loop = [](void* recorder) -> void* {
    static_cast<Recorder*>(recorder)->WriterLoop();
    return nullptr;
  };
  if (pthread_create(&writer_, nullptr, loop, this) != 0) {
    writerRunning_.store(false);
    std::fprintf(stderr, "Error: cannot start the recorder's writer thread; recordings are off\n");
    return;
  }
  writerStarted_ = true;
}

void Recorder::StopWriter() {
  if (!writerStarted_) return;
  writerStarted_ = false;
  if (getpid() != writerProcess_) {
    // A forked child (a test's death test) has the handle but no thread: joining it would
    // wait forever, so it is forgotten.
    writerRunning_.store(false);
    return;
  }
  quit_.store(true, std::memory_order_release);
  pthread_join(writer_, nullptr);
  writerRunning_.store(false);
  // A signal that arrived while the writer was finishing still ends the process.
  const int status = exitStatus_.load();
  if (status >= 0) _exit(status);
}

void Recorder::Drain() {
  if (!writerStarted_) return;
  const uint64_t position = capturedPosition_.load(std::memory_order_acquire);
  const uint64_t events = postedEvents_.load(std::memory_order_acquire);
  const uint64_t stop = stopRequested_.load(std::memory_order_acquire);
  while (handledPosition_.load(std::memory_order_acquire) < position ||
         handledEvents_.load(std::memory_order_acquire) < events ||
         (!streamRunning_.load(std::memory_order_acquire) &&
          handledStop_.load(std::memory_order_acquire) < stop)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// --- audio thread ---

void Recorder::ApplyStopRequests() {
  if (!capturing_) return;
  if (stopRequested_.load(std::memory_order_acquire) >= take_ ||
      failedTake_.load(std::memory_order_acquire) == take_) {
    EndCapture();
  }
}

bool Recorder::Capturing() {
  ApplyStopRequests();
  return capturing_;
}

void Recorder::StartCapture() {
  if (Capturing()) return;
  const uint64_t take = ++takesStarted_;
  lastTake_.store(take, std::memory_order_release);
  // Room for this start and the stop that will follow it; a writer that has not taken the
  // marks of many takes is not there to write this one either.
  if (events_.write_available() < 2) {
    failedTake_.store(take, std::memory_order_release);
    refusedTake_.store(take, std::memory_order_release);  // the writer says so
    return;
  }
  events_.push(Event{Mark::kStart, take, captured_, droppedTotal_});
  postedEvents_.fetch_add(1, std::memory_order_release);
  capturing_ = true;
  take_ = take;
  runningTake_.store(take, std::memory_order_release);
}

void Recorder::StopCapture() {
  if (Capturing()) EndCapture();
}

void Recorder::EndCapture() {
  events_.push(Event{Mark::kStop, take_, captured_, droppedTotal_});  // room kept by StartCapture
  postedEvents_.fetch_add(1, std::memory_order_release);
  capturing_ = false;
  runningTake_.store(0, std::memory_order_release);
}

void Recorder::Capture(const double* interleaved, unsigned int nFrames) {
  if (!capturing_) return;
  const size_t room = ring_.write_available();
  const size_t frames = std::min<size_t>(nFrames, room);
  Frame block[256];
  for (size_t done = 0; done < frames;) {
    const size_t count = std::min<size_t>(frames - done, 256);
    for (size_t i = 0; i < count; ++i) {
      block[i].left = ToSample(interleaved[2 * (done + i)]);
      block[i].right = ToSample(interleaved[2 * (done + i) + 1]);
    }
    ring_.push(block, count);
    done += count;
  }
  if (frames < nFrames) {
    droppedTotal_ += static_cast<long long>(nFrames - frames);
    dropped_.store(droppedTotal_, std::memory_order_relaxed);
  }
  captured_ += frames;
  capturedPosition_.store(captured_, std::memory_order_release);
}

// --- any thread ---

void Recorder::RequestStop(uint64_t take) {
  // Takes only ever grow: the highest take asked to stop says which have been.
  uint64_t stop = stopRequested_.load(std::memory_order_acquire);
  while (take > stop &&
         !stopRequested_.compare_exchange_weak(stop, take, std::memory_order_acq_rel)) {
  }
}

void Recorder::ExitWhenComplete(int status) {
  int none = -1;
  exitStatus_.compare_exchange_strong(none, status);
  if (!writerRunning_.load()) _exit(exitStatus_.load());
}

// --- writer thread ---

void Recorder::WriterLoop() {
  lastSync_ = std::chrono::steady_clock::now();
  for (;;) {
    while (held_.load(std::memory_order_acquire) && !quit_.load(std::memory_order_acquire)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const bool quitting = quit_.load(std::memory_order_acquire);
    const int status = exitStatus_.load();
    try {
      WriterPass();
    } catch (std::exception& error) {
      // Only memory can run out here (names, the list of marks): the take it happened for
      // ends, the writer goes on.
      PassFailed(error.what());
    }
    // The process is ending: the running take ends after the frames captured up to now.
    if (status >= 0) {
      CloseFile();
      _exit(status);
    }
    if (quitting) {
      CloseFile();
      return;
    }
    std::this_thread::sleep_for(kWriterPeriod);
  }
}

void Recorder::WriterPass() {
  // With no stream running no buffer will mark the stop asked for: the writer ends that take
  // itself after the frames captured up to now, read before the ring so all of them are there.
  const uint64_t stop = stopRequested_.load(std::memory_order_acquire);
  if (stop > cutTake_ && !streamRunning_.load(std::memory_order_acquire)) {
    cutPending_ = true;
    cutTake_ = stop;
    cut_ = capturedPosition_.load(std::memory_order_acquire);
  }
  // The frames first, then the marks: every mark posted before these frames is then queued.
  size_t available = ring_.read_available();
  while (events_.read_available() > 0) {
    pending_.push_back(events_.front());  // a mark leaves the queue only once it is kept
    events_.pop();
    ++eventsTaken_;
  }
  const uint64_t refused = refusedTake_.load(std::memory_order_acquire);
  if (refused > reportedRefusal_) {
    reportedRefusal_ = refused;
    std::fprintf(stderr, "Error: Couldn't start recording: the recorder's writer is still behind "
                 "with the %zu starts and stops before it (the disk is not keeping up); "
                 "recording stopped\n", pending_.size());
  }

  bool wrote = false;
  for (;;) {
    // Everything due at the current position: first the marks, then the writer's own stop,
    // which ends only the take it names.
    for (;;) {
      if (!pending_.empty() && pending_.front().position <= written_) {
        const Event due = pending_.front();
        pending_.pop_front();
        Apply(due);
      } else if (cutPending_ && cut_ <= written_) {
        cutPending_ = false;
        if (fileTake_ == cutTake_) CloseFile();
      } else {
        break;
      }
    }
    if (available == 0) break;
    size_t count = std::min(available, kChunkFrames);
    if (cutPending_) count = std::min<uint64_t>(count, cut_ - written_);
    if (!pending_.empty()) count = std::min<uint64_t>(count, pending_.front().position - written_);
    count = ring_.pop(chunk_, count);
    if (count == 0) break;
    available -= count;
    written_ += count;
    if (file_.IsOpen()) {
      const int error = file_.Append(&chunk_[0].left, count);
      if (error != 0) {
        Fail("Couldn't write recording", error);
      } else {
        wrote = true;
      }
    }
  }

  if (wrote && file_.IsOpen()) {
    int error = file_.UpdateHeader();
    const auto now = std::chrono::steady_clock::now();
    if (error == 0 && now - lastSync_ >= kSyncPeriod) {
      lastSync_ = now;
      error = file_.Sync();
    }
    if (error != 0) Fail("Couldn't write recording", error);
  }
  if (!cutPending_) handledStop_.store(cutTake_, std::memory_order_release);
  handledEvents_.store(eventsTaken_ - pending_.size(), std::memory_order_release);
  handledPosition_.store(written_, std::memory_order_release);
}

void Recorder::Apply(const Event& event) {
  if (event.mark == Mark::kStop) {
    // A take the writer already ended or that failed has no file open any more.
    if (event.take == fileTake_) {
      CloseFile(event.dropped);
      fileTake_ = 0;
    }
    return;
  }
  CloseFile(event.dropped);  // a start always follows its predecessor's stop
  fileTake_ = event.take;
  droppedAtOpen_ = event.dropped;
  OpenFile();
}

void Recorder::OpenFile() {
  file_.SetDataLimit(dataLimit_.load(std::memory_order_relaxed));
  int error = EEXIST;
  std::string path;
  for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
    // Another program may take the free name between the look-up and the create: the
    // exclusive create then fails and the next free name is tried.
    path = RecordingFolder::RecordFilename();
    if (path.empty()) {
      path_.clear();
      std::fprintf(stderr, "Error: Couldn't create recording: there is no music folder to record "
                   "into (no home folder); recording stopped\n");
      Abandon();
      return;
    }
    error = file_.Create(path, kChannels, kRate);
  }
  path_ = Shown(path);
  if (error != 0) {
    Fail("Couldn't create recording", error);
    return;
  }
  lastSync_ = std::chrono::steady_clock::now();
}

void Recorder::CloseFile(long long droppedAtEnd) {
  if (!file_.IsOpen()) return;
  const uint64_t frames = file_.Frames();
  const int error = file_.Close();
  if (error != 0) {
    std::fprintf(stderr, "Error: Couldn't complete recording %s: %s\n", path_.c_str(),
                 std::strerror(error));
    failedTake_.store(fileTake_, std::memory_order_release);
  }
  const long long dropped = droppedAtEnd - droppedAtOpen_;
  if (dropped > 0) {
    std::fprintf(stderr,
                 "Error: recording %s is missing %lld frames (%.2f s): the disk did not keep "
                 "up; %.2f s were saved\n",
                 path_.c_str(), dropped, static_cast<double>(dropped) / kRate,
                 static_cast<double>(frames) / kRate);
  }
}

void Recorder::Fail(const char* doing, int error) {
  rlimit limit{};
  if (error == EFBIG && file_.AtSizeLimit()) {
    std::fprintf(stderr, "Error: %s %s: the file reached the largest size a WAV file can have; "
                 "recording stopped\n", doing, path_.c_str());
  } else if (error == EFBIG && getrlimit(RLIMIT_FSIZE, &limit) == 0 &&
             limit.rlim_cur != RLIM_INFINITY) {
    std::fprintf(stderr, "Error: %s %s: the file reached this process's file size limit of "
                 "%llu bytes (ulimit -f); recording stopped\n", doing, path_.c_str(),
                 static_cast<unsigned long long>(limit.rlim_cur));
  } else if (error == EFBIG) {
    std::fprintf(stderr, "Error: %s %s: the file reached a file size limit (%s); recording "
                 "stopped\n", doing, path_.c_str(), std::strerror(error));
  } else {
    std::fprintf(stderr, "Error: %s %s: %s; recording stopped\n", doing, path_.c_str(),
                 std::strerror(error));
  }
  Abandon();
}

void Recorder::PassFailed(const char* what) {
  if (file_.IsOpen()) {
    std::fprintf(stderr, "Error: recording %s stopped: %s\n", path_.c_str(), what);
  } else if (fileTake_ != 0) {
    std::fprintf(stderr, "Error: Couldn't create recording: %s; recording stopped\n", what);
  } else {
    // Between takes: no take fails, and the one that failed last still shows.
    std::fprintf(stderr, "Error: the recorder's writer: %s\n", what);
  }
  Abandon();
}

void Recorder::Abandon() {
  CloseFile();
  // Failed() and the audio thread's end of this take (at its next buffer); until then its
  // frames are dropped here, as no file is open. With no take open nothing failed.
  if (fileTake_ != 0) failedTake_.store(fileTake_, std::memory_order_release);
}
