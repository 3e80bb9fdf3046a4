#include "recording_folder.h"

#include <atomic>
#include <cstdio>

#include "common.h"

namespace {
// Never destroyed: the recorder's writer thread may still name a file while the process exits.
std::string& Folder() {
  static std::string* folder = new std::string("../../../");
  return *folder;
}

std::time_t SystemNow() { return std::time(nullptr); }
std::atomic<std::time_t (*)()> nameClock{&SystemNow};
}  // namespace

void RecordingFolder::SetClock(std::time_t (*now)()) { nameClock.store(now != nullptr ? now : &SystemNow); }

void RecordingFolder::Set(const std::string& folder) { Folder() = folder; }

const std::string& RecordingFolder::Path() { return Folder(); }

std::string RecordingFolder::RecordFilename() { return RecordFilename(Folder(), nameClock.load()()); }

std::string RecordingFolder::RecordFilename(const std::string& folder, std::time_t now) {
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M", &local);
  const std::string prefix = folder + stamp;
  std::string candidate = prefix;
  unsigned int counter = 2;
  while (FileExists(candidate + ".wav")) {
    char number[64];
    std::snprintf(number, sizeof number, "%u", counter);
    candidate = prefix + "_" + number;
    ++counter;
  }
  return candidate + ".wav";
}
