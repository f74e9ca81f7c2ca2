// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file: defaults and kinds, and a file that is never lost.
#include <gtest/gtest.h>

#include <QSettings>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <tuple>

#include "app/format_settings.h"
#include "app/settings.h"
#include "platform/processors.h"
#include "test_support.h"

namespace {

ino_t Inode(const std::string &path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

TGeneralSettings French() { return {.Destination = "/music/out/", .DestinationFormat = {}, .Language = "FR"}; }

// Only "YES" is true, -321 and an empty or broken value mark the default, names match exactly, quoted
// texts keep their commas (what a fresh profile holds: every test that starts from one).
TEST(Settings, KindsAreReadStrictly) {
  const std::string path = WriteText(TestFolder() + "/tonmill.conf",
                                     "[General]\nCreateFullPath=yes\nUseFromSource=1\nPreprocess=YES\n"
                                     "ProgPriority=5\nProgParallelFiles=-321\nPPSeconds=abc\nKeepPartial=YES\n"
                                     "Destination=\"/music/a, b/\"\nDestinationFormat=FLAC\nLanguage=\n");
  TSettingsStore store(path);
  const TGeneralSettings g = LoadGeneralSettings(store);
  EXPECT_EQ(std::make_tuple(g.CreateFullPath, g.UseFromSource, g.Preprocess, g.Destination, g.Language),
            std::make_tuple(false, false, true, std::string("/music/a, b/"), std::string("EN")));
  EXPECT_EQ(DestinationFormatFromName(g.DestinationFormat), dfFLAC);
  EXPECT_EQ(DestinationFormatFromName("flac"), 0);
  const TProgramOptions o = LoadProgramOptions(store);
  EXPECT_EQ(std::make_tuple(o.Priority, o.ParallelFiles, o.KeepPartial), std::make_tuple(5, ProcessorCount(), true));
  EXPECT_EQ(LoadPreprocessOptions(store).Seconds, 20);
}

// Damaged or unreadable files read as the defaults and are set aside, said once
// (a batch run leaves them: its own test).
TEST(Settings, ADamagedFileReadsAsTheDefaults) {
  std::vector<uint8_t> junk(5000);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t(i * 131 + 7);
  const std::string unclosed = "[General\nLanguage=FR\n", stray = "[General]\nLanguage=FR\nstray words\n";
  enum TKind { kFile, kFolder, kNoPermission };
  struct TRow { const char *What; std::vector<uint8_t> Bytes; TKind Kind; };
  std::vector<TRow> rows = {{"binary junk", junk, kFile},
                            {"a section without its ]", {unclosed.begin(), unclosed.end()}, kFile},
                            {"a line without =", {stray.begin(), stray.end()}, kFile},
                            {"a folder in its place", {}, kFolder}};
  if (geteuid() != 0) rows.push_back({"no permission to read it", {stray.begin(), stray.end()}, kNoPermission});
  for (const TRow &row : rows) {
    SCOPED_TRACE(row.What);
    const std::string path = TestFolder() + "/tonmill.conf", bad = path + ".bad";
    auto damage = [&] {
      if (row.Kind == kFolder) fs::create_directories(path + "/inside");
      if (row.Kind != kFolder) WriteFileBytes(path, row.Bytes);
      if (row.Kind == kNoPermission) fs::permissions(path, fs::perms::none);
    };
    auto expectKept = [&](const std::string &aside) {
      EXPECT_TRUE(row.Kind == kFolder ? fs::is_directory(aside + "/inside") : fs::file_size(aside) == row.Bytes.size());
      EXPECT_TRUE(row.Kind != kFile || ReadFileBytes(aside) == row.Bytes) << aside;
    };
    damage();
    TSettingsStore store(path);
    EXPECT_EQ(LoadGeneralSettings(store).Language, "EN");
    EXPECT_EQ(LoadProgramOptions(store).Priority, 1);
    const std::string notice = store.TakeNotice();
    EXPECT_NE(notice.find("\"" + bad + "\""), std::string::npos) << notice;
    EXPECT_EQ(store.TakeNotice(), "");  // said once
    EXPECT_FALSE(fs::exists(path));
    expectKept(bad);
    EXPECT_EQ(store.WriteSettings(GeneralSettingsRecords(French())), "");
    TSettingsStore again(path);
    EXPECT_EQ(again.TakeNotice(), "");
    EXPECT_EQ(LoadGeneralSettings(again).Language, "FR");

    // Damaged while the program runs: the next save sets it aside too, keeping the first.
    fs::remove(path);
    damage();
    const std::string message = again.WriteSettings(PreprocessOptionsRecords({.FileFormat = {}, .Threshold = 7}));
    EXPECT_NE(message.find("\"" + bad + ".1\""), std::string::npos) << message;
    expectKept(bad + ".1");
    expectKept(bad);
    TSettingsStore last(path);
    EXPECT_EQ(last.TakeNotice(), "");
    EXPECT_EQ(LoadPreprocessOptions(last).Threshold, 7);
  }
}

TEST(Settings, ASaveRewritesOnlyItsOwnValuesAndReplacesTheFileWhole) {
  const std::string folder = TestFolder(), path = folder + "/tonmill.conf";
  const std::string others =
      "; written by hand\r\n[Other]\r\nList=a, b, c\r\nPath=\"/x;y\"\r\n\r\n[InfoForm]\r\nInfoFormHeight=300\r\n";
  const std::string general = "[General]\r\nLanguage=RU\r\n; a note\r\nMP3Bitrate=192\r\n";
  WriteText(path, general + "Destination=\"/old,\r\n folder/\"\r\n\r\n" + others);
  const ino_t before = Inode(path);

  // Texts QSettings would misread if written plainly; each stored under a name of its own.
  const std::vector<std::string> texts = {"/music/a, b/", "semi;colon", "quote\"d \\back\\slash\\", "@at",
                                          "  spaced  ", "Öß 日本", "eq=ual", "tab\tnew\nline\r",
                                          std::string("\x01") + "1f", "[General]", "#hash", "a,b\"c"};
  std::vector<TSaveRec> records = GeneralSettingsRecords(French());
  for (size_t i = 0; i < texts.size(); ++i) records.push_back({"Text" + std::to_string(i), texts[i]});
  TSettingsStore store(path);
  EXPECT_EQ(store.WriteSettings(records), "");

  const std::string after = ReadText(path);
  EXPECT_NE(after.find(others), std::string::npos) << after;  // other sections as they were
  EXPECT_NE(after.find("; a note\r\nMP3Bitrate=192\r\n"), std::string::npos) << after;
  EXPECT_EQ(after.find("RU"), std::string::npos) << after;
  EXPECT_EQ(after.find("folder/"), std::string::npos) << after;  // the old value, all of its lines
  EXPECT_NE(Inode(path), before);  // a new file took the old one's name
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

  TSettingsStore back(path);
  EXPECT_EQ(back.TakeNotice(), "");
  EXPECT_EQ(LoadGeneralSettings(back).Destination + "|" + LoadGeneralSettings(back).Language, "/music/out/|FR");
  QSettings qt(QString::fromStdString(path), QSettings::IniFormat);
  qt.allKeys();
  EXPECT_EQ(qt.status(), QSettings::NoError);
  EXPECT_EQ(qt.value("Other/List").toStringList(), QStringList({"a", "b", "c"}));
  EXPECT_EQ(qt.value("Other/Path").toString(), "/x;y");
  EXPECT_EQ(qt.value("InfoForm/InfoFormHeight").toInt(), 300);
  EXPECT_EQ(qt.value("MP3Bitrate").toInt(), 192);
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string name = "Text" + std::to_string(i);
    EXPECT_EQ(back.ReadString(name, ""), texts[i]) << name;
    EXPECT_EQ(qt.value(QString::fromStdString(name)).toString().toStdString(), texts[i]) << name;
  }
}

const std::string kOtherSection = "[Other]\nKey=kept\n";

// A save while `block` holds is a message naming the file, which stays as it was;
// the store keeps the values, and the next save once `unblock` has run writes them all.
void ExpectAFailedSaveLosesNothing(const std::string &path, const std::function<void()> &block,
                                   const std::function<void()> &unblock) {
  const bool existed = fs::exists(path);
  const std::string before = existed ? ReadText(path) : "";
  TSettingsStore store(path);
  block();
  std::string message;
  EXPECT_NO_THROW(message = store.WriteSettings(GeneralSettingsRecords(French())));
  EXPECT_NE(message.find("\"" + path + "\""), std::string::npos) << message;
  EXPECT_EQ(fs::exists(path), existed);
  EXPECT_TRUE(!existed || ReadText(path) == before);
  EXPECT_EQ(LoadGeneralSettings(store).Language, "FR");
  unblock();
  if (existed) {  // nothing left behind
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(path).parent_path()), fs::directory_iterator()), 1);
  }

  EXPECT_EQ(store.WriteSettings(PreprocessOptionsRecords({.FileFormat = {}, .Threshold = 7})), "");
  TSettingsStore back(path);
  EXPECT_EQ(LoadGeneralSettings(back).Language, "FR");  // the batch that failed
  EXPECT_EQ(LoadGeneralSettings(back).Destination, "/music/out/");
  EXPECT_EQ(LoadPreprocessOptions(back).Threshold, 7);
  EXPECT_TRUE(!existed || ReadText(path).find(kOtherSection) != std::string::npos);
}

