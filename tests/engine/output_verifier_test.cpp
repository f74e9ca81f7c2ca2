// SPDX-License-Identifier: GPL-3.0-or-later
// Verifying lossless outputs: the verifier on real outputs of every lossless
// format and depth, whole, read under a hidden name, with their audio bytes
// spoiled on disk, or its check stopped; lossy outputs are never verified.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "encoders/format.h"
#include "engine/output_verifier.h"
#include "test_support.h"

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

TEST(OutputVerifier, HashIsTheSameHoweverTheStreamIsCutAndNothingElse) {
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

// Each output, made by the program's own encoder from a source whose samples
// reach the encoder unchanged, verifies against the generated samples (under
// a hidden name too); a few bytes flipped in its middle, or its last quarter
// cut off, fail it with a message naming the output.
TEST(OutputVerifier, PassesWholeOutputsAndCatchesSpoiledOnes) {
  const std::string folder = TestFolder();
  // Every lossless format: 16-bit stereo, 24 bits on as many channels as it
  // takes up to six, and floats where they reach its encoder as floats.
  struct TCase {
    std::string Name;
    TDestinationFormat Format;
    int Bits, Channels;  // of the source, and of what the encoder is given
  };
  std::vector<TCase> rows;
  for (const TFormatRow *f : FormatRows()) {
    if (!f->Lossless || !f->Lossless(nullptr)) continue;
    const std::shared_ptr<void> defaults = f->NewOptions();
    const TEncoderRange takes = f->Takes ? f->Takes(defaults.get()) : TEncoderRange{};
    const int most = takes.MaxChannels ? std::min(6, takes.MaxChannels) : 6;
    for (const auto &[bits, channels] : {std::pair{16, 2}, {24, most}, {32, 2}})
      if (bits != 32 || f->Samples.FromFloat == 32) rows.push_back({f->Name + std::to_string(bits), f->Code, bits, channels});
  }
  for (const TCase &row : rows) {
    SCOPED_TRACE(row.Name);
    const TFormatRow &format = *FormatRow(row.Format);
    const TTestSignal signal{.Channels = row.Channels, .Bits = row.Bits, .Seconds = 1.5};
    const std::string source = WriteSignal(folder + "/source_" + row.Name + ".wav", signal,
                                           {"-c:a", row.Bits == 32 ? "pcm_f32le" : "pcm_s" + std::to_string(row.Bits) + "le"});
    const std::string output = folder + "/" + row.Name + "." + format.Extension;
    const std::shared_ptr<void> options = format.NewOptions();
    const auto errors = ConvertFile(source, output, row.Format, options.get());
    ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;
    ASSERT_TRUE(IsVerifiable(row.Format, options.get()));
    const TSampleHash given = HashOf(MakeSamples(signal), 1001);
    const std::string hidden = folder + "/." + row.Name + ".tonmill-part";
    std::filesystem::copy_file(output, hidden);
    EXPECT_EQ(Verdict(hidden, row.Format, row.Bits, given), "");
    int blocks = 0;  // a check stopped half-way passes nothing
    EXPECT_NE(Verdict(hidden, row.Format, row.Bits, given, [&blocks] { return ++blocks > 2; }), "");
    for (const bool cut : {false, true}) {
      std::vector<uint8_t> bytes = ReadFileBytes(output);
      for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 4; ++i) bytes[i] ^= 0x5A;
      if (cut) bytes = ReadFileBytes(output), bytes.resize(bytes.size() * 3 / 4);
      WriteFileBytes(hidden, bytes);
      const std::string verdict = Verdict(hidden, row.Format, row.Bits, given);
      EXPECT_EQ(verdict.rfind("Verification failed: \"/music/out.x\" ", 0), 0u) << verdict;
    }
  }
  for (const TFormatRow *row : FormatRows()) {  // only lossless outputs are checked
    const std::shared_ptr<void> options = row->NewOptions ? row->NewOptions() : nullptr;
    EXPECT_EQ(IsVerifiable(row->Code, options.get()), row->Lossless && row->Lossless(options.get())) << row->Name;
    if (row->Code != dfWavPack) continue;
    for (const TOptionField &field : row->Fields)
      if (std::string(field.StoredName) == "WVHybrid") field.Set(options.get(), true);
    EXPECT_FALSE(IsVerifiable(row->Code, options.get())) << "hybrid WavPack";
  }
}

}  // namespace
