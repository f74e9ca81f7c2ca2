// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialogs, opened from the real main window on Qt's offscreen platform.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <map>
#include <sstream>

#include "app/format_settings.h"
#include "app/windows/format_dialogs.h"
#include "app/windows/preprocess_dialog.h"
#include "app/windows/program_options_dialog.h"
#include "base/texts.h"
#include "encoders/flac/flac_format.h"
#include "encoders/opus/opus_format.h"
#include "window_fixture.h"

namespace {

constexpr TDestinationFormat kNoFormat = 0;  // the program or preprocess options

// One step on a dialog's control, by name, set as a user would set it.
struct TStep { std::string Control; TStoredValue Value; };
TStep Set(const char *control, TStoredValue value = true) { return {control, value}; }

void Apply(QWidget &dialog, const std::vector<TStep> &steps) {
  for (const TStep &step : steps) {
    QWidget *w = dialog.findChild<QWidget *>(QString::fromStdString(step.Control));
    ASSERT_NE(w, nullptr) << step.Control;
    const auto text = [&] { return QString::fromStdString(std::get<std::string>(step.Value)); };
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
  }
}

class Dialogs : public TWindowTest {
 protected:
  void TearDown() override { EXPECT_EQ(Errors, std::vector<std::string>{}); }
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

// Each dialog from its button in the main window: Cancel leaves the settings file and the engine's record
// as they were; OK stores each value chosen (read back by a fresh reader) and gives the engine the record;
// opening again and confirming changes nothing. Where no round trip of the encoders sets it, a value then
// reaches a real output, as a tool of its own reports it.
TEST_F(Dialogs, OKStoresEveryValueCancelNothingAndTheOutputFollows) {
  // Noise: every band is full, so a cut shows.
  const std::string source = Folder + "/in.wav";
  ASSERT_EQ(RunTool({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", source, "synth", "3", "whitenoise", "vol", "0.5"}), 0);
  const auto lossless = [&](const std::string &out) { EXPECT_EQ(FFmpegDecode(out, "s16le"), FFmpegDecode(source, "s16le")); };
  const auto above8k = [&](const std::string &path) {  // the level above 8 kHz
    std::string err;
    RunTool({"ffmpeg", "-v", "info", "-i", path, "-af", "highpass=f=8000:poles=2,highpass=f=8000:poles=2,astats", "-f",
             "null", "-"}, nullptr, &err);
    const size_t at = err.rfind("RMS level dB: ");
    return at == std::string::npos ? 0.0 : std::stod(err.substr(at + 14));
  };
  struct TRow { TDestinationFormat Format; std::vector<TSaveRec> Before; std::vector<TStep> Steps;
                std::map<std::string, TStoredValue> Expected; std::function<void(const std::string &)> Check = {}; };
  const std::vector<TRow> rows = {
      {dfMP3, {}, {Set("rbCBR"), Set("tbCBR", 9), Set("tbQuality", 2), Set("rbStereo"), Set("cbAutoFindBitrate", true)},
       {{"MP3BitrateType", std::string("CBR")}, {"MP3Bitrate", 9}, {"MP3Quality", 2}, {"MP3StereoMode", 0},
        {"MP3AutoFindBitrate", true}}},
      // Once confirmed, opening shows what was stored, not the level's table.
      {dfFLAC, {}, {Set("tbCompression", 3), Set("tbBlockSize", FLACBlockSizePosition(2304)), Set("eMaxLPC", "10")},
       {{"FLACCompression", 3}, {"FLACFirst", 0}, {"FLACl", 10}, {"FLACrmax", 4}, {"FLACm", true}, {"FLACBuffer", 2304}},
       [&](const std::string &out) {
         std::string blocks;
         RunTool({"metaflac", "--show-min-blocksize", "--show-max-blocksize", out}, &blocks);
         EXPECT_EQ(blocks, "2304\n2304\n");
         lossless(out);
       }},
      {dfAPE, {}, {Set("tbCompression", 4)}, {{"APECompression", 4}}, [&](const std::string &out) {
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
       {{"AACBitrate", 128}, {"AACBandwidth", 1}, {"AACContainer", std::string("MP4")}}, [&](const std::string &out) {
         EXPECT_LT(above8k(out), above8k(source) - 15);
         EXPECT_TRUE(out.ends_with(".m4a") && ReadText(out).substr(4, 4) == "ftyp");
       }},
      // Hard CBR: every 5 ms packet of a stereo source carries 64 kbit/s, 40 bytes.
      {dfOpus, {}, {Set("tbBitrate", 64), Set("rbCBR"), Set("tbComplexity", 3), Set("rbSpeech"), Set("tbFrameSize", 1)},
       {{"OpusBitrate", 64}, {"OpusMode", std::string("CBR")}, {"OpusComplexity", 3},
        {"OpusApplication", std::string("VOIP")}, {"OpusFrameSize", std::string("5")}}, [&](const std::string &out) {
         std::string packets;
         RunTool({"ffprobe", "-v", "error", "-show_entries", "packet=duration,size", "-of", "csv=p=0", out}, &packets);
         std::istringstream lines(packets);
         int full = 0, other = 0;  // the last packet may be cut short
         for (std::string line; std::getline(lines, line);)
           if (!line.empty()) (line.starts_with("240,40") ? full : other) += 1;
         EXPECT_GE(full, 3 * 200);
         EXPECT_LE(other, 1) << packets;
       }},
      // The simple mode's count is kept for when it is chosen again; OK refuses a name pattern with an
      // unknown field, the dialog staying open until the pattern is right.
      {kNoFormat, {},
       {Set("cbAdvanced"), Set("tbNPF", 4), Set("tbPriority", 1), Set("cbReduce", true), Set("cbKeepPartial", true),
        Set("cbKeepGoing", true), Set("cbSkipExisting", true), Set("cbWriteTags", false), Set("cbVerify", true),
        Set("cbSpreadOverCores", false), Set("cbCopyFiles", true), Set("eCopyPatterns", " *.log *.pdf "),
        Set("cbReplayGain", true), Set("cbUseNamePattern", true), Set("eNamePattern", "<genre>/<titel>"), Set("bOK"),
        Set("eNamePattern", "<genre>/<title>"), Set("cbMirror", true)},
       {{"ProgParallelFiles", 4}, {"ProgSimpleParallelFiles", false}, {"ProgAutoReduce", true}, {"KeepPartial", true},
        {"KeepGoing", true}, {"SkipExisting", true}, {"WriteTags", false}, {"Verify", true}, {"SpreadOverCores", false},
        {"CopyFiles", true}, {"CopyPatterns", "*.log *.pdf"}, {"ReplayGain", true},
        {"ProgPriority", 1}, {"UseNamePattern", true}, {"NamePattern", std::string("<genre>/<title>")}, {"Mirror", true}}},
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
      Window.reset();
      Window = Open();  // what the window holds is read when it opens
    }
    if (preprocess) Window->cbEnablePreprocess->click();
    const auto open = [&](const std::function<void(QDialog &)> &act) {
      if (format) Window->findChild<QRadioButton *>(QString("rb") + format->Name)->click();
      QPushButton *button = format ? Window->findChild<QPushButton *>(QString("b") + format->Name + "Options")
                                   : preprocess ? Window->bPreprocessOptions : Window->bOptions;
      EXPECT_TRUE(WhileModal<QDialog>([&] { button->click(); }, act));
    };
    std::map<std::string, TStoredValue> expected = format ? StoredValues(*format) : std::map<std::string, TStoredValue>{};
    for (const auto &[name, value] : row.Expected) expected[name] = value;
    const auto before = std::make_shared<int>(0);
    if (format) Window->Engine().SetOptions(row.Format, before);
    const std::string file = SettingsFile();
    open([&](QDialog &d) {
      Apply(d, row.Steps);
      EXPECT_TRUE(d.isVisible()) << "a refused OK leaves it open";
      d.findChild<QPushButton *>("bCancel")->click();
    });
    EXPECT_EQ(SettingsFile(), file);
    EXPECT_TRUE(!format || Window->Engine().GetOptions(row.Format) == before.get());
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
  ChooseOutput(Window->rbWAV);
  Window->DropFiles({sheet}, false);
  Window->bStart->click();
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

}  // namespace
