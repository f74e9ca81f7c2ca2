// SPDX-License-Identifier: GPL-3.0-or-later
// The real main window, driven on Qt's offscreen platform.
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeView>

#include <set>
#include <tuple>

#include <fmt/printf.h>

#include "app/windows/about.h"
#include "app/windows/cue_info.h"
#include "app/windows/error_report.h"
#include "app/windows/files_info.h"
#include "app/windows/files_per_cpu_dialog.h"
#include "app/windows/format_dialogs.h"
#include "app/windows/preprocess_dialog.h"
#include "app/windows/program_options_dialog.h"
#include "base/texts.h"
#include "engine/name_pattern.h"
#include "engine/partial_output.h"
#include "platform/main_thread/qt_pump.h"
#include "window_fixture.h"

namespace {

// What a person would see cut off in a window: captions, group and column titles, a list scrolling sideways.
std::vector<std::string> ClippedTexts(const QWidget *window) {
  std::vector<std::string> clipped;
  for (const QWidget *w : window->findChildren<QWidget *>()) {
    const QFontMetrics metrics(w->font());
    const std::string name = w->objectName().toStdString();
    if (auto *button = qobject_cast<const QPushButton *>(w)) {
      if (metrics.horizontalAdvance(button->text()) + 12 > button->width())
        clipped.push_back(name + ": " + button->text().toStdString());
    } else if (auto *box = qobject_cast<const QAbstractButton *>(w)) {  // check and radio boxes
      if (!box->text().isEmpty() && box->sizeHint().width() > box->width())
        clipped.push_back(name + ": " + box->text().toStdString());
    } else if (auto *label = qobject_cast<const QLabel *>(w)) {
      if (label->text().isEmpty() || !label->pixmap().isNull()) continue;
      const bool fits = label->wordWrap() ? label->heightForWidth(label->width()) <= label->height()
                                          : metrics.horizontalAdvance(label->text()) <= label->contentsRect().width();
      if (!fits) clipped.push_back(name + ": " + label->text().toStdString());
    } else if (auto *group = qobject_cast<const QGroupBox *>(w)) {
      if (metrics.horizontalAdvance(group->title()) > group->width() - 16)
        clipped.push_back(name + ": " + group->title().toStdString());
    } else if (auto *view = qobject_cast<const QTreeView *>(w)) {
      if (view->horizontalScrollBar()->isVisible()) clipped.push_back(name + " scrolls sideways");
    }
  }
  return clipped;
}

class MainWindow : public TWindowTest {
 protected:
  std::vector<bool> EnabledStates() const {
    std::vector<bool> states;
    for (QWidget *w : Window->JobControls()) states.push_back(w->isEnabled());
    return states;
  }

