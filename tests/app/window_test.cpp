// SPDX-License-Identifier: GPL-3.0-or-later
// The real main window, driven on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <fstream>
#include <set>
#include <tuple>

#include <fmt/printf.h>

#include "app/windows/Unit1.h"
#include "app/windows/about.h"
#include "app/windows/cue_info.h"
#include "app/windows/error_report.h"
#include "app/windows/files_info.h"
#include "app/windows/files_per_cpu_dialog.h"
#include "app/windows/format_dialogs.h"
#include "app/windows/preprocess_dialog.h"
#include "app/windows/program_options_dialog.h"
#include "base/texts.h"
#include "encoders/format.h"
#include "engine/name_pattern.h"
#include "engine/partial_output.h"
#include "platform/main_thread/qt_pump.h"
#include "test_support.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace {

void PressKey(QWidget *Target, int Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, Key, Key == Qt::Key_Enter ? Qt::KeypadModifier : Modifiers);
  QApplication::sendEvent(Target, &press);
  QKeyEvent release(QEvent::KeyRelease, Key, press.modifiers());
  QApplication::sendEvent(Target, &release);
}

QMouseEvent *MouseEvent(QWidget *Target, QEvent::Type Type, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
  const QPointF at = QRectF(Target->rect()).center();
  return new QMouseEvent(Type, at, Target->mapToGlobal(at), Qt::LeftButton,
                         Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Modifiers);
}

void PressMouse(QWidget *Target, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
    QApplication::sendEvent(Target, std::unique_ptr<QMouseEvent>(MouseEvent(Target, type, Modifiers)).get());
}

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
      for (const QWidget *child : group->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (!group->title().isEmpty() && child->y() < metrics.height()) clipped.push_back(name + " over " + child->objectName().toStdString());
    } else if (auto *view = qobject_cast<const QTreeView *>(w)) {
      if (view->horizontalScrollBar()->isVisible()) clipped.push_back(name + " scrolls sideways");
      const QHeaderView *header = view->header();
      const int margins = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
      for (int c = 0; c < header->count(); ++c) {
        const QString title = header->model()->headerData(c, Qt::Horizontal).toString();
        if (header->fontMetrics().horizontalAdvance(title) + margins > header->sectionSize(c))
          clipped.push_back(name + " column: " + title.toStdString());
      }
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

  // Each greyed control says why in its tooltip, and no other control has one.
  std::vector<std::string> Unexplained() const {
    std::vector<QWidget *> controls = Window->JobControls();
    controls.insert(controls.end(), {Window->bStart, Window->bUP, Window->bDN});
    std::vector<std::string> wrong;
    for (QWidget *w : controls)
      if (w != Window->eDestinationFolder && w != Window->lInputFiles && !(w == Window->bDN && Window->Processing()) &&
          w->toolTip().isEmpty() != w->isEnabled())
        wrong.push_back(w->objectName().toStdString());
    return wrong;
  }

  // Clicks Start; `tick` runs every `ms` milliseconds until the click returns.
  void StartWatching(const std::function<void()> &tick, int ms = 2) {
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, tick);
    timer.start(ms);
    Window->bStart->click();
    timer.stop();
  }

  void SelectLanguage(const std::string &code) {
    for (int i = 0; i < Window->cbLang->count(); ++i)
      if (Window->cbLang->itemText(i).startsWith(QString::fromStdString(code))) Window->cbLang->setCurrentIndex(i);
    Window->cbLangChange();
  }
};

