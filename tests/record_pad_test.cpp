// Record pad and recorder: file names, which buffers land in the file (written by the
// recorder's writer thread from the ring the real callback feeds), a header kept complete
// while recording, folders that cannot be written, writes that fail part way, a full ring, a
// signal's exit, and the pressed highlight.

#include <dirent.h>
#include <sys/resource.h>

#include <csignal>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common.h"
#include "game_scene.h"
#include "game_state.h"
#include "mono_sound_pad.h"
#include "record_pad.h"
#include "recorder.h"
#include "test_support.h"

namespace {

constexpr unsigned int kFrames = 512;

// Plays a constant level per buffer that rises by 0.02 with every buffer (0.01 in the mix), so
// a recording shows which buffers it holds.
class BufferCountPad : public MonoSoundPad {
 public:
  BufferCountPad() : MonoSoundPad(0, 0, 0, 0) {}
  void Draw() override {}

 protected:
  void MonoAudioCallback(double* buffer, unsigned int nFrames, double) override {
    ++buffers_;
    for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = 0.02 * buffers_;
  }

 private:
  int buffers_ = 0;
};

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

void Touch(const std::string& path, const std::string& text = "") {
  std::ofstream(path) << text;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d)) {
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

uint32_t Le32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
  return v;
}

uint16_t Le16(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                               (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

// A WAV file's format and samples, with its header sizes checked against the file.
struct Wav {
  explicit Wav(const std::string& path) {
    const std::string bytes = Contents(path);
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0) return;
    riffMatches = Le32(bytes, 4) == bytes.size() - 8;
    for (size_t at = 12; at + 8 <= bytes.size();) {
      const std::string id = bytes.substr(at, 4);
      const uint32_t size = Le32(bytes, at + 4);
      if (id == "fmt ") {
        channels = Le16(bytes, at + 10);
        rate = Le32(bytes, at + 12);
        bits = Le16(bytes, at + 22);
      } else if (id == "data") {
        dataMatches = at + 8 + size == bytes.size();
        for (size_t i = at + 8; i + 1 < bytes.size() && i < at + 8 + size; i += 2) {
          samples.push_back(static_cast<int16_t>(Le16(bytes, i)) / 32768.0);
        }
      }
      at += 8 + size;
    }
  }
  size_t Frames() const { return channels == 0 ? 0 : samples.size() / channels; }

  bool riffMatches = false;
  bool dataMatches = false;
  unsigned int channels = 0;
  unsigned int rate = 0;
  unsigned int bits = 0;
  std::vector<double> samples;
};

class RecordPadTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    dir_ = MakeTempDir();
    RecordPad::SetRecordingFolder(dir_ + "/");
    AddPad(new BufferCountPad());
    pad_ = new RecordPad(50, 410, 100, 75);
    AddPad(pad_);
    input.MoveTo(100, 440);
  }
  void TearDown() override {
    EngineTest::TearDown();
    RecordPad::SetRecordingFolder("../../../");
  }

  // Runs the next buffer with the given buttons on a thread of its own, as the audio back end
  // does.
  void AudioBuffer(uint32_t buttons) {
    input.buttons = buttons;
    const double t = BufferTime(next_++, kFrames);
    std::thread audio([this, t] { RunBuffer(t, kFrames); });
    audio.join();
  }
  // A press on the pad in one buffer and the release in the next.
  void Click() {
    AudioBuffer(1);
    AudioBuffer(0);
  }

  std::string dir_;
  RecordPad* pad_ = nullptr;
  int next_ = 0;
};

