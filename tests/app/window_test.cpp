// SPDX-License-Identifier: GPL-3.0-or-later
// The real main window, driven on Qt's offscreen platform: drops, Start with
// and without a folder, a run and a cancel, the controls of each state, the
// texts of every language fitting their controls, the error report and About.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QDialog>
#include <QPlainTextEdit>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>

#include <fmt/printf.h>

#include "app/language_file.h"
#include "app/settings.h"
#include "app/windows/Unit1.h"
#include "app/windows/about.h"
#include "app/windows/error_report.h"
#include "app/windows/window_texts.h"
#include "base/texts.h"
#include "encoders/format.h"
#include "engine/partial_output.h"
#include "window_checks.h"
#include "platform/main_thread/qt_pump.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

const char *const kLanguageCodes[] = {"EN", "RU", "LV", "CS", "FR", "ES", "HU"};

void PressKey(QWidget *Target, int Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, Key, Key == Qt::Key_Enter ? Qt::KeypadModifier : Modifiers);
  QApplication::sendEvent(Target, &press);
  QKeyEvent release(QEvent::KeyRelease, Key, press.modifiers());
  QApplication::sendEvent(Target, &release);
}

// A left-button event of `Type` at the middle of `Target`.
QMouseEvent *MouseEvent(QWidget *Target, QEvent::Type Type, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
  const QPointF at = QRectF(Target->rect()).center();
  return new QMouseEvent(Type, at, Target->mapToGlobal(at), Qt::LeftButton,
                         Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Modifiers);
}

void PressMouse(QWidget *Target, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
    QApplication::sendEvent(Target, std::unique_ptr<QMouseEvent>(MouseEvent(Target, type, Modifiers)).get());
}

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = TestProfileFolder();
    Store = std::make_unique<TSettingsStore>();
    Window = Open();
  }

  std::unique_ptr<Tmain> Open(const TParsedCommandLine &line = TParsedCommandLine{}) {
    auto window = std::make_unique<Tmain>(line, *Store);
    window->ShowMessage = [this](const QString &text) { Messages.push_back(text.toStdString()); };
    window->ChooseFolder = [this](const QString &) { return QString::fromStdString(Chosen); };
    window->ShowError = [this](const std::string &report) { Errors.push_back(report); };
    window->Ask = [this](const QString &question) {
      Questions.push_back(question.toStdString());
      return Answer;
    };
    window->ChooseFiles = [this](const QString &filter) {
      Filter = filter;
      return ChosenFiles;
    };
    window->ChooseSourceFolder = [this] { return QString::fromStdString(ChosenSourceFolder); };
    window->show();
    return window;
  }

  std::string Source(const std::string &name, double seconds) {
    fs::create_directories(fs::path(Folder + "/in/" + name).parent_path());
    return WriteSignal(Folder + "/in/" + name, {.Seconds = seconds});
  }

  std::vector<bool> EnabledStates() const {
    std::vector<bool> states;
    for (QWidget *w : Window->JobControls()) states.push_back(w->isEnabled());
    return states;
  }

  // Outputs in `folder` (default Folder/out, made), in `format`, without full paths.
  void ChooseOutput(QRadioButton *format, const std::string &folder = "") {
    Chosen = folder.empty() ? Folder + "/out" : folder;
    fs::create_directories(Chosen);
    Window->bBrowseForFolderClick();
    format->click();
    Window->cbCreateFull->setChecked(false);
  }

  // Clicks Start; `tick` runs every `ms` milliseconds until the click returns.
  void StartWatching(const std::function<void()> &tick, int ms = 2) {
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, tick);
    timer.start(ms);
    Window->bStart->click();
    timer.stop();
  }

  // Three minutes of sources to MP3 in a folder of their own: long enough to cancel.
  void PrepareLongRun() {
    Window->DropFiles({Source("long1.wav", 60), Source("long2.wav", 60), Source("long3.wav", 60)}, false);
    ChooseOutput(Window->rbMP3);
  }

  void SelectLanguage(const std::string &code) {
    for (int i = 0; i < Window->cbLang->count(); ++i)
      if (Window->cbLang->itemText(i).startsWith(QString::fromStdString(code))) Window->cbLang->setCurrentIndex(i);
    Window->cbLangChange();
  }

  // The end-of-run line of a cancelled run of `outputs`: fewer converted, none failed, the rest stopped.
  std::string StoppedLine(int outputs) {
    const int converted = Window->Engine().ConvertedCount;
    EXPECT_LT(converted, outputs);
    return FormatText(text_run_counts, converted, outputs, 0, outputs - converted);
  }

  std::string Folder, Chosen, ChosenSourceFolder;
  QStringList ChosenFiles;
  QString Filter;
  bool Answer = false;
  std::unique_ptr<TSettingsStore> Store;
  std::unique_ptr<Tmain> Window;
  std::vector<std::string> Messages, Errors, Questions;
};

// A fresh start waits for sources; the reduced window shows only the
// progress; F11 writes the window's texts.
TEST_F(MainWindow, AFreshStartWaitsForSourcesFoldsAndDumpsItsTexts) {
  EXPECT_EQ(Window->windowTitle(), "TONMILL 1.95");
  EXPECT_EQ(Window->size(), QSize(542, 521));
  EXPECT_FALSE(Window->bStart->isEnabled());
  EXPECT_FALSE(Window->bInfo->isEnabled());
  EXPECT_EQ(Window->lInputFiles->text().toStdString(), text_drag_files);
  EXPECT_EQ(Window->lProgress1->text(), "...");
  EXPECT_TRUE(Window->rbMP3->isChecked());
  EXPECT_TRUE(Window->cbCreateFull->isChecked());
  EXPECT_EQ(Window->cbLang->currentText(), "EN - English");
  EXPECT_TRUE(Window->bMP3Options->isEnabled());
  EXPECT_FALSE(Window->bFLACOptions->isEnabled());  // its format is not chosen
  for (QRadioButton *format : {Window->rbMP3, Window->rbWMA, Window->rbOGG, Window->rbAPE, Window->rbFLAC,
                               Window->rbWavPack, Window->rbAAC, Window->rbWAV})
    EXPECT_TRUE(format->isEnabled()) << format->objectName().toStdString();
  EXPECT_FALSE(Window->bPreprocessOptions->isEnabled());
  EXPECT_EQ(Window->gbSourceFiles->title(), " Source Files ");

  const int height = Window->height();
  Window->bUPClick();
  EXPECT_TRUE(Window->Reduced());
  EXPECT_LT(Window->height(), height);
  EXPECT_FALSE(Window->gbDestFormat->isVisible());
  EXPECT_TRUE(Window->gbProgress->isVisible());
  EXPECT_LE(Window->bStart->geometry().bottom(), Window->height());
  Window->bDNClick();
  EXPECT_EQ(Window->height(), height);
  EXPECT_TRUE(Window->gbDestFormat->isVisible());

  const fs::path previous = fs::current_path();
  fs::create_directories(Folder + "/texts");
  fs::current_path(Folder);
  DumpFormTexts(Window.get());
  fs::current_path(previous);
  const std::string text = ReadText(Folder + "/texts/main.txt");
  EXPECT_NE(text.find("bStart.Caption = Start\r\n"), std::string::npos);
  EXPECT_NE(text.find("gbDestFormat.Caption =  Destination Format \r\n"), std::string::npos);
  EXPECT_NE(text.find("cbLang.Text = EN - English"), std::string::npos);
}