// Drops replace the list, with Ctrl add to it; nothing usable changes nothing;
// a sheet without its audio is said once. The reduced window shows only the progress.
TEST_F(MainWindow, DropsReplaceOrAddAndTheWindowFolds) {
  EXPECT_EQ(Unexplained(), std::vector<std::string>{});
  const std::string a = Source("a.wav", {.Seconds = 0.2}), b = Source("b.flac.wav", {.Seconds = 0.2});
  std::ofstream(Folder + "/notes.txt") << "x";
  Window->DropFiles({Folder + "/notes.txt"}, false);
  EXPECT_TRUE(Window->Sources().List().empty());
  EXPECT_FALSE(Window->bStart->isEnabled() || Window->bInfo->isEnabled());
  Window->DropFiles({a}, false);
  EXPECT_EQ(Line(), FormatText(text_files_will_be_processed1, 1));
  EXPECT_TRUE(Window->bStart->isEnabled() && Window->bInfo->isEnabled());
  Window->DropFiles({Folder + "/notes.txt"}, false);
  EXPECT_EQ(Window->Sources().List().size(), 1u);
  Window->DropFiles({b, a}, true);  // Ctrl: added, the duplicate refused
  EXPECT_EQ(Window->Sources().List().size(), 2u);
  EXPECT_EQ(Line(), FormatText(text_files_will_be_processed, 2));
  EXPECT_EQ(Window->lInputFiles->text(), "2(wav)");
  Window->DropFiles({b}, false);
  EXPECT_EQ(Window->Sources().List().size(), 1u);
  const std::string sheet = WriteText(Folder + "/in/gone.cue", "FILE \"gone.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  Window->DropFiles({sheet}, false);
  EXPECT_EQ(Messages, std::vector<std::string>{text_sheets_without_audio + "\n" + sheet});
  EXPECT_EQ(Window->Sources().List().size(), 1u);
  Window->DropFiles({a}, true);
  EXPECT_EQ(Messages.size(), 1u);
  Window->cbSameAsSource->click();
  EXPECT_EQ(Unexplained(), std::vector<std::string>{});

  const int height = Window->height();
  Window->bUPClick();
  EXPECT_LT(Window->height(), height);
  EXPECT_FALSE(Window->gbDestFormat->isVisible());
  EXPECT_TRUE(Window->gbProgress->isVisible());
  EXPECT_LE(Window->bStart->geometry().bottom(), Window->height());
  Window->bDNClick();
  EXPECT_EQ(Window->height(), height);
  EXPECT_TRUE(Window->gbDestFormat->isVisible());
}

// During a run every job control is off (saying why), Start cancels, closing asks
// and "no" lets the run go on, the title holds one percentage; after it all is as before.
TEST_F(MainWindow, ARunDisablesTheJobControlsAndRestoresThem) {
  Window->DropFiles({Source("a.wav", {.Seconds = 2}), Source("b.wav", {.Seconds = 2})}, false);
  ChooseOutput(Window->rbWAV);
  const std::vector<bool> before = EnabledStates();
  bool sampled = false, closeRefused = false;
  std::vector<bool> during;
  std::vector<std::string> unexplained;
  QString startCaption;
  std::set<std::string> progressLines;
  std::set<QString> titles;
  StartWatching([&] {
    if (!Window->Processing()) return;
    progressLines.insert(Line());
    titles.insert(Window->windowTitle() + " | " + QApplication::applicationDisplayName());
    if (sampled) return;
    sampled = true;
    during = EnabledStates();
    unexplained = Unexplained();
    startCaption = Window->bStart->text();
    closeRefused = !Window->close();
    EXPECT_TRUE(Window->bUP->isEnabled());
  }, 5);
  ASSERT_TRUE(sampled);
  EXPECT_EQ(during, std::vector<bool>(before.size(), false));
  EXPECT_EQ(unexplained, std::vector<std::string>{});
  EXPECT_EQ(startCaption.toStdString(), text_cancel);
  EXPECT_TRUE(closeRefused);
  EXPECT_FALSE(Window->bUP->isEnabled());
  EXPECT_EQ(Line(), FormatText(text_files_were_processed, 2));
  EXPECT_TRUE(std::any_of(titles.begin(), titles.end(), [](const QString &t) { return t.contains('%'); }));
  for (const QString &title : titles) EXPECT_LE(title.count('%'), 1) << title.toStdString();
  EXPECT_EQ(QApplication::applicationDisplayName(), QCoreApplication::applicationName());
  EXPECT_EQ(Window->pbCurrent->value(), 100);
  EXPECT_TRUE(progressLines.count(FormatText(text_processing, 1, 2)) || progressLines.count(FormatText(text_processing, 2, 2)));
  EXPECT_EQ(FFmpegDecode(Chosen + "/a.wav", "s16le"), MakeSamples({.Seconds = 2}));
  EXPECT_TRUE(Errors.empty());
}

// Every way to cancel starts no later job, gives the list back, and leaves no
// hidden file and no stopped job's file unless "KeepPartial" is stored; Start is
// refused until the run has wound down; closing asks and, told "yes", closes.
TEST_F(MainWindow, EveryWayToCancelStopsTheRunAndLeavesNoShortFile) {
  const std::vector<std::string> sources = {WriteSignal(Folder + "/in/a.flac", {.Seconds = 150}, {"-c:a", "flac"}),
                                            Folder + "/in/b.flac", Folder + "/in/c.flac"};
  fs::copy_file(sources[0], sources[1]);
  fs::copy_file(sources[0], sources[2]);
  enum TWay { kCancel, kCancelAndStartAgain, kEscape, kClose };
  const struct {
    TWay Way;
    QRadioButton *Tmain::*Format;
    std::string Ext;
    bool Keep;
  } rows[] = {{kCancel, &Tmain::rbWAV, "wav", false},   {kCancelAndStartAgain, &Tmain::rbFLAC, "flac", false},
              {kEscape, &Tmain::rbMP3, "mp3", false},   {kClose, &Tmain::rbAPE, "ape", false},
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
    bool acted = false, startEnabledWhileStopping = false;
    StartWatching([&] {
      std::error_code ec;
      const uintmax_t written = fs::file_size(PartialFileName(Chosen + "/a." + row.Ext), ec);
      if (acted || !Window->Processing() || ec || written < 32768 || Window->bStart->text().toStdString() != text_cancel)
        return;
      acted = true;
      if (row.Way == kEscape) PressKey(Window->rbMP3, Qt::Key_Escape);
      if (row.Way == kClose) Window->close();
      if (row.Way != kCancel && row.Way != kCancelAndStartAgain) return;
      Window->bStart->click();
      if (row.Way == kCancel) return;
      startEnabledWhileStopping = Window->bStart->isEnabled();
      Window->bStart->click();
      Window->bStartClick();
      PressKey(Window->cbLang, Qt::Key_Return);
    });
    QApplication::processEvents();
    ASSERT_TRUE(acted);
    EXPECT_FALSE(startEnabledWhileStopping);
    EXPECT_FALSE(Window->Processing());
    const int converted = Window->Engine().ConvertedCount;
    EXPECT_LT(converted, 3);
    EXPECT_EQ(Line(), FormatText(text_run_counts, converted, 3, 0, 3 - converted));
    EXPECT_EQ(EnabledStates(), before);
    EXPECT_EQ(Window->bStart->text().toStdString(), text_start);
    EXPECT_FALSE(Window->windowTitle().contains('%'));
    EXPECT_EQ(Window->isVisible(), row.Way != kClose);
    EXPECT_EQ(Questions, row.Way == kClose ? std::vector<std::string>{text_ask_cancel_run} : std::vector<std::string>{});
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
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
                            QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease})
    QCoreApplication::postEvent(Window->bStart, MouseEvent(Window->bStart, type));
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  EXPECT_FALSE(Window->Processing());
  EXPECT_EQ(Line(), FormatText(text_files_were_processed, 2));
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator(Folder + "/in")) names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"a.wav", "b.wav", "a.mp3", "b.mp3"}));
}

