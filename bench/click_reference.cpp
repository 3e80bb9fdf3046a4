// marlune_click_reference - the shortest way from a click to a sound, as a yardstick for the
// program's click-to-sound time: a small X window that, on each press of the left button in
// it, plays a sound at once through the sound server with about 10 ms of buffering. Like the
// game with its metronome on, it also clicks on every beat (120 per minute, counted on its own
// sample clock), so the same player (marlune_tapper clicks) can follow it.
//
//   marlune_click_reference pulse|jack SOUND_DIR
//
// SOUND_DIR holds the game's own sounds (the bundle's MarluneContent/sfx): the press plays
// tr909_01.wav, the kick, and the beat metronome.wav, both at half level as the game's mixer
// adds pads, so the onsets measured are those of the same sounds.
//  - pulse: libpulse's simple API (the PulseAudio server or PipeWire's), 44100 Hz stereo
//    float, target latency 10 ms (the simple API asks the server to adjust the whole latency
//    to it), written in 128-frame pieces from a thread of its own.
//  - jack: a JACK client whose outputs feed system:playback_1 and _2; its buffering is the
//    server's period.
// The window is titled "Marlune click reference". Ends on SIGINT or SIGTERM.
//
// Threads: the main thread reads X events and only raises an atomic count of presses; the
// audio thread (the writer thread, or JACK's process thread) renders and takes the count.

#include <X11/Xlib.h>
#include <jack/jack.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <poll.h>
#include <sched.h>
#include <stk/FileRead.h>
#include <stk/Stk.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr long kBeatFrames = kRate / 2;
std::atomic<int> presses{0};
std::atomic<bool> running{true};

std::vector<float> Load(const std::string& path) {
  stk::FileRead file(path);
  stk::StkFrames frames(file.fileSize(), file.channels());
  file.read(frames);
  std::vector<float> mono(file.fileSize());
  for (size_t i = 0; i < mono.size(); ++i) mono[i] = static_cast<float>(0.5 * frames(i, 0));
  return mono;
}

// Renders the beat clicks and the presses' sound. Audio thread only.
class Renderer {
 public:
  Renderer(std::vector<float> kick, std::vector<float> click)
      : kick_(std::move(kick)), click_(std::move(click)) {}

  // Fills `frames` stereo frames (left, right arrays; right may equal left's stride 2 buffer).
  void Render(float* left, float* right, size_t frames, size_t stride) {
    const int pending = presses.exchange(0, std::memory_order_relaxed);
    if (pending > 0) kickAt_ = 0;
    for (size_t i = 0; i < frames; ++i, ++frame_) {
      if (frame_ % kBeatFrames == 0) clickAt_ = 0;
      float s = 0.0f;
      if (kickAt_ < kick_.size()) s += kick_[kickAt_++];
      if (clickAt_ < click_.size()) s += click_[clickAt_++];
      left[i * stride] = s;
      right[i * stride] = s;
    }
  }

 private:
  std::vector<float> kick_, click_;
  size_t kickAt_ = SIZE_MAX, clickAt_ = SIZE_MAX;
  long frame_ = 0;
};

int RunPulse(Renderer& renderer) {
  const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, 2};
  constexpr uint32_t kPiece = 128;  // frames
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(10000, &format));
  attr.prebuf = static_cast<uint32_t>(-1);
  attr.minreq = kPiece * 8;
  attr.fragsize = static_cast<uint32_t>(-1);
  int error = 0;
  pa_simple* stream = pa_simple_new(nullptr, "Marlune click reference", PA_STREAM_PLAYBACK,
                                    nullptr, "click", &format, nullptr, &attr, &error);
  if (stream == nullptr) {
    std::fprintf(stderr, "click_reference: %s\n", pa_strerror(error));
    return 1;
  }
  std::thread writer([&] {
    sched_param priority{};
    priority.sched_priority = 10;
    sched_setscheduler(0, SCHED_FIFO, &priority);  // as a desktop grants, where permitted
    std::vector<float> piece(2 * kPiece);
    while (running.load()) {
      renderer.Render(piece.data(), piece.data() + 1, kPiece, 2);
      if (pa_simple_write(stream, piece.data(), piece.size() * sizeof(float), &error) < 0) {
        std::fprintf(stderr, "click_reference: %s\n", pa_strerror(error));
        running.store(false);
      }
    }
  });
  while (running.load()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  writer.join();
  pa_simple_free(stream);
  return 0;
}

jack_port_t* outputs[2];

int Process(jack_nframes_t frames, void* renderer) {
  float* left = static_cast<float*>(jack_port_get_buffer(outputs[0], frames));
  float* right = static_cast<float*>(jack_port_get_buffer(outputs[1], frames));
  static_cast<Renderer*>(renderer)->Render(left, right, frames, 1);
  return 0;
}

int RunJack(Renderer& renderer) {
  jack_status_t status;
  jack_client_t* client = jack_client_open("click_reference", JackNoStartServer, &status);
  if (client == nullptr) {
    std::fprintf(stderr, "click_reference: cannot reach the JACK server\n");
    return 1;
  }
  if (jack_get_sample_rate(client) != kRate) std::fprintf(stderr, "click_reference: the server does not run at 44100 Hz\n");
  outputs[0] = jack_port_register(client, "out_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  outputs[1] = jack_port_register(client, "out_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  jack_set_process_callback(client, Process, &renderer);
  if (outputs[0] == nullptr || outputs[1] == nullptr || jack_activate(client) != 0) {
    std::fprintf(stderr, "click_reference: cannot set up the ports\n");
    return 1;
  }
  jack_connect(client, jack_port_name(outputs[0]), "system:playback_1");
  jack_connect(client, jack_port_name(outputs[1]), "system:playback_2");
  while (running.load()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  jack_client_close(client);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::string(argv[1]) != "pulse" && std::string(argv[1]) != "jack")) {
    std::fprintf(stderr, "usage: marlune_click_reference pulse|jack SOUND_DIR\n");
    return 2;
  }
  stk::Stk::setSampleRate(kRate);
  Renderer renderer(Load(std::string(argv[2]) + "/tr909_01.wav"),
                    Load(std::string(argv[2]) + "/metronome.wav"));
  std::signal(SIGINT, [](int) { running.store(false); });
  std::signal(SIGTERM, [](int) { running.store(false); });

  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "click_reference: cannot open the display\n");
    return 1;
  }
  const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 200, 0,
                                            0, WhitePixel(display, DefaultScreen(display)));
  XStoreName(display, window, "Marlune click reference");
  XSelectInput(display, window, ButtonPressMask);
  XMapWindow(display, window);
  XFlush(display);
  std::thread events([&] {
    while (running.load()) {
      while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ButtonPress && event.xbutton.button == Button1) presses.fetch_add(1);
      }
      pollfd fd{ConnectionNumber(display), POLLIN, 0};
      poll(&fd, 1, 50);
    }
  });
  const int status = std::string(argv[1]) == "pulse" ? RunPulse(renderer) : RunJack(renderer);
  running.store(false);
  events.join();
  XCloseDisplay(display);
  return status;
}
