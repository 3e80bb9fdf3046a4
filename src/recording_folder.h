#pragma once
// Where recordings go and what each new one is called: the folder, and the first free name of
// the minute in it. The recorder's writer thread names each take's file here as the take
// starts; the record pad only starts and stops takes.
//
// The folder is decided for every take by what the application bundle is. A bundle built in a
// build tree holds the file Contents/BuildTree, which the build writes and installing leaves
// out: its takes go to the set folder, beside the bundle. Any other bundle (installed under
// any prefix, by a user or by root, or copied elsewhere) records into "Marlune/" in the user's
// music folder, created then. Whether the bundle's folder can be written plays no part: an
// installed copy never records into its install folder.
//
// Threads: RecordFilename and Current from any thread but the audio thread (they read the file
// system and may create folders); Set and SetUserFolders only while no take is being started
// (tests); the rest from any thread.

#include <ctime>
#include <string>

class RecordingFolder {
 public:
  // Path for a new recording in the folder Current() gives, named after the local time now,
  // or "" when there is no folder to record into.
  static std::string RecordFilename();
  // Path for a new recording: folder + the local time `now` as "%Y-%m-%d_%H-%M", then "_2",
  // "_3"... until nothing of that name + ".wav" exists (a file, a folder or a link, even one
  // that leads nowhere); ".wav" appended.
  static std::string RecordFilename(const std::string& folder, std::time_t now);
  // Folder (ending in "/") for a take starting now: Path() when the build tree's mark
  // (BuildTreeMark()) exists; otherwise the user's music folder + "/Marlune/", created with its
  // parents if missing (a folder that cannot be created is left for the file's creation to
  // report; so is a build tree's folder that cannot be written); "" when there is no music
  // folder (no home folder at all).
  static std::string Current();
  // The user's music folder, without a final "/": XDG_MUSIC_DIR as configHome's
  // "user-dirs.dirs" names it (configHome empty or relative: home + "/.config"), else
  // home + "/Music".
  static std::string MusicFolder(const std::string& home, const std::string& configHome);
  // Folder (ending in "/") that recordings of a build tree's bundle go to; "../../../" by
  // default, three levels above the working directory, beside the application bundle.
  static void Set(const std::string& folder);
  // The file whose presence says the bundle is a build tree's: "../BuildTree" by default,
  // Contents/BuildTree seen from the working directory Contents/Resources (tests set another;
  // "" restores the default).
  static void SetBuildTreeMark(const std::string& path);
  static const std::string& BuildTreeMark();
  // The clock that names new recordings: the local time now by default; a test's offline
  // render installs a fixed one so that its take's name does not depend on when it runs
  // (nullptr restores the default).
  static void SetClock(std::time_t (*now)());
  static const std::string& Path();
  // Home and configuration folder the music folder is looked up in (tests); both empty, the
  // default: $HOME (else the user's entry in the password database) and $XDG_CONFIG_HOME.
  static void SetUserFolders(const std::string& home, const std::string& configHome);
};
