// SPDX-License-Identifier: GPL-3.0-or-later
// The destination formats as the rest of the program sees them: one row per
// format, listed in formats.cpp. The engine, the settings, the command line,
// the window's format buttons and About loop over the rows; nothing outside a
// format's own folder knows its options record.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <variant>

#include "encoders/custom_coder.h"
#include "tags/output_tags.h"

// How the worker turns decoded samples into what the encoder takes. Sources of
// 8 bits arrive as 16, sources of 16 bits as they are.
enum class TWideSamples : uint8_t {
  AsDecoded,  // floats stay floats
  Packed24,   // 24-bit deliveries packed to three bytes per sample
  Int24In32,  // 32-bit deliveries as integers with a 24-bit range
};
struct TSampleRule {
  int32_t FromFloat = 16;  // depth asked of the decoder for 32-bit float sources: 16 or 32
  int32_t From24 = 16;     // for 24-bit sources: 16, 24 or 32
  TWideSamples Wide = TWideSamples::AsDecoded;
};

// A stored value: integer, Boolean ("YES"/"NO") or text, as the settings file holds it.
using TStoredValue = std::variant<int32_t, bool, std::string>;
enum class TFieldKind : uint8_t { Integer, Boolean, Text };

// One stored setting of a format: its name, the member of the options record it
// fills, and how the two convert. The value read when the setting is missing is
// the member's default, converted.
struct TOptionField {
  const char *StoredName;
  TFieldKind Kind;
  int32_t Min, Max;  // the stored integer's range (the dialogs offer no other)
  TStoredValue (*Get)(const void *Options);
  void (*Set)(void *Options, const TStoredValue &Value);
  // Written as this whatever the record holds (FLAC's first-use mark).
  std::optional<int32_t> WrittenAs = std::nullopt;
};

// The command line as a format's key reader sees it.
class TKeyLookup {
 public:
  // The value given with Key (any case, without its "/"); nothing when missing.
  virtual std::optional<std::string> Value(const char *Key) const = 0;
  // True when Key is given, also without a value.
  virtual bool Given(const char *Key) const = 0;

 protected:
  ~TKeyLookup() = default;
};

// What a command-line key takes, for "--help": the range of the stored setting
// named Field (when the key takes the same numbers), then Values in words.
struct TKeyHelp {
  const char *Key;
  const char *Field;   // a StoredName of the row's Fields, or null
  const char *Values;
};

// The sample rates and channel counts an encoder takes.
struct TEncoderRange {
  int32_t MinRate = 1;
  int32_t MaxRate = 0;                  // 0: no limit
  std::span<const int32_t> Rates = {};  // not empty: only these, ascending
  int32_t MaxChannels = 0;              // 0: no limit
};

class TSpanJoiner;
using TCreateJoiner = std::unique_ptr<TSpanJoiner> (*)(const std::string &FileName, const TTagRec &Tags,
                                                        const TAudioInfo &AudioInfo, const void *Options);
using TCreateCoder = std::unique_ptr<TCustomCoder> (*)(const std::string &FileName, const TTagRec &Tags,
                                                        const TAudioInfo &AudioInfo, const void *Options);

struct TFormatRow {
  TDestinationFormat Code;
  const char *Name;       // stored, on its button and in About; "/dest" takes it in lower case
  const char *Extension;  // of its outputs: lower case, no dot
  TSampleRule Samples;
  // The rest is null (empty) while this program has no encoder for the format.
  TCreateCoder CreateCoder = nullptr;
  // How its outputs keep the source's tags and cover (tags/output_tags.h).
  TTagWriter WriteTags = nullptr;
  TCoderVersionRec (*Version)() = nullptr;          // the library's line in About
  std::shared_ptr<void> (*NewOptions)() = nullptr;  // a record holding the defaults
  std::span<const TOptionField> Fields = {};        // in the order they are written
  std::span<const char *const> Keys = {};           // command-line keys, in the "/DEBUG" line's order
  // Reads the keys over Options (a key not given keeps the stored value); a key
  // whose value cannot be used is explained in Error.
  void (*ReadKeys)(const TKeyLookup &Keys, void *Options, std::string &Error) = nullptr;
  std::span<const TKeyHelp> KeyHelp = {};  // every key ReadKeys reads
  // Whether outputs made with Options (null: the defaults) hold exactly the
  // samples they were given; null for a lossy format.
  bool (*Lossless)(const void *Options) = nullptr;
  // What the encoder takes with Options (a record of the format's); null:
  // anything. A lossy output is resampled and mixed down into it, a lossless
  // one that cannot hold its source fails before it starts.
  TEncoderRange (*Takes)(const void *Options) = nullptr;
  // Where the library limits the bitrate by the rate and channel count: a
  // copy of Options with the nearest bitrate it takes for Stream, or null when
  // Options fit (or nothing does: the encoder then says why). AskedKbps and
  // GivenKbps tell the run's report.
  std::shared_ptr<void> (*FitBitrate)(const void *Options, const TAudioInfoRec &Stream, int32_t &AskedKbps,
                                      int32_t &GivenKbps) = nullptr;
  // Frames an output may differ from what its encoder was given, through the
  // encoder's delay and the padding of its last frame as decoders see them:
  // how far an existing output's length may stray and still be complete.
  int32_t DelayAndPadding = 0;
  // The joiner that encodes an output in spans on several threads and joins
  // them into the file the format's coder would write, sample for sample;
  // null (or a null joiner, for some Options) where the format has none.
  TCreateJoiner CreateJoiner = nullptr;
  // Where the options choose the container: the extension of outputs made
  // with Options (a record of the format's); null: always Extension.
  const char *(*ExtensionOf)(const void *Options) = nullptr;
};

