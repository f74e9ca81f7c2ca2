// SPDX-License-Identifier: GPL-3.0-or-later
#include "test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "base/texts.h"

extern char **environ;

std::string TestFolder() {
  const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  const fs::path folder = fs::path(TONMILL_TEST_DATA_DIR) / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder.string();
}

std::string TestProfileFolder() {
  const std::string folder = TestFolder();
  fs::create_directories(folder + "/config");
  setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
  setenv("TONMILL_LANG_DIR", TONMILL_SOURCE_DIR "/lang", 1);
  ResetTextsToEnglish();
  return folder;
}

std::vector<uint8_t> ReadFileBytes(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void WriteFileBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

std::string ReadText(const std::string &path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::string WriteText(const std::string &path, const std::string &text) {
  WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
  return path;
}

std::string CutInHalf(const std::string &path) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  bytes.resize(bytes.size() / 2);
  WriteFileBytes(path, bytes);
  return path;
}

std::string ProbeStream(const std::string &path, const std::string &entries) {
  std::string out;
  RunTool({"ffprobe", "-v", "error", "-count_packets", "-select_streams", "a:0", "-show_entries", "stream=" + entries,
           "-of", "csv=p=0", path}, &out);
  return out;
}

namespace {

// Writes one sample `v` (full scale 1.0; integers clip) in the format of `bits`; returns the next place.
uint8_t *PutSample(uint8_t *p, int bits, double v) {
  const double c = std::clamp(v, -1.0, 1.0);
  const int32_t s = bits == 8 ? int32_t(std::lround(c * 127) + 128) : int32_t(std::lround(c * double((int64_t(1) << (bits - 1)) - 1)));
  const float f = float(v);
  uint32_t u = uint32_t(s);
  if (bits == 32) std::memcpy(&u, &f, 4);
  for (int i = 0; i < bits / 8; ++i) *p++ = uint8_t(u >> (8 * i));
  return p;
}

// A xorshift generator's next value in [-0.5, 0.5).
double Noise(uint32_t &state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return double(state) / 4294967296.0 - 0.5;
}

// Music-like frames: three voices of notes with harmonics and decays, panned,
// a kick and a snare, a room's echo and a quiet hiss.
class TMusic {
 public:
  explicit TMusic(const TTestSignal &s)
      : S(s), State(s.Seed * 2246822519u + 3266489917u), EchoL(size_t(s.Rate / 50), 0.0), EchoR(EchoL.size(), 0.0) {}
  void Next(int64_t i, double &left, double &right) {
    static const double scale[] = {0, 2, 4, 7, 9, 12, 14, 16, 19, 21};  // pentatonic, in semitones
    const double t = double(i) / S.Rate, noteSeconds = 0.3, beat = 0.15;
    left = right = 0;
    for (int voice = 0; voice < 3; ++voice) {
      const int64_t note = int64_t(t / noteSeconds + voice * 0.37);
      uint32_t h = uint32_t(note * 2654435761u + uint32_t(voice) * 40503u + S.Seed);
      h ^= h >> 15;
      const double f = 110.0 * std::pow(2.0, (scale[h % 10] + 12 * voice) / 12.0);
      const double age = t - (double(note) - voice * 0.37) * noteSeconds;
      const double vibrato = 1 + 0.003 * std::sin(2 * M_PI * 5 * t);
      double v = 0;
      for (int k = 1; k <= 6; ++k) v += std::sin(2 * M_PI * f * k * t * vibrato) / k * std::exp(-age * (2.0 + k));
      left += v * (0.75 - 0.25 * voice) * 0.25;
      right += v * (0.25 + 0.25 * voice) * 0.25;
    }
    const double since = std::fmod(t, beat);
    Snare = 0.6 * Snare + 0.4 * Noise(State);
    const double drum = int64_t(t / beat) % 4 == 0
                            ? 0.3 * std::sin(2 * M_PI * (60 + 200 * std::exp(-since * 30)) * since) * std::exp(-since * 12)
                            : 0.12 * Snare * std::exp(-since * 40);
    HissL = 0.7 * HissL + 0.3 * Noise(State);
    HissR = 0.7 * HissR + 0.3 * Noise(State);
    const size_t size = EchoL.size(), n = size_t(i) % size;
    auto echo = [&](std::vector<double> &e, double d1, double d2) {
      return 0.35 * e[(n + size - size_t(S.Rate * d1)) % size] + 0.25 * e[(n + size - size_t(S.Rate * d2)) % size];
    };
    left += drum + echo(EchoL, 0.011, 0.017);
    right += drum * 0.8 + echo(EchoR, 0.013, 0.019);
    EchoL[n] = left;
    EchoR[n] = right;
    left += 0.004 * HissL;
    right += 0.004 * HissR;
  }

 private:
  const TTestSignal &S;
  uint32_t State;
  double HissL = 0, HissR = 0, Snare = 0;
  std::vector<double> EchoL, EchoR;
};

TTestSignal AsMusic(TTestSignal signal) {
  signal.Music = true;
  return signal;
}

}  // namespace

int64_t FrameCount(const TTestSignal &signal) { return std::llround(signal.Seconds * signal.Rate); }

std::vector<uint8_t> MakeSamples(const TTestSignal &signal) {
  const int64_t frames = FrameCount(signal);
  std::vector<uint8_t> data(size_t(frames * signal.Channels * signal.Bits / 8));
  uint32_t state = signal.Seed * 2654435761u + 12345u;
  TMusic music(signal);
  uint8_t *p = data.data();
  for (int64_t i = 0; i < frames; ++i) {
    double left = 0, right = 0;
    if (signal.Music) music.Next(i, left, right);
    bool silent = false;
    for (const auto &[from, to] : signal.Silent) silent |= i >= std::llround(from * signal.Rate) && i < std::llround(to * signal.Rate);
    for (int c = 0; c < signal.Channels; ++c) {
      const double v = signal.Music ? (signal.Channels == 1 ? (left + right) / 2 : c == 0 ? left : right)
                                    : 0.5 * std::sin(2 * M_PI * (220.0 + 110.0 * c) * double(i) / signal.Rate) +
                                          0.4 * Noise(state);
      const double scaled = signal.Music ? std::clamp(signal.Level * v, -1.0, 1.0) : signal.Level * v;
      p = PutSample(p, signal.Bits, silent ? 0.0 : scaled);
    }
  }
  return data;
}

std::string RawFormat(int bits) { return bits == 8 ? "u8" : bits == 16 ? "s16le" : bits == 24 ? "s24le" : "f32le"; }

std::string WriteSignal(const std::string &path, const TTestSignal &signal, const std::vector<std::string> &codecArgs) {
  const std::string raw = path + ".raw";
  WriteFileBytes(raw, MakeSamples(signal));
  std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y", "-f", RawFormat(signal.Bits), "-ar",
                                   std::to_string(signal.Rate), "-ac", std::to_string(signal.Channels), "-i", raw};
  argv.insert(argv.end(), codecArgs.begin(), codecArgs.end());
  argv.push_back(path);
  std::string err;
  if (RunTool(argv, nullptr, &err) != 0) throw std::runtime_error("ffmpeg failed: " + err);
  fs::remove(raw);
  return path;
}

