// jackprobe.cpp - what reaches the playback ports of a JACK server. Joins the server named by
// JACK_DEFAULT_SERVER as a client of its own, lists the ports connected to system:playback_1
// and system:playback_2, connects each of them to an input of its own as well, and after
// SECONDS prints the peak level that arrived there.
//
// Usage: marlune_jackprobe SECONDS
// Prints "connected: PORT ..." (the ports feeding the playback ports, none: empty) and then
// "peak: LEVEL" (full scale 1). Status 1 when the server cannot be reached.
//
// Usage: marlune_jackprobe record OUT.wav
// Records what reaches the playback ports into OUT.wav (44100 Hz as the server runs, 2
// channels, 16 bit) until SIGINT or SIGTERM, then completes the header and prints "lost: GAPS
// FRAMES restarts: N". The file grows period by period as the sound is heard, as a capture of
// a sound server's monitor does: the process callback hands each period, stamped with the
// monotonic time and the server's frame time of its cycle, to a writer thread through a
// lock-free ring and wakes it; the writer appends the period once its last frame is heard, the
// playback ports' latency (what the driver buffers) and the period itself after its cycle, so
// that a frame never reaches the file before it is heard. Time the server's clock moved on
// without a cycle reaching the probe is written as digital silence of that length, as a
// listener hears it. Ports that start feeding the playback ports later (a client that starts
// or reopens its stream) are connected within 50 ms.

#include <fcntl.h>
#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
jack_port_t* inputs[2];
std::atomic<float> peak{0.0f};

int Process(jack_nframes_t frames, void*) {
  float loudest = peak.load(std::memory_order_relaxed);
  for (jack_port_t* port : inputs) {
    const float* samples = static_cast<const float*>(jack_port_get_buffer(port, frames));
    for (jack_nframes_t i = 0; i < frames; ++i) loudest = std::fmax(loudest, std::fabs(samples[i]));
  }
  peak.store(loudest, std::memory_order_relaxed);
  return 0;
}
// ---- Recording ----

jack_client_t* client = nullptr;
jack_ringbuffer_t* ring = nullptr;  // interleaved int16 stereo frames, process -> writer
sem_t written;                      // posted after every period put into the ring
std::atomic<bool> overflowed{false};
volatile std::sig_atomic_t stop = 0;

int16_t ToSample(float s) {
  return static_cast<int16_t>(std::lrint(std::fmax(-1.0f, std::fmin(1.0f, s)) * 32767.0f));
}

// What the ring holds before each period's frames.
struct Period {
  double cycle;          // monotonic time at which the cycle ran, seconds
  jack_nframes_t start;  // the server's frame time at the cycle's start
  uint32_t frames;       // frames that follow
};

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Process thread: the period's two channels, interleaved, into the ring; never blocks.
int Record(jack_nframes_t frames, void*) {
  const float* left = static_cast<const float*>(jack_port_get_buffer(inputs[0], frames));
  const float* right = static_cast<const float*>(jack_port_get_buffer(inputs[1], frames));
  if (jack_ringbuffer_write_space(ring) < sizeof(Period) + frames * 4) {
    overflowed.store(true, std::memory_order_relaxed);
    return 0;
  }
  const Period period{Now(), jack_last_frame_time(client), frames};
  jack_ringbuffer_write(ring, reinterpret_cast<const char*>(&period), sizeof period);
  for (jack_nframes_t i = 0; i < frames; ++i) {
    const int16_t frame[2] = {ToSample(left[i]), ToSample(right[i])};
    jack_ringbuffer_write(ring, reinterpret_cast<const char*>(frame), sizeof frame);
  }
  sem_post(&written);
  return 0;
}

void PutU32(unsigned char* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A 44-byte PCM header for `bytes` of data.
void WriteHeader(int fd, uint32_t rate, uint32_t bytes) {
  unsigned char h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                         16, 0, 0, 0, 1, 0, 2, 0};
  PutU32(h + 4, 36 + bytes);
  PutU32(h + 24, rate);
  PutU32(h + 28, rate * 4);
  h[32] = 4;
  h[34] = 16;
  std::memcpy(h + 36, "data", 4);
  PutU32(h + 40, bytes);
  if (pwrite(fd, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h)) std::perror("jackprobe: header");
}

