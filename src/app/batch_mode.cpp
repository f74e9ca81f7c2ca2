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
#include <stdexcept>
#include <thread>

#include "app/console_progress.h"
#include "app/format_readers.h"
#include "app/format_settings.h"
#include "app/settings.h"
#include "app/source_list.h"
#include "app/texts.h"
#include "encoders/coders.h"
#include "engine/coder_engine.h"
#include "engine/failure_text.h"
#include "engine/texts.h"
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

void Say(const std::string &text) { std::fprintf(stderr, "tonmill: %s\n", text.c_str()); }

// Takes SIGINT and SIGTERM on a thread of its own (they are blocked in every
// other thread): the first cancels the run, a second one ends the program.
// Only these two are taken; the thread is ended through a pipe of its own, so
// no signal from outside can end it.
class TSignalWatcher {
 public:
  explicit TSignalWatcher(TCoder_engine &Engine) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, &Previous);
    Signals = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (Signals < 0 || pipe2(Stop, O_CLOEXEC) != 0) {
      const int error = errno;
      if (Signals >= 0) close(Signals);
      pthread_sigmask(SIG_SETMASK, &Previous, nullptr);
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
    // A signal that came after the run's end is taken here, not left to end the program.
    for (signalfd_siginfo info; Signals >= 0 && read(Signals, &info, sizeof info) > 0;) {
    }
    for (const int fd : {Signals, Stop[0], Stop[1]})
      if (fd >= 0) close(fd);
    pthread_sigmask(SIG_SETMASK, &Previous, nullptr);
  }

 private:
  sigset_t Previous;
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
void CollectInputs(const std::vector<std::string> &Inputs, TSourceCollection &Sources) {
  for (const std::string &input : Inputs) {
    if (LostWithCurrentFolder(input)) continue;
    if (input.find_first_of("*?") != std::string::npos) {
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

}  // namespace

int RunBatch(const TParsedCommandLine &Parsed, const TCommandLine &Line, TSettingsStore &Store) {
  Store.BatchMode = true;
  if (const std::string notice = Store.TakeNotice(); !notice.empty()) Say(notice);
  const TCommandLineOptions &options = Parsed.Options;
  const TGeneralSettings general = LoadGeneralSettings(Store);
  const TProgramOptions program = LoadProgramOptions(Store);
  const TPreprocessOptions preprocess = LoadPreprocessOptions(Store);
  ApplyPriority(program.Priority);
  // Messages of the run in the user's language; a missing file is no reason to stop.
  try {
    LoadLanguage(LanguageIndex(general.Language), [](const std::string &id) {
      Say("the language file has no text " + id + "; English serves");
    });
  } catch (const std::exception &e) {
    Say(std::string(e.what()) + "; English serves");
  }

  TDestinationFormat format = options.DestinationFormat;
  if (!format) {
    if (Line.HasParam("dest"))
      Say("unknown destination format \"" + Parsed.UnknownDestination +
          "\"; using the stored format");
    format = DestinationFormatFromName(general.DestinationFormat);
  }
  if (!format) {
    Say("no destination format: name one with /dest (mp3, wma, ogg, ape, flac, wavpack, aac, wav)");
    return 1;
  }
  if (!HasEncoder(format)) {
    Say(std::string("this build cannot write ") + DestinationFormatName(format) + " files yet");
    return 1;
  }

  TSourceCollection sources;
  CollectInputs(options.InputPaths, sources);
  if (sources.List().empty()) {
    Say("no supported audio file among the inputs");
    return 1;
  }

  if (LostWithCurrentFolder(options.OutputFolder)) return 1;
  const std::string outputFolder = NormalPath(options.OutputFolder);
  std::error_code ec;
  if (fs::is_regular_file(fs::path(outputFolder).parent_path(), ec)) {
    Say("the output \"" + outputFolder.substr(0, outputFolder.size() - 1) + "\" is a file, not a folder");
    return 1;
  }
  fs::create_directories(outputFolder, ec);
  if (!IsFolder(outputFolder)) {
    Say("cannot create the output folder \"" + outputFolder + "\"" +
        (ec ? ": " + ec.message() : std::string()));
    return 1;
  }
  if (access(outputFolder.c_str(), W_OK) != 0) {
    Say("cannot write into the output folder \"" + outputFolder + "\"");
    return 1;
  }

  TCoder_engine engine;
  LoadFormatOptions(Store, engine);
  const TFormatReading reading = ReadFormatCommandLine(format, Line, Store, engine);
  if (DebugMode) std::fprintf(stderr, "%s\n", reading.DebugMessage.c_str());
  if (!reading.Error.empty()) {
    Say(reading.Error);
    return 1;
  }

  TConsoleProgress progress;
  if (Parsed.Quiet) progress.Enabled = false;
  engine.Reset();
  engine.SetSourceList(&sources.List());
  engine.SetDestinationFormat(format);
  engine.SetDestinationFolder(outputFolder);
  engine.SetPreprocessOptions(preprocess);
  engine.SameAsSource = false;
  engine.CreateFullPath = options.CreateFullPath;
  engine.KeepPartial = options.KeepPartial || program.KeepPartial;
  engine.Preprocess = general.Preprocess;
  engine.ThreadCount = program.SimpleParallelFiles || Parsed.ParallelGiven ? Parsed.ParallelFiles
                                                                           : ThreadCountFor(program, format);
  if (DebugMode) Say("converting " + std::to_string(engine.ThreadCount) + " at once");
  engine.OnProgress = [&progress](const TProgressRec &rec) { progress.Show(rec); };

  int status;
  try {
    TSignalWatcher watcher(engine);
    const int result = engine.Run();
    progress.Finish();
    if (result == 2) {
      Say("cancelled: " + RunCounts(engine, false));
      status = 2;
    } else {
      if (!Parsed.Quiet)
        Say(ConvertedSummary(engine.ConvertedCount, engine.FileCount()) + " converted into " +
            engine.GetDestinationFolder());
      status = 0;
    }
  } catch (const std::exception &e) {
    progress.Finish();
    if (std::string(e.what()) == CoderEngineError) {
      // Which files failed and why, in the user's language; then the details.
      for (const TThreadErrorRec &failure : engine.Failures) Say(FailureLine(failure));
      Say(text_details + ":");
      std::string text = engine.ErrorText;
      for (size_t at; (at = text.find("\r\n")) != std::string::npos;) {
        std::fprintf(stderr, "%s\n", text.substr(0, at).c_str());
        text.erase(0, at + 2);
      }
      for (const TThreadErrorRec &failure : engine.Failures) {
        const std::string explanation = Explain(failure.ErrorMessage);
        if (!explanation.empty())
          Say(failure.CurrentInputFileName + ": " + failure.ErrorMessage + explanation);
      }
      Say(RunCounts(engine, true));
    } else {
      Say(e.what());
    }
    status = 1;
  }
  // Sources converted only as far as they decoded; they change no exit status.
  for (const TThreadWarningRec &warning : engine.Warnings) Say("warning: " + WarningText(warning));
  // What could not be read was not converted: the run did not do all it was asked.
  if (status == 0 && !sources.Unreadable.empty()) {
    Say("some input folders could not be read (named above)");
    status = 1;
  }
  return status;
}