// Enter starts and Escape closes from any control; Enter or Space presses a focused
// button; Tab reaches every control a user sets; a press on the destination field picks a folder.
TEST_F(MainWindow, TheWindowsKeysAndTheDestinationField) {
  Chosen = Folder + "/out";
  int asked = 0;
  Window->ChooseFolder = [&](const QString &) { return ++asked, QString::fromStdString(Chosen); };
  PressMouse(Window->eDestinationFolder);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(Window->DestinationFolder(), Chosen + "/");
  Window->cbSameAsSource->click();  // the field is off: a press does nothing
  PressMouse(Window->eDestinationFolder);
  EXPECT_EQ(asked, 1);
  Window->cbSameAsSource->click();

  Window->DropFiles({Source("a.wav", {.Seconds = 0.2})}, false);
  ChooseOutput(Window->rbWAV);
  for (const auto &[control, key] : std::vector<std::pair<QWidget *, int>>{{Window->cbLang, Qt::Key_Return},
                                                                           {Window->cbCreateFull, Qt::Key_Enter},
                                                                           {Window->bStart, Qt::Key_Return},
                                                                           {Window->rbWAV, Qt::Key_Return},
                                                                           {Window.get(), Qt::Key_Return}}) {
    fs::remove_all(Chosen);
    fs::create_directories(Chosen);
    Window->ShowSourceSummary(1);
    PressKey(control, key);
    EXPECT_EQ(Line(), FormatText(text_files_were_processed1, 1)) << control->objectName().toStdString();
    EXPECT_TRUE(fs::exists(Chosen + "/a.wav")) << control->objectName().toStdString();
  }
  PressKey(Window->bBrowseForFolder, Qt::Key_Return);
  PressKey(Window->bBrowseForFolder, Qt::Key_Space);
  EXPECT_EQ(asked, 4);
  std::set<std::string> tabStops;
  for (QWidget *w = Window->nextInFocusChain(); w != Window.get(); w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus) tabStops.insert(w->objectName().toStdString());
  for (const char *name : {"bBrowseForFolder", "cbEnablePreprocess", "bPreprocessOptions", "cbSameAsSource", "bStart"})
    EXPECT_TRUE(tabStops.count(name)) << name;
  PressKey(Window->rbWAV, Qt::Key_Escape);
  EXPECT_FALSE(Window->isVisible());
  Window->show();
  PressKey(Window->bClose, Qt::Key_Enter);
  EXPECT_FALSE(Window->isVisible());
}