std::vector<uint8_t> FFmpegDecode(const std::string &path, const std::string &rawFormat) {
  const std::string raw = path + ".decoded.raw";
  std::string err;
  if (RunTool({"ffmpeg", "-v", "error", "-y", "-i", path, "-f", rawFormat, raw}, nullptr, &err) != 0)
    throw std::runtime_error("ffmpeg cannot decode " + path + ": " + err);
  std::vector<uint8_t> bytes = ReadFileBytes(raw);
  fs::remove(raw);
  return bytes;
}

uint64_t ReadLE(const std::vector<uint8_t> &data, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | data.at(at + size_t(i));
  return v;
}

std::vector<double> AsSamples(const std::vector<uint8_t> &data, int bits) {
  const int bytes = bits / 8;
  std::vector<double> v(data.size() / size_t(bytes));
  for (size_t i = 0; i < v.size(); ++i) {
    const uint32_t u = uint32_t(ReadLE(data, i * size_t(bytes), bytes));
    float f;
    std::memcpy(&f, &u, 4);
    v[i] = bits == 8 ? (int(u) - 128) / 128.0 : bits == 32 ? f : double(int32_t(u << (32 - bits)) >> (32 - bits)) / (1 << (bits - 1));
  }
  return v;
}

std::vector<int32_t> AsInt16(const std::vector<uint8_t> &bytes) {
  std::vector<int32_t> v;
  for (const double s : AsSamples(bytes, 16)) v.push_back(int32_t(s * 32768));
  return v;
}