TEST_F(MainWindow, DropsReplaceOrAddAndSayHowMany) {
  const std::string a = Source("a.wav", 0.2), b = Source("b.flac.wav", 0.2);
  std::ofstream(Folder + "/notes.txt") << "x";
  Window->DropFiles({Folder + "/notes.txt"}, false);
  EXPECT_TRUE(Window->Sources().List().empty());  // nothing usable: nothing changes
  Window->DropFiles({a}, false);
  EXPECT_EQ(Window->lProgress1->text().toStdString(), FormatText(text_files_will_be_processed1, 1));
  EXPECT_TRUE(Window->bStart->isEnabled());
  EXPECT_TRUE(Window->bInfo->isEnabled());
  Window->DropFiles({Folder + "/notes.txt"}, false);
  EXPECT_EQ(Window->Sources().List().size(), 1u);
  Window->DropFiles({b, a}, true);  // Ctrl: added, the duplicate refused
  EXPECT_EQ(Window->Sources().List().size(), 2u);
  EXPECT_EQ(Window->lProgress1->text().toStdString(), FormatText(text_files_will_be_processed, 2));
  EXPECT_EQ(Window->lInputFiles->text(), "2(wav)");
  Window->DropFiles({b}, false);  // no Ctrl: the list is replaced
  EXPECT_EQ(Window->Sources().List().size(), 1u);
  // A sheet whose audio is missing is said once, and changes nothing.
  const std::string sheet = WriteText(Folder + "/in/gone.cue", "FILE \"gone.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  Window->DropFiles({sheet}, false);
  EXPECT_EQ(Messages, std::vector<std::string>{text_sheets_without_audio + "\n" + sheet});
  EXPECT_EQ(Window->Sources().List().size(), 1u);
  Window->DropFiles({a}, true);
  EXPECT_EQ(Messages.size(), 1u);
}

TEST_F(MainWindow, ARunDisablesTheJobControlsAndRestoresThem) {
  Window->DropFiles({Source("a.wav", 2), Source("b.wav", 2)}, false);
  ChooseOutput(Window->rbWAV);
  const std::vector<bool> before = EnabledStates();

  bool sampled = false, closeRefused = false;
  std::vector<bool> during;
  QString startCaption;
  std::set<std::string> progressLines;
  std::set<QString> titles;
  StartWatching([&] {
    if (Window->Processing()) progressLines.insert(Window->lProgress1->text().toStdString());
    if (Window->Processing()) titles.insert(Window->windowTitle() + " | " + QApplication::applicationDisplayName());
    if (!Window->Processing() || sampled) return;
    sampled = true;
    during = EnabledStates();
    startCaption = Window->bStart->text();
    closeRefused = !Window->close();
    EXPECT_TRUE(Window->bUP->isEnabled());
  }, 5);

  ASSERT_TRUE(sampled);
  EXPECT_EQ(during, std::vector<bool>(before.size(), false));
  EXPECT_EQ(startCaption.toStdString(), text_cancel);
  EXPECT_TRUE(closeRefused);
  EXPECT_EQ(Questions, std::vector<std::string>{text_ask_cancel_run});  // said why; "no" lets it run on
  EXPECT_EQ(EnabledStates(), before);
  EXPECT_FALSE(Window->bUP->isEnabled());
  EXPECT_EQ(Window->lProgress1->text().toStdString(), FormatText(text_files_were_processed, 2));
  // One percentage in the title while running, none after; dialogs keep their own titles.
  EXPECT_TRUE(std::any_of(titles.begin(), titles.end(), [](const QString &t) { return t.contains('%'); }));
  for (const QString &title : titles) EXPECT_LE(title.count('%'), 1) << title.toStdString();
  EXPECT_EQ(Window->windowTitle(), "TONMILL 1.95");
  EXPECT_EQ(QApplication::applicationDisplayName(), QCoreApplication::applicationName());
  EXPECT_EQ(Window->pbCurrent->value(), 100);
  EXPECT_TRUE(progressLines.count(FormatText(text_processing, 1, 2)) || progressLines.count(FormatText(text_processing, 2, 2)))
      << "no progress line was shown";
  EXPECT_TRUE(fs::exists(Chosen + "/a.wav"));
  EXPECT_TRUE(Errors.empty());
}

// A cancelled run leaves nothing under an output's name that is shorter than
// its source (ffmpeg decodes each), and no hidden file; with "KeepPartial"
// stored, the stopped jobs' shorter files stay under their names.
TEST_F(MainWindow, CancelLeavesNoShortFileUnlessAskedTo) {
  const TTestSignal signal{.Seconds = 300};
  fs::create_directories(Folder + "/in");
  const std::string a = WriteSignal(Folder + "/in/a.flac", signal, {"-c:a", "flac"});
  const std::string b = Folder + "/in/b.flac";
  fs::copy_file(a, b);
  Chosen = Folder + "/out";
  fs::create_directories(Chosen);
  for (const bool keep : {false, true}) {
    ASSERT_EQ(Store->WriteSettings({{"KeepPartial", keep}}), "");
    Window = Open();
    Window->DropFiles({a, b}, false);
    Window->bBrowseForFolderClick();
    Window->cbCreateFull->setChecked(false);
    const std::pair<QRadioButton *, std::string> formats[] = {
        {Window->rbWAV, "wav"}, {Window->rbFLAC, "flac"}, {Window->rbMP3, "mp3"}, {Window->rbAPE, "ape"}};
    for (const auto &[radio, ext] : formats) {
      SCOPED_TRACE(ext + (keep ? ", shorter files kept" : ""));
      fs::remove_all(Chosen);
      fs::create_directories(Chosen);
      radio->click();
      // Cancel once the first output is under way (the last run's progress still shows).
      StartWatching([&] {
        std::error_code ec;
        const uintmax_t written = fs::file_size(PartialFileName(Chosen + "/a." + ext), ec);
        if (Window->Processing() && !ec && written > 32768 && Window->bStart->text().toStdString() == text_cancel)
          Window->bStart->click();
      });
      ASSERT_FALSE(Window->Processing());
      std::vector<std::string> shorter;
      for (const auto &entry : fs::directory_iterator(Chosen)) {
        const std::string name = entry.path().filename().string();
        ASSERT_FALSE(IsPartialFileName(name)) << name;
        try {
          if (int64_t(FFmpegDecode(entry.path().string(), "s16le").size() / 4) < FrameCount(signal))
            shorter.push_back(name);
        } catch (const std::exception &e) {
          ADD_FAILURE() << e.what();
        }
      }
      if (keep) {
        EXPECT_TRUE(std::count(shorter.begin(), shorter.end(), "a." + ext)) << "the first job's shorter file";
      } else {
        EXPECT_EQ(shorter, std::vector<std::string>());
      }
    }
  }
}

// The two clicks of a double click arrive while the first one's run is going
// on; together they start one run, which is neither cancelled nor repeated.
TEST_F(MainWindow, ADoubleClickOnStartStartsOneRun) {
  Window->DropFiles({Source("a.wav", 2), Source("b.wav", 2)}, false);
  Window->cbSameAsSource->click();  // a second run would write a_001.mp3 beside a.mp3
  Window->rbMP3->click();
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
                            QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease})
    QCoreApplication::postEvent(Window->bStart, MouseEvent(Window->bStart, type));
  for (int i = 0; i < 3; ++i) QApplication::processEvents();

  EXPECT_FALSE(Window->Processing());
  EXPECT_EQ(Window->lProgress1->text().toStdString(), FormatText(text_files_were_processed, 2));
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator(Folder + "/in")) names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"a.wav", "b.wav", "a.mp3", "b.mp3"}));
}