// Sources from the file chooser (a click on the drop area, Ctrl+O) or the folder
// chooser (Ctrl+Shift+O) as from a drop; the real choosers open at the destination
// or where sources were last chosen. Open folder without a file manager says so.
TEST_F(MainWindow, SourcesAndDestinationFromTheChoosers) {
  const TTestSignal brief{.Seconds = 0.2};
  const std::string a = Source("a.wav", brief), b = Source("b.wav", brief), c = Source("sub/c.wav", brief);
  ChosenFiles = {QString::fromStdString(a)};
  PressMouse(Window->lInputFiles);
  EXPECT_EQ(Window->Sources().List().size(), 1u);
  for (const char *type : {"*.flac", "*.FLAC", "*.cue", "*.opus", "*.webm", "*.dsf"})
    EXPECT_TRUE(Filter.contains(type)) << type << " in " << Filter.toStdString();
  EXPECT_FALSE(Filter.contains("*.mkv")) << Filter.toStdString();
  ChosenFiles = {QString::fromStdString(b)};
  PressKey(Window->rbMP3, Qt::Key_O, Qt::ControlModifier);  // replaces, as a drop does
  ASSERT_EQ(Window->Sources().List().size(), 1u);
  EXPECT_EQ(Window->Sources().List().front().FileName, b);
  ChosenFiles = {QString::fromStdString(a)};
  PressMouse(Window->lInputFiles, Qt::ControlModifier);  // with Ctrl: added
  EXPECT_EQ(Window->Sources().List().size(), 2u);
  ChosenSourceFolder = fs::path(c).parent_path().string();
  PressKey(Window.get(), Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_EQ(Window->Sources().List().size(), 1u);
  EXPECT_EQ(Window->Sources().List().front().FileName, c);
  ChosenFiles = {};
  PressKey(Window.get(), Qt::Key_O, Qt::ControlModifier);  // the chooser closed: nothing changes
  EXPECT_EQ(Window->Sources().List().size(), 1u);

  fs::create_directories(Folder + "/dest");
  fs::create_directories(Folder + "/dest2");
  ASSERT_EQ(Store->WriteSettings({{"Destination", Folder + "/dest/"}}), "");
  Tmain window(TParsedCommandLine{}, *Store);  // the real choosers
  std::vector<std::string> messages;
  window.ShowMessage = [&](const QString &text) { messages.push_back(text.toStdString()); };
  window.show();
  QString start, pick;  // pick: what the user chooses; none: the chooser is closed
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *dialog = qobject_cast<QFileDialog *>(w); dialog && dialog->isVisible()) {
        start = dialog->directory().absolutePath();
        if (pick.isEmpty()) {
          dialog->reject();
        } else {
          dialog->selectFile(pick);
          QMetaObject::invokeMethod(dialog, "accept");
        }
      }
  });
  closer.start(10);
  const auto choose = [&](const std::function<void()> &open, const std::string &chosen = "") {
    start = QString();
    pick = QString::fromStdString(chosen);
    open();
    return start.toStdString();
  };
  const auto destination = [&] { PressMouse(window.eDestinationFolder); };
  const auto files = [&] { PressKey(&window, Qt::Key_O, Qt::ControlModifier); };
  const auto folder = [&] { PressKey(&window, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier); };
  EXPECT_EQ(choose(destination), Folder + "/dest");
  EXPECT_EQ(window.DestinationFolder(), Folder + "/dest/");
  EXPECT_EQ(choose(destination, Folder + "/dest2"), Folder + "/dest");
  EXPECT_EQ(window.DestinationFolder(), Folder + "/dest2/");
  EXPECT_EQ(choose(files, a), QDir::homePath().toStdString());
  ASSERT_EQ(window.Sources().List().size(), 1u);
  EXPECT_EQ(choose(destination, Folder + "/dest"), Folder + "/dest2");
  EXPECT_EQ(choose(files), Folder + "/in");
  EXPECT_EQ(choose(folder), Folder + "/in");
  closer.stop();

  const std::string path = getenv("PATH");
  fs::create_directories(Folder + "/nothing");
  setenv("PATH", (Folder + "/nothing").c_str(), 1);
  window.Engine().SetDestinationFolder(Folder + "/dest/");
  window.bOpenFolder->click();
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(messages, std::vector<std::string>{FormatText(text_no_file_manager, Folder + "/dest/")});
}

// Switches without "/output" set the window up: the format, its keys and "/p" reach a run,
// "/input" adds nothing; "/sendto" fills the list; a key that cannot be used is said.
TEST_F(MainWindow, CommandLinesWithoutAnOutputFolderSetUpTheWindow) {
  const std::string a = Source("a.wav", {.Seconds = 2}), b = Source("b.wav", {.Seconds = 2});
  const std::string c = Source("c.wav", {.Seconds = 2});
  Source("sub/d.wav", {.Seconds = 0.2});
  EXPECT_EQ(Open(ParseCommandLine({"/sendto", a, Folder + "/in/sub"}))->lInputFiles->text(), "2(wav)");
  ASSERT_EQ(Store->WriteSettings({{"DestinationFormat", std::string("FLAC")}, {"ProgParallelFiles", int32_t(1)},
                                  {"ProgSimpleParallelFiles", true}}),
            "");
  Window = Open(ParseCommandLine({"/input", a, "/dest", "mp3", "/bitrate", "128", "/p", "3"}));
  EXPECT_TRUE(Window->rbMP3->isChecked() && Window->bMP3Options->isEnabled());
  EXPECT_FALSE(Window->bFLACOptions->isEnabled() || Window->ReportErrors);
  EXPECT_TRUE(Window->Sources().List().empty());
  EXPECT_TRUE(Messages.empty());
  Window->DropFiles({a, b, c}, false);
  ChooseOutput(Window->rbMP3);
  Window->bStart->click();
  EXPECT_EQ(Window->LastProgress().SlotCount, 3);
  EXPECT_EQ(ProbeStream(Chosen + "/a.mp3", "codec_name,bit_rate"), "mp3,128000\n");

  Window = Open(ParseCommandLine({"/input", a, "/dest", "flac", "/compression", "11"}));
  EXPECT_TRUE(Window->rbFLAC->isChecked());
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("level from 0 to 8"), std::string::npos) << Messages[0];
}

