// Record pad and recorder: file names, which buffers land in the file (written by the
// recorder's writer thread from the ring the real callback feeds; only buffers that were
// played), a header kept complete while recording, folders that cannot be written, writes that
// fail part way, a full ring or mark queue, takes that never cut one another, the end of a take
// when the game is left, and the pad's highlight.

#include <SDL.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

#include "game_scene.h"
#include "metronome_pad.h"
#include "mono_sound_pad.h"
#include "record_pad.h"
#include "recording_folder.h"
#include "test_support.h"
#include "wav_file.h"

namespace {

constexpr unsigned int kFrames = 512;

// Plays a constant level per buffer that rises by 0.02 with every buffer (0.01 in the mix), so
// a recording shows which buffers it holds.
class BufferCountPad : public MonoSoundPad {
 public:
  BufferCountPad() : MonoSoundPad(0, 0, 0, 0) {}
  void Draw() override {}
  void MonoAudioCallback(double* buffer, unsigned int nFrames, double) override {
    for (unsigned int i = 0, n = ++buffers_; i < nFrames; ++i) buffer[i] = 0.02 * n;
  }
  int buffers_ = 0;
};

// The 16-bit sample the file holds for a mix level.
int16_t Sample(double level) { return static_cast<int16_t>(std::lround(level * 32767.0)); }

// Paths of the entries of a folder.
std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) paths.push_back(entry.path());
  return paths;
}

// A recording as the recorder writes it: the canonical 44-byte header, then 16-bit frames.
struct Wav {
  explicit Wav(const std::string& path) {
    const std::string b = ReadFile(path);
    const auto le = [&b](size_t at, int n) {
      uint32_t v = 0;
      while (n-- > 0) v = v << 8 | static_cast<uint8_t>(b[at + n]);
      return v;
    };
    if (b.size() < 44) return;
    // Both sizes declare exactly what the file holds: whole frames.
    consistent = b.compare(0, 4, "RIFF") == 0 && b.compare(36, 4, "data") == 0 &&
                 le(4, 4) == b.size() - 8 && le(40, 4) == b.size() - 44 && b.size() % 4 == 0;
    samples = WavSamples(b);
  }
  size_t Frames() const { return samples.size() / 2; }

  bool consistent = false;
  std::vector<int16_t> samples;
};

// The level of each whole buffer of a recording (its first left sample).
std::vector<int16_t> Levels(const Wav& wav) {
  std::vector<int16_t> levels;
  for (size_t f = 0; f + kFrames <= wav.Frames(); f += kFrames) levels.push_back(wav.samples[2 * f]);
  return levels;
}

// The levels the level pad plays in the buffers counted from start.
std::vector<int16_t> Played(int start, std::initializer_list<int> buffers) {
  std::vector<int16_t> levels;
  for (int b : buffers) levels.push_back(Sample(0.01 * (start + 1 + b)));
  return levels;
}

class RecordPadTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    dir_ = RecordingFolder::Path();
    AddPad(new BufferCountPad());
    pad_ = new RecordPad(50, 410, 100, 75);
    AddPad(pad_);
    input.MoveTo(100, 440);
  }

  // Runs the next buffer with the given buttons on a thread of its own, as the audio back end
  // does.
  void AudioBuffer(uint32_t buttons) {
    input.buttons = buttons;
    const double t = BufferTime(next_++, kFrames);
    std::thread([this, t] { RunBuffer(t, kFrames); }).join();
  }
  // A press on the pad in one buffer and the release in the next.
  void Click() {
    AudioBuffer(1);
    AudioBuffer(0);
  }

  Recorder& recorder_ = gameState.recorder;
  std::string dir_;
  RecordPad* pad_ = nullptr;
  int next_ = 0;
};

