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
// Records what reaches the playback ports, as the server plays it, into OUT.wav (16-bit
// stereo at the server's rate) until SIGINT or SIGTERM, and then prints "lost: GAPS FRAMES
// restarts: N".
// The file grows while it runs (its header rewritten after every write, about every 50 ms), so
// it can be measured as it grows, as a capture of a sound server's monitor can. Time the
// server's clock moved on without a cycle reaching the probe (a late graph the driver gave up
// on) is written as digital silence of that length: that is what a listener hears there. A
// restart of the server's clock (its driver restarted) is written as one cycle of silence.
// Status 1 if cycles were lost to a full ring (the writer fell behind).
//
// Threads: the server's process thread copies each cycle into a lock-free ring; the main
// thread writes the file.

#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
jack_client_t* client;
jack_port_t* inputs[2];
std::atomic<float> peak{0.0f};
volatile std::sig_atomic_t stop = 0;

// The ring holds cycles, each a header and its frames as interleaved float pairs.
struct Cycle {
  jack_nframes_t start;   // the server's frame time at the cycle's start
  jack_nframes_t frames;  // frames that follow
};
jack_ringbuffer_t* ring;
std::atomic<uint64_t> overflows{0};

int Process(jack_nframes_t frames, void*) {
  float loudest = peak.load(std::memory_order_relaxed);
  const float* samples[2];
  for (int c = 0; c < 2; ++c) {
    samples[c] = static_cast<const float*>(jack_port_get_buffer(inputs[c], frames));
    for (jack_nframes_t i = 0; i < frames; ++i) loudest = std::fmax(loudest, std::fabs(samples[c][i]));
  }
  peak.store(loudest, std::memory_order_relaxed);
  if (ring == nullptr) return 0;
  const Cycle cycle{jack_last_frame_time(client), frames};
  if (jack_ringbuffer_write_space(ring) < sizeof cycle + frames * 2 * sizeof(float)) {
    overflows.fetch_add(1, std::memory_order_relaxed);
    return 0;
  }
  jack_ringbuffer_write(ring, reinterpret_cast<const char*>(&cycle), sizeof cycle);
  for (jack_nframes_t i = 0; i < frames; ++i) {
    const float pair[2] = {samples[0][i], samples[1][i]};
    jack_ringbuffer_write(ring, reinterpret_cast<const char*>(pair), sizeof pair);
  }
  return 0;
}

void Le(std::FILE* f, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) std::fputc(int(v >> (8 * i) & 0xff), f);
}

// Writes (or rewrites) the 44-byte header of a 16-bit stereo WAV holding DATA bytes.
void Header(std::FILE* f, uint32_t rate, uint32_t data) {
  std::fseek(f, 0, SEEK_SET);
  std::fputs("RIFF", f);
  Le(f, 36 + data, 4);
  std::fputs("WAVEfmt ", f);
  Le(f, 16, 4), Le(f, 1, 2), Le(f, 2, 2), Le(f, rate, 4), Le(f, rate * 4, 4), Le(f, 4, 2), Le(f, 16, 2);
  std::fputs("data", f);
  Le(f, data, 4);
  std::fseek(f, 0, SEEK_END);
}

// The file's writer, on the main thread: drains the ring, fills lost time with silence.
struct Writer {
  std::FILE* file;
  uint32_t rate;
  uint64_t frames = 0, lostCycles = 0, restarts = 0, lostFrames = 0;
  bool started = false;
  jack_nframes_t next = 0;  // frame time the next cycle should start at

  void Frames(const float* pairs, size_t count) {
    std::vector<unsigned char> bytes(count * 4);
    for (size_t i = 0; i < 2 * count; ++i) {
      const long v = std::lround(std::clamp(pairs[i], -1.0f, 1.0f) * 32767.0f);
      bytes[2 * i] = uint8_t(v & 0xff), bytes[2 * i + 1] = uint8_t(v >> 8 & 0xff);
    }
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    frames += count;
  }
  void Drain() {
    Cycle cycle;
    std::vector<float> pairs;
    while (jack_ringbuffer_read_space(ring) >= sizeof cycle) {
      jack_ringbuffer_read(ring, reinterpret_cast<char*>(&cycle), sizeof cycle);
      // Frames the server's clock moved on by without a cycle. A jump back, or forward by more
      // than 10 s, is the clock started again (the server restarted its driver): how long
      // that took is unknown, so it counts as one cycle of silence.
      const int32_t skipped = int32_t(cycle.start - next);  // wraps with the frame time
      if (started && skipped != 0) {
        const bool restarted = skipped < 0 || skipped > int32_t(10 * rate);
        const size_t silent = restarted ? cycle.frames : size_t(skipped);
        ++(restarted ? restarts : lostCycles);
        lostFrames += silent;
        pairs.assign(2 * silent, 0.0f);
        Frames(pairs.data(), silent);
      }
      started = true, next = cycle.start + cycle.frames;
      pairs.resize(2 * size_t(cycle.frames));
      jack_ringbuffer_read(ring, reinterpret_cast<char*>(pairs.data()), pairs.size() * sizeof(float));
      Frames(pairs.data(), cycle.frames);
    }
    Header(file, rate, uint32_t(std::min<uint64_t>(frames * 4, 0xffffffffu - 36)));
    std::fflush(file);
  }
};

void OnSignal(int) { stop = 1; }
}  // namespace

int main(int argc, char** argv) {
  const bool record = argc == 3 && std::string(argv[1]) == "record";
  const double seconds = argc > 1 && !record ? std::atof(argv[1]) : 1.0;
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  jack_status_t status;
  client = jack_client_open("marlune_jackprobe", JackNoStartServer, &status);
  if (client == nullptr) {
    std::fprintf(stderr, "jackprobe: cannot reach the JACK server\n");
    return 1;
  }
  Writer writer{nullptr, jack_get_sample_rate(client)};
  if (record) {
    writer.file = std::fopen(argv[2], "wb");
    if (writer.file == nullptr) {
      std::fprintf(stderr, "jackprobe: cannot write %s\n", argv[2]);
      return 1;
    }
    Header(writer.file, writer.rate, 0);
    ring = jack_ringbuffer_create(size_t(writer.rate) * 4 * 2 * sizeof(float));  // 4 s
  }
  inputs[0] = jack_port_register(client, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  inputs[1] = jack_port_register(client, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
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
  if (!record) {
    std::printf("connected:%s\n", connected.c_str());
    usleep(static_cast<useconds_t>(seconds * 1e6));
    std::printf("peak: %.4f\n", peak.load());
    jack_client_close(client);
    return 0;
  }
  while (!stop) {
    usleep(50000);
    writer.Drain();
  }
  jack_deactivate(client);
  writer.Drain();
  std::fclose(writer.file);
  std::printf("lost: %llu %llu restarts: %llu\n", static_cast<unsigned long long>(writer.lostCycles),
              static_cast<unsigned long long>(writer.lostFrames),
              static_cast<unsigned long long>(writer.restarts));
  jack_client_close(client);
  if (overflows.load() == 0) return 0;
  std::fprintf(stderr, "jackprobe: the writer fell behind; %llu cycles were lost\n",
               static_cast<unsigned long long>(overflows.load()));
  return 1;
}