// Start without a folder or (first) without a known format says so and writes nothing;
// the stored unknown format survives closing the window.
TEST_F(MainWindow, StartSaysWhatIsMissingAndStartsNothing) {
  Window->DropFiles({Source("a.wav", {.Seconds = 0.2})}, false);
  const std::vector<bool> before = EnabledStates();
  Window->bStart->click();
  EXPECT_EQ(Messages, std::vector<std::string>{text_choose_folder});
  EXPECT_FALSE(Window->Processing());
  EXPECT_EQ(EnabledStates(), before);

  Messages.clear();
  ASSERT_EQ(Store->WriteSettings({{"DestinationFormat", std::string("OPUS")}}), "");
  Window = Open();
  for (QRadioButton *radio : Window->findChildren<QRadioButton *>()) EXPECT_FALSE(radio->isChecked());
  Window->DropFiles({Source("a.wav", {.Seconds = 0.2})}, false);
  Window->bStart->click();
  EXPECT_EQ(Messages, std::vector<std::string>{text_choose_format});
  Chosen = Folder + "/out";
  fs::create_directories(Chosen);
  Window->bBrowseForFolderClick();
  Window->bStart->click();
  EXPECT_EQ(Messages, std::vector<std::string>(2, text_choose_format));
  EXPECT_FALSE(Window->Processing());
  EXPECT_TRUE(fs::is_empty(Chosen));
  EXPECT_TRUE(Window->close());
  EXPECT_EQ(Store->ReadString("DestinationFormat", ""), "OPUS");
  EXPECT_EQ(Store->ReadString("Destination", ""), Chosen + "/");
}

