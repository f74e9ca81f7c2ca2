// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/Unit1.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTimer>
#include <QTranslator>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <fmt/printf.h>
#include <utility>

#include "app/format_readers.h"
#include "app/format_settings.h"
#include "app/language_file.h"
#include "app/windows/about.h"
#include "app/windows/format_dialogs.h"
#include "app/windows/error_report.h"
#include "app/windows/preprocess_dialog.h"
#include "app/windows/program_options_dialog.h"
#include "app/windows/window_texts.h"
#include "base/misc.h"
#include "base/texts.h"
#include "encoders/format.h"
#include "engine/failure_text.h"
#include "engine/name_pattern.h"
#include "engine/output_naming.h"

namespace {

constexpr int kWidth = 542, kHeight = 521;

const char *const kLanguages[] = {"EN - English", "ES - Español", "FR - Français",   "HU - Magyar",
                                  "RU - Русский ", "CS - Česky",  "LV - Latviski"};

// The layout is drawn for a 12-pixel desktop font (9 points at 96 dpi); a
// larger one (a 1.25x desktop, QT_FONT_DPI=120) grows the whole window with it.
constexpr double kDesignFontPixels = 12;
double Scale = 1;

int Scaled(int v) { return int(std::lround(v * Scale)); }

template <typename T>
T *Make(QWidget *parent, const char *name, int x, int y, int w, int h) {
  T *control = new T(parent);  // owned by its parent widget
  control->setObjectName(name);
  control->setGeometry(Scaled(x), Scaled(y), Scaled(w), Scaled(h));
  return control;
}

// The window's icon: a sound wave poured into a file, drawn here.
QIcon TonmillIcon() {
  QPixmap pixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x2a, 0x6f, 0xb5));
  painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
  QPainterPath wave;
  wave.moveTo(8, 24);
  for (int x = 8; x <= 56; ++x) wave.lineTo(x, 24 - 12 * std::sin((x - 8) * 3.14159265 / 12) * (1 - (x - 8) / 60.0));
  painter.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(wave);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xf2, 0xb1, 0x34));
  painter.drawPolygon(QPolygonF({QPointF(20, 38), QPointF(44, 38), QPointF(32, 56)}));
  return QIcon(pixmap);
}

QString Q(const std::string &text) { return QString::fromStdString(text); }

// The time line of a run that has converted nothing yet.
QString ZeroTimes() {
  return Q(fmt::sprintf("%s : %s / %s : %s", text_time_elapsed, "00:00:00", text_time_remaining, "--:--:--"));
}

}  // namespace

Tmain::Tmain(const TParsedCommandLine &CommandLine, TSettingsStore &Store_)
    : Store(Store_), EngineObject(std::make_unique<TCoder_engine>()) {
  setObjectName("main");
  ShowMessage = [this](const QString &text) { QMessageBox::information(this, "TONMILL", text); };
  ChooseFolder = [this](const QString &start) {
    return QFileDialog::getExistingDirectory(this, "Choose destination", start);
  };
  ShowError = [this](const std::string &report) { ShowErrorReport(ReportErrors, report, this); };
  Ask = [this](const QString &question) {
    return QMessageBox::question(this, "TONMILL", question) == QMessageBox::Yes;
  };
  // The choosers open where sources were last chosen: left to itself, Qt's
  // chooser would open where any chooser was last used (the destination).
  ChooseFiles = [this](const QString &filter) {
    return QFileDialog::getOpenFileNames(this, Q(text_choose_sources), SourceFolder, filter);
  };
  ChooseSourceFolder = [this] {
    return QFileDialog::getExistingDirectory(this, Q(text_choose_source_folder), SourceFolder);
  };
  SourceFolder = QDir::homePath();
  setWindowIcon(TonmillIcon());
  QApplication::setWindowIcon(windowIcon());  // its dialogs' too
  OpenUrl = [](const QUrl &folder) {
    // Without a desktop that answers, the launchers desktops share.
    const QString path = folder.toLocalFile();
    return QDesktopServices::openUrl(folder) || QProcess::startDetached("xdg-open", {path}) ||
           QProcess::startDetached("gio", {"open", path});
  };

  // Switches ask for no error reports from the start, a fatal one included.
  ReportErrors = CommandLine.ReportErrors;
  BuildControls();
  EngineObject->InitBASS();
  LoadSettings();
  // What was wrong with the settings file, said once the window is up.
  if (std::string notice = Store.TakeNotice(); !notice.empty())
    QTimer::singleShot(0, this, [this, notice] { ShowMessage(Q(notice)); });
  ApplyLanguage();
  if (PriorityRefused) lCurrentFile->setText(Q(text_priority_status));
  UpdateControls();
  setAcceptDrops(true);

  if (CommandLine.SwitchMode) ApplySwitches(CommandLine);
  if (CommandLine.Mode == TParsedCommandLine::mSendTo) {
    bool clearFirst = false;
    for (const std::string &path : CommandLine.SendToPaths) {
      if (IsFolder(path)) SourceFiles.AddSourceFolder(path, "*", clearFirst, true);
      else SourceFiles.AddSourceFile(path, clearFirst);
    }
    SourceFiles.Sort();
    ShowSourceSummary(int(SourceFiles.List().size()));
    if (const QString missing = SheetsWithoutAudioText(); !missing.isEmpty()) StartupMessages.push_back(missing);
  }
}

