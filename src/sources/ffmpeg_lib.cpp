// SPDX-License-Identifier: GPL-3.0-or-later
#include "sources/ffmpeg_lib.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "base/texts.h"
#include "platform/process/child_process.h"

namespace {

// ffmpeg writes something at least this often while it works; silence longer
// than this means it hangs (a stalled network mount, a broken file system).
constexpr int kIdleMs = 60000;
// ffmpeg ends at once when it closes its output; one that lingers is killed.
constexpr int kEndMs = 5000;
// Seconds a film's picture may run on past its sound.
constexpr double kPictureRunOn = 1.0;
// The report of one input is a few kilobytes; anything past this is noise.
constexpr size_t kReportLimit = 1 << 20;

std::mutex PathLock;

std::string &PathSetting() {
  static std::string path = [] {
    std::error_code ec;
    const std::filesystem::path beside =
        std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "ffmpeg";
    if (!ec && std::filesystem::is_regular_file(beside, ec) && access(beside.c_str(), X_OK) == 0)
      return beside.string();
    return std::string("ffmpeg");
  }();
  return path;
}

// Seconds as ffmpeg reads them, whatever the locale.
std::string SecondsText(double seconds) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed, 6);
  return std::string(text, result.ptr);
}

std::string Trimmed(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool StartsWith(const std::string &text, const char *prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The line of ffmpeg's errors that says why it failed: the last one, leaving
// out what lines marked with a level below an error say.
std::string FailureLine(const std::string &text) {
  std::string why;
  for (size_t from = 0; from < text.size();) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    std::string line = Trimmed(text.substr(from, end - from));
    from = end + 1;
    bool minor = false;
    for (const char *level : {"[info] ", "[warning] ", "[verbose] ", "[debug] ", "[trace] "})
      minor = minor || StartsWith(line, level) || line.find(std::string("] ") + level) != std::string::npos;
    for (const std::string level : {"[error] ", "[fatal] ", "[panic] "})
      if (const size_t at = line.find(level); at != std::string::npos && (at == 0 || line.compare(at - 2, 2, "] ") == 0))
        line.erase(at, level.size());
    if (!minor && !line.empty()) why = line;
  }
  return why;
}

// The comma-separated fields of a stream line, commas inside brackets kept.
std::vector<std::string> Fields(const std::string &text) {
  std::vector<std::string> fields;
  std::string field;
  int depth = 0;
  for (const char c : text) {
    if (c == '(' || c == '[') ++depth;
    if ((c == ')' || c == ']') && depth > 0) --depth;
    if (c == ',' && depth == 0) {
      fields.push_back(Trimmed(field));
      field.clear();
    } else {
      field += c;
    }
  }
  fields.push_back(Trimmed(field));
  return fields;
}

// The count a field starts with; 0 when there is none. Rates, channels and
// bit rates are never negative: a minus sign starts no count.
int32_t LeadingNumber(const std::string &text) {
  int32_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && value >= 0 ? value : 0;
}

// "hh:mm:ss.ff"; -1 for "N/A" or anything else.
double ParseDuration(const std::string &text) {
  int h = 0, m = 0;
  double s = 0;
  const char *p = text.c_str(), *end = p + text.size();
  auto r = std::from_chars(p, end, h);
  if (r.ec != std::errc() || r.ptr == end || *r.ptr != ':') return -1.0;
  r = std::from_chars(r.ptr + 1, end, m);
  if (r.ec != std::errc() || r.ptr == end || *r.ptr != ':') return -1.0;
  r = std::from_chars(r.ptr + 1, end, s);
  if (r.ec != std::errc()) return -1.0;
  return h * 3600.0 + m * 60.0 + s;
}

// Channels of a layout ffmpeg names: "mono", "stereo", "5.1(side)", "quad",
// "6 channels". An unknown "A.B" name counts A + B.
int32_t LayoutChannels(const std::string &layout) {
  static const std::pair<const char *, int32_t> kNamed[] = {
      {"mono", 1},      {"stereo", 2},    {"downmix", 2},      {"quad", 4},
      {"hexagonal", 6}, {"octagonal", 8}, {"hexadecagonal", 16}, {"22.2", 24},
  };
  const std::string name = layout.substr(0, layout.find('('));
  for (const auto &[word, count] : kNamed)
    if (name == word) return count;
  if (const size_t at = layout.find(" channels"); at != std::string::npos) return LeadingNumber(layout);
  const size_t dot = name.find('.');
  if (dot != std::string::npos) {
    const int64_t sum = int64_t(LeadingNumber(name)) + LeadingNumber(name.substr(dot + 1));
    if (sum > 0 && sum <= INT32_MAX) return int32_t(sum);
  }
  return 2;
}

bool IsSampleFormat(const std::string &field) {
  static const char *const kFormats[] = {"u8",  "s16",  "s32",  "flt",  "dbl",  "s64",  "u8p",
                                         "s16p", "s32p", "fltp", "dblp", "s64p"};
  return std::any_of(std::begin(kFormats), std::end(kFormats),
                     [&](const char *f) { return field == f; });
}

// One "Stream #0:1[0x1c0](eng): Audio: ..." line, from "Stream #" on.
bool ParseStreamLine(const std::string &line, double duration, ffmpeg_lib::TAudioInfoRec &rec) {
  const size_t audio = line.find(": Audio: ");
  if (audio == std::string::npos) return false;
  size_t idEnd = 8;  // after "Stream #"
  while (idEnd < audio && (std::isdigit(static_cast<unsigned char>(line[idEnd])) || line[idEnd] == ':' || line[idEnd] == '.'))
    ++idEnd;
  rec = ffmpeg_lib::TAudioInfoRec{};
  rec.StreamId = line.substr(8, idEnd - 8);
  rec.Duration = duration;
  const std::vector<std::string> fields = Fields(line.substr(audio + 9));
  rec.Codec = fields[0].substr(0, fields[0].find(' '));
  for (size_t i = 1; i < fields.size(); ++i) {
    const std::string &f = fields[i];
    if (f.size() > 3 && f.compare(f.size() - 3, 3, " Hz") == 0 && rec.SampleRate == 0) {
      rec.SampleRate = LeadingNumber(f);
      if (i + 1 < fields.size()) {
        rec.ChannelsText = fields[i + 1];
        rec.Channels = LayoutChannels(rec.ChannelsText);
      }
    } else if (IsSampleFormat(f.substr(0, f.find(' ')))) {
      rec.SampleFormat = f.substr(0, f.find(' '));
    } else if (f.find(" kb/s") != std::string::npos) {
      rec.Bitrate = LeadingNumber(f);
    }
  }
  return true;
}

}  // namespace

