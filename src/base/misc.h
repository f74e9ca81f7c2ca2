// SPDX-License-Identifier: GPL-3.0-or-later
// The records that travel between the window, the engine, the workers, the
// decoders and the encoders; the tables of the file types Tonmill reads and
// writes; a few small routines; the five process-wide locks.
//
// Every string is UTF-8. Records are plain data, copied by value; a copy of a
// TAudioInfo is a copy of its streams too, so no two workers share one.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/bass/bass.h"

// Internal consistency failures ("Assert failed : ...").
class EAssertFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The program's version, as the build states it ("1.95").
constexpr const char *ProgramVersion = TONMILL_VERSION;

// Destination format code; per-format tables are indexed by code minus one.
// The formats themselves are the rows of encoders/formats.cpp; a format added
// later takes its code in its own folder.
using TDestinationFormat = uint8_t;
constexpr TDestinationFormat dfMP3 = 1;
constexpr TDestinationFormat dfWMA = 2;
constexpr TDestinationFormat dfOGG = 3;
constexpr TDestinationFormat dfAPE = 4;
constexpr TDestinationFormat dfFLAC = 5;
constexpr TDestinationFormat dfWavPack = 6;
constexpr TDestinationFormat dfAAC = 7;
constexpr TDestinationFormat dfWAV = 8;
// Room in the per-format tables: every code is 1..MaxDestinationFormat.
constexpr int MaxDestinationFormat = 32;

struct TCoderVersionRec {
  std::string VersionText;
  int32_t MajorVersion = 0;
  int32_t MinorVersion = 0;
  std::string LibraryName;
};

// Decoder family of an input type.
constexpr uint8_t ctBASS = 0;
constexpr uint8_t ctFFmpeg = 1;

struct TSupportedFileTypes {
  std::string Extension;          // lower case, no dot
  uint8_t CodecType = ctBASS;
  TCoderVersionRec CoderVersion;  // destination rows only
  int32_t FilesPerCPU = 0;        // destination rows only
  TBASSStreamCreateFunc StreamCreateFunc = nullptr;
  bool CUECapable = false;
};

constexpr int InputFileTypeCount = 28;
// Written at start-up (and FilesPerCPU while settings load), read by any thread.
extern std::array<TSupportedFileTypes, InputFileTypeCount> InputFileTypes;
extern std::array<TSupportedFileTypes, MaxDestinationFormat> DestinationFileTypes;

// Audio properties of one stream of a source.
struct TAudioInfoRec {
  std::string Name;
  int32_t Bitrate = 0;              // kbit/s
  int32_t SampleRate = 0;           // Hz
  int32_t BitsPerSample = 0;        // 8, 16, 24 or 32 (32 = float)
  int32_t BytesPerSample = 0;
  int32_t GatheredBytesPerSample = 0;
  int32_t BytesPerSecond = 0;
  int32_t BlockAlign = 0;           // bytes per sample frame
  int32_t Channels = 0;
  std::string ChannelLayout;
  double Duration = 0.0;            // seconds
};

struct TAudioInfo {
  int32_t Index = 0;                // the stream converted
  std::string ErrorText;            // non-empty when gathering failed
  double DamagedAt = -1;            // seconds; where measuring its length found the source damaged
  std::vector<TAudioInfoRec> Streams;
};

struct TProgressRec {
  std::string InputFileName;
  std::string OutputFileName;
  std::string ElapsedTime;          // hh:mm:ss
  std::string RemainingTime;        // hh:mm:ss or "--:--:--"
  int32_t JobNumber = 0;            // 1-based
  int32_t JobCount = 0;
  int32_t Percent = 0;              // 0..100
  int32_t SlotIndex = 0;
  int32_t SlotCount = 0;
  double Duration = 0.0;            // seconds of audio in the job
  uint8_t Stage = 0;                // see the constants below
};
constexpr uint8_t stWholeSource = 0;
constexpr uint8_t stTrack = 1;
constexpr uint8_t stGatheringInfo = 2;
constexpr uint8_t stSeekingSilence = 3;

struct TSourceFileRec {
  bool HasCUE = false;              // the entry came from a CUE sheet
  std::string CueName;              // that sheet's own path; the run reads it
  TAudioInfo AudioInfo;
  TProgressRec Progress;            // Percent 1 once the info has been gathered
};

// One entry of the source list: the source's path (absolute) and its record.
struct TSourceItem {
  std::string FileName;
  TSourceFileRec Rec;
};
using TSourceList = std::vector<TSourceItem>;
// The sheet whose tracks a source with HasCUE is cut into: the sheet it was
// added through, else the one found beside it.
inline const std::string &CueSheetOf(const TSourceItem &Item) {
  return Item.Rec.CueName.empty() ? Item.FileName : Item.Rec.CueName;
}

// One track of a CUE sheet or one piece of a source split at silences.
struct TCUERec {
  int32_t TrackNumber = 0;
  std::string Album;
  std::string Unused1;
  std::string Title;
  std::string Performer;
  std::string Unused2;
  std::string FileName;
  int32_t Index00Minutes = 0, Index00Seconds = 0, Index00Frames = 0;
  int32_t Index01Minutes = 0, Index01Seconds = 0, Index01Frames = 0;  // 75 frames per second
  double StartTime = 0.0;           // seconds (silence pieces)
  double EndTime = 0.0;
  bool InSeconds = false;           // true: StartTime/EndTime; false: the INDEX 01 triple
  bool Hidden = false;              // the audio before a sheet's first track
};
using TCUEArr = std::vector<TCUERec>;