std::vector<uint8_t> MakeMusic(const TTestSignal &signal) { return MakeSamples(AsMusic(signal)); }

std::string WriteMusic(const std::string &path, const TTestSignal &signal, const std::vector<std::string> &codecArgs) {
  return WriteSignal(path, AsMusic(signal), codecArgs);
}

#include "platform/bass/bass.h"

void StartBass() {
  [[maybe_unused]] static const bool started = [] {
    BASS_Init(0, 44100, 0, nullptr, nullptr);
    return BASS_SetConfig(BASS_CONFIG_VERIFY, 0x100000);
  }();
}

std::vector<uint8_t> ReadToEnd(uint32_t stream, uint32_t blockBytes) {
  std::vector<uint8_t> all, block(blockBytes);
  for (DWORD got; (got = BASS_ChannelGetData(stream, block.data(), blockBytes)) != DWORD(-1);)
    all.insert(all.end(), block.begin(), block.begin() + got);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ENDED);
  return all;
}

bool SignalPending(int pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("ShdPnd:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1;
  return false;
}

TOtherUser::TOtherUser() : OldMask(umask(022)) {
  std::string root = (fs::temp_directory_path() / "tonmill-other-XXXXXX").string();
  if (!mkdtemp(root.data())) {
    CannotRun = "cannot make a folder in " + fs::temp_directory_path().string() + ": " + std::strerror(errno);
    return;
  }
  Root = root;
  // Copies keep their source's mode, which a private umask may have closed.
  const fs::perms open = fs::perms(0755), readable = fs::perms(0644);
  fs::permissions(Root, open);
  // The language files go beside the program, where it looks for them.
  fs::create_directories(Root + "/program/lang");
  fs::copy_file(TONMILL_BINARY, Root + "/program/tonmill");
  fs::permissions(Root + "/program/tonmill", open);
  for (const auto &entry : fs::directory_iterator(TONMILL_SOURCE_DIR "/lang")) {
    if (entry.path().extension() != ".lng") continue;
    const fs::path copy = Root + "/program/lang/" + entry.path().filename().string();
    fs::copy_file(entry.path(), copy);
    fs::permissions(copy, readable);
  }
  Folder = Root + "/files";
  fs::create_directory(Folder);
  fs::permissions(Folder, open);
  std::string err;
  if (geteuid() != 0)
    CannotRun = "running the program as another user needs root";
  else if (RunTool({"setpriv", "--version"}) != 0)
    CannotRun = "setpriv is not installed";
  else if (RunTool(Command({"--version"}), nullptr, &err) != 0)
    CannotRun = "the user 65534 cannot run the program in " + Root + ": " + err;
}

TOtherUser::~TOtherUser() {
  umask(OldMask);
  std::error_code ec;
  if (!Root.empty()) fs::remove_all(Root, ec);
}

std::vector<std::string> TOtherUser::Command(const std::vector<std::string> &args) const {
  // The program finds its languages beside itself, not in a folder named for this process.
  std::vector<std::string> argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                   "env", "-u", "TONMILL_LANG_DIR", Root + "/program/tonmill"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

#include "sources/audio_info.h"
#include "tags/read_tags.h"

TAudioInfo PcmInfo(int rate, int channels, int bits, double seconds) {
  TAudioInfo info;
  info.Streams = {{.Name = {}, .SampleRate = rate, .BitsPerSample = bits, .BytesPerSample = bits / 8,
                   .Channels = channels, .ChannelLayout = {}, .Duration = seconds}};
  return info;
}

TFileListRec WholeSourceJob(const std::string &source, const std::string &output,
                            TDestinationFormat format, const void *options) {
  StartBass();
  TFileListRec job;
  job.SourceFileName = source;
  job.OutputFileName = output;
  job.JobNumber = job.JobCount = 1;
  job.DestinationFormat = format;
  job.Options = options;
  job.Replaces = RegularFileIdentity(output);
  GetFileAudioInfo(source, true, job.AudioInfo);
  ReadTags(source, job.Tags);
  return job;
}

std::vector<TThreadErrorRec> ConvertJob(const TFileListRec &job,
                                        std::function<void(TCoderThread &, const TProgressRec &)> onProgress) {
  StartBass();
  const TSourceGuard guard({job.SourceFileName});
  std::vector<TThreadErrorRec> errors;
  std::unique_ptr<TCoderThread> worker;
  worker = std::make_unique<TCoderThread>(0, 1, job,
      [&](const TProgressRec &p) { if (onProgress) onProgress(*worker, p); },
      nullptr, [&](int32_t, const TThreadErrorRec &e) { errors.push_back(e); });
  worker->Resume();
  worker->WaitFor();
  return errors;
}

std::vector<TThreadErrorRec> ConvertFile(const std::string &source, const std::string &output,
                                         TDestinationFormat format, const void *options,
                                         std::function<void(TCoderThread &, const TProgressRec &)> onProgress) {
  return ConvertJob(WholeSourceJob(source, output, format, options), std::move(onProgress));
}

#include <csignal>
#include <sys/resource.h>

TFileSizeLimit::TFileSizeLimit(uint64_t bytes) {
  std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of ending the process
  rlimit limit;
  getrlimit(RLIMIT_FSIZE, &limit);
  Previous = limit.rlim_cur;
  limit.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &limit);
}

TFileSizeLimit::~TFileSizeLimit() {
  rlimit limit;
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = Previous;
  setrlimit(RLIMIT_FSIZE, &limit);
}

#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

namespace {

// One private mount namespace for the whole test program.
bool PrivateMounts() {
  static const bool made = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return made;
}

uint64_t FreeBytes(const std::string &folder) {
  struct statvfs s {};
  EXPECT_EQ(statvfs(folder.c_str(), &s), 0) << std::strerror(errno);
  return uint64_t(s.f_bavail) * s.f_frsize;
}

// A hash of the file's bytes, its size and modification time (ns); false when it is no regular file.
bool LookAt(const std::string &path, uint64_t &hash, int64_t &size, int64_t &mtime) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  size = info.st_size;
  mtime = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  hash = std::hash<std::string>{}(ReadText(path));
  return true;
}

}  // namespace

