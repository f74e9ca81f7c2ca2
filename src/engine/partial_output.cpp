// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/partial_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <fmt/printf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/file_write.h"

namespace {

constexpr const char kSuffix[] = ".tonmill-part";
constexpr size_t kSuffixLength = sizeof kSuffix - 1;

uint32_t Checksum(const std::string &text) {  // FNV-1a
  uint32_t h = 2166136261u;
  for (const unsigned char c : text) h = (h ^ c) * 16777619u;
  return h;
}

TFileIdentity IdentityOf(const struct stat &s) { return {uint64_t(s.st_dev), uint64_t(s.st_ino)}; }

// The whole file, locked by its open file: apart from flock(), which tag
// writers use for their own ends, and gone when the holder dies.
struct flock WholeFile(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return lock;
}

bool Hold(int fd) {
  struct flock lock = WholeFile(F_WRLCK);
  while (fcntl(fd, F_OFD_SETLKW, &lock) != 0)
    if (errno != EINTR) return false;
  return true;
}

// True when no process holds the file (or it cannot be told).
bool Unheld(int fd) {
  struct flock lock = WholeFile(F_WRLCK);
  return fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type == F_UNLCK;
}

// Renames without ever replacing what is under `to`; false with errno EEXIST
// when something is there.
bool RenameNoReplace(const std::string &from, const std::string &to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system that cannot refuse in the rename itself: a hard link refuses too.
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return true;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return false;
  // Nor links (FAT, exFAT): look first; only a file made in that instant is at risk.
  struct stat there;
  if (lstat(to.c_str(), &there) == 0) {
    errno = EEXIST;
    return false;
  }
  if (errno != ENOENT) return false;
  return rename(from.c_str(), to.c_str()) == 0;
}

// "<folder>/<name>_001.<ext>" for n = 1, as the outputs' names are numbered
// (a name with no room left for the number is cut).
std::string Numbered(const std::string &Output, int n) {
  const size_t slash = Output.find_last_of('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = Output.find_last_of('.');
  const bool hasExt = dot != std::string::npos && dot > start;
  const size_t end = hasExt ? dot : Output.size();
  return Output.substr(0, start) +
         FitFileName(Output.substr(start, end - start), fmt::sprintf("_%.3d", n) + Output.substr(end),
                     kOutputNameMax);
}

}  // namespace

std::string FitFileName(const std::string &Name, const std::string &Tail, size_t Limit) {
  if (Name.size() + Tail.size() <= Limit) return Name + Tail;
  const std::string mark = fmt::sprintf("~%08x", Checksum(Name));
  const size_t room = Limit - std::min(Limit, mark.size() + Tail.size());
  size_t keep = std::min(room, Name.size());
  while (keep > 0 && (static_cast<unsigned char>(Name[keep]) & 0xC0) == 0x80) --keep;  // whole characters
  return Name.substr(0, keep) + mark + Tail;
}

std::string PartialFileName(const std::string &OutputFileName) {
  const size_t slash = OutputFileName.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : OutputFileName.substr(0, slash + 1);
  return folder + "." + FitFileName(OutputFileName.substr(folder.size()), kSuffix, kFileNameMax - 1);
}

bool IsPartialFileName(const std::string &FileNamePart) {
  return FileNamePart.size() > 1 + kSuffixLength && FileNamePart[0] == '.' &&
         FileNamePart.compare(FileNamePart.size() - kSuffixLength, kSuffixLength, kSuffix) == 0;
}

TFileIdentity RegularFileIdentity(const std::string &Path) {
  struct stat s;
  if (lstat(Path.c_str(), &s) != 0 || !S_ISREG(s.st_mode)) return {};
  return IdentityOf(s);
}

bool TPartialFiles::Add(const std::string &Name, const std::function<void()> &Make) {
  std::lock_guard<std::mutex> lock(Lock);
  if (Closed) return false;
  Make();
  Names.insert(Name);
  return true;
}

void TPartialFiles::Remove(const std::string &Name) {
  std::lock_guard<std::mutex> lock(Lock);
  Names.erase(Name);
}

void TPartialFiles::RemoveAll() {
  std::lock_guard<std::mutex> lock(Lock);
  Closed = true;
  for (const std::string &name : Names) unlink(name.c_str());
  Names.clear();
}

int RemoveLeftPartials(const std::string &Folder, const std::set<TFileIdentity> &Keep) {
  DIR *dir = opendir(Folder.empty() ? "." : Folder.c_str());
  if (!dir) return 0;
  const std::string prefix = Folder.empty() || Folder.back() == '/' ? Folder : Folder + "/";
  int removed = 0;
  while (const dirent *entry = readdir(dir)) {
    if (!IsPartialFileName(entry->d_name)) continue;
    const std::string path = prefix + entry->d_name;
    // Never follows a link, never waits on a pipe.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat s;
    // A file whose lock is held belongs to a run that is still writing it.
    if (fstat(fd, &s) == 0 && S_ISREG(s.st_mode) && !Keep.count(IdentityOf(s)) &&
        Unheld(fd) && RegularFileIdentity(path) == IdentityOf(s) &&
        unlink(path.c_str()) == 0)
      ++removed;
    close(fd);
  }
  closedir(dir);
  return removed;
}

int WaitWhileHeld(const std::string &Name, const std::function<bool()> &Stopped) {
  for (int waited = 0;; waited = 1) {
    if (Stopped && Stopped()) return -1;
    const int fd = open(Name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return waited;  // gone
    const bool unheld = Unheld(fd);
    close(fd);
    if (unheld) return waited;
    usleep(50000);
  }
}

TPartialOutput::TPartialOutput(const std::string &OutputFileName, TPartialFiles *Registry)
    : Output(OutputFileName), Hidden(PartialFileName(OutputFileName)), Registry(Registry) {}

TPartialOutput::~TPartialOutput() { Discard(); }

void TPartialOutput::Create() {
  if (!CreateUnlessTaken()) throw std::runtime_error(FileErrorText("Cannot create file", Output, EEXIST));
}

bool TPartialOutput::CreateUnlessTaken() {
  struct TTaken {};
  auto fail = [this](int error) {
    throw std::runtime_error(FileErrorText("Cannot create file", Output, error));
  };
  auto make = [&] {
    for (int attempt = 0;; ++attempt) {
      Fd = open(Hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
      if (Fd < 0 && errno == EEXIST) throw TTaken{};  // before the registry holds the name
      if (Fd < 0) fail(errno);
      // Without locks (some network file systems) the file is only less well guarded.
      Hold(Fd);
      struct stat s;
      if (fstat(Fd, &s) != 0) {
        const int error = errno;
        CloseFile();
        fail(error);
      }
      Ours = IdentityOf(s);
      // Another run's clean-up may have taken the file between its creation and the lock.
      if (RegularFileIdentity(Hidden) == Ours) return;
      CloseFile();
      if (attempt == 2) fail(EAGAIN);
    }
  };
  try {
    if (!Registry) {
      make();
    } else if (!Registry->Add(Hidden, make)) {
      fail(ECANCELED);  // the program is ending
    }
  } catch (const TTaken &) {
    return false;
  }
  return true;
}

// The data reaches the disk before the name does: after a power loss the
// output's name never holds less than the whole file.
void TPartialOutput::Sync() {
  if (Fd >= 0 && fsync(Fd) != 0 && errno != EINVAL)
    throw std::runtime_error(FileErrorText("Cannot write to file", Output, errno));
}

void TPartialOutput::CompleteAs(const std::string &Target) {
  Sync();
  if (rename(Hidden.c_str(), Target.c_str()) != 0)
    throw std::runtime_error(FileErrorText("Cannot give the output its name", Target, errno));
  Release();
}

std::string TPartialOutput::Complete(const TFileIdentity &Replaces, bool ReplaceAny) {
  Sync();
  std::string target = Output;
  for (int n = 1;; ++n) {
    if (RenameNoReplace(Hidden, target)) break;
    int error = errno;
    // The file that was there when the job was named is replaced, as asked.
    const TFileIdentity there = n == 1 && error == EEXIST ? RegularFileIdentity(target) : TFileIdentity{};
    if (there && (there == Replaces || ReplaceAny)) {
      if (rename(Hidden.c_str(), target.c_str()) == 0) break;
      error = errno;
    }
    if (error != EEXIST)
      throw std::runtime_error(FileErrorText("Cannot give the output its name", target, error));
    target = Numbered(Output, n);
  }
  Release();
  return target;
}

void TPartialOutput::Discard() {
  if (Fd >= 0 && RegularFileIdentity(Hidden) == Ours) unlink(Hidden.c_str());
  Release();
}

void TPartialOutput::Release() {
  if (Fd < 0) return;
  if (Registry) Registry->Remove(Hidden);
  CloseFile();
}

void TPartialOutput::CloseFile() {
  close(Fd);
  Fd = -1;
}
