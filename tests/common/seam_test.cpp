// The process, shell and document parts of the operating-system seam.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/document_file.h"
#include "platform/last_error.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "temp_folder.h"

namespace inkseal::platform {
namespace {

using inkseal::testing::TempFolder;
using inkseal::testing::WriteBytes;

constexpr uint32_t kShowMessageUsageExit = 2;

std::u16string Path(const std::filesystem::path& path) { return path.u16string(); }

// A program of this build that ends with a known code when started with no
// arguments.
std::filesystem::path ShowMessageProgram() {
  const char* binaryDir = std::getenv("INKSEAL_BINARY_DIR");
  std::string dir = binaryDir != nullptr ? binaryDir : ".";
#ifdef _WIN32
  // The build tree is named by its Linux path; Wine shows it on drive Z:.
  if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  return std::filesystem::path(dir) / "tools" / "show_message" / "show_message.exe";
#else
  return std::filesystem::path(dir) / "tools" / "show_message" / "show_message";
#endif
}

TEST(OwnModule, NamesThisProgramsFile) {
  EXPECT_TRUE(HasOwnModuleHandle());
  std::u16string path;
  ASSERT_TRUE(GetOwnModuleFileName(path));
  const std::filesystem::path file(path);
  EXPECT_TRUE(file.is_absolute());
  EXPECT_EQ(file.stem(), "seam_test");
  EXPECT_TRUE(std::filesystem::is_regular_file(file));
}

TEST(ChildProcess, StartsWaitsAndReportsTheExitCode) {
  ChildProcess child;
  ASSERT_TRUE(child.Start(Path(ShowMessageProgram()))) << LastError();
  child.Wait();
  uint32_t code = 0;
  ASSERT_TRUE(child.GetExitCode(code));
  EXPECT_EQ(code, kShowMessageUsageExit);
}

TEST(ChildProcess, AMissingProgramFailsWithAnOsError) {
  TempFolder folder;
  ChildProcess child;
  SetLastError(0);
  EXPECT_FALSE(child.Start(Path(folder / "Brantwick.exe")));
  EXPECT_NE(LastError(), 0u);
}

TEST(TrimCharacters, RemovesOnlyTheGivenCharactersAtBothEnds) {
  EXPECT_EQ(TrimCharacters(u"\"\"C:\\a b.pdf\"", u"\""), u"C:\\a b.pdf");
  EXPECT_EQ(TrimCharacters(u"\"C:\\a.pdf\" ", u"\""), u"C:\\a.pdf\" ");
  EXPECT_EQ(TrimCharacters(u"a\"b", u"\""), u"a\"b");
  EXPECT_EQ(TrimCharacters(u"\"\"\"", u"\""), u"");
  EXPECT_EQ(TrimCharacters(u"", u"\""), u"");
  EXPECT_EQ(TrimCharacters(u"xyaxy", u"yx"), u"a");
}

// Everything a DocumentFile hands out, piece by piece, from its start.
std::string PiecesOf(DocumentFile& document, size_t pieceBytes) {
  std::string all;
  std::vector<uint8_t> piece(pieceBytes);
  document.Rewind();
  for (;;) {
    size_t count = 0;
    EXPECT_TRUE(document.ReadPiece(piece.data(), piece.size(), count));
    if (count == 0) return all;
    all.append(reinterpret_cast<const char*>(piece.data()), count);
  }
}

TEST(Document, BytesComeBackExactly) {
  TempFolder folder;
  const std::string content("%PDF-1.4\r\n\x1A\0\xFF\n\r end", 18);
  WriteBytes(folder / "doc.pdf", content);
  WriteBytes(folder / "empty.pdf", "");
  EXPECT_TRUE(ProbeDocument(Path(folder / "doc.pdf")));
  DocumentFile document;
  ASSERT_TRUE(document.ReadWhole(Path(folder / "doc.pdf")));
  EXPECT_EQ(document.Size(), content.size());
  EXPECT_EQ(PiecesOf(document, 5), content);
  EXPECT_EQ(PiecesOf(document, 64), content) << "each attempt reads the document again from its start";
  DocumentFile empty;
  ASSERT_TRUE(empty.ReadWhole(Path(folder / "empty.pdf")));
  EXPECT_EQ(empty.Size(), 0u);
  EXPECT_EQ(PiecesOf(empty, 64), "");
}

TEST(Document, ALargeDocumentComesBackWhole) {
  TempFolder folder;
  std::string content(3 * 1024 * 1024 + 7, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 131 + (i >> 11));
  WriteBytes(folder / "large.pdf", content);
  DocumentFile document;
  ASSERT_TRUE(document.ReadWhole(Path(folder / "large.pdf")));
  ASSERT_EQ(document.Size(), content.size());
  EXPECT_TRUE(PiecesOf(document, 256 * 1024) == content);
}

// The file as it was read, or nothing: a document rewritten, shortened or
// lengthened after it was read whole fails the next piece instead of going
// out as a mixture of two versions (and a shortened one must not crash).
TEST(Document, AChangedDocumentIsNotHandedOnAsTheOneRead) {
  TempFolder folder;
  const auto path = folder / "doc.pdf";
  const std::string content(100000, 'a');
  struct Change {
    const char* what;
    std::string replacement;
  };
  const Change changes[] = {{"shortened", std::string(50000, 'a')},
                            {"lengthened", content + "more"},
                            {"rewritten in place, same size", std::string(100000, 'b')}};
  for (const Change& change : changes) {
    WriteBytes(path, content);
    DocumentFile document;
    ASSERT_TRUE(document.ReadWhole(Path(path)));
    std::vector<uint8_t> piece(4096);
    size_t count = 0;
    ASSERT_TRUE(document.ReadPiece(piece.data(), piece.size(), count));
    // A later modification time, as a writer arriving a moment later gets.
    WriteBytes(path, change.replacement);
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
    SetLastError(0);
    bool failed = false;
    for (int i = 0; i < 100 && !failed; ++i) {
      failed = !document.ReadPiece(piece.data(), piece.size(), count);
      if (!failed && count == 0) break;
    }
    EXPECT_TRUE(failed) << change.what;
    EXPECT_EQ(LastError(), kErrorDocumentChanged) << change.what;
  }
}

#ifndef _WIN32
// Renaming, re-moding or removing a document while it is sent changes none
// of its bytes: the open file still goes out whole.
TEST(Document, ARenamedReModedOrRemovedDocumentIsStillHandedOnWhole) {
  TempFolder folder;
  const std::string content(100000, 'a');
  WriteBytes(folder / "doc.pdf", content);
  DocumentFile document;
  ASSERT_TRUE(document.ReadWhole(Path(folder / "doc.pdf")));
  // Past the clock's tick, so that the inode's change time really moves.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  std::filesystem::rename(folder / "doc.pdf", folder / "moved.pdf");
  std::filesystem::permissions(folder / "moved.pdf", std::filesystem::perms::none);
  std::filesystem::remove(folder / "moved.pdf");
  EXPECT_TRUE(PiecesOf(document, 4096) == content);
}
#endif

TEST(Document, MissingFilesAndFoldersCannotBeOpened) {
  TempFolder folder;
  DocumentFile document;
  SetLastError(0);
  EXPECT_FALSE(ProbeDocument(Path(folder / "missing.pdf")));
  EXPECT_NE(LastError(), 0u);
  EXPECT_FALSE(document.ReadWhole(Path(folder / "missing.pdf")));
  EXPECT_FALSE(ProbeDocument(Path(folder.path())));
}

TEST(Document, TwoGibibytesAreRefusedBeforeReading) {
  TempFolder folder;
  const auto big = folder / "big.pdf";
  WriteBytes(big, "");
  std::error_code error;
  std::filesystem::resize_file(big, uint64_t{1} << 31, error);  // sparse: nothing is written
  if (error) GTEST_SKIP() << "cannot make a 2 GiB file here: " << error.message();
  DocumentFile document;
  SetLastError(0);
  EXPECT_FALSE(document.ReadWhole(Path(big)));
  EXPECT_EQ(LastError(), kErrorFileTooLarge);
}

TEST(ShellOpen, AnEmptyAddressIsRefused) {
  ComScope com;
  SetLastError(0);
  EXPECT_FALSE(ShellOpen(u""));
  EXPECT_NE(LastError(), 0u);
}

#ifndef _WIN32
// Where the desktop names no handler (none in this test's own data folders),
// xdg-open gets the address, and with it $BROWSER.
TEST(ShellOpen, HandsTheAddressToTheUsersBrowser) {
  TempFolder folder;
  const auto browser = folder / "browser.sh";
  const auto opened = folder / "opened";
  WriteBytes(browser, "#!/bin/sh\nprintf '%s' \"$1\" > '" + opened.string() + "'\n");
  std::filesystem::permissions(browser, std::filesystem::perms::owner_all);
  for (const char* variable : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"}) {
    ::setenv(variable, folder.path().c_str(), 1);
  }
  const char* old = std::getenv("BROWSER");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("BROWSER", browser.c_str(), 1);
  const bool shown = ShellOpen(u"https://sign.example/doc?id=1&x=\u00e9");
  if (old != nullptr) ::setenv("BROWSER", saved.c_str(), 1); else ::unsetenv("BROWSER");
  EXPECT_TRUE(shown);
  EXPECT_EQ(inkseal::testing::ReadBytes(opened), "https://sign.example/doc?id=1&x=\xC3\xA9");
}

TEST(ChildProcess, ExitCodesOfOtherPrograms) {
  for (const auto& [program, expected] : {std::pair{u"/bin/true", 0u}, std::pair{u"/bin/false", 1u}}) {
    ChildProcess child;
    ASSERT_TRUE(child.Start(program));
    child.Wait();
    uint32_t code = 99;
    ASSERT_TRUE(child.GetExitCode(code));
    EXPECT_EQ(code, expected);
  }
}
#endif

}  // namespace
}  // namespace inkseal::platform
