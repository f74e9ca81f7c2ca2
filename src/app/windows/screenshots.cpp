// SPDX-License-Identifier: GPL-3.0-or-later
// Renders every window, in every language, to PNG files without a display:
//   tonmill-screenshots DIR [CODE...]   (codes: EN RU LV CS FR ES HU)
// Used by scripts/screenshots to look at the windows as a user sees them.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QItemSelectionModel>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdio>
#include <fstream>

#include "app/windows/Unit1.h"
#include "app/windows/about.h"
#include "app/windows/cue_info.h"
#include "app/windows/files_info.h"
#include "app/windows/error_report.h"
#include "app/windows/format_dialogs.h"
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

  QTemporaryDir sheets;
  std::ofstream((sheets.path() + "/album.cue").toStdString())
      << "PERFORMER \"Orchestre de chambre\"\nTITLE \"Concertos\"\nFILE \"album.ape\" WAVE\n"
         "  TRACK 01 AUDIO\n    TITLE \"Concerto en ré : Allegro\"\n    INDEX 01 00:00:00\n"
         "  TRACK 02 AUDIO\n    TITLE \"Largo\"\n    INDEX 01 04:12:37\n"
         "  TRACK 03 AUDIO\n    TITLE \"Presto\"\n    PERFORMER \"Soliste invitée\"\n    INDEX 01 09:48:70\n";

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
    for (const TFormatRow *row : FormatRows())
      if (const auto dialog = NewFormatDialog(row->Code, store, window.Engine()))
        Save(*dialog, prefix + QString(row->Name).toLower() + "-settings.png");

    // The info views over the same sources, as gathered, the image with its sheet.
    std::vector<TFilesInfoRow> rows;
    for (TSourceItem item : window.Sources().List()) {
      const bool image = item.FileName.ends_with("album.ape");
      item.Rec.HasCUE = image;
      item.Rec.CueName = image ? sheets.path().toStdString() + "/album.cue" : "";
      const bool mp3 = item.FileName.ends_with(".mp3");
      TAudioInfoRec stream;
      stream.Bitrate = mp3 ? 256 : image ? 702 : 1011;
      stream.SampleRate = 44100;
      stream.BitsPerSample = 16;
      stream.Channels = 2;
      stream.Duration = image ? 2874.53 : 187.4 + 61.3 * double(rows.size());
      item.Rec.AudioInfo.Streams = {stream};
      rows.push_back(FilesInfoRow(item, int32_t(rows.size() + 1)));
    }
    TfrmFilesInfo files;
    files.SetRows(rows);
    files.JvListView1->selectionModel()->select(files.Model->index(3, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Save(files, prefix + "files-info.png");
    TfrmCUEInfo cue(sheets.path().toStdString() + "/album.cue");
    Save(cue, prefix + "cue-info.png");
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
