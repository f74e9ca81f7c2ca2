// Renders every window, in every language, to PNG files without a display:
//   tonmill-screenshots DIR [CODE...]   (codes: EN RU LV CS FR ES HU)
// Used by scripts/screenshots to look at the windows as a user sees them.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>

#include "app/windows/Unit1.h"
#include "app/windows/about.h"
#include "app/windows/error_report.h"
#include "app/windows/files_per_cpu_dialog.h"
#include "app/windows/preprocess_dialog.h"
#include "app/windows/program_options_dialog.h"
#include "base/texts.h"
#include "encoders/format.h"
#include "engine/failure_text.h"
#include "platform/main_thread/qt_pump.h"

namespace {

void Save(QWidget &window, const QString &file) {
  window.show();
  QApplication::processEvents();
  window.grab().save(file);
  std::printf("%s\n", file.toStdString().c_str());
}

void SelectLanguage(Tmain &window, const QString &code) {
  for (int i = 0; i < window.cbLang->count(); ++i)
    if (window.cbLang->itemText(i).startsWith(code)) window.cbLang->setCurrentIndex(i);
  window.cbLangChange();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tonmill-screenshots DIR [CODE...]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // The offscreen platform says at every window what it cannot do: not news here.
  qputenv("QT_LOGGING_RULES", "qt.qpa.*=false;default.warning=false");
  QTemporaryDir config, music;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  QApplication application(argc, argv);
  TQtPump pump;
  SetMainThreadPump(&pump);
  FillCoderVersions();
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  QStringList codes;
  for (int i = 2; i < argc; ++i) codes << argv[i];
  if (codes.isEmpty()) codes = {"EN", "RU", "LV", "CS", "FR", "ES", "HU"};
  for (const char *name : {"01 - Overture.flac", "02 - Allegro.flac", "03 - Finale.flac", "live.mp3", "album.ape"})
    std::ofstream((music.path() + "/" + name).toStdString()) << "x";

  TSettingsStore store;
  for (const QString &code : codes) {
    const QString prefix = out + "/" + code.toLower() + "-";
    Tmain window(TParsedCommandLine{}, store);
    window.ShowMessage = [](const QString &) {};
    SelectLanguage(window, code);
    Save(window, prefix + "main-empty.png");
    if (code == codes.front()) window.windowIcon().pixmap(64).save(out + "/icon.png");

    window.DropFiles({music.path().toStdString()}, false);
    window.bStart->setEnabled(true);
    Save(window, prefix + "main-sources.png");

    // How the window looks while a run of five files goes on.
    TProgressRec progress;
    progress.JobNumber = 3;
    progress.JobCount = 5;
    progress.Percent = 47;
    progress.SlotIndex = 0;
    progress.SlotCount = 2;
    progress.Stage = stWholeSource;
    progress.ElapsedTime = "00:01:12";
    progress.RemainingTime = "00:01:21";
    progress.OutputFileName = "38% | 56%";
    for (QWidget *control : window.JobControls()) control->setEnabled(false);
    window.bStart->setText(QString::fromStdString(text_cancel));
    window.OnProgress(progress);
    Save(window, prefix + "main-converting.png");
    window.bUPClick();
    Save(window, prefix + "main-reduced.png");
    window.bDNClick();

    // A source that breaks off, as a run reports it.
    TThreadErrorRec failure;
    failure.ErrorMessage = "BASS_ChannelGetData 41";
    failure.CurrentInputFileName = music.path().toStdString() + "/live.mp3";
    failure.CurrentOutputFileName = "/home/user/Music/out/live.flac";
    failure.Reading = true;
    failure.Reason = TFailureReason::Damaged;
    failure.DamagedAt = 83;
    TfrmError error(FailureReport({failure}, FailureDetails(failure)));
    Save(error, prefix + "error.png");
    TfrmAbout about;
    Save(about, prefix + "about.png");
    TfrmOptions options(TProgramOptions{}, false, &window);
    Save(options, prefix + "options.png");
    TfrmFilesPerCPU filesPerCpu(&window);
    Save(filesPerCpu, prefix + "files-per-cpu.png");
    TfrmPreprocessOptions preprocess(TPreprocessOptions{}, &window);
    Save(preprocess, prefix + "preprocess.png");
    window.hide();
  }
  SetMainThreadPump(nullptr);
  return 0;
}
