// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialogs, opened from the real main window on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <functional>
#include <iterator>
#include <sstream>
#include <map>

#include "app/format_settings.h"
#include "app/windows/Unit1.h"
#include "app/windows/files_per_cpu_dialog.h"
#include "app/windows/format_dialogs.h"
#include "app/windows/preprocess_dialog.h"
#include "app/windows/program_options_dialog.h"
#include "base/texts.h"
#include "encoders/flac/flac_format.h"
#include "encoders/opus/opus_format.h"
#include "engine/name_pattern.h"
#include "test_support.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace {

constexpr TDestinationFormat kNoFormat = 0;  // the program or preprocess options

// One step on a dialog's control, by name: Set sets it as a user would, Is
// compares its value; a name ending in "?" stands for whether it can be used.
struct TStep {
  bool Set;
  std::string Control;
  TStoredValue Value;
};
TStep Set(const char *control, TStoredValue value = true) { return {true, control, value}; }
TStep Is(const char *control, TStoredValue value) { return {false, control, value}; }

void Apply(QWidget &dialog, const TStep &step) {
  const bool usable = step.Control.back() == '?';
  QWidget *w = dialog.findChild<QWidget *>(QString::fromStdString(step.Control.substr(0, step.Control.size() - usable)));
  ASSERT_NE(w, nullptr) << step.Control;
  const auto text = [&] { return QString::fromStdString(std::get<std::string>(step.Value)); };
  if (step.Set) {
    if (auto *slider = qobject_cast<QSlider *>(w)) {
      slider->setValue(std::get<int32_t>(step.Value));
    } else if (qobject_cast<QPushButton *>(w) || qobject_cast<QRadioButton *>(w)) {
      qobject_cast<QAbstractButton *>(w)->click();
    } else if (auto *box = qobject_cast<QCheckBox *>(w)) {
      if (box->isChecked() != std::get<bool>(step.Value)) box->click();
    } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
      edit->setText(text());
      emit edit->editingFinished();
    } else if (auto *list = qobject_cast<QComboBox *>(w)) {
      list->setCurrentText(text());
    }
    return;
  }
  TStoredValue now;
  if (usable) now = w->isEnabled();
  else if (auto *slider = qobject_cast<QSlider *>(w)) now = slider->value();
  else if (auto *button = qobject_cast<QAbstractButton *>(w)) now = button->isChecked();
  else if (auto *edit = qobject_cast<QLineEdit *>(w)) now = edit->text().toStdString();
  else if (auto *label = qobject_cast<QLabel *>(w)) now = label->text().toStdString();
  else if (auto *list = qobject_cast<QComboBox *>(w)) now = list->currentText().toStdString();
  EXPECT_EQ(now, step.Value) << step.Control;
}

void Apply(QWidget &dialog, const std::vector<TStep> &steps) {
  for (const TStep &step : steps) Apply(dialog, step);
}

class Dialogs : public TWindowTest {
 protected:
  void TearDown() override { EXPECT_EQ(Errors, std::vector<std::string>{}); }
  void Reopen() {
    Window.reset();
    Window = Open();
  }
  // Converts one source into Folder/out, with `tick` called every millisecond meanwhile.
  void Convert(QRadioButton *format, const std::string &source, const std::function<void()> &tick = {}) {
    ChooseOutput(format);
    Window->DropFiles({source}, false);
    QTimer timer;
    if (tick) QObject::connect(&timer, &QTimer::timeout, tick);
    timer.start(1);
    Window->bStart->click();
  }
  // What a later start of the program reads.
  TSettingsStore Stored() const { return TSettingsStore(Store->FileName()); }
  std::string SettingsFile() const { return ReadText(Store->FileName()); }
  std::map<std::string, TStoredValue> StoredValues(const TFormatRow &row) {
    const std::shared_ptr<void> record = LoadFormatOptions(row, Stored());
    std::map<std::string, TStoredValue> values;
    for (const TSaveRec &r : FormatOptionsRecords(row, record.get())) values[r.Name] = r.Value;
    return values;
  }
};

