// rig_probe - a tiny stand-in for the program, used to prove the headless rig.
//
// Usage:
//   rig_probe            opens an 800x600 window "Rig Probe" and plays a 440 Hz
//                        sine (RtAudio, stereo float64, 44100 Hz, default output
//                        device, 512 frames) until Escape or the window closes.
//   rig_probe --devices  prints what RtAudio finds and exits: "api NAME",
//                        "devices N", "default-output N" (when N > 0).
//
// Window mode prints one line per event to stdout (flushed at once), in the
// program's coordinates (origin bottom-left, y up: y = 600 - SDL's y):
//   "audio started" | "audio none" (no output device) | "audio error MESSAGE"
//   "click X Y" / "click X Y shift"   left button pressed (with Shift held)
//   "release X Y"                     left button released
//   "rclick X Y"                      right button pressed
//   "key NAME"                        key pressed (SDL key name, e.g. "Escape")
//   "focus"                           the window gained keyboard focus
//   "quit"                            leaving
// It draws a dark blue background (RGB 25 51 76) with a red square (255 0 0)
// whose lower-left corner is at (100, 100), 100x100, so screenshots can be
// checked against known pixels.
#include <SDL.h>
#include <SDL_opengl.h>
#include <RtAudio.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr double kFrequency = 440.0;
constexpr double kGain = 0.3;
constexpr unsigned kRate = 44100;

struct Tone {
  double phase = 0;  // radians
};

int ToneCallback(void* output, void*, unsigned frames, double, RtAudioStreamStatus, void* data) {
  auto* tone = static_cast<Tone*>(data);
  auto* out = static_cast<double*>(output);
  const double step = 2 * M_PI * kFrequency / kRate;
  for (unsigned i = 0; i < frames; ++i) {
    const double v = kGain * std::sin(tone->phase);
    out[2 * i] = v;
    out[2 * i + 1] = v;
    tone->phase += step;
    if (tone->phase > 2 * M_PI) tone->phase -= 2 * M_PI;
  }
  return 0;
}

int ListDevices() {
  RtAudio audio;
  std::printf("api %s\n", RtAudio::getApiName(audio.getCurrentApi()).c_str());
  const unsigned count = audio.getDeviceCount();
  std::printf("devices %u\n", count);
  if (count > 0) std::printf("default-output %u\n", audio.getDefaultOutputDevice());
  return 0;
}

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::putchar('\n');
  std::fflush(stdout);
}

void Draw() {
  glClearColor(25 / 255.0f, 51 / 255.0f, 76 / 255.0f, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glColor3f(1, 0, 0);
  glBegin(GL_QUADS);
  glVertex2i(100, 100);
  glVertex2i(200, 100);
  glVertex2i(200, 200);
  glVertex2i(100, 200);
  glEnd();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--devices") == 0) return ListDevices();
  if (argc != 1) {
    std::fprintf(stderr, "usage: rig_probe [--devices]\n");
    return 2;
  }
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "Error:%s\n", SDL_GetError());
    return 1;
  }
  SDL_Window* window = SDL_CreateWindow("Rig Probe", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, kWidth,
                                        kHeight, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
  if (!window) {
    std::fprintf(stderr, "Error:%s\n", SDL_GetError());
    return 1;
  }
  SDL_GLContext context = SDL_GL_CreateContext(window);
  if (!context) {
    std::fprintf(stderr, "Error:%s\n", SDL_GetError());
    return 1;
  }
  glViewport(0, 0, kWidth, kHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, kWidth, 0, kHeight, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();

  Tone tone;
  std::unique_ptr<RtAudio> audio;
  try {
    audio = std::make_unique<RtAudio>();
    if (audio->getDeviceCount() == 0) {
      Say("audio none");
      audio.reset();
    } else {
      RtAudio::StreamParameters parameters;
      parameters.deviceId = audio->getDefaultOutputDevice();
      parameters.nChannels = 2;
      unsigned frames = 512;
      audio->openStream(&parameters, nullptr, RTAUDIO_FLOAT64, kRate, &frames, &ToneCallback, &tone);
      audio->startStream();
      Say("audio started");
    }
  } catch (const RtAudioError& e) {
    Say("audio error %s", e.getMessage().c_str());
    audio.reset();
  }

  bool running = true;
  while (running) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      switch (event.type) {
        case SDL_QUIT:
          running = false;
          break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
          const int x = event.button.x, y = kHeight - event.button.y;
          const bool down = event.type == SDL_MOUSEBUTTONDOWN;
          if (event.button.button == SDL_BUTTON_LEFT && down)
            Say("click %d %d%s", x, y, (SDL_GetModState() & KMOD_SHIFT) ? " shift" : "");
          else if (event.button.button == SDL_BUTTON_LEFT)
            Say("release %d %d", x, y);
          else if (event.button.button == SDL_BUTTON_RIGHT && down)
            Say("rclick %d %d", x, y);
          break;
        }
        case SDL_KEYDOWN:
          if (event.key.repeat) break;
          Say("key %s", SDL_GetKeyName(event.key.keysym.sym));
          if (event.key.keysym.sym == SDLK_ESCAPE) running = false;
          break;
        case SDL_WINDOWEVENT:
          if (event.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) Say("focus");
          break;
        default:
          break;
      }
    }
    Draw();
    SDL_GL_SwapWindow(window);
    SDL_Delay(16);
  }
  Say("quit");
  if (audio) {
    try {
      if (audio->isStreamRunning()) audio->stopStream();
      if (audio->isStreamOpen()) audio->closeStream();
    } catch (const RtAudioError& e) {
      std::fprintf(stderr, "%s\n", e.getMessage().c_str());
    }
  }
  SDL_GL_DeleteContext(context);
  SDL_DestroyWindow(window);
  SDL_Quit();
  return 0;
}
