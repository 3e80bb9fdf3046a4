#include "resource_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "test_support.h"

namespace {

// The Resources folder is the one beside the path the program was started by only when it
// holds the bundle's content; otherwise the executable's own.
TEST(ResourceFolderTest, TheBundleIsFoundByItsContent) {
  const std::string root = MakeTempDir();
  const std::string app = root + "/Marlune.app/Contents";
  std::filesystem::create_directories(app + "/Resources/MarluneContent");
  std::filesystem::create_directories(app + "/MacOS");
  std::filesystem::create_directories(app + "/Other");
  // Each beside a bin folder, so that "bin/../Resources" names it.
  std::filesystem::create_directories(root + "/empty/bin");
  std::filesystem::create_directories(root + "/empty/Resources");         // a stray, empty one
  std::filesystem::create_directories(root + "/plain/bin");
  std::ofstream(root + "/plain/Resources").put('x');                      // a file of that name
  std::filesystem::create_directories(root + "/named/bin");
  std::filesystem::create_directories(root + "/named/Resources/MarluneContentX");
  const std::string exe = app + "/MacOS/marlune";
  const std::string own = app + "/MacOS/../Resources";
  const struct {
    std::string started;
    std::string want;
  } cases[] = {
      {exe, own},                                                   // the bundle's own path
      {root + "/empty/bin/marlune", own},                           // a link beside an empty one
      {root + "/plain/bin/marlune", own},                           // beside a file
      {root + "/named/bin/marlune", own},                           // content of another name
      {root + "/none/bin/marlune", own},                            // beside nothing
      {"marlune", own},                                             // by name from PATH
      {"", own},
      {app + "/Other/marlune", app + "/Other/../Resources"},        // a launcher beside the content
      {app + "/MacOS/../MacOS/marlune", app + "/MacOS/../MacOS/../Resources"},  // as given
  };
  for (const auto& c : cases) EXPECT_EQ(ResourceFolder::Find(c.started, exe), c.want) << c.started;
  EXPECT_EQ(ResourceFolder::Find("marlune", ""), "") << "no executable path: nowhere";
  std::filesystem::remove_all(root);
}

}  // namespace