TScratchDisk::TScratchDisk(const std::string &folder, const std::string &size) : Folder(folder) {
  fs::create_directories(folder);
  Mounted = PrivateMounts() && mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
}

TScratchDisk::~TScratchDisk() {
  if (Mounted) umount2(Folder.c_str(), MNT_DETACH);
}

void TScratchDisk::SetReadOnly(bool on) {
  ASSERT_EQ(mount("tmpfs", Folder.c_str(), "tmpfs", MS_REMOUNT | (on ? MS_RDONLY : 0), nullptr), 0)
      << std::strerror(errno);
}

void TScratchDisk::LeaveFree(uint64_t bytes) {
  Unfill();
  const uint64_t free = FreeBytes(Folder);
  ASSERT_GE(free, bytes);
  const std::string filler = Folder + "/.filler";
  const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  const int allocated = free > bytes ? posix_fallocate(fd, 0, off_t(free - bytes)) : 0;
  close(fd);
  ASSERT_EQ(allocated, 0) << std::strerror(allocated);
  ASSERT_EQ(FreeBytes(Folder), bytes);
}

void TScratchDisk::Unfill() {
  std::error_code ec;
  fs::remove(Folder + "/.filler", ec);
}

double SnrDb(const std::vector<int32_t> &reference, const std::vector<int32_t> &test, int channels, int maxLag) {
  const int64_t refFrames = int64_t(reference.size()) / channels;
  const int64_t testFrames = int64_t(test.size()) / channels;
  // The lag from the cross-correlation of a stretch of the first channel.
  int bestLag = 0;
  double bestCorrelation = -1e300;
  const int64_t window = std::min<int64_t>(8192, refFrames);
  const int64_t start = std::min<int64_t>(refFrames / 4, refFrames - window);
  for (int lag = 0; lag <= maxLag; ++lag) {
    if (start + window + lag > testFrames) break;
    double sum = 0;
    for (int64_t i = start; i < start + window; ++i)
      sum += double(reference[size_t(i * channels)]) * test[size_t((i + lag) * channels)];
    if (sum > bestCorrelation) {
      bestCorrelation = sum;
      bestLag = lag;
    }
  }
  const int64_t frames = std::min(refFrames, testFrames - bestLag);
  double signal = 0, noise = 0;
  for (int64_t i = 0; i < frames * channels; ++i) {
    const double r = reference[size_t(i)], t = test[size_t(i + int64_t(bestLag) * channels)];
    signal += r * r;
    noise += (r - t) * (r - t);
  }
  return 10 * std::log10(signal / std::max(noise, 1e-9));
}