// Loudness tags of an output: ReplayGain 2.0 gains in dB to -18 LUFS, peaks
// as ratios of full scale, and the Opus R128 gains (Q7.8, to -23 LUFS).
struct TReplayGainRec {
  bool HasTrack = false;
  double TrackGain = 0, TrackPeak = 0;
  int32_t R128TrackGain = 0;
  bool HasAlbum = false;
  double AlbumGain = 0, AlbumPeak = 0;
  int32_t R128AlbumGain = 0;
};

struct TTagRec {
  bool IsTrack = false;
  std::string Title;
  std::string Artist;
  std::string Album;
  std::string Year;
  std::string Comment;
  std::string Track = "0";          // "0" when the source has none
  std::string Genre;
  bool IsEmpty = false;
  bool Carried = true;               // false: tags are turned off, the output gets none
  TReplayGainRec ReplayGain{};       // measured while converting, with /replaygain
  // Read for naming outputs by a pattern; not written into outputs.
  std::string AlbumArtist{};
  std::string Disc{};
};

struct TPreprocessOptions {
  std::string FileFormat;
  bool Resample = false;
  int32_t ResampleTo = 44100;       // Hz
  int32_t Channels = 0;             // 0 = keep
  bool SplitBySilence = true;
  int32_t Threshold = 0;
  int32_t Seconds = 20;             // tenths of a second
  bool HiddenTrack = false;         // audio before a sheet's track 1 as track 0
  bool PregapOwnTrack = false;      // a track starts at its INDEX 00
};

// Why a job failed, in the words the report gives the user.
enum class TFailureReason : uint8_t {
  Other,            // only the details say
  DiskFull,
  TooLarge,         // past the file system's largest file or the file size limit
  PermissionDenied,
  ReadOnly,
  FolderVanished,   // the output's folder is gone
  NotAudio,         // not audio, or a kind this program does not read
  Damaged,          // decoding broke off at DamagedAt
  SourceVanished,
  BadSheet,         // a CUE sheet that cannot be read or cut
  SheetAudioMissing,  // a CUE sheet whose audio file is not there
  NoFFmpeg,         // a film, and no ffmpeg program to read its sound
  NotHeld,          // the format cannot hold the source: the message says why
};

struct TThreadErrorRec {
  std::string ErrorMessage;
  std::string LastCall;             // "<class>.Init" when Init failed, else empty
  int32_t ErrorCode = 0;
  std::string CurrentInputFileName;
  std::string CurrentOutputFileName;
  bool Reading = false;             // the source failed, else the output
  TFailureReason Reason = TFailureReason::Other;
  double DamagedAt = 0;             // seconds into the source
};

// The five process-wide locks of the workers.
extern std::mutex ErrorReportLock;
extern std::mutex ProgressReportLock;
extern std::mutex FinishReportLock;
extern std::mutex EncoderFinishLock;
extern std::mutex EncoderReleaseLock;

// 1 when started with "/DEBUG"; set once at start-up, before any worker exists.
extern int DebugMode;
// Every path here is UTF-8 and every library takes it: always true.
constexpr bool IsWideFileNamePlatform = true;

void InputFileByType(const std::string &extension, TSupportedFileTypes &row);
TBASSStreamCreateFunc GetBASSStreamFunc(const std::string &extension);
bool IsSupportedFileType(const std::string &extension);
// An input type that holds audio itself (every input type but a CUE sheet).
bool IsAudioFileType(const std::string &extension);
// The text after the last "." of the file name, in lower case; empty without one.
std::string GetFileExtension(const std::string &fileName);
// The file-name part of Name up to its last "." (not counting a leading one).
std::string GetFileNameWithoutExt(const std::string &Name);
// True when Path names a regular file (after following links).
bool IsRegularFile(const std::string &Path);
// True when Path names a folder (after following links); false when it cannot be looked at.
bool IsFolder(const std::string &Path);
// Path made absolute, without "." and ".." parts; links are left as they are.
// A relative path stays relative when the current folder no longer exists.
std::string NormalPath(const std::string &Path);

std::string FormatTime(uint16_t hours, uint16_t minutes, uint16_t seconds);
void MillisecondsToTime(uint64_t ms, uint16_t &hours, uint16_t &minutes, uint16_t &seconds);
std::string FormatElapsed(uint64_t nowTicks, uint64_t startTicks);
void SecondsToTime(double value, uint16_t &hours, uint16_t &minutes, uint16_t &seconds,
                   uint16_t &hundredths);

void FillProgressRec(const std::string &inputFileName, const std::string &outputFileName,
                     const std::string &elapsedTime, int32_t jobNumber, int32_t jobCount,
                     int32_t percent, int32_t slotIndex, int32_t slotCount, double duration,
                     uint8_t stage, TProgressRec &rec);

void SortIntegers(std::vector<int32_t> &values, int lo, int hi);