// Enter starts and Escape closes, whichever control has the keyboard; a press
// on the destination field opens the folder picker.
TEST_F(MainWindow, TheWindowsKeysAndTheDestinationField) {
  Chosen = Folder + "/out";
  int asked = 0;
  Window->ChooseFolder = [&](const QString &) {
    ++asked;
    return QString::fromStdString(Chosen);
  };
  PressMouse(Window->eDestinationFolder);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(Window->DestinationFolder(), Chosen + "/");
  Window->cbSameAsSource->click();  // the field is off: a press does nothing
  PressMouse(Window->eDestinationFolder);
  EXPECT_EQ(asked, 1);
  Window->cbSameAsSource->click();

  Window->DropFiles({Source("a.wav", 0.2)}, false);
  ChooseOutput(Window->rbWAV);
  EXPECT_EQ(asked, 2);
  const std::pair<QWidget *, int> presses[] = {{Window->cbLang, Qt::Key_Return},
                                               {Window->cbCreateFull, Qt::Key_Enter},
                                               {Window->bStart, Qt::Key_Return},
                                               {Window->rbWAV, Qt::Key_Return},
                                               {Window.get(), Qt::Key_Return}};
  for (const auto &[control, key] : presses) {
    fs::remove_all(Chosen);
    fs::create_directories(Chosen);
    Window->ShowSourceSummary(1);
    PressKey(control, key);
    EXPECT_EQ(Window->lProgress1->text().toStdString(), FormatText(text_files_were_processed1, 1))
        << control->objectName().toStdString();
    EXPECT_TRUE(fs::exists(Chosen + "/a.wav")) << control->objectName().toStdString();
  }
  // Enter or Space on a focused button presses that button, not Start.
  PressKey(Window->bBrowseForFolder, Qt::Key_Return);
  PressKey(Window->bBrowseForFolder, Qt::Key_Space);
  EXPECT_EQ(asked, 4);
  // Tab reaches every control a user sets.
  std::set<std::string> tabStops;
  for (QWidget *w = Window->nextInFocusChain(); w != Window.get(); w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus) tabStops.insert(w->objectName().toStdString());
  for (const char *name : {"bBrowseForFolder", "cbEnablePreprocess", "bPreprocessOptions", "cbSameAsSource", "bStart"})
    EXPECT_TRUE(tabStops.count(name)) << name;

  EXPECT_TRUE(Window->isVisible());
  PressKey(Window->rbWAV, Qt::Key_Escape);
  EXPECT_FALSE(Window->isVisible());
  Window->show();
  PressKey(Window->bClose, Qt::Key_Enter);
  EXPECT_FALSE(Window->isVisible());
}

// Every way to cancel a run stops it soon, starts no later job and gives the
// list back: Cancel; Cancel then Start again at once by every way there is
// (refused until the run has wound down); Escape; closing the window, which
// asks and, told "yes", closes once the run has stopped.
TEST_F(MainWindow, EveryWayToCancelStopsTheRunAndShowsTheListAgain) {
  PrepareLongRun();
  const std::vector<bool> before = EnabledStates();
  enum TWay { kCancel, kCancelAndStartAgain, kEscape, kClose };
  for (const TWay way : {kCancel, kCancelAndStartAgain, kEscape, kClose}) {
    SCOPED_TRACE(way);
    Questions.clear();
    Answer = true;
    Window->show();
    bool acted = false, startEnabledWhileStopping = false;
    StartWatching([&] {
      if (acted || !Window->Processing() || Window->LastProgress().Percent == 0 ||
          Window->bStart->text().toStdString() != text_cancel)
        return;
      acted = true;
      if (way == kEscape) PressKey(Window->rbMP3, Qt::Key_Escape);
      if (way == kClose) Window->close();
      if (way != kCancel && way != kCancelAndStartAgain) return;
      Window->bStart->click();
      if (way == kCancel) return;
      startEnabledWhileStopping = Window->bStart->isEnabled();
      Window->bStart->click();
      Window->bStartClick();
      QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
      QApplication::sendEvent(Window->cbLang, &enter);
    });
    QApplication::processEvents();
    ASSERT_TRUE(acted);
    EXPECT_FALSE(startEnabledWhileStopping);
    EXPECT_FALSE(Window->Processing());
    EXPECT_EQ(Window->lProgress1->text().toStdString(), StoppedLine(3));
    EXPECT_EQ(EnabledStates(), before);
    EXPECT_EQ(Window->bStart->text().toStdString(), text_start);
    EXPECT_EQ(Window->windowTitle(), "TONMILL 1.95");
    EXPECT_EQ(Window->isVisible(), way != kClose);
    EXPECT_EQ(Questions, way == kClose ? std::vector<std::string>{text_ask_cancel_run} : std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(Chosen + "/long3.mp3"));
  }
}

// Sources from a file chooser (a click on the drop area, Ctrl+O) or a folder
// chooser (Ctrl+Shift+O), kept by the rules of a drop; greyed controls say why.
TEST_F(MainWindow, SourcesCanBeChosenAndGreyedControlsSayWhy) {
  EXPECT_FALSE(Window->windowIcon().isNull());
  EXPECT_EQ(Window->bStart->toolTip().toStdString(), text_tip_add_sources);
  EXPECT_EQ(Window->bInfo->toolTip().toStdString(), text_tip_add_sources);
  EXPECT_EQ(Window->rbOGG->toolTip(), "");
  EXPECT_EQ(Window->bOGGOptions->toolTip().toStdString(), text_tip_choose_format);
  EXPECT_EQ(Window->bFLACOptions->toolTip().toStdString(), text_tip_choose_format);
  EXPECT_EQ(Window->bPreprocessOptions->toolTip().toStdString(), text_tip_enable_preprocess);
  EXPECT_EQ(Window->bUP->toolTip().toStdString(), text_tip_only_running);
  EXPECT_EQ(Window->bMP3Options->toolTip(), "");
  Window->cbSameAsSource->click();
  EXPECT_EQ(Window->bBrowseForFolder->toolTip().toStdString(), text_tip_same_as_source);
  Window->cbSameAsSource->click();
  EXPECT_EQ(Window->bBrowseForFolder->toolTip(), "");

  EXPECT_EQ(Window->lInputFiles->toolTip().toStdString(), text_tip_add_files);
  EXPECT_EQ(Window->lInputFiles->cursor().shape(), Qt::PointingHandCursor);
  const std::string a = Source("a.wav", 0.2), b = Source("b.wav", 0.2), c = Source("sub/c.wav", 0.2);
  ChosenFiles = {QString::fromStdString(a)};
  PressMouse(Window->lInputFiles);
  EXPECT_EQ(Window->Sources().List().size(), 1u);
  EXPECT_TRUE(Filter.contains("*.flac") && Filter.contains("*.FLAC") && Filter.contains("*.cue")) << Filter.toStdString();
  EXPECT_FALSE(Filter.contains("*.mkv")) << Filter.toStdString();
  EXPECT_TRUE(Filter.contains("*.opus") && Filter.contains("*.webm") && Filter.contains("*.dsf")) << Filter.toStdString();
  EXPECT_TRUE(Filter.startsWith(QString::fromStdString(text_audio_files))) << Filter.toStdString();
  EXPECT_EQ(Window->bStart->toolTip(), "");
  ChosenFiles = {QString::fromStdString(b)};
  PressKey(Window->rbMP3, Qt::Key_O, Qt::ControlModifier);  // replaces, as a drop does
  EXPECT_EQ(Window->Sources().List().size(), 1u);
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
}

