#include "test_support.h"

#include <limits>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "FileWvOut.h"
#include "audio_mixer.h"
#include "draw_list.h"
#include "record_pad.h"
#include "recording_folder.h"
#include "sound_pad.h"

bool FakeInput::PopPress(PointerPress* press) {
  for (uint32_t button : {uint32_t{SDL_BUTTON_LMASK}, uint32_t{SDL_BUTTON_RMASK}}) {
    if ((buttons & button) && !(recorded_ & button)) Press(button, sdlX, 600 - sdlY, ticks);
  }
  recorded_ = buttons;
  if (count_ == 0) return false;
  *press = queued_[0];
  std::copy(queued_.begin() + 1, queued_.begin() + count_--, queued_.begin());
  return true;
}

void FakeInput::Press(uint32_t button, int x, int y, uint32_t timeMs) {
  if (count_ < queued_.size()) queued_[count_++] = PointerPress{timeMs, x, 600 - y, button, shift};
  recorded_ |= button;
}

void InstallEngine(FakeInput* input, FakeClock* clock, const std::string& recordingFolder) {
  SetInputSource(input);
  gameState.clock = clock;
  gameState.loopOptions.chord.Install(LoopOptions().chord.Current());  // the default chord
  gameState.loopOptions.lateWindow.store(0.0);
  gameState.lastStreamTime.store(0.0);
  gameState.lastMouseButtons.store(0);
  gameState.bufferFrames.store(512);
  gameState.outputLatency.store(0.0);
  gameState.heardOffset.store(std::numeric_limits<double>::quiet_NaN());
  gameState.streamGeneration.fetch_add(1);  // every run plays a stream of its own
  gameState.streamSupervisor.Starting();  // no loss or error left from a run before
  gameState.streamSupervisor.Stopped();
  // Recordings land in a folder of the run's own, never beside the build's bundle.
  RecordingFolder::Set(recordingFolder + "/");
  RecordingFolder::SetBuildTreeMark(recordingFolder + "/");  // recording as a build tree's bundle
  // A folder that cannot be written sends recordings to a home of the test's, never the user's.
  RecordingFolder::SetUserFolders(recordingFolder + "/home", "");
  gameState.recorder.StartWriter();
  gameState.recorder.SetStreamRunning(true);  // the run's buffers are the stream
}

void RemoveEngine(const std::string& recordingFolder) {
  gameState.DeletePads();
  // No callback runs now: stop as the audio thread would, and complete the file.
  gameState.recorder.SetStreamRunning(false);
  gameState.heldFrames = 0;
  gameState.recorder.StopCapture();
  gameState.recorder.StopWriter();
  RecordingFolder::Set("../../../");
  RecordingFolder::SetBuildTreeMark("");
  RecordingFolder::SetUserFolders("", "");
  std::filesystem::remove_all(recordingFolder);
  SetInputSource(nullptr);
}

void EngineTest::SetUp() {
  recordingFolder = MakeTempDir();
  InstallEngine(&input, &clock, recordingFolder);
}

void EngineTest::TearDown() { RemoveEngine(recordingFolder); }

std::vector<double> EngineTest::RunBuffer(double t, unsigned int nFrames) {
  // The back end hands the callback a buffer that still holds what it played before.
  std::vector<double> out(2 * nFrames, 0.5);
  AudioMixerCallback(out.data(), nullptr, nFrames, t, 0, nullptr);
  return out;
}

std::vector<double> EngineTest::RunSeconds(double t0, double seconds, unsigned int nFrames) {
  std::vector<double> all;
  for (int i = 0; i < std::ceil(seconds * 44100.0 / nFrames); ++i) {
    const std::vector<double> out = RunBuffer(t0 + i * nFrames / 44100.0, nFrames);
    all.insert(all.end(), out.begin(), out.end());
  }
  return all;
}

void EngineTest::AddPad(SoundPad* pad) { gameState.pads.push_back(pad); }

void WriteTestWav(const std::string& path, const std::vector<double>& samples,
                  unsigned int channels) {
  stk::FileWvOut out(path, channels, stk::FileWrite::FILE_WAV, stk::Stk::STK_SINT16);
  stk::StkFrames frames(samples.size() / channels, channels);
  for (size_t i = 0; i < samples.size(); ++i) frames[i] = samples[i];
  out.tick(frames);
  out.closeFile();
}

std::vector<double> LeftChannel(const std::vector<double>& stereo) {
  std::vector<double> left(stereo.size() / 2);
  for (size_t i = 0; i < left.size(); ++i) left[i] = stereo[2 * i];
  return left;
}

double Peak(const std::vector<double>& samples, size_t from, size_t to) {
  double peak = 0.0;
  for (size_t i = from; i < std::min(to, samples.size()); ++i) {
    peak = std::max(peak, std::fabs(samples[i]));
  }
  return peak;
}

std::string Drawn(const std::function<void()>& draw) {
  DrawList list;
  list.StartRecording(false);
  draw();
  DrawList::StopRecording();
  return list.Describe([](const TTF_Font*) { return std::string("font"); },
                       [](unsigned int id) { return std::to_string(id); });
}

std::string MakeTempDir() {
  char pattern[] = "/tmp/marlune_test_XXXXXX";
  const char* dir = mkdtemp(pattern);
  return dir != nullptr ? dir : "/tmp";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<int16_t> WavSamples(const std::string& bytes) {
  std::vector<int16_t> samples;
  for (size_t i = 44; i + 1 < bytes.size(); i += 2) {
    samples.push_back(
        static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8));
  }
  return samples;
}