// Six files and a sheet of three tracks are nine outputs, counted before, during (only
// growing) and after the run, which says where they went. A run in which every output
// exists starts from an empty bar and says what it left alone; a new list hides Open folder.
TEST_F(MainWindow, TrueCountsAndWhereTheOutputsAre) {
  ASSERT_EQ(Store->WriteSettings({{"ProgParallelFiles", int32_t(2)}, {"ProgSimpleParallelFiles", true}, {"SkipExisting", true}}), "");
  Window = Open();
  std::vector<std::string> sources;
  for (int i = 0; i < 6; ++i) sources.push_back(Source("f" + std::to_string(i) + ".wav", {.Seconds = 1}));
  Source("album.wav", {.Seconds = 3});
  sources.push_back(WriteText(Folder + "/in/album.cue",
                              "FILE \"album.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
                              "    INDEX 01 00:01:00\n  TRACK 03 AUDIO\n    INDEX 01 00:02:00\n"));
  Window->DropFiles(sources, false);
  EXPECT_EQ(Line(), FormatText(text_tracks_of_files_will_be_processed, 9, 7));
  ChooseOutput(Window->rbMP3);
  std::vector<int> started;
  StartWatching([&] {
    for (int n = 1; n <= 9 && Window->Processing(); ++n)
      if (Line() == FormatText(text_processing_track, n, 9) && (started.empty() || started.back() != n)) started.push_back(n);
  });
  EXPECT_TRUE(std::is_sorted(started.begin(), started.end())) << ::testing::PrintToString(started);
  EXPECT_GE(started.size() ? started.back() : 0, 8);
  EXPECT_EQ(Line(), FormatText(text_tracks_of_files_were_processed, 9, 7));
  EXPECT_EQ(std::distance(fs::directory_iterator(Chosen), fs::directory_iterator()), 9);
  const std::string where = Window->Engine().GetDestinationFolder();
  EXPECT_EQ(Window->lCurrentFile->text().toStdString().rfind(FormatText(text_outputs_in, std::string("/")), 0), 0u);
  EXPECT_EQ(Window->lCurrentFile->toolTip().toStdString(), where);
  ASSERT_TRUE(Window->bOpenFolder->isVisible());
  Window->bOpenFolder->click();
  EXPECT_EQ(Opened, std::vector<std::string>{where});
  bool shownDuringRun = false;
  StartWatching([&] { shownDuringRun = shownDuringRun || (Window->Processing() && Window->bOpenFolder->isVisible()); });
  EXPECT_FALSE(shownDuringRun);
  EXPECT_EQ(Line(), FormatText(text_run_skipped, 0, 9, 9));
  EXPECT_EQ(Window->pbCurrent->value(), 0);
  EXPECT_EQ(Window->lTimeElapsed->text().toStdString(),
            fmt::sprintf("%s : 00:00:00 / %s : --:--:--", text_time_elapsed, text_time_remaining));
  Window->DropFiles({sources[0]}, false);
  EXPECT_FALSE(Window->bOpenFolder->isVisible());
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

// Full paths start at the home folder; the run's end and Open folder name the outputs' common folder.
TEST_F(MainWindow, FullPathsStartAtTheHomeFolder) {
  const std::string home = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", (Folder + "/home/").c_str(), 1);
  fs::create_directories(Folder + "/home/Music/Album");
  Window->DropFiles({WriteSignal(Folder + "/home/Music/Album/song.wav", {.Seconds = 0.3})}, false);
  ChooseOutput(Window->rbFLAC);
  Window->cbCreateFull->click();
  Window->bStart->click();
  EXPECT_EQ(FFmpegDecode(Chosen + "/Music/Album/song.flac", "s16le"), MakeSamples({.Seconds = 0.3}));
  EXPECT_EQ(Window->lCurrentFile->toolTip().toStdString(), Chosen + "/Music/Album/");
  Window->bOpenFolder->click();
  EXPECT_EQ(Opened, std::vector<std::string>{Chosen + "/Music/Album/"});
  Window->DropFiles({Folder + "/home/Music/Album/song.wav", Source("other.wav", {.Seconds = 0.3})}, false);
  Window->bStart->click();
  setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(Window->lCurrentFile->toolTip().toStdString(), Chosen + "/") << "the outputs' common folder";
}

// A destination that cannot be written is one message before anything starts; a missing one is made.
TEST_F(MainWindow, TheDestinationIsCheckedBeforeTheRun) {
  WriteText(Folder + "/blocked", "a file where a folder should be");
  Window->DropFiles({Source("a.wav", {.Seconds = 0.3}), Source("b.wav", {.Seconds = 0.3})}, false);
  Window->rbWAV->click();
  Window->cbCreateFull->setChecked(false);
  Chosen = Folder + "/blocked/out";  // the reasons' wording is the batch run's (its own test)
  Window->bBrowseForFolderClick();
  Window->bStart->click();
  EXPECT_EQ(Messages, std::vector<std::string>{FormatText(text_cannot_write_destination, Chosen + "/", "not a directory.")});
  EXPECT_EQ(Line(), FormatText(text_files_will_be_processed, 2)) << "nothing started";
  EXPECT_TRUE(Window->bStart->isEnabled());
  Messages.clear();
  Chosen = Folder + "/new/out";
  Window->bBrowseForFolderClick();
  Window->bStart->click();
  EXPECT_EQ(Messages, std::vector<std::string>{});
  EXPECT_EQ(FFmpegDecode(Chosen + "/a.wav", "s16le"), MakeSamples({.Seconds = 0.3}));
  EXPECT_TRUE(Errors.empty());
}

// A source that stops early is named in the end-of-run message. A failed run says
// first, in the window's language, which file and why, the technical lines after a heading.
TEST_F(MainWindow, EarlyEndsAndFailuresAreSaidInTheWindowsLanguage) {
  const std::string whole = Source("whole.wav", {.Seconds = 1});
  const std::string cut = CutInHalf(WriteSignal(Folder + "/in/cut.flac", {.Seconds = 3}, {"-c:a", "flac"}));
  Window->DropFiles({cut, whole}, false);
  ChooseOutput(Window->rbWAV);
  Window->bStart->click();
  EXPECT_TRUE(Errors.empty());
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].rfind(FormatText(text_files_were_processed, 2), 0), 0u) << Messages[0];
  // The warning's wording, and what converts, are the batch run's (its own test).
  EXPECT_NE(Messages[0].find(cut + ": "), std::string::npos) << Messages[0];

  // The wording of each failure is the batch run's (its own test); here the window's report of one.
  SelectLanguage("RU");
  const std::string bad = WriteText(Folder + "/in/bad.flac", "not audio");
  Window->DropFiles({bad}, false);
  ChooseOutput(Window->rbWAV);
  Window->bStart->click();
  EXPECT_EQ(Line(), FormatText(text_run_counts, 0, 1, 1, 0));
  ASSERT_EQ(Errors.size(), 1u);
  const std::string line = "Не удалось прочитать «" + bad + "»: это не аудиофайл, который программа может прочитать.";
  const std::string heading = "\r\n\r\nПодробности:\r\n";
  EXPECT_EQ(Errors[0].rfind(line + heading, 0), 0u) << Errors[0];
  EXPECT_GT(Errors[0].size(), line.size() + heading.size() + 10) << "the technical lines follow";
  for (const char *never : {"LastCall = ,", "ErrorCode = 0", "coder_engine_error", "Ошибка кодировщика"})
    EXPECT_EQ(Errors[0].find(never), std::string::npos) << never << " in " << Errors[0];
  TfrmError dialog(Errors[0]);
  dialog.show();
  dialog.bCopy->click();
  const std::string copied = QApplication::clipboard()->text().toStdString();
  EXPECT_NE(copied.find(line + heading), std::string::npos) << copied;
  SelectLanguage("EN");
}

// Language, format, folder and full paths are kept on close; Qt's own dialogs speak the window's language.
TEST_F(MainWindow, SettingsAreSavedOnCloseAndReadBack) {
  Chosen = Folder + "/dest";
  Window->bBrowseForFolderClick();
  Window->rbFLAC->click();
  Window->cbCreateFull->setChecked(false);
  SelectLanguage("FR");
  EXPECT_TRUE(Window->close());
  ResetTextsToEnglish();
  auto again = Open();
  EXPECT_TRUE(again->rbFLAC->isChecked());
  EXPECT_FALSE(again->cbCreateFull->isChecked());
  EXPECT_EQ(again->eDestinationFolder->toolTip().toStdString(), Chosen + "/");
  EXPECT_EQ(again->bStart->text(), "Démarrer");
  const auto yes = [] {
    QMessageBox box(QMessageBox::Question, "TONMILL", "?", QMessageBox::Yes | QMessageBox::No);
    return box.button(QMessageBox::Yes)->text();
  };
  Window = std::move(again);
  EXPECT_EQ(yes(), "&Oui");
  SelectLanguage("RU");
  EXPECT_EQ(yes(), "&Да");
  Window.reset();
  EXPECT_EQ(yes(), "&Yes");
}