TEST_F(RecordPadTest, ANewRecordingTakesTheFirstFreeNameOfTheMinute) {
  // Named by the local time: here a zone nine hours east of UTC, where a name by UTC would be
  // of the day before.
  struct Zone {
    std::string saved = std::getenv("TZ") != nullptr ? std::getenv("TZ") : "";
    bool had = std::getenv("TZ") != nullptr;
    Zone() { setenv("TZ", "XYZ-9", 1), tzset(); }
    ~Zone() { had ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ"), tzset(); }
  } zone;
  std::tm local{};
  local.tm_year = 124, local.tm_mon = 2, local.tm_mday = 1, local.tm_hour = 4, local.tm_min = 5;
  local.tm_isdst = -1;
  const std::time_t now = std::mktime(&local);
  const std::string base = dir_ + "2024-03-01_04-05";
  EXPECT_EQ(RecordingFolder::RecordFilename(dir_, now), base + ".wav");
  std::ofstream(base + ".wav").put('x');
  EXPECT_EQ(RecordingFolder::RecordFilename(dir_, now), base + "_2.wav");
  std::ofstream(base + "_2.wav").put('x');
  std::filesystem::remove(base + ".wav");
  EXPECT_EQ(RecordingFolder::RecordFilename(dir_, now), base + ".wav") << "free again beside _2";
  // A name taken meanwhile (another program recording) is never written over.
  WavFile racing;
  EXPECT_EQ(racing.Create(base + "_2.wav", 2, 44100), EEXIST);
  EXPECT_EQ(ReadFile(base + "_2.wav"), "x");
  // Nor is a file still open left half written for another.
  WavFile open;
  ASSERT_EQ(open.Create(dir_ + "open.wav", 2, 44100), 0);
  EXPECT_EQ(open.Create(base + "_9.wav", 2, 44100), EBUSY);
  EXPECT_FALSE(std::filesystem::exists(base + "_9.wav"));
  std::filesystem::create_directory(base + ".wav");  // a folder of that name counts as taken
  EXPECT_EQ(RecordingFolder::RecordFilename(dir_, now), base + "_3.wav");
  std::filesystem::create_symlink(dir_ + "nowhere", base + "_3.wav");  // so does a dangling link
  EXPECT_EQ(RecordingFolder::RecordFilename(dir_, now), base + "_4.wav");
}

// Where a take goes is decided by what the bundle is. Without the build tree's mark (an
// installed bundle) each take goes to "Marlune/" in the user's music folder, made then, even
// where the bundle's own folder can be written (a user's prefix, or root's). A build tree's
// bundle records beside itself (a folder there that cannot be written: below).
TEST_F(RecordPadTest, AnInstalledBundleRecordsIntoTheMusicFolderABuildTreeBesideItself) {
  const std::string home = dir_ + "home";
  RecordingFolder::SetBuildTreeMark(dir_ + "no-mark");  // installed, beside a folder it can write
  std::filesystem::create_directories(home + "/.config");
  // A home folder of its own with a music folder named in the user's folder settings.
  std::ofstream(home + "/.config/user-dirs.dirs") << "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n";
  Click();
  Click();
  recorder_.Drain();
  EXPECT_EQ(Files(home + "/Tunes/Marlune").size(), 1u);
  EXPECT_EQ(Files(dir_).size(), 1u) << "nothing beside the bundle, only home";
  std::filesystem::remove(home + "/.config/user-dirs.dirs");
  Click();
  Click();
  recorder_.Drain();
  ASSERT_EQ(Files(home + "/Music/Marlune").size(), 1u) << "without settings, ~/Music";
  EXPECT_TRUE(Wav(Files(home + "/Music/Marlune")[0]).consistent);
}

TEST(RecordingFolderTest, MusicFolderIsTheOneTheUserSettingsName) {
  const std::string home = MakeTempDir(), config = home + "/.config";
  std::filesystem::create_directories(config);
  const auto music = [&](const std::string& settings, const std::string& configHome = "") {
    std::ofstream(config + "/user-dirs.dirs") << settings;
    return RecordingFolder::MusicFolder(home, configHome);
  };
  EXPECT_EQ(RecordingFolder::MusicFolder(home, ""), home + "/Music") << "no settings file";
  EXPECT_EQ(music("# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                  "XDG_MUSIC_DIR=\"$HOME/Musik\"\n"),
            home + "/Musik");
  EXPECT_EQ(music("  XDG_MUSIC_DIR = \"/srv/music/\"\n"), "/srv/music") << "absolute; final / dropped";
  EXPECT_EQ(music("XDG_MUSIC_DIR=\"/\"\n"), "/") << "the root keeps its /";
  EXPECT_EQ(music("XDG_MUSIC_DIR=\"$HOME/My \\\"Songs\\\"\"\n"), home + "/My \"Songs\"") << "escapes";
  EXPECT_EQ(music("XDG_MUSIC_DIR=\"$HOME/\"\n"), home) << "the home folder: music folder turned off";
  EXPECT_EQ(music("XDG_MUSIC_DIR=\"$HOME\"\n"), home) << "the home folder, written bare";
  EXPECT_EQ(music("XDG_MUSIC_DIR=\"$HOME/A\"\nXDG_MUSIC_DIR=\"$HOME/B\"\n"), home + "/B") << "the last one holds";
  for (const char* ignored : {"XDG_MUSIC_DIR=\"Music\"\n", "XDG_MUSIC_DIR=\"$HOMEX/M\"\n",
                              "#XDG_MUSIC_DIR=\"$HOME/M\"\n", "XDG_MUSIC_DIRS=\"$HOME/M\"\n",
                              "XDG_MUSIC_DIR=$HOME/M\n"}) {
    EXPECT_EQ(music(ignored), home + "/Music") << ignored;
  }
  // XDG_CONFIG_HOME, when absolute, holds the settings instead of ~/.config.
  const std::string other = home + "/other";
  std::filesystem::create_directories(other);
  std::ofstream(other + "/user-dirs.dirs") << "XDG_MUSIC_DIR=\"$HOME/Other\"\n";
  EXPECT_EQ(music("XDG_MUSIC_DIR=\"$HOME/Dot\"\n", other), home + "/Other");
  EXPECT_EQ(music("XDG_MUSIC_DIR=\"$HOME/Dot\"\n", "other"), home + "/Dot") << "a relative one is ignored";
  std::filesystem::remove_all(home);
}

// A write that fails part way (the process's file size limit, the largest WAV size) stops the
// recording, and the limit is an ordinary write error, not a signal that ends the program:
// the file keeps the whole frames written, its header declares exactly them, the pad shows the
// error, one message is printed, and the game plays on.
TEST_F(RecordPadTest, FailedWriteKeepsACompleteFileAndShowsTheError) {
  // 44 header bytes + 3.5 buffers of frames + a partial frame.
  const uint64_t limit = 44 + 7 * kFrames * 2 + 3;
  for (const bool processLimit : {true, false}) {
    SCOPED_TRACE(processLimit ? "file size limit" : "largest WAV size");
    const std::string dir = dir_ + (processLimit ? "process/" : "own/");
    std::filesystem::create_directory(dir);
    RecordingFolder::Set(dir);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit lowered{limit, saved.rlim_max};
    ASSERT_EQ(processLimit ? setrlimit(RLIMIT_FSIZE, &lowered) : 0, 0);
    recorder_.SetDataLimit(processLimit ? WavFile::kMaxDataBytes : limit - 44);
    testing::internal::CaptureStderr();
    const int first = next_;  // the buffer of the starting click
    Click();
    for (int b = 0; b < 6; ++b) {
      AudioBuffer(0);
      recorder_.Drain();
    }
    const std::string messages = testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &saved);
    recorder_.SetDataLimit(WavFile::kMaxDataBytes);

    EXPECT_TRUE(!recorder_.Recording() && pad_->Failed());
    const size_t at = messages.find("Couldn't write recording");
    EXPECT_TRUE(at != std::string::npos && messages.find("write", at + 15) == std::string::npos)
        << "one message: " << messages;
    const std::string wavLimit = "the largest size a WAV file can have";
    const std::string processLimit_ = "file size limit of " + std::to_string(limit) + " bytes";
    EXPECT_EQ(messages.find(processLimit ? processLimit_ : wavLimit) != std::string::npos &&
                  messages.find(processLimit ? wavLimit : processLimit_) == std::string::npos,
              true) << "the message names the limit met: " << messages;
    ASSERT_EQ(Files(dir).size(), 1u);
    const Wav wav(Files(dir)[0]);
    EXPECT_TRUE(wav.consistent && wav.Frames() > 0 && 4 * wav.Frames() <= limit - 44)
        << "header completed for the " << wav.Frames() << " frames written";
    if (processLimit) {
      EXPECT_EQ(wav.Frames(), (limit - 44) / 4) << "every whole frame kept";
    }
    for (size_t f = 0; f < wav.Frames(); f += kFrames / 2) {
      EXPECT_EQ(wav.samples[2 * f], Sample(0.01 * (first + 1 + static_cast<int>(f / kFrames))));
    }
    EXPECT_GT(Peak(RunBuffer(BufferTime(next_++, kFrames), kFrames)), 0.0) << "plays on";
  }
}

