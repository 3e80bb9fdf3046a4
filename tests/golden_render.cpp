#include "golden_render.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "audio_mixer.h"
#include "common.h"
#include "content_fonts.h"
#include "draw_list.h"
#include "game_state.h"
#include "main_menu_scene.h"
#include "recorder.h"
#include "recording_folder.h"
#include "sound_pad.h"
#include "test_support.h"
#include "wav_file.h"

namespace {
constexpr double kRate = 44100.0;
constexpr double kClickSeconds = 0.030;  // how long a click holds its button

// A scripted command.
struct Command {
  double time = 0.0;  // seconds on the clock of the stream playing
  std::string name;
  std::vector<std::string> args;
  std::string line;
};

std::vector<Command> ReadScript(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<Command> script;
  std::string line;
  while (std::getline(in, line)) {
    const std::string code = line.substr(0, line.find('#'));
    std::istringstream words(code);
    Command c;
    if (!(words >> c.time >> c.name)) continue;
    for (std::string w; words >> w;) c.args.push_back(w);
    c.line = line;
    script.push_back(c);
  }
  return script;
}

// Passes a pad's calls through and keeps its output (left channel) in signal, indexed by the
// frame of the stream, as far as signal's size reaches (it never grows on the audio thread).
class TapPad : public SoundPad {
 public:
  TapPad(SoundPad* pad, std::vector<float>* signal, const long* frame)
      : SoundPad(pad->x, pad->y, pad->width, pad->height), pad_(pad), signal_(signal), frame_(frame) {}
  ~TapPad() override { delete pad_; }
  void AudioCallback(double* buffer, unsigned int nFrames, double streamTime) override {
    pad_->AudioCallback(buffer, nFrames, streamTime);
    const size_t end = std::min(signal_->size(), static_cast<size_t>(*frame_ + nFrames));
    for (size_t f = *frame_; f < end; ++f) (*signal_)[f] = static_cast<float>(buffer[2 * (f - *frame_)]);
  }
  void Draw() override { pad_->Draw(); }