std::string FFmpegPath() {
  std::lock_guard<std::mutex> lock(PathLock);
  return PathSetting();
}

void SetFFmpegPath(const std::string &Path) {
  std::lock_guard<std::mutex> lock(PathLock);
  PathSetting() = Path;
}

std::string FFmpegInputName(const std::string &FileName) {
  // The file protocol takes the rest as it stands: a name beginning with a
  // dash, or holding a colon, is still a file.
  return "file:" + FileName;
}

namespace ffmpeg_lib {

TAudioInfoArr ParseFFmpegReport(const std::string &Text, const std::string &InputName) {
  // A name with line breaks could fake report lines: read after it.
  size_t from = 0;
  const std::string header = "from '" + InputName + "':";
  if (const size_t at = Text.find(header); at != std::string::npos) from = at + header.size();

  std::vector<std::string> lines;
  for (size_t pos = from; pos <= Text.size();) {
    size_t end = Text.find('\n', pos);
    if (end == std::string::npos) end = Text.size();
    lines.push_back(Trimmed(Text.substr(pos, end - pos)));
    pos = end + 1;
  }
  double duration = -1.0;
  for (const std::string &line : lines) {
    if (StartsWith(line, "Duration: ")) {
      duration = ParseDuration(line.substr(10, line.find(',') - 10));
      break;
    }
  }
  TAudioInfoArr streams;
  bool inAudio = false;  // in the lines of an audio stream (its metadata)
  for (const std::string &line : lines) {
    if (StartsWith(line, "Output #")) break;
    ffmpeg_lib::TAudioInfoRec rec;
    if (StartsWith(line, "Stream #")) {
      inAudio = ParseStreamLine(line, duration, rec);
      if (inAudio) streams.push_back(rec);
    } else if (inAudio && StartsWith(line, "DURATION")) {
      // The stream's own length (Matroska), where the film's may run on.
      const size_t colon = line.find(": ");
      const double own = colon == std::string::npos ? -1.0 : ParseDuration(line.substr(colon + 2));
      if (own >= 0) streams.back().Duration = own;
    }
  }
  return streams;
}

}  // namespace ffmpeg_lib

