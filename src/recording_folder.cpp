#include "recording_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "common.h"

namespace {
constexpr const char* kDefaultMark = "../BuildTree";

// Never destroyed: the recorder's writer thread may still name a file while the process exits.
std::string& Folder() {
  static std::string* folder = new std::string("../../../");
  return *folder;
}
std::string& Mark() {
  static std::string* mark = new std::string(kDefaultMark);
  return *mark;
}
std::string& Home() {
  static std::string* home = new std::string();
  return *home;
}
std::string& ConfigHome() {
  static std::string* configHome = new std::string();
  return *configHome;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string UserHome() {
  std::string home = Environment("HOME");
  if (!home.empty()) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    home = found->pw_dir;
  }
  return home;
}

// The value of a line `XDG_MUSIC_DIR="$HOME/..."` or `XDG_MUSIC_DIR="/..."` of user-dirs.dirs
// (backslash escapes the next character), or "" when the line is not one of these.
std::string MusicDirValue(const std::string& line, const std::string& home) {
  static const std::string kKey = "XDG_MUSIC_DIR";
  size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos || line.compare(i, kKey.size(), kKey) != 0) return "";
  i = line.find_first_not_of(" \t", i + kKey.size());
  if (i == std::string::npos || line[i] != '=') return "";
  i = line.find_first_not_of(" \t", i + 1);
  if (i == std::string::npos || line[i] != '"') return "";
  ++i;
  std::string value;
  if (line.compare(i, 5, "$HOME") == 0 && (i + 5 == line.size() || line[i + 5] == '/' || line[i + 5] == '"')) {
    value = home;
    i += 5;
  } else if (i >= line.size() || line[i] != '/') {
    return "";
  }
  for (; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    value += line[i];
  }
  return value;
}


std::time_t SystemNow() { return std::time(nullptr); }
std::atomic<std::time_t (*)()> nameClock{&SystemNow};
}  // namespace

void RecordingFolder::SetClock(std::time_t (*now)()) { nameClock.store(now != nullptr ? now : &SystemNow); }

void RecordingFolder::Set(const std::string& folder) { Folder() = folder; }

const std::string& RecordingFolder::Path() { return Folder(); }

void RecordingFolder::SetBuildTreeMark(const std::string& path) {
  Mark() = path.empty() ? kDefaultMark : path;
}

const std::string& RecordingFolder::BuildTreeMark() { return Mark(); }

void RecordingFolder::SetUserFolders(const std::string& home, const std::string& configHome) {
  Home() = home;
  ConfigHome() = configHome;
}

std::string RecordingFolder::RecordFilename() {
  const std::string folder = Current();
  return folder.empty() ? "" : RecordFilename(folder, nameClock.load()());
}

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

std::string RecordingFolder::Current() {
  const std::string& folder = Folder();
  std::error_code error;
  if (std::filesystem::exists(Mark(), error)) return folder;
  const bool environment = Home().empty();
  const std::string home = environment ? UserHome() : Home();
  if (home.empty()) return "";  // no home, so no music folder: the recorder says so
  const std::string music =
      MusicFolder(home, environment ? Environment("XDG_CONFIG_HOME") : ConfigHome()) + "/Marlune/";
  std::filesystem::create_directories(music, error);
  return music;
}

std::string RecordingFolder::MusicFolder(const std::string& home, const std::string& configHome) {
  // A relative configuration home is invalid and ignored, as the base directory rules say.
  const std::string config = !configHome.empty() && configHome[0] == '/' ? configHome : home + "/.config";
  std::ifstream file(config + "/user-dirs.dirs");
  std::string music;
  for (std::string line; std::getline(file, line);) {
    const std::string value = MusicDirValue(line, home);
    if (!value.empty()) music = value;  // the last assignment holds
  }
  if (music.empty()) music = home + "/Music";
  while (music.size() > 1 && music.back() == '/') music.pop_back();
  return music;
}