std::string WriteDsf(const std::string &path, double seconds, const std::string &title, int rate) {
  constexpr int kChannels = 2, kBlock = 4096;
  const uint64_t samples = uint64_t(seconds * rate);
  const uint64_t blocks = (samples / 8 + kBlock - 1) / kBlock;
  std::vector<uint8_t> data(blocks * kBlock * kChannels, 0);
  for (int c = 0; c < kChannels; ++c) {
    double first = 0, second = 0, out = 1;
    for (uint64_t i = 0; i < samples; ++i) {
      // Left a sweep from 300 Hz up by 1 kHz a second (no lag looks like another), right a 1.5 kHz tone.
      const double t = double(i) / rate;
      first += 0.4 * std::sin(2 * M_PI * (c ? 1500 * t : 300 * t + 500 * t * t)) - out;
      second += first - out;
      out = second >= 0 ? 1 : -1;
      if (out > 0) data[(i / 8 / kBlock * kChannels + uint64_t(c)) * kBlock + i / 8 % kBlock] |= uint8_t(1 << (i % 8));
    }
  }
  std::vector<uint8_t> id3;
  if (!title.empty()) {  // ID3v2.3, one TIT2 frame of Latin-1 text
    const uint32_t frame = uint32_t(title.size()) + 1, body = frame + 10;
    id3 = {'I', 'D', '3', 3, 0, 0, uint8_t(body >> 21 & 127), uint8_t(body >> 14 & 127), uint8_t(body >> 7 & 127),
           uint8_t(body & 127), 'T', 'I', 'T', '2', uint8_t(frame >> 24), uint8_t(frame >> 16), uint8_t(frame >> 8),
           uint8_t(frame), 0, 0, 0};
    id3.insert(id3.end(), title.begin(), title.end());
  }
  std::vector<uint8_t> file;
  auto put = [&](uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) file.push_back(uint8_t(value >> (8 * i)));
  };
  auto tag = [&](const char *name) { file.insert(file.end(), name, name + 4); };
  const uint64_t dataStart = 28 + 52, total = dataStart + 12 + data.size() + id3.size();
  tag("DSD "), put(28, 8), put(total, 8), put(id3.empty() ? 0 : total - id3.size(), 8);
  tag("fmt "), put(52, 8), put(1, 4), put(0, 4), put(2, 4), put(kChannels, 4), put(rate, 4), put(1, 4);
  put(samples, 8), put(kBlock, 4), put(0, 4);
  tag("data"), put(12 + data.size(), 8);
  file.insert(file.end(), data.begin(), data.end());
  file.insert(file.end(), id3.begin(), id3.end());
  WriteFileBytes(path, file);
  return path;
}

std::string WriteBrokenMp3(const std::string &path, double goodSeconds) {
  const std::vector<std::string> bare = {"-c:a", "libmp3lame", "-write_xing", "0", "-id3v2_version", "0"};
  WriteSignal(path, {.Seconds = goodSeconds}, bare);
  const std::string rest = path + ".rest.mp3";
  WriteSignal(rest, {.Channels = 1, .Seconds = 30}, bare);
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  const std::vector<uint8_t> more = ReadFileBytes(rest);
  bytes.insert(bytes.end(), more.begin(), more.end());
  WriteFileBytes(path, bytes);
  fs::remove(rest);
  return path;
}

TSourceGuard::TSourceGuard(const std::vector<std::string> &paths) {
  std::vector<std::string> files = paths;
  for (const std::string &p : paths) {  // and what the folders among them hold
    std::error_code ec;
    for (fs::recursive_directory_iterator it(p, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec))
      files.push_back(it->path().string());
  }
  for (const std::string &f : files)
    if (TSeen seen{f, 0, 0, 0}; LookAt(f, seen.Hash, seen.Size, seen.MTime)) Files.push_back(seen);
}

TSourceGuard::~TSourceGuard() {
  for (const TSeen &was : Files) {
    TSeen now{was.Path, 0, 0, 0};
    // A test may take a source away on purpose.
    if (!LookAt(was.Path, now.Hash, now.Size, now.MTime)) continue;
    EXPECT_TRUE(now.Hash == was.Hash && now.Size == was.Size) << "the source " << was.Path << " was changed";
    EXPECT_EQ(now.MTime, was.MTime) << "the modification time of the source " << was.Path << " changed";
  }
}

