// SPDX-License-Identifier: GPL-3.0-or-later
// The Info command of the real main window and its two views, on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include <map>
#include <numeric>
#include <sstream>

#include <fmt/printf.h>

#include "app/windows/Unit1.h"
#include "app/windows/cue_info.h"
#include "app/windows/files_info.h"
#include "base/texts.h"
#include "test_support.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Column(const TfrmFilesInfo &view, int column) {
  std::vector<std::string> texts;
  for (const TFilesInfoRow &row : view.Rows()) texts.push_back(row.Texts[size_t(column)].toStdString());
  return texts;
}

std::vector<int> Numbers(const TfrmFilesInfo &view) {
  std::vector<int> numbers;
  for (const TFilesInfoRow &row : view.Rows()) numbers.push_back(row.Number);
  return numbers;
}

void Select(TfrmFilesInfo &view, const std::vector<int> &positions) {
  auto *selection = view.JvListView1->selectionModel();
  selection->clearSelection();
  for (int p : positions)
    selection->select(view.Model->index(p, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

// The CUE view's rows, "number|title|performer|start".
std::vector<std::string> CueRows(const TfrmCUEInfo &view) {
  std::vector<std::string> rows;
  for (int r = 0; r < view.JvListView1->topLevelItemCount(); ++r) {
    const QTreeWidgetItem *item = view.JvListView1->topLevelItem(r);
    rows.push_back((item->text(0) + "|" + item->text(1) + "|" + item->text(2) + "|" + item->text(3)).toStdString());
  }
  return rows;
}

std::vector<std::string> Names(const Tmain &window) {
  std::vector<std::string> names;
  for (const TSourceItem &item : window.Sources().List()) names.push_back(item.FileName);
  return names;
}

// Three tracks by "Ансамбль" in Windows-1251: "Звёзды над городом", "Песня о встрече" and an untitled one.
const char kCp1251Sheet[] =
    "PERFORMER \"\xC0\xED\xF1\xE0\xEC\xE1\xEB\xFC\"\r\n"
    "TITLE \"Album\"\r\n"
    "FILE \"album.wav\" WAVE\r\n"
    "  TRACK 01 AUDIO\r\n"
    "    TITLE \"\xC7\xE2\xB8\xE7\xE4\xFB\x20\xED\xE0\xE4\x20\xE3\xEE\xF0\xEE\xE4\xEE\xEC\"\r\n"
    "    INDEX 01 00:00:00\r\n"
    "  TRACK 02 AUDIO\r\n"
    "    TITLE \"\xCF\xE5\xF1\xED\xFF\x20\xEE\x20\xE2\xF1\xF2\xF0\xE5\xF7\xE5\"\r\n"
    "    INDEX 01 00:02:10\r\n"
    "  TRACK 03 AUDIO\r\n"
    "    INDEX 01 00:04:70\r\n";

class InfoViews : public TWindowTest {
 protected:
  bool Info(const std::function<void(TfrmFilesInfo &)> &inView) {
    return WhileModal<TfrmFilesInfo>([this] { Window->bInfo->click(); }, inView);
  }
};

// What ffprobe says of a file's first audio stream, by name.
std::map<std::string, std::string> Probe(const std::string &path) {
  std::string out;
  RunTool({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries", "stream", "-of", "default=nw=1", path}, &out);
  std::map<std::string, std::string> values;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (const size_t at = line.find('='); at != std::string::npos) values[line.substr(0, at)] = line.substr(at + 1);
  return values;
}

// Rows against ffprobe; the sheet's tracks; removal reaches the job only on
// OK, in the order the view shows; the view's sizes are kept; the run converts what is left.
TEST_F(InfoViews, RowsShowWhatTheSourcesAreRemovalAndTheRunThatFollows) {
  const std::vector<std::string> sources = {
      Source("a.wav", {.Rate = 44100, .Channels = 2, .Bits = 16, .Seconds = 1.5}),
      Source("b.flac", {.Rate = 48000, .Channels = 1, .Bits = 24, .Seconds = 2.25}),
      Source("c.wav", {.Rate = 8000, .Channels = 1, .Bits = 8, .Seconds = 0.75}),
      Source("d.wav", {.Rate = 22050, .Channels = 6, .Bits = 32, .Seconds = 61.37}),
  };
  Window->DropFiles({Folder + "/in"}, false);
  Source("album.wav", {.Seconds = 6, .Seed = 9});
  Window->DropFiles({WriteText(Folder + "/in/album.cue", kCp1251Sheet)}, true);
  ASSERT_EQ(Window->Sources().List().size(), 5u);
  const std::vector<std::string> before = Names(*Window);

  bool cueViewOpened = false;
  ASSERT_TRUE(Info([&](TfrmFilesInfo &view) {
    ASSERT_EQ(view.Rows().size(), 5u);
    EXPECT_EQ(Column(view, 0), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(Column(view, 1), before);
    EXPECT_EQ(Column(view, 2), (std::vector<std::string>{"wav", "wav+CUE", "flac", "wav", "wav"}));
    for (const TFilesInfoRow &row : view.Rows()) {
      std::map<std::string, std::string> probe = Probe(row.FileName);
      if (probe["bits_per_sample"] == "0") probe["bits_per_sample"] = probe["bits_per_raw_sample"];
      const double seconds = std::stod(probe["duration"]);
      EXPECT_EQ(std::vector<std::string>({row.Texts[4].toStdString(), row.Texts[5].toStdString(), row.Texts[6].toStdString(),
                                          row.Texts[7].toStdString()}),
                std::vector<std::string>({probe["sample_rate"], probe["bits_per_sample"], probe["channels"],
                                          fmt::sprintf("00:%02d:%05.2f", int(seconds) / 60, seconds - int(seconds) / 60 * 60)}));
      // Kilobits a second of the whole file, as a player states them.
      EXPECT_NEAR(row.Keys[3], double(fs::file_size(row.FileName)) * 8 / 1000 / seconds, 1.0) << row.FileName;
    }
    // Remove follows a selection, CUE info one of the sheet's row.
    for (const auto &[rows, remove, cue] : std::vector<std::tuple<std::vector<int>, bool, bool>>{
             {{}, false, false}, {{1, 2}, true, false}, {{0}, true, false}, {{1}, true, true}}) {
      Select(view, rows);
      EXPECT_EQ(std::make_pair(view.bRemove->isEnabled(), view.bCUEInfo->isEnabled()), std::make_pair(remove, cue));
    }
    cueViewOpened = WhileModal<TfrmCUEInfo>([&] { view.bCUEInfo->click(); }, [](TfrmCUEInfo &cue) {
      EXPECT_EQ(CueRows(cue), (std::vector<std::string>{"1|Звёзды над городом|Ансамбль|00:00:00",
                                                         "2|Песня о встрече|Ансамбль|00:02:10", "3||Ансамбль|00:04:70"}));
    });
    Select(view, {2, 4});
    view.bRemove->click();
    EXPECT_EQ(view.RemovedCount(), 2);
    EXPECT_EQ(Numbers(view), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(Column(view, 1), (std::vector<std::string>{before[0], before[1], before[3]}));
    EXPECT_FALSE(view.bRemove->isEnabled());
    view.bCancel->click();
  }));
  EXPECT_TRUE(cueViewOpened);
  EXPECT_EQ(Names(*Window), before);
  EXPECT_EQ(TSettingsStore(Store->FileName()).ReadInteger("InfoFormWidth", -1), -1) << "Cancel stores nothing";

  TInfoFormSizes chosen;
  ASSERT_TRUE(Info([&](TfrmFilesInfo &view) {
    EXPECT_EQ(view.Sizes(), TfrmFilesInfo().Sizes());
    Select(view, {2, 4});
    QKeyEvent remove(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(view.JvListView1, &remove);
    EXPECT_EQ(view.RemovedCount(), 2);
    view.SortByColumn(1);  // c, album, a
    view.resize(930, 510);
    view.JvListView1->header()->resizeSection(1, 333);
    chosen = view.Sizes();
    view.bOK->click();
  }));
  EXPECT_EQ(std::make_pair(chosen.Width, chosen.Columns[1]), std::make_pair(930, 333));
  const std::vector<std::string> left = {before[3], before[1], before[0]};
  EXPECT_EQ(Names(*Window), left);
  EXPECT_TRUE(Window->Sources().List()[1].Rec.HasCUE) << "the image is still cut by its sheet";
  EXPECT_EQ(Window->lProgress1->text().toStdString(), FormatText(text_tracks_of_files_will_be_processed, 5, 3));
  EXPECT_EQ(LoadInfoFormSizes(TSettingsStore(Store->FileName()), TInfoFormSizes{}), chosen);
  ASSERT_TRUE(Info([&](TfrmFilesInfo &view) {
    EXPECT_EQ(view.Sizes(), chosen);
    view.bOK->click();
  }));
  EXPECT_EQ(Names(*Window), left);

  ChooseOutput(Window->rbWAV);
  Window->bStart->click();
  std::set<std::string> outputs;
  for (const fs::directory_entry &entry : fs::directory_iterator(Folder + "/out")) outputs.insert(entry.path().filename().string());
  EXPECT_EQ(outputs, (std::set<std::string>{"a.wav", "c.wav", "01 - Звёзды над городом.wav", "02 - Песня о встрече.wav",
                                            "03 - Ансамбль - Album.wav"}));
  EXPECT_EQ(FFmpegDecode(Folder + "/out/a.wav", "s16le"), FFmpegDecode(sources[0], "s16le"));
  EXPECT_EQ(FFmpegDecode(Folder + "/out/c.wav", "s16le"), FFmpegDecode(sources[2], "s16le"));
  EXPECT_TRUE(Errors.empty());

  // The CUE view: a sheet without tracks and no sheet are empty; tracks are cut as a run cuts them.
  EXPECT_EQ(CueRows(TfrmCUEInfo(WriteText(Folder + "/empty.cue", "TITLE \"nothing\"\r\n"))), std::vector<std::string>{});
  EXPECT_EQ(CueRows(TfrmCUEInfo(sources[0])), std::vector<std::string>{});
  const std::string pregaps = WriteText(Folder + "/pregaps.cue", "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"One\"\nINDEX 00 00:00:00\n"
                                        "INDEX 01 00:02:00\nTRACK 02 AUDIO\nINDEX 00 00:05:10\nINDEX 01 00:06:00\n");
  EXPECT_EQ(CueRows(TfrmCUEInfo(pregaps, nullptr, {true, false})),
            (std::vector<std::string>{"0|Hidden track||00:00:00", "1|One||00:02:00", "2|||00:06:00"}));
  EXPECT_EQ(CueRows(TfrmCUEInfo(pregaps, nullptr, {true, true})), (std::vector<std::string>{"1|One||00:00:00", "2|||00:05:10"}));
  // Each INDEX 00 written after its INDEX 01.
  const std::string reordered = WriteText(Folder + "/reordered.cue", "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"One\"\nINDEX 01 00:02:00\n"
                                          "INDEX 00 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:06:00\nINDEX 00 00:05:10\n");
  EXPECT_EQ(CueRows(TfrmCUEInfo(reordered, nullptr, {true, true})), CueRows(TfrmCUEInfo(pregaps, nullptr, {true, true})));
}

// Ten rows whose values tie in every column but the name; each click sorts
// the rows as they stand, so tied rows keep the order the last sort left.
TEST(FilesInfoView, EverySortRuleWithTiesAndBothDirections) {
  struct TRow {
    const char *Name;
    int Bitrate, Rate, Bits, Channels;
    double Seconds;
  } rows[] = {
      {"/m/b.wav", 1411, 44100, 16, 2, 10.0},    {"/m/A.flac", 900, 96000, 24, 2, 125.5},
      {"/m/c.mp3", 320, 44100, 16, 2, 9.99},     {"/m/a.wav", 1411, 48000, 16, 1, 3600},
      {"/m/Z.ogg", 192, 44100, 32, 2, 61},       {"/m/d.FLAC", 1000, 192000, 24, 6, 0.05},
      {"/m/e.ape", 700, 44100, 16, 2, 10.0},     {"/m/f.wv", 80, 8000, 8, 1, 2.5},
      {"/m/g.wav", 1411, 44100, 16, 2, 10.0},    {"/m/h.mp3", 128, 22050, 16, 2, 3599.994},
  };
  std::vector<TFilesInfoRow> model;
  for (const TRow &r : rows) {
    TSourceItem item{r.Name, {}};
    item.Rec.HasCUE = std::string(r.Name) == "/m/A.flac";
    item.Rec.CueName = item.Rec.HasCUE ? "/m/A.cue" : "";
    TAudioInfoRec &s = item.Rec.AudioInfo.Streams.emplace_back();
    std::tie(s.Bitrate, s.SampleRate, s.BitsPerSample, s.Channels, s.Duration) =
        std::tie(r.Bitrate, r.Rate, r.Bits, r.Channels, r.Seconds);
    model.push_back(FilesInfoRow(item, int32_t(model.size() + 1)));
  }
  TfrmFilesInfo view;
  view.SetRows(model);
  EXPECT_EQ(Column(view, 2)[1], "flac+CUE");
  EXPECT_EQ(Column(view, 2)[5], "flac");
  EXPECT_EQ(Column(view, 7), (std::vector<std::string>{"00:00:10.00", "00:02:05.50", "00:00:09.99", "01:00:00.00",
                                                       "00:01:01.00", "00:00:00.05", "00:00:10.00", "00:00:02.50",
                                                       "00:00:10.00", "00:59:59.99"}));
  // The row selected before a sort is still selected after it.
  Select(view, {2});

  const struct {
    int Column;
    std::vector<int> Order;  // the "#" of each row after the click
  } clicks[] = {
      {3, {1, 4, 9, 6, 2, 7, 3, 5, 10, 8}},   // Bitrate: descending, numbers not texts
      {3, {8, 10, 5, 3, 7, 2, 6, 1, 4, 9}},   // and ascending
      {7, {6, 8, 3, 7, 1, 9, 5, 2, 10, 4}},   // Time: ascending at the first click
      {7, {4, 10, 2, 5, 7, 1, 9, 3, 8, 6}},
      {1, {5, 10, 9, 8, 7, 6, 3, 1, 4, 2}},   // File name without regard to case
      {2, {8, 9, 1, 4, 5, 10, 3, 2, 6, 7}},   // Type
      {0, {10, 9, 8, 7, 6, 5, 4, 3, 2, 1}},   // "#" as numbers: 10 above 9
      {0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {4, {6, 2, 4, 1, 3, 5, 7, 9, 10, 8}},   // Sample Rate
      {5, {5, 6, 2, 4, 1, 3, 7, 9, 10, 8}},   // BPS
      {6, {6, 5, 2, 1, 3, 7, 9, 10, 4, 8}},   // Channels
      {6, {4, 8, 5, 2, 1, 3, 7, 9, 10, 6}},
  };
  for (const auto &click : clicks) {
    emit view.JvListView1->header()->sectionClicked(click.Column);
    EXPECT_EQ(Numbers(view), click.Order) << "column " << click.Column;
    const QModelIndexList selected = view.JvListView1->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(view.Rows()[size_t(selected.front().row())].Number, 3) << "column " << click.Column;
  }

  // Many equal rows keep their order, in both directions.
  std::vector<TFilesInfoRow> tied(40, model[0]);
  for (size_t i = 0; i < tied.size(); ++i) tied[i].Number = int32_t(i + 1);
  view.SetRows(tied);
  std::vector<int> order(40);
  std::iota(order.begin(), order.end(), 1);
  for (int click = 0; click < 2; ++click) {
    view.SortByColumn(3);
    EXPECT_EQ(Numbers(view), order);
  }

  // Durations as they read: rounded as a whole, hundredths with two digits.
  EXPECT_EQ(DurationText(59.999).toStdString(), "00:01:00.00");
  EXPECT_EQ(DurationText(-1).toStdString(), "");
}

TEST_F(InfoViews, CancelledGatheringShowsNothingAndChangesNothing) {
  const std::string first = Source("s000.wav", {.Seconds = 0.2});
  for (int i = 1; i < 300; ++i) fs::copy_file(first, Folder + fmt::sprintf("/in/s%03d.wav", i));
  Window->DropFiles({Folder + "/in"}, false);
  const std::vector<std::string> before = Names(*Window);
  std::vector<bool> enabled;
  for (QWidget *w : Window->JobControls()) enabled.push_back(w->isEnabled());

  // Cancel at the first moment the window is alive again.
  bool sawCancel = false;
  QTimer canceller;
  QObject::connect(&canceller, &QTimer::timeout, [&] {
    if (Window->bInfo->text().toStdString() != text_cancel) return;
    sawCancel = true;
    EXPECT_FALSE(Window->bStart->isEnabled());
    EXPECT_FALSE(Window->cbLang->isEnabled());
    canceller.stop();
    Window->bInfo->click();
  });
  canceller.start(0);
  EXPECT_FALSE(Info([](TfrmFilesInfo &) {}));
  EXPECT_TRUE(sawCancel);
  // The workers stopped early: 300 sources take far longer than one pass of the event loop.
  int gathered = 0;
  for (const TSourceItem &item : Window->Sources().List()) gathered += item.Rec.Progress.Percent;
  EXPECT_LT(gathered, 300);
  EXPECT_EQ(Names(*Window), before);
  EXPECT_EQ(Window->bInfo->text().toStdString(), text_info);
  std::vector<bool> after;
  for (QWidget *w : Window->JobControls()) after.push_back(w->isEnabled());
  EXPECT_EQ(after, enabled);
  EXPECT_FALSE(Window->Processing());
  EXPECT_EQ(Window->lProgress1->text().toStdString(), FormatText(text_files_will_be_processed, 300));

  // Not cancelled, the same list shows whole; a source that cannot be read
  // is a row saying why, and the view is where it is removed.
  EXPECT_TRUE(Info([](TfrmFilesInfo &view) {
    EXPECT_EQ(view.Rows().size(), 300u);
    view.bOK->click();
  }));
  EXPECT_EQ(Window->LastProgress().Percent, 100);
  WriteText(Folder + "/in/zz.wav", "not audio at all");
  Window->DropFiles({Folder + "/in/zz.wav"}, true);
  EXPECT_TRUE(Info([&](TfrmFilesInfo &view) {
    ASSERT_EQ(view.Rows().size(), 301u);
    const TFilesInfoRow &bad = view.Rows().back();
    EXPECT_EQ(bad.Texts[1].toStdString(), FormatText(text_cannot_be_read, text_why_not_audio) + "  " + Folder + "/in/zz.wav");
    EXPECT_EQ(bad.Texts[7], "");
    EXPECT_EQ(view.Rows()[0].Texts[1].toStdString(), before[0]);
    Select(view, {300});
    view.bRemove->click();
    view.bOK->click();
  }));
  EXPECT_TRUE(Errors.empty());
  EXPECT_EQ(Names(*Window), before);
}

// An image added by itself shows the sheet beside it (its type "+CUE"), for
// the types that images are ripped to; an Ogg file is never an image.
TEST(FilesInfoRows, AnImageAddedByItselfShowsTheSheetBesideIt) {
  const std::string folder = TestFolder(), sheet = WriteText(folder + "/live.cue", "FILE \"live\" WAVE\n");
  for (const std::string type : {"flac", "wv", "ape", "wav", "mp3", "ogg"}) {
    const std::string audio = WriteText(folder + "/live." + type, "");  // only its name counts here
    EXPECT_EQ(FilesInfoRow({audio, {}}, 1).SheetName, type == "ogg" ? "" : sheet) << type;
    fs::remove(audio);
  }
}

}  // namespace
