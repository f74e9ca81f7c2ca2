// SPDX-License-Identifier: GPL-3.0-or-later
// The program, files-per-CPU and preprocess options dialogs, opened from the
// real main window: their rules, OK and Cancel read back from the settings
// file, the values reaching a run, the priority of the running process, and
// their texts fitting in every language.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/language_file.h"
#include "app/settings.h"
#include "app/windows/Unit1.h"
#include "app/windows/files_per_cpu_dialog.h"
#include "app/windows/preprocess_dialog.h"
#include "app/windows/program_options_dialog.h"
#include "base/texts.h"
#include "test_support.h"
#include "window_checks.h"

namespace fs = std::filesystem;

namespace {

// Acts on the next modal dialog, of type T, once it shows; act must close it.
template <typename T>
void OnNextDialog(std::function<void(T &)> act) {
  QTimer::singleShot(0, [act] {
    auto *dialog = dynamic_cast<T *>(QApplication::activeModalWidget());
    if (!dialog) {
      ADD_FAILURE() << "not the dialog expected";
      if (QWidget *other = QApplication::activeModalWidget()) other->close();
      return;
    }
    act(*dialog);
  });
}

std::string Text(const QLabel *l) { return l->text().toStdString(); }

class OptionsDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = TestProfileFolder();
    fs::create_directories(Folder + "/in");
    Store = std::make_unique<TSettingsStore>();
    Open();
  }
  void Open() {
    Window.reset();
    Window = std::make_unique<Tmain>(TParsedCommandLine{}, *Store);
    Window->ShowMessage = [this](const QString &text) { Messages.push_back(text.toStdString()); };
    Window->ChooseFolder = [this](const QString &) { return QString::fromStdString(Folder + "/out"); };
    Window->ShowError = [](const std::string &report) { ADD_FAILURE() << report; };
    Window->show();
  }
  // Converts one source into Folder/out, with `tick` called every millisecond meanwhile.
  void Convert(QRadioButton *format, const std::string &source, const std::function<void()> &tick = {}) {
    fs::create_directories(Folder + "/out");
    Window->bBrowseForFolderClick();
    format->click();
    Window->cbCreateFull->setChecked(false);
    Window->DropFiles({source}, false);
    QTimer timer;
    if (tick) QObject::connect(&timer, &QTimer::timeout, tick);
    timer.start(1);
    Window->bStart->click();
  }
  // What a later start of the program would read.
  TSettingsStore Stored() const { return TSettingsStore(Store->FileName()); }
  std::string SettingsFile() const { return ReadText(Store->FileName()); }

  std::string Folder;
  std::unique_ptr<TSettingsStore> Store;
  std::unique_ptr<Tmain> Window;
  std::vector<std::string> Messages;
};

// Which parallel-file controls can be used, idle and during a run; the
// priority always can.
TEST_F(OptionsDialogs, ProgramOptionsRules) {
  struct TRow {
    bool Running, Simple;
    bool NPF, SetAdvanced, Radios, Reduce;
  };
  for (const TRow &r : {TRow{false, true, true, false, true, true}, TRow{false, false, false, true, true, true},
                        TRow{true, true, false, false, false, false}, TRow{true, false, false, false, false, false}}) {
    TProgramOptions options;
    options.SimpleParallelFiles = r.Simple;
    options.ParallelFiles = 5;
    TfrmOptions dialog(options, r.Running, Window.get());
    const std::string row = std::string(r.Running ? "running, " : "idle, ") + (r.Simple ? "simple" : "advanced");
    EXPECT_EQ(dialog.tbNPF->isEnabled(), r.NPF) << row;
    EXPECT_EQ(dialog.bSetAdvanced->isEnabled(), r.SetAdvanced) << row;
    EXPECT_EQ(dialog.cbSimple->isEnabled() && dialog.cbAdvanced->isEnabled(), r.Radios) << row;
    EXPECT_EQ(dialog.cbReduce->isEnabled(), r.Reduce) << row;
    EXPECT_EQ(dialog.cbKeepPartial->isEnabled(), r.Reduce) << row;
    EXPECT_EQ(dialog.cbKeepGoing->isEnabled() && dialog.cbSkipExisting->isEnabled(), r.Reduce) << row;
    EXPECT_EQ(dialog.cbWriteTags->isEnabled(), r.Reduce) << row;
    EXPECT_TRUE(dialog.cbWriteTags->isChecked()) << row;  // on unless turned off
    EXPECT_EQ(dialog.cbVerify->isEnabled() && dialog.cbSpreadOverCores->isEnabled(), r.Reduce) << row;
    EXPECT_TRUE(dialog.cbSpreadOverCores->isChecked()) << row;  // on unless turned off
    EXPECT_TRUE(dialog.tbPriority->isEnabled()) << row;
    EXPECT_EQ(Text(dialog.eTPC), "5") << row;
    // Switching the mode by hand moves what is usable (never during a run).
    (r.Simple ? dialog.cbAdvanced : dialog.cbSimple)->click();
    EXPECT_EQ(dialog.tbNPF->isEnabled(), !r.Running && !r.Simple) << row;
    EXPECT_EQ(dialog.bSetAdvanced->isEnabled(), !r.Running && r.Simple) << row;
  }
  for (const auto &[stored, position] : std::vector<std::pair<int, int>>{{0, 0}, {1, 1}, {2, 2}, {5, 2}, {-1, 2}}) {
    TProgramOptions options;
    options.Priority = stored;  // any value but idle and normal is high
    EXPECT_EQ(TfrmOptions(options, false, Window.get()).tbPriority->value(), position) << stored;
  }
  TfrmOptions dialog(TProgramOptions{}, false, Window.get());
  const std::vector<std::pair<int, std::string>> names = {{0, "Idle"}, {1, "Normal"}, {2, "High"}};
  for (const auto &[position, name] : names) {
    dialog.tbPriority->setValue(position);
    EXPECT_EQ(Text(dialog.ePriority), name);
  }
  dialog.tbNPF->setValue(16);
  EXPECT_EQ(Text(dialog.eTPC), "16");
}