Tmain::~Tmain() {
  if (QtTexts) QCoreApplication::removeTranslator(QtTexts.get());
}

void Tmain::ApplySwitches(const TParsedCommandLine &CommandLine) {
  ProgramOptions.ParallelFiles = CommandLine.ParallelFiles;
  const TDestinationFormat format = CommandLine.Options.DestinationFormat;
  if (!format) return;  // none or unknown: the stored format stays
  const TFormatReading reading =
      ReadFormatCommandLine(format, TCommandLine(CommandLine.Arguments), Store, *EngineObject);
  if (DebugMode && !reading.DebugMessage.empty()) StartupMessages.push_back(Q(reading.DebugMessage));
  // A key that cannot be used keeps its stored value; the user is told.
  if (!reading.Error.empty()) StartupMessages.push_back(Q(reading.Error));
  if (QRadioButton *radio = FormatRadio(format)) radio->setChecked(true);
  UpdateControls();
}

void Tmain::BuildControls() {
  Scale = std::max(1.0, QFontInfo(font()).pixelSize() / kDesignFontPixels);
  // A screen smaller than the window (a large scale on a small screen): the
  // controls scroll inside it, so that none is out of reach.
  if (const QScreen *display = screen()) {
    const QSize room = display->availableGeometry().size();
    if (Scaled(kWidth) + FrameSize().width() > room.width() || Scaled(kHeight) + FrameSize().height() > room.height()) {
      Scroller = new QScrollArea(this);
      Scroller->setObjectName("Scroller");
      Scroller->setFrameShape(QFrame::NoFrame);
      Scroller->setWidget(new QWidget);
      Scroller->widget()->setObjectName("Page");
      Page = Scroller->widget();
    }
  }
  SetPageSize(Scaled(kWidth), Scaled(kHeight));
  QWidget *const page = Page;

  cbLang = Make<QComboBox>(page, "cbLang", 392, 4, 142, 24);
  for (const char *item : kLanguages) cbLang->addItem(QString::fromUtf8(item));

  gbSourceFiles = Make<QGroupBox>(page, "gbSourceFiles", 8, 30, 526, 84);
  lInputFiles = Make<QLabel>(gbSourceFiles, "lInputFiles", 10, 18, 420, 60);
  lInputFiles->setAlignment(Qt::AlignCenter);
  lInputFiles->setWordWrap(true);
  lInputFiles->setCursor(Qt::PointingHandCursor);  // a click chooses sources
  bInfo = Make<QPushButton>(gbSourceFiles, "bInfo", 440, 32, 76, 28);
  bInfo->setEnabled(false);

  gbDestFolder = Make<QGroupBox>(page, "gbDestFolder", 8, 118, 526, 80);
  cbSameAsSource = Make<QCheckBox>(gbDestFolder, "cbSameAsSource", 10, 20, 200, 20);
  cbCreateFull = Make<QCheckBox>(gbDestFolder, "cbCreateFull", 220, 20, 296, 20);
  cbCreateFull->setChecked(true);
  eDestinationFolder = Make<QLabel>(gbDestFolder, "eDestinationFolder", 10, 46, 470, 26);
  eDestinationFolder->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  eDestinationFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);
  bBrowseForFolder = Make<QPushButton>(gbDestFolder, "bBrowseForFolder", 486, 46, 30, 26);
  bBrowseForFolder->setText("...");

  gbPreprocess = Make<QGroupBox>(page, "gbPreprocess", 8, 202, 526, 50);
  cbEnablePreprocess = Make<QCheckBox>(gbPreprocess, "cbEnablePreprocess", 10, 22, 300, 20);
  bPreprocessOptions = Make<QPushButton>(gbPreprocess, "bPreprocessOptions", 406, 17, 110, 28);

  gbDestFormat = Make<QGroupBox>(page, "gbDestFormat", 8, 256, 526, 128);
  // One button per format in the order of the codes, five to a row; a
  // Settings button under each format that has a dialog.
  int place = 0;
  for (const TFormatRow *row : FormatRowsByCode()) {
    const std::string name = row->Name;
    const int x = 10 + place % 5 * 102, y = 18 + place / 5 * 54;
    ++place;
    TFormatButton button{row->Code, Make<QRadioButton>(gbDestFormat, ("rb" + name).c_str(), x, y, 96, 20), nullptr};
    button.Radio->setText(Q(name));
    if (HasFormatDialog(row->Code)) {
      button.Settings = Make<QPushButton>(gbDestFormat, ("b" + name + "Options").c_str(), x, y + 24, 96, 26);
      connect(button.Settings, &QPushButton::clicked, this, [this, code = row->Code] { FormatSettingsClick(code); });
    }
    connect(button.Radio, &QAbstractButton::clicked, this, [this] { UpdateControls(); });
    FormatButtons.push_back(button);
  }
  // The names code elsewhere knows the first formats' buttons by.
  rbMP3 = FormatRadio(dfMP3), rbWMA = FormatRadio(dfWMA), rbOGG = FormatRadio(dfOGG), rbAPE = FormatRadio(dfAPE);
  rbFLAC = FormatRadio(dfFLAC), rbWavPack = FormatRadio(dfWavPack), rbAAC = FormatRadio(dfAAC), rbWAV = FormatRadio(dfWAV);
  bMP3Options = SettingsButton(dfMP3), bWMAOptions = SettingsButton(dfWMA), bOGGOptions = SettingsButton(dfOGG);
  bAPEOptions = SettingsButton(dfAPE), bFLACOptions = SettingsButton(dfFLAC);
  bWavPackOptions = SettingsButton(dfWavPack), bAACOptions = SettingsButton(dfAAC);
  rbFLAC->setChecked(true);

  gbProgress = Make<QGroupBox>(page, "gbProgress", 8, 388, 526, 96);
  lProgress1 = Make<QLabel>(gbProgress, "lProgress1", 10, 16, 506, 18);
  lTimeElapsed = Make<QLabel>(gbProgress, "lTimeElapsed", 10, 72, 506, 18);
  lTimeElapsed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  pbCurrent = Make<QProgressBar>(gbProgress, "pbCurrent", 10, 36, 506, 14);
  pbCurrent->setRange(0, 100);
  pbCurrent->setTextVisible(false);
  lCurrentFile = Make<QLabel>(gbProgress, "lCurrentFile", 10, 52, 506, 18);
  lCurrentFile->setAlignment(Qt::AlignCenter);
  for (QLabel *l : {lProgress1, lTimeElapsed, lCurrentFile}) l->setText("...");
  bOpenFolder = Make<QPushButton>(gbProgress, "bOpenFolder", 366, 51, 150, 20);
  bOpenFolder->hide();

  bUP = Make<QPushButton>(page, "bUP", 8, 490, 26, 26);
  bUP->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
  bDN = Make<QPushButton>(page, "bDN", 36, 490, 26, 26);
  bDN->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
  bUP->setEnabled(false);
  bDN->setEnabled(false);
  bOptions = Make<QPushButton>(page, "bOptions", 78, 488, 110, 30);
  bAbout = Make<QPushButton>(page, "bAbout", 192, 488, 110, 30);
  bStart = Make<QPushButton>(page, "bStart", 310, 488, 110, 30);
  bStart->setDefault(true);
  bStart->setEnabled(false);
  bClose = Make<QPushButton>(page, "bClose", 424, 488, 110, 30);

  // The window sees its controls' keys first (Enter, Escape, F11, Ctrl+O), a
  // press on the destination field or the drop area, and the second click of
  // a double click on Start.
  for (QWidget *child : findChildren<QWidget *>()) child->installEventFilter(this);

  connect(bStart, &QPushButton::clicked, this, [this] { bStartClick(); });
  connect(bClose, &QPushButton::clicked, this, [this] { close(); });
  connect(bBrowseForFolder, &QPushButton::clicked, this, [this] { bBrowseForFolderClick(); });
  connect(bUP, &QPushButton::clicked, this, [this] { bUPClick(); });
  connect(bDN, &QPushButton::clicked, this, [this] { bDNClick(); });
  connect(bAbout, &QPushButton::clicked, this, [this] { bAboutClick(); });
  connect(bInfo, &QPushButton::clicked, this, [this] { bInfoClick(); });
  connect(bOptions, &QPushButton::clicked, this, [this] { bOptionsClick(); });
  connect(bPreprocessOptions, &QPushButton::clicked, this, [this] { bPreprocessOptionsClick(); });
  connect(bOpenFolder, &QPushButton::clicked, this, [this] {
    const std::string folder = OutputsFolder();
    if (!OpenUrl(QUrl::fromLocalFile(Q(folder)))) ShowMessage(Q(FormatText(text_no_file_manager, folder)));
  });
  connect(cbLang, &QComboBox::activated, this, [this] { cbLangChange(); });
  for (QAbstractButton *b : std::initializer_list<QAbstractButton *>{cbSameAsSource, cbEnablePreprocess})
    connect(b, &QAbstractButton::clicked, this, [this] { UpdateControls(); });
}