std::string RunFFmpegCapture(const std::vector<std::string> &Parameters, bool *Missing) {
  if (Missing) *Missing = false;
  try {
    TChildProcess ffmpeg(FFmpegPath(), Parameters, true);
    std::string text = ffmpeg.ReadAll(kReportLimit, kIdleMs);
    // Its report is whole once the output closes, whatever the status says.
    ffmpeg.Wait(kEndMs);
    return text;
  } catch (const std::system_error &e) {
    if (Missing) *Missing = e.code().value() == ENOENT;
    return {};
  } catch (const std::exception &) {
    return {};  // hung: no report
  }
}

namespace {

// Frames ffmpeg reports of the beginning of a decode.
constexpr int kFramesReported = 12;

// The arguments that have ffmpeg read Input and decode the first frames of its
// audio stream Map ("0:a:1") and report them, each with its stamp on
// ffmpeg's clock (copied from the container with -copyts) and its length.
std::vector<std::string> FirstFramesRun(const std::string &Input, const std::string &Map) {
  return {"-nostdin", "-hide_banner", "-nostats", "-copyts", "-i", Input, "-map", Map, "-frames:a",
          std::to_string(kFramesReported), "-af", "ashowinfo", "-f", "null", "-"};
}

// The first frame in ffmpeg's report of decoded frames in Text (the lines of
// its ashowinfo filter, whole ones only), on ffmpeg's clock in frames of the
// stream's rate, and the length of a frame there; Count is how many frames
// were reported. Only lines the filter begins count: anything else ffmpeg
// prints of the file (its tags, its name) starts a line otherwise, unless
// the name of Input holds a line break; then only what follows the report
// of Input is read. Frames that start inside a packet have stamps ffmpeg
// guesses, and the guess can miss by a frame: the place is counted back
// from a later frame, whose stamp is the container's.
bool FirstFrame(const std::string &Text, const std::string &Input, int64_t &Pts, int64_t &Frames, int &Count) {
  Count = 0;
  size_t at = 0;
  if (Input.find_first_of("\r\n") != std::string::npos) {
    const std::string header = "from '" + Input + "':";
    at = Text.find(header);
    if (at == std::string::npos) return false;
    at += header.size();
  }
  int64_t before = 0;  // frames ahead of the one read
  for (size_t end; (end = Text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string_view line(Text.data() + at, end - at);
    const size_t mark = line.find(" n:" + std::to_string(Count) + " pts:");
    if (line.rfind("[Parsed_ashowinfo_", 0) != 0 || mark == std::string_view::npos) continue;
    const size_t count = line.find(" nb_samples:");
    int64_t pts = 0, frames = 0;
    if (count == std::string_view::npos ||
        std::from_chars(line.data() + line.find(" pts:", mark) + 5, line.data() + line.size(), pts).ec != std::errc() ||
        std::from_chars(line.data() + count + 12, line.data() + line.size(), frames).ec != std::errc() || frames <= 0)
      break;
    Pts = pts - before;
    Frames = frames;
    before += frames;
    ++Count;
  }
  return Count > 0;
}

// Where the streams of films begin on ffmpeg's clock, learned once for all
// the tracks of a film.
struct TOrigins {
  std::mutex Lock;
  std::map<std::string, int64_t> Known;
};

TOrigins &Origins() {
  static TOrigins origins;
  return origins;
}

// A stream of a file as the file is now (its size and time); empty when
// that cannot be told.
std::string OriginKey(const std::string &FileName, int32_t Index) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(FileName, ec);
  if (ec) return {};
  const auto time = std::filesystem::last_write_time(FileName, ec).time_since_epoch().count();
  if (ec) return {};
  return std::to_string(Index) + ":" + std::to_string(size) + ":" + std::to_string(time) + ":" + FileName;
}

void RememberOrigin(const std::string &Key, int64_t Pts) {
  if (Key.empty()) return;
  std::lock_guard<std::mutex> hold(Origins().Lock);
  if (Origins().Known.size() > 1000) Origins().Known.clear();
  Origins().Known[Key] = Pts;
}

// The first frame of a file's audio stream Index on ffmpeg's clock: as the
// probe found it, else from a short run of its own.
bool StreamOrigin(const std::string &FileName, int32_t Index, int64_t &Pts) {
  const std::string key = OriginKey(FileName, Index);
  if (!key.empty()) {
    std::lock_guard<std::mutex> hold(Origins().Lock);
    if (const auto found = Origins().Known.find(key); found != Origins().Known.end()) {
      Pts = found->second;
      return true;
    }
  }
  const std::string input = FFmpegInputName(FileName);
  const std::vector<std::string> args = FirstFramesRun(input, "0:a:" + std::to_string(Index));
  int64_t frames = 0;
  int count = 0;
  if (!FirstFrame(RunFFmpegCapture(args), input, Pts, frames, count)) return false;
  RememberOrigin(key, Pts);
  return true;
}

}  // namespace

