// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the tests: a fresh folder per test, the independent tools, test signals, the program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;  // the tests' shorthand

// A fresh, empty folder for the running test (ends without "/").
std::string TestFolder();

// TestFolder made the program's home: its settings in a fresh "config" inside, the source tree's languages, English.
std::string TestProfileFolder();

// Runs a program (looked up on PATH, no shell): its exit status, its output and error in `out` and `err`.
int RunTool(const std::vector<std::string> &argv, std::string *out = nullptr, std::string *err = nullptr);

std::vector<uint8_t> ReadFileBytes(const std::string &path);
void WriteFileBytes(const std::string &path, const std::vector<uint8_t> &bytes);
// A file's bytes as text ("" when it is missing); text written as it stands. Returns path.
std::string ReadText(const std::string &path);
std::string WriteText(const std::string &path, const std::string &text);
// Cuts a file to the first half of its bytes, as an interrupted copy leaves it. Returns path.
std::string CutInHalf(const std::string &path);
// What ffprobe says of the first audio stream's `entries` ("codec_name,nb_read_packets"), one line.
std::string ProbeStream(const std::string &path, const std::string &entries);

// A deterministic test signal: a tone of its own in every channel plus noise (or, with Music, notes,
// drums and a room's echo; 1 or 2 channels), so swapped channels, shifted samples and lost bits show.
struct TTestSignal {
  int Rate = 44100;
  int Channels = 2;
  int Bits = 16;          // 8 (unsigned), 16, 24 or 32 (float)
  double Seconds = 1.0;
  uint32_t Seed = 1;
  double Level = 0.9;     // peak, relative to full scale (floats may pass it; integers clip)
  bool Music = false;
  std::vector<std::pair<double, double>> Silent = {};  // spans (seconds) of digital silence
};

int64_t FrameCount(const TTestSignal &signal);
// Interleaved little-endian samples in the signal's own format (u8, s16, packed s24, f32).
std::vector<uint8_t> MakeSamples(const TTestSignal &signal);
// The ffmpeg raw format name of samples of `bits` ("u8", "s16le", "s24le", "f32le").
std::string RawFormat(int bits);

// Writes the signal to `path` through ffmpeg (the extension picks the container, `codecArgs` the codec).
std::string WriteSignal(const std::string &path, const TTestSignal &signal,
                        const std::vector<std::string> &codecArgs = {});

// An MP3 file (no length stated) of `goodSeconds` that goes on with frames of another shape: decoding gives up there.
std::string WriteBrokenMp3(const std::string &path, double goodSeconds);

// A DSD64 (or, at twice the rate, DSD128) stereo DSF file (no program writes one): a sweep and a tone,
// one-bit by a second-order sigma-delta loop, with an ID3v2 title when `title` is given.
std::string WriteDsf(const std::string &path, double seconds, const std::string &title = {}, int rate = 2822400);

// Decodes `path` with ffmpeg into raw samples of `rawFormat` (e.g. "s16le").
std::vector<uint8_t> FFmpegDecode(const std::string &path, const std::string &rawFormat);

// The unsigned little-endian number of `bytes` bytes at `at`.
uint64_t ReadLE(const std::vector<uint8_t> &data, size_t at, int bytes);
// Samples of `bits` (as RawFormat) at full scale 1.0, exactly: 8-bit 0x80
// and 16-bit 0x8000 read alike, so buffers of any two depths compare.
std::vector<double> AsSamples(const std::vector<uint8_t> &data, int bits);
// Forwarders kept for older callers: 16-bit samples as integers, and the music signal.
std::vector<int32_t> AsInt16(const std::vector<uint8_t> &bytes);
std::vector<uint8_t> MakeMusic(const TTestSignal &signal);
std::string WriteMusic(const std::string &path, const TTestSignal &signal,
                       const std::vector<std::string> &codecArgs = {});

// Starts the decoding interface once for the test program.
void StartBass();
// Everything a stream delivers from its position on, in blocks of `blockBytes`; an error fails the test.
std::vector<uint8_t> ReadToEnd(uint32_t stream, uint32_t blockBytes = 65536);

// Waits (at most half a minute) until the file holds more than `bytes`.
void WaitForGrowth(const std::string &path, uintmax_t bytes = 100000);
// Whether a signal sent to the process waits there, not yet taken.
bool SignalPending(int pid, int signal);