QSize Tmain::FrameSize() const {
  // Until the window is shown its frame is unknown: the style's title bar and
  // a thin border stand for it.
  const QSize frame = frameGeometry().size() - size();
  const QSize guess(8, style()->pixelMetric(QStyle::PM_TitleBarHeight) + 8);
  return frame.height() > guess.height() / 2 ? frame : frame.expandedTo(guess);
}

void Tmain::SetPageSize(int Width, int Height) {
  if (!Scroller) {
    setFixedSize(Width, Height);
    return;
  }
  Page->setFixedSize(Width, Height);
  // As much of the page as the screen has room for; scroll bars for the rest.
  const QSize room = screen()->availableGeometry().size() - FrameSize();
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  int width = Width, height = Height;
  if (height > room.height()) {
    height = room.height();
    width += bar;
  }
  if (width > room.width()) {
    width = room.width();
    height = std::min(height + bar, room.height());
  }
  setFixedSize(width, height);
  Scroller->setGeometry(0, 0, width, height);
}

void Tmain::ShowDestination() {
  // A long path keeps both its start and its last folders; the tooltip has it whole.
  const QString path = Q(Destination);
  const int room = eDestinationFolder->contentsRect().width() - 2 * eDestinationFolder->margin() - 4;
  eDestinationFolder->setText(eDestinationFolder->fontMetrics().elidedText(path, Qt::ElideMiddle, room));
  eDestinationFolder->setToolTip(path);
}