// The writer held up (a slow card in fdatasync) across Escape, a new game and a new click: the
// stop belongs to the first take and the audio thread marks where it fell, so the second take
// keeps every buffer from its click on. A first take that fails once the writer gets to it (its
// file reaching the size limit) ends only itself.
TEST_F(RecordPadTest, AStopOrFailureOfOneTakeNeverCutsTheNext) {
  for (const bool firstFails : {false, true}) {
    SCOPED_TRACE(firstFails ? "first take fails" : "first take stopped");
    recorder_.SetDataLimit(firstFails ? 4 * kFrames * 4 : WavFile::kMaxDataBytes);
    testing::internal::CaptureStderr();
    recorder_.HoldWriter(true);
    const size_t before = Files(dir_).size();
    Click();  // take 1
    for (int b = 0; b < 3; ++b) AudioBuffer(0);
    gameState.StopRecording();  // Escape: the main thread asks
    EXPECT_FALSE(recorder_.Recording());
    AudioBuffer(0);  // take 1 ends here, five buffers long
    const int start = next_;
    Click();  // take 2
    AudioBuffer(0);
    recorder_.HoldWriter(false);
    recorder_.Drain();
    AudioBuffer(0);
    recorder_.Drain();
    EXPECT_TRUE(recorder_.Recording() && !pad_->Failed()) << "the second take runs on";
    Click();
    recorder_.Drain();
    testing::internal::GetCapturedStderr();
    recorder_.SetDataLimit(WavFile::kMaxDataBytes);

    std::vector<std::string> files = Files(dir_);
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), before + 2);
    const Wav first(files[before]);
    EXPECT_TRUE(first.consistent);
    if (firstFails) {
      EXPECT_LT(first.Frames(), 5u * kFrames);
    } else {
      EXPECT_EQ(first.Frames(), 5u * kFrames) << "up to the buffer after the stop";
    }
    const Wav second(files[before + 1]);
    EXPECT_TRUE(second.consistent && second.Frames() % kFrames == 0);
    EXPECT_EQ(Levels(second), Played(start, {0, 1, 2, 3})) << "every buffer from click to click";
    EXPECT_FALSE(pad_->Failed());
  }
}