// OK stores every program value in the file, Cancel nothing; the files per
// CPU confirmed in their dialog serve until the program options are opened
// again, but reach the file only with the program options' OK.
TEST_F(OptionsDialogs, ProgramOptionsOkAndCancel) {
  const std::string before = SettingsFile();
  OnNextDialog<TfrmOptions>([](TfrmOptions &d) {
    d.tbNPF->setValue(3);
    d.cbReduce->setChecked(true);
    OnNextDialog<TfrmFilesPerCPU>([](TfrmFilesPerCPU &f) {
      f.tbFLAC->setValue(7);
      f.bOK->click();
    });
    d.cbAdvanced->click();
    d.bSetAdvanced->click();
    d.bCancel->click();
  });
  Window->bOptions->click();
  EXPECT_EQ(SettingsFile(), before);
  EXPECT_EQ(DestinationFileTypes[dfFLAC - 1].FilesPerCPU, 7);  // for the next runs of this program

  const int processors = DestinationFileTypes[dfMP3 - 1].FilesPerCPU;
  OnNextDialog<TfrmOptions>([processors](TfrmOptions &d) {
    EXPECT_TRUE(d.cbSimple->isChecked());
    OnNextDialog<TfrmFilesPerCPU>([processors](TfrmFilesPerCPU &f) {
      EXPECT_EQ(f.tbFLAC->value(), processors);  // reloaded: the 7 was never stored
      EXPECT_EQ(Text(f.eFLAC), std::to_string(processors));
      f.tbWAV->setValue(9);
      EXPECT_EQ(Text(f.eWAV), "9");
      f.bOK->click();
    });
    d.cbAdvanced->click();
    d.bSetAdvanced->click();
    d.tbNPF->setValue(4);  // the simple mode's count, kept for when it is chosen again
    d.tbPriority->setValue(1);
    d.cbReduce->setChecked(true);
    d.cbKeepPartial->setChecked(true);
    d.cbKeepGoing->setChecked(true);
    d.cbSkipExisting->setChecked(true);
    d.cbWriteTags->setChecked(false);
    d.cbVerify->setChecked(true);
    d.cbSpreadOverCores->setChecked(false);
    d.bOK->click();
  });
  Window->bOptions->click();
  const TSettingsStore stored = Stored();
  EXPECT_EQ(stored.ReadInteger("ProgParallelFiles", -1), 4);
  EXPECT_FALSE(stored.ReadBoolean("ProgSimpleParallelFiles", true));
  EXPECT_TRUE(stored.ReadBoolean("ProgAutoReduce", false));
  EXPECT_TRUE(stored.ReadBoolean("KeepPartial", false));
  EXPECT_TRUE(stored.ReadBoolean("KeepGoing", false));
  EXPECT_TRUE(stored.ReadBoolean("SkipExisting", false));
  EXPECT_FALSE(stored.ReadBoolean("WriteTags", true));
  EXPECT_TRUE(stored.ReadBoolean("Verify", false));
  EXPECT_FALSE(stored.ReadBoolean("SpreadOverCores", true));
  EXPECT_EQ(stored.ReadInteger("ProgPriority", -1), 1);
  EXPECT_EQ(stored.ReadInteger("FPCPU_WAV", -1), 9);
  EXPECT_EQ(stored.ReadInteger("FPCPU_FLAC", -1), processors);
  EXPECT_TRUE(Messages.empty());
  // The advanced mode counts per format at the next run.
  EXPECT_EQ(ThreadCountFor(LoadProgramOptions(stored), dfWAV), 9);
}

