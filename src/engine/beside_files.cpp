// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/beside_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "base/misc.h"
#include "base/texts.h"
#include "platform/file_write.h"

namespace {

std::string Lower(std::string text) {
  for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string FolderOf(const std::string &Path) {
  const size_t slash = Path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : Path.substr(0, slash == 0 ? 1 : slash);
}

std::string Join(const std::string &Folder, const std::string &Name) {
  return Folder.back() == '/' ? Folder + Name : Folder + "/" + Name;
}

// The same folder under any of its spellings.
std::string FolderKey(const std::string &Folder) {
  std::string path = NormalPath(Folder);
  if (char *real = realpath(path.c_str(), nullptr)) {
    path = real;
    free(real);
  }
  return path;
}

TFileIdentity IdentityOf(const struct stat &s) { return {uint64_t(s.st_dev), uint64_t(s.st_ino)}; }

// Closes a descriptor on every way out.
struct TFd {
  int Fd;
  ~TFd() {
    if (Fd >= 0) close(Fd);
  }
};

void Raise(const char *What, const std::string &Path, int Error) {
  throw std::runtime_error(FileErrorText(What, Path, Error));
}

}  // namespace

bool IsImageName(const std::string &FileName) {
  static const char *const kImages[] = {"jpg", "jpeg", "png", "gif", "webp", "bmp"};
  const std::string extension = GetFileExtension(FileName);
  return std::any_of(std::begin(kImages), std::end(kImages), [&](const char *e) { return extension == e; });
}

bool IsCoverName(const std::string &FileName) {
  const std::string stem = Lower(GetFileNameWithoutExt(FileName));
  return IsImageName(FileName) && (stem == "cover" || stem == "folder" || stem == "front");
}

std::vector<std::string> SplitPatterns(const std::string &Patterns) {
  std::vector<std::string> list;
  size_t at = 0;
  while (at < Patterns.size()) {
    const size_t start = Patterns.find_first_not_of(" \t", at);
    if (start == std::string::npos) break;
    const size_t end = std::min(Patterns.find_first_of(" \t", start), Patterns.size());
    list.push_back(Patterns.substr(start, end - start));
    at = end;
  }
  return list;
}

std::string PatternListError(const std::string &Patterns) {
  for (const std::string &pattern : SplitPatterns(Patterns))
    if (pattern.find('/') != std::string::npos)
      return "\"" + pattern + "\" names a folder; the patterns match file names only";
  return {};
}

TBesideFiles::TBesideFiles(const std::string &PatternList, TPartialFiles *Partials)
    : Patterns(SplitPatterns(PatternList)), Partials(Partials) {}

void TBesideFiles::AddSource(const std::string &Path) {
  struct stat s;
  if (stat(Path.c_str(), &s) == 0) RunFiles.insert(IdentityOf(s));
  SourceFolders.insert(FolderKey(FolderOf(Path)));
}

void TBesideFiles::AddOutput(const std::string &Source, const std::string &Output) {
  if (const TFileIdentity output = RegularFileIdentity(Output)) RunFiles.insert(output);
  const std::string folder = FolderKey(FolderOf(Output));
  OutputPaths.insert(Join(folder, Output.substr(Output.find_last_of('/') + 1)));
  TTarget &target = Targets[folder];
  if (target.Shown.empty()) target.Shown = FolderOf(Output);
  target.Sources.insert(FolderKey(FolderOf(Source)));
}

std::vector<std::string> TBesideFiles::Wanted(const std::string &Folder) const {
  std::vector<std::string> wanted, images;
  DIR *dir = opendir(Folder.c_str());
  if (!dir) return wanted;
  while (const dirent *entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || IsPartialFileName(name)) continue;
    struct stat s;
    // Regular files only (a link to one is copied as the file), never one the run reads or writes.
    if (stat(Join(Folder, name).c_str(), &s) != 0 || !S_ISREG(s.st_mode) || RunFiles.count(IdentityOf(s))) continue;
    if (IsImageName(name) && name[0] != '.') images.push_back(name);
    const bool matches = std::any_of(Patterns.begin(), Patterns.end(), [&](const std::string &p) {
      return fnmatch(p.c_str(), name.c_str(), FNM_PERIOD | FNM_CASEFOLD) == 0;
    });
    if (matches || IsCoverName(name)) wanted.push_back(name);
  }
  closedir(dir);
  // The only picture of a folder is its cover, whatever its name.
  if (images.size() == 1 && std::find(wanted.begin(), wanted.end(), images[0]) == wanted.end())
    wanted.push_back(images[0]);
  std::sort(wanted.begin(), wanted.end());
  return wanted;
}

