// What only the POSIX settings backend promises: private file modes, atomic
// replacement, the XDG folder, and its failure messages on standard error
// (this test runs with INKSEAL_MESSAGE_OUTPUT=stderr).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/settings.h"
#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/settings_file.h"
#include "temp_folder.h"

namespace inkseal {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

std::u16string Path(const std::filesystem::path& path) { return path.u16string(); }

mode_t ModeOf(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

size_t EntriesIn(const std::filesystem::path& folder) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

// Sets an environment variable for one test and restores it afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, hadOld_ = true;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (hadOld_) ::setenv(name_, old_.c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool hadOld_ = false;
};

std::string MessagesOf(void (*run)()) {
  ::testing::internal::CaptureStderr();
  run();
  return ::testing::internal::GetCapturedStderr();
}

TEST(PosixSettingsFile, NewFilesAreOwnerOnlyAndExistingModesAreKept) {
  TempFolder folder;
  const auto file = folder / "vod995.ini";
  ASSERT_TRUE(platform::WriteProfileValue(u"Parameters", u"OAuthTokenSecret", u"s", Path(file)));
  EXPECT_EQ(ModeOf(file), 0600u);
  const auto shared = folder / "shared.ini";
  WriteBytes(shared, "[a]\n");
  ::chmod(shared.c_str(), 0644);
  ASSERT_TRUE(platform::WriteProfileValue(u"a", u"k", u"v", Path(shared)));
  EXPECT_EQ(ModeOf(shared), 0644u);
  EXPECT_EQ(EntriesIn(folder.path()), 2u);  // no temporary file left behind
}

TEST(PosixSettingsFile, ASetOfSecretsMakesTheFileOwnerOnlyAndClearsStaleTemporaries) {
  TempFolder folder;
  const auto file = folder / "vod995.ini";
  WriteBytes(file, "[Parameters]\n");
  ::chmod(file.c_str(), 0644);
  // Left by writers killed before their rename: one long ago, one (perhaps
  // still being written) just now.
  WriteBytes(folder / ".inkseal-aaaaaa", "[Parameters]\nOAuthClientKey=half\n");
  const struct timespec old[2] = {{::time(nullptr) - 600, 0}, {::time(nullptr) - 600, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (folder / ".inkseal-aaaaaa").c_str(), old, 0), 0);
  WriteBytes(folder / ".inkseal-bbbbbb", "");
  ASSERT_EQ(WriteSettings({{u"OAuthClientKey", u"ck"}, {u"OAuthClientSecret", u"cs"}}, u"Parameters", Path(file)), 1);
  EXPECT_EQ(ModeOf(file), 0600u);
  EXPECT_FALSE(std::filesystem::exists(folder / ".inkseal-aaaaaa"));
  EXPECT_TRUE(std::filesystem::exists(folder / ".inkseal-bbbbbb"));
  EXPECT_EQ(EntriesIn(folder.path()), 2u);

  static std::u16string target;
  target = Path(file);
  const std::string shown = MessagesOf([] {
    EXPECT_EQ(WriteSettings({{u"OAuthClientKey", u"ck-2"}, {u"OAuthClientSecret", u"cs\r\n2"}}, u"Parameters", target), 0);
  });
  EXPECT_NE(shown.find("Failed to write.\n\nkey: OAuthClientSecret\nsection: Parameters\n"), std::string::npos) << shown;
  EXPECT_EQ(platform::ReadProfileValue(u"Parameters", u"OAuthClientKey", target), u"ck");
}

TEST(PosixSettingsFile, AnInterruptedWriteLeavesTheOldFileWhole) {
  TempFolder folder;
  const auto file = folder / "vod995.ini";
  const std::string before = "[Parameters]\nOAuthClientKey=old\n";
  WriteBytes(file, before);
  const std::u16string longValue(200, u'x');
  // A child whose files may not grow past 16 bytes: the write fails midway,
  // as on a full disk.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {16, 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const bool written = platform::WriteProfileValue(u"Parameters", u"OAuthClientKey", longValue, Path(file));
    ::_exit(written ? 0 : (platform::LastError() == EFBIG ? 3 : 4));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(EntriesIn(folder.path()), 1u);
}

TEST(PosixSettingsFile, WritesThroughASymbolicLinkKeepTheLink) {
  TempFolder folder;
  WriteBytes(folder / "real.ini", "[s]\n");
  std::filesystem::create_symlink(folder / "real.ini", folder / "link.ini");
  ASSERT_TRUE(platform::WriteProfileValue(u"s", u"k", u"v", Path(folder / "link.ini")));
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.ini"));
  EXPECT_EQ(ReadBytes(folder / "real.ini"), "[s]\nk=v\n");
  // The file beside the installed programs is such a link to /etc.
  EXPECT_EQ(platform::ReadProfileValue(u"s", u"k", Path(folder / "link.ini")), u"v");
}

TEST(PosixSettingsFile, APipeOrFolderIsNeitherReadNorReplaced) {
  TempFolder folder;
  const auto pipe = folder / "pipe.ini";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(platform::ReadProfileValue(u"s", u"k", Path(pipe)), u"");  // must not block
  EXPECT_FALSE(platform::WriteProfileValue(u"s", u"k", u"v", Path(pipe)));
  std::filesystem::create_directory(folder / "dir.ini");
  EXPECT_FALSE(platform::WriteProfileValue(u"s", u"k", u"v", Path(folder / "dir.ini")));
  EXPECT_EQ(platform::LastError(), static_cast<uint32_t>(EISDIR));
  EXPECT_TRUE(std::filesystem::is_directory(folder / "dir.ini"));
}

TEST(PosixFolders, ConfigFolderComesFromXdgElseHomeAndIsCreated) {
  TempFolder folder;
  std::u16string found;
  {
    ScopedVariable config("XDG_CONFIG_HOME", (folder / "xdg" / "deeper").string());
    ASSERT_TRUE(platform::GetAppDataFolder(found));
    EXPECT_EQ(found, Path(folder / "xdg" / "deeper"));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "xdg" / "deeper"));
  }
  {
    ScopedVariable config("XDG_CONFIG_HOME", "relative/ignored");
    ScopedVariable home("HOME", folder.path().string());
    ASSERT_TRUE(platform::GetAppDataFolder(found));
    EXPECT_EQ(found, Path(folder / ".config"));
  }
  std::u16string userFolder;
  ScopedVariable config("XDG_CONFIG_HOME", folder.path().string());
  ASSERT_TRUE(SetUpUserFolder(userFolder));
  EXPECT_EQ(userFolder, Path(folder / "Lumesk") + u"/");
  EXPECT_EQ(ModeOf(folder / "Lumesk"), 0700u);
}

