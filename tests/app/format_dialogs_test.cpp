// SPDX-License-Identifier: GPL-3.0-or-later
// The seven format settings dialogs on Qt's offscreen platform: their coupling
// rules, what OK and Cancel leave in the real settings file and the engine, a
// real conversion with values chosen in each (checked by independent tools),
// and their texts fitting in every language.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

#include "app/format_settings.h"
#include "app/language_file.h"
#include "app/windows/Unit1.h"
#include "app/windows/format_dialogs.h"
#include "base/texts.h"
#include "encoders/flac/flac_format.h"
#include "engine/coder_engine.h"
#include "test_support.h"
#include "window_checks.h"

namespace fs = std::filesystem;

namespace {

class FormatDialogs : public ::testing::Test {
 public:
  void SetUp() override {
    Folder = TestProfileFolder();
    Store = std::make_unique<TSettingsStore>();
  }

  std::unique_ptr<TFormatDialog> Open(TDestinationFormat format) {
    auto dialog = NewFormatDialog(format, *Store, Engine);
    dialog->show();
    return dialog;
  }
  template <class T>
  T *Control(TFormatDialog &dialog, const char *name) {
    T *control = dialog.findChild<T *>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  QSlider *Slider(TFormatDialog &d, const char *name) { return Control<QSlider>(d, name); }
  QString Box(TFormatDialog &d, const char *name) { return Control<QLineEdit>(d, name)->text(); }
  bool Enabled(TFormatDialog &d, const char *name) { return Control<QWidget>(d, name)->isEnabled(); }
  bool Checked(TFormatDialog &d, const char *name) { return Control<QAbstractButton>(d, name)->isChecked(); }
  void Leave(QLineEdit *edit, const char *text) {
    edit->setText(text);
    emit edit->editingFinished();
  }
  // A format's stored values as a fresh reader of the settings file sees them.
  std::map<std::string, TStoredValue> StoredValues(TDestinationFormat format) {
    const TSettingsStore file;
    const TFormatRow &row = *FormatRow(format);
    const std::shared_ptr<void> record = LoadFormatOptions(row, file);
    std::map<std::string, TStoredValue> values;
    for (const TSaveRec &r : FormatOptionsRecords(row, record.get())) values[r.Name] = r.Value;
    return values;
  }
  std::string FileText() { return ReadText(Store->FileName()); }

  std::string Folder;
  std::unique_ptr<TSettingsStore> Store;
  TCoder_engine Engine;
};

TEST_F(FormatDialogs, MP3ModesOrderAndLocks) {
  auto d = Open(dfMP3);
  EXPECT_TRUE(Checked(*d, "rbVBR"));
  EXPECT_TRUE(Checked(*d, "rbJointStereo"));
  EXPECT_EQ(Box(*d, "eCBR"), "160");
  EXPECT_EQ(Box(*d, "eVBRMax"), "320");
  // The maximum follows a larger minimum and cannot be put below it.
  Slider(*d, "tbVBRMax")->setValue(5);
  Slider(*d, "tbVBRMin")->setValue(8);
  EXPECT_EQ(Slider(*d, "tbVBRMax")->value(), 8);
  Slider(*d, "tbVBRMax")->setValue(3);
  EXPECT_EQ(Slider(*d, "tbVBRMax")->value(), 8);
  EXPECT_EQ(Box(*d, "eVBRMin"), "112");
  const char *methods[] = {"Default", "Old", "New", "ABR"};
  for (int m = 0; m < 4; ++m) {
    Slider(*d, "tbVBRMethod")->setValue(m);
    EXPECT_EQ(Box(*d, "eVBRMethod"), methods[m]);
  }
  // Three modes in different places, one chosen; a preset locks what it decides.
  Control<QRadioButton>(*d, "rbPreset")->click();
  EXPECT_FALSE(Checked(*d, "rbVBR") || Checked(*d, "rbCBR"));
  for (const char *name : {"tbCBR", "tbVBRMin", "tbVBRMax", "tbQuality", "lQuality", "lQualityNote", "gbStereoMode",
                           "rbStereo", "cbAutoFindBitrate"})
    EXPECT_FALSE(Enabled(*d, name)) << name;
  EXPECT_TRUE(Enabled(*d, "tbPreset"));
  Slider(*d, "tbPreset")->setValue(4);
  EXPECT_EQ(Box(*d, "ePreset"), "R3MIX");
  Control<QRadioButton>(*d, "rbCBR")->click();
  EXPECT_FALSE(Checked(*d, "rbPreset") || Checked(*d, "rbVBR"));
  EXPECT_TRUE(Enabled(*d, "tbCBR") && Enabled(*d, "tbQuality") && Enabled(*d, "cbAutoFindBitrate"));
  EXPECT_FALSE(Enabled(*d, "tbPreset") || Enabled(*d, "tbVBRMin"));
}

TEST_F(FormatDialogs, OggBitratesStayOrdered) {
  auto d = Open(dfOGG);
  QSlider *max = Slider(*d, "tbMax"), *avg = Slider(*d, "tbAvg"), *min = Slider(*d, "tbMin");
  EXPECT_TRUE(Checked(*d, "rbQuality"));
  EXPECT_FALSE(max->isEnabled() || avg->isEnabled() || min->isEnabled());
  Control<QRadioButton>(*d, "rbBitrates")->click();
  EXPECT_FALSE(Checked(*d, "rbQuality") || Enabled(*d, "tbQuality"));
  EXPECT_TRUE(max->isEnabled() && avg->isEnabled() && min->isEnabled());
  min->setValue(5);
  avg->setValue(8);
  max->setValue(10);
  struct {
    QSlider *moved;
    int to, min, avg, max;
  } steps[] = {
      {min, 12, 12, 12, 12},  // a minimum above the average raises both above it
      {max, 3, 12, 12, 12},   // the maximum cannot go below the average
      {avg, 14, 12, 14, 14},  // nor can the average pass the maximum without raising it
      {avg, 2, 12, 12, 14},   // nor go below the minimum
      {max, 17, 12, 12, 17},
  };
  for (const auto &s : steps) {
    s.moved->setValue(s.to);
    EXPECT_EQ(std::make_tuple(min->value(), avg->value(), max->value()), std::make_tuple(s.min, s.avg, s.max))
        << s.moved->objectName().toStdString() << " to " << s.to;
  }
  EXPECT_EQ(Box(*d, "eMax"), "499");
  EXPECT_EQ(Box(*d, "eMin"), "160");
  Slider(*d, "tbQuality")->setValue(0);
  EXPECT_EQ(Box(*d, "eQuality"), "-1");
}

TEST_F(FormatDialogs, FLACLevelsFillTheDetails) {
  auto d = Open(dfFLAC);
  // Not yet confirmed: the details follow the stored level (5) at once.
  EXPECT_EQ(Box(*d, "eMaxLPC"), "8");
  EXPECT_EQ(Box(*d, "eMaxRes"), "5");
  EXPECT_EQ(Box(*d, "eBlockSize"), "4096");
  EXPECT_TRUE(Checked(*d, "cbMidside"));
  Slider(*d, "tbCompression")->setValue(8);
  EXPECT_EQ(std::make_tuple(Box(*d, "eMaxLPC"), Box(*d, "eMaxRes"), Box(*d, "eCompression")),
            std::make_tuple("12", "6", "8"));
  EXPECT_TRUE(Checked(*d, "cbExhaust"));
  Slider(*d, "tbCompression")->setValue(1);
  EXPECT_EQ(Box(*d, "eBlockSize"), "1152");
  EXPECT_TRUE(Checked(*d, "cbAdaptive") && !Checked(*d, "cbMidside") && !Checked(*d, "cbExhaust"));
  Slider(*d, "tbCompression")->setValue(0);
  Control<QCheckBox>(*d, "cbAdaptive")->setChecked(true);
  EXPECT_TRUE(Checked(*d, "cbMidside"));
  // Leaving a number box: empty is 0, a number stays as a number, anything else is undone.
  QLineEdit *lpc = Control<QLineEdit>(*d, "eMaxLPC");
  for (const auto &[typed, shown] : std::vector<std::pair<const char *, const char *>>{
           {"", "0"}, {" 007", "7"}, {"abc", "7"}, {"33", "7"}, {"-1", "7"}, {"32", "32"}, {"4x", "32"}})
    EXPECT_EQ((Leave(lpc, typed), lpc->text()), shown) << '"' << typed << '"';
  Slider(*d, "tbBlockSize")->setValue(1);
  EXPECT_EQ(Box(*d, "eBlockSize"), "192");
  d->bOK->click();
  // Once confirmed, opening shows what was stored, not the level's table.
  auto again = Open(dfFLAC);
  EXPECT_EQ(Box(*again, "eMaxLPC"), "32");
  EXPECT_EQ(Box(*again, "eBlockSize"), "192");
  EXPECT_EQ(Box(*again, "eCompression"), "0");
}

TEST_F(FormatDialogs, WavPackAACAndAPEShowTheirValues) {
  auto wv = Open(dfWavPack);
  EXPECT_TRUE(Checked(*wv, "rbCompression"));
  EXPECT_FALSE(Enabled(*wv, "tbHybrid") || Enabled(*wv, "cbCorrection"));
  EXPECT_EQ(Box(*wv, "eCompression"), "High");
  Control<QRadioButton>(*wv, "rbHybrid")->click();
  EXPECT_FALSE(Checked(*wv, "rbCompression") || Enabled(*wv, "tbCompression"));
  EXPECT_TRUE(Enabled(*wv, "tbHybrid") && Enabled(*wv, "cbCorrection"));
  Slider(*wv, "tbHybrid")->setValue(24);
  EXPECT_EQ(Box(*wv, "eHybrid"), "24");

  auto aac = Open(dfAAC);
  EXPECT_EQ(std::make_tuple(Box(*aac, "eBitrate"), Box(*aac, "eBandwidth"), Box(*aac, "eQuality")),
            std::make_tuple("Auto", "Auto", "Auto"));
  Slider(*aac, "tbBandwidth")->setValue(3);
  Slider(*aac, "tbQuality")->setValue(250);
  EXPECT_EQ(std::make_tuple(Box(*aac, "eBandwidth"), Box(*aac, "eQuality")), std::make_tuple("44100", "250"));

  auto ape = Open(dfAPE);
  const char *levels[] = {"Fast", "Normal", "High", "Extra High", "Insane"};
  for (int level = 1; level <= 5; ++level) {
    Slider(*ape, "tbCompression")->setValue(level);
    EXPECT_EQ(Box(*ape, "eCompression"), levels[level - 1]);
  }
}

// Numbers say their units; a preset says what it does; "Auto find bitrate" what it is for.
TEST_F(FormatDialogs, NumbersSayWhatTheyMean) {
  for (const char *code : {"EN", "FR"}) {
    LoadLanguage(LanguageIndex(code), [](const std::string &) {});
    const std::tuple<TDestinationFormat, const char *, const std::string &> units[] = {
        {dfMP3, "eCBRUnit", text_kbps},          {dfMP3, "eVBRMinUnit", text_kbps},
        {dfMP3, "eVBRMaxUnit", text_kbps},       {dfOGG, "eMaxUnit", text_kbps},
        {dfOGG, "eAvgUnit", text_kbps},          {dfOGG, "eMinUnit", text_kbps},
        {dfWMA, "eCBRUnit", text_kbps},          {dfWavPack, "eHybridUnit", text_kbps},
        {dfAAC, "eBitrateUnit", text_kbps_per_channel}, {dfAAC, "eBandwidthUnit", text_hz},
        {dfFLAC, "eBlockSizeUnit", text_samples_unit}};
    for (const auto &[format, name, unit] : units) {
      const auto dialog = Open(format);
      const QLabel *label = Control<QLabel>(*dialog, name);
      EXPECT_EQ(label ? label->text().toStdString() : "", unit) << code << " " << name;
    }
    auto mp3 = Open(dfMP3);
    Control<QRadioButton>(*mp3, "rbPreset")->click();
    Slider(*mp3, "tbPreset")->setValue(6);
    EXPECT_EQ(Box(*mp3, "ePreset"), "STANDARD");
    EXPECT_EQ(Control<QLabel>(*mp3, "lPresetNote")->text().toStdString(),
              "STANDARD — " + FormatText(text_preset_vbr, 190));
    for (TDestinationFormat format : {dfMP3, dfWMA})
      EXPECT_EQ(Control<QCheckBox>(*Open(format), "cbAutoFindBitrate")->toolTip().toStdString(),
                text_tip_auto_find_bitrate);
  }
  EXPECT_EQ(text_kbps_per_channel, "kbit/s par canal");
  EXPECT_EQ(text_preset_vbr, "VBR environ %d kbit/s");
  ResetTextsToEnglish();
  EXPECT_EQ(Control<QCheckBox>(*Open(dfWMA), "cbLoseless")->text(), "Lossless");
}

// The encoder here has neither the Pro codec nor lossless WMA: both are shown
// off and disabled, saying why, and a stored choice of them goes on OK.
TEST_F(FormatDialogs, WMAQualitySnapsToTens) {
  ASSERT_EQ(Store->WriteSettings({{"WMAUseProCoder", true}, {"WMALoseless", true}}), "");
  auto d = Open(dfWMA);
  QSlider *quality = Slider(*d, "tbVBR");
  EXPECT_TRUE(Checked(*d, "rbCBR"));
  EXPECT_EQ(Box(*d, "eCBR"), "160");
  EXPECT_FALSE(Enabled(*d, "tbVBR"));
  Control<QRadioButton>(*d, "rbVBR")->click();
  EXPECT_FALSE(Checked(*d, "rbCBR") || Enabled(*d, "tbCBR"));
  EXPECT_TRUE(Enabled(*d, "tbVBR"));
  for (const char *unavailable : {"cbUsePro", "cbLoseless"}) {
    EXPECT_FALSE(Enabled(*d, unavailable) || Checked(*d, unavailable)) << unavailable;
    EXPECT_EQ(Control<QWidget>(*d, unavailable)->toolTip().toStdString(), text_wma_pro_lossless_unavailable);
  }
  // Halves go to the even ten; nothing passes 98.
  for (const auto &[moved, snapped] :
       std::vector<std::pair<int, int>>{{95, 98}, {25, 20}, {15, 20}, {35, 40}, {94, 90}, {96, 98}, {10, 10}, {61, 60}}) {
    quality->setValue(moved);
    EXPECT_EQ(quality->value(), snapped) << moved;
    EXPECT_EQ(Box(*d, "eVBR").toInt(), snapped);
  }
  Slider(*d, "tbCBR")->setValue(2);
  EXPECT_EQ(Box(*d, "eCBR"), "5");
  // F11 writes the dialog's texts.
  const fs::path previous = fs::current_path();
  fs::create_directories(Folder + "/texts");
  fs::current_path(Folder);
  QKeyEvent f11(QEvent::KeyPress, Qt::Key_F11, Qt::NoModifier);
  QApplication::sendEvent(d.get(), &f11);
  fs::current_path(previous);
  EXPECT_NE(ReadText(Folder + "/texts/frmWMAOptions.txt").find("rbCBR.Caption = Constant Bitrate (CBR)\r\n"),
            std::string::npos);
  d->bOK->click();
  EXPECT_EQ(std::get<bool>(StoredValues(dfWMA)["WMAUseProCoder"]), false);
  EXPECT_EQ(std::get<bool>(StoredValues(dfWMA)["WMALoseless"]), false);
}

// Each Settings button of the main window opens its format's dialog.
TEST_F(FormatDialogs, SettingsButtonsOpenTheirDialogs) {
  Tmain window(TParsedCommandLine{}, *Store);
  window.ShowMessage = [](const QString &) {};
  window.show();
  const std::pair<QPushButton *, QRadioButton *> buttons[] = {
      {window.bMP3Options, window.rbMP3},   {window.bWMAOptions, window.rbWMA},
      {window.bOGGOptions, window.rbOGG},   {window.bAPEOptions, window.rbAPE},
      {window.bFLACOptions, window.rbFLAC}, {window.bWavPackOptions, window.rbWavPack},
      {window.bAACOptions, window.rbAAC}};
  for (const auto &[button, radio] : buttons) {
    radio->click();
    QString opened;
    QTimer::singleShot(0, [&] {
      if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
        opened = dialog->objectName();
        dialog->reject();
      }
    });
    button->click();
    EXPECT_EQ(opened, "frm" + radio->text() + "Options");
  }
}

// Cancel and Escape store nothing and leave the engine's record alone; OK
// stores every value of the format, read back from the file, and the engine
// gets the record; opening again and confirming changes nothing. The values
// chosen then reach a real conversion: the output's bitrate, mode, level or
// block size as a tool of its own reports it.
TEST_F(FormatDialogs, OKStoresEverythingCancelNothingAndTheOutputFollows) {
  // Noise: every band is full, so a cut shows.
  const std::string source = Folder + "/in.wav";
  ASSERT_EQ(RunTool({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", source, "synth", "3", "whitenoise", "vol", "0.5"}), 0);
  const auto tool = [](std::vector<std::string> argv) {
    std::string out;
    RunTool(argv, &out);
    return out;
  };
  const auto bitrate = [](const char *expected) {
    return [expected](const std::string &out) { EXPECT_EQ(ProbeStream(out, "codec_name,bit_rate"), expected); };
  };
  const auto lossless = [&](const std::string &out) {
    EXPECT_EQ(FFmpegDecode(out, "s16le"), FFmpegDecode(source, "s16le"));
  };
  using TChoice = std::function<void(FormatDialogs &, TFormatDialog &)>;
  const auto click = [](const char *name) -> TChoice {
    return [name](FormatDialogs &t, TFormatDialog &d) { t.Control<QAbstractButton>(d, name)->click(); };
  };
  const auto tick = [](const char *name) -> TChoice {
    return [name](FormatDialogs &t, TFormatDialog &d) { t.Control<QCheckBox>(d, name)->setChecked(true); };
  };
  const auto slide = [](const char *name, int to) -> TChoice {
    return [name, to](FormatDialogs &t, TFormatDialog &d) { t.Slider(d, name)->setValue(to); };
  };
  struct Row {
    TDestinationFormat Format;
    std::vector<TChoice> Choose;
    std::map<std::string, TStoredValue> Expected;  // the changed values; the rest stay at their defaults
    std::function<void(const std::string &output)> Check;
  };
  const std::vector<Row> rows = {
      // A bitrate the encoder takes: finding another one does not come into play.
      {dfMP3,
       {click("rbCBR"), slide("tbCBR", 9), slide("tbQuality", 2), click("rbStereo"), tick("cbAutoFindBitrate")},
       {{"MP3BitrateType", std::string("CBR")}, {"MP3Bitrate", 9}, {"MP3Quality", 2}, {"MP3StereoMode", 0},
        {"MP3AutoFindBitrate", true}},
       bitrate("mp3,128000\n")},
      {dfOGG, {click("rbBitrates"), slide("tbMin", 9), slide("tbAvg", 9), slide("tbMax", 9)},
       {{"OGGBitrateType", std::string("CBR")}, {"OGGMin", 9}, {"OGGAvg", 9}, {"OGGMax", 9}},
       bitrate("vorbis,112000\n")},
      {dfFLAC, {slide("tbCompression", 3), slide("tbBlockSize", FLACBlockSizePosition(2304))},
       {{"FLACCompression", 3}, {"FLACFirst", 0}, {"FLACl", 6}, {"FLACrmax", 4}, {"FLACm", true}, {"FLACBuffer", 2304}},
       [&](const std::string &out) {
         EXPECT_EQ(tool({"metaflac", "--show-min-blocksize", "--show-max-blocksize", out}), "2304\n2304\n");
         lossless(out);
       }},
      {dfAPE, {slide("tbCompression", 4)}, {{"APECompression", 4}},
       [&](const std::string &out) {
         // The stream's extradata as FFmpeg reports it: version, then the compression level.
         const std::string data = tool({"ffprobe", "-v", "error", "-show_streams", "-show_data", out});
         const size_t at = data.find("extradata=\n00000000: ");
         ASSERT_NE(at, std::string::npos) << data;
         EXPECT_EQ(data.substr(at + 26, 4), "a00f") << data.substr(at, 80);  // 4000, little-endian
         lossless(out);
       }},
      {dfWavPack, {click("rbHybrid"), slide("tbHybrid", 256), tick("cbCorrection")},
       {{"WVHybrid", true}, {"WVBitrate", 256}, {"WVCorrection", true}},
       [&](const std::string &out) {
         const std::string info = tool({"wvunpack", "-s", out});
         EXPECT_NE(info.find("modalities:        hybrid lossless"), std::string::npos) << info;
         const size_t at = info.find("ave lossy bitrate: ");
         ASSERT_NE(at, std::string::npos) << info;
         EXPECT_NEAR(std::stoi(info.substr(at + 19)), 256, 60) << info;
       }},
      // A high bitrate, so that only the bandwidth can cut the highs.
      {dfAAC, {slide("tbBitrate", 128), slide("tbBandwidth", 1)}, {{"AACBitrate", 128}, {"AACBandwidth", 1}},
       [&](const std::string &out) {
         // Cut at 6000 Hz: above 8 kHz the output is far below the source (the default 16000 keeps it).
         const auto above8k = [&](const std::string &path) {
           std::string err;
           RunTool({"ffmpeg", "-v", "info", "-i", path, "-af", "highpass=f=8000:poles=2,highpass=f=8000:poles=2,astats",
                    "-f", "null", "-"},
                   nullptr, &err);
           const size_t at = err.rfind("RMS level dB: ");
           return at == std::string::npos ? 0.0 : std::stod(err.substr(at + 14));
         };
         EXPECT_LT(above8k(out), above8k(source) - 15);
       }},
      // The quality moved in VBR mode is not kept once CBR is chosen.
      {dfWMA, {click("rbVBR"), slide("tbVBR", 50), click("rbCBR"), slide("tbCBR", 20), tick("cbAutoFindBitrate")},
       {{"WMABitrate", 20}, {"WMAAutoFindBitrate", true}}, bitrate("wmav2,128000\n")},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(FormatName(row.Format));
    const TFormatRow &format = *FormatRow(row.Format);
    std::map<std::string, TStoredValue> expected = StoredValues(row.Format);  // the defaults
    for (const auto &[name, value] : row.Expected) expected[name] = value;
    const auto choose = [&](TFormatDialog &d) {
      for (const TChoice &choice : row.Choose) choice(*this, d);
    };
    const auto before = std::make_shared<int>(0);
    Engine.SetOptions(row.Format, before);

    for (const bool escape : {false, true}) {
      auto d = Open(row.Format);
      choose(*d);
      if (escape) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(d.get(), &key);
      } else {
        d->bCancel->click();
      }
      EXPECT_EQ(d->result(), QDialog::Rejected);
      EXPECT_EQ(FileText().find(format.Fields[0].StoredName), std::string::npos);
      EXPECT_EQ(Engine.GetOptions(row.Format), static_cast<const void *>(before.get()));
    }

    auto d = Open(row.Format);
    choose(*d);
    d->bOK->click();
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(d->SaveProblem, "");
    EXPECT_EQ(StoredValues(row.Format), expected);
    for (const TOptionField &f : format.Fields)  // every value is in the file itself
      EXPECT_NE(FileText().find(std::string(f.StoredName) + "="), std::string::npos) << f.StoredName;
    ASSERT_NE(Engine.GetOptions(row.Format), static_cast<const void *>(before.get()));
    for (const TOptionField &f : format.Fields)
      if (!f.WrittenAs) {
        EXPECT_EQ(f.Get(Engine.GetOptions(row.Format)), expected[f.StoredName]) << f.StoredName;
      }
    // Opening again and confirming changes nothing.
    Open(row.Format)->bOK->click();
    EXPECT_EQ(StoredValues(row.Format), expected);

    const std::string output = Folder + "/out." + format.Extension;
    EXPECT_EQ(ConvertFile(source, output, row.Format, Engine.GetOptions(row.Format)).size(), 0u);
    row.Check(output);
  }
}

// Every caption fits in every language, at the desktop's font and at 1.25 times it.
TEST_F(FormatDialogs, EveryLanguageFits) {
  const QFont font = QApplication::font();
  for (const double scale : {1.0, 1.25}) {
    QFont scaled = font;
    scaled.setPointSizeF(font.pointSizeF() * scale);
    QApplication::setFont(scaled);
    for (const char *code : {"EN", "RU", "LV", "CS", "FR", "ES", "HU"}) {
      std::vector<std::string> missing;
      LoadLanguage(LanguageIndex(code), [&](const std::string &id) { missing.push_back(id); });
      EXPECT_EQ(missing, std::vector<std::string>{}) << code;
      for (const TFormatRow *row : FormatRows()) {
        if (row->Code == dfWAV) continue;
        auto d = Open(row->Code);
        QApplication::processEvents();
        EXPECT_EQ(ClippedTexts(d.get()), std::vector<std::string>{}) << code << " " << row->Name << " at " << scale;
      }
    }
  }
  QApplication::setFont(font);
  ResetTextsToEnglish();
}

}  // namespace