TEST_F(OptionsDialogs, FilesPerCpuDefaults) {
  struct TRow {
    int Processors, Heavy, Light;  // Light: WavPack and WAV
  };
  for (const TRow &r : {TRow{1, 1, 1}, TRow{2, 2, 4}, TRow{8, 8, 16}, TRow{12, 12, 16}, TRow{20, 16, 16}}) {
    TfrmFilesPerCPU dialog(Window.get());
    dialog.Processors = r.Processors;
    dialog.bDefault->click();
    for (QSlider *s : {dialog.tbMP3, dialog.tbWMA, dialog.tbOGG, dialog.tbAPE, dialog.tbFLAC, dialog.tbAAC})
      EXPECT_EQ(s->value(), r.Heavy) << r.Processors << " processors, " << s->objectName().toStdString();
    EXPECT_EQ(dialog.tbWavPack->value(), r.Light) << r.Processors;
    EXPECT_EQ(dialog.tbWAV->value(), r.Light) << r.Processors;
    EXPECT_EQ(Text(dialog.eWAV), std::to_string(r.Light));
  }
}

// How stored preprocess values show, what OK stores from the lists, and a
// stored value that is none of the items.
TEST_F(OptionsDialogs, PreprocessShowsAndStores) {
  ASSERT_EQ(Store->WriteSettings({{"PPThreshold", 7}, {"PPSeconds", 15}, {"PPResampleTo", 12345},
                                  {"PPSplitBySilence", false}, {"PPChannels", 1}, {"PPHiddenTrack", true}}),
            "");
  Window->cbEnablePreprocess->click();
  const std::string before = SettingsFile();
  OnNextDialog<TfrmPreprocessOptions>([](TfrmPreprocessOptions &d) {
    EXPECT_EQ(d.cmThreshold->currentIndex(), -1);  // 7 is no item
    EXPECT_EQ(d.cmSeconds->currentText().toStdString(), "1.5");
    EXPECT_EQ(d.cmResampleTo->currentIndex(), -1);
    EXPECT_EQ(d.cmThreshold->count(), 11);
    EXPECT_EQ(d.cmSeconds->count(), 20);
    EXPECT_EQ(Text(d.eChannels), "1");
    EXPECT_TRUE(d.cbHiddenTrack->isChecked());
    EXPECT_FALSE(d.cbPregapOwnTrack->isChecked());
    // Lists are usable only while their check box is ticked.
    EXPECT_FALSE(d.cmThreshold->isEnabled() || d.cmSeconds->isEnabled() || d.cmResampleTo->isEnabled());
    d.cbSplitBySilence->click();
    d.cbResample->click();
    EXPECT_TRUE(d.cmThreshold->isEnabled() && d.cmSeconds->isEnabled() && d.cmResampleTo->isEnabled());
    d.tbChannels->setValue(0);
    EXPECT_EQ(Text(d.eChannels), text_source);
    d.tbChannels->setValue(2);
    EXPECT_EQ(Text(d.eChannels), "2");
    d.cmSeconds->setCurrentText("0.5");
    d.bCancel->click();
  });
  Window->bPreprocessOptions->click();
  EXPECT_EQ(SettingsFile(), before);

  OnNextDialog<TfrmPreprocessOptions>([](TfrmPreprocessOptions &d) {
    d.cbSplitBySilence->click();
    d.cbResample->click();
    d.cmSeconds->setCurrentText("0.5");
    d.tbChannels->setValue(2);
    d.cbPregapOwnTrack->click();
    d.bOK->click();
  });
  Window->bPreprocessOptions->click();
  const TSettingsStore stored = Stored();
  EXPECT_TRUE(stored.ReadBoolean("PPHiddenTrack", false));
  EXPECT_TRUE(stored.ReadBoolean("PPPregapOwnTrack", false));
  EXPECT_EQ(stored.ReadInteger("PPSeconds", -1), 5);
  EXPECT_EQ(stored.ReadInteger("PPThreshold", -1), 7);      // no item chosen: kept
  EXPECT_EQ(stored.ReadInteger("PPResampleTo", -1), 12345);  // likewise
  EXPECT_TRUE(stored.ReadBoolean("PPSplitBySilence", false));
  EXPECT_TRUE(stored.ReadBoolean("PPResample", false));
  EXPECT_EQ(stored.ReadInteger("PPChannels", -1), 2);
  EXPECT_NE(SettingsFile().find("PPFileFormat"), std::string::npos);
}