// The audio library reports a failed write (ALSA: an underrun) after the callback of the
// buffer it dropped, before the next one: the recording leaves out exactly the dropped buffers,
// and the last buffer of a stream that was reopened, and keeps the ones after them. Underruns, even many in a row, never count as a lost device.
TEST_F(RecordPadTest, ARecordingHoldsExactlyTheBuffersThatWerePlayed) {
  StreamSupervisor& supervisor = gameState.streamSupervisor;
  supervisor.Starting();
  const int start = next_;
  Click();
  const auto dropped = [&] {
    AudioBuffer(0);
    supervisor.ReportError(false, "RtApiAlsa::callbackEvent: audio write error, underrun.");
  };
  // While it records, the header declares every frame written so far (a killed program leaves
  // a playable file), after each write, not only once a second or at the end.
  const auto declared = [&](size_t frames) {
    recorder_.Drain();
    const Wav wav(Files(dir_).at(0));
    EXPECT_TRUE(wav.consistent && wav.Frames() == frames) << wav.Frames() << " frames written";
  };
  declared(kFrames);
  dropped();
  AudioBuffer(0);
  declared(2 * kFrames);
  // A buffer larger than any size a stream is granted plays silence and holds nothing for the
  // take: the buffer before it is recorded once, and the next one only after it has played.
  const double oversized = BufferTime(next_++, kFrames);
  std::thread([this, oversized] { RunBuffer(oversized, GameState::kMaxBufferFrames + 1); }).join();
  AudioBuffer(0);
  declared(3 * kFrames);
  for (int b = 0; b < 5; ++b) dropped();
  AudioBuffer(0);
  gameState.streamGeneration.fetch_add(1);  // the stream reopened: its last buffer never played
  AudioBuffer(0);
  Click();
  recorder_.Drain();
  EXPECT_EQ(supervisor.Poll(0), StreamSupervisor::Action::kNone) << "not lost";
  supervisor.Stopped();
  EXPECT_EQ(Levels(Wav(Files(dir_).at(0))), Played(start, {0, 1, 3, 4, 11}))
      << "the buffers of the click, the release, those after underruns, an oversized buffer and "
         "the reopen";
}

