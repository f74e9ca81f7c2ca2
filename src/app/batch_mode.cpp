// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/batch_mode.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <thread>

#include "app/console_progress.h"
#include "app/format_readers.h"
#include "app/format_settings.h"
#include "app/language_file.h"
#include "app/settings.h"
#include "app/source_list.h"
#include "base/texts.h"
#include "encoders/format.h"
#include "engine/coder_engine.h"
#include "engine/failure_text.h"
#include "engine/name_pattern.h"
#include "platform/bass/bass.h"

namespace fs = std::filesystem;

namespace {

// "3 files", or "12 tracks of 1 file" when sheets or silences split sources.
std::string ConvertedSummary(int32_t Outputs, int32_t Files) {
  const std::string files = std::to_string(Files) + (Files == 1 ? " file" : " files");
  if (Outputs == Files) return files;
  return std::to_string(Outputs) + (Outputs == 1 ? " track of " : " tracks of ") + files;
}

// After a run that did not convert everything: "converted 3 of 9, failed 1,
// stopped 5; outputs in /out/".
std::string RunCounts(const TCoder_engine &Engine, bool Failed) {
  const TRunCounts c = Engine.Counts(Failed);
  return "converted " + std::to_string(c.Converted) + " of " + std::to_string(c.Outputs) + ", failed " +
         std::to_string(c.Failed) + ", stopped " + std::to_string(c.Stopped) + "; outputs in " +
         Engine.GetDestinationFolder();
}

// "converted again 2 existing outputs: 1 older than the source, 1 of
// another length than the source".
std::string RedoneSummary(const TRedoneCounts &Redone) {
  std::string text = "converted again " + std::to_string(Redone.Total()) + " existing output" +
                     (Redone.Total() == 1 ? "" : "s") + ":";
  const char *separator = " ";
  for (const auto &[count, why] : {std::pair{Redone.Older, "older than the source"},
                                   std::pair{Redone.OtherLength, "of another length than the source"},
                                   std::pair{Redone.NotAudio, "not readable as audio to the end"}}) {
    if (count == 0) continue;
    text += separator + std::to_string(count) + " " + why;
    separator = ", ";
  }
  return text;
}

void Say(const std::string &text) { std::fprintf(stderr, "tonmill: %s\n", text.c_str()); }

// Takes SIGINT, SIGTERM and SIGHUP (a closed terminal) on a thread of its own
// (they are blocked in every other thread): the first cancels the run, a
// second one ends the program. Only these three are taken; the thread is ended through a pipe of its own, so
// no signal from outside can end it. Ctrl-C before the run ends the program
// as usual; after the run it is ignored.
class TSignalWatcher {
 public:
  explicit TSignalWatcher(TCoder_engine &Engine) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &set, &previous);
    Signals = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (Signals < 0 || pipe2(Stop, O_CLOEXEC) != 0) {
      const int error = errno;
      if (Signals >= 0) close(Signals);
      pthread_sigmask(SIG_SETMASK, &previous, nullptr);
      throw std::runtime_error(std::string("cannot watch for Ctrl-C: ") + std::strerror(error));
    }
    Thread = std::thread([this, &Engine] {
      int cancels = 0;
      for (;;) {
        pollfd fds[2] = {{Signals, POLLIN, 0}, {Stop[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
          if (errno == EINTR) continue;
          return;
        }
        if (fds[1].revents) return;
        signalfd_siginfo info;
        if (read(Signals, &info, sizeof info) != ssize_t(sizeof info)) continue;
        if (++cancels > 1) {  // no waiting for the workers: their unfinished files go now
          Engine.AbandonPartialOutputs();
          _exit(2);
        }
        Engine.Cancel();
      }
    });
  }
  ~TSignalWatcher() {
    if (Thread.joinable()) {
      const char stop = 0;
      while (write(Stop[1], &stop, 1) < 0 && errno == EINTR) {
      }
      Thread.join();
    }
    // The signals stay blocked until the program ends: once the run is
    // over its outcome stands, and a Ctrl-C while the program winds down must
    // not end it by the signal, as if nothing had been written.
    for (const int fd : {Signals, Stop[0], Stop[1]})
      if (fd >= 0) close(fd);
  }

 private:
  int Signals = -1;
  int Stop[2] = {-1, -1};
  std::thread Thread;
};

// A relative path means nothing once the current folder has been deleted.
bool LostWithCurrentFolder(const std::string &Path) {
  std::error_code ec;
  if (Path.empty() || Path[0] == '/') return false;
  (void)fs::current_path(ec);
  if (ec) Say("the current folder no longer exists: \"" + Path + "\" cannot be found");
  return bool(ec);
}

// Adds the inputs: patterns with "*" or "?" match the files of one folder,
// folders are searched with their sub-folders, anything else is one file.
// A quoted name that holds "*" or "?" and exists is that file, not a pattern.
void CollectInputs(const std::vector<std::string> &Inputs, TSourceCollection &Sources) {
  for (const std::string &input : Inputs) {
    if (LostWithCurrentFolder(input)) continue;
    std::error_code exists;
    if (input.find_first_of("*?") != std::string::npos && !fs::exists(input, exists)) {
      const size_t slash = input.find_last_of('/');
      const std::string folder = slash == std::string::npos ? "./" : input.substr(0, slash + 1);
      Sources.AddSourceFolder(folder, input.substr(slash + 1), false, false);
      continue;
    }
    std::error_code ec;
    const fs::file_status status = fs::status(input, ec);
    if (ec && status.type() != fs::file_type::not_found)
      Say("cannot read \"" + input + "\": " + ec.message());
    else if (fs::is_directory(status))
      Sources.AddSourceFolder(input, "*", false, true);
    else
      Sources.AddSourceFile(input, false);
  }
  Sources.Sort();
  for (const std::string &folder : Sources.Unreadable) Say("cannot read the folder " + folder);
}

// The decoding library's code at the end of a message ("BASS_... 41"), explained.
std::string Explain(const std::string &message) {
  const size_t blank = message.find_last_of(' ');
  if (message.rfind("BASS_", 0) != 0 || blank == std::string::npos) return {};
  const std::string code = message.substr(blank + 1);
  if (code.empty() || code.find_first_not_of("-0123456789") != std::string::npos) return {};
  return std::string(" (") + BASS_ErrorDescription(std::atoi(code.c_str())) + ")";
}

// The stored settings a run reads.
struct TRunSettings {
  TGeneralSettings General;
  TProgramOptions Program;
  TPreprocessOptions Preprocess;
};

// Reads the stored settings, takes the stored priority and has the run's
// messages in the user's language; a missing file is no reason to stop.
TRunSettings LoadRunSettings(TSettingsStore &Store) {
  if (const std::string notice = Store.TakeNotice(); !notice.empty()) Say(notice);
  const TRunSettings settings{LoadGeneralSettings(Store), LoadProgramOptions(Store),
                              LoadPreprocessOptions(Store)};
  try {
    LoadLanguage(LanguageIndex(settings.General.Language), [](const std::string &id) {
      Say("the language file has no text " + id + "; English serves");
    });
  } catch (const std::exception &e) {
    Say(std::string(e.what()) + "; English serves");
  }
  ApplyPriority(settings.Program.Priority, Say);
  return settings;
}

// The format of the command line, else the stored one; 0 (and said why) when
// there is none or this build cannot write it.
TDestinationFormat ChooseFormat(const TParsedCommandLine &Parsed, const TCommandLine &Line,
                                const TGeneralSettings &General) {
  TDestinationFormat format = Parsed.Options.DestinationFormat;
  if (!format) {
    if (Line.HasParam("dest"))
      Say("unknown destination format \"" + Parsed.UnknownDestination +
          "\"; using the stored format");
    format = DestinationFormatFromName(General.DestinationFormat);
  }
  if (!format) {
    Say("no destination format: name one with /dest (mp3, wma, ogg, ape, flac, wavpack, aac, wav)");
    return 0;
  }
  if (!HasEncoder(format)) {
    Say(std::string("this build cannot write ") + DestinationFormatName(format) + " files yet");
    return 0;
  }
  return format;
}

// The output folder as an absolute path, created when missing; nothing (and
// said why) when it cannot be written into.
std::optional<std::string> PrepareOutputFolder(const std::string &Folder) {
  if (LostWithCurrentFolder(Folder)) return std::nullopt;
  const std::string outputFolder = NormalPath(Folder);
  std::error_code ec;
  if (fs::is_regular_file(fs::path(outputFolder).parent_path(), ec)) {
    Say("the output \"" + outputFolder.substr(0, outputFolder.size() - 1) + "\" is a file, not a folder");
    return std::nullopt;
  }
  // The window's check: the folder made when missing, then a file tried in it.
  if (const int error = DestinationError(outputFolder)) {
    Say((IsFolder(outputFolder) ? "cannot write into the output folder \"" : "cannot create the output folder \"") +
        outputFolder + "\": " + std::strerror(error));
    return std::nullopt;
  }
  return outputFolder;
}

// The name pattern of the run: the one given with /names, else the stored one.
std::string RunNamePattern(const TParsedCommandLine &Parsed, const TProgramOptions &Program) {
  return Parsed.Options.NamePattern.empty() ? Program.NamePattern : Parsed.Options.NamePattern;
}

// False (and said why) when outputs are to be named by a pattern that cannot name them.
bool NamePatternUsable(const TParsedCommandLine &Parsed, const TProgramOptions &Program) {
  if (!Parsed.Options.Names && !Program.UseNamePattern) return true;
  const std::string pattern = RunNamePattern(Parsed, Program);
  std::string bad;
  if (CheckNamePattern(pattern, bad)) return true;
  if (bad.empty())
    Say("/names: the pattern \"" + pattern + "\" names nothing; the fields are " + kNameFields);
  else
    Say("/names: the pattern \"" + pattern + "\" has an unknown field " + bad + "; the fields are " + kNameFields);
  return false;
}

// Gives the engine the format's options (stored, then those of the command
// line), the sources, the folder and the other settings of the run; false
// (and said why) when an option of the command line is wrong.
bool SetUpEngine(TCoder_engine &Engine, TDestinationFormat Format, const TParsedCommandLine &Parsed,
                 const TCommandLine &Line, TSettingsStore &Store, const TRunSettings &Settings,
                 TSourceCollection &Sources, const std::string &OutputFolder,
                 TConsoleProgress &Progress) {
  LoadFormatOptions(Store, Engine);
  const TFormatReading reading = ReadFormatCommandLine(Format, Line, Store, Engine);
  if (DebugMode) std::fprintf(stderr, "%s\n", reading.DebugMessage.c_str());
  if (!reading.Error.empty()) {
    Say(reading.Error);
    return false;
  }

  if (Parsed.Quiet) Progress.Enabled = false;
  Engine.Reset();
  Engine.SetSourceList(&Sources.List());
  Engine.ListFailures = Sources.BadSheets;
  Engine.SetDestinationFormat(Format);
  Engine.SetDestinationFolder(OutputFolder);
  Engine.SetPreprocessOptions(Settings.Preprocess);
  Engine.SameAsSource = false;
  Engine.CreateFullPath = Parsed.Options.CreateFullPath;
  Engine.KeepPartial = Parsed.Options.KeepPartial || Settings.Program.KeepPartial;
  Engine.KeepGoing = Parsed.Options.KeepGoing || Settings.Program.KeepGoing;
  Engine.SkipExisting = Parsed.Options.SkipExisting || Settings.Program.SkipExisting;
  Engine.WriteTags = !Parsed.Options.NoTags && Settings.Program.WriteTags;
  Engine.Verify = Parsed.Options.Verify || Settings.Program.Verify;
  Engine.SpreadOverCores = !Parsed.Options.NoSpread && Settings.Program.SpreadOverCores;
  Engine.CopyFiles = Parsed.Options.CopyFiles || Settings.Program.CopyFiles;
  Engine.CopyPatterns = Parsed.Options.CopyPatterns.value_or(Settings.Program.CopyPatterns);
  Engine.ReplayGain = Parsed.Options.ReplayGain || Settings.Program.ReplayGain;
  Engine.UseNamePattern = Parsed.Options.Names || Settings.Program.UseNamePattern;
  Engine.NamePattern = RunNamePattern(Parsed, Settings.Program);
  Engine.Preprocess = Settings.General.Preprocess;
  Engine.HiddenTrack = Parsed.Options.HiddenTrack;
  Engine.PregapOwnTrack = Parsed.Options.OwnPregaps;
  Engine.ThreadCount = Settings.Program.SimpleParallelFiles || Parsed.ParallelGiven
                           ? Parsed.ParallelFiles
                           : ThreadCountFor(Settings.Program, Format);
  if (DebugMode) Say("converting " + std::to_string(Engine.ThreadCount) + " at once");
  Engine.OnProgress = [&Progress](const TProgressRec &rec) { Progress.Show(rec); };
  return true;
}

// Why the run failed: the engine's error lines, each worker failure the
// decoding library can explain, and what was converted.
// Which files failed and why, in the user's language; then the details.
void ReportFailure(const TCoder_engine &Engine) {
  for (const TThreadErrorRec &failure : Engine.Failures) Say(FailureLine(failure));
  Say(text_details + ":");
  std::string text = Engine.ErrorText;
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) {
    std::fprintf(stderr, "%s\n", text.substr(0, at).c_str());
    text.erase(0, at + 2);
  }
  for (const TThreadErrorRec &failure : Engine.Failures) {
    const std::string explanation = Explain(failure.ErrorMessage);
    if (!explanation.empty())
      Say(failure.CurrentInputFileName + ": " + failure.ErrorMessage + explanation);
  }
  Say(RunCounts(Engine, true));
}

