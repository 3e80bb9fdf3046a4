#pragma once
// Where recordings go and what each new one is called: the folder, and the first free name of
// the minute in it. The recorder's writer thread names each take's file here; the record pad
// only starts and stops takes.
//
// Threads: RecordFilename from any thread (it reads the file system); Set only while no take is
// being started (tests).

#include <ctime>
#include <string>

class RecordingFolder {
 public:
  // Path for a new recording in the recording folder, named after the local time now.
  static std::string RecordFilename();
  // Path for a new recording: folder + the local time `now` as "%Y-%m-%d_%H-%M", then "_2",
  // "_3"... until nothing of that name + ".wav" exists (a file, a folder or a link, even one
  // that leads nowhere); ".wav" appended.
  static std::string RecordFilename(const std::string& folder, std::time_t now);
  // Folder (ending in "/") that recordings go to; "../../../" by default, three levels above
  // the working directory, beside the application bundle.
  static void Set(const std::string& folder);
  // The clock that names new recordings: the local time now by default; a test's offline
  // render installs a fixed one so that its take's name does not depend on when it runs
  // (nullptr restores the default).
  static void SetClock(std::time_t (*now)());
  static const std::string& Path();
};
