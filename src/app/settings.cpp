// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings.h"

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "base/texts.h"
#include "encoders/format.h"
#include "engine/name_pattern.h"
#include "platform/processors.h"
#include "sources/getaudioinfo_thread.h"

namespace {

std::string FilesPerCpuName(const TFormatRow &Row) { return std::string("FPCPU_") + Row.Name; }

}  // namespace

TGeneralSettings LoadGeneralSettings(const TSettingsStore &Store) {
  TGeneralSettings s;
  s.Destination = Store.ReadString("Destination", "");
  s.DestinationFormat = Store.ReadString("DestinationFormat", "");
  s.CreateFullPath = Store.ReadBoolean("CreateFullPath", true);
  s.UseFromSource = Store.ReadBoolean("UseFromSource", false);
  s.Preprocess = Store.ReadBoolean("Preprocess", false);
  s.Language = Store.ReadString("Language", "EN");
  return s;
}

std::vector<TSaveRec> GeneralSettingsRecords(const TGeneralSettings &s) {
  return {{"Destination", s.Destination},         {"DestinationFormat", s.DestinationFormat},
          {"CreateFullPath", s.CreateFullPath},   {"UseFromSource", s.UseFromSource},
          {"Preprocess", s.Preprocess},           {"Language", s.Language}};
}

TProgramOptions LoadProgramOptions(const TSettingsStore &Store) {
  const int32_t processors = ProcessorCount();
  TProgramOptions o;
  o.AutoReduce = Store.ReadBoolean("ProgAutoReduce", false);
  o.Priority = Store.ReadInteger("ProgPriority", 1);
  o.ParallelFiles = Store.ReadInteger("ProgParallelFiles", processors);
  o.SimpleParallelFiles = Store.ReadBoolean("ProgSimpleParallelFiles", true);
  o.KeepPartial = Store.ReadBoolean("KeepPartial", false);
  o.KeepGoing = Store.ReadBoolean("KeepGoing", false);
  o.SkipExisting = Store.ReadBoolean("SkipExisting", false);
  o.WriteTags = Store.ReadBoolean("WriteTags", true);
  o.Verify = Store.ReadBoolean("Verify", false);
  o.SpreadOverCores = Store.ReadBoolean("SpreadOverCores", true);
  o.CopyFiles = Store.ReadBoolean("CopyFiles", false);
  o.CopyPatterns = Store.ReadString("CopyPatterns", "");
  o.ReplayGain = Store.ReadBoolean("ReplayGain", false);
  o.UseNamePattern = Store.ReadBoolean("UseNamePattern", false);
  o.NamePattern = Store.ReadString("NamePattern", kDefaultNamePattern);
  for (const TFormatRow *row : FormatRowsByCode())
    DestinationFileTypes[size_t(row->Code - 1)].FilesPerCPU = Store.ReadInteger(FilesPerCpuName(*row), processors);
  return o;
}

std::vector<TSaveRec> ProgramOptionsRecords(const TProgramOptions &o) {
  std::vector<TSaveRec> records = {{"ProgAutoReduce", o.AutoReduce},
                                   {"ProgPriority", o.Priority},
                                   {"ProgParallelFiles", o.ParallelFiles},
                                   {"ProgSimpleParallelFiles", o.SimpleParallelFiles},
                                   {"KeepPartial", o.KeepPartial},
                                   {"KeepGoing", o.KeepGoing},
                                   {"SkipExisting", o.SkipExisting},
                                   {"WriteTags", o.WriteTags},
                                   {"Verify", o.Verify},
                                   {"SpreadOverCores", o.SpreadOverCores},
                                   {"CopyFiles", o.CopyFiles},
                                   {"CopyPatterns", o.CopyPatterns},
                                   {"ReplayGain", o.ReplayGain},
                                   {"UseNamePattern", o.UseNamePattern},
                                   {"NamePattern", o.NamePattern}};
  for (const TFormatRow *row : FormatRowsByCode())
    records.push_back({FilesPerCpuName(*row), DestinationFileTypes[size_t(row->Code - 1)].FilesPerCPU});
  return records;
}

TPreprocessOptions LoadPreprocessOptions(const TSettingsStore &Store) {
  TPreprocessOptions o;
  o.Resample = Store.ReadBoolean("PPResample", false);
  o.ResampleTo = Store.ReadInteger("PPResampleTo", 44100);
  o.Channels = Store.ReadInteger("PPChannels", 0);
  o.SplitBySilence = Store.ReadBoolean("PPSplitBySilence", true);
  o.Threshold = Store.ReadInteger("PPThreshold", 0);
  o.Seconds = Store.ReadInteger("PPSeconds", 20);
  o.HiddenTrack = Store.ReadBoolean("PPHiddenTrack", false);
  o.PregapOwnTrack = Store.ReadBoolean("PPPregapOwnTrack", false);
  return o;  // "PPFileFormat" is written, never read back
}

std::vector<TSaveRec> PreprocessOptionsRecords(const TPreprocessOptions &o) {
  return {{"PPFileFormat", o.FileFormat}, {"PPResample", o.Resample},
          {"PPResampleTo", o.ResampleTo}, {"PPChannels", o.Channels},
          {"PPSplitBySilence", o.SplitBySilence}, {"PPThreshold", o.Threshold},
          {"PPSeconds", o.Seconds}, {"PPHiddenTrack", o.HiddenTrack},
          {"PPPregapOwnTrack", o.PregapOwnTrack}};
}

TDestinationFormat DestinationFormatFromName(const std::string &Name) {
  if (Name.empty()) return dfMP3;
  for (const TFormatRow *row : FormatRows())
    if (Name == row->Name) return row->Code;
  return 0;
}

const char *DestinationFormatName(TDestinationFormat Format) {
  return FormatName(Format);
}

bool ApplyPriority(int32_t Priority) {
  const int nice = Priority == 0 ? 19 : Priority == 1 ? 0 : -5;
  // A nice value belongs to one thread on Linux: set it on each, the main
  // thread first (threads started later take their starter's).
  const int self = int(getpid());
  if (setpriority(PRIO_PROCESS, id_t(self), nice) != 0) return false;
  std::error_code ec;
  for (const auto &task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    const int tid = std::atoi(task.path().filename().c_str());
    if (tid > 0 && tid != self) setpriority(PRIO_PROCESS, id_t(tid), nice);  // one may have ended
  }
  return true;
}

void ApplyPriority(int32_t Priority, const std::function<void(const std::string &)> &Say) {
  static std::atomic<bool> refusalSaid{false};
  if (!ApplyPriority(Priority) && !refusalSaid.exchange(true) && Say) Say(text_priority_refused);
}

int32_t ThreadCountFor(const TProgramOptions &Options, TDestinationFormat Format) {
  const int32_t count = Options.SimpleParallelFiles || !FormatRow(Format)
                            ? Options.ParallelFiles
                            : DestinationFileTypes[size_t(Format - 1)].FilesPerCPU;
  return std::max(1, count);
}