// A folder that cannot be made, a read-only folder, a full disk (or, without
// a disk of its own, a file size limit).
TEST(Settings, AFailedSaveIsAMessageThatLosesNothing) {
  const std::string root = TestFolder(), folder = root + "/tonmill", path = folder + "/tonmill.conf";
  std::unique_ptr<TFileSizeLimit> limit;
  {
    SCOPED_TRACE("no folder");
    ExpectAFailedSaveLosesNothing(
        root + "/config/tonmill/tonmill.conf", [&] { WriteText(root + "/config", "x"); }, [&] { fs::remove(root + "/config"); });
  }
  for (const bool full : {false, true}) {
    SCOPED_TRACE(full ? "full disk" : "read-only");
    TScratchDisk disk(folder, full ? "64k" : "1m");
    WriteText(path, "[General]\nLanguage=RU\n\n" + kOtherSection);
    if (disk.Mounted && full) ExpectAFailedSaveLosesNothing(path, [&] { disk.LeaveFree(0); }, [&] { disk.Unfill(); });
    if (disk.Mounted && !full)
      ExpectAFailedSaveLosesNothing(path, [&] { disk.SetReadOnly(true); }, [&] { disk.SetReadOnly(false); });
    if (!disk.Mounted && full)
      ExpectAFailedSaveLosesNothing(path, [&] { limit = std::make_unique<TFileSizeLimit>(16); }, [&] { limit.reset(); });
    if (!disk.Mounted && !full && geteuid() != 0)
      ExpectAFailedSaveLosesNothing(path, [&] { fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec); },
                                    [&] { fs::permissions(folder, fs::perms::owner_all); });
  }
}

