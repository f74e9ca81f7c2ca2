// SPDX-License-Identifier: GPL-3.0-or-later
// The groups of settings the program keeps: general, program and preprocess
// values, with their stored names and defaults written once, here.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "base/misc.h"
#include "engine/name_pattern.h"

struct TGeneralSettings {
  std::string Destination;          // "Destination": ends with "/" once chosen
  std::string DestinationFormat;    // "DestinationFormat": "MP3", ..., "AAC"
  bool CreateFullPath = true;       // "CreateFullPath"
  bool UseFromSource = false;       // "UseFromSource"
  bool Preprocess = false;          // "Preprocess"
  std::string Language = "EN";      // "Language"
};

struct TProgramOptions {
  bool AutoReduce = false;          // "ProgAutoReduce"
  int32_t Priority = 1;             // "ProgPriority": 0 idle, 1 normal, other high
  int32_t ParallelFiles = 1;        // "ProgParallelFiles": default the processor count
  bool SimpleParallelFiles = true;  // "ProgSimpleParallelFiles"
  bool KeepPartial = false;         // "KeepPartial": a stopped job keeps its shorter file
  bool KeepGoing = false;           // "KeepGoing": a failed file stops nothing
  bool SkipExisting = false;        // "SkipExisting": outputs newer than their sources are left alone
  bool WriteTags = true;            // "WriteTags": outputs carry the source's tags in their own kind
  bool Verify = false;              // "Verify": lossless outputs are decoded again and compared
  bool SpreadOverCores = true;      // "SpreadOverCores": a long file is encoded on the idle workers too
  bool CopyFiles = false;           // "CopyFiles": covers (and CopyPatterns' files) copied beside the outputs
  std::string CopyPatterns;         // "CopyPatterns": e.g. "*.log *.pdf"
  bool ReplayGain = false;          // "ReplayGain": outputs get loudness tags measured while converting
  bool UseNamePattern = false;      // "UseNamePattern": outputs are named from their tags
  std::string NamePattern = kDefaultNamePattern;  // "NamePattern": how (name_pattern.h)
  // "FPCPU_<format>" values live in DestinationFileTypes[].FilesPerCPU.
};

TGeneralSettings LoadGeneralSettings(const TSettingsStore &Store);
std::vector<TSaveRec> GeneralSettingsRecords(const TGeneralSettings &Settings);

// Also fills the FilesPerCPU of every destination format.
TProgramOptions LoadProgramOptions(const TSettingsStore &Store);
std::vector<TSaveRec> ProgramOptionsRecords(const TProgramOptions &Options);

TPreprocessOptions LoadPreprocessOptions(const TSettingsStore &Store);
std::vector<TSaveRec> PreprocessOptionsRecords(const TPreprocessOptions &Options);

// "MP3" ... "AAC" and back; an empty name is MP3, an unknown one 0.
TDestinationFormat DestinationFormatFromName(const std::string &Name);
const char *DestinationFormatName(TDestinationFormat Format);

// Applies the process priority to every thread of the process: 0 idle (nice
// 19), 1 normal (nice 0), anything else high (nice -5). Returns false when the
// system refused it (a nicer value than the present one needs the right to
// raise priority, CAP_SYS_NICE or a high enough RLIMIT_NICE); the process then
// keeps the priority it had.
[[nodiscard]] bool ApplyPriority(int32_t Priority);
// ApplyPriority; the first refusal in the program's run is said through Say
// (in the user's language), later ones are not.
void ApplyPriority(int32_t Priority, const std::function<void(const std::string &)> &Say);
// The number of workers of a run for a destination format.
int32_t ThreadCountFor(const TProgramOptions &Options, TDestinationFormat Format);
