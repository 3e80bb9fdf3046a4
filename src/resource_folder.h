#pragma once
// Finds the application bundle's Contents/Resources folder, which becomes the program's working
// directory at start: every asset is looked up relative to it. A bundle is recognised by its
// content: a Resources folder counts only when it holds MarluneContent, so a stray folder of
// that name beside a launcher does not hide the real one.
//
// Threads: main thread, at start, before any other thread looks at the working directory.

#include <string>

class ResourceFolder {
 public:
  // The folder that holds the bundle's pictures, font and sounds, inside Resources.
  static constexpr const char* kContent = "MarluneContent";

  // The Resources folder for a program started as programPath (its argv[0]) whose executable
  // is executablePath (links resolved): programPath's folder + "/../Resources" when that holds
  // kContent; otherwise executablePath's folder + "/../Resources", whatever it holds (its
  // loaders then report what is missing). programPath without a folder (started by name from
  // PATH) leads nowhere of its own.
  static std::string Find(const std::string& programPath, const std::string& executablePath);
  // Changes the working directory to Find(programPath, the executable /proc/self/exe names);
  // false when that fails (the working directory is then unchanged).
  static bool Enter(const char* programPath);
};
