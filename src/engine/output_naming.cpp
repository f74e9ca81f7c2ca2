#include "engine/output_naming.h"

#include <fmt/printf.h>

#include <filesystem>
#include <system_error>

#include "engine/partial_output.h"

namespace fs = std::filesystem;

namespace {

std::string FileNamePart(const std::string &Name) {
  const size_t slash = Name.find_last_of('/');
  return slash == std::string::npos ? Name : Name.substr(slash + 1);
}

}  // namespace

std::string GetOutputFolder(const std::string &Source, const TOutputPlacement &Placement) {
  if (Placement.SameAsSource) {
    const size_t slash = Source.find_last_of('/');
    return slash == std::string::npos ? std::string() : Source.substr(0, slash + 1);
  }
  if (Placement.CreateFullPath) {
    // The source's folder without its leading "/", under the destination.
    std::string folder = fs::path(NormalPath(Source)).parent_path().string();
    while (!folder.empty() && folder.front() == '/') folder.erase(0, 1);
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
                           const std::function<bool(const std::string &)> &IsReserved) {
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
    const bool beingWritten = hidden != fs::file_type::not_found && hidden != fs::file_type::none;
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
  if (Format < 1 || Format > DestinationFormatCount)
    throw EAssertFailed(fmt::sprintf("Assert failed : destination = %d", Format));
}