TEST_F(RecordPadTest, FramesThatDoNotFitTheRingAreDroppedAndReported) {
  Recorder recorder(1000);
  std::vector<double> buffer(2 * 512, 1.0);
  for (size_t i = 1; i < buffer.size(); i += 2) buffer[i] = -1.0;
  recorder.StartCapture();
  for (int b = 0; b < 3; ++b) recorder.Capture(buffer.data(), 512);  // no writer yet
  EXPECT_EQ(recorder.DroppedFrames(), 3 * 512 - 1000);
  testing::internal::CaptureStderr();
  recorder.StartWriter();
  recorder.StopCapture();
  recorder.Drain();
  recorder.StartCapture();  // a take after the drops misses nothing
  recorder.Capture(buffer.data(), 512);
  recorder.StopCapture();
  recorder.StopWriter();
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(messages.find("missing 536 frames") != std::string::npos &&
              messages.find("missing") == messages.rfind("missing"))
      << "one take missing frames: " << messages;
  std::vector<std::string> files = Files(dir_);
  std::sort(files.begin(), files.end());
  const Wav wav(files.at(0));
  EXPECT_TRUE(wav.consistent);
  EXPECT_EQ(wav.Frames(), 1000u);
  EXPECT_TRUE(wav.samples.at(0) == 32767 && wav.samples.at(1) == -32767) << "full scale";

  // However late the writer gets to a take, the take ends after its last frame, also one
  // frame past the writer's pieces of 4096 frames: a take of 4097 frames waits whole for a
  // writer that has not started.
  Recorder late(8192);
  const std::vector<double> take(2 * 4097, 0.5);
  late.StartCapture();
  late.StartCapture();  // does nothing while a take runs
  late.Capture(take.data(), 4097);
  late.StopCapture();
  late.StartWriter();
  late.StopWriter();
  files = Files(dir_);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files.size(), 3u) << "a start while a take ran began another take";
  EXPECT_EQ(Wav(files.back()).Frames(), 4097u) << "a take of 4097 frames";
}