// The window's own choosers, real dialogs: the folder picker is titled and
// opens at the destination; the source choosers open where sources were last
// chosen, never where the folder picker was. Closing one changes nothing.
// Open folder without any program to open folders says so.
TEST_F(MainWindow, TheChoosersOpenWhereTheyShould) {
  fs::create_directories(Folder + "/dest");
  fs::create_directories(Folder + "/dest2");
  const std::string a = Source("a.wav", 0.2);
  ASSERT_EQ(Store->WriteSettings({{"Destination", Folder + "/dest/"}}), "");
  Tmain window(TParsedCommandLine{}, *Store);
  std::vector<std::string> messages;
  window.ShowMessage = [&](const QString &text) { messages.push_back(text.toStdString()); };
  window.show();
  QString title, start, pick;  // pick: what the user chooses; none: the chooser is closed
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *dialog = qobject_cast<QFileDialog *>(w); dialog && dialog->isVisible()) {
        title = dialog->windowTitle();
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
    title = start = QString();
    pick = QString::fromStdString(chosen);
    open();
    return start.toStdString();
  };
  const auto destination = [&] { PressMouse(window.eDestinationFolder); };
  const auto files = [&] { PressKey(&window, Qt::Key_O, Qt::ControlModifier); };
  const auto folder = [&] { PressKey(&window, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier); };
  EXPECT_EQ(choose(destination), Folder + "/dest");
  EXPECT_EQ(title, "Choose destination");
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

// "/input a.wav /dest mp3" without "/output": the window opens with the
// format, its keys and "/p", reports off, and the file not added. "/sendto"
// fills the list with files and folders.
TEST_F(MainWindow, CommandLinesWithoutAnOutputFolderSetUpTheWindow) {
  const std::string a = Source("a.wav", 2), b = Source("b.wav", 2), c = Source("c.wav", 2);
  Source("sub/d.wav", 0.2);
  EXPECT_EQ(Open(ParseCommandLine({"/sendto", a, Folder + "/in/sub"}))->lInputFiles->text(), "2(wav)");
  ASSERT_EQ(Store->WriteSettings({{"DestinationFormat", std::string("FLAC")},
                                  {"ProgParallelFiles", int32_t(1)},
                                  {"ProgSimpleParallelFiles", true}}),
            "");
  Window = Open(ParseCommandLine({"/input", a, "/dest", "mp3", "/bitrate", "128", "/p", "3"}));
  EXPECT_TRUE(Window->rbMP3->isChecked());
  EXPECT_TRUE(Window->bMP3Options->isEnabled());
  EXPECT_FALSE(Window->bFLACOptions->isEnabled());
  EXPECT_FALSE(Window->ReportErrors);
  EXPECT_TRUE(Window->Sources().List().empty());
  EXPECT_EQ(Window->lInputFiles->text().toStdString(), text_drag_files);
  EXPECT_TRUE(Messages.empty());

  Window->DropFiles({a, b, c}, false);
  ChooseOutput(Window->rbMP3);
  Window->bStart->click();
  EXPECT_EQ(Window->LastProgress().SlotCount, 3);  // "/p 3"
  EXPECT_EQ(ProbeStream(Chosen + "/a.mp3", "codec_name,bit_rate"), "mp3,128000\n");  // "/bitrate 128"

  // A key that cannot be used is said; the format is chosen all the same.
  Messages.clear();
  Window = Open(ParseCommandLine({"/input", a, "/dest", "flac", "/compression", "11"}));
  EXPECT_TRUE(Window->rbFLAC->isChecked());
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("level from 0 to 8"), std::string::npos) << Messages[0];
  // "/DEBUG" shows the parameters the keys gave.
  Messages.clear();
  DebugMode = 1;
  Window = Open(ParseCommandLine({"/DEBUG", "/input", a, "/dest", "ape", "/compression", "high"}));
  DebugMode = 0;
  EXPECT_TRUE(Window->rbAPE->isChecked());
  EXPECT_EQ(Messages, std::vector<std::string>{"APE Parameters = Compression=high"});
}

// Start without a folder asks for one. A stored format this program does not
// know leaves every format button clear: Start says so (before the folder)
// instead of writing some format, and the stored name survives closing the
// window. Neither starts anything.
TEST_F(MainWindow, StartSaysWhatIsMissingAndStartsNothing) {
  Window->DropFiles({Source("a.wav", 0.2)}, false);
  const std::vector<bool> before = EnabledStates();
  Window->bStart->click();
  EXPECT_EQ(Messages, std::vector<std::string>{text_choose_folder});
  EXPECT_FALSE(Window->Processing());
  EXPECT_EQ(EnabledStates(), before);
  EXPECT_EQ(Window->bStart->text().toStdString(), text_start);

  Messages.clear();
  ASSERT_EQ(Store->WriteSettings({{"DestinationFormat", std::string("OPUS")}}), "");
  Window = Open();
  for (QRadioButton *radio : Window->findChildren<QRadioButton *>()) EXPECT_FALSE(radio->isChecked());
  Window->DropFiles({Source("a.wav", 0.2)}, false);
  const std::vector<bool> unset = EnabledStates();
  Window->bStart->click();  // no folder either: the format is asked for first
  EXPECT_EQ(Messages, std::vector<std::string>{text_choose_format});
  Chosen = Folder + "/out";
  fs::create_directories(Chosen);
  Window->bBrowseForFolderClick();
  Window->bStart->click();
  EXPECT_EQ(Messages, std::vector<std::string>(2, text_choose_format));
  EXPECT_FALSE(Window->Processing());
  EXPECT_EQ(EnabledStates(), unset);
  EXPECT_TRUE(fs::is_empty(Chosen));
  EXPECT_TRUE(Window->close());
  EXPECT_EQ(Messages.size(), 2u);
  EXPECT_EQ(Store->ReadString("DestinationFormat", ""), "OPUS");
  EXPECT_EQ(Store->ReadString("Destination", ""), Chosen + "/");
}