// Resample and channels chosen in the dialog reach a run; with preprocessing
// switched off the same stored choice changes nothing.
TEST_F(OptionsDialogs, ResampleChosenInTheDialogReachesTheOutput) {
  const std::string source = WriteSignal(Folder + "/in/tone.wav", {.Rate = 44100, .Channels = 2, .Seconds = 2});
  Window->cbEnablePreprocess->click();
  OnNextDialog<TfrmPreprocessOptions>([](TfrmPreprocessOptions &d) {
    if (d.cbSplitBySilence->isChecked()) d.cbSplitBySilence->click();
    d.cbResample->click();
    d.cmResampleTo->setCurrentText("48000");
    d.tbChannels->setValue(1);
    d.bOK->click();
  });
  Window->bPreprocessOptions->click();
  Convert(Window->rbWAV, source);
  EXPECT_EQ(ProbeStream(Folder + "/out/tone.wav", "sample_rate,channels"), "48000,1\n");

  Window->cbEnablePreprocess->click();
  fs::remove(Folder + "/out/tone.wav");
  Window->bStart->click();
  EXPECT_EQ(ProbeStream(Folder + "/out/tone.wav", "sample_rate,channels"), "44100,2\n");
  EXPECT_EQ(FFmpegDecode(Folder + "/out/tone.wav", "s16le"), MakeSamples({.Rate = 44100, .Channels = 2, .Seconds = 2}));
}

// The hidden track chosen in the dialog: a sheet's audio before track 1 is
// track 00 while preprocessing is on, and left out when it is switched off.
TEST_F(OptionsDialogs, HiddenTrackChosenInTheDialogCutsTheSheet) {
  WriteSignal(Folder + "/in/image.flac", {.Seconds = 2}, {"-c:a", "flac"});
  const std::string sheet = WriteText(Folder + "/in/image.cue",
                                      "FILE \"image.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:30\n"
                                      "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n");
  Window->cbEnablePreprocess->click();
  OnNextDialog<TfrmPreprocessOptions>([](TfrmPreprocessOptions &d) {
    if (d.cbSplitBySilence->isChecked()) d.cbSplitBySilence->click();
    d.cbHiddenTrack->click();
    d.bOK->click();
  });
  Window->bPreprocessOptions->click();
  Convert(Window->rbWAV, sheet);
  EXPECT_EQ(FFmpegDecode(Folder + "/out/00 - Hidden track.wav", "s16le").size(), size_t(30 * 588 * 4));
  EXPECT_EQ(FFmpegDecode(Folder + "/out/01 - image.wav", "s16le").size(), size_t(45 * 588 * 4));

  Window->cbEnablePreprocess->click();
  fs::remove_all(Folder + "/out");
  fs::create_directories(Folder + "/out");
  Window->bStart->click();
  EXPECT_FALSE(fs::exists(Folder + "/out/00 - Hidden track.wav"));
  EXPECT_TRUE(fs::exists(Folder + "/out/01 - image.wav"));
}

// The nice value of every thread of this process ("ps -o ni" shows the main one's).
std::vector<int> ThreadNices() {
  std::vector<int> nices;
  for (const auto &task : fs::directory_iterator("/proc/self/task")) {
    std::string stat = ReadText(task.path().string() + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 19 && fields >> field; ++i) {
    }
    nices.push_back(std::stoi(field));  // field 19: nice
  }
  return nices;
}

int PsNice() {
  std::string out;
  RunTool({"ps", "-o", "ni=", "-p", std::to_string(getpid())}, &out);
  return std::stoi(out);
}

// Idle chosen in the dialog during a run (the only option that can change
// then): the process and its running worker at nice 19 at once.
TEST_F(OptionsDialogs, IdleChosenDuringARunIsNice19OfTheRunningProcess) {
  const size_t threadsBefore = ThreadNices().size();
  bool chosen = false;
  std::vector<int> after;
  Convert(Window->rbMP3, WriteSignal(Folder + "/in/long.wav", {.Seconds = 60}), [&] {
    if (chosen || !Window->Processing() || Window->LastProgress().Percent < 1) return;
    chosen = true;
    OnNextDialog<TfrmOptions>([](TfrmOptions &d) {
      EXPECT_FALSE(d.tbNPF->isEnabled() || d.cbSimple->isEnabled() || d.cbReduce->isEnabled());
      d.tbPriority->setValue(0);
      d.bOK->click();
    });
    Window->bOptions->click();
    after = ThreadNices();
    EXPECT_EQ(PsNice(), 19);
  });
  ASSERT_TRUE(chosen);
  ASSERT_GT(after.size(), threadsBefore);  // a worker among them
  for (int nice : after) EXPECT_EQ(nice, 19);
  EXPECT_TRUE(fs::exists(Folder + "/out/long.mp3"));
  EXPECT_EQ(Stored().ReadInteger("ProgPriority", -1), 0);
}