// The switch pads' highlight: a step under the pointer, another while pressed, and none left by
// a click pressed and released between two buffers (no release is left to clear it).
TEST_F(RecordPadTest, TheHighlightGrowsUnderThePointerAndWhilePressed) {
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(), 0.15f) << "under the pointer";
  AudioBuffer(1);
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(), 0.3f) << "pressed under the pointer";
  input.MoveTo(10, 10);
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(), 0.15f) << "pressed, the pointer moved away";
  AudioBuffer(0);
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(), 0.0f) << "released away from the pad";
  input.MoveTo(149, 484);
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(), 0.15f) << "in the pad's far corner";
  input.MoveTo(100, 490);
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(), 0.0f) << "below the pad, as far down as it is wide";

  input.MoveTo(100, 440);
  input.Press(SDL_BUTTON_LMASK, 100, 440, input.ticks);
  AudioBuffer(0);
  EXPECT_FALSE(recorder_.Recording()) << "the quick click switched the recording off";
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(), 0.15f) << "a quick click, already released";

  // The metronome's switch, away from its beats (step 1 at 0.19 s).
  MetronomePad* metronome = new MetronomePad(50, 500, 100, 75);
  AddPad(metronome);
  input.MoveTo(100, 537);
  AudioBuffer(1);
  EXPECT_TRUE(metronome->Enabled());
  EXPECT_FLOAT_EQ(metronome->OverlayAlpha(0.19), 0.3f) << "metronome: pressed under the pointer";
  AudioBuffer(0);
  EXPECT_FLOAT_EQ(metronome->OverlayAlpha(0.19), 0.15f) << "metronome: released";
  input.Press(SDL_BUTTON_LMASK, 100, 537, input.ticks);
  AudioBuffer(0);
  EXPECT_FALSE(metronome->Enabled());
  EXPECT_FLOAT_EQ(metronome->OverlayAlpha(0.19), 0.15f) << "metronome: a quick click, released";
}

// The stream lost while a take runs: the stream's worker asks for the stop, and with no buffer
// left to mark it the writer ends the take after the frames known played. A stop asked late
// for an older take never undoes the newer take's, nor does that stop end a newer take. A right
// click on the pad starts nothing.
TEST_F(RecordPadTest, AStopWithNoStreamRunningEndsTheTakeAtTheFramesPlayed) {
  const size_t before = Files(dir_).size();
  AudioBuffer(SDL_BUTTON_RMASK);
  AudioBuffer(0);
  EXPECT_FALSE(recorder_.Recording()) << "a right click";
  const int start = next_;
  Click();
  for (int b = 0; b < 2; ++b) AudioBuffer(0);
  const uint64_t take = recorder_.RunningTake();
  ASSERT_TRUE(take > 0 && recorder_.Recording());
  recorder_.SetStreamRunning(false);  // as the stream's worker does when it closes a lost stream
  gameState.StopRecording();
  recorder_.RequestStop(take - 1);
  EXPECT_FALSE(recorder_.Recording());
  recorder_.Drain();
  std::vector<std::string> files = Files(dir_);
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), before + 1);
  const Wav wav(files.back());
  EXPECT_TRUE(wav.consistent);
  EXPECT_EQ(Levels(wav), Played(start, {0, 1, 2})) << "the last buffer rendered was never known played";
  recorder_.SetStreamRunning(true);  // the stream is back
  AudioBuffer(0);
  EXPECT_FALSE(recorder_.Recording());
  EXPECT_EQ(Files(dir_).size(), before + 1);

  // That stop ends only the take it names: take A's stop is asked and marked while a stream
  // runs, take B follows, and the stream closes before the (held) writer has seen any of it.
  recorder_.HoldWriter(true);
  Click();  // take A
  gameState.StopRecording();
  AudioBuffer(0);
  const int startB = next_;
  Click();  // take B
  recorder_.SetStreamRunning(false);
  recorder_.HoldWriter(false);
  recorder_.Drain();
  recorder_.SetStreamRunning(true);
  AudioBuffer(0);
  AudioBuffer(0);
  Click();
  recorder_.Drain();
  files = Files(dir_);
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), before + 3);
  EXPECT_EQ(Levels(Wav(files.back())), Played(startB, {0, 1, 2, 3}));
}

// Leaving the game, by Escape or by closing the window, ends the running take: the next buffer
// is its last, and the file is complete with every buffer played since the click.
TEST_F(RecordPadTest, LeavingTheGameEndsTheTake) {
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
  for (const SDL_EventType type : {SDL_KEYDOWN, SDL_QUIT}) {
    SCOPED_TRACE(type == SDL_QUIT ? "window closed" : "Escape");
    if (gameState.pads.empty()) {  // the game before took its pads along
      pad_ = new RecordPad(50, 410, 100, 75);
      AddPad(pad_);
    }
    Click();
    AudioBuffer(0);
    ASSERT_TRUE(recorder_.Recording());
    SDL_Event event{};
    event.type = type;
    event.key.keysym.sym = SDLK_ESCAPE;
    SDL_PushEvent(&event);
    GameScene game;
    game.InputLogic();
    EXPECT_FALSE(recorder_.Recording());
    AudioBuffer(0);
    recorder_.Drain();
    std::vector<std::string> files = Files(dir_);
    std::sort(files.begin(), files.end());
    const Wav wav(files.back());
    EXPECT_TRUE(wav.consistent && wav.Frames() == 3 * kFrames) << wav.Frames() << " frames";
  }
  SDL_QuitSubSystem(SDL_INIT_EVENTS);
}