// About is opened (with exec, as its button does) at the run's first report and
// closed once the last job has reported: every later job must start and report
// under the dialog. A watchdog closes it when nothing has moved for a long
// while, so a stalled run fails instead of hanging.
TEST_F(MainWindow, ARunGoesOnUnderAModalDialog) {
  std::vector<std::string> sources;
  std::vector<TTestSignal> tones;
  fs::create_directories(Folder + "/in");
  for (uint32_t i = 1; i <= 6; ++i) {
    tones.push_back({.Seconds = 10, .Seed = i});
    sources.push_back(WriteSignal(Folder + "/in/s" + std::to_string(i) + ".wav", tones.back()));
  }
  Window->DropFiles(sources, false);
  ChooseOutput(Window->rbFLAC);
  auto outputBytes = [&] {
    uintmax_t total = 0;
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(Chosen, error)) total += entry.file_size(error);
    return total;
  };

  QDialog *about = nullptr;
  int jobAtOpen = 0, lastJobWhileOpen = 0, reportsWhileOpen = 0;
  uintmax_t bytesAtOpen = 0, bytesAtClose = 0;
  bool closed = false;
  std::tuple<int, int, int> seen;
  QTimer opener, watcher, watchdog;
  auto close = [&] {
    bytesAtClose = outputBytes();
    closed = true;
    about->accept();
    about = nullptr;
  };
  QObject::connect(&opener, &QTimer::timeout, [&] {
    const TProgressRec &p = Window->LastProgress();
    if (jobAtOpen || !Window->Processing() || p.Stage != stWholeSource || p.Percent <= 0) return;
    jobAtOpen = p.JobNumber;
    bytesAtOpen = outputBytes();
    seen = {p.JobNumber, p.SlotIndex, p.Percent};
    watchdog.start();
    Window->bAbout->click();  // returns when the dialog is closed
  });
  // A timer does not fire again while its own handler runs: another one
  // watches the run from inside the dialog's loop.
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (!about && jobAtOpen && !closed)
      if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
        if (dialog->objectName() == "frmAbout") about = dialog;
    if (!about) return;
    const TProgressRec &p = Window->LastProgress();
    const std::tuple<int, int, int> now{p.JobNumber, p.SlotIndex, p.Percent};
    if (now != seen) {
      seen = now;
      ++reportsWhileOpen;
      lastJobWhileOpen = std::max(lastJobWhileOpen, p.JobNumber);
      watchdog.start();
    }
    if (p.JobNumber == p.JobCount) close();
  });
  watchdog.setSingleShot(true);
  watchdog.setInterval(10000);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    if (about) close();
  });
  opener.start(2);
  watcher.start(2);
  Window->bStart->click();
  opener.stop();
  watcher.stop();

  ASSERT_GT(jobAtOpen, 0) << "the run ended before About could be opened";
  EXPECT_LE(jobAtOpen, 2);
  EXPECT_GT(reportsWhileOpen, 0);
  EXPECT_EQ(lastJobWhileOpen, 6) << "the jobs after the first ones waited for the dialog to close";
  EXPECT_GT(bytesAtClose, bytesAtOpen);
  EXPECT_FALSE(Window->Processing());
  EXPECT_TRUE(Errors.empty());
  for (size_t i = 0; i < tones.size(); ++i)
    EXPECT_EQ(FFmpegDecode(Chosen + "/s" + std::to_string(i + 1) + ".flac", "s16le"), MakeSamples(tones[i])) << i;
}

// Six files and a sheet of three tracks are nine outputs: before, during and
// after the run the window counts them, and says where they went.
TEST_F(MainWindow, TrueCountsAndWhereTheOutputsAre) {
  std::vector<std::string> sources;
  for (int i = 0; i < 6; ++i) sources.push_back(Source("f" + std::to_string(i) + ".wav", 0.3));
  const std::string album = Source("album.wav", 3);
  const std::string sheet =
      "FILE \"album.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n"
      "  TRACK 03 AUDIO\n    INDEX 01 00:02:00\n";
  sources.push_back(WriteText(Folder + "/in/album.cue", sheet));
  Window->DropFiles(sources, false);
  EXPECT_EQ(Window->lProgress1->text().toStdString(), FormatText(text_tracks_of_files_will_be_processed, 9, 7));
  ChooseOutput(Window->rbWAV);
  std::set<std::string> progressLines;
  StartWatching([&] {
    if (Window->Processing()) progressLines.insert(Window->lProgress1->text().toStdString());
  });
  for (const std::string &line : progressLines)
    EXPECT_EQ(line.find(FormatText(text_processing, 1, 9).substr(0, 15)), std::string::npos) << line;  // "Processing file"
  EXPECT_TRUE(progressLines.count(FormatText(text_processing_track, 9, 9)) ||
              progressLines.count(FormatText(text_processing_track, 8, 9)))
      << "no progress line counted the tracks";
  EXPECT_EQ(Window->lProgress1->text().toStdString(), FormatText(text_tracks_of_files_were_processed, 9, 7));
  EXPECT_EQ(std::distance(fs::directory_iterator(Chosen), fs::directory_iterator()), 9);
  const std::string where = Window->Engine().GetDestinationFolder();
  EXPECT_EQ(Window->lCurrentFile->text().toStdString().rfind(FormatText(text_outputs_in, std::string("/")), 0), 0u);
  EXPECT_EQ(Window->lCurrentFile->toolTip().toStdString(), where);
  std::vector<QUrl> opened;
  Window->OpenUrl = [&](const QUrl &url) {
    opened.push_back(url);
    return true;
  };
  ASSERT_TRUE(Window->bOpenFolder->isVisible());
  EXPECT_EQ(Window->bOpenFolder->text().toStdString(), text_open_folder);
  Window->bOpenFolder->click();
  EXPECT_EQ(opened, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(where))});
  // A new run, and a new list, hide the button again.
  bool shownDuringRun = false;
  StartWatching([&] {
    if (Window->Processing()) shownDuringRun = shownDuringRun || Window->bOpenFolder->isVisible();
  });
  EXPECT_FALSE(shownDuringRun);
  Window->DropFiles({sources[0]}, false);
  EXPECT_FALSE(Window->bOpenFolder->isVisible());
}

// Reports of two workers interleave, yet the count of files started only
// grows; a run in which every output exists starts from an empty bar and
// zero times and says what it left alone.
TEST_F(MainWindow, TheFileCountOnlyGrowsAndEveryRunStartsAfresh) {
  ASSERT_EQ(Store->WriteSettings({{"ProgParallelFiles", int32_t(2)}, {"ProgSimpleParallelFiles", true},
                                  {"SkipExisting", true}}),
            "");
  Window = Open();
  Window->DropFiles({Source("a.wav", 4), Source("b.wav", 4), Source("c.wav", 4)}, false);
  ChooseOutput(Window->rbMP3);
  std::vector<int> started;
  int finishedAhead = 0;
  StartWatching([&] {
    if (!Window->Processing() || Window->LastProgress().Stage != stWholeSource) return;
    int n = 0, of = 0;
    if (std::sscanf(Window->lProgress1->text().toStdString().c_str(), "Processing file %d of %d", &n, &of) != 2) return;
    EXPECT_EQ(of, 3);
    if (started.empty() || started.back() != n) started.push_back(n);
    if (n < Window->Engine().ConvertedCount) ++finishedAhead;
  });
  EXPECT_EQ(Window->LastProgress().SlotCount, 2);
  ASSERT_FALSE(started.empty());
  EXPECT_TRUE(std::is_sorted(started.begin(), started.end())) << ::testing::PrintToString(started);
  EXPECT_EQ(started.back(), 3);
  EXPECT_EQ(finishedAhead, 0);
  EXPECT_EQ(Window->lProgress1->text().toStdString(), FormatText(text_files_were_processed, 3));
  EXPECT_GT(Window->pbCurrent->value(), 50);

  // The second run straight after the first (a new language would clear the window itself).
  for (const char *code : {"EN", "RU"}) {
    if (std::string(code) != "EN") SelectLanguage(code);
    Window->bStart->click();
    EXPECT_EQ(Window->lProgress1->text().toStdString(), FormatText(text_run_skipped, 0, 3, 3)) << code;
    EXPECT_EQ(Window->pbCurrent->value(), 0) << code;
    EXPECT_EQ(Window->lTimeElapsed->text().toStdString(),
              fmt::sprintf("%s : 00:00:00 / %s : --:--:--", text_time_elapsed, text_time_remaining));
    EXPECT_EQ(ClippedTexts(Window.get()), std::vector<std::string>{}) << code;
  }
  SelectLanguage("EN");
}