TEST(RecordFilenameTest, FirstFreeNameOfTheMinute) {
  const std::string dir = MakeTempDir() + "/";
  const std::time_t now = LocalTime(2024, 3, 1, 4, 5, 30);
  const std::string plain = dir + "2024-03-01_04-05.wav";
  EXPECT_EQ(RecordPad::RecordFilename(dir, now), plain);
  Touch(plain);
  EXPECT_EQ(RecordPad::RecordFilename(dir, now), dir + "2024-03-01_04-05_2.wav");
  Touch(dir + "2024-03-01_04-05_2.wav");
  EXPECT_EQ(RecordPad::RecordFilename(dir, now), dir + "2024-03-01_04-05_3.wav");
  std::remove(plain.c_str());
  EXPECT_EQ(RecordPad::RecordFilename(dir, now), plain) << "a free plain name is taken again";
  ASSERT_EQ(system(("mkdir " + plain).c_str()), 0);
  EXPECT_EQ(RecordPad::RecordFilename(dir, now), dir + "2024-03-01_04-05_3.wav")
      << "a folder of that name counts as taken";

  EXPECT_EQ(RecordPad::RecordFilename(dir, LocalTime(2031, 12, 24, 23, 59, 0)),
            dir + "2031-12-24_23-59.wav");
}

TEST(RecordFilenameTest, RecordingsGoThreeLevelsUpByDefault) {
  EXPECT_EQ(RecordPad::RecordingFolder(), "../../../");
  const std::string name = RecordPad::RecordFilename();
  EXPECT_EQ(name.rfind("../../../20", 0), 0u) << name;
  EXPECT_EQ(name.substr(name.size() - 4), ".wav");
}

TEST_F(RecordPadTest, RecordsFromTheStartingClickUpToTheStoppingOne) {
  AudioBuffer(0);
  AudioBuffer(1);  // buffer 1 starts the recording
  ASSERT_TRUE(gameState.recorder.Recording());
  AudioBuffer(0);
  gameState.recorder.Drain();
  ASSERT_EQ(Files(dir_).size(), 1u) << "created by the writer thread";
  const std::string first = dir_ + "/" + Files(dir_)[0];
  {
    // While recording, the header always declares what has been written.
    const Wav partial(first);
    EXPECT_TRUE(partial.riffMatches && partial.dataMatches);
    EXPECT_EQ(partial.Frames(), 2u * kFrames);
  }
  AudioBuffer(0);
  AudioBuffer(1);  // buffer 4 stops it
  EXPECT_FALSE(gameState.recorder.Recording());
  EXPECT_TRUE(pad_->Pressed());
  gameState.recorder.Drain();

  const Wav wav(first);
  EXPECT_TRUE(wav.riffMatches);
  EXPECT_TRUE(wav.dataMatches);
  EXPECT_EQ(wav.channels, 2u);
  EXPECT_EQ(wav.rate, 44100u);
  EXPECT_EQ(wav.bits, 16u);
  ASSERT_EQ(wav.Frames(), 3u * kFrames) << "buffers 1, 2 and 3";
  for (int b = 0; b < 3; ++b) {
    const double level = 0.01 * (b + 2);  // the level pad counts buffer 0 as its first
    EXPECT_NEAR(wav.samples[2 * b * kFrames], level, 1e-4) << "left, recorded buffer " << b;
    EXPECT_NEAR(wav.samples[2 * (b + 1) * kFrames - 1], level, 1e-4) << "right, buffer " << b;
  }

  const std::string before = Contents(first);
  AudioBuffer(0);
  AudioBuffer(0);
  gameState.recorder.Drain();
  EXPECT_EQ(Contents(first), before) << "nothing is written once stopped";

  Click();  // a further click opens a new file under a new name
  EXPECT_TRUE(gameState.recorder.Recording());
  Click();
  EXPECT_FALSE(gameState.recorder.Recording());
  gameState.recorder.Drain();
  ASSERT_EQ(Files(dir_).size(), 2u);
  EXPECT_EQ(Contents(first), before);
  EXPECT_FALSE(pad_->Failed());
}

