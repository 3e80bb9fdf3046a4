// Record pad: file names, opening and closing the recording from the audio callback, which
// buffers land in the file, a folder that cannot be written, and the pressed highlight.

#include <dirent.h>

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
  ASSERT_TRUE(gameState.recording.load()) << "opened inside the audio callback";
  ASSERT_EQ(Files(dir_).size(), 1u);
  const std::string first = dir_ + "/" + Files(dir_)[0];
  AudioBuffer(0);
  AudioBuffer(0);
  AudioBuffer(1);  // buffer 4 stops it
  EXPECT_FALSE(gameState.recording.load());
  EXPECT_TRUE(pad_->Pressed());

  // Closed inside the callback too: the header is complete without any other call.
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
  EXPECT_EQ(Contents(first), before) << "nothing is written once stopped";

  Click();  // a further click opens a new file under a new name
  EXPECT_TRUE(gameState.recording.load());
  ASSERT_EQ(Files(dir_).size(), 2u);
  Click();
  EXPECT_FALSE(gameState.recording.load());
  EXPECT_EQ(Contents(first), before);
}

TEST_F(RecordPadTest, LeavingTheGameCompletesTheRecording) {
  AudioBuffer(1);
  AudioBuffer(1);
  ASSERT_TRUE(gameState.recording.load());
  GameScene::TearDownGame();
  EXPECT_FALSE(gameState.recording.load());
  EXPECT_TRUE(gameState.pads.empty());
  const Wav wav(dir_ + "/" + Files(dir_).at(0));
  EXPECT_TRUE(wav.riffMatches);
  EXPECT_TRUE(wav.dataMatches);
  EXPECT_EQ(wav.Frames(), 2u * kFrames);
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
  EXPECT_EQ(Contents(thisMinute), "keep");
  EXPECT_EQ(Contents(nextMinute), "keep");
  EXPECT_EQ(Files(dir_).size(), 3u);
}

TEST_F(RecordPadTest, FolderThatCannotBeWrittenShowsAnErrorUntilTheNextClick) {
  RecordPad::SetRecordingFolder(dir_ + "/missing/");
  Click();
  EXPECT_FALSE(gameState.recording.load()) << "no recording without an open file";
  EXPECT_TRUE(pad_->Failed());
  AudioBuffer(0);
  AudioBuffer(0);
  EXPECT_TRUE(pad_->Failed()) << "the error stays shown";

  // A folder that passes the permission check but cannot hold files: the library's error is
  // caught on the audio thread.
  Touch(dir_ + "/plain_file");
  RecordPad::SetRecordingFolder(dir_ + "/plain_file/");
  Click();
  EXPECT_FALSE(gameState.recording.load());
  EXPECT_TRUE(pad_->Failed());

  RecordPad::SetRecordingFolder(dir_ + "/");
  AudioBuffer(1);
  EXPECT_TRUE(gameState.recording.load()) << "the next click tries again";
  EXPECT_FALSE(pad_->Failed());
  AudioBuffer(0);
  Click();
  EXPECT_FALSE(gameState.recording.load());
  EXPECT_EQ(Files(dir_).size(), 2u) << "the recording and plain_file";
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
  EXPECT_TRUE(gameState.recording.load()) << "still the recording the first press started";
}

}  // namespace