void Tmain::LoadSettings() {
  const TGeneralSettings g = LoadGeneralSettings(Store);
  StoredFormatName = g.DestinationFormat;
  Destination = g.Destination;
  ShowDestination();
  // The stored format's button; an unknown name leaves them all cleared.
  const TDestinationFormat format = DestinationFormatFromName(g.DestinationFormat);
  for (const TFormatButton &b : FormatButtons) {
    b.Radio->setAutoExclusive(false);
    b.Radio->setChecked(b.Format == format);
    b.Radio->setAutoExclusive(true);
  }
  cbCreateFull->setChecked(g.CreateFullPath);
  cbSameAsSource->setChecked(g.UseFromSource);
  cbEnablePreprocess->setChecked(g.Preprocess);
  LoadFormatOptions(Store, *EngineObject);
  PreprocessOptions = LoadPreprocessOptions(Store);
  EngineObject->SetPreprocessOptions(PreprocessOptions);
  ProgramOptions = LoadProgramOptions(Store);
  // A refusal is no reason for a box before the window: the status line says it.
  PriorityRefused = !ApplyPriority(ProgramOptions.Priority);
  LanguageCode = g.Language;
  cbLang->setCurrentIndex(-1);
  for (int i = 0; i < cbLang->count(); ++i)
    if (cbLang->itemText(i).left(2).toStdString() == LanguageCode) {
      cbLang->setCurrentIndex(i);
      break;
    }
}

void Tmain::SaveGeneralSettings() {
  TGeneralSettings g;
  g.Destination = Destination;
  // No button checked (a stored name this program does not know): keep that name.
  const TDestinationFormat format = CheckedFormat();
  g.DestinationFormat = format ? DestinationFormatName(format) : StoredFormatName;
  g.CreateFullPath = cbCreateFull->isChecked();
  g.UseFromSource = cbSameAsSource->isChecked();
  g.Preprocess = cbEnablePreprocess->isChecked();
  g.Language = LanguageCode;
  if (const std::string failure = Store.WriteSettings(GeneralSettingsRecords(g)); !failure.empty())
    ShowMessage(Q(failure));
}

QRadioButton *Tmain::FormatRadio(TDestinationFormat Format) const {
  for (const TFormatButton &b : FormatButtons)
    if (b.Format == Format) return b.Radio;
  return nullptr;
}

QPushButton *Tmain::SettingsButton(TDestinationFormat Format) const {
  for (const TFormatButton &b : FormatButtons)
    if (b.Format == Format) return b.Settings;
  return nullptr;
}

TDestinationFormat Tmain::CheckedFormat() const {
  for (const TFormatButton &b : FormatButtons)
    if (b.Radio->isChecked()) return b.Format;
  return 0;
}

std::vector<QWidget *> Tmain::JobControls() const {
  std::vector<QWidget *> controls = {bInfo, cbCreateFull, bBrowseForFolder, bClose, eDestinationFolder,
                                     cbEnablePreprocess, bPreprocessOptions, cbSameAsSource, cbLang, lInputFiles};
  for (const TFormatButton &b : FormatButtons) {
    controls.push_back(b.Radio);
    if (b.Settings) controls.push_back(b.Settings);
  }
  return controls;
}

void Tmain::UpdateControls() {
  // A format without an encoder in this program cannot be chosen.
  for (const TFormatButton &b : FormatButtons) {
    b.Radio->setEnabled(HasEncoder(b.Format));
    if (b.Settings) b.Settings->setEnabled(b.Radio->isChecked() && b.Radio->isEnabled());
  }
  bPreprocessOptions->setEnabled(cbEnablePreprocess->isChecked());
  const bool ownFolder = !cbSameAsSource->isChecked();
  eDestinationFolder->setEnabled(ownFolder);
  bBrowseForFolder->setEnabled(ownFolder);
  cbCreateFull->setEnabled(ownFolder);
  ExplainDisabled();
}

void Tmain::ExplainDisabled() {
  auto why = [&](QWidget *w) -> std::string {
    if (w == bUP || w == bDN) return IsProcessing ? "" : text_tip_only_running;
    if (IsProcessing) return text_tip_while_running;
    if (w == bStart || w == bInfo) return text_tip_add_sources;
    if (w == bPreprocessOptions) return text_tip_enable_preprocess;
    if (w == bBrowseForFolder || w == cbCreateFull) return text_tip_same_as_source;
    for (const TFormatButton &b : FormatButtons)
      if (w == b.Settings) return b.Radio->isEnabled() ? text_tip_choose_format : text_tip_no_encoder;
    return text_tip_no_encoder;  // a format button
  };
  std::vector<QWidget *> controls = JobControls();
  controls.insert(controls.end(), {bStart, bUP, bDN});
  for (QWidget *w : controls)
    if (w != eDestinationFolder && w != lInputFiles)  // the path's tooltip; no greyed look
      w->setToolTip(w->isEnabled() ? QString() : Q(why(w)));
}

QString Tmain::SourceFilter() {
  QStringList patterns;
  for (const auto &type : InputFileTypes)
    if (IsSupportedFileType(type.Extension))
      patterns << "*." + Q(type.Extension) << "*." + Q(type.Extension).toUpper();
  patterns.removeDuplicates();
  return Q(text_audio_files) + " (" + patterns.join(' ') + ")";
}

void Tmain::AddSourcesClick(bool Folder, bool CtrlHeld) {
  if (IsProcessing) return;
  std::vector<std::string> paths;
  if (Folder) {
    if (const QString folder = ChooseSourceFolder(); !folder.isEmpty()) paths.push_back(folder.toStdString());
  } else {
    for (const QString &file : ChooseFiles(SourceFilter())) paths.push_back(file.toStdString());
  }
  if (!paths.empty())
    SourceFolder = Folder ? Q(paths.front()) : QFileInfo(Q(paths.front())).absolutePath();
  DropFiles(paths, CtrlHeld);  // the same rules as a drop
}