// "Create full output path" rebuilds a source's folder from the home folder
// when the source is under it, else from the root; the end of the run and
// Open folder name the folder the outputs are in.
TEST_F(MainWindow, FullPathsStartAtTheHomeFolder) {
  struct THome {
    std::string Old = getenv("HOME") ? getenv("HOME") : "";
    ~THome() { setenv("HOME", Old.c_str(), 1); }
  } restore;
  setenv("HOME", (Folder + "/home/").c_str(), 1);
  const TTestSignal tone{.Seconds = 0.3};
  fs::create_directories(Folder + "/home/Music/Album");
  const std::string inHome = WriteSignal(Folder + "/home/Music/Album/song.wav", tone);
  const std::string outside = Source("other.wav", 0.3);
  std::vector<QUrl> opened;
  Window->OpenUrl = [&](const QUrl &url) {
    opened.push_back(url);
    return true;
  };
  ChooseOutput(Window->rbFLAC);
  Window->cbCreateFull->click();
  ASSERT_TRUE(Window->cbCreateFull->isChecked());
  const std::string out = Chosen + "/";
  const struct {
    std::vector<std::string> Sources;
    std::vector<std::string> Outputs;
    std::string Where;
  } rows[] = {
      {{inHome}, {out + "Music/Album/song.flac"}, out + "Music/Album/"},
      {{outside}, {out + Folder.substr(1) + "/in/other.flac"}, out + Folder.substr(1) + "/in/"},
      {{inHome, outside}, {}, out},  // the outputs' common folder
  };
  for (const auto &row : rows) {
    Window->DropFiles(row.Sources, false);
    Window->bStart->click();
    EXPECT_TRUE(Errors.empty());
    for (const std::string &output : row.Outputs) EXPECT_EQ(FFmpegDecode(output, "s16le"), MakeSamples(tone)) << output;
    EXPECT_EQ(Window->lCurrentFile->toolTip().toStdString(), row.Where);
    opened.clear();
    Window->bOpenFolder->click();
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(row.Where))});
  }
  EXPECT_FALSE(fs::exists(out + Folder.substr(1) + "/home")) << "no output lands under the home folder's own path";
}

// A destination that cannot be written is one message before anything
// starts; a missing one that can be made is made, and the run goes on.
TEST_F(MainWindow, TheDestinationIsCheckedBeforeTheRun) {
  TScratchDisk disk(Folder + "/disk", "1m");
  WriteText(Folder + "/blocked", "a file where a folder should be");
  const TTestSignal tone{.Seconds = 0.3};
  Window->DropFiles({WriteSignal(Folder + "/a.wav", tone), WriteSignal(Folder + "/b.wav", tone)}, false);
  Window->rbWAV->click();
  Window->cbCreateFull->click();
  ASSERT_FALSE(Window->cbCreateFull->isChecked());
  const struct {
    std::string Name, Folder, Why;  // Why "": the run goes on
    bool ReadOnly;
  } rows[] = {
      {"read-only disk", disk.Folder + "/out", text_why_read_only, true},
      {"under a file", Folder + "/blocked/out", "not a directory.", false},
      {"missing", Folder + "/new/out", "", false},
  };
  for (const auto &row : rows) {
    if (row.ReadOnly && !disk.Mounted) continue;  // a read-only tmpfs needs root
    SCOPED_TRACE(row.Name);
    if (row.ReadOnly) disk.SetReadOnly(true);
    Messages.clear();
    Chosen = row.Folder;
    Window->bBrowseForFolderClick();
    const std::string before = Window->lProgress1->text().toStdString();
    Window->bStart->click();
    if (row.ReadOnly) disk.SetReadOnly(false);
    EXPECT_TRUE(Errors.empty());
    if (row.Why.empty()) {
      EXPECT_TRUE(Messages.empty());
      EXPECT_EQ(FFmpegDecode(row.Folder + "/a.wav", "s16le"), MakeSamples(tone));
      continue;
    }
    EXPECT_EQ(Messages, std::vector<std::string>{FormatText(text_cannot_write_destination, row.Folder + "/", row.Why)});
    EXPECT_EQ(Window->lProgress1->text().toStdString(), before) << "nothing started";
    EXPECT_TRUE(Window->bStart->isEnabled());
    EXPECT_FALSE(fs::exists(row.Folder));
  }
}

TEST_F(MainWindow, ASourceThatStopsEarlyConvertsAndIsNamedAtTheEnd) {
  const std::string whole = Source("whole.wav", 1);
  const std::string cut = CutInHalf(WriteSignal(Folder + "/in/cut.flac", {.Seconds = 3}, {"-c:a", "flac"}));
  Window->DropFiles({cut, whole}, false);
  ChooseOutput(Window->rbWAV);
  Window->bStart->click();
  EXPECT_TRUE(Errors.empty());
  EXPECT_EQ(Window->lProgress1->text().toStdString(), FormatText(text_files_were_processed, 2));
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].rfind(FormatText(text_files_were_processed, 2), 0), 0u) << Messages[0];
  EXPECT_NE(Messages[0].find(cut + ": "), std::string::npos) << Messages[0];
  EXPECT_NE(Messages[0].find(" s of 3.00 s decoded"), std::string::npos) << Messages[0];
  EXPECT_EQ(Messages[0].find("whole.wav"), std::string::npos) << Messages[0];
  EXPECT_GT(FFmpegDecode(Chosen + "/cut.wav", "s16le").size(), size_t(44100 * 4));
}

TEST_F(MainWindow, SettingsAreSavedOnCloseAndReadBack) {
  Chosen = Folder + "/dest";
  Window->bBrowseForFolderClick();
  Window->rbFLAC->click();
  Window->cbCreateFull->setChecked(false);
  SelectLanguage("FR");
  EXPECT_TRUE(Window->close());
  auto again = Open();
  EXPECT_TRUE(again->rbFLAC->isChecked());
  EXPECT_FALSE(again->cbCreateFull->isChecked());
  EXPECT_EQ(again->eDestinationFolder->toolTip().toStdString(), Chosen + "/");
  EXPECT_EQ(again->cbLang->currentText(), "FR - Français");
  EXPECT_EQ(again->bStart->text().toStdString(), text_start);
  EXPECT_EQ(text_start, "Démarrer");
  // Qt's own dialogs speak the window's language too.
  const auto yes = [] {
    QMessageBox box(QMessageBox::Question, "TONMILL", "?", QMessageBox::Yes | QMessageBox::No);
    return box.button(QMessageBox::Yes)->text();
  };
  Window = std::move(again);
  EXPECT_EQ(yes(), "&Oui");
  SelectLanguage("RU");
  EXPECT_EQ(yes(), "&Да");
  Window.reset();
  EXPECT_EQ(yes(), "&Yes") << "no translation outlives its window";
}