bool GetFFmpegAudioInfo(const std::string &FileName, std::string &Text,
                        ffmpeg_lib::TAudioInfoArr &Streams) {
  const std::string input = FFmpegInputName(FileName);
  bool missing = false;
  const std::string key = OriginKey(FileName, 0);
  // ffmpeg reports the input, then decodes the first frames of its first
  // audio stream, if any: where that begins is what every track of a film
  // is counted from, and this way no run of its own finds it.
  const std::vector<std::string> args = FirstFramesRun(input, "0:a:0?");
  Text = RunFFmpegCapture(args, &missing);
  Streams = ffmpeg_lib::ParseFFmpegReport(Text, input);
  int64_t pts = 0, frames = 0;
  int count = 0;
  if (!Streams.empty() && FirstFrame(Text, input, pts, frames, count)) RememberOrigin(key, pts);
  return !missing;
}

TFFMPEG_Codec::TFFMPEG_Codec(const std::vector<std::string> &Parameters) {
  try {
    Process = std::make_unique<TChildProcess>(FFmpegPath(), Parameters);
  } catch (const std::system_error &e) {
    if (e.code().value() == ENOENT) throw std::runtime_error(text_ffmpeg_missing);
    throw std::runtime_error("ffmpeg: " + std::string(std::strerror(e.code().value())));
  }
}

TFFMPEG_Codec::~TFFMPEG_Codec() = default;

int64_t TFFMPEG_Codec::ReadFromHandle(void *Buffer, size_t Count) {
  const int64_t got = Process->Read(Buffer, Count, kIdleMs);
  if (got < 0) {
    Process->Kill();
    throw std::runtime_error("ffmpeg: no answer for " + std::to_string(kIdleMs / 1000) + " seconds");
  }
  if (got > 0 || Process->Stopped()) return got;
  // The output ended: a clean end, or a failure ffmpeg explains.
  const int status = Process->Wait(kEndMs);
  if (Process->TimedOut())
    throw std::runtime_error("ffmpeg: still running " + std::to_string(kEndMs / 1000) +
                             " seconds after the end of its output");
  if (status != 0) {
    std::string why = FailureLine(Process->Errors());
    if (why.empty())
      why = status > 128 ? "stopped by signal " + std::to_string(status - 128) : "exit status " + std::to_string(status);
    throw std::runtime_error("ffmpeg: " + why);
  }
  return 0;
}

