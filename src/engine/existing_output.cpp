#include "engine/existing_output.h"

#include <sys/stat.h>

namespace {
bool Before(const timespec &a, const timespec &b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}
}  // namespace

bool OutputIsCurrent(const std::string &Output, const std::string &Source) {
  struct stat output, source;
  if (lstat(Output.c_str(), &output) != 0 || !S_ISREG(output.st_mode)) return false;
  if (stat(Source.c_str(), &source) != 0) return false;
  return Before(source.st_mtim, output.st_mtim);
}