void WaitForGrowth(const std::string &path, uintmax_t bytes) {
  std::error_code ec;
  for (int i = 0; i < 30000 && !(std::filesystem::file_size(path, ec) > bytes && !ec); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}


namespace {

// Waits for a started program: its exit status (128 + signal if killed).
int WaitTool(int pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Starts a program (looked up on PATH) as `how` asks, in a process group of its own, its input empty, its output
// and error in the files: its process id.
pid_t Start(std::vector<std::string> argv, const TRunHow &how, const std::string &outFile, const std::string &errFile) {
  std::vector<std::string> env = how.Env;  // and the test's own variables it does not set
  const auto name = [](const std::string &entry) { return entry.substr(0, entry.find('=') + 1); };
  for (char **e = environ; *e; ++e)
    if (std::none_of(how.Env.begin(), how.Env.end(), [&](const std::string &mine) { return name(mine) == name(*e); }))
      env.push_back(*e);
  // Everything the child needs is made before the fork: after it, only calls safe there.
  std::vector<char *> argp, envp;
  for (std::string &a : argv) argp.push_back(a.data());
  for (std::string &e : env) envp.push_back(e.data());
  argp.push_back(nullptr);
  envp.push_back(nullptr);
  int closed[2] = {-1, -1};
  if (how.ClosedErr && pipe(closed) == 0) close(closed[0]);
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err = how.ClosedErr ? closed[1] : open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const rlimit limit{rlim_t(how.FileSizeKiB) * 1024, RLIM_INFINITY};
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);  // its own group, so that a hang is ended with all it started
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    signal(SIGUSR1, how.IgnoreUsr1 ? SIG_IGN : SIG_DFL);
    if (how.FileSizeKiB && setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(121);
    if (!how.Cwd.empty() && (chdir(how.Cwd.c_str()) != 0 || (how.RemoveCwd && rmdir(how.Cwd.c_str()) != 0)))
      _exit(120);
    dup2(null, 0);
    dup2(out, 1);
    dup2(err, 2);
    execvpe(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  for (const int fd : {null, out, err})
    if (fd >= 0) close(fd);
  return pid;
}

}  // namespace

TTonmill::TTonmill(const std::vector<std::string> &args, const TRunHow &how) : Seconds(how.Seconds) {
  static int runs = 0;
  const std::string base = fs::temp_directory_path() / ("tonmill-run-" + std::to_string(getpid()) + "-" +
                                                        std::to_string(++runs));
  OutFile = base + ".out";
  ErrFile = base + ".err";
  std::vector<std::string> argv = how.As ? how.As->Command(args) : args;
  if (!how.As) argv.insert(argv.begin(), TONMILL_BINARY);
  Pid = Start(argv, how, OutFile, ErrFile);
}

int TTonmill::Wait() {
  if (Pid <= 0 || Status >= 0) return Status;
  for (int i = 0; i < Seconds * 100; ++i) {
    int status = 0;
    if (waitpid(Pid, &status, WNOHANG) == Pid)
      return Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "the run did not end within " << Seconds << " s: " << Err();
  kill(-Pid, SIGKILL);
  return Status = WaitTool(Pid);
}

TTonmill::~TTonmill() {
  if (Pid > 0 && Status < 0) {
    kill(-Pid, SIGKILL);
    WaitTool(Pid);
  }
  std::error_code ec;
  fs::remove(OutFile, ec);
  fs::remove(ErrFile, ec);
}

int Tonmill(const std::vector<std::string> &args, std::string *err, const TRunHow &how, std::string *out) {
  TTonmill run(args, how);
  const int status = run.Wait();
  if (err) *err = run.Err();
  if (out) *out = run.Out();
  return status;
}

int RunTool(const std::vector<std::string> &argv, std::string *out, std::string *err) {
  const std::string base = fs::temp_directory_path() / ("tonmill-tool-" + std::to_string(getpid()));
  const std::string outFile = base + ".out", errFile = base + ".err";
  const pid_t pid = Start(argv, {}, outFile, errFile);
  const int status = pid > 0 ? WaitTool(pid) : -1;
  if (out) *out = ReadText(outFile);
  if (err) *err = ReadText(errFile);
  fs::remove(outFile);
  fs::remove(errFile);
  return status;
}