void Tmain::ApplyLanguage() {
  std::vector<std::string> missing;
  try {
    LoadLanguage(LanguageIndex(LanguageCode), [&](const std::string &id) { missing.push_back(id); });
  } catch (const std::exception &e) {
    FatalError(e.what(), ReportErrors);
    return;
  }
  LoadQtTexts();
  if (!missing.empty()) {
    QString list;
    for (const std::string &id : missing)
      list += QString::fromStdString(id).toUpper() + " " + QString::fromStdString(id) + "\n";
    ShowMessage(list.trimmed());
  }
  ApplyTexts({bAbout, bStart, bClose, bOptions, bInfo},
             {&text_about, &text_start, &text_close, &text_options, &text_info}, false, 4);
  std::vector<QWidget *> settingsButtons = {bPreprocessOptions};
  for (const TFormatButton &b : FormatButtons)
    if (b.Settings) settingsButtons.push_back(b.Settings);
  ApplyTexts(settingsButtons, {&text_settings}, false, 0);
  ApplyTexts({gbProgress, gbDestFormat, gbDestFolder, gbSourceFiles, gbPreprocess, cbEnablePreprocess},
             {&text_progress, &text_dest_format, &text_dest_folder, &text_source_files, &text_preprocess,
              &text_enable},
             true, 5);
  ApplyTexts({lInputFiles, cbSameAsSource, cbCreateFull}, {&text_drag_files, &text_same_as_source, &text_create_full},
             false, 2);
  bOpenFolder->setText(Q(text_open_folder));
  lInputFiles->setToolTip(Q(text_tip_add_files));
  if (IsProcessing) bStart->setText(Q(text_cancel));
  ShowSourceSummary(int(SourceFiles.List().size()));
}

