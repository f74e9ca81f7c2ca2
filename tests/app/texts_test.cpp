// SPDX-License-Identifier: GPL-3.0-or-later
// Language files: the loader's rules, and the seven files the program ships.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/language_file.h"
#include "base/texts.h"
#include "test_support.h"

namespace {

class LanguageFiles : public ::testing::Test {
 protected:
  void SetUp() override { ResetTextsToEnglish(); }
  void TearDown() override { ResetTextsToEnglish(); }
  std::vector<std::string> Load(const std::string &text) {
    const std::string path = WriteText(TestFolder() + "/test.lng", text);
    std::vector<std::string> missing;
    LoadLanguageFile(path, [&](const std::string &id) { missing.push_back(id); });
    return missing;
  }
};

TEST_F(LanguageFiles, LinesIdentifiersAndTexts) {
  const auto missing = Load("# comment\n; another\n\nTEXT_START =   Go now  \ntext_start=Second\n  text_close=Ignored\n"
                            "text_cancel=Stop = now\r\ntext_ok=Fine\rtext_about\n");
  EXPECT_EQ(text_start, "Go now  ");  // blanks before the text go, those after it stay
  EXPECT_EQ(text_close, "Close");     // a line with leading blanks is no definition
  EXPECT_EQ(text_cancel, "Stop = now");
  EXPECT_EQ(text_ok, "Fine");
  EXPECT_EQ(text_about, "About");  // a line without "=" defines nothing
  EXPECT_EQ(missing.size(), TextRegistry().size() - 3u);
}

// The conversions of a format text, in order ("d" or "s"), "%%" left out.
std::string Conversions(const std::string &text) {
  std::string kinds;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    size_t j = i + 1;
    while (j < text.size() && std::string("-+ #0123456789.").find(text[j]) != std::string::npos) ++j;
    if (j < text.size() && text[j] != '%') kinds += text[j];
    i = j;
  }
  return kinds;
}

TEST_F(LanguageFiles, EveryShippedFileDefinesEveryTextWithTheRightPlaceholders) {
  std::map<std::string, std::string> placeholders;
  for (const TTextEntry &e : TextRegistry()) placeholders[e.Identifier] = Conversions(*e.Variable);
  for (const char *file : {"english", "russian", "latvian", "czech", "french", "spanish", "hungarian"}) {
    const std::string path = (std::filesystem::path(TONMILL_SOURCE_DIR) / "lang" / file).replace_extension("lng").string();
    std::vector<std::string> missing;
    ResetTextsToEnglish();
    for (const TTextEntry &e : TextRegistry()) e.Variable->clear();
    LoadLanguageFile(path, [&](const std::string &id) { missing.push_back(id); });
    EXPECT_TRUE(missing.empty()) << file << " lacks " << (missing.empty() ? "" : missing[0]);
    for (const TTextEntry &e : TextRegistry()) {
      EXPECT_FALSE(e.Variable->empty()) << file << ": " << e.Identifier;
      EXPECT_EQ(Conversions(*e.Variable), placeholders[e.Identifier])
          << file << ": " << e.Identifier << " = " << *e.Variable;
    }
  }
}

TEST_F(LanguageFiles, ABrokenFileNeverBreaksTheProgram) {
  // Wrong placeholders are caught where the text is used: the English text serves.
  Load("text_processing=%s of %s and %s\ntext_done=%d%\n");
  EXPECT_EQ(FormatText(text_processing, 3, 12), "Processing file 3 of 12");
  EXPECT_EQ(FormatText(text_done, 50), "50% done");
  // Bytes that are no text in any encoding still load.
  const char garbage[] = "text_start=\xFF\xFE\x80\x81 Start\n\x00\x01\x02\ntext_close=Zu\n";
  Load(std::string(garbage, sizeof garbage - 1));
  EXPECT_EQ(text_close, "Zu");
  EXPECT_FALSE(text_start.empty());
}

}  // namespace
