// SPDX-License-Identifier: GPL-3.0-or-later
// Times collecting a tree of 20,000 files as a dropped folder, next to the
// file system's own listing of the same tree: collect_sources_bench FOLDER
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/source_list.h"

namespace fs = std::filesystem;

namespace {

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  const fs::path root = argv[1];
  fs::remove_all(root);
  const char *const kinds[] = {"flac", "mp3", "flac", "wav", "ogg", "jpg", "txt", "m4a", "cue", "log"};
  int files = 0;
  for (int d = 0; d < 200; ++d) {
    const fs::path folder = root / ("Artist " + std::to_string(d / 10)) / ("Album " + std::to_string(d));
    fs::create_directories(folder);
    for (int f = 0; f < 100; ++f, ++files)
      std::ofstream(folder / ("Track " + std::to_string(f) + "." + kinds[f % 10])) << "x";
  }

  auto start = std::chrono::steady_clock::now();
  size_t listed = 0;
  for (const auto &entry : fs::recursive_directory_iterator(root)) listed += entry.is_regular_file();
  const double listing = Since(start);

  TSourceCollection sources;
  start = std::chrono::steady_clock::now();
  const int added = sources.AddSourceFolder(root.string() + "/", "*", false, true);
  sources.Sort();
  const double collecting = Since(start);

  start = std::chrono::steady_clock::now();
  const int again = sources.AddSourceFolder(root.string() + "/", "*", false, true);
  const double duplicates = Since(start);

  std::printf("%d files (%zu listed) in 200 folders\n", files, listed);
  std::printf("  file system listing alone:   %.3f s\n", listing);
  std::printf("  collecting and sorting:      %.3f s (%d sources)\n", collecting, added);
  std::printf("  dropping the same tree again: %.3f s (%d added)\n", duplicates, again);
  fs::remove_all(root);
}
