// SPDX-License-Identifier: GPL-3.0-or-later
// The program's arguments: "/sendto" with paths, or the batch switches
// ("/input", "/output", "/dest", ...); "/DEBUG" as the first argument.
// Switches are whole arguments compared without regard to case, so they
// cannot be mistaken for absolute paths.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/misc.h"

class TCommandLine {
 public:
  explicit TCommandLine(std::vector<std::string> Args) : Args(std::move(Args)) {}
  // True when some argument is "/" + Key (any case).
  bool HasParam(const std::string &Key) const;
  // The argument after the last "/" + Key; Default when absent or empty.
  std::string GetParamValue(const std::string &Key, const std::string &Default) const;
  const std::vector<std::string> &Arguments() const { return Args; }

 private:
  std::vector<std::string> Args;
};

// The mark of an encoder key that was not given.
constexpr const char *MissingKey = "9999999";

// True for the arguments that are switches of this program.
bool IsSwitch(const std::string &Argument);

struct TCommandLineOptions {
  std::vector<std::string> InputPaths;  // files, folders or patterns with "*" and "?"
  std::string OutputFolder;             // ends with "/"
  TDestinationFormat DestinationFormat = 0;
  bool CreateFullPath = false;
  bool KeepPartial = false;  // "/keeppartial": stopped jobs keep their shorter files
  bool KeepGoing = false;    // "/keepgoing": a failed file stops nothing
  bool SkipExisting = false; // "/skipexisting": outputs newer than their sources are left alone
  bool HiddenTrack = false;  // "/hiddentrack": a sheet's audio before track 1 is track 0
  bool OwnPregaps = false;   // "/ownpregaps": a track starts at its INDEX 00
  bool NoTags = false;       // "/notags": outputs get only the tags their encoders write
  bool Verify = false;       // "/verify": lossless outputs are decoded again and compared
  bool NoSpread = false;     // "/nospread": each file is encoded on its own worker only
  bool CopyFiles = false;    // "/copyfiles": covers and other files copied beside the outputs
  // The pattern list after "/copyfiles" (the argument after it, unless a
  // switch); without one the stored list serves.
  std::optional<std::string> CopyPatterns;
  bool ReplayGain = false;   // "/replaygain": outputs get loudness tags measured while converting
  bool Names = false;        // "/names [PATTERN]": outputs named from their tags
  std::string NamePattern;   // its pattern; "" for the stored one
};

struct TParsedCommandLine {
  enum TMode { mWindow, mSendTo, mBatch } Mode = mWindow;
  TCommandLineOptions Options;
  // Switches were given (not "/sendto"): without "/output" the window still
  // takes "/dest" with its encoder keys and "/p".
  bool SwitchMode = false;
  std::vector<std::string> Arguments;  // as given, for the encoder keys
  std::vector<std::string> SendToPaths;
  bool ReportErrors = true;
  bool Quiet = false;                // "/q": no progress line, no summary
  int32_t ParallelFiles = 1;
  bool ParallelGiven = false;        // "/p" was given: it wins over the stored mode
  std::string UnknownDestination;    // a "/dest" value that names no format
  std::vector<std::string> Errors;   // arguments that cannot be used, explained
  bool Help = false;
  bool Version = false;
};

TParsedCommandLine ParseCommandLine(const std::vector<std::string> &Args);

// "~" or "~/..." as the home folder, "~user/..." as that user's; quoted
// paths reach the program unexpanded by the shell.
std::string ExpandHome(const std::string &Path);

// "mp3" ... "wav" as "/dest" names them; 0 for any other value.
TDestinationFormat DestinationFromSwitch(const std::string &Value);

std::string UsageText();