TEST_F(MainWindow, SettingsFileTroubleIsAMessageNeverTheEnd) {
  // A damaged file: set aside, said once, and the window runs on the defaults.
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
  Window = Open();
  QCoreApplication::processEvents();
  EXPECT_EQ(Messages.size(), 1u);

  // A save that fails (a file where the settings folder should be) is a
  // message; the window goes on, and the next save writes the values.
  fs::remove_all(Folder + "/config/tonmill");
  std::ofstream(Folder + "/config/tonmill") << "x";
  Chosen = Folder + "/dest";
  Window->bBrowseForFolderClick();
  ASSERT_EQ(Messages.size(), 2u);
  EXPECT_NE(Messages[1].find("\"" + conf + "\""), std::string::npos) << Messages[1];
  EXPECT_EQ(Window->eDestinationFolder->toolTip().toStdString(), Chosen + "/");
  fs::remove(Folder + "/config/tonmill");
  EXPECT_TRUE(Window->close());
  EXPECT_EQ(Messages.size(), 2u);
  Window.reset();
  Store = std::make_unique<TSettingsStore>();
  Window = Open();
  EXPECT_EQ(Window->eDestinationFolder->toolTip().toStdString(), Chosen + "/");
}

TEST_F(MainWindow, AMissingTextKeepsThePreviousOneAndIsReported) {
  const std::string lang = Folder + "/lang";
  fs::create_directories(lang);
  std::ifstream english(TONMILL_SOURCE_DIR "/lang/english.lng");
  std::ofstream russian(lang + "/russian.lng");
  for (std::string line; std::getline(english, line);)
    if (line.rfind("text_about=", 0) != 0) russian << (line.rfind("text_start=", 0) == 0 ? "text_start=Старт" : line) << "\n";
  russian.close();
  fs::copy_file(TONMILL_SOURCE_DIR "/lang/english.lng", lang + "/english.lng");
  setenv("TONMILL_LANG_DIR", lang.c_str(), 1);
  SelectLanguage("RU");
  EXPECT_EQ(Messages, std::vector<std::string>{"TEXT_ABOUT text_about"});
  EXPECT_EQ(Window->bStart->text(), "Старт");
  EXPECT_EQ(Window->bAbout->text(), "About");
}

// At the desktop's font and at 1.25 times it (QT_FONT_DPI=120). At 1.5 and
// 1.75 times it the window is wider, then also taller, than this 800x800
// screen: it fits the screen all the same and scrolls, every control in reach.
// The window scrolls only where it must.
TEST_F(MainWindow, EveryLanguageFitsEveryWindow) {
  const QFont font = QApplication::font();
  for (const double scale : {1.0, 1.25, 1.5, 1.75}) {
  QFont scaled = font;
  scaled.setPointSizeF(font.pointSizeF() * scale);
  QApplication::setFont(scaled);
  Window = Open();
  const QSize room = Window->screen()->availableGeometry().size();
  EXPECT_TRUE(Window->frameGeometry().width() <= room.width() && Window->frameGeometry().height() <= room.height())
      << scale;
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
  Window->DropFiles({Source("a.wav", 0.2), Source("b.wav", 0.2)}, false);
  for (const char *code : kLanguageCodes) {
    SelectLanguage(code);
    TProgressRec progress;
    progress.JobNumber = 12;
    progress.JobCount = 24;
    progress.Percent = 100;
    progress.SlotCount = 2;
    progress.ElapsedTime = "10:01:12";
    progress.RemainingTime = "--:--:--";
    progress.OutputFileName = "100% | 100%";
    Window->OnProgress(progress);
    Window->bStart->setText(QString::fromStdString(text_cancel));
    const auto fits = [&](const QWidget *window) {
      EXPECT_EQ(ClippedTexts(window), std::vector<std::string>{}) << code << " at " << QApplication::font().pointSizeF();
    };
    fits(Window.get());
    Window->ShowSourceSummary(2);
    Window->ShowProcessedCount(2000);
    fits(Window.get());
    // The end of a failed run, with the button that opens the destination.
    Window->Engine().SetDestinationFolder(Folder);
    Window->ShowRunEnd(true);
    Window->lProgress1->setText(QString::fromStdString(FormatText(text_run_counts, 2000, 2000, 2000, 2000)));
    Window->lTimeElapsed->setText(QString::fromStdString(
        fmt::sprintf("%s : %s / %s : %s", text_time_elapsed, "10:01:12", text_time_remaining, "00:00:00")));
    EXPECT_TRUE(Window->bOpenFolder->isVisible());
    fits(Window.get());
    if (scale > 1.25) continue;  // these two are drawn at one size
    fits(TfrmError(ErrorReportText("coder_engine_error", "x", "/music/in.flac", "/music/out.mp3")).window());
    fits(TfrmAbout().window());
  }
  }
  QApplication::setFont(font);
}

