#include "sources/ffmpeg_lib.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "platform/process/child_process.h"

namespace {

// ffmpeg writes something at least this often while it works; silence longer
// than this means it hangs (a stalled network mount, a broken file system).
constexpr int kIdleMs = 60000;
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
  for (const std::string &line : lines) {
    if (StartsWith(line, "Output #")) break;
    ffmpeg_lib::TAudioInfoRec rec;
    if (StartsWith(line, "Stream #") && ParseStreamLine(line, duration, rec)) streams.push_back(rec);
  }
  return streams;
}

}  // namespace ffmpeg_lib

std::string RunFFmpegCapture(const std::vector<std::string> &Parameters) {
  try {
    TChildProcess ffmpeg(FFmpegPath(), Parameters, true);
    std::string text = ffmpeg.ReadAll(kReportLimit, kIdleMs);
    ffmpeg.Wait();
    return text;
  } catch (const std::exception &) {
    return {};  // not startable, or hung: no report
  }
}

void GetFFmpegAudioInfo(const std::string &FileName, std::string &Text,
                        ffmpeg_lib::TAudioInfoArr &Streams) {
  const std::string input = FFmpegInputName(FileName);
  // With no output named, ffmpeg reports the input and stops.
  Text = RunFFmpegCapture({"-nostdin", "-hide_banner", "-i", input});
  Streams = ffmpeg_lib::ParseFFmpegReport(Text, input);
}

TFFMPEG_Codec::TFFMPEG_Codec(const std::vector<std::string> &Parameters) {
  try {
    Process = std::make_unique<TChildProcess>(FFmpegPath(), Parameters);
  } catch (const std::system_error &e) {
    throw std::runtime_error("ffmpeg: " + std::string(std::strerror(e.code().value())));
  }
}

TFFMPEG_Codec::~TFFMPEG_Codec() = default;

int64_t TFFMPEG_Codec::ReadFromHandle(void *Buffer, size_t Count) {
  int64_t got;
  try {
    got = Process->ReadFull(Buffer, Count, kIdleMs);
  } catch (const std::exception &e) {
    Process->Kill();
    throw std::runtime_error(std::string("ffmpeg: ") + e.what());
  }
  if (got == int64_t(Count)) return got;
  // The output ended: a clean end, or a failure ffmpeg explains.
  const int status = Process->Wait();
  if (status != 0) {
    std::string why = Trimmed(Process->Errors());
    if (why.empty())
      why = status > 128 ? "stopped by signal " + std::to_string(status - 128) : "exit status " + std::to_string(status);
    if (const size_t line = why.find_last_of('\n'); line != std::string::npos) why = why.substr(line + 1);
    throw std::runtime_error("ffmpeg: " + why);
  }
  return got;
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

void TFFMPEGDecoder::Start(double Seconds) {
  const TAudioInfoRec &s = AudioInfo.Streams[size_t(AudioInfo.Index)];
  Codec.reset();  // the old process is gone before the new one starts
  std::vector<std::string> args = {"-nostdin", "-hide_banner", "-loglevel", "error"};
  // Before the input: ffmpeg seeks in the file rather than decoding up to it.
  if (Seconds > 0) args.insert(args.end(), {"-ss", SecondsText(Seconds)});
  args.insert(args.end(), {"-i", FFmpegInputName(FileName), "-map", "0:a:" + std::to_string(AudioInfo.Index),
                           "-ac", std::to_string(std::max(1, s.Channels))});
  // The rate and channel count the job was planned with, whatever the
  // stream does on the way (a rate the report did not give stays the stream's).
  if (s.SampleRate > 0) args.insert(args.end(), {"-ar", std::to_string(s.SampleRate)});
  args.insert(args.end(), {"-c:a", "pcm_s16le", "-f", "s16le", "pipe:1"});
  Codec = std::make_unique<TFFMPEG_Codec>(args);
  StartSeconds = Seconds;
  BytesDelivered = 0;
  Ended = false;
}

int32_t TFFMPEGDecoder::SetPosition(double Seconds) {
  Seconds = std::max(0.0, Seconds);
  if (Seconds != StartSeconds || BytesDelivered != 0) Start(Seconds);
  return 1;
}

int64_t TFFMPEGDecoder::GetData(void *Buffer, uint32_t Count) {
  if (Ended) return 0;
  Count -= Count % uint32_t(FrameBytes);  // whole frames only
  const int64_t got = Codec->ReadFromHandle(Buffer, Count);
  const int64_t whole = got - got % FrameBytes;
  if (got < int64_t(Count)) {
    Ended = true;
    Codec.reset();
  }
  BytesDelivered += whole;
  return whole;
}

double TFFMPEGDecoder::GetPosition() {
  return BytesPerSecond > 0 ? StartSeconds + double(BytesDelivered) / BytesPerSecond : StartSeconds;
}

TDecodeReport TFFMPEGDecoder::GetReport() {
  TDecodeReport report;
  if (Ended) report.EndSeconds = GetPosition();
  // ffmpeg states the length of the whole film, whose picture often runs on
  // past its sound: no measure for the sound's own end.
  return report;
}