void Tmain::LoadQtTexts() {
  // Qt's own dialogs (file choosers, the buttons of message boxes) speak the
  // window's language too, from Qt's translations as the system installs them.
  // The window's language codes are the languages' own, in capitals.
  if (QtTexts) QCoreApplication::removeTranslator(QtTexts.get());
  QtTexts.reset();
  auto texts = std::make_unique<QTranslator>();
  if (texts->load("qtbase_" + Q(LanguageCode).toLower(), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(texts.get());
    QtTexts = std::move(texts);
  }
}

void Tmain::ShowSourceSummary(int Count) {
  InfoCancelled = false;
  ShowOpenFolder(false);
  // Sheets are split into their tracks unless silences split the sources instead.
  const bool preprocess = cbEnablePreprocess->isChecked();
  const int outputs = preprocess && PreprocessOptions.SplitBySilence
                          ? Count
                          : SourceFiles.OutputCount({preprocess && PreprocessOptions.HiddenTrack});
  if (Count == 0) {
    lInputFiles->setText(Q(text_drag_files));
    lProgress1->setText("...");
  } else {
    if (outputs == Count)
      lProgress1->setText(
          Q(FormatText(Count == 1 ? text_files_will_be_processed1 : text_files_will_be_processed, Count)));
    else
      lProgress1->setText(Q(FormatText(Count == 1 ? text_tracks_of_files_will_be_processed1
                                                  : text_tracks_of_files_will_be_processed,
                                       outputs, Count)));
    lInputFiles->setText(Q(SourceFiles.FileTypeSummary()));
  }
  bStart->setEnabled(Count > 0);
  lTimeElapsed->setText("...");
  lCurrentFile->setText("...");
  lCurrentFile->setToolTip(QString());
  pbCurrent->setValue(0);
  bInfo->setEnabled(Count >= 1);
  TitleText = QString("TONMILL ") + ProgramVersion;
  setWindowTitle(TitleText);
  ExplainDisabled();
}

void Tmain::ShowProcessedCount(int Count, int Outputs) {
  if (Outputs < 0 || Outputs == Count)
    lProgress1->setText(Q(FormatText(Count == 1 ? text_files_were_processed1 : text_files_were_processed, Count)));
  else  // sheets or silences made tracks of the sources
    lProgress1->setText(Q(FormatText(
        Count == 1 ? text_tracks_of_files_were_processed1 : text_tracks_of_files_were_processed, Outputs, Count)));
}

void Tmain::ShowOpenFolder(bool Shown) {
  // The line that says where the outputs are makes room for the button beside it.
  bOpenFolder->setVisible(Shown);
  const int right = Shown ? bOpenFolder->x() - 6 : bOpenFolder->geometry().right();
  lCurrentFile->resize(right - lCurrentFile->x() + 1, lCurrentFile->height());
}

void Tmain::ShowRunEnd(bool Failed) {
  const TCoder_engine &engine = *EngineObject;
  const TRunCounts c = engine.Counts(Failed);
  if (c.Converted == c.Outputs && !Failed && engine.SkippedCount > 0)
    lProgress1->setText(Q(FormatText(text_run_skipped, c.Converted, c.Outputs + engine.SkippedCount,
                                     engine.SkippedCount)));
  else if (c.Converted == c.Outputs && !Failed)
    ShowProcessedCount(engine.FileCount(), c.Outputs);
  else
    lProgress1->setText(Q(FormatText(text_run_counts, c.Converted, c.Outputs, c.Failed, c.Stopped)));
  ShowOpenFolder(!engine.SameAsSource && IsFolder(OutputsFolder()));
  if (engine.SameAsSource) {
    lCurrentFile->setText(Q(text_outputs_beside_sources));
    lCurrentFile->setToolTip(QString());
  } else {
    const QString folder = Q(OutputsFolder());
    const QFontMetrics metrics(lCurrentFile->font());
    const int room = lCurrentFile->width() - 4 - metrics.horizontalAdvance(Q(FormatText(text_outputs_in, std::string())));
    lCurrentFile->setText(
        Q(FormatText(text_outputs_in, metrics.elidedText(folder, Qt::ElideMiddle, room).toStdString())));
    lCurrentFile->setToolTip(folder);
  }
}

std::string Tmain::OutputsFolder() const {
  // With full paths the outputs may lie deeper than the destination.
  const TCoder_engine &engine = *EngineObject;
  return engine.OutputsFolder.empty() ? engine.GetDestinationFolder() : engine.OutputsFolder;
}

void Tmain::DropFiles(const std::vector<std::string> &Paths, bool CtrlHeld) {
  if (IsProcessing || Paths.empty()) return;
  activateWindow();
  raise();
  bool clearFirst = !CtrlHeld;
  if (clearFirst) SourceFiles.BadSheets.clear();  // they belong to the list they were dropped with
  for (const std::string &path : Paths) {
    const int added = IsFolder(path) ? SourceFiles.AddSourceFolder(path, "*", clearFirst, true)
                                             : SourceFiles.AddSourceFile(path, clearFirst);
    if (added > 0) clearFirst = false;  // the old list is gone once a file was kept
  }
  SourceFiles.Sort();
  ShowSourceSummary(int(SourceFiles.List().size()));
  if (const QString missing = SheetsWithoutAudioText(); !missing.isEmpty()) ShowMessage(missing);
}

QString Tmain::SheetsWithoutAudioText() {
  // A sheet left out is said, not silently dropped; once.
  const std::vector<std::string> sheets = std::exchange(SourceFiles.SheetsWithoutAudio, {});
  if (sheets.empty()) return {};
  std::string text = text_sheets_without_audio;
  for (const std::string &sheet : sheets) text += "\n" + sheet;
  return Q(text);
}

void Tmain::bStartClick() {
  if (StartTag == 1) {  // cancel, while Run is active further up the stack
    EngineObject->Cancel();
    StartTag = 0;
    bStart->setText(Q(text_start));
    // Run is still winding down further up the stack: no new run inside it.
    bStart->setEnabled(false);
    return;
  }
  if (IsProcessing) return;
  const TDestinationFormat format = CheckedFormat();
  if (!format || !HasEncoder(format)) {
    ShowMessage(Q(text_choose_format));
    return;
  }
  if (Destination.empty() && !cbSameAsSource->isChecked()) {
    ShowMessage(Q(text_choose_folder));
    bBrowseForFolderClick();
    if (Destination.empty()) return;
  }
  // One message before anything starts, not one failure per file after.
  if (!cbSameAsSource->isChecked())
    if (const int error = DestinationError(Destination)) {
      ShowMessage(Q(FormatText(text_cannot_write_destination, Destination, WritingReason(error))));
      return;
    }
  // A pattern from a settings file edited by hand: said before anything starts.
  if (std::string bad; ProgramOptions.UseNamePattern && !CheckNamePattern(ProgramOptions.NamePattern, bad)) {
    ShowMessage(Q(bad.empty() ? FormatText(text_name_pattern_empty, ProgramOptions.NamePattern, std::string(kNameFields))
                              : FormatText(text_name_pattern_unknown, ProgramOptions.NamePattern, bad,
                                           std::string(kNameFields))));
    return;
  }
  bStart->setText(Q(text_cancel));
  StartTag = 1;
  IsProcessing = true;
  ShowOpenFolder(false);  // the last run's folder is not this run's
  // Nothing of the last run stays: a run that converts nothing shows no old bar or times.
  pbCurrent->setValue(0);
  lTimeElapsed->setText(ZeroTimes());
  lCurrentFile->setText("...");
  lCurrentFile->setToolTip(QString());
  setAcceptDrops(false);
  for (QWidget *control : JobControls()) control->setEnabled(false);
  bUP->setEnabled(true);
  if (ProgramOptions.AutoReduce && bUP->isEnabled()) bUPClick();
  ExplainDisabled();

  TCoder_engine &engine = *EngineObject;
  try {
    engine.Reset();
    engine.InitBASS();
    engine.SetSourceList(&SourceFiles.List());
    engine.ListFailures = SourceFiles.BadSheets;
    engine.SetDestinationFormat(format);
    engine.SetDestinationFolder(Destination);
    engine.SameAsSource = cbSameAsSource->isChecked();
    engine.CreateFullPath = cbCreateFull->isChecked();
    engine.Preprocess = cbEnablePreprocess->isChecked();
    engine.KeepPartial = ProgramOptions.KeepPartial;
    engine.KeepGoing = ProgramOptions.KeepGoing;
    engine.SkipExisting = ProgramOptions.SkipExisting;
    engine.WriteTags = ProgramOptions.WriteTags;
    engine.Verify = ProgramOptions.Verify;
    engine.SpreadOverCores = ProgramOptions.SpreadOverCores;
    engine.CopyFiles = ProgramOptions.CopyFiles;
    engine.CopyPatterns = ProgramOptions.CopyPatterns;
    engine.ReplayGain = ProgramOptions.ReplayGain;
    engine.UseNamePattern = ProgramOptions.UseNamePattern;
    engine.NamePattern = ProgramOptions.NamePattern;
    engine.OnProgress = [this](const TProgressRec &rec) { OnProgress(rec); };
    engine.ThreadCount = ThreadCountFor(ProgramOptions, engine.GetDestinationFormat());
  } catch (const std::exception &e) {
    IsProcessing = false;
    ShowMessage(Q(fmt::sprintf("Error %s occurred. Closing program.", e.what())));
    FinishJob();
    close();
    return;
  }
  try {
    const int result = engine.Run();
    ShowRunEnd(false);
    // Sources converted only as far as they decoded, covers left out, and
    // outputs converted to what their encoder takes, named once the run is over.
    if (result != 2 && !engine.Warnings.empty()) {
      std::string text = lProgress1->text().toStdString() + "\n";
      for (const TThreadWarningRec &warning : engine.Warnings) text += "\n" + WarningText(warning);
      ShowMessage(Q(text));
    }
  } catch (const std::exception &e) {
    ShowRunEnd(true);
    if (std::string(e.what()) == CoderEngineError && !engine.Failures.empty()) {
      // Which files failed and why, then the technical lines.
      ShowError(FailureReport(engine.Failures, engine.ErrorText));
    } else {
      const std::string summary = FormatText(text_encoder_error, std::string(), 0, std::string());
      ShowError(ErrorReportText(e.what(), summary + " " + engine.ErrorText, "", ""));
    }
  }
  FinishJob();
  if (std::exchange(CloseAfterRun, false)) close();
}

void Tmain::FinishJob() {
  for (QWidget *control : JobControls()) control->setEnabled(true);
  IsProcessing = false;
  setAcceptDrops(true);
  StartTag = 0;
  bStart->setText(Q(text_start));
  bStart->setEnabled(!SourceFiles.List().empty());
  bUP->setEnabled(false);
  bDN->setEnabled(false);
  if (Reduced()) bDN->setEnabled(true);
  if (ProgramOptions.AutoReduce && Reduced()) bDNClick();
  setWindowTitle(TitleText);  // a run's percentage is over with it
  UpdateControls();
}

void Tmain::SetCurrentFile(const QString &Text) {
  // Too long for the label: keep the end, after "...".
  const QFontMetrics metrics(lCurrentFile->font());
  const int room = lCurrentFile->width() - 4;
  QString shown = Text;
  if (metrics.horizontalAdvance(shown) > room) {
    QString rest = Text;
    while (!rest.isEmpty() && metrics.horizontalAdvance("..." + rest) >= room) rest.remove(0, 1);
    shown = "..." + rest;
  }
  lCurrentFile->setText(shown);
}

void Tmain::OnProgress(const TProgressRec &Rec) {
  Last = Rec;
  if (Rec.Stage == stGatheringInfo) {
    lProgress1->setText(Q(text_gathering_audio_info));
    pbCurrent->setValue(Rec.Percent);
    lTimeElapsed->setText("...");
    lCurrentFile->setText("...");
    return;
  }
  if (Rec.Stage == stSeekingSilence)
    lProgress1->setText(Q(fmt::sprintf("Seeking for silence in file %d of %d", Rec.JobNumber, Rec.JobCount)));
  else if (Rec.Stage == stWholeSource || Rec.Stage == stTrack) {
    // Reports of several workers interleave: the line counts the jobs started, which only grows.
    if (Rec.SlotCount >= 1)
      lProgress1->setText(Q(FormatText(Rec.JobCount == EngineObject->FileCount() ? text_processing : text_processing_track,
                                       std::clamp(EngineObject->StartedCount, 1, std::max(1, Rec.JobCount)), Rec.JobCount)));
  } else {
    return;
  }
  // Several slots: the line holds each file's own percentage, not the output's name.
  SetCurrentFile(Q(Rec.SlotCount > 1 ? FormatText(text_files_now_converting, Rec.OutputFileName) : Rec.OutputFileName));
  pbCurrent->setValue(std::clamp(Rec.Percent, 0, 100));
  // The title only: an application display name would follow every dialog's title.
  setWindowTitle(Q(fmt::sprintf("%s - %s", TitleText.toStdString(), FormatText(text_done, Rec.Percent))));
  lTimeElapsed->setText(Q(fmt::sprintf("%s : %s / %s : %s", text_time_elapsed, Rec.ElapsedTime,
                                       text_time_remaining, Rec.RemainingTime)));
}

void Tmain::bBrowseForFolderClick() {
  const QString start = IsFolder(Destination) ? Q(Destination) : QString();
  const QString chosen = ChooseFolder(start);
  if (chosen.isEmpty()) return;
  Destination = chosen.toStdString();
  if (Destination.back() != '/') Destination += '/';
  ShowDestination();
  SaveGeneralSettings();
}

void Tmain::bUPClick() {
  FullHeight = Page->height();
  ProgressTop = gbProgress->y();
  const int top = gbSourceFiles->y();
  gbProgress->move(gbProgress->x(), top);
  for (QGroupBox *g : {gbDestFormat, gbDestFolder, gbSourceFiles, gbPreprocess}) g->hide();
  const int height = top + gbProgress->height() + 8 + bStart->height() + 6;
  for (QWidget *w : std::initializer_list<QWidget *>{bUP, bDN, bOptions, bAbout, bStart, bClose})
    w->move(w->x(), w->y() - (FullHeight - height));
  SetPageSize(Page->width(), height);
  bUP->setEnabled(false);
  bDN->setEnabled(true);
}

void Tmain::bDNClick() {
  if (!Reduced()) return;
  const int shift = FullHeight - Page->height();
  SetPageSize(Page->width(), FullHeight);
  for (QWidget *w : std::initializer_list<QWidget *>{bUP, bDN, bOptions, bAbout, bStart, bClose})
    w->move(w->x(), w->y() + shift);
  gbProgress->move(gbProgress->x(), ProgressTop);
  for (QGroupBox *g : {gbDestFormat, gbDestFolder, gbSourceFiles, gbPreprocess}) g->show();
  FullHeight = 0;
  bUP->setEnabled(IsProcessing);
  bDN->setEnabled(false);
}

void Tmain::FormatSettingsClick(TDestinationFormat Format) {
  const std::unique_ptr<TFormatDialog> dialog = NewFormatDialog(Format, Store, *EngineObject, this);
  if (dialog && dialog->Run() && !dialog->SaveProblem.empty()) ShowMessage(Q(dialog->SaveProblem));
}

void Tmain::bAboutClick() {
  TfrmAbout about(this);
  about.exec();
}

void Tmain::bOptionsClick() {
  RunProgramOptions(this, Store, ProgramOptions, IsProcessing, [this](const std::string &t) { ShowMessage(Q(t)); });
}

void Tmain::bPreprocessOptionsClick() {
  if (!RunPreprocessOptions(this, Store, PreprocessOptions, [this](const std::string &t) { ShowMessage(Q(t)); }))
    return;
  EngineObject->SetPreprocessOptions(PreprocessOptions);
  if (!IsProcessing) ShowSourceSummary(int(SourceFiles.List().size()));  // split or not changes the count
}

void Tmain::cbLangChange() {
  const QString item = cbLang->currentText();
  LanguageCode = item.size() < 2 ? "EN" : item.left(2).toStdString();
  ApplyLanguage();
}

void Tmain::closeEvent(QCloseEvent *event) {
  if (IsProcessing) {  // the job must stop first: say so, and offer to cancel it
    event->ignore();
    if (StartTag != 1 || !Ask(Q(text_ask_cancel_run))) return;
    if (StartTag == 1) {  // still running once the user has answered: closes when it has stopped
      CloseAfterRun = true;
      bStartClick();
    } else if (!IsProcessing) {  // it ended while the question was open
      QTimer::singleShot(0, this, [this] { close(); });
    }
    return;
  }
  try {
    SaveGeneralSettings();
  } catch (const std::exception &e) {
    ShowMessage(Q(e.what()));
  }
  event->accept();
}

void Tmain::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  // What the command line had to say, once the window is there to say it over.
  for (const QString &text : std::exchange(StartupMessages, {})) ShowMessage(text);
}