const std::string &TFFMPEG_Codec::Errors() const {
  return Process->Errors();
}

TFFMPEGDecoder::TFFMPEGDecoder(bool Mem, const std::string &FileName, double StartPos,
                               int64_t Length, uint32_t Flags, int32_t BufferSize,
                               const TAudioInfo &AudioInfo)
    : TCustomDecoder(Mem, FileName, StartPos, Length, Flags, BufferSize, AudioInfo) {
  if (AudioInfo.Index < 0 || size_t(AudioInfo.Index) >= AudioInfo.Streams.size())
    throw std::runtime_error("ffmpeg: no audio stream");
  const TAudioInfoRec &s = AudioInfo.Streams[size_t(AudioInfo.Index)];
  FrameBytes = std::max(1, s.Channels) * 2;
  BytesPerSecond = FrameBytes * s.SampleRate;
  Start(std::max(0.0, StartPos));
}

TFFMPEGDecoder::~TFFMPEGDecoder() = default;

namespace {

// What is read from ffmpeg at once: what its pipe holds.
constexpr size_t kReadBytes = 64 * 1024;
// Output held while the report of the first frames is awaited; it comes
// along with those frames, so a report not seen by then never comes.
constexpr size_t kHoldLimit = 16 << 20;

}  // namespace

void TFFMPEGDecoder::Launch(double From) {
  const TAudioInfoRec &s = AudioInfo.Streams[size_t(AudioInfo.Index)];
  Codec.reset();  // the old process is gone before the new one starts
  HeldFrom = HeldEnd = 0;
  Ended = false;
  std::vector<std::string> args = {"-nostdin", "-hide_banner"};
  if (From > 0) {
    // Its report of the first frames goes with the errors, each line marked
    // with its level so that the errors stay apart.
    args.insert(args.end(), {"-nostats", "-loglevel", "level+info", "-ss", SecondsText(From), "-noaccurate_seek",
                             "-copyts"});
  } else {
    args.insert(args.end(), {"-loglevel", "error"});
  }
  args.insert(args.end(), {"-i", FFmpegInputName(FileName), "-map", "0:a:" + std::to_string(AudioInfo.Index)});
  if (From > 0) {
    args.insert(args.end(), {"-af", "asplit[pcm][first];[first]aselect='lt(n," + std::to_string(kFramesReported) +
                                        ")',ashowinfo,anullsink"});
    // The output's description comes amid that report: without the film's
    // tags and chapters, it cannot push the report out of what is kept.
    args.insert(args.end(), {"-map_metadata", "-1", "-map_chapters", "-1"});
  }
  // The rate and channel count the job was planned with, whatever the
  // stream does on the way (a rate the report did not give stays the stream's).
  args.insert(args.end(), {"-ac", std::to_string(std::max(1, s.Channels))});
  if (s.SampleRate > 0) args.insert(args.end(), {"-ar", std::to_string(s.SampleRate)});
  // Written in large pieces rather than a frame at a time.
  args.insert(args.end(), {"-c:a", "pcm_s16le", "-flush_packets", "0", "-f", "s16le", "pipe:1"});
  Codec = std::make_unique<TFFMPEG_Codec>(args);
}

bool TFFMPEGDecoder::Fill() {
  if (Ended || !Codec) return false;
  if (HeldFrom == HeldEnd) HeldFrom = HeldEnd = 0;
  if (Held.size() - HeldEnd < kReadBytes) Held.resize(HeldEnd + kReadBytes);
  const int64_t got = Codec->ReadFromHandle(Held.data() + HeldEnd, Held.size() - HeldEnd);
  if (got <= 0) {
    Ended = true;
    return false;
  }
  HeldEnd += size_t(got);
  return true;
}

