// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/mirror.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "base/misc.h"
#include "engine/output_naming.h"

namespace fs = std::filesystem;

namespace {

// The first line; a list that does not begin with it is not ours to trust.
constexpr const char *Header = "tonmill-mirror 1";
// The last line, so that a list cut short reads as damaged.
constexpr const char *Trailer = "end";
constexpr const char *TempPrefix = ".tonmill-mirror.tmp-";

// Tabs and line ends are the list's separators: escaped in paths.
std::string Escape(const std::string &Text) {
  std::string out;
  for (const char c : Text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

bool Unescape(const std::string &Text, std::string &Out) {
  Out.clear();
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] != '\\') {
      Out += Text[i];
      continue;
    }
    if (++i == Text.size()) return false;
    switch (Text[i]) {
      case '\\': Out += '\\'; break;
      case 't': Out += '\t'; break;
      case 'n': Out += '\n'; break;
      case 'r': Out += '\r'; break;
      default: return false;
    }
  }
  return true;
}

bool ReadNumber(const std::string &Text, int64_t &Value) {
  if (Text.empty()) return false;
  char *end = nullptr;
  errno = 0;
  const long long v = std::strtoll(Text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  Value = v;
  return true;
}

// A relative path that stays under the destination.
bool SafeRelative(const std::string &Path) {
  if (Path.empty() || Path[0] == '/') return false;
  for (const fs::path &part : fs::path(Path))
    if (part == ".." || part == "." || part.empty()) return false;
  return true;
}

bool ParseLine(const std::string &Line, TMirrorEntry &Entry) {
  std::vector<std::string> fields;
  std::istringstream in(Line);
  for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
  if (fields.size() != 5) return false;
  return Unescape(fields[0], Entry.Source) && Unescape(fields[1], Entry.Output) && !Entry.Source.empty() &&
         Entry.Source[0] == '/' && SafeRelative(Entry.Output) && ReadNumber(fields[2], Entry.Size) &&
         ReadNumber(fields[3], Entry.MTime) && ReadNumber(fields[4], Entry.PendingSince);
}

int64_t Nanoseconds(const timespec &Time) { return int64_t(Time.tv_sec) * 1000000000 + Time.tv_nsec; }

}  // namespace

TMirrorPlan PlanMirrorEntries(const std::vector<TMirrorEntry> &Recorded, const std::vector<TMirrorEntry> &Outputs,
                              const std::set<std::string> &Idle, int64_t Now) {
  std::map<std::string, const TMirrorEntry *> byOutput;  // the last entry of a name counts
  for (const TMirrorEntry &e : Recorded) byOutput[e.Output] = &e;
  TMirrorPlan plan;
  std::set<std::string> taken;
  for (const TMirrorEntry &output : Outputs) {
    TMirrorEntry entry = output;
    entry.Size = -1;
    entry.PendingSince = Now;
    const auto found = byOutput.find(output.Output);
    if (found != byOutput.end() && taken.insert(output.Output).second) {
      // What was complete stays known, so the file there is still the
      // program's until it is replaced; an earlier pending start still counts.
      const TMirrorEntry &old = *found->second;
      entry.Size = old.Size;
      entry.MTime = old.MTime;
      if (old.PendingSince != 0 && old.PendingSince < Now) entry.PendingSince = old.PendingSince;
      if (old.Source != output.Source) plan.Removals.push_back(old);  // another source's output, not this one's
    }
    plan.Kept.push_back(std::move(entry));
  }
  for (const auto &[output, e] : byOutput) {
    if (taken.count(output)) continue;
    if (Idle.count(e->Source))
      plan.Kept.push_back(*e);
    else
      plan.Removals.push_back(*e);
  }
  return plan;
}

TMirrorManifest ReadMirrorManifest(const std::string &Destination) {
  TMirrorManifest manifest;
  std::ifstream in(Destination + MirrorManifestName, std::ios::binary);
  if (!in) {
    // Present but unreadable is not the same as missing.
    manifest.Found = manifest.Damaged = errno != ENOENT;
    return manifest;
  }
  manifest.Found = true;
  std::string line;
  if (!std::getline(in, line) || line != Header) {
    manifest.Damaged = true;
    return manifest;
  }
  bool ended = false;
  while (std::getline(in, line)) {
    if (ended) break;  // anything after the trailer
    if (line == Trailer) {
      ended = true;
      continue;
    }
    TMirrorEntry entry;
    if (!ParseLine(line, entry)) {
      manifest.Damaged = true;
      break;
    }
    manifest.Entries.push_back(std::move(entry));
  }
  if (!ended || in.bad() || !in.eof()) manifest.Damaged = true;
  if (manifest.Damaged) manifest.Entries.clear();
  return manifest;
}

