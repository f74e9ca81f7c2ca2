// SPDX-License-Identifier: GPL-3.0-or-later
// The Info command of the real main window and its view, on Qt's offscreen platform.
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>

#include <fmt/printf.h>

#include "app/windows/files_info.h"
#include "base/texts.h"
#include "window_fixture.h"

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

std::vector<std::string> Names(const Tmain &window) {
  std::vector<std::string> names;
  for (const TSourceItem &item : window.Sources().List()) names.push_back(item.FileName);
  return names;
}

using InfoViews = TWindowTest;

// Rows against ffprobe; removal reaches the job only on OK, in the order the view shows.
TEST_F(InfoViews, RowsShowWhatTheSourcesAreRemovalAndTheRunThatFollows) {
  const std::vector<std::string> sources = {
      Source("a.wav", {.Rate = 44100, .Channels = 2, .Bits = 16, .Seconds = 1.5}),
      Source("b.flac", {.Rate = 48000, .Channels = 1, .Bits = 24, .Seconds = 2.25}),
      Source("c.wav", {.Rate = 8000, .Channels = 1, .Bits = 8, .Seconds = 0.75}),
      Source("d.wav", {.Rate = 22050, .Channels = 6, .Bits = 32, .Seconds = 61.37}),
  };
  Window->DropFiles({Folder + "/in"}, false);
  Source("album.wav", {.Seconds = 6, .Seed = 9});
  const std::string sheet = WriteText(Folder + "/in/album.cue",
                                      "PERFORMER \"Band\"\nTITLE \"Album\"\nFILE \"album.wav\" WAVE\n"
                                      "  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
                                      "  TRACK 02 AUDIO\n    INDEX 01 00:04:70\n");
  Window->DropFiles({sheet}, true);
  ASSERT_EQ(Window->Sources().List().size(), 5u);
  const std::vector<std::string> before = Names(*Window);

  ASSERT_TRUE(WhileModal<TfrmFilesInfo>([&] { Window->bInfo->click(); }, [&](TfrmFilesInfo &view) {
    ASSERT_EQ(view.Rows().size(), 5u);
    EXPECT_EQ(Column(view, 1), before);
    EXPECT_EQ(Column(view, 2), (std::vector<std::string>{"wav", "wav+CUE", "flac", "wav", "wav"}));
    for (const TFilesInfoRow &row : view.Rows()) {
      const std::string probe =
          ProbeStream(row.FileName, "sample_rate,bits_per_sample,bits_per_raw_sample,channels,duration");
      int rate = 0, bits = 0, rawBits = 0, channels = 0;
      double seconds = 0;
      // In ffprobe's order; bits_per_raw_sample (last) stands in where bits_per_sample is 0.
      ASSERT_GE(std::sscanf(probe.c_str(), "%d,%d,%d,%lf,%d", &rate, &channels, &bits, &seconds, &rawBits), 4) << probe;
      const std::vector<std::string> shown = {row.Texts[4].toStdString(), row.Texts[5].toStdString(),
                                              row.Texts[6].toStdString(), row.Texts[7].toStdString()};
      const std::string time = fmt::sprintf("00:%02d:%05.2f", int(seconds) / 60, seconds - int(seconds) / 60 * 60);
      EXPECT_EQ(shown, std::vector<std::string>({std::to_string(rate), std::to_string(bits ? bits : rawBits),
                                                 std::to_string(channels), time}));
      // Kilobits a second of the whole file, as a player states them.
      EXPECT_NEAR(row.Keys[3], double(fs::file_size(row.FileName)) * 8 / 1000 / seconds, 1.0) << row.FileName;
    }
    Select(view, {2, 4});
    view.bRemove->click();
    EXPECT_EQ(Numbers(view), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(Column(view, 1), (std::vector<std::string>{before[0], before[1], before[3]}));
    view.bCancel->click();
  }));
  EXPECT_EQ(Names(*Window), before);

  ASSERT_TRUE(WhileModal<TfrmFilesInfo>([&] { Window->bInfo->click(); }, [&](TfrmFilesInfo &view) {
    Select(view, {2, 4});
    view.bRemove->click();
    view.SortByColumn(1);  // c, album, a
    view.bOK->click();
  }));
  EXPECT_EQ(Names(*Window), (std::vector<std::string>{before[3], before[1], before[0]}));
  EXPECT_TRUE(Window->Sources().List()[1].Rec.HasCUE) << "the image is still cut by its sheet";
  EXPECT_EQ(Line(), FormatText(text_tracks_of_files_will_be_processed, 4, 3));
}

// Ten rows whose values tie in every column but the name; each click sorts
// the rows as they stand, so tied rows keep the order the last sort left.
TEST(FilesInfoView, EverySortRuleWithTiesAndBothDirections) {
  struct TRow { const char *Name; int Bitrate, Rate, Bits, Channels; double Seconds; } rows[] = {
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
  // The row selected before a sort is still selected after it.
  Select(view, {2});
  const struct { int Column; std::vector<int> Order; } clicks[] = {  // Order: the "#" of each row after the click
      {3, {1, 4, 9, 6, 2, 7, 3, 5, 10, 8}},   // Bitrate: descending, numbers not texts
      {3, {8, 10, 5, 3, 7, 2, 6, 1, 4, 9}},   // and ascending
      {7, {6, 8, 3, 7, 1, 9, 5, 2, 10, 4}},   // Time: ascending at the first click
      {1, {5, 10, 9, 8, 7, 6, 3, 1, 4, 2}},   // File name without regard to case
      {0, {10, 9, 8, 7, 6, 5, 4, 3, 2, 1}},   // "#" as numbers: 10 above 9
      {0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {4, {6, 2, 4, 1, 3, 5, 7, 9, 10, 8}},   // Sample Rate
  };
  for (const auto &click : clicks) {
    emit view.JvListView1->header()->sectionClicked(click.Column);
    EXPECT_EQ(Numbers(view), click.Order) << "column " << click.Column;
    const QModelIndexList selected = view.JvListView1->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(view.Rows()[size_t(selected.front().row())].Number, 3) << "column " << click.Column;
  }
}

// An image added by itself shows the sheet beside it (its type "+CUE), for
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
