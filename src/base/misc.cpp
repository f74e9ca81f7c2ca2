// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/misc.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

TSupportedFileTypes Input(const char *extension, uint8_t codecType,
                          TBASSStreamCreateFunc function, bool cueCapable) {
  TSupportedFileTypes row;
  row.Extension = extension;
  row.CodecType = codecType;
  row.StreamCreateFunc = function;
  row.CUECapable = cueCapable;
  return row;
}

}  // namespace

// Searched front to back, first match wins.
std::array<TSupportedFileTypes, InputFileTypeCount> InputFileTypes = {
    Input("mp3", ctBASS, BASS_StreamCreateFile, true),
    Input("wma", ctBASS, BASS_WMA_StreamCreateFile, true),
    Input("ogg", ctBASS, BASS_StreamCreateFile, false),
    Input("wav", ctBASS, BASS_StreamCreateFile, true),
    Input("flac", ctBASS, BASS_FLAC_StreamCreateFile, true),
    Input("ape", ctBASS, BASS_APE_StreamCreateFile, true),
    Input("ac3", ctBASS, BASS_AC3_StreamCreateFile, false),
    Input("aac", ctBASS, BASS_AAC_StreamCreateFile, false),
    Input("mp4", ctBASS, BASS_MP4_StreamCreateFile, false),
    Input("m4a", ctBASS, BASS_MP4_StreamCreateFile, false),
    Input("wv", ctBASS, BASS_WV_StreamCreateFile, true),
    Input("mpc", ctBASS, BASS_MPC_StreamCreateFile, false),
    Input("cue", ctBASS, nullptr, false),
    Input("tta", ctBASS, BASS_TTA_StreamCreateFile, false),
    Input("opus", ctBASS, BASS_OPUS_StreamCreateFile, false),
    Input("oga", ctBASS, BASS_OGA_StreamCreateFile, false),
    Input("aif", ctBASS, BASS_StreamCreateFile, true),
    Input("aiff", ctBASS, BASS_StreamCreateFile, true),
    Input("aifc", ctBASS, BASS_StreamCreateFile, true),
    Input("m4b", ctBASS, BASS_MP4_StreamCreateFile, false),
    Input("mka", ctBASS, BASS_MKA_StreamCreateFile, false),
    Input("webm", ctBASS, BASS_MKA_StreamCreateFile, false),
    Input("dsf", ctBASS, BASS_DSD_StreamCreateFile, false),
    Input("avi", ctFFmpeg, nullptr, false),
    Input("mpg", ctFFmpeg, nullptr, false),
    Input("vob", ctFFmpeg, nullptr, false),
    Input("mkv", ctFFmpeg, nullptr, false),
    Input("flv", ctFFmpeg, nullptr, false),
};

// Names and extensions are the format rows' (encoders/formats.cpp).
std::array<TSupportedFileTypes, MaxDestinationFormat> DestinationFileTypes;

std::mutex ErrorReportLock;
std::mutex ProgressReportLock;
std::mutex FinishReportLock;
std::mutex EncoderFinishLock;
std::mutex EncoderReleaseLock;

int DebugMode = 0;

void InputFileByType(const std::string &extension, TSupportedFileTypes &row) {
  for (const TSupportedFileTypes &candidate : InputFileTypes) {
    if (candidate.Extension == extension) {
      row = candidate;
      return;
    }
  }
  throw EAssertFailed("Asssert failed : InputFileByType for " + extension);
}

TBASSStreamCreateFunc GetBASSStreamFunc(const std::string &extension) {
  for (const TSupportedFileTypes &candidate : InputFileTypes)
    if (candidate.Extension == extension) return candidate.StreamCreateFunc;
  throw EAssertFailed("Asssert failed : GetBASSStreamFunc for " + extension);
}

bool IsSupportedFileType(const std::string &extension) {
  return std::any_of(InputFileTypes.begin(), InputFileTypes.end(), [&](const auto &row) {
    return row.Extension == extension && row.CodecType == ctBASS;
  });
}

bool IsAudioFileType(const std::string &extension) {
  return extension != "cue" && std::any_of(InputFileTypes.begin(), InputFileTypes.end(),
                                           [&](const auto &row) { return row.Extension == extension; });
}

std::string GetFileExtension(const std::string &fileName) {
  const size_t slash = fileName.find_last_of('/');
  const size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string extension = fileName.substr(dot + 1);
  for (char &c : extension)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return extension;
}

std::string GetFileNameWithoutExt(const std::string &Name) {
  const size_t slash = Name.find_last_of('/');
  const std::string namePart = slash == std::string::npos ? Name : Name.substr(slash + 1);
  const size_t dot = namePart.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return {};
  return namePart.substr(0, dot);
}

bool IsRegularFile(const std::string &Path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(Path, ec);
}

bool IsFolder(const std::string &Path) {
  std::error_code ec;
  return std::filesystem::is_directory(Path, ec);
}

std::string NormalPath(const std::string &Path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(Path), ec);
  return (ec ? std::filesystem::path(Path) : absolute).lexically_normal().string();
}

std::string FormatTime(uint16_t hours, uint16_t minutes, uint16_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", hours, minutes, seconds);
  return text;
}

void MillisecondsToTime(uint64_t ms, uint16_t &hours, uint16_t &minutes, uint16_t &seconds) {
  seconds = uint16_t(ms / 1000);  // held in 16 bits: wraps after 18:12:15
  hours = uint16_t(seconds / 3600);
  minutes = uint16_t((seconds - hours * 3600) / 60);
  seconds = uint16_t(seconds - hours * 3600 - minutes * 60);
}

std::string FormatElapsed(uint64_t nowTicks, uint64_t startTicks) {
  uint16_t h, m, s;
  MillisecondsToTime(nowTicks - startTicks, h, m, s);
  return FormatTime(h, m, s);
}

void SecondsToTime(double value, uint16_t &hours, uint16_t &minutes, uint16_t &seconds,
                   uint16_t &hundredths) {
  const double whole = std::trunc(value);
  seconds = uint16_t(int64_t(whole));
  hours = uint16_t(seconds / 3600);
  minutes = uint16_t((seconds - hours * 3600) / 60);
  seconds = uint16_t(seconds - hours * 3600 - minutes * 60);
  hundredths = uint16_t(std::lround((value - whole) * 100));
}

void FillProgressRec(const std::string &inputFileName, const std::string &outputFileName,
                     const std::string &elapsedTime, int32_t jobNumber, int32_t jobCount,
                     int32_t percent, int32_t slotIndex, int32_t slotCount, double duration,
                     uint8_t stage, TProgressRec &rec) {
  rec.InputFileName = inputFileName;
  rec.OutputFileName = outputFileName;
  rec.ElapsedTime = elapsedTime;
  rec.JobNumber = jobNumber;
  rec.JobCount = jobCount;
  rec.Percent = percent;
  rec.SlotIndex = slotIndex;
  rec.SlotCount = slotCount;
  rec.Duration = duration;
  rec.Stage = stage;
}

void SortIntegers(std::vector<int32_t> &values, int lo, int hi) {
  if (lo < 0 || hi >= int(values.size()) || lo >= hi) return;
  std::sort(values.begin() + lo, values.begin() + hi + 1);
}