void TBesideFiles::Copy(const std::function<bool()> &Stopped, std::vector<TThreadWarningRec> &Warnings) {
  for (const auto &[target, entry] : Targets) {
    if (Stopped()) return;
    std::set<std::string> sources = entry.Sources;
    // A folder that holds sources of the run has its own files already.
    if (SourceFolders.count(target)) sources.insert(target);
    if (sources.size() > 1) {
      TThreadWarningRec warning;
      warning.InputFileName = entry.Shown;
      warning.Note = FormatText(text_beside_clash, int32_t(sources.size()));
      Warnings.push_back(warning);
      continue;
    }
    const std::string &source = *sources.begin();
    if (source == target) continue;
    for (const std::string &name : Wanted(source)) {
      const std::string from = Join(source, name), to = Join(target, name);
      if (OutputPaths.count(to)) continue;  // an output of this run goes first
      try {
        const int copied = CopyOne(from, to, Stopped);
        if (copied < 0) return;
        (copied ? Copied : Present) += 1;
      } catch (const std::exception &e) {
        TThreadWarningRec warning;
        warning.InputFileName = from;
        warning.Note = FormatText(text_beside_not_copied, Join(entry.Shown, name), std::string(e.what()));
        Warnings.push_back(warning);
      }
      if (Stopped()) return;
    }
  }
}

int TBesideFiles::CopyOne(const std::string &From, const std::string &To, const std::function<bool()> &Stopped) {
  TFd in{open(From.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)};
  if (in.Fd < 0) Raise("Cannot open file", From, errno);
  struct stat source;
  if (fstat(in.Fd, &source) != 0) Raise("Cannot open file", From, errno);
  if (!S_ISREG(source.st_mode)) Raise("Cannot open file", From, EINVAL);
  struct stat there;
  TFileIdentity replaces;
  if (lstat(To.c_str(), &there) == 0) {
    if (!S_ISREG(there.st_mode)) Raise("Cannot create file", To, EEXIST);  // a folder, a link, a device
    if (IdentityOf(there) == IdentityOf(source)) return 0;
    // As new as the source or newer: the destination's own, left alone.
    const timespec &a = there.st_mtim, &b = source.st_mtim;
    if (a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec >= b.tv_nsec)) return 0;
    replaces = IdentityOf(there);
  } else if (errno != ENOENT) {
    Raise("Cannot create file", To, errno);
  }

  TPartialOutput partial(To, Partials);
  partial.Create();
  TFd out{open(partial.Name().c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC)};
  if (out.Fd < 0) Raise("Cannot create file", To, errno);
  std::vector<char> block(1 << 20);
  for (off_t at = 0;;) {
    if (Stopped()) return -1;  // the partial file goes with `partial`
    const ssize_t got = read(in.Fd, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Raise("Cannot read file", From, errno);
    if (got == 0) break;
    if (!WriteAllAt(out.Fd, block.data(), size_t(got), at)) Raise("Cannot write to file", To, errno);
    at += got;
  }
  // A private file stays private; the time tells the next run the copy is current.
  const timespec times[2] = {source.st_atim, source.st_mtim};
  if (fchmod(out.Fd, source.st_mode & 0777) != 0 || futimens(out.Fd, times) != 0)
    Raise("Cannot write to file", To, errno);
  if (close(std::exchange(out.Fd, -1)) != 0) Raise("Cannot write to file", To, errno);
  // Something put there meanwhile is not ours to replace: our copy goes instead.
  const std::string named = partial.Complete(replaces);
  if (named != To) {
    unlink(named.c_str());
    return 0;
  }
  return 1;
}