TEST_F(RecordPadTest, LeavingTheGameCompletesTheRecording) {
  AudioBuffer(1);
  AudioBuffer(1);
  ASSERT_TRUE(gameState.recorder.Recording());
  GameScene::TearDownGame();
  EXPECT_TRUE(gameState.pads.empty());
  EXPECT_FALSE(gameState.recorder.Recording());
  // The writer completes the file even if no buffer follows (a stream that has stopped).
  gameState.recorder.Drain();
  const Wav wav(dir_ + "/" + Files(dir_).at(0));
  EXPECT_TRUE(wav.riffMatches);
  EXPECT_TRUE(wav.dataMatches);
  EXPECT_EQ(wav.Frames(), 2u * kFrames);
  AudioBuffer(0);
  EXPECT_FALSE(gameState.recorder.Recording()) << "the audio thread stops at its next buffer";
  gameState.recorder.Drain();
  EXPECT_EQ(Wav(dir_ + "/" + Files(dir_).at(0)).Frames(), 2u * kFrames);
}

TEST_F(RecordPadTest, NeverOverwritesAnExistingRecording) {
  // The names of this minute and the next are taken, whichever minute the click falls in.
  const std::time_t now = std::time(nullptr);
  const std::string thisMinute = RecordPad::RecordFilename(dir_ + "/", now);
  const std::string nextMinute = RecordPad::RecordFilename(dir_ + "/", now + 60);
  Touch(thisMinute, "keep");
  Touch(nextMinute, "keep");
  Click();
  Click();
  gameState.recorder.Drain();
  EXPECT_EQ(Contents(thisMinute), "keep");
  EXPECT_EQ(Contents(nextMinute), "keep");
  EXPECT_EQ(Files(dir_).size(), 3u);
}

TEST_F(RecordPadTest, FolderThatCannotBeWrittenShowsAnErrorUntilTheNextClick) {
  Touch(dir_ + "/plain_file");
  for (const char* folder : {"/missing/", "/plain_file/"}) {
    RecordPad::SetRecordingFolder(dir_ + folder);
    testing::internal::CaptureStderr();
    AudioBuffer(1);
    gameState.recorder.Drain();
    AudioBuffer(0);
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(gameState.recorder.Recording()) << folder << ": no recording without a file";
    EXPECT_TRUE(pad_->Failed()) << folder;
    EXPECT_NE(messages.find("Couldn't create recording"), std::string::npos) << messages;
    AudioBuffer(0);
    EXPECT_TRUE(pad_->Failed()) << "the error stays shown";
  }

  RecordPad::SetRecordingFolder(dir_ + "/");
  AudioBuffer(1);
  EXPECT_TRUE(gameState.recorder.Recording()) << "the next click tries again";
  EXPECT_FALSE(pad_->Failed());
  AudioBuffer(0);
  Click();
  gameState.recorder.Drain();
  EXPECT_FALSE(gameState.recorder.Recording());
  EXPECT_EQ(Files(dir_).size(), 2u) << "the recording and plain_file";
}

// A write that fails part way (a full disk, a file size limit, the largest WAV size) stops the
// recording: the file keeps the whole frames written, its header declares exactly them, the
// pad shows the error, one message is printed, and the game plays on.
TEST_F(RecordPadTest, FailedWriteKeepsACompleteFileAndShowsTheError) {
  struct Case {
    const char* name;
    bool processLimit;  // a file size limit on the process, else the recorder's own limit
    uint64_t limit;     // bytes
  };
  // 44 header bytes + 3.5 buffers of frames + a partial frame.
  const uint64_t limit = 44 + 7 * kFrames * 2 + 3;
  for (const Case& c : {Case{"file size limit", true, limit},
                        Case{"largest WAV size", false, limit - 44}}) {
    SCOPED_TRACE(c.name);
    const std::string dir = MakeTempDir();
    RecordPad::SetRecordingFolder(dir + "/");
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    if (c.processLimit) {
      rlimit lowered = saved;
      lowered.rlim_cur = c.limit;
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
    } else {
      gameState.recorder.SetDataLimit(c.limit);
    }
    testing::internal::CaptureStderr();
    Click();
    for (int b = 0; b < 6; ++b) {
      AudioBuffer(0);
      gameState.recorder.Drain();
    }
    const std::string messages = testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    gameState.recorder.SetDataLimit(WavFile::kMaxDataBytes);

    EXPECT_FALSE(gameState.recorder.Recording());
    EXPECT_TRUE(pad_->Failed());
    size_t count = 0;
    for (size_t at = messages.find("Couldn't write recording"); at != std::string::npos;
         at = messages.find("Couldn't write recording", at + 1)) {
      ++count;
    }
    EXPECT_EQ(count, 1u) << messages;
    const std::vector<std::string> files = Files(dir);
    ASSERT_EQ(files.size(), 1u);
    const Wav wav(dir + "/" + files[0]);
    EXPECT_TRUE(wav.riffMatches && wav.dataMatches) << "header completed for what was written";
    EXPECT_GT(wav.Frames(), 0u);
    EXPECT_LE(4 * wav.Frames(), limit - 44);
    if (c.processLimit) {
      EXPECT_EQ(wav.Frames(), (limit - 44) / 4) << "every whole frame kept";
    }
    const int first = next_ - 8;  // the buffer of the starting click
    for (size_t f = 0; f < wav.Frames(); f += kFrames / 2) {
      EXPECT_NEAR(wav.samples[2 * f], 0.01 * (first + 1 + static_cast<int>(f / kFrames)), 1e-4)
          << f;
    }
    EXPECT_GT(Peak(RunBuffer(BufferTime(next_++, kFrames), kFrames)), 0.0) << "plays on";
  }
}

