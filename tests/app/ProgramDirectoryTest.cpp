// Where the window program keeps SETTINGS.DAT, OUTFILE.SYX and README.TXT: a build
// tree or a copied folder keeps them beside the executable; an installed copy keeps
// them in the user's data directory, even where the user may write to its bin folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "app/ProgramDirectory.h"

namespace {

namespace fs = std::filesystem;

struct Tree {
  fs::path root = fs::temp_directory_path() / ("vz-progdir-" + std::to_string(::getpid()));
  fs::path bin = root / "usr" / "bin";
  fs::path share = root / "usr" / "share" / "vezorizer";
  fs::path user = root / "home" / ".local" / "share" / "Vezorizer";
  Tree() {
    fs::remove_all(root);
    fs::create_directories(bin);
  }
  ~Tree() { fs::remove_all(root); }
  static void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
  }
  static std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  fs::path Choose() const { return app::ChooseProgramDirectory(bin, user, {bin, bin / ".." / "share" / "vezorizer"}); }
};

TEST(ProgramDirectory, AnInstalledCopyInAWritableBinUsesTheUsersDirectoryWithTheInstalledHelp) {
  Tree t;
  Tree::Write(t.share / "README.TXT", "installed help\r\n");
  EXPECT_EQ(t.Choose(), t.user);
  EXPECT_EQ(Tree::Read(t.user / "README.TXT"), "installed help\r\n");
  EXPECT_FALSE(fs::exists(t.bin / "README.TXT"));
}

TEST(ProgramDirectory, TheUsersOwnHelpTextIsNeverReplaced) {
  Tree t;
  Tree::Write(t.share / "README.TXT", "installed help\r\n");
  Tree::Write(t.user / "README.TXT", "my notes\r\n");
  EXPECT_EQ(t.Choose(), t.user);
  EXPECT_EQ(Tree::Read(t.user / "README.TXT"), "my notes\r\n");
}

TEST(ProgramDirectory, AnExecutableWithItsHelpBesideItKeepsItsOwnDirectory) {
  // A build tree, or a folder the user copied: README.TXT lies beside the executable,
  // whatever an installation elsewhere holds.
  Tree t;
  Tree::Write(t.bin / "README.TXT", "beside\r\n");
  Tree::Write(t.share / "README.TXT", "installed help\r\n");
  EXPECT_EQ(t.Choose(), t.bin);
  EXPECT_FALSE(fs::exists(t.user));
}

TEST(ProgramDirectory, ALoneExecutableWithoutAnyHelpKeepsItsOwnDirectory) {
  Tree t;
  EXPECT_EQ(t.Choose(), t.bin);
  EXPECT_FALSE(fs::exists(t.user));
}

}  // namespace