int64_t TFFMPEGDecoder::Landing() {
  const TAudioInfoRec &s = AudioInfo.Streams[size_t(AudioInfo.Index)];
  int64_t pts = 0, frames = 0;
  int count = 0;
  try {
    const std::string input = FFmpegInputName(FileName);
    while (!(FirstFrame(Codec->Errors(), input, pts, frames, count) && count >= kFramesReported) && !Ended) {
      if (HeldEnd >= kHoldLimit) return -1;
      Fill();  // at the end, the report is whole
    }
  } catch (const std::exception &) {
    return -1;  // the decode from the start says what is wrong
  }
  if (count == 0) return -1;
  int64_t index = pts - OriginPts;
  // Matroska and Flash keep milliseconds: a frame's stamp misses its place by
  // up to half of one, which frames of one length longer than that settle.
  const std::string type = GetFileExtension(FileName);
  if (type == "mkv" || type == "flv") {
    const int64_t slack = s.SampleRate / 2000 + 1;
    if (frames <= 2 * slack) return -1;
    const int64_t whole = (index + frames / 2) / frames * frames;
    if (index < 0 || std::llabs(index - whole) > slack) return -1;  // frames of other lengths
    index = whole;
  }
  return index >= 0 ? index : -1;
}

void TFFMPEGDecoder::Start(double Seconds) {
  const TAudioInfoRec &s = AudioInfo.Streams[size_t(AudioInfo.Index)];
  const int64_t target = s.SampleRate > 0 ? std::llround(Seconds * s.SampleRate) : 0;
  StartSeconds = Seconds;
  BytesDelivered = 0;
  if (target > 0 && !OriginKnown) OriginKnown = StreamOrigin(FileName, AudioInfo.Index, OriginPts);
  if (target > 0 && OriginKnown) {
    // A second before the start lets lossy decoders settle; further back
    // when the seek lands after it.
    for (const double margin : {1.0, 10.0, 60.0}) {
      const double from = Seconds - margin;
      if (from <= 0) break;
      Launch(from);
      const int64_t landed = Landing();
      if (landed < 0) break;
      if (landed <= target) {
        SkipBytes = (target - landed) * FrameBytes;
        return;
      }
    }
  }
  Launch(0);  // counted from the very start, which is always exact
  SkipBytes = target * FrameBytes;
}

int32_t TFFMPEGDecoder::SetPosition(double Seconds) {
  Seconds = std::max(0.0, Seconds);
  if (Seconds != StartSeconds || BytesDelivered != 0) Start(Seconds);
  return 1;
}

int64_t TFFMPEGDecoder::GetData(void *Buffer, uint32_t Count) {
  Count -= Count % uint32_t(FrameBytes);  // whole frames only
  uint8_t *out = static_cast<uint8_t *>(Buffer);
  size_t done = 0;
  while (done < Count) {
    if (HeldFrom == HeldEnd && !Fill()) {
      Codec.reset();
      break;
    }
    const size_t held = HeldEnd - HeldFrom;
    if (SkipBytes > 0) {  // decoded before the start
      const size_t drop = size_t(std::min<int64_t>(SkipBytes, int64_t(held)));
      HeldFrom += drop;
      SkipBytes -= int64_t(drop);
      continue;
    }
    const size_t take = std::min(held, size_t(Count) - done);
    std::memcpy(out + done, Held.data() + HeldFrom, take);
    HeldFrom += take;
    done += take;
  }
  const size_t whole = done - done % size_t(FrameBytes);
  BytesDelivered += int64_t(whole);
  return int64_t(whole);
}
double TFFMPEGDecoder::GetPosition() {
  return BytesPerSecond > 0 ? StartSeconds + double(BytesDelivered) / BytesPerSecond : StartSeconds;
}

TDecodeReport TFFMPEGDecoder::GetReport() {
  TDecodeReport report;
  if (Ended) report.EndSeconds = GetPosition();
  // Containers other than Matroska state the length of the whole film, whose
  // picture may run on a little past its sound: only a shortfall beyond
  // that counts.
  const double stated = AudioInfo.Streams[size_t(AudioInfo.Index)].Duration;
  if (stated > 0) report.StatedSeconds = std::max(0.0, stated - kPictureRunOn);
  return report;
}