// A damaged settings file, a failed save and a language file lacking a text are messages.
TEST_F(MainWindow, SettingsFileTroubleIsAMessageNeverTheEnd) {
  const std::string conf = Folder + "/config/tonmill/tonmill.conf";
  Window.reset();
  fs::create_directories(Folder + "/config/tonmill");
  std::ofstream(conf) << "[General\nDestinationFormat=FLAC\n";
  Store = std::make_unique<TSettingsStore>();
  Window = Open();
  QCoreApplication::processEvents();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("\"" + conf + ".bad\""), std::string::npos) << Messages[0];
  EXPECT_TRUE(Window->rbMP3->isChecked());
  fs::remove_all(Folder + "/config/tonmill");
  std::ofstream(Folder + "/config/tonmill") << "x";
  Chosen = Folder + "/dest";
  Window->bBrowseForFolderClick();
  ASSERT_EQ(Messages.size(), 2u);
  EXPECT_NE(Messages[1].find("\"" + conf + "\""), std::string::npos) << Messages[1];

  // A language file lacking a text: the previous one serves, and the window says which.
  Messages.clear();
  fs::create_directories(Folder + "/lang");
  std::string russian = ReadText(TONMILL_SOURCE_DIR "/lang/russian.lng");
  russian.replace(russian.find("text_about="), 11, "text_gone=");
  WriteText(Folder + "/lang/russian.lng", russian);
  fs::copy_file(TONMILL_SOURCE_DIR "/lang/english.lng", Folder + "/lang/english.lng");
  setenv("TONMILL_LANG_DIR", (Folder + "/lang").c_str(), 1);
  SelectLanguage("RU");
  EXPECT_EQ(Messages, std::vector<std::string>{"TEXT_ABOUT text_about"});
  EXPECT_EQ(Window->bAbout->text(), "About");
  SelectLanguage("EN");
  unsetenv("TONMILL_LANG_DIR");
}

// Long names keep their ends: the destination its start and last folder, the file its name.
TEST_F(MainWindow, LongNamesKeepTheirEnds) {
  Chosen = Folder + "/" + std::string(120, 'd') + "/Albums";
  fs::create_directories(Chosen);
  Window->bBrowseForFolderClick();
  const QString folder = Window->eDestinationFolder->text();
  EXPECT_TRUE(folder.startsWith(QString::fromStdString(Folder.substr(0, 5)))) << folder.toStdString();
  EXPECT_TRUE(folder.endsWith("/Albums/") && folder.contains(QChar(0x2026))) << folder.toStdString();
  EXPECT_LE(Window->eDestinationFolder->fontMetrics().horizontalAdvance(folder),
            Window->eDestinationFolder->contentsRect().width());
  EXPECT_EQ(Window->eDestinationFolder->toolTip().toStdString(), Chosen + "/");
  TProgressRec p;
  p.SlotCount = 1;
  p.OutputFileName = "/home/user/Music/" + std::string(300, 'x') + "/Final Track.flac";
  Window->OnProgress(p);
  const QString shown = Window->lCurrentFile->text();
  EXPECT_TRUE(shown.startsWith("...") && shown.endsWith("Final Track.flac")) << shown.toStdString();
  EXPECT_LE(QFontMetrics(Window->lCurrentFile->font()).horizontalAdvance(shown), Window->lCurrentFile->width());
}