// The extension of Row's outputs made with Options (null: the defaults).
const char *OutputExtension(const TFormatRow &Row, const void *Options);

// Every format, in the order About lists them.
std::span<const TFormatRow *const> FormatRows();
// Every format, in the order of the codes (settings and buttons).
std::span<const TFormatRow *const> FormatRowsByCode();
// The row of a format code; null for a code that names none.
const TFormatRow *FormatRow(TDestinationFormat Format);
// "" for a code that names no format.
const char *FormatName(TDestinationFormat Format);

// The encoder for `Format`, writing FileName with Options (a record of the
// format's, null for the defaults), or null when Tonmill has none for it.
// With SpanThreads above 1, it encodes on that many threads where the format
// can join spans.
std::unique_ptr<TCustomCoder> CreateCoder(TDestinationFormat Format, const std::string &FileName,
                                          const TTagRec &Tags, const TAudioInfo &AudioInfo,
                                          const void *Options, int32_t SpanThreads = 1);
// True when this build has an encoder for `Format`.
bool HasEncoder(TDestinationFormat Format);
// Fills the library name and version of every destination format's encoder.
void FillCoderVersions();

// Where Value stands in a stored table of choices, searched from First;
// Otherwise when it is not there.
int32_t PositionIn(std::span<const int32_t> Table, int32_t Value, int32_t First, int32_t Otherwise);

// Digits only, fewer than ten of them.
bool IsNumberText(const std::string &Text);
// A numeric key: the stored value stays when the key is missing.
void ReadNumberKey(const TKeyLookup &Keys, const char *Key, int32_t &Target, std::string &Error);

// Building a row: the casts between a format's options record and the untyped
// record the rest of the program holds are these, and only these.
namespace format_row {

template <class TOptions>
std::shared_ptr<void> NewOptions() {
  return std::make_shared<TOptions>();
}

template <class TCoder, class TOptions>
std::unique_ptr<TCustomCoder> CreateCoder(const std::string &FileName, const TTagRec &Tags,
                                          const TAudioInfo &AudioInfo, const void *Options) {
  return std::make_unique<TCoder>(FileName, Tags, AudioInfo, *static_cast<const TOptions *>(Options));
}

inline bool AlwaysLossless(const void *) { return true; }

template <class TOptions, bool (*Test)(const TOptions &)>
bool Lossless(const void *Options) {
  return Test(Options ? *static_cast<const TOptions *>(Options) : TOptions{});
}

template <class TOptions, void (*Read)(const TKeyLookup &, TOptions &, std::string &)>
void ReadKeys(const TKeyLookup &Keys, void *Options, std::string &Error) {
  Read(Keys, *static_cast<TOptions *>(Options), Error);
}

template <class R, class M>
R RecordOf(M R::*);

template <auto Member, auto ToStored, auto FromStored>
struct TFieldCode {
  using R = decltype(RecordOf(Member));
  using M = std::remove_cvref_t<decltype(std::declval<R &>().*Member)>;
  static auto Stored(const M &Value) {
    if constexpr (!std::is_null_pointer_v<decltype(ToStored)>) return ToStored(Value);
    else if constexpr (std::is_same_v<M, bool>) return Value;
    else return int32_t(Value);
  }
  using SRaw = decltype(Stored(std::declval<const M &>()));
  using S = std::conditional_t<std::is_same_v<SRaw, bool> || std::is_same_v<SRaw, std::string>, SRaw, int32_t>;
  static constexpr TFieldKind Kind = std::is_same_v<S, bool>          ? TFieldKind::Boolean
                                     : std::is_same_v<S, std::string> ? TFieldKind::Text
                                                                      : TFieldKind::Integer;
  static TStoredValue Get(const void *Options) {
    return TStoredValue(S(Stored(static_cast<const R *>(Options)->*Member)));
  }
  static void Set(void *Options, const TStoredValue &Value) {
    const S &stored = std::get<S>(Value);
    M &member = static_cast<R *>(Options)->*Member;
    if constexpr (std::is_null_pointer_v<decltype(FromStored)>) member = M(stored);
    else member = M(FromStored(stored));
  }
};

// A member stored as it is, or through ToStored and back through FromStored.
template <auto Member, auto ToStored = nullptr, auto FromStored = nullptr>
constexpr TOptionField Field(const char *StoredName, int32_t Min = 0, int32_t Max = 0,
                             std::optional<int32_t> WrittenAs = std::nullopt) {
  using C = TFieldCode<Member, ToStored, FromStored>;
  return {StoredName, C::Kind, Min, Max, &C::Get, &C::Set, WrittenAs};
}

}  // namespace format_row
