// SPDX-License-Identifier: GPL-3.0-or-later
// The readers under fuzz take file names: each input is written to a file of
// its own in the process's temporary folder first.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

inline std::string FuzzFile(const char *Name, const uint8_t *Data, size_t Size) {
  static const std::string Folder = [] {
    std::string f = "/tmp/tonmill-fuzz-" + std::to_string(getpid());
    ::mkdir(f.c_str(), 0700);
    std::atexit([] { std::filesystem::remove_all("/tmp/tonmill-fuzz-" + std::to_string(getpid())); });
    return f;
  }();
  const std::string path = Folder + "/" + Name;
  if (FILE *f = std::fopen(path.c_str(), "wb")) {
    if (Size) std::fwrite(Data, 1, Size, f);
    std::fclose(f);
  }
  return path;
}