// Every window in every language: nothing cut off or off the screen. At 1.5 and 1.75
// times the font the main window would outgrow this 800x800 screen: then, only then, it scrolls.
TEST_F(MainWindow, EveryWindowFitsInEveryLanguage) {
  const std::string sheet = WriteText(Folder + "/album.cue", "PERFORMER \"Ансамбль Ансамбль\"\nFILE \"album.wav\" WAVE\n"
                                                             "  TRACK 01 AUDIO\n    TITLE \"Звёзды над городом\"\n"
                                                             "    INDEX 01 00:00:00\n");
  TSourceItem item{Folder + "/a very long name of a source file that goes on and on.flac", {}};
  TAudioInfoRec stream;
  std::tie(stream.Bitrate, stream.SampleRate, stream.BitsPerSample, stream.Channels, stream.Duration) =
      std::make_tuple(1411, 44100, 16, 2, 3599.99);
  item.Rec.AudioInfo.Streams.push_back(stream);
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

  const QFont font = QApplication::font();
  for (const double scale : {1.0, 1.25, 1.5, 1.75}) {
    QFont scaled = font;
    scaled.setPointSizeF(font.pointSizeF() * scale);
    QApplication::setFont(scaled);
    Window = Open();
    const QSize room = Window->screen()->availableGeometry().size();
    EXPECT_TRUE(Window->frameGeometry().width() <= room.width() && Window->frameGeometry().height() <= room.height());
    auto *scroller = Window->findChild<QScrollArea *>();
    EXPECT_EQ(scroller != nullptr, scale > 1.25) << scale;
    std::vector<QWidget *> controls = Window->JobControls();
    controls.insert(controls.end(), {Window->bStart, Window->bOptions, Window->bAbout, Window->bUP, Window->bDN});
    for (QWidget *control : controls) {
      if (scroller) scroller->ensureWidgetVisible(control);
      const QRect at(control->mapTo(Window.get(), QPoint(0, 0)), control->size());
      // Whole, or (wider than the window) its middle and as much as the window shows.
      EXPECT_TRUE(Window->rect().contains(at) ||
                  (Window->rect().contains(at.center()) && (Window->rect() & at).width() * 10 >= Window->width() * 9))
          << control->objectName().toStdString() << " at " << scale;
    }
    Window->DropFiles({Source("a.wav", {.Seconds = 0.2}), Source("b.wav", {.Seconds = 0.2})}, false);
    for (const char *code : {"EN", "RU", "LV", "CS", "FR", "ES", "HU"}) {
      SCOPED_TRACE(std::string(code) + " at " + std::to_string(scale));
      SelectLanguage(code);
      TProgressRec progress;
      std::tie(progress.JobNumber, progress.JobCount, progress.Percent, progress.SlotCount) = std::make_tuple(12, 24, 100, 2);
      progress.ElapsedTime = "10:01:12";
      progress.RemainingTime = "--:--:--";
      progress.OutputFileName = "100% | 100%";
      Window->OnProgress(progress);
      Window->bStart->setText(QString::fromStdString(text_cancel));
      EXPECT_EQ(ClippedTexts(Window.get()), std::vector<std::string>{});
      Window->ShowSourceSummary(2);
      Window->ShowProcessedCount(2000);
      EXPECT_EQ(ClippedTexts(Window.get()), std::vector<std::string>{});
      // The end of a failed run, with the button that opens the destination.
      Window->Engine().SetDestinationFolder(Folder);
      Window->ShowRunEnd(true);
      Window->lProgress1->setText(QString::fromStdString(FormatText(text_run_counts, 2000, 2000, 2000, 2000)));
      Window->lTimeElapsed->setText(QString::fromStdString(
          fmt::sprintf("%s : %s / %s : %s", text_time_elapsed, "10:01:12", text_time_remaining, "00:00:00")));
      EXPECT_TRUE(Window->bOpenFolder->isVisible());
      EXPECT_EQ(ClippedTexts(Window.get()), std::vector<std::string>{});
      if (scale > 1.25) continue;  // the dialogs are drawn at one size
      for (const auto &[name, make] : windows) {
        const std::unique_ptr<QWidget> window = make();
        window->show();
        QApplication::processEvents();
        EXPECT_EQ(ClippedTexts(window.get()), std::vector<std::string>{}) << name;
      }
    }
  }
  QApplication::setFont(font);
  SelectLanguage("EN");
}

// A language file that cannot be read at start ends the program with status 1, saying why.
TEST(ErrorReportAndAbout, AFatalErrorAtStartEndsTheProgram) {
  const std::string folder = TestFolder();
  fs::create_directories(folder + "/config/tonmill");
  fs::create_directories(folder + "/lang");
  WriteText(folder + "/config/tonmill/tonmill.conf", "[General]\nLanguage=FR\n");
  std::string err;
  const int status = RunTool({"env", "XDG_CONFIG_HOME=" + folder + "/config", "TONMILL_LANG_DIR=" + folder + "/lang",
                              "QT_QPA_PLATFORM=offscreen", "timeout", "-s", "KILL", "60", TONMILL_BINARY, "/dest", "wav"},
                             nullptr, &err);
  EXPECT_EQ(status, 1) << err;
  EXPECT_NE(err.find("Cannot open the language file \"" + folder + "/lang/french.lng\""), std::string::npos) << err;
}

// About states the memory the process occupies, the licence, one library line per encoded format.
TEST(ErrorReportAndAbout, AboutSaysTheMemoryAndTheLibraries) {
  ResetTextsToEnglish();
  FillCoderVersions();
  const std::string line = TfrmAbout::VersionLine();
  const double shown = std::stod(line.substr(line.find(" :  ") + 4));
  std::ifstream status("/proc/self/status");
  double residentKb = 0;
  for (std::string key; status >> key;)
    if (key == "VmRSS:") status >> residentKb;
  EXPECT_NEAR(shown, residentKb / 1024, residentKb / 1024 * 0.25 + 2) << line;
  EXPECT_TRUE(TfrmAbout().TntMemo1->toPlainText().contains("GNU General Public License"));
  const std::string info = TfrmAbout::VersionInfo();
  const auto encoded = std::count_if(FormatRows().begin(), FormatRows().end(), [](auto *row) { return row->Version; });
  EXPECT_EQ(std::count(info.begin(), info.end(), '\n'), encoded) << info;  // every format with a library
  for (const char *library : {"libmp3lame", "libvorbis", "libFLAC", "libwavpack", "MACDll", "FFmpeg AAC", "FFmpeg WMA"})
    EXPECT_NE(info.find(library), std::string::npos) << library << " in " << info;
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