// Every format's options, each integer and Boolean changed within its range, read back through a new store.
class FormatSettings : public ::testing::TestWithParam<const TFormatRow *> {};

TEST_P(FormatSettings, SavedOptionsReadBack) {
  const TFormatRow &row = *GetParam();
  const std::string path = TestFolder() + "/tonmill.conf";
  const std::shared_ptr<void> defaults = row.NewOptions();
  auto change = [&](const TOptionField &f, void *options) {
    const TStoredValue value = f.Get(defaults.get());
    if (f.Kind == TFieldKind::Boolean) f.Set(options, !std::get<bool>(value));
    if (f.Kind == TFieldKind::Integer) f.Set(options, std::get<int32_t>(value) == f.Min ? f.Max : f.Min);
  };
  // Each field has a member of its own.
  for (const TOptionField &f : row.Fields) {
    const std::shared_ptr<void> one = row.NewOptions();
    change(f, one.get());
    for (const TOptionField &g : row.Fields)
      EXPECT_TRUE(&g == &f || g.Get(one.get()) == g.Get(defaults.get())) << f.StoredName << " moves " << g.StoredName;
  }
  const std::shared_ptr<void> saved = row.NewOptions();
  for (const TOptionField &f : row.Fields) change(f, saved.get());
  {
    TSettingsStore store(path);
    ASSERT_EQ(store.WriteSettings(FormatOptionsRecords(row, saved.get())), "");
  }
  const std::string text = ReadText(path);
  const std::shared_ptr<void> loaded = LoadFormatOptions(row, TSettingsStore(path));
  for (const TOptionField &f : row.Fields) {
    EXPECT_NE(text.find(std::string(f.StoredName) + "="), std::string::npos) << f.StoredName;
    const TStoredValue expected = f.WrittenAs ? TStoredValue(*f.WrittenAs) : f.Get(saved.get());
    EXPECT_EQ(f.Get(loaded.get()), expected) << f.StoredName;
    EXPECT_TRUE(f.Kind == TFieldKind::Text || f.WrittenAs || f.Get(loaded.get()) != f.Get(defaults.get()))
        << f.StoredName << " kept its default";
  }
}

std::vector<const TFormatRow *> FormatsWithOptions() {
  std::vector<const TFormatRow *> rows;
  for (const TFormatRow *row : FormatRows())
    if (row->NewOptions) rows.push_back(row);
  return rows;
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, FormatSettings, ::testing::ValuesIn(FormatsWithOptions()),
                         [](const auto &info) { return std::string(info.param->Name); });

}  // namespace