TEST(RecorderTest, FramesThatDoNotFitTheRingAreDroppedAndReported) {
  const std::string dir = MakeTempDir();
  RecordPad::SetRecordingFolder(dir + "/");
  Recorder recorder(1000);
  std::vector<double> buffer(2 * 512, 0.25);
  recorder.StartCapture();
  for (int b = 0; b < 3; ++b) recorder.Capture(buffer.data(), 512);  // no writer yet
  EXPECT_EQ(recorder.DroppedFrames(), 3 * 512 - 1000);
  testing::internal::CaptureStderr();
  recorder.StartWriter();
  recorder.StopCapture();
  recorder.Drain();
  recorder.StopWriter();
  const std::string messages = testing::internal::GetCapturedStderr();
  RecordPad::SetRecordingFolder("../../../");
  EXPECT_NE(messages.find("missing 536 frames"), std::string::npos) << messages;
  const Wav wav(dir + "/" + Files(dir).at(0));
  EXPECT_TRUE(wav.riffMatches && wav.dataMatches);
  EXPECT_EQ(wav.Frames(), 1000u);
}

// A second signal: the writer completes the open recording, then ends the process.
TEST(RecorderDeathTest, ExitWhenCompleteFinishesTheRecordingFirst) {
  const std::string dir = MakeTempDir();
  RecordPad::SetRecordingFolder(dir + "/");
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(
      {
        Recorder recorder;
        recorder.StartWriter();
        std::vector<double> buffer(2 * 512, -0.5);
        recorder.StartCapture();
        for (int b = 0; b < 40; ++b) recorder.Capture(buffer.data(), 512);
        recorder.ExitWhenComplete(130);
        for (;;) recorder.Capture(buffer.data(), 512);  // the audio thread goes on
      },
      testing::ExitedWithCode(130), "");
  RecordPad::SetRecordingFolder("../../../");
  const Wav wav(dir + "/" + Files(dir).at(0));
  EXPECT_TRUE(wav.riffMatches && wav.dataMatches);
  EXPECT_GE(wav.Frames(), 40u * 512);
  EXPECT_NEAR(wav.samples.at(0), -0.5, 1e-4);
}

TEST_F(RecordPadTest, PressHighlightLastsUntilTheRelease) {
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(), 0.15f) << "pointer over the pad";
  AudioBuffer(1);
  AudioBuffer(1);
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(), 0.30f);
  input.MoveTo(400, 100);
  AudioBuffer(1);
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(), 0.15f) << "held off the pad";
  AudioBuffer(0);
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(), 0.0f);
  EXPECT_FALSE(pad_->Pressed());

  AudioBuffer(1);  // a click outside the pad changes nothing
  EXPECT_FALSE(pad_->Pressed());
  AudioBuffer(0);
  EXPECT_TRUE(gameState.recorder.Recording()) << "still the recording the first press started";
}

}  // namespace
