// Where the window program keeps SETTINGS.DAT, OUTFILE.SYX and README.TXT: a build
// tree or a copied folder keeps them beside the executable; an installed copy keeps
// them in the user's data directory, even where the user may write to its bin folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

#include "app/ProgramDirectory.h"
#include "support/RunCli.h"

namespace {

namespace fs = std::filesystem;

// README.TXT beside the executable, in share/vezorizer and in the user's directory
// (nullptr: none; "@PATH": a link to PATH), and what the choice must give.
struct Layout {
  const char* name;
  bool binExists;
  const char *beside, *installed, *users;
  bool usersDirectory;
  const char* usersAfter;  // nullptr: the user's directory is never made
};
void PrintTo(const Layout& l, std::ostream* os) { *os << l.name; }

class ProgramDirectory : public testing::TestWithParam<Layout> {};

TEST_P(ProgramDirectory, IsTheExecutablesUnlessItIsInstalledOrCannotBeWritten) {
  const Layout& l = GetParam();
  const fs::path root = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name());
  const fs::path bin = root / "usr" / "bin", share = root / "usr" / "share" / "vezorizer";
  const fs::path user = root / "home" / ".local" / "share" / "Vezorizer";
  if (l.binExists) fs::create_directories(bin);
  for (const auto& [dir, text] : {std::pair{bin, l.beside}, {share, l.installed}, {user, l.users}}) {
    if (text == nullptr) continue;
    fs::create_directories(dir);
    if (text[0] == '@') fs::create_symlink(text + 1, dir / "README.TXT");
    else std::ofstream(dir / "README.TXT", std::ios::binary) << text;
  }
  EXPECT_EQ(app::ChooseProgramDirectory(bin, user, {bin, share}), l.usersDirectory ? user : bin);
  EXPECT_EQ(fs::exists(user), l.usersAfter != nullptr);
  EXPECT_EQ(Slurp(user / "README.TXT"), l.usersAfter == nullptr ? "" : l.usersAfter);
  EXPECT_FALSE(fs::exists(user / "README.TXT") && fs::is_empty(user / "README.TXT")) << "Help would stay empty";
  if (fs::exists(user)) {
    EXPECT_EQ(std::distance(fs::directory_iterator(user), {}), fs::exists(user / "README.TXT") ? 1 : 0) << "left behind";
  }
  EXPECT_EQ(fs::exists(bin / "README.TXT"), l.beside != nullptr);
  fs::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ProgramDirectory,
    testing::Values(Layout{"InstalledCopyInAWritableBin", true, nullptr, "installed", nullptr, true, "installed"},
                    Layout{"TheUsersOwnHelpIsNeverReplaced", true, nullptr, "installed", "mine", true, "mine"},
                    Layout{"HelpBesideTheExecutable", true, "beside", "installed", nullptr, false, nullptr},
                    Layout{"ALoneExecutableWithoutHelp", true, nullptr, nullptr, nullptr, false, nullptr},
                    Layout{"AFolderThatIsNotThere", false, nullptr, "installed", nullptr, true, "installed"},
                    // Reading address 0 of one's own memory fails; the next start tries again.
                    Layout{"AnUnreadableSharedHelpLeavesNoCopy", true, nullptr, "@/proc/self/mem", nullptr, true, ""},
                    Layout{"AnEmptyCopyIsReplaced", true, nullptr, "installed", "", true, "installed"}),
    [](const auto& p) { return std::string(p.param.name); });

// Qt takes a missing HOME for the root of the file system; the password database knows
// the user's home.
TEST(UserDataDirectory, WithoutHomeIsInTheUsersHomeNotAtTheRoot) {
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  const char* data = std::getenv("XDG_DATA_HOME");
  const std::string xdg = data != nullptr ? data : "";
  ::unsetenv("HOME");
  ::unsetenv("XDG_DATA_HOME");
  const fs::path dir = app::UserDataDirectory();
  const std::string own = getpwuid(getuid())->pw_dir;
  if (!home.empty()) ::setenv("HOME", home.c_str(), 1);
  if (data != nullptr) ::setenv("XDG_DATA_HOME", xdg.c_str(), 1);
  EXPECT_EQ(dir.string().rfind(own + "/.local/share/", 0), 0u) << dir;
}

}  // namespace
