// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: collects sources by drag and drop, holds the destination,
// the format and the preprocess switch, starts and cancels a job and shows
// its progress. It owns the engine and the source list. Main thread only.
#pragma once

#include <QStringList>
#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/settings.h"
#include "app/settings_store.h"
#include "app/source_list.h"
#include "engine/coder_engine.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QTranslator;
class QUrl;

class Tmain : public QWidget {
 public:
  Tmain(const TParsedCommandLine &CommandLine, TSettingsStore &Store);
  ~Tmain() override;

  // Controls, named as users of the window (and its tests) know them.
  QComboBox *cbLang;
  QGroupBox *gbSourceFiles, *gbDestFolder, *gbPreprocess, *gbDestFormat, *gbProgress;
  QLabel *lInputFiles, *eDestinationFolder, *lProgress1, *lTimeElapsed, *lCurrentFile;
  QPushButton *bInfo, *bBrowseForFolder, *bPreprocessOptions;
  QCheckBox *cbSameAsSource, *cbCreateFull, *cbEnablePreprocess;
  // The format buttons ("rb" and the format's name) and their Settings buttons
  // ("b", the name, "Options") are built from the format table; these name
  // those of the first formats.
  QRadioButton *rbMP3, *rbWMA, *rbOGG, *rbAPE, *rbFLAC, *rbWavPack, *rbAAC, *rbWAV;
  QPushButton *bMP3Options, *bWMAOptions, *bOGGOptions, *bAPEOptions, *bFLACOptions, *bWavPackOptions,
      *bAACOptions;
  // A format's button and its Settings button (null for a format without either).
  QRadioButton *FormatRadio(TDestinationFormat Format) const;
  QPushButton *SettingsButton(TDestinationFormat Format) const;
  QProgressBar *pbCurrent;
  QPushButton *bUP, *bDN, *bOptions, *bAbout, *bStart, *bClose;
  QPushButton *bOpenFolder;  // beside the end-of-run line: the outputs' folder

  // Commands.
  void bStartClick();
  void bBrowseForFolderClick();
  void bUPClick();
  void bDNClick();
  void bAboutClick();
  // A Settings button: its format's dialog.
  void FormatSettingsClick(TDestinationFormat Format);
  // Gathers the sources' audio info (the button cancels it meanwhile) and
  // shows it in the source files info view.
  void bInfoClick();
  void bOptionsClick();
  void bPreprocessOptionsClick();
  // Sources chosen in a file chooser instead of dropped: files, or one folder.
  void AddSourcesClick(bool Folder, bool CtrlHeld = false);
  void cbLangChange();
  void UpdateControls();
  // Files and folders dropped on the window; with Ctrl held they add to the
  // list, otherwise they replace it (once one of them is kept).
  void DropFiles(const std::vector<std::string> &Paths, bool CtrlHeld);
  void ShowSourceSummary(int Count);
  // Outputs < 0: only the count of sources is known.
  void ShowDestination();
  void ShowProcessedCount(int Count, int Outputs = -1);
  // The end of a run (Run's result, or a failure): how many outputs were
  // converted, failed or stopped, and where they are.
  void ShowRunEnd(bool Failed);
  void ApplyLanguage();
  void OnProgress(const TProgressRec &Rec);

  // The controls a running job disables, in the order the window lists them.
  std::vector<QWidget *> JobControls() const;
  bool Processing() const { return IsProcessing; }
  const TSourceCollection &Sources() const { return SourceFiles; }
  TCoder_engine &Engine() { return *EngineObject; }
  const std::string &DestinationFolder() const { return Destination; }
  const TProgressRec &LastProgress() const { return Last; }
  QString Title() const { return TitleText; }
  bool Reduced() const { return FullHeight != 0; }
  bool ReportErrors = true;

  // How the window asks the user; tests answer instead of a person.
  std::function<void(const QString &Text)> ShowMessage;
  std::function<QString(const QString &StartFolder)> ChooseFolder;
  std::function<void(const std::string &Report)> ShowError;
  std::function<bool(const QString &Question)> Ask;
  std::function<QStringList(const QString &Filter)> ChooseFiles;
  std::function<QString()> ChooseSourceFolder;
  // The chooser's filter: the types a drop would keep.
  static QString SourceFilter();
  // Opens a folder in the desktop's file manager.
  std::function<bool(const QUrl &Folder)> OpenUrl;

 protected:
  void closeEvent(QCloseEvent *event) override;
  void showEvent(QShowEvent *event) override;
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dropEvent(QDropEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  // The window's preview of its controls' input: keys, the destination field, Start.
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void BuildControls();
  void LoadSettings();
  void SaveGeneralSettings();
  struct TFormatButton {
    TDestinationFormat Format;
    QRadioButton *Radio;
    QPushButton *Settings;  // null: the format has no dialog
  };
  std::vector<TFormatButton> FormatButtons;  // in the order of the codes
  TDestinationFormat CheckedFormat() const;
  // Switches without "/output": their format, its encoder keys and "/p".
  void ApplySwitches(const TParsedCommandLine &CommandLine);
  bool WindowKey(QObject *Target, const QKeyEvent &Event);
  // A greyed control says why in its tooltip.
  void ExplainDisabled();
  void SetCurrentFile(const QString &Text);
  void ShowOpenFolder(bool Shown);
  // The sheets the last additions left out for want of their audio, as a
  // message ("" when none); the list is emptied.
  QString SheetsWithoutAudioText();
  // Where the last run's outputs are: the folder Open folder opens.
  std::string OutputsFolder() const;
  void FinishJob();
  // The size of the controls' page: the window's, unless the screen is too
  // small for it and the page scrolls inside the window.
  void SetPageSize(int Width, int Height);
  QSize FrameSize() const;
  // Qt's translations for the chosen language, in place of the last ones.
  void LoadQtTexts();

  TSettingsStore &Store;
  std::unique_ptr<TCoder_engine> EngineObject;
  TSourceCollection SourceFiles;
  TProgramOptions ProgramOptions;
  TPreprocessOptions PreprocessOptions;
  std::string Destination;
  std::string LanguageCode = "EN";
  QString SourceFolder;  // where sources were last chosen
  std::string StoredFormatName;  // kept when no format button is checked
  std::vector<QString> StartupMessages;
  QString TitleText;
  bool IsProcessing = false;
  bool PriorityRefused = false;  // the stored priority could not be set at start-up
  std::atomic<bool> InfoCancelled{false};  // read by the info workers
  bool CloseAfterRun = false;  // the user chose to cancel and close
  int StartTag = 0;  // 0 idle, 1 running
  int FullHeight = 0;
  int ProgressTop = 0;
  TProgressRec Last;
  QScrollArea *Scroller = nullptr;  // only on a screen too small for the window
  QWidget *Page = this;  // the controls' parent
  std::unique_ptr<QTranslator> QtTexts;  // installed while the window lives
};
