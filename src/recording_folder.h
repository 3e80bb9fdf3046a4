#pragma once
// Where recordings go and what each new one is called: the folder, and the first free name of
// the minute in it. The recorder's writer thread names each take's file here as the take
// starts; the record pad only starts and stops takes.
//
// The folder is decided for every take: the set folder (beside the application bundle) when
// it is a folder this user can write to, as in a build tree; otherwise, as for a program
// installed where users cannot write, "Marlune/" in the user's music folder, created then.
//
// Threads: RecordFilename and Current from any thread but the audio thread (they read the file
// system and may create folders); Set and SetUserFolders only while no take is being started
// (tests); the rest from any thread.

#include <ctime>
#include <string>

class RecordingFolder {
 public:
  // Path for a new recording in the folder Current() gives, named after the local time now.
  static std::string RecordFilename();
  // Path for a new recording: folder + the local time `now` as "%Y-%m-%d_%H-%M", then "_2",
  // "_3"... until nothing of that name + ".wav" exists (a file, a folder or a link, even one
  // that leads nowhere); ".wav" appended.
  static std::string RecordFilename(const std::string& folder, std::time_t now);
  // Folder (ending in "/") for a take starting now: Path() when it is a folder this user can
  // write into; otherwise the user's music folder + "/Marlune/", created with its parents if
  // missing (a folder that cannot be created is left for the file's creation to report).
  static std::string Current();
  // The user's music folder, without a final "/": XDG_MUSIC_DIR as configHome's
  // "user-dirs.dirs" names it (configHome empty or relative: home + "/.config"), else
  // home + "/Music".
  static std::string MusicFolder(const std::string& home, const std::string& configHome);
  // Folder (ending in "/") that recordings go to when it can be written; "../../../" by
  // default, three levels above the working directory, beside the application bundle.
  static void Set(const std::string& folder);
  // The clock that names new recordings: the local time now by default; a test's offline
  // render installs a fixed one so that its take's name does not depend on when it runs
  // (nullptr restores the default).
  static void SetClock(std::time_t (*now)());
  static const std::string& Path();
  // Home and configuration folder the music folder is looked up in (tests); both empty, the
  // default: $HOME (else the user's entry in the password database) and $XDG_CONFIG_HOME.
  static void SetUserFolders(const std::string& home, const std::string& configHome);
};