// Which controls follow which, which can be used, what a box shows for a slider.
TEST_F(Dialogs, CouplingRules) {
  ASSERT_EQ(Store->WriteSettings({{"WMAUseProCoder", true}, {"WMALoseless", true}, {"PPThreshold", 7}, {"PPSeconds", 15},
                                  {"PPResampleTo", 12345}, {"PPSplitBySilence", false}, {"PPChannels", 1},
                                  {"PPHiddenTrack", true}}),
            "");
  using TOpen = std::function<std::unique_ptr<QDialog>()>;
  const auto format = [&](TDestinationFormat code) -> TOpen {
    return [&, code] { return NewFormatDialog(code, *Store, Window->Engine()); };
  };
  struct TRow {
    std::string Name;
    TOpen Open;
    std::vector<TStep> Steps;
  };
  std::vector<TRow> rows = {
      {"MP3: the maximum follows a larger minimum", format(dfMP3),
       {Is("rbVBR", true), Is("rbJointStereo", true), Is("eCBR", "160"), Is("eVBRMax", "320"), Set("tbVBRMax", 5),
        Set("tbVBRMin", 8), Is("tbVBRMax", 8), Set("tbVBRMax", 3), Is("tbVBRMax", 8), Is("eVBRMin", "112")}},
      {"MP3: a preset locks what it decides", format(dfMP3),
       {Set("rbPreset"), Is("rbVBR", false), Is("rbCBR", false), Is("tbCBR?", false), Is("tbVBRMin?", false),
        Is("tbVBRMax?", false), Is("tbQuality?", false), Is("gbStereoMode?", false), Is("rbStereo?", false),
        Is("cbAutoFindBitrate?", false), Is("tbPreset?", true), Set("tbPreset", 6),
        Is("lPresetNote", "STANDARD — " + FormatText(text_preset_vbr, 190)), Set("rbCBR"), Is("rbPreset", false),
        Is("rbVBR", false), Is("tbCBR?", true), Is("tbQuality?", true), Is("cbAutoFindBitrate?", true),
        Is("tbPreset?", false), Is("tbVBRMin?", false)}},
      {"OGG: the bitrates stay ordered", format(dfOGG),
       {Is("rbQuality", true), Is("tbMin?", false), Is("tbAvg?", false), Is("tbMax?", false), Set("rbBitrates"),
        Is("rbQuality", false), Is("tbQuality?", false), Is("tbMin?", true), Is("tbAvg?", true), Is("tbMax?", true),
        Set("tbMin", 5), Set("tbAvg", 8), Set("tbMax", 10),
        Set("tbMin", 12), Is("tbAvg", 12), Is("tbMax", 12),  // a minimum above the average raises both
        Set("tbMax", 3), Is("tbMax", 12),                    // the maximum cannot go below the average
        Set("tbAvg", 14), Is("tbMax", 14),                   // the average raises the maximum
        Set("tbAvg", 2), Is("tbAvg", 12),                    // nor goes below the minimum
        Set("tbMax", 17), Is("tbMin", 12), Is("tbAvg", 12), Is("tbMax", 17), Is("eMax", "499"), Is("eMin", "160"),
        Set("tbQuality", 0), Is("eQuality", "-1")}},
      {"FLAC: a level fills the details; number boxes", format(dfFLAC),
       {Is("eMaxLPC", "8"), Is("eMaxRes", "5"), Is("eBlockSize", "4096"), Is("cbMidside", true),
        Set("tbCompression", 8), Is("eMaxLPC", "12"), Is("eMaxRes", "6"), Is("eCompression", "8"), Is("cbExhaust", true),
        Set("tbCompression", 1), Is("eBlockSize", "1152"), Is("cbAdaptive", true), Is("cbMidside", false),
        Is("cbExhaust", false), Set("tbCompression", 0), Set("cbAdaptive", true), Is("cbMidside", true),
        // Leaving a box: empty is 0, a number stays a number, anything else is undone.
        Set("eMaxLPC", ""), Is("eMaxLPC", "0"), Set("eMaxLPC", " 007"), Is("eMaxLPC", "7"), Set("eMaxLPC", "abc"),
        Is("eMaxLPC", "7"), Set("eMaxLPC", "33"), Is("eMaxLPC", "7"), Set("eMaxLPC", "-1"), Is("eMaxLPC", "7"),
        Set("eMaxLPC", "32"), Is("eMaxLPC", "32"), Set("eMaxLPC", "4x"), Is("eMaxLPC", "32"), Set("tbBlockSize", 1),
        Is("eBlockSize", "192")}},
      {"WavPack: hybrid or compression", format(dfWavPack),
       {Is("rbCompression", true), Is("tbHybrid?", false), Is("cbCorrection?", false), Set("rbHybrid"),
        Is("rbCompression", false), Is("tbCompression?", false), Is("tbHybrid?", true), Is("cbCorrection?", true)}},
      {"AAC: automatic values", format(dfAAC),
       {Is("eBitrate", "Auto"), Is("eBandwidth", "Auto"), Set("tbBandwidth", 3), Is("eBandwidth", "44100")}},
      // The encoder here has neither the Pro codec nor lossless WMA: shown off and disabled.
      {"WMA: quality snaps to tens, never past 98", format(dfWMA),
       {Is("rbCBR", true), Is("eCBR", "160"), Is("tbVBR?", false), Is("cbUsePro", false), Is("cbUsePro?", false),
        Is("cbLoseless", false), Is("cbLoseless?", false), Set("rbVBR"), Is("rbCBR", false), Is("tbCBR?", false),
        Is("tbVBR?", true), Set("tbVBR", 95), Is("tbVBR", 98), Is("eVBR", "98"), Set("tbVBR", 25), Is("tbVBR", 20),
        Set("tbVBR", 15), Is("tbVBR", 20), Set("tbVBR", 35), Is("tbVBR", 40), Set("tbVBR", 94), Is("tbVBR", 90),
        Set("tbVBR", 96), Is("tbVBR", 98), Set("tbVBR", 10), Is("tbVBR", 10), Set("tbVBR", 61), Is("eVBR", "60"),
        Set("tbCBR", 2), Is("eCBR", "5")}},
      {"preprocess: stored values that are no item; lists follow their boxes",
       [&] { return std::make_unique<TfrmPreprocessOptions>(LoadPreprocessOptions(*Store), Window.get()); },
       {Is("cmThreshold", ""), Is("cmSeconds", "1.5"), Is("cmResampleTo", ""), Is("eChannels", "1"),
        Is("cbHiddenTrack", true), Is("cbPregapOwnTrack", false), Is("cmThreshold?", false), Is("cmSeconds?", false),
        Is("cmResampleTo?", false), Set("cbSplitBySilence", true), Set("cbResample", true), Is("cmThreshold?", true),
        Is("cmSeconds?", true), Is("cmResampleTo?", true), Set("tbChannels", 0), Is("eChannels", text_source),
        Set("tbChannels", 2), Is("eChannels", "2")}},
  };
  // Program options: which parallel-file controls can be used, idle and
  // during a run (the priority always can); switching the mode by hand.
  for (const bool running : {false, true})
    for (const bool simple : {false, true}) {
      TProgramOptions options;
      options.SimpleParallelFiles = simple;
      options.ParallelFiles = 5;
      std::vector<TStep> steps = {Is("tbNPF?", !running && simple), Is("bSetAdvanced?", !running && !simple),
                                  Is("tbPriority?", true), Is("eTPC", "5"), Is("cbWriteTags", true),
                                  Is("cbSpreadOverCores", true)};
      for (const char *idle : {"cbSimple?", "cbAdvanced?", "cbReduce?", "cbKeepPartial?", "cbKeepGoing?",
                               "cbSkipExisting?", "cbWriteTags?", "cbVerify?", "cbSpreadOverCores?",
                               "cbCopyFiles?", "cbReplayGain?"})
        steps.push_back(Is(idle, !running));
      // The patterns count only with the box checked.
      steps.insert(steps.end(), {Is("eCopyPatterns?", false), Set("cbCopyFiles", true), Is("eCopyPatterns?", !running)});
      steps.insert(steps.end(), {Set(simple ? "cbAdvanced" : "cbSimple"), Is("tbNPF?", !running && !simple),
                                 Is("bSetAdvanced?", !running && simple), Set("tbNPF", 16), Is("eTPC", "16")});
      rows.push_back({std::string("program options, ") + (running ? "running, " : "idle, ") + (simple ? "simple" : "advanced"),
                      [=, this] { return std::make_unique<TfrmOptions>(options, running, Window.get()); }, steps});
    }
  // The name pattern can be edited only when used; the dialog says what is wrong with it.
  rows.push_back({"name pattern", [this] { return std::make_unique<TfrmOptions>(TProgramOptions{}, false, Window.get()); },
                  {Is("cbUseNamePattern", false), Is("eNamePattern?", false), Is("eNamePattern", kDefaultNamePattern),
                   Set("cbUseNamePattern", true), Is("eNamePattern?", true), Set("eNamePattern", "<artist>/<titel>"),
                   Is("lNameFields", FormatText(text_name_pattern_unknown, std::string("<artist>/<titel>"),
                                                std::string("<titel>"), std::string(kNameFields))),
                   Set("eNamePattern", "/"),
                   Is("lNameFields", FormatText(text_name_pattern_empty, std::string("/"), std::string(kNameFields))),
                   Set("eNamePattern", "<Title>"),
                   Is("lNameFields", FormatText(text_name_pattern_fields, std::string(kNameFields)))}});
  // Any stored priority but idle and normal is high.
  for (const auto &[stored, position] : std::vector<std::pair<int, int>>{{0, 0}, {1, 1}, {2, 2}, {5, 2}, {-1, 2}}) {
    TProgramOptions options;
    options.Priority = stored;
    rows.push_back({"priority " + std::to_string(stored),
                    [=, this] { return std::make_unique<TfrmOptions>(options, false, Window.get()); },
                    {Is("tbPriority", position)}});
  }
  // Files per CPU by default: the heavy formats one per processor up to 16,
  // WavPack and WAV two per processor up to 16.
  for (const auto &[processors, heavy, light] :
       std::vector<std::tuple<int, int, int>>{{1, 1, 1}, {2, 2, 4}, {8, 8, 16}, {12, 12, 16}, {20, 16, 16}}) {
    std::vector<TStep> steps = {Set("bDefault"), Is("tbWavPack", light), Is("tbWAV", light), Is("eWAV", std::to_string(light))};
    for (const char *name : {"tbMP3", "tbWMA", "tbOGG", "tbAPE", "tbFLAC", "tbAAC"}) steps.push_back(Is(name, heavy));
    rows.push_back({"files per CPU on " + std::to_string(processors) + " processors",
                    [=, this] {
                      auto dialog = std::make_unique<TfrmFilesPerCPU>(Window.get());
                      dialog->Processors = processors;
                      return dialog;
                    },
                    steps});
  }
  for (const TRow &row : rows) {
    SCOPED_TRACE(row.Name);
    const std::unique_ptr<QDialog> dialog = row.Open();
    dialog->show();
    Apply(*dialog, row.Steps);
  }
}