TEST(PosixFolders, AFailedFolderQueryIsReportedAndFallsBackToTheBareName) {
  TempFolder folder;
  WriteBytes(folder / "file", "");
  ScopedVariable config("XDG_CONFIG_HOME", (folder / "file").string());
  const std::string expected = "[Inkseal] error\nFailed to obtain user profile path!\nNot a directory\n\n[OK]\n";
  EXPECT_EQ(MessagesOf([] { EXPECT_EQ(UserSettingsPath(), u"vod995.ini"); }), expected);
  EXPECT_EQ(MessagesOf([] {
              std::u16string userFolder = u"stale";
              EXPECT_FALSE(SetUpUserFolder(userFolder));
              EXPECT_EQ(userFolder, u"");
            }),
            expected);
}

TEST(PosixFolders, ASubFolderThatCannotBeMadeIsReported) {
  // Nothing can be created in /proc, not even by root.
  ScopedVariable config("XDG_CONFIG_HOME", "/proc");
  const std::string shown = MessagesOf([] {
    std::u16string userFolder;
    EXPECT_FALSE(SetUpUserFolder(userFolder));
    EXPECT_EQ(userFolder, u"");
  });
  EXPECT_EQ(shown.rfind("[Inkseal] error\nFailed to get user profile path!\n", 0), 0u) << shown;
  EXPECT_NE(shown.find("\n[OK]\n"), std::string::npos);
}

TEST(PosixWriteSetting, AFailedWriteShowsKeySectionFileAndTheOsText) {
  TempFolder folder;
  WriteBytes(folder / "plain", "");
  static std::u16string file;
  file = Path(folder / "plain" / "vod995.ini");
  const std::string shown = MessagesOf([] { EXPECT_EQ(WriteSetting(u"OAuthTokenKey", u"v", u"Parameters", file), 0); });
  EXPECT_EQ(shown, "[Inkseal] error\n\nError code: " + std::to_string(ENOTDIR) +
                       "\nNot a directory\n\nFailed to write.\n\nkey: OAuthTokenKey\nsection: Parameters\ninifile: " +
                       (folder / "plain" / "vod995.ini").string() + "\n[OK]\n");
}

}  // namespace
}  // namespace inkseal