void Tmain::dragEnterEvent(QDragEnterEvent *event) {
  if (!IsProcessing && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void Tmain::dropEvent(QDropEvent *event) {
  std::vector<std::string> paths;
  for (const QUrl &url : event->mimeData()->urls())
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  DropFiles(paths, QGuiApplication::keyboardModifiers() & Qt::ControlModifier);
  event->acceptProposedAction();
}

bool Tmain::WindowKey(QObject *Target, const QKeyEvent &Event) {
  if (Event.key() == Qt::Key_O && (Event.modifiers() & Qt::ControlModifier) &&
      !(Event.modifiers() & ~(Qt::ControlModifier | Qt::ShiftModifier))) {
    if (!Event.isAutoRepeat()) AddSourcesClick(Event.modifiers() & Qt::ShiftModifier);
    return true;
  }
  if (Event.modifiers() & ~Qt::KeypadModifier) return false;
  switch (Event.key()) {
    case Qt::Key_Escape:
      if (StartTag == 1) bStart->click();  // cancels the run
      else if (!IsProcessing) bClose->click();
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // A focused button is pressed; anywhere else Enter starts.
      if (!Event.isAutoRepeat()) {
        auto *button = qobject_cast<QPushButton *>(Target);
        (button && button->isEnabled() ? button : bStart)->click();  // a held key is one press
      }
      return true;
    case Qt::Key_F11:
      DumpFormTexts(this);
      return true;
    default:
      return false;
  }
}

void Tmain::keyPressEvent(QKeyEvent *event) {
  if (!WindowKey(this, *event)) QWidget::keyPressEvent(event);
}

bool Tmain::eventFilter(QObject *watched, QEvent *event) {
  switch (event->type()) {
    case QEvent::KeyPress:  // not for a control's own pop-up (the language list)
      if (watched->isWidgetType() && static_cast<QWidget *>(watched)->window() == this)
        return WindowKey(watched, *static_cast<QKeyEvent *>(event));
      break;
    case QEvent::MouseButtonPress:
      if (watched == eDestinationFolder && eDestinationFolder->isEnabled() &&
          static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        bBrowseForFolderClick();
        return true;
      }
      if (watched == lInputFiles && !IsProcessing && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        AddSourcesClick(false, static_cast<QMouseEvent *>(event)->modifiers() & Qt::ControlModifier);
        return true;
      }
      break;
    case QEvent::MouseButtonDblClick:
      // The second click of a double click would cancel the run the first
      // one started (or start another): a double click is one click.
      if (watched == bStart) {
        bStart->setDown(false);
        return true;
      }
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}