 private:
  SoundPad* pad_;
  std::vector<float>* signal_;
  const long* frame_;
};

// Pitch in Hz of x[from, to) by the cumulative mean normalised difference (the first dip below
// 0.15, refined by a parabola), or 0 when none is found.
double Pitch(const std::vector<float>& x, long from, long to) {
  const long maxLag = std::min<long>(1500, (to - from) / 2);
  const long window = to - from - maxLag;
  if (window < 256) return 0.0;
  std::vector<double> d(maxLag + 1, 0.0);
  double running = 0.0;
  for (long lag = 1; lag <= maxLag; ++lag) {
    double sum = 0.0;
    for (long i = 0; i < window; ++i) {
      const double diff = x[from + i] - x[from + i + lag];
      sum += diff * diff;
    }
    running += sum;
    d[lag] = running > 0.0 ? sum * lag / running : 1.0;
  }
  for (long lag = 2; lag < maxLag; ++lag) {
    if (d[lag] >= 0.15) continue;
    while (lag + 1 < maxLag && d[lag + 1] < d[lag]) ++lag;
    const double a = d[lag - 1], b = d[lag], c = d[lag + 1];
    const double shift = (a - 2 * b + c) != 0.0 ? 0.5 * (a - c) / (a - 2 * b + c) : 0.0;
    return kRate / (lag + shift);
  }
  return 0.0;
}

// One line per pad and step of the game's stream that sounds: loop, step, pad, the peak and
// the sum of the 16-bit magnitudes, the first frame of the stream where the pad rises from
// silence within the step ("-" if none) and the pitch of its pitched pads.
std::string PadTable(const std::vector<std::vector<float>>& signals) {
  std::string table = "# loop step pad: peak sum onset pitch\n";
  const auto& names = GoldenRender::PadNames();
  long frames = 0;
  for (const auto& s : signals) frames = std::max<long>(frames, s.size());
  for (long first = 0, index = 0; first < frames; ++index) {
    // Steps are 5512.5 frames: step i spans [ceil(i * 5512.5), ceil((i + 1) * 5512.5)).
    const long last = std::min<long>(frames, (11025 * (index + 1) + 1) / 2);
    for (size_t p = 0; p < signals.size(); ++p) {
      const std::vector<float>& x = signals[p];
      int peak = 0;
      long sum = 0;
      long onset = -1;
      for (long f = first; f < last && f < static_cast<long>(x.size()); ++f) {
        const int v = std::abs(Recorder::ToSample(x[f]));
        peak = std::max(peak, v);
        sum += v;
        if (onset < 0 && std::fabs(x[f]) > 0.01) {
          bool quiet = true;
          for (long g = std::max(0L, f - 64); g < f && quiet; ++g) quiet = std::fabs(x[g]) < 0.002;
          if (quiet) onset = f;
        }
      }
      if (peak == 0) continue;
      const bool pitched = p >= 3 && p <= 8;
      const double pitch = pitched && peak > 300 ? Pitch(x, first + 2700, last) : 0.0;
      char row[160];
      std::snprintf(row, sizeof row, "%ld %ld %s: %d %ld %s %.1f\n", index / 16, index % 16,
                    names[p].c_str(), peak, sum,
                    onset < 0 ? "-" : std::to_string(onset).c_str(), pitch);
      table += row;
    }
    first = last;
  }
  return table;
}


// A fixed local time for the names of recordings: 2024-03-01 14:05.
std::time_t FixedNow() {
  std::tm t{};
  t.tm_year = 124, t.tm_mon = 2, t.tm_mday = 1, t.tm_hour = 14, t.tm_min = 5;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

unsigned int pendingFrames = 0;  // a new stream's buffer size, frames, or 0
void ReopenStream(unsigned int frames) {
  gameState.bufferFrames.store(frames);
  pendingFrames = frames;
}

const std::map<std::string, SDL_Keycode> kKeys = {
    {"up", SDLK_UP}, {"down", SDLK_DOWN}, {"return", SDLK_RETURN}, {"escape", SDLK_ESCAPE}};
}  // namespace

const std::vector<std::string>& GoldenRender::PadNames() {
  static const std::vector<std::string> names = {
      "Chords", "Metronome", "Recording", "Blip 1", "Blip 2", "Lead 1", "Bass 1",
      "Bass 2", "Lead 2", "Kick", "Snare", "Closed Hat", "Open Hat"};
  return names;
}

std::string WavBytes(const std::vector<double>& interleaved) {
  const std::string path = MakeTempDir() + "/mix.wav";
  std::vector<int16_t> samples(interleaved.size());
  std::transform(interleaved.begin(), interleaved.end(), samples.begin(), Recorder::ToSample);
  WavFile file;
  if (file.Create(path, 2, 44100) != 0 || file.Append(samples.data(), samples.size() / 2) != 0 ||
      file.Close() != 0) {
    throw std::runtime_error("cannot write " + path);
  }
  const std::string bytes = ReadFile(path);
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
  return bytes;
}

GoldenRender RenderPerformance(const std::string& scriptPath) {
  const std::vector<Command> script = ReadScript(scriptPath);
  GoldenRender out;
  FakeInput input;
  FakeClock clock;
  const std::string folder = MakeTempDir();

  // The engine as the program sets it up, with the seams installed and fonts and backdrops
  // standing for themselves by name: the render records pictures and draws none.
  SDL_Init(SDL_INIT_EVENTS);
  InstallEngine(&input, &clock, folder);
  gameState.reopenStream = &ReopenStream;
  gameState.LoadSounds();
  gameState.ReplaceScene(new MainMenuScene());
  RecordingFolder::SetClock(&FixedNow);
  static char fontTags[3];
  ContentFonts saved = content;
  content.smallFont = reinterpret_cast<TTF_Font*>(&fontTags[0]);
  content.mediumFont = reinterpret_cast<TTF_Font*>(&fontTags[1]);
  content.largeFont = reinterpret_cast<TTF_Font*>(&fontTags[2]);
  for (Texture* t : {&content.menuBackdropTexture, &content.gameBackdropTexture}) {
    t->width = 800, t->height = 600, t->paddedWidth = 1024, t->paddedHeight = 1024;
  }
  content.menuBackdropTexture.id = 1;
  content.gameBackdropTexture.id = 2;
  content.menuBackdrop.Initialize(&content.menuBackdropTexture, 0, 0, 800, 600, 0, 0);
  content.gameBackdrop.Initialize(&content.gameBackdropTexture, 0, 0, 800, 600, 0, 0);
  const auto fontName = [&](const TTF_Font* f) -> std::string {
    return f == content.smallFont ? "small" : f == content.mediumFont ? "medium"
         : f == content.largeFont ? "large" : "unknown-font";
  };
  const auto textureName = [](unsigned int id) -> std::string {
    return id == 1 ? "menu-backdrop" : id == 2 ? "game-backdrop" : id == 0 ? "none" : "unknown-texture";
  };

  unsigned int nFrames = 512;
  long frame = 0;         // frame of the current stream
  double offsetMs = 0.0;  // press clock at the current stream's start, ms
  // Room for every pad's output over the longest stream the script can play.
  std::vector<std::vector<float>> signals(GoldenRender::PadNames().size(),
      std::vector<float>(static_cast<size_t>((script.back().time + 1.0) * kRate), 0.0f));
  double releaseAt = -1.0;  // when a click's or hold's button goes up
  bool shiftUntilRelease = false;
  bool ended = false;
  uint64_t firstTake = 0;
  std::vector<DrawList> lists;  // the moments' pictures
  size_t next = 0;

  while (!ended) {
    const double t = frame / kRate;
    input.ticks = static_cast<uint32_t>(offsetMs + std::floor(t * 1000.0));
    if (releaseAt >= 0.0 && releaseAt <= t) {
      input.buttons = 0;
      if (shiftUntilRelease) input.shift = shiftUntilRelease = false;
      releaseAt = -1.0;
    }
    for (; next < script.size() && script[next].time <= t + 1e-9 && !ended &&
                       pendingFrames == 0; ++next) {
      const Command& c = script[next];
      const auto arg = [&](size_t i) { return i < c.args.size() ? c.args[i] : std::string(); };
      const auto number = [&](size_t i) { return std::stod(arg(i)); };
      const uint32_t stamp = static_cast<uint32_t>(offsetMs + std::round(c.time * 1000.0));
      clock.time = c.time;
      if (c.name == "startup") {
        gameState.RestartSound(SoundEffect::kLoaded);
        gameState.FadeMenuTheme(1.0);
      } else if (c.name == "key") {
        const bool inGame = !gameState.pads.empty();
        SDL_Event event{};
        event.type = SDL_KEYDOWN;
        event.key.keysym.sym = kKeys.at(arg(0));
        SDL_PushEvent(&event);
        if (!gameState.scene->InputLogic()) {
          // The program's shutdown: the theme fades, the quit sound plays for a second.
          gameState.FadeMenuTheme(0.0);
          gameState.RestartSound(SoundEffect::kQuit);
        }
        if (!inGame && !gameState.pads.empty()) {
          // A game has started: tap every pad.
          SDL_LockMutex(gameState.mutex);
          for (size_t p = 0; p < gameState.pads.size(); ++p) {
            gameState.pads[p] = new TapPad(gameState.pads[p], &signals[p], &frame);
          }
          SDL_UnlockMutex(gameState.mutex);
        }
      } else if (c.name == "move") {
        input.MoveTo(static_cast<int>(number(0)), static_cast<int>(number(1)));
      } else if (c.name == "click" || c.name == "rclick" || c.name == "shiftclick" ||
                 c.name == "hold") {
        const uint32_t button = c.name == "rclick" ? SDL_BUTTON_RMASK : SDL_BUTTON_LMASK;
        input.MoveTo(static_cast<int>(number(0)), static_cast<int>(number(1)));
        if (c.name == "shiftclick") input.shift = shiftUntilRelease = true;
        input.Press(button, static_cast<int>(number(0)), static_cast<int>(number(1)), stamp);
        input.buttons = button;
        releaseAt = c.time + (c.name == "hold" ? number(2) : kClickSeconds);
      } else if (c.name == "frame") {
        DrawList list;
        list.StartRecording(false);
        gameState.scene->Draw();
        DrawVersionNumber();
        DrawList::StopRecording();
        char head[96];
        std::snprintf(head, sizeof head, "== frame %s at %.3f ==\n", arg(0).c_str(), c.time);
        out.frames.push_back(head + list.Describe(fontName, textureName));
        // Lists compare equal exactly when their pictures do: the frame loop skips by it.
        for (size_t i = 0; i < lists.size(); ++i) {
          const bool same = out.frames[i].substr(out.frames[i].find('\n')) ==
                            out.frames.back().substr(out.frames.back().find('\n'));
          if ((lists[i] == list) != same) out.listsDisagree.push_back(arg(0));
        }
        lists.push_back(list);
      } else if (c.name == "drain") {
        gameState.recorder.Drain();
      } else if (c.name == "limit") {
        gameState.recorder.SetDataLimit(arg(0) == "none" ? WavFile::kMaxDataBytes : std::stoull(arg(0)));
      } else if (c.name == "end") {
        ended = true;
      } else if (c.name != "expect") {
        throw std::runtime_error("unknown command: " + c.line);
      }
    }
    if (ended) break;
    if (pendingFrames != 0) {
      // A new stream: its clock starts at 0 and presses from before it belong to no time
      // that was heard.
      offsetMs += t * 1000.0;
      nFrames = pendingFrames;
      pendingFrames = 0;
      frame = 0;
      gameState.streamGeneration.fetch_add(1);
      out.streamStarts.push_back(static_cast<long>(out.mix.size() / 2));
      continue;
    }
    if (out.streamStarts.empty()) out.streamStarts.push_back(0);
    std::vector<double> buffer(2 * nFrames, 0.0);
    AudioMixerCallback(buffer.data(), nullptr, nFrames, t, 0, nullptr);
    out.mix.insert(out.mix.end(), buffer.begin(), buffer.end());
    const uint64_t take = gameState.recorder.RunningTake();
    if (firstTake == 0) firstTake = take;
    if (take != 0 && take == firstTake) out.take.insert(out.take.end(), buffer.begin(), buffer.end());
    frame += nFrames;
  }

  // Every take completes; the first one's file is kept.
  std::vector<std::string>& names = out.takeNames;
  gameState.recorder.SetStreamRunning(false);
  gameState.recorder.StopWriter();
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".wav") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  if (!names.empty()) out.takeFile = ReadFile(folder + "/" + names[0]);
  out.padTable = PadTable(signals);

  content = saved;
  RecordingFolder::SetClock(nullptr);
  gameState.reopenStream = nullptr;
  RemoveEngine(folder);
  SDL_QuitSubSystem(SDL_INIT_EVENTS);
  return out;
}