// A start is refused once the mark queue has no room for it and its stop: with an odd room (the
// writer took a first start before it stopped), after 31 takes more, not 32.
TEST(RecorderTest, AStartIsRefusedOnlyWhenItsStopWouldNotFit) {
  Recorder recorder(1000);
  recorder.StartCapture();
  recorder.StartWriter();
  recorder.Drain();
  recorder.StopWriter();
  recorder.StopCapture();
  int takes = 1;
  for (; !recorder.Failed() && takes < 100; ++takes) {
    recorder.StartCapture();
    recorder.StopCapture();
  }
  EXPECT_EQ(takes, 33);
}

std::time_t ThrowingClock() { throw std::runtime_error("no memory to name the file"); }

// A take that cannot start fails alone: "ERR" until the next click, one line on standard error
// that names no earlier take's file, no folder made where none was, and the next click records.
// The causes: no music folder can be made for an installed bundle (a home that is a file), a
// build tree's folder that is missing, a start the audio thread cannot post (the writer so far
// behind that the mark queue is full), and an exception while making the file (memory running
// out while naming it; here the naming clock throws).
TEST_F(RecordPadTest, ATakeThatCannotStartFailsAloneAndSaysWhyOnce) {
  Click();
  Click();  // a first take, complete
  recorder_.Drain();
  const std::string first = Files(dir_).at(0);
  const std::string home = dir_ + "home", missing = dir_ + "missing/";
  const struct {
    std::string message;
    std::function<void()> cause, undo;
  } cases[] = {
      {"Error: Couldn't create recording " + home + "/Music/Marlune/",
       [&] {
         RecordingFolder::SetBuildTreeMark(dir_ + "no-mark");
         std::ofstream(home).put('x');
         Click();
       },
       [&] {
         std::filesystem::remove(home);
         RecordingFolder::SetBuildTreeMark(dir_);
       }},
      {"Error: Couldn't create recording " + missing,
       [&] {
         RecordingFolder::Set(missing);
         Click();
       },
       [&] { RecordingFolder::Set(dir_); }},
      {"Error: Couldn't start recording",
       [&] {
         recorder_.HoldWriter(true);
         for (int clicks = 0; clicks < 200 && !pad_->Failed(); ++clicks) Click();
         recorder_.HoldWriter(false);
       },
       [] {}},
      {"Error: Couldn't create recording: no memory to name the file",
       [&] {
         RecordingFolder::SetClock(&ThrowingClock);
         Click();
       },
       [] { RecordingFolder::SetClock(nullptr); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    testing::internal::CaptureStderr();
    c.cause();
    recorder_.Drain();
    AudioBuffer(0);
    recorder_.Drain();
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(pad_->Failed() && !recorder_.Recording()) << "ERR stays until the next click";
    EXPECT_TRUE(messages.find(c.message) == 0 &&
                std::count(messages.begin(), messages.end(), '\n') == 1)
        << "one line: " << messages;
    EXPECT_EQ(messages.find(first), std::string::npos) << "the earlier take's file: " << messages;
    EXPECT_FALSE(std::filesystem::exists(missing) || std::filesystem::exists(home + "/Music"));
    c.undo();
    const size_t files = Files(dir_).size();
    Click();
    recorder_.Drain();
    EXPECT_TRUE(recorder_.Recording() && !pad_->Failed()) << "the next click records";
    EXPECT_EQ(Files(dir_).size(), files + 1);
    Click();
  }
}

}  // namespace