// Takes this process's right to raise priority, as an ordinary user lacks it.
void DropRightToRaisePriority() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  ASSERT_EQ(syscall(SYS_capget, &header, data), 0);
  data[0].effective &= ~(1u << CAP_SYS_NICE);
  data[0].permitted &= ~(1u << CAP_SYS_NICE);
  data[0].inheritable &= ~(1u << CAP_SYS_NICE);
  ASSERT_EQ(syscall(SYS_capset, &header, data), 0);
  const rlimit none{0, 0};
  ASSERT_EQ(setrlimit(RLIMIT_NICE, &none), 0);
}

// High without the right: at start-up the window's status line says so (no
// box before the window); in the options, said when High is chosen, not each
// time the options are confirmed; a run goes on at normal priority.
TEST_F(OptionsDialogs, HighPriorityRefusedIsSaidOnceAndTheRunGoesOn) {
  DropRightToRaisePriority();
  ASSERT_EQ(Store->WriteSettings({{"ProgPriority", 2}}), "");
  Open();
  QApplication::processEvents();
  EXPECT_EQ(Messages, std::vector<std::string>{});
  EXPECT_EQ(Window->lCurrentFile->text().toStdString(), text_priority_status);
  struct TRow {
    int Chosen;
    size_t Said;  // messages so far
  };
  for (const TRow &row : {TRow{2, 0}, TRow{1, 0}, TRow{2, 1}, TRow{2, 1}}) {
    OnNextDialog<TfrmOptions>([&row](TfrmOptions &d) {
      d.tbPriority->setValue(row.Chosen);
      d.bOK->click();
    });
    Window->bOptions->click();
    EXPECT_EQ(Messages.size(), row.Said) << row.Chosen;
  }
  EXPECT_EQ(Messages, std::vector<std::string>{text_priority_refused});
  EXPECT_EQ(Stored().ReadInteger("ProgPriority", -1), 2);
  EXPECT_EQ(PsNice(), 0);
  Convert(Window->rbWAV, WriteSignal(Folder + "/in/tone.wav", {.Seconds = 1}));
  EXPECT_EQ(FFmpegDecode(Folder + "/out/tone.wav", "s16le"), MakeSamples({.Seconds = 1}));
  EXPECT_EQ(Messages.size(), 1u);
}

// Every text of the three dialogs fits in every language; F11 has them all.
TEST_F(OptionsDialogs, TextsFitInEveryLanguage) {
  for (const char *code : {"EN", "RU", "LV", "CS", "FR", "ES", "HU"}) {
    LoadLanguage(LanguageIndex(code), [](const std::string &) {});
    TfrmOptions options(TProgramOptions{}, false, Window.get());
    TfrmFilesPerCPU files(Window.get());
    TfrmPreprocessOptions preprocess(TPreprocessOptions{}, Window.get());
    for (QWidget *dialog : std::initializer_list<QWidget *>{&options, &files, &preprocess}) {
      dialog->show();
      QApplication::processEvents();
      EXPECT_EQ(ClippedTexts(dialog), std::vector<std::string>{}) << code << " " << dialog->objectName().toStdString();
    }
    EXPECT_EQ(options.cbKeepPartial->text().toStdString(), text_keep_partial);
    EXPECT_EQ(options.cbKeepGoing->text().toStdString(), text_keep_going);
    EXPECT_EQ(options.cbSkipExisting->text().toStdString(), text_skip_existing);
    EXPECT_EQ(options.cbWriteTags->text().toStdString(), text_write_tags);
    EXPECT_EQ(options.cbVerify->text().toStdString(), text_verify);
    EXPECT_EQ(options.cbSpreadOverCores->text().toStdString(), text_spread_over_cores);
    EXPECT_EQ(Text(preprocess.findChild<QLabel *>("lResampleUnit")), text_hz);
    EXPECT_EQ(Text(preprocess.findChild<QLabel *>("lThresholdUnit")), text_sample_level);
  }
  ResetTextsToEnglish();
}

}  // namespace