void WriteMirrorManifest(const std::string &Destination, const std::vector<TMirrorEntry> &Entries) {
  std::string text = std::string(Header) + "\n";
  for (const TMirrorEntry &e : Entries)
    text += Escape(e.Source) + "\t" + Escape(e.Output) + "\t" + std::to_string(e.Size) + "\t" +
            std::to_string(e.MTime) + "\t" + std::to_string(e.PendingSince) + "\n";
  text += std::string(Trailer) + "\n";

  const std::string target = Destination + MirrorManifestName;
  std::string temp = Destination + TempPrefix + "XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  auto fail = [&](int error) {
    throw std::runtime_error("Cannot write the mirror's list \"" + target + "\". " + std::strerror(error));
  };
  if (fd < 0) fail(errno);
  // Readable as the outputs are (mkostemp makes it private). No worker is
  // creating files while the list is written, so the mask is read safely.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      close(fd);
      unlink(temp.c_str());
      fail(error);
    }
    done += size_t(n);
  }
  // On the disk before it takes the name: a power loss leaves one list or the other.
  if (fsync(fd) != 0 || close(fd) != 0) {
    const int error = errno;
    unlink(temp.c_str());
    fail(error);
  }
  if (rename(temp.c_str(), target.c_str()) != 0) {
    const int error = errno;
    unlink(temp.c_str());
    fail(error);
  }
}

void RemoveLeftManifests(const std::string &Destination) {
  DIR *dir = opendir(Destination.c_str());
  if (!dir) return;
  const size_t prefix = std::strlen(TempPrefix);
  while (const dirent *d = readdir(dir)) {
    const std::string name = d->d_name;
    // Exactly the names mkostemp makes from the prefix.
    if (name.size() == prefix + 6 && name.compare(0, prefix, TempPrefix) == 0) {
      struct stat st;
      const std::string path = Destination + name;
      if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path.c_str());
    }
  }
  closedir(dir);
}

std::string MirrorOutputFolder(const std::string &Source, const std::vector<std::string> &Roots,
                               const std::string &Destination) {
  const std::string source = NormalPath(Source);
  const std::string *root = nullptr;
  for (const std::string &r : Roots)
    if (source.compare(0, r.size(), r) == 0 && (!root || r.size() < root->size())) root = &r;
  std::string rest;
  if (root) {
    const size_t slash = source.find_last_of('/');
    rest = slash + 1 > root->size() ? source.substr(root->size(), slash + 1 - root->size()) : std::string();
  } else {
    rest = FullPathRest(source);
    if (!rest.empty()) rest += '/';
  }
  return Destination + rest;
}

void MakeMirrorFolder(const std::string &Folder) {
  std::error_code ec;
  fs::create_directories(Folder, ec);
  if (ec || !IsFolder(Folder))
    throw std::runtime_error("Cannot create folder \"" + Folder + "\". " +
                             (ec ? ec.message() : std::string("A file of that name exists")));
}

bool StillMirrorOutput(const std::string &Path, const TMirrorEntry &Entry) {
  struct stat st;
  if (lstat(Path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int64_t mtime = Nanoseconds(st.st_mtim);
  if (Entry.Size >= 0 && int64_t(st.st_size) == Entry.Size && mtime == Entry.MTime) return true;
  return Entry.PendingSince != 0 && mtime >= Entry.PendingSince;
}

bool InsideMirror(const std::string &Path, const std::string &Destination) {
  std::error_code ec;
  const fs::path folder = fs::canonical(fs::path(Path).parent_path(), ec);
  if (ec) return false;
  const fs::path root = fs::canonical(Destination, ec);
  if (ec) return false;
  const std::string f = folder.string() + "/", r = root.string() == "/" ? "/" : root.string() + "/";
  return f.compare(0, r.size(), r) == 0;
}

bool RecordMirrorOutput(const std::string &Path, TMirrorEntry &Entry) {
  struct stat st;
  if (lstat(Path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  Entry.Size = int64_t(st.st_size);
  Entry.MTime = Nanoseconds(st.st_mtim);
  Entry.PendingSince = 0;
  return true;
}

bool RemoveMirrorOutput(const std::string &Path, const std::string &Destination) {
  if (unlink(Path.c_str()) != 0 && errno != ENOENT) return false;
  // The folders the mirror made for it, as long as nothing else is in them
  // (rmdir removes only an empty folder).
  std::string folder = Path.substr(0, Path.find_last_of('/'));
  while (folder.size() > Destination.size() && folder.compare(0, Destination.size(), Destination) == 0 &&
         rmdir(folder.c_str()) == 0)
    folder = folder.substr(0, folder.find_last_of('/'));
  return true;
}

int64_t MirrorPendingTime() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return Nanoseconds(now) - 2 * int64_t(1000000000);
}

std::string MirrorRelative(const std::string &Path, const std::string &Destination) {
  if (Path.size() <= Destination.size() || Path.compare(0, Destination.size(), Destination) != 0) return {};
  return Path.substr(Destination.size());
}
