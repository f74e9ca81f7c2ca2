// SPDX-License-Identifier: GPL-3.0-or-later
// Verifying lossless outputs: the verifier on real outputs of every lossless
// format and depth, whole, read under a hidden name, and with their audio
// bytes spoiled on disk, or its check stopped.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "encoders/format.h"
#include "engine/output_verifier.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

TSampleHash HashOf(const std::vector<uint8_t> &bytes, size_t cut = 0) {
  TSampleHash hash;
  hash.Add(bytes.data(), cut);  // the same stream in two uneven blocks
  hash.Add(bytes.data() + cut, bytes.size() - cut);
  return hash;
}

// The message of VerifyOutput's failure; "" when it passes.
std::string Verdict(const std::string &file, TDestinationFormat format, int bits, const TSampleHash &given,
                    const std::function<bool()> &stopped = {}) {
  try {
    VerifyOutput(file, "/music/out.x", format, bits, given, stopped);
    return "";
  } catch (const std::exception &e) {
    return e.what();
  }
}

TEST(OutputVerifier, HashIsTheSameHoweverTheStreamIsCut) {
  const std::vector<uint8_t> bytes = MakeSamples({.Seconds = 0.01});
  const TSampleHash whole = HashOf(bytes);
  for (size_t cut : {size_t(1), size_t(7), size_t(13), bytes.size() - 3}) EXPECT_TRUE(HashOf(bytes, cut) == whole);
  std::vector<uint8_t> other = bytes;
  other[other.size() / 2] ^= 1;
  EXPECT_FALSE(HashOf(other) == whole);
  other = bytes;
  other.push_back(0);
  EXPECT_FALSE(HashOf(other) == whole);
}

struct TVerifyRow {
  const char *Name;
  TDestinationFormat Format;
  int Bits;  // of the source, and of what the encoder is given
  std::vector<std::string> SourceCodec;
};

// Each output, made by the program's own encoder from a source whose samples
// reach the encoder unchanged, verifies against the generated samples (also
// under a name without its extension); a few bytes flipped in its middle, or
// its last quarter cut off, fail it with a message naming the output.
TEST(OutputVerifier, PassesWholeOutputsAndCatchesSpoiledOnes) {
  const std::string folder = TestFolder();
  const std::vector<std::string> flac = {"-c:a", "flac"}, floats = {"-c:a", "pcm_f32le"};
  const TVerifyRow rows[] = {
      {"wav16", dfWAV, 16, {}},          {"wav24", dfWAV, 24, flac},          {"wav_float", dfWAV, 32, floats},
      {"flac16", dfFLAC, 16, {}},        {"flac24", dfFLAC, 24, flac},        {"ape16", dfAPE, 16, {}},
      {"ape24", dfAPE, 24, flac},        {"wavpack16", dfWavPack, 16, {}},    {"wavpack24", dfWavPack, 24, flac},
      {"wavpack_float", dfWavPack, 32, floats},
  };
  for (const TVerifyRow &row : rows) {
    SCOPED_TRACE(row.Name);
    const TFormatRow &format = *FormatRow(row.Format);
    const TTestSignal signal{.Bits = row.Bits, .Seconds = 1.5};
    const std::string source = WriteSignal(folder + "/source_" + row.Name + (row.SourceCodec == flac ? ".flac" : ".wav"),
                                           signal, row.SourceCodec);
    const std::string output = folder + "/" + row.Name + "." + format.Extension;
    const std::shared_ptr<void> options = format.NewOptions();
    const auto errors = ConvertFile(source, output, row.Format, options.get());
    ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;
    ASSERT_TRUE(IsVerifiable(row.Format, options.get()));
    const TSampleHash given = HashOf(MakeSamples(signal), 1001);

    const std::string hidden = folder + "/." + row.Name + ".tonmill-part";
    fs::copy_file(output, hidden);
    EXPECT_EQ(Verdict(hidden, row.Format, row.Bits, given), "");
    // A check stopped half-way passes nothing.
    int blocks = 0;
    EXPECT_NE(Verdict(hidden, row.Format, row.Bits, given, [&blocks] { return ++blocks > 2; }), "");

    std::vector<uint8_t> bytes = ReadFileBytes(output);
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 4; ++i) bytes[i] ^= 0x5A;
    WriteFileBytes(hidden, bytes);
    const std::string flipped = Verdict(hidden, row.Format, row.Bits, given);
    EXPECT_EQ(flipped.rfind("Verification failed: \"/music/out.x\" ", 0), 0u) << flipped;

    bytes = ReadFileBytes(output);
    bytes.resize(bytes.size() * 3 / 4);
    WriteFileBytes(hidden, bytes);
    const std::string cut = Verdict(hidden, row.Format, row.Bits, given);
    EXPECT_EQ(cut.rfind("Verification failed: \"/music/out.x\" ", 0), 0u) << cut;
  }
}

// Only lossless outputs are checked: hybrid WavPack and the lossy formats are not.
TEST(OutputVerifier, LossyOutputsAreNotVerifiable) {
  for (const TFormatRow *row : FormatRows()) {
    const std::shared_ptr<void> options = row->NewOptions ? row->NewOptions() : nullptr;
    const bool lossless = row->Code == dfWAV || row->Code == dfFLAC || row->Code == dfAPE || row->Code == dfWavPack;
    EXPECT_EQ(IsVerifiable(row->Code, options.get()), lossless) << row->Name;
    if (row->Code != dfWavPack) continue;
    const TOptionField *hybrid = nullptr;
    for (const TOptionField &field : row->Fields)
      if (std::string(field.StoredName) == "WVHybrid") hybrid = &field;
    ASSERT_NE(hybrid, nullptr);
    hybrid->Set(options.get(), true);
    EXPECT_FALSE(IsVerifiable(row->Code, options.get()));
  }
}

}  // namespace
