// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/output_naming.h"

#include <fmt/printf.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "encoders/format.h"
#include "engine/partial_output.h"

namespace fs = std::filesystem;

namespace {

std::string FileNamePart(const std::string &Name) {
  const size_t slash = Name.find_last_of('/');
  return slash == std::string::npos ? Name : Name.substr(slash + 1);
}

}  // namespace

std::string FullPathRest(const std::string &Source) {
  const fs::path folder = fs::path(NormalPath(Source)).parent_path();
  // The home folder plays the part of a drive: what lies under it keeps
  // its place below home, anything else its place below the root.
  const char *home = std::getenv("HOME");
  if (home && home[0] == '/') {
    std::string base = fs::path(home).lexically_normal().string();
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const fs::path rest = folder.lexically_relative(base);
    if (base != "/" && !rest.empty() && *rest.begin() != "..") return rest == "." ? std::string() : rest.string();
  }
  std::string rest = folder.string();
  while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
  return rest;
}

std::string CommonFolder(const std::string &A, const std::string &B) {
  if (A.empty() || A == B) return B;
  size_t n = 0;
  for (size_t i = 0; i < A.size() && i < B.size() && A[i] == B[i]; ++i)
    if (A[i] == '/') n = i + 1;
  return A.substr(0, n);
}

int DestinationError(const std::string &Folder) {
  if (Folder.empty()) return ENOENT;
  std::error_code ec;
  fs::create_directories(Folder, ec);
  if (!IsFolder(Folder)) return ec ? ec.value() : ENOTDIR;
  // Permissions, a read-only mount or a full inode table: only a real file tells.
  // Named like a hidden output, so a run into the folder removes one left by a kill.
  std::string probe = (Folder.back() == '/' ? Folder : Folder + "/") + ".probe-XXXXXX.tonmill-part";
  const int fd = mkostemps(probe.data(), int(std::strlen(".tonmill-part")), O_CLOEXEC);
  if (fd < 0) return errno;
  close(fd);
  unlink(probe.c_str());
  return 0;
}

std::string GetOutputFolder(const std::string &Source, const TOutputPlacement &Placement) {
  if (Placement.SameAsSource) {
    const size_t slash = Source.find_last_of('/');
    return slash == std::string::npos ? std::string() : Source.substr(0, slash + 1);
  }
  if (Placement.CreateFullPath) {
    const std::string folder = FullPathRest(Source);
    if (folder.empty()) return Placement.DestinationFolder;
    const std::string result = Placement.DestinationFolder + folder;
    std::error_code ec;
    fs::create_directories(result, ec);
    if (ec || !IsFolder(result))
      throw std::runtime_error("Cannot create folder \"" + result + "\". " +
                               (ec ? ec.message() : std::string("A file of that name exists")));
    return result + "/";
  }
  return Placement.DestinationFolder;
}

std::string MakeOutputName(const std::string &Folder, const std::string &Name,
                           const std::string &Extension, bool AvoidExisting,
                           const std::function<bool(const std::string &)> &IsReserved, bool PlainName) {
  const std::string namePart = FileNamePart(Name);
  std::string base = namePart.substr(0, namePart.size() - GetFileExtension(Name).size());
  if (!base.empty() && base.back() == '.') base.pop_back();
  // A name too long for the file system (a long track title) is cut to fit.
  std::string result = Folder + FitFileName(base, "." + Extension, kOutputNameMax);

  auto taken = [&](const std::string &candidate) {
    std::error_code ec;
    const fs::file_type type = fs::status(candidate, ec).type();
    // Only a regular file is ever written over: opening a pipe would wait for a
    // reader, and a folder or a device is no place for an output.
    const bool other = type != fs::file_type::regular && type != fs::file_type::not_found &&
                       type != fs::file_type::none;
    // A hidden file of the name: a run is still writing that output.
    const fs::file_type hidden = fs::symlink_status(PartialFileName(candidate), ec).type();
    const bool beingWritten = !PlainName && hidden != fs::file_type::not_found && hidden != fs::file_type::none;
    return other || beingWritten || (AvoidExisting && type == fs::file_type::regular) ||
           (IsReserved && IsReserved(candidate));
  };
  for (int n = 1; taken(result); ++n)
    result = Folder + FitFileName(GetFileNameWithoutExt(Name), fmt::sprintf("_%.3d.", n) + Extension, kOutputNameMax);
  return result;
}

std::string TrackOutputName(int32_t TrackNumber, const std::string &Title) {
  return fmt::sprintf("%.2d - %s.xxx", TrackNumber, Title);
}

void CheckDestinationFormat(int Format) {
  if (Format < 1 || Format > MaxDestinationFormat || !FormatRow(TDestinationFormat(Format)))
    throw EAssertFailed(fmt::sprintf("Assert failed : destination = %d", Format));
}