  void SelectLanguage(const std::string &code) {
    for (int i = 0; i < Window->cbLang->count(); ++i)
      if (Window->cbLang->itemText(i).startsWith(QString::fromStdString(code))) Window->cbLang->setCurrentIndex(i);
    Window->cbLangChange();
  }
};

// Drops replace the list, with Ctrl add to it; nothing usable and a duplicate change nothing;
// a sheet without its audio is said once.
TEST_F(MainWindow, DropsReplaceOrAdd) {
  const std::string a = Source("a.wav", {.Seconds = 0.2}), b = Source("b.flac.wav", {.Seconds = 0.2});
  WriteText(Folder + "/notes.txt", "x");
  Window->DropFiles({Folder + "/notes.txt"}, false);
  EXPECT_TRUE(Window->Sources().List().empty());
  EXPECT_FALSE(Window->bStart->isEnabled() || Window->bInfo->isEnabled());
  Window->DropFiles({a}, false);
  EXPECT_EQ(Line(), FormatText(text_files_will_be_processed1, 1));
  EXPECT_TRUE(Window->bStart->isEnabled() && Window->bInfo->isEnabled());
  Window->DropFiles({Folder + "/notes.txt"}, false);
  EXPECT_EQ(Window->Sources().List().size(), 1u);
  Window->DropFiles({b, a}, true);  // Ctrl: added, the duplicate refused
  EXPECT_EQ(Window->lInputFiles->text(), "2(wav)");
  Window->DropFiles({b}, false);
  EXPECT_EQ(Window->Sources().List().size(), 1u);
  const std::string sheet = WriteText(Folder + "/in/gone.cue", "FILE \"gone.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  Window->DropFiles({sheet}, false);
  EXPECT_EQ(Messages, std::vector<std::string>{text_sheets_without_audio + "\n" + sheet});
  EXPECT_EQ(Window->Sources().List().size(), 1u);
  Window->DropFiles({a}, true);
  EXPECT_EQ(Messages.size(), 1u);
}

// During a run the job controls are off and closing asks ("no": the run goes on). Every way to cancel
// starts no later job, gives the controls back, and leaves no hidden file and no stopped job's file
// unless "KeepPartial" is stored; Start is refused until the run has wound down; told "yes", closing closes.
TEST_F(MainWindow, EveryWayToCancelStopsTheRunAndLeavesNoShortFile) {
  const std::vector<std::string> sources = {WriteSignal(Folder + "/in/a.flac", {.Seconds = 150}, {"-c:a", "flac"}),
                                            Folder + "/in/b.flac", Folder + "/in/c.flac"};
  fs::copy_file(sources[0], sources[1]);
  fs::copy_file(sources[0], sources[2]);
  enum TWay { kCancel, kCancelAndStartAgain, kEscape, kClose };
  const struct { TWay Way; QRadioButton *Tmain::*Format; std::string Ext; bool Keep; } rows[] = {
      {kCancel, &Tmain::rbWAV, "wav", false}, {kCancelAndStartAgain, &Tmain::rbFLAC, "flac", false},
      {kEscape, &Tmain::rbMP3, "mp3", false}, {kClose, &Tmain::rbAPE, "ape", false},
      {kCancel, &Tmain::rbFLAC, "flac", true}};
  for (const auto &row : rows) {
    SCOPED_TRACE(std::to_string(row.Way) + " " + row.Ext + (row.Keep ? ", shorter files kept" : ""));
    ASSERT_EQ(Store->WriteSettings({{"KeepPartial", row.Keep}}), "");
    Window = Open();
    Window->DropFiles(sources, false);
    fs::remove_all(Folder + "/out");
    ChooseOutput(Window.get()->*row.Format);
    const std::vector<bool> before = EnabledStates();
    Questions.clear();
    Answer = true;
    bool acted = false, startEnabledWhileStopping = false, closeRefused = false;
    std::vector<bool> during;
    QTimer watch;  // acts once the run is under way
    QObject::connect(&watch, &QTimer::timeout, [&] {
      std::error_code ec;
      const uintmax_t written = fs::file_size(PartialFileName(Chosen + "/a." + row.Ext), ec);
      if (acted || !Window->Processing() || ec || written < 32768 || Window->bStart->text().toStdString() != text_cancel)
        return;
      acted = true;
      during = EnabledStates();
      Answer = false;
      closeRefused = !Window->close();
      Answer = true;
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      if (row.Way == kEscape) QApplication::sendEvent(Window->rbMP3, &escape);
      if (row.Way == kClose) Window->close();
      if (row.Way != kCancel && row.Way != kCancelAndStartAgain) return;
      Window->bStart->click();
      if (row.Way == kCancel) return;
      startEnabledWhileStopping = Window->bStart->isEnabled();
      Window->bStart->click();
      Window->bStartClick();
    });
    watch.start(2);
    Window->bStart->click();
    watch.stop();
    QApplication::processEvents();
    ASSERT_TRUE(acted);
    EXPECT_EQ(during, std::vector<bool>(before.size(), false));
    EXPECT_EQ(std::make_tuple(closeRefused, startEnabledWhileStopping, Window->Processing()),
              std::make_tuple(true, false, false));
    const int converted = Window->Engine().ConvertedCount;
    EXPECT_LT(converted, 3);
    EXPECT_EQ(Line(), FormatText(text_run_counts, converted, 3, 0, 3 - converted));
    EXPECT_EQ(EnabledStates(), before);
    EXPECT_EQ(Window->isVisible(), row.Way != kClose);
    EXPECT_EQ(Questions, std::vector<std::string>(row.Way == kClose ? 2 : 1, text_ask_cancel_run));
    EXPECT_FALSE(fs::exists(Chosen + "/c." + row.Ext));
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(Chosen)) names.push_back(entry.path().filename().string());
    for (const std::string &name : names) EXPECT_FALSE(IsPartialFileName(name)) << name;
    EXPECT_EQ(int(names.size()) > converted, row.Keep) << ::testing::PrintToString(names);
  }
}

// The clicks of a double click arrive during the first one's run: one run, neither cancelled nor repeated.
TEST_F(MainWindow, ADoubleClickOnStartStartsOneRun) {
  Window->DropFiles({Source("a.wav", {.Seconds = 2}), Source("b.wav", {.Seconds = 2})}, false);
  Window->cbSameAsSource->click();  // a second run would write a_001.mp3 beside a.mp3
  Window->rbMP3->click();
  const QPointF at = QRectF(Window->bStart->rect()).center(), screen = Window->bStart->mapToGlobal(at);
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
                            QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QApplication::postEvent(Window->bStart, new QMouseEvent(type, at, screen, Qt::LeftButton, held, Qt::NoModifier));
  }
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  EXPECT_FALSE(Window->Processing());
  EXPECT_EQ(Line(), FormatText(text_files_were_processed, 2));
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator(Folder + "/in")) names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"a.wav", "b.wav", "a.mp3", "b.mp3"}));
}