// Runs the engine under Ctrl-C and reports how the run ended; returns the
// exit status.
int RunAndReport(TCoder_engine &Engine, TConsoleProgress &Progress, const TSourceCollection &Sources,
                 bool Quiet) {
  int status;
  try {
    TSignalWatcher watcher(Engine);
    const int result = Engine.Run();
    Progress.Finish();
    if (result == 2) {
      Say("cancelled: " + RunCounts(Engine, false));
      status = 2;
    } else {
      if (!Quiet)
        // What was there already counts as done, as in the window.
        Say(ConvertedSummary(Engine.ConvertedCount + Engine.SkippedCount, Engine.FileCount()) + " converted into " +
            Engine.GetDestinationFolder());
      status = 0;
    }
  } catch (const std::exception &e) {
    Progress.Finish();
    if (std::string(e.what()) == CoderEngineError)
      ReportFailure(Engine);
    else
      Say(e.what());
    status = 1;
  }
  if (Engine.SkippedCount > 0 && !Quiet)
    Say("left alone " + std::to_string(Engine.SkippedCount) + " existing output" +
        (Engine.SkippedCount == 1 ? "" : "s") + ", complete and newer than their sources");
  if (Engine.Redone.Total() > 0 && !Quiet) Say(RedoneSummary(Engine.Redone));
  if (Engine.CopyFiles && !Quiet && (Engine.BesideCopied > 0 || Engine.BesidePresent > 0))
    Say("copied " + std::to_string(Engine.BesideCopied) + " file" + (Engine.BesideCopied == 1 ? "" : "s") +
        " beside the outputs (" + std::to_string(Engine.BesidePresent) + " there already, as new or newer)");
  if (Engine.Verify && !Quiet) {
    const int32_t verified = Engine.VerifiedCount;
    Say("verified " + std::to_string(verified) + " lossless output" + (verified == 1 ? "" : "s") +
        " against what was encoded");
  }
  // Sources converted only as far as they decoded, covers left out, and outputs
  // their encoder took converted; they change no exit status.
  for (const TThreadWarningRec &warning : Engine.Warnings)
    Say((warning.IsNote() ? "note: " : "warning: ") + WarningText(warning));
  // What could not be read was not converted: the run did not do all it was asked.
  if (status == 0 && !Sources.Unreadable.empty()) {
    Say("some input folders could not be read (named above)");
    status = 1;
  }
  return status;
}

}  // namespace

int RunBatch(const TParsedCommandLine &Parsed, const TCommandLine &Line, TSettingsStore &Store) {
  Store.BatchMode = true;  // read, never written
  const TRunSettings settings = LoadRunSettings(Store);
  const TDestinationFormat format = ChooseFormat(Parsed, Line, settings.General);
  if (!format) return 1;
  if (!NamePatternUsable(Parsed, settings.Program)) return 1;

  TSourceCollection sources;
  CollectInputs(Parsed.Options.InputPaths, sources);
  if (sources.List().empty() && sources.BadSheets.empty()) {
    Say("no supported audio file among the inputs");
    return 1;
  }
  const std::optional<std::string> outputFolder = PrepareOutputFolder(Parsed.Options.OutputFolder);
  if (!outputFolder) return 1;

  TCoder_engine engine;
  TConsoleProgress progress;
  if (!SetUpEngine(engine, format, Parsed, Line, Store, settings, sources, *outputFolder, progress))
    return 1;
  return RunAndReport(engine, progress, sources, Parsed.Quiet);
}