// The program run by another, unprivileged user (uid 65534): a copy of it and its language files in a fresh
// temporary folder this user can reach, gone with the object; files written meanwhile are readable by all
// (umask 022). It needs root and setpriv: CannotRun says why it cannot be done ("" when it can).
class TOtherUser {
 public:
  TOtherUser();
  ~TOtherUser();
  // The command line that runs the program's copy as that user with `args`.
  std::vector<std::string> Command(const std::vector<std::string> &args) const;
  std::string Folder;     // for the test's files, open to everyone (ends without "/")
  std::string CannotRun;

 private:
  std::string Root;
  unsigned OldMask;
};

#include "engine/coder_thread.h"

// What a source of raw PCM says of itself: one stream of `bits` (whole bytes), `seconds` long (0: not stated).
TAudioInfo PcmInfo(int rate, int channels, int bits, double seconds = 0);

// The job of one whole source, as a run makes it (audio information and tags read from the source).
TFileListRec WholeSourceJob(const std::string &source, const std::string &output,
                            TDestinationFormat format, const void *options);
// Converts one job on a worker (`onProgress` may stop it): the errors it reported.
std::vector<TThreadErrorRec> ConvertJob(
    const TFileListRec &job, std::function<void(TCoderThread &, const TProgressRec &)> onProgress = {});
// ConvertJob of WholeSourceJob.
std::vector<TThreadErrorRec> ConvertFile(
    const std::string &source, const std::string &output, TDestinationFormat format,
    const void *options, std::function<void(TCoderThread &, const TProgressRec &)> onProgress = {});

// While alive, no file of this process may grow past `bytes` (writes beyond fail with "File too large").
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(uint64_t bytes);
  ~TFileSizeLimit();

 private:
  uint64_t Previous;
};

// A small tmpfs on `Folder` in a mount namespace of this process's own (seen by its later threads and
// programs, not outside). Mounting needs root; Mounted tells.
class TScratchDisk {
 public:
  TScratchDisk(const std::string &folder, const std::string &size);
  ~TScratchDisk();
  void SetReadOnly(bool on);
  // Fills all free space but `bytes` (whole pages): writes beyond fail with "No space left on device".
  void LeaveFree(uint64_t bytes);
  void Unfill();
  const std::string Folder;
  bool Mounted = false;
};

// Signal-to-noise ratio (dB) of `test` against `reference`, interleaved `channels`, `test` shifted by the lag
// up to `maxLag` frames that matches best (encoder delay); only the frames both hold count.
double SnrDb(const std::vector<int32_t> &reference, const std::vector<int32_t> &test, int channels, int maxLag = 0);

// Converting never touches a source: fails the test when a file under `paths` (files or folders) that is
// still there at the end has other bytes or another modification time.
class TSourceGuard {
 public:
  explicit TSourceGuard(const std::vector<std::string> &paths);
  ~TSourceGuard();

 private:
  struct TSeen {
    std::string Path;
    uint64_t Hash;
    int64_t Size, MTime;
  };
  std::vector<TSeen> Files;
};

// The program itself, started as a user starts it, `How` awkwardly. A run that hangs past the bound of
// Wait fails the test and is killed with everything it started.
struct TRunHow {
  std::vector<std::string> Env = {};  // "NAME=value" over the test's environment
  std::string Cwd = {};               // working folder ("" keeps the test's)
  bool RemoveCwd = false;             // the working folder is deleted once entered
  const TOtherUser *As = nullptr;     // run by the other user, from its copy
  bool ClosedErr = false;             // standard error is a pipe whose reader has gone
  bool IgnoreUsr1 = false;            // SIGUSR1 ignored, as a parent may leave it
  int FileSizeKiB = 0;                // "ulimit -f"
  int Seconds = 300;                  // the bound on Wait
};

class TTonmill {
 public:
  explicit TTonmill(const std::vector<std::string> &args, const TRunHow &how = {});
  ~TTonmill();
  // The exit status (128 + signal when killed by one); -1 when it could not start.
  int Wait();
  std::string Err() const { return ReadText(ErrFile); }
  std::string Out() const { return ReadText(OutFile); }
  int Pid = -1;

 private:
  std::string OutFile, ErrFile;
  int Seconds, Status = -1;
};

// Runs the program to its end: its status, its standard error (and output) in `err` (`out`).
int Tonmill(const std::vector<std::string> &args, std::string *err = nullptr, const TRunHow &how = {},
            std::string *out = nullptr);