// Six files and a sheet of three tracks are nine outputs, counted before and after a run that goes on past
// a source that fails (named in the one report); a run in which every output exists says what it left alone.
TEST_F(MainWindow, TrueCountsAndWhereTheOutputsAre) {
  ASSERT_EQ(Store->WriteSettings({{"ProgParallelFiles", int32_t(2)}, {"ProgSimpleParallelFiles", true},
                                  {"SkipExisting", true}, {"KeepGoing", true}}), "");
  Window = Open();
  std::vector<std::string> sources = {WriteText(Folder + "/in/bad.flac", "not audio")};  // among the first jobs
  for (int i = 0; i < 6; ++i) sources.push_back(Source("f" + std::to_string(i) + ".wav", {.Seconds = 1}));
  Source("album.wav", {.Seconds = 3});
  sources.push_back(WriteText(Folder + "/in/album.cue",
                              "FILE \"album.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
                              "    INDEX 01 00:01:00\n  TRACK 03 AUDIO\n    INDEX 01 00:02:00\n"));
  Window->DropFiles(sources, false);
  EXPECT_EQ(Line(), FormatText(text_tracks_of_files_will_be_processed, 10, 8));
  ChooseOutput(Window->rbMP3);
  Window->bStart->click();
  EXPECT_EQ(Line(), FormatText(text_run_counts, 9, 10, 1, 0));
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_NE(Errors[0].find(sources[0]), std::string::npos) << Errors[0];
  EXPECT_EQ(std::distance(fs::directory_iterator(Chosen), fs::directory_iterator()), 9);
  Window->DropFiles(std::vector<std::string>(sources.begin() + 1, sources.end()), false);
  Window->bStart->click();
  EXPECT_EQ(Line(), FormatText(text_run_skipped, 0, 9, 9));
}

// The stored name pattern names the window's outputs; one with an unknown
// field (a settings file edited by hand) is said, and nothing starts.
TEST_F(MainWindow, OutputsNamedByTheStoredPattern) {
  const std::string bad = "<folder>/<titel>";
  ASSERT_EQ(Store->WriteSettings({{"UseNamePattern", true}, {"NamePattern", bad}}), "");
  Window = Open();
  Window->DropFiles({Source("Album/a.wav", {.Seconds = 0.3})}, false);
  ChooseOutput(Window->rbFLAC);
  Window->bStart->click();
  EXPECT_EQ(Messages, std::vector<std::string>{FormatText(text_name_pattern_unknown, bad, std::string("<titel>"),
                                                          std::string(kNameFields))});
  EXPECT_TRUE(fs::is_empty(Chosen));
  ASSERT_EQ(Store->WriteSettings({{"NamePattern", std::string("<folder>/<name> (<album>)")}}), "");
  Window = Open();
  Window->DropFiles({Folder + "/in/Album/a.wav"}, false);
  ChooseOutput(Window->rbFLAC);
  Window->bStart->click();
  EXPECT_EQ(FFmpegDecode(Chosen + "/Album/a (Unknown album).flac", "s16le"), MakeSamples({.Seconds = 0.3}));
}