// Connects every port that feeds system:playback_N to our input N, once.
void FollowPlaybackSources(jack_client_t* client) {
  for (int c = 0; c < 2; ++c) {
    const std::string playback = "system:playback_" + std::to_string(c + 1);
    jack_port_t* port = jack_port_by_name(client, playback.c_str());
    const char** sources = port != nullptr ? jack_port_get_all_connections(client, port) : nullptr;
    for (const char** source = sources; source != nullptr && *source != nullptr; ++source) {
      if (!jack_port_connected_to(inputs[c], *source)) jack_connect(client, *source, jack_port_name(inputs[c]));
    }
    if (sources != nullptr) jack_free(sources);
  }
}

int RecordTo(const char* path) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    std::perror(path);
    return 1;
  }
  const uint32_t rate = jack_get_sample_rate(client);
  WriteHeader(fd, rate, 0);
  ring = jack_ringbuffer_create(4 * rate * 4);  // 4 seconds
  sem_init(&written, 0, 0);
  std::signal(SIGINT, [](int) { stop = 1; });
  std::signal(SIGTERM, [](int) { stop = 1; });
  jack_set_process_callback(client, Record, nullptr);
  if (jack_activate(client) != 0) {
    std::fprintf(stderr, "jackprobe: cannot activate\n");
    return 1;
  }
  // When the last frame of a period is heard, after its cycle: the playback latency and the
  // period.
  jack_latency_range_t latency{0, 0};
  if (jack_port_t* port = jack_port_by_name(client, "system:playback_1")) {
    jack_port_get_latency_range(port, JackPlaybackLatency, &latency);
  }
  const double heardAfter = static_cast<double>(latency.max + jack_get_buffer_size(client)) / rate;
  std::fprintf(stderr, "jackprobe: period %u frames, playback latency %u frames\n",
               jack_get_buffer_size(client), latency.max);
  uint64_t bytes = 44;
  std::vector<char> chunk;
  bool ok = true;
  bool started = false;       // a period has been written
  jack_nframes_t next = 0;    // the frame time the next period should start at
  uint64_t lostCycles = 0, restarts = 0, lostFrames = 0;
  // Appends the periods in the ring, each once it is heard (all of them when `all`).
  auto drain = [&](bool all) {
    Period period{};
    while (ok && jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&period), sizeof period) == sizeof period &&
           jack_ringbuffer_read_space(ring) >= sizeof period + period.frames * 4) {
      const double due = period.cycle + heardAfter;
      if (!all && Now() < due) {
        timespec until{};
        until.tv_sec = static_cast<time_t>(due);
        until.tv_nsec = static_cast<long>((due - static_cast<double>(until.tv_sec)) * 1e9);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
      }
      jack_ringbuffer_read_advance(ring, sizeof period);
      // Frames the server's clock moved on by without a cycle (a late graph the driver gave up
      // on) are what a listener hears there: silence of that length. A jump back, or forward
      // by more than 10 s, is the clock started again (the driver restarted): how long that
      // took is unknown, so it counts as one period of silence.
      const int32_t skipped = static_cast<int32_t>(period.start - next);  // wraps with the clock
      if (started && skipped != 0) {
        const bool restart = skipped < 0 || skipped > static_cast<int32_t>(10 * rate);
        const uint32_t silent = restart ? period.frames : static_cast<uint32_t>(skipped);
        ++(restart ? restarts : lostCycles);
        lostFrames += silent;
        chunk.assign(silent * 4, 0);
        if (pwrite(fd, chunk.data(), chunk.size(), static_cast<off_t>(bytes)) != static_cast<ssize_t>(chunk.size())) {
          std::perror("jackprobe: write");
          ok = false;
        }
        bytes += chunk.size();
      }
      started = true;
      next = period.start + period.frames;
      chunk.resize(period.frames * 4);
      jack_ringbuffer_read(ring, chunk.data(), chunk.size());
      if (pwrite(fd, chunk.data(), chunk.size(), static_cast<off_t>(bytes)) != static_cast<ssize_t>(chunk.size())) {
        std::perror("jackprobe: write");
        ok = false;
      }
      bytes += chunk.size();
    }
  };
  timespec nextScan{};
  clock_gettime(CLOCK_MONOTONIC, &nextScan);
  const double startedAt = Now();
  while (!stop && ok) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec > nextScan.tv_sec || (now.tv_sec == nextScan.tv_sec && now.tv_nsec >= nextScan.tv_nsec)) {
      FollowPlaybackSources(client);
      nextScan = now;
      nextScan.tv_nsec += 50000000;
      if (nextScan.tv_nsec >= 1000000000) nextScan.tv_sec += 1, nextScan.tv_nsec -= 1000000000;
    }
    timespec wake{};
    clock_gettime(CLOCK_REALTIME, &wake);
    wake.tv_nsec += 20000000;
    if (wake.tv_nsec >= 1000000000) wake.tv_sec += 1, wake.tv_nsec -= 1000000000;
    sem_timedwait(&written, &wake);
    drain(false);
  }
  // The dummy driver keeps time by sleeping; on a busy machine it can fall behind the clock.
  const double elapsed = Now() - startedAt;
  jack_client_close(client);
  drain(true);
  std::fprintf(stderr, "jackprobe: %.2f s of sound in %.2f s\n",
               static_cast<double>(bytes - 44) / 4.0 / rate, elapsed);
  std::printf("lost: %llu %llu restarts: %llu\n", static_cast<unsigned long long>(lostCycles),
              static_cast<unsigned long long>(lostFrames), static_cast<unsigned long long>(restarts));
  WriteHeader(fd, rate, static_cast<uint32_t>(std::min<uint64_t>(bytes - 44, 0xffffffffu - 36)));
  close(fd);
  if (overflowed.load()) std::fprintf(stderr, "jackprobe: the writer fell behind; frames were lost\n");
  return overflowed.load() ? 1 : 0;
}
}  // namespace

