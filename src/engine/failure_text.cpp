// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/failure_text.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "base/texts.h"

namespace {

using R = TFailureReason;

R ReasonOfErrno(int Errno) {
  switch (Errno) {
    case ENOSPC: case EDQUOT: return R::DiskFull;
    case EFBIG: return R::TooLarge;
    case EACCES: case EPERM: return R::PermissionDenied;
    case EROFS: return R::ReadOnly;
    default: return R::Other;
  }
}

// "1:23", or "1:02:03" past an hour.
std::string Position(double Seconds) {
  const long total = std::lround(std::max(0.0, std::floor(Seconds)));
  const long h = total / 3600, m = total / 60 % 60, s = total % 60;
  return h > 0 ? fmt::sprintf("%d:%02d:%02d", h, m, s) : fmt::sprintf("%d:%02d", m, s);
}

}  // namespace

void DiagnoseWriting(TThreadErrorRec &Error, int Errno) {
  Error.Reading = false;
  const std::string folder = std::filesystem::path(Error.CurrentOutputFileName).parent_path().string();
  if (!folder.empty() && access(folder.c_str(), F_OK) != 0) {
    Error.Reason = R::FolderVanished;
    return;
  }
  Error.Reason = ReasonOfErrno(Errno);
  if (Error.Reason != R::Other) return;
  // Encoders that keep the system's error to themselves: the folder tells.
  struct statvfs disk {};
  if (statvfs(folder.c_str(), &disk) == 0 && (disk.f_flag & ST_RDONLY))
    Error.Reason = R::ReadOnly;
  else if (access(folder.c_str(), W_OK) != 0)
    Error.Reason = R::PermissionDenied;
  else if (statvfs(folder.c_str(), &disk) == 0 && disk.f_bavail == 0)
    Error.Reason = R::DiskFull;
}

void DiagnoseReading(TThreadErrorRec &Error, int BassCode, double Seconds) {
  Error.Reading = true;
  Error.DamagedAt = Seconds;
  const std::string &source = Error.CurrentInputFileName;
  if (access(source.c_str(), F_OK) != 0)
    Error.Reason = R::SourceVanished;
  else if (access(source.c_str(), R_OK) != 0)
    Error.Reason = R::PermissionDenied;
  else if (Seconds >= 0)
    Error.Reason = R::Damaged;
  else if (BassCode == BASS_ERROR_FILEFORM || BassCode == BASS_ERROR_FORMAT || BassCode == BASS_ERROR_CODEC ||
           BassCode == BASS_ERROR_NOTAVAIL)
    Error.Reason = R::NotAudio;
  else
    Error.Reason = R::Other;
}

std::string WritingReason(int Errno) {
  switch (ReasonOfErrno(Errno)) {
    case R::DiskFull: return text_why_disk_full;
    case R::PermissionDenied: return text_why_permission_denied;
    case R::ReadOnly: return text_why_read_only;
    default: {
      std::string text = std::strerror(Errno);  // "Not a directory": made to read like the others
      if (!text.empty()) text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
      return text + ".";
    }
  }
}

std::string FailureLine(const TThreadErrorRec &Error) {
  const std::string why = ReasonText(Error);
  return Error.Reading ? FormatText(text_could_not_read, Error.CurrentInputFileName, why)
                       : FormatText(text_could_not_write, Error.CurrentOutputFileName, why);
}

std::string ReasonText(const TThreadErrorRec &Error) {
  std::string why;
  switch (Error.Reason) {
    case R::DiskFull: why = text_why_disk_full; break;
    case R::TooLarge: why = text_why_too_large; break;
    case R::PermissionDenied: why = text_why_permission_denied; break;
    case R::ReadOnly: why = text_why_read_only; break;
    case R::FolderVanished: why = text_why_folder_vanished; break;
    case R::NotAudio: why = text_why_not_audio; break;
    case R::Damaged: why = FormatText(text_why_damaged_at, Position(Error.DamagedAt)); break;
    case R::SourceVanished: why = text_why_source_vanished; break;
    case R::BadSheet: why = text_why_bad_sheet; break;
    case R::SheetAudioMissing: why = text_why_sheet_audio_missing; break;
    case R::NoFFmpeg: why = text_ffmpeg_missing; break;
    case R::NotHeld: why = Error.ErrorMessage; break;
    case R::Other: why = text_why_unknown; break;
  }
  return why;
}

std::string FailureDetails(const TThreadErrorRec &Error) {
  std::string text = "ErrorMessage = " + Error.ErrorMessage;
  auto field = [&](const char *name, const std::string &value) {
    if (!value.empty()) text += std::string(", ") + name + " = " + value;
  };
  field("CurrentInputFileName", Error.CurrentInputFileName);
  field("CurrentOutputFileName", Error.CurrentOutputFileName);
  field("LastCall", Error.LastCall);
  field("ErrorCode", Error.ErrorCode != 0 ? std::to_string(Error.ErrorCode) : "");
  return text;
}

std::string FailureReport(const std::vector<TThreadErrorRec> &Failures, const std::string &Details) {
  std::string text;
  for (const TThreadErrorRec &failure : Failures) text += FailureLine(failure) + "\r\n";
  text += "\r\n" + text_details + ":\r\n" + Details;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}