// A failed run says first, in the window's language, which file could not be
// read or written and why; the technical lines follow under a heading, and
// the copy holds both.
TEST_F(MainWindow, AFailedRunSaysWhichFileAndWhy) {
  TScratchDisk disk(Folder + "/disk", "16m");
  const std::string in = Folder + "/in", out = Folder + "/out", gone = Folder + "/gone";
  fs::create_directories(in);
  std::ofstream(in + "/bad.flac") << "not audio";
  const std::string broken = WriteBrokenMp3(in + "/broken.mp3", 3.4);
  const std::string good = Source("good.wav", 0.5), longer = Source("long.wav", 60);
  struct TRow {
    const char *Name;
    std::string Source, OutFolder;
    bool Mp3 = false;
    std::function<void()> Before = {}, During = {}, After = {};
    std::string English = {}, Russian = {};  // the first line
  };
  const std::string read = "Could not read “", write = "Could not write “";
  const std::string readRu = "Не удалось прочитать «", writeRu = "Не удалось записать «";
  std::vector<TRow> rows = {
      {"not audio", in + "/bad.flac", out, false, {}, {}, {},
       read + in + "/bad.flac”: it is not an audio file this program can read.",
       readRu + in + "/bad.flac»: это не аудиофайл, который программа может прочитать."},
      {"damaged", broken, out, false, {}, {}, {},
       read + broken + "”: it is damaged at 0:03.", readRu + broken + "»: файл повреждён на отметке 0:03."},
      {"folder vanished", longer, gone, true, {}, [&] {
         std::error_code ec;  // the output under its hidden name shows the run is under way
         if (!fs::is_empty(gone, ec) && !ec) fs::remove_all(gone, ec);
       },
       {},
       write + gone + "/long.mp3”: its folder no longer exists.", writeRu + gone + "/long.mp3»: его папки больше нет."},
  };
  if (disk.Mounted) {
    rows.push_back({"disk full", good, disk.Folder, false, [&] { disk.LeaveFree(0); }, {}, [&] { disk.Unfill(); },
                    write + disk.Folder + "/good.wav”: the disk is full.",
                    writeRu + disk.Folder + "/good.wav»: диск заполнен."});
    // A read-only destination is refused before the run (TheDestinationIsCheckedBeforeTheRun).
  }
  for (const TRow &row : rows) {
    for (const std::string language : {"EN", "RU"}) {
      SCOPED_TRACE(row.Name + (" in " + language));
      SelectLanguage(language);
      Errors.clear();
      Window->DropFiles({row.Source}, false);
      ChooseOutput(row.Mp3 ? Window->rbMP3 : Window->rbWAV, row.OutFolder);
      if (row.Before) row.Before();
      StartWatching(row.During ? row.During : [] {}, 5);
      if (row.After) row.After();
      EXPECT_FALSE(Window->Processing());
      ASSERT_EQ(Errors.size(), 1u);
      const std::string &report = Errors[0];
      const std::string line = language == "EN" ? row.English : row.Russian;
      EXPECT_EQ(report.substr(0, report.find("\r\n")), line);
      const std::string heading = language == "EN" ? "\r\n\r\nDetails:\r\n" : "\r\n\r\nПодробности:\r\n";
      const size_t details = report.find(heading);
      EXPECT_NE(details, std::string::npos) << report;
      const std::string technical = details == std::string::npos ? "" : report.substr(details + heading.size());
      EXPECT_GT(technical.size(), 10u) << "the technical lines follow";
      for (const char *never : {"LastCall = ,", "ErrorCode = 0", "coder_engine_error", "Encoder error", "Ошибка кодировщика"})
        EXPECT_EQ(report.find(never), std::string::npos) << never << " in " << report;
      TfrmError dialog(report);
      dialog.show();
      dialog.bCopy->click();
      const std::string copied = QApplication::clipboard()->text().toStdString();
      EXPECT_NE(copied.find(line + "\r\n"), std::string::npos) << copied;
      EXPECT_NE(copied.find(heading + technical), std::string::npos) << copied;
      EXPECT_EQ(ClippedTexts(&dialog), std::vector<std::string>{});
    }
  }
  // Failures, however many, are counted as such.
  EXPECT_EQ(Window->lProgress1->text().toStdString(), FormatText(text_run_counts, 0, 1, 1, 0));
  SelectLanguage("EN");
}

TEST_F(MainWindow, LongNamesKeepTheirEnds) {
  // The destination keeps its start and its last folder, and shows whole as a tooltip.
  Chosen = Folder + "/" + std::string(120, 'd') + "/Albums";
  fs::create_directories(Chosen);
  Window->bBrowseForFolderClick();
  const QString folder = Window->eDestinationFolder->text();
  EXPECT_TRUE(folder.startsWith(QString::fromStdString(Folder.substr(0, 5)))) << folder.toStdString();
  EXPECT_TRUE(folder.endsWith("/Albums/")) << folder.toStdString();
  EXPECT_TRUE(folder.contains(QChar(0x2026))) << folder.toStdString();
  EXPECT_LE(Window->eDestinationFolder->fontMetrics().horizontalAdvance(folder),
            Window->eDestinationFolder->contentsRect().width());
  EXPECT_EQ(Window->eDestinationFolder->toolTip().toStdString(), Chosen + "/");

  TProgressRec p;
  p.SlotCount = 1;
  p.OutputFileName = "/home/user/Music/" + std::string(300, 'x') + "/Final Track.flac";
  Window->OnProgress(p);
  const QString shown = Window->lCurrentFile->text();
  EXPECT_TRUE(shown.startsWith("..."));
  EXPECT_TRUE(shown.endsWith("Final Track.flac"));
  EXPECT_LE(QFontMetrics(Window->lCurrentFile->font()).horizontalAdvance(shown), Window->lCurrentFile->width());

  // Several slots: each file's own percentage, said as such.
  p.SlotCount = 2;
  p.OutputFileName = "93% | 86%";
  Window->OnProgress(p);
  EXPECT_EQ(Window->lCurrentFile->text().toStdString(), FormatText(text_files_now_converting, "93% | 86%"));
}

// A language file that cannot be read while the window is being built ends
// the program with status 1 and says why, before the window opens. (Switches
// ask for no error reports, so nothing waits for a click.)
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

// The error report's text and copy; About's version line, libraries and
// licence; F11 writes the texts of both.
TEST(ErrorReportAndAbout, TextsAndClipboard) {
  ResetTextsToEnglish();
  {
    const std::string folder = TestProfileFolder();
    fs::create_directories(folder + "/texts");
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    TfrmAbout about;
    TfrmError error("one line");
    PressKey(about.bOK, Qt::Key_F11);
    PressKey(error.bOK, Qt::Key_F11);
    fs::current_path(previous);
    EXPECT_NE(ReadText(folder + "/texts/frmAbout.txt").find("bOK.Caption = OK\r\n"), std::string::npos);
    EXPECT_NE(ReadText(folder + "/texts/frmError.txt").find("l1.Caption = one line\r\n"), std::string::npos);
    EXPECT_TRUE(about.TntMemo1->toPlainText().contains("GNU General Public License")) << "the licence";
  }
  EXPECT_EQ(ErrorReportText("boom", "it failed", "/a/in.flac", ""), "boom it failed\r\nInput: /a/in.flac");
  EXPECT_EQ(ErrorReportText("", "plain", "", ""), "plain");
  TfrmError window("one line");
  window.bCopy->click();
  const std::string rule(52, '-');
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), rule + "\r\none line\r\n" + rule);

  FillCoderVersions();
  const std::string line = TfrmAbout::VersionLine();
  EXPECT_EQ(line.rfind("1.95 (with UNICODE support), Memory usage :  ", 0), 0u) << line;
  // What the process occupies, not its address space.
  const double shown = std::stod(line.substr(line.find(" :  ") + 4));
  std::ifstream status("/proc/self/status");
  double residentKb = 0;
  for (std::string key; status >> key;)
    if (key == "VmRSS:") status >> residentKb;
  EXPECT_NEAR(shown, residentKb / 1024, residentKb / 1024 * 0.25 + 2) << line;
  EXPECT_NE(line.find(" Mb, FFmpeg "), std::string::npos) << line;
  EXPECT_EQ(FormatMegabytes(1234.5), " 1234.5");
  EXPECT_EQ(FormatMegabytes(12.0), " 12");
  EXPECT_EQ(FormatMegabytes(0.12345), " 0.123");
  const std::string info = TfrmAbout::VersionInfo();
  EXPECT_EQ(std::count(info.begin(), info.end(), '\n'), 7) << info;  // every format but WAV
  EXPECT_NE(info.find("  - WMA, libavcodec, FFmpeg WMA v2 encoder (Lavc"), std::string::npos) << info;
  EXPECT_EQ(info.rfind("  - MP3, libmp3lame.so.0, ", 0), 0u) << info;
  EXPECT_NE(info.find("  - OGG, libogg.so.0, libvorbis.so.0, libvorbisenc.so.2, Xiph.Org libVorbis "),
            std::string::npos) << info;
  EXPECT_NE(info.find("  - WavPack, libwavpack.so.1, 5."), std::string::npos) << info;
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