int main(int argc, char** argv) {
  const bool record = argc == 3 && std::string(argv[1]) == "record";
  const double seconds = argc > 1 && !record ? std::atof(argv[1]) : 1.0;
  jack_status_t status;
  client = jack_client_open("marlune_jackprobe", JackNoStartServer, &status);
  if (client == nullptr) {
    std::fprintf(stderr, "jackprobe: cannot reach the JACK server\n");
    return 1;
  }
  inputs[0] = jack_port_register(client, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  inputs[1] = jack_port_register(client, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  if (record) {
    if (inputs[0] == nullptr || inputs[1] == nullptr) return 1;
    return RecordTo(argv[2]);
  }
  jack_set_process_callback(client, Process, nullptr);
  if (inputs[0] == nullptr || inputs[1] == nullptr || jack_activate(client) != 0) {
    std::fprintf(stderr, "jackprobe: cannot set up the probe's ports\n");
    return 1;
  }
  std::string connected;
  for (int c = 0; c < 2; ++c) {
    const std::string playback = "system:playback_" + std::to_string(c + 1);
    jack_port_t* port = jack_port_by_name(client, playback.c_str());
    const char** sources = port != nullptr ? jack_port_get_all_connections(client, port) : nullptr;
    for (const char** source = sources; source != nullptr && *source != nullptr; ++source) {
      connected += std::string(" ") + *source;
      jack_connect(client, *source, jack_port_name(inputs[c]));
    }
    if (sources != nullptr) jack_free(sources);
  }
  std::printf("connected:%s\n", connected.c_str());
  usleep(static_cast<useconds_t>(seconds * 1e6));
  std::printf("peak: %.4f\n", peak.load());
  jack_client_close(client);
  return 0;
}