// Each dialog from its button in the main window: Cancel and Escape leave the
// settings file and the engine's record as they were; OK stores each value
// chosen (read back by a fresh reader) and gives the engine the record; opening
// again and confirming changes nothing. Where no round trip of the encoders
// sets it, a value then reaches a real output, as a tool of its own reports it.
TEST_F(Dialogs, OKStoresEveryValueCancelNothingAndTheOutputFollows) {
  // Noise: every band is full, so a cut shows.
  const std::string source = Folder + "/in.wav";
  ASSERT_EQ(RunTool({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", source, "synth", "3", "whitenoise", "vol", "0.5"}), 0);
  const auto lossless = [&](const std::string &out) { EXPECT_EQ(FFmpegDecode(out, "s16le"), FFmpegDecode(source, "s16le")); };
  const auto above8k = [&](const std::string &path) {  // the level above 8 kHz
    std::string err;
    RunTool({"ffmpeg", "-v", "info", "-i", path, "-af", "highpass=f=8000:poles=2,highpass=f=8000:poles=2,astats", "-f",
             "null", "-"},
            nullptr, &err);
    const size_t at = err.rfind("RMS level dB: ");
    return at == std::string::npos ? 0.0 : std::stod(err.substr(at + 14));
  };
  struct TRow {
    TDestinationFormat Format;  // 0: the program or preprocess options
    std::vector<TSaveRec> Before;
    std::vector<TStep> Steps;
    std::map<std::string, TStoredValue> Expected;
    std::function<void(const std::string &output)> Check = {};
  };
  const std::vector<TRow> rows = {
      {dfMP3, {}, {Set("rbCBR"), Set("tbCBR", 9), Set("tbQuality", 2), Set("rbStereo"), Set("cbAutoFindBitrate", true)},
       {{"MP3BitrateType", std::string("CBR")}, {"MP3Bitrate", 9}, {"MP3Quality", 2}, {"MP3StereoMode", 0},
        {"MP3AutoFindBitrate", true}}},
      {dfOGG, {}, {Set("rbBitrates"), Set("tbMin", 9), Set("tbAvg", 9), Set("tbMax", 9)},
       {{"OGGBitrateType", std::string("CBR")}, {"OGGMin", 9}, {"OGGAvg", 9}, {"OGGMax", 9}}},
      // Once confirmed, opening shows what was stored, not the level's table.
      {dfFLAC, {}, {Set("tbCompression", 3), Set("tbBlockSize", FLACBlockSizePosition(2304)), Set("eMaxLPC", "10")},
       {{"FLACCompression", 3}, {"FLACFirst", 0}, {"FLACl", 10}, {"FLACrmax", 4}, {"FLACm", true}, {"FLACBuffer", 2304}},
       [&](const std::string &out) {
         std::string blocks;
         RunTool({"metaflac", "--show-min-blocksize", "--show-max-blocksize", out}, &blocks);
         EXPECT_EQ(blocks, "2304\n2304\n");
         lossless(out);
       }},
      {dfAPE, {}, {Set("tbCompression", 4)}, {{"APECompression", 4}},
       [&](const std::string &out) {
         // The stream's extradata as FFmpeg reports it: version, then the compression level.
         std::string data;
         RunTool({"ffprobe", "-v", "error", "-show_streams", "-show_data", out}, &data);
         const size_t at = data.find("extradata=\n00000000: ");
         ASSERT_NE(at, std::string::npos) << data;
         EXPECT_EQ(data.substr(at + 26, 4), "a00f") << data.substr(at, 80);  // 4000, little-endian
         lossless(out);
       }},
      {dfWavPack, {}, {Set("rbHybrid"), Set("tbHybrid", 256), Set("cbCorrection", true)},
       {{"WVHybrid", true}, {"WVBitrate", 256}, {"WVCorrection", true}}},
      // A high bitrate, so that only a bandwidth of 6000 Hz can cut the highs (the default 16000 keeps them).
      {dfAAC, {}, {Set("tbBitrate", 128), Set("tbBandwidth", 1), Set("rbMP4")},
       {{"AACBitrate", 128}, {"AACBandwidth", 1}, {"AACContainer", std::string("MP4")}},
       [&](const std::string &out) {
         EXPECT_LT(above8k(out), above8k(source) - 15);
         EXPECT_TRUE(out.ends_with(".m4a") && ReadText(out).substr(4, 4) == "ftyp");
       }},
      // Hard CBR: every 5 ms packet of a stereo source carries 64 kbit/s, 40 bytes.
      {dfOpus, {}, {Set("tbBitrate", 64), Set("rbCBR"), Set("tbComplexity", 3), Set("rbSpeech"), Set("tbFrameSize", 1)},
       {{"OpusBitrate", 64}, {"OpusMode", std::string("CBR")}, {"OpusComplexity", 3},
        {"OpusApplication", std::string("VOIP")}, {"OpusFrameSize", std::string("5")}},
       [&](const std::string &out) {
         std::string packets;
         RunTool({"ffprobe", "-v", "error", "-show_entries", "packet=duration,size", "-of", "csv=p=0", out}, &packets);
         std::istringstream lines(packets);
         int full = 0, other = 0;  // the last packet may be cut short
         for (std::string line; std::getline(lines, line);)
           if (!line.empty()) (line.starts_with("240,40") ? full : other) += 1;
         EXPECT_GE(full, 3 * 200);
         EXPECT_LE(other, 1) << packets;
       }},
      // The quality moved in VBR mode is not kept once CBR is chosen; a stored
      // choice of what this encoder lacks goes on OK.
      {dfWMA, {{"WMAUseProCoder", true}, {"WMALoseless", true}},
       {Set("rbVBR"), Set("tbVBR", 50), Set("rbCBR"), Set("tbCBR", 20), Set("cbAutoFindBitrate", true)},
       {{"WMABitrate", 20}, {"WMAAutoFindBitrate", true}, {"WMAUseProCoder", false}, {"WMALoseless", false}}},
      // The simple mode's count is kept for when it is chosen again.
      {kNoFormat, {},
       {Set("cbAdvanced"), Set("tbNPF", 4), Set("tbPriority", 1), Set("cbReduce", true), Set("cbKeepPartial", true),
        Set("cbKeepGoing", true), Set("cbSkipExisting", true), Set("cbWriteTags", false), Set("cbVerify", true),
        Set("cbSpreadOverCores", false),
        Set("cbCopyFiles", true), Set("eCopyPatterns", " *.log *.pdf "),
        Set("cbReplayGain", true), Set("cbUseNamePattern", true), Set("eNamePattern", "<genre>/<title>")},
       {{"ProgParallelFiles", 4}, {"ProgSimpleParallelFiles", false}, {"ProgAutoReduce", true}, {"KeepPartial", true},
        {"KeepGoing", true}, {"SkipExisting", true}, {"WriteTags", false}, {"Verify", true}, {"SpreadOverCores", false},
        {"CopyFiles", true}, {"CopyPatterns", "*.log *.pdf"}, {"ReplayGain", true},
        {"ProgPriority", 1}, {"UseNamePattern", true}, {"NamePattern", std::string("<genre>/<title>")}}},
      // A list without a selection keeps its stored value.
      {kNoFormat, {{"PPThreshold", 7}, {"PPResampleTo", 12345}, {"PPSplitBySilence", false}, {"PPHiddenTrack", true}},
       {Set("cbSplitBySilence", true), Set("cbResample", true), Set("cmSeconds", "0.5"), Set("tbChannels", 2),
        Set("cbPregapOwnTrack", true)},
       {{"PPHiddenTrack", true}, {"PPPregapOwnTrack", true}, {"PPSeconds", 5}, {"PPThreshold", 7},
        {"PPResampleTo", 12345}, {"PPSplitBySilence", true}, {"PPResample", true}, {"PPChannels", 2}}},
  };
  for (const TRow &row : rows) {
    const TFormatRow *format = row.Format == kNoFormat ? nullptr : FormatRow(row.Format);
    const bool preprocess = !format && row.Expected.count("PPSeconds");
    SCOPED_TRACE(format ? format->Name : preprocess ? "preprocess" : "program options");
    if (!row.Before.empty()) {
      ASSERT_EQ(Store->WriteSettings(row.Before), "");
      Reopen();  // what the window holds is read when it opens
    }
    if (preprocess) Window->cbEnablePreprocess->click();
    const auto open = [&](const std::function<void(QDialog &)> &act) {
      if (format) Window->findChild<QRadioButton *>(QString("rb") + format->Name)->click();
      QPushButton *button = format ? Window->findChild<QPushButton *>(QString("b") + format->Name + "Options")
                                   : preprocess ? Window->bPreprocessOptions : Window->bOptions;
      EXPECT_TRUE(WhileModal<QDialog>([&] { button->click(); }, [&](QDialog &d) {
        EXPECT_TRUE(!format || d.objectName() == QString("frm") + format->Name + "Options") << d.objectName().toStdString();
        act(d);
      }));
    };
    std::map<std::string, TStoredValue> expected = format ? StoredValues(*format) : std::map<std::string, TStoredValue>{};
    for (const auto &[name, value] : row.Expected) expected[name] = value;
    const auto before = std::make_shared<int>(0);
    if (format) Window->Engine().SetOptions(row.Format, before);
    const std::string file = SettingsFile();
    for (const bool escape : {false, true}) {
      open([&](QDialog &d) {
        Apply(d, row.Steps);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        if (escape) QApplication::sendEvent(&d, &key);
        else d.findChild<QPushButton *>("bCancel")->click();
        EXPECT_EQ(d.result(), QDialog::Rejected);
      });
      EXPECT_EQ(SettingsFile(), file) << (escape ? "Escape" : "Cancel");
      EXPECT_TRUE(!format || Window->Engine().GetOptions(row.Format) == before.get());
    }
    for (int again = 0; again < 2; ++again) {  // again: opened and confirmed as it is
      open([&](QDialog &d) {
        if (!again) Apply(d, row.Steps);
        d.findChild<QPushButton *>("bOK")->click();
      });
      if (format) {
        EXPECT_EQ(StoredValues(*format), expected);
        for (const TOptionField &f : format->Fields) {  // every value is in the file itself
          EXPECT_NE(SettingsFile().find(std::string(f.StoredName) + "="), std::string::npos) << f.StoredName;
          if (!f.WrittenAs) {
            EXPECT_EQ(f.Get(Window->Engine().GetOptions(row.Format)), expected[f.StoredName]) << f.StoredName;
          }
        }
        continue;
      }
      const TSettingsStore stored = Stored();
      for (const auto &[name, value] : expected) {
        const TStoredValue read = std::holds_alternative<bool>(value)          ? TStoredValue(stored.ReadBoolean(name, !std::get<bool>(value)))
                                  : std::holds_alternative<std::string>(value) ? TStoredValue(stored.ReadString(name, "?"))
                                                                               : TStoredValue(stored.ReadInteger(name, -99));
        EXPECT_EQ(read, value) << name;
      }
    }
    EXPECT_TRUE(Messages.empty());
    if (!row.Check) continue;
    const void *options = Window->Engine().GetOptions(row.Format);
    const std::string output = Folder + "/out." + OutputExtension(*format, options);
    EXPECT_EQ(ConvertFile(source, output, row.Format, options).size(), 0u);
    row.Check(output);
  }
}

// OK refuses a name pattern with an unknown field: the dialog stays open
// until the pattern is right (or not used).
TEST_F(Dialogs, AnUnknownNameFieldKeepsTheProgramOptionsOpen) {
  TProgramOptions options;
  options.UseNamePattern = true;
  options.NamePattern = "<artist>/<titel>";
  TfrmOptions dialog(options, false, Window.get());
  dialog.show();
  dialog.bOK->click();
  EXPECT_TRUE(dialog.isVisible());
  dialog.eNamePattern->setText("<artist>/<title>");
  dialog.bOK->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

// Files per CPU confirmed serve until the program options are opened again, but
// are stored only with the options' OK (the batch run counts by them: its own test).
TEST_F(Dialogs, FilesPerCpuAreStoredWithTheProgramOptions) {
  const std::string before = SettingsFile();
  const int processors = DestinationFileTypes[dfFLAC - 1].FilesPerCPU;
  for (const bool ok : {false, true}) {
    EXPECT_TRUE(WhileModal<TfrmOptions>([&] { Window->bOptions->click(); }, [&](TfrmOptions &d) {
      d.cbAdvanced->click();
      EXPECT_TRUE(WhileModal<TfrmFilesPerCPU>([&] { d.bSetAdvanced->click(); }, [&](TfrmFilesPerCPU &f) {
        EXPECT_EQ(f.Slider(dfFLAC)->value(), processors);  // reloaded: a 7 never stored is gone
        f.Slider(ok ? dfWAV : dfFLAC)->setValue(ok ? 9 : 7);
        f.bOK->click();
      }));
      (ok ? d.bOK : d.bCancel)->click();
    }));
    if (!ok) {
      EXPECT_EQ(SettingsFile(), before);
      EXPECT_EQ(DestinationFileTypes[dfFLAC - 1].FilesPerCPU, 7);  // for the next runs of this program
    }
  }
  EXPECT_EQ(Stored().ReadInteger("FPCPU_WAV", -1), 9);
  EXPECT_EQ(Stored().ReadInteger("FPCPU_FLAC", -1), processors);
  TProgramOptions simple;
  simple.ParallelFiles = 3;
  EXPECT_EQ(ThreadCountFor(simple, dfWAV), 3);
  simple.SimpleParallelFiles = false;
  DestinationFileTypes[dfFLAC - 1].FilesPerCPU = 0;
  EXPECT_EQ(ThreadCountFor(simple, dfFLAC), 1);  // never fewer than one worker
  DestinationFileTypes[dfFLAC - 1].FilesPerCPU = processors;
}

// Resampling, channels and the hidden track chosen reach a run while preprocessing is on, and only then.
TEST_F(Dialogs, PreprocessChoicesReachTheOutputs) {
  const TTestSignal tone{.Rate = 44100, .Channels = 2, .Seconds = 2};
  WriteSignal(Folder + "/in/image.wav", tone);
  const std::string sheet = WriteText(Folder + "/in/image.cue",
                                      "FILE \"image.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:30\n"
                                      "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n");
  Window->cbEnablePreprocess->click();
  EXPECT_TRUE(WhileModal<TfrmPreprocessOptions>([&] { Window->bPreprocessOptions->click(); }, [](TfrmPreprocessOptions &d) {
    Apply(d, {Set("cbSplitBySilence", false), Set("cbHiddenTrack", true), Set("cbResample", true),
              Set("cmResampleTo", "48000"), Set("tbChannels", 1)});
    d.bOK->click();
  }));
  Convert(Window->rbWAV, sheet);
  EXPECT_EQ(ProbeStream(Folder + "/out/00 - Hidden track.wav", "sample_rate,channels"), "48000,1\n");
  EXPECT_EQ(FFmpegDecode(Folder + "/out/00 - Hidden track.wav", "s16le").size(), size_t(30 * 640 * 2));
  EXPECT_EQ(FFmpegDecode(Folder + "/out/01 - image.wav", "s16le").size(), size_t(45 * 640 * 2));

  Window->cbEnablePreprocess->click();
  fs::remove_all(Folder + "/out");
  fs::create_directories(Folder + "/out");
  Window->bStart->click();
  EXPECT_FALSE(fs::exists(Folder + "/out/00 - Hidden track.wav"));
  EXPECT_EQ(ProbeStream(Folder + "/out/01 - image.wav", "sample_rate,channels"), "44100,2\n");
  const std::vector<uint8_t> whole = MakeSamples(tone);
  EXPECT_EQ(FFmpegDecode(Folder + "/out/01 - image.wav", "s16le"),
            std::vector<uint8_t>(whole.begin() + 30 * 588 * 4, whole.begin() + 75 * 588 * 4));
}

// The nice value of every thread of this process, the main one's first.
std::vector<int> Nices() {
  std::string out;
  RunTool({"ps", "-L", "-o", "ni=", "-p", std::to_string(getpid())}, &out);
  std::istringstream fields(out);
  return std::vector<int>(std::istream_iterator<int>(fields), std::istream_iterator<int>());
}

// Idle chosen during a run (the only option that can change then): every thread at nice 19 at once.
TEST_F(Dialogs, IdleChosenDuringARunIsNice19OfTheRunningProcess) {
  const size_t threadsBefore = Nices().size();
  bool chosen = false;
  std::vector<int> after;
  Convert(Window->rbMP3, WriteSignal(Folder + "/in/long.wav", {.Seconds = 60}), [&] {
    if (chosen || !Window->Processing() || Window->LastProgress().Percent < 1) return;
    chosen = true;
    WhileModal<TfrmOptions>([&] { Window->bOptions->click(); }, [](TfrmOptions &d) {
      EXPECT_FALSE(d.tbNPF->isEnabled() || d.cbSimple->isEnabled() || d.cbReduce->isEnabled());
      d.tbPriority->setValue(0);
      d.bOK->click();
    });
    after = Nices();
    Window->bStart->click();  // enough seen: cancel
  });
  ASSERT_TRUE(chosen);
  ASSERT_GT(after.size(), threadsBefore);  // a worker among them
  for (int nice : after) EXPECT_EQ(nice, 19);
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

// High without the right: said on the status line at start, once when chosen in
// the options (not at each OK); a run goes on at normal priority.
TEST_F(Dialogs, HighPriorityRefusedIsSaidOnceAndTheRunGoesOn) {
  DropRightToRaisePriority();
  ASSERT_EQ(Store->WriteSettings({{"ProgPriority", 2}}), "");
  Reopen();
  QApplication::processEvents();
  EXPECT_EQ(Messages, std::vector<std::string>{});
  EXPECT_EQ(Window->lCurrentFile->text().toStdString(), text_priority_status);
  for (const auto &[chosen, said] : std::vector<std::pair<int, size_t>>{{2, 0}, {1, 0}, {2, 1}, {2, 1}}) {
    WhileModal<TfrmOptions>([&] { Window->bOptions->click(); }, [chosen = chosen](TfrmOptions &d) {
      d.tbPriority->setValue(chosen);
      d.bOK->click();
    });
    EXPECT_EQ(Messages.size(), said) << chosen;
  }
  EXPECT_EQ(Messages, std::vector<std::string>{text_priority_refused});
  EXPECT_EQ(Stored().ReadInteger("ProgPriority", -1), 2);
  EXPECT_EQ(Nices().at(0), 0);
  Convert(Window->rbWAV, WriteSignal(Folder + "/in/tone.wav", {.Seconds = 1}));
  EXPECT_EQ(FFmpegDecode(Folder + "/out/tone.wav", "s16le"), MakeSamples({.Seconds = 1}));
  EXPECT_EQ(Messages.size(), 1u);
}

}  // namespace