TEST_F(MainWindow, EveryWindowFitsInEveryLanguage) {
  const std::string sheet = WriteText(Folder + "/album.cue", "PERFORMER \"Ансамбль Ансамбль\"\nFILE \"album.wav\" WAVE\n"
                                                             "  TRACK 01 AUDIO\n    TITLE \"Звёзды над городом\"\n"
                                                             "    INDEX 01 00:00:00\n");
  TSourceItem item{Folder + "/a very long name of a source file that goes on and on.flac", {}};
  TAudioInfoRec &stream = item.Rec.AudioInfo.Streams.emplace_back();
  std::tie(stream.Bitrate, stream.SampleRate, stream.BitsPerSample, stream.Channels, stream.Duration) =
      std::make_tuple(1411, 44100, 16, 2, 3599.99);
  FillCoderVersions();
  std::vector<std::pair<std::string, std::function<std::unique_ptr<QWidget>()>>> windows = {
      {"error", [] { return std::make_unique<TfrmError>(ErrorReportText("coder_engine_error", "x", "/music/in.flac", "/music/out.mp3")); }},
      {"about", [] { return std::make_unique<TfrmAbout>(); }},
      {"options", [&] { return std::make_unique<TfrmOptions>(TProgramOptions{}, false, Window.get()); }},
      {"files per CPU", [&] { return std::make_unique<TfrmFilesPerCPU>(Window.get()); }},
      {"preprocess", [&] { return std::make_unique<TfrmPreprocessOptions>(TPreprocessOptions{}, Window.get()); }},
      {"cue info", [&] { return std::make_unique<TfrmCUEInfo>(sheet); }},
      {"files info", [&] {
         auto view = std::make_unique<TfrmFilesInfo>();
         view->SetRows({FilesInfoRow(item, 1)});
         return view;
       }}};
  for (const TFormatRow *row : FormatRows()) {
    EXPECT_EQ(HasFormatDialog(row->Code), !row->Fields.empty()) << row->Name;  // settings have their dialog
    if (HasFormatDialog(row->Code))
      windows.push_back({row->Name, [this, row] { return NewFormatDialog(row->Code, *Store, Window->Engine()); }});
  }

  Window->DropFiles({Source("a.wav", {.Seconds = 0.2}), Source("b.wav", {.Seconds = 0.2})}, false);
  for (const char *code : {"EN", "RU", "LV", "CS", "FR", "ES", "HU"}) {
    SCOPED_TRACE(code);
    SelectLanguage(code);
    Window->OnProgress({.InputFileName = {}, .OutputFileName = "100% | 100%", .ElapsedTime = "10:01:12",
                        .RemainingTime = "--:--:--", .JobNumber = 12, .JobCount = 24, .Percent = 100, .SlotCount = 2});
    Window->bStart->setText(QString::fromStdString(text_cancel));
    EXPECT_EQ(ClippedTexts(Window.get()), std::vector<std::string>{});
    // The end of a failed run, with the button that opens the destination.
    Window->Engine().SetDestinationFolder(Folder);
    Window->ShowRunEnd(true);
    Window->lProgress1->setText(QString::fromStdString(FormatText(text_run_counts, 2000, 2000, 2000, 2000)));
    Window->lTimeElapsed->setText(QString::fromStdString(
        fmt::sprintf("%s : %s / %s : %s", text_time_elapsed, "10:01:12", text_time_remaining, "00:00:00")));
    EXPECT_EQ(ClippedTexts(Window.get()), std::vector<std::string>{});
    for (const auto &[name, make] : windows) {
      const std::unique_ptr<QWidget> window = make();
      window->show();
      QApplication::processEvents();
      EXPECT_EQ(ClippedTexts(window.get()), std::vector<std::string>{}) << name;
    }
  }
  SelectLanguage("EN");
}

}  // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  TQtPump pump;
  SetMainThreadPump(&pump);
  StartBass();
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  SetMainThreadPump(nullptr);
  return result;
}
