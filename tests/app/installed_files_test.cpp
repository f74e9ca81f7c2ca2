// SPDX-License-Identifier: GPL-3.0-or-later
// The installed files that speak for the program: the desktop entry offers
// Tonmill in "Open With" for every type it reads, as the system's MIME database
// names it, and passes the files as "/sendto" does; bash completes every switch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "app/command_line.h"
#include "base/misc.h"
#include "encoders/format.h"

namespace {

std::string ReadText(const std::string &FileName) {
  std::ifstream file(FileName);
  return {std::istreambuf_iterator<char>(file), {}};
}

TEST(DesktopEntry, ListsTheMimeTypeOfEveryInputAndOpensFilesAsSendTo) {
  const std::string entry = ReadText(std::string(TONMILL_SOURCE_DIR) + "/share/tonmill.desktop");
  const size_t mime = entry.find("\nMimeType=");
  ASSERT_NE(mime, std::string::npos);
  const std::string types = ";" + entry.substr(mime + 10, entry.find('\n', mime + 1) - mime - 10);

  std::istringstream globs(ReadText("/usr/share/mime/globs2"));
  if (globs.str().empty()) GTEST_SKIP() << "no shared MIME database";
  for (const auto &row : InputFileTypes) {
    // globs2 lines: weight:type:*.ext
    std::vector<std::string> named;
    globs.clear();
    globs.seekg(0);
    for (std::string line; std::getline(globs, line);) {
      const size_t colon = line.find(':'), star = line.rfind(":*.");
      if (colon != std::string::npos && star != std::string::npos && line.substr(star + 3) == row.Extension)
        named.push_back(line.substr(colon + 1, star - colon - 1));
    }
    SCOPED_TRACE(row.Extension);
    ASSERT_FALSE(named.empty());
    bool listed = false;
    for (const std::string &type : named) listed |= types.find(";" + type + ";") != std::string::npos;
    EXPECT_TRUE(listed) << "none of the types of ." << row.Extension << " is in the entry";
  }

  // The menu entry alone opens the window; "Open With" lists the files.
  EXPECT_NE(entry.find("\nExec=tonmill /sendto %F\n"), std::string::npos);
  EXPECT_EQ(ParseCommandLine({"/sendto"}).Mode, TParsedCommandLine::mWindow);
  const TParsedCommandLine opened = ParseCommandLine({"/sendto", "/m/a b.flac", "/m/c.cue"});
  EXPECT_EQ(opened.Mode, TParsedCommandLine::mSendTo);
  EXPECT_EQ(opened.SendToPaths, (std::vector<std::string>{"/m/a b.flac", "/m/c.cue"}));
}

// Bash completes every switch the program knows, the encoder keys among them.
TEST(BashCompletion, OffersEverySwitchAndEncoderKey) {
  const std::string script = ReadText(std::string(TONMILL_SOURCE_DIR) + "/share/completion/tonmill");
  const size_t start = script.find("local switches=\"");
  ASSERT_NE(start, std::string::npos);
  std::istringstream words(script.substr(start + 16, script.find('"', start + 16) - start - 16));
  std::vector<std::string> offered;
  for (std::string word; words >> word;) {
    EXPECT_TRUE(IsSwitch(word)) << word;
    for (char &c : word) c = char(std::tolower(static_cast<unsigned char>(c)));
    offered.push_back(word);
  }
  for (const char *plain : {"/input", "/output", "/dest", "/p", "/q", "/sendto", "/createfullpath", "/keeppartial",
                            "/hiddentrack", "/ownpregaps", "/notags", "/keepgoing", "/skipexisting", "/verify", "/nospread"})
    EXPECT_NE(std::find(offered.begin(), offered.end(), plain), offered.end()) << plain;
  for (const TFormatRow *row : FormatRows())
    for (const TKeyHelp &key : row->KeyHelp) {
      std::string name = std::string("/") + key.Key;
      for (char &c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_NE(std::find(offered.begin(), offered.end(), name), offered.end()) << name;
    }
}

}  // namespace
