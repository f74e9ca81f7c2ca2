// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "app/settings.h"
#include "encoders/format.h"
#include "engine/beside_files.h"
#include "engine/name_pattern.h"

namespace {

std::string Lower(std::string text) {
  for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The switches that take no value: each sets its flag.
struct TFlagSwitch {
  const char *Name;
  bool TCommandLineOptions::*Flag;
};
const TFlagSwitch kFlagSwitches[] = {
    {"/createfullpath", &TCommandLineOptions::CreateFullPath}, {"/keeppartial", &TCommandLineOptions::KeepPartial},
    {"/keepgoing", &TCommandLineOptions::KeepGoing},           {"/skipexisting", &TCommandLineOptions::SkipExisting},
    {"/hiddentrack", &TCommandLineOptions::HiddenTrack},       {"/ownpregaps", &TCommandLineOptions::OwnPregaps},
    {"/notags", &TCommandLineOptions::NoTags},                 {"/verify", &TCommandLineOptions::Verify},
    {"/nospread", &TCommandLineOptions::NoSpread},
    {"/copyfiles", &TCommandLineOptions::CopyFiles},
    {"/replaygain", &TCommandLineOptions::ReplayGain},
    {"/mirror", &TCommandLineOptions::Mirror},
    {"/dryrun", &TCommandLineOptions::DryRun}};

const TFlagSwitch *FlagSwitch(const std::string &Lowered) {
  for (const TFlagSwitch &flag : kFlagSwitches)
    if (Lowered == flag.Name) return &flag;
  return nullptr;
}

// The other switches.
// Besides the keys of the encoders, which their rows list.
const char *const kSwitches[] = {"/input", "/output", "/dest", "/q", "/p", "/debug", "/sendto", "/names"};

bool IsEncoderKey(const std::string &LowerArgument) {
  for (const TFormatRow *row : FormatRows()) {
    for (const char *key : row->Keys)
      if (LowerArgument == "/" + Lower(key)) return true;
    for (const TKeyHelp &help : row->KeyHelp)
      if (LowerArgument == "/" + Lower(help.Key)) return true;
  }
  return false;
}

bool ParseCount(const std::string &text, int32_t &value) {
  if (text.empty() || text.size() > 6 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return false;
  value = std::stoi(text);
  return true;
}

// Each format's keys with what they take, from the format rows.
std::string EncoderKeysText() {
  std::string text = "Encoder keys, after /dest FORMAT (a key not given keeps the setting chosen\n"
                     "last in the window):\n";
  for (const TFormatRow *row : FormatRows()) {
    if (row->KeyHelp.empty()) continue;
    text += "  " + Lower(row->Name) + (row->CreateCoder ? "" : " (no encoder in this build)") + ":\n";
    for (const TKeyHelp &key : row->KeyHelp) {
      std::string name = "/" + Lower(key.Key);
      for (const TOptionField &field : row->Fields)
        if (key.Field && std::string(field.StoredName) == key.Field)
          name += " " + std::to_string(field.Min) + ".." + std::to_string(field.Max);
      text += "    " + name + std::string(name.size() < 22 ? 22 - name.size() : 1, ' ') + key.Values + "\n";
    }
  }
  return text;
}

}  // namespace

std::string ExpandHome(const std::string &Path) {
  if (Path.empty() || Path[0] != '~') return Path;
  const size_t slash = Path.find('/');
  const std::string user = Path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
  std::string home;
  if (user.empty()) {
    if (const char *env = std::getenv("HOME"); env && *env) {
      home = env;
    } else if (const passwd *entry = getpwuid(getuid())) {
      home = entry->pw_dir;
    }
  } else if (const passwd *entry = getpwnam(user.c_str())) {
    home = entry->pw_dir;
  }
  // As in a shell, an unknown user leaves the word as it is.
  if (home.empty()) return Path;
  return slash == std::string::npos ? home : home + Path.substr(slash);
}

bool IsSwitch(const std::string &Argument) {
  const std::string lower = Lower(Argument);
  return FlagSwitch(lower) || IsEncoderKey(lower) ||
         std::any_of(std::begin(kSwitches), std::end(kSwitches), [&](const char *s) { return lower == s; });
}

bool TCommandLine::HasParam(const std::string &Key) const {
  const std::string wanted = "/" + Lower(Key);
  return std::any_of(Args.begin(), Args.end(), [&](const std::string &a) { return Lower(a) == wanted; });
}

std::string TCommandLine::GetParamValue(const std::string &Key, const std::string &Default) const {
  const std::string wanted = "/" + Lower(Key);
  std::string value;
  for (size_t i = 0; i < Args.size(); ++i)
    if (Lower(Args[i]) == wanted) value = i + 1 < Args.size() ? Args[i + 1] : std::string();
  return value.empty() ? Default : value;
}

TDestinationFormat DestinationFromSwitch(const std::string &Value) {
  const std::string v = Lower(Value);
  for (const TFormatRow *row : FormatRows())
    if (v == Lower(row->Name)) return row->Code;
  return 0;
}

TParsedCommandLine ParseCommandLine(const std::vector<std::string> &Args) {
  TParsedCommandLine r;
  for (const std::string &a : Args) {
    if (a == "--help" || a == "-h") r.Help = true;
    if (a == "--version") r.Version = true;
  }
  if (r.Help || r.Version) return r;
  // With fewer than two arguments nothing happens ("/DEBUG" alone only debugs).
  if (Args.size() < 2) return r;

  if (Lower(Args[0]) == "/sendto") {
    r.Mode = TParsedCommandLine::mSendTo;
    r.SendToPaths.assign(Args.begin() + 1, Args.end());
    return r;
  }

  r.SwitchMode = true;
  r.Arguments = Args;
  r.ReportErrors = false;
  r.ParallelFiles = 1;
  TCommandLineOptions &o = r.Options;
  auto valueAfter = [&](size_t i) -> const std::string * {
    return i + 1 < Args.size() && !IsSwitch(Args[i + 1]) ? &Args[i + 1] : nullptr;
  };
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string a = Lower(Args[i]);
    if (const TFlagSwitch *flag = FlagSwitch(a)) {
      o.*(flag->Flag) = true;
      // Nothing but its value can follow "/copyfiles" without a switch between.
      if (flag->Flag == &TCommandLineOptions::CopyFiles)
        if (const std::string *v = valueAfter(i)) {
          o.CopyPatterns = *v;
          if (const std::string error = PatternListError(*v); !error.empty()) r.Errors.push_back("/copyfiles: " + error);
        }
    } else if (a == "/input") {
      // A shell expands an unquoted pattern: every argument up to the next switch is an input.
      for (size_t j = i + 1; j < Args.size() && !IsSwitch(Args[j]); ++j)
        o.InputPaths.push_back(ExpandHome(Args[j]));
      if (o.InputPaths.empty()) r.Errors.push_back("/input needs a file, a folder or a pattern");
    } else if (a == "/output") {
      // An empty value (an unset variable in a script) names no folder.
      if (const std::string *v = valueAfter(i); v && !v->empty()) {
        o.OutputFolder = ExpandHome(*v);
        if (o.OutputFolder.back() != '/') o.OutputFolder += '/';
      } else {
        r.Errors.push_back("/output needs a folder");
      }
    } else if (a == "/dest") {
      const std::string *v = valueAfter(i);
      o.DestinationFormat = v ? DestinationFromSwitch(*v) : 0;
      if (!o.DestinationFormat) r.UnknownDestination = v ? *v : "";
    } else if (a == "/q") {
      r.Quiet = true;
    } else if (a == "/names") {
      o.Names = true;
      if (const std::string *v = valueAfter(i)) o.NamePattern = *v;
    } else if (a == "/p") {
      r.ParallelGiven = true;
      const std::string *v = valueAfter(i);
      if (!v || !ParseCount(*v, r.ParallelFiles) || r.ParallelFiles < 1)
        r.Errors.push_back("/p needs the number of files to convert at once (1 or more), not \"" +
                           (v ? *v : std::string()) + "\"");
    }
  }
  if (!o.OutputFolder.empty()) r.Mode = TParsedCommandLine::mBatch;
  return r;
}

namespace {

// The names "/dest" takes, in the order of the codes.
std::string FormatKeyList() {
  std::string list;
  for (const TFormatRow *row : FormatRowsByCode())
    if (row->CreateCoder) list += (list.empty() ? "" : ", ") + Lower(row->Name);
  return list;
}

// The formats /verify checks: those lossless with some or all of their settings.
std::string LosslessList() {
  std::string list;
  for (const TFormatRow *row : FormatRowsByCode())
    if (row->CreateCoder && row->Lossless) list += (list.empty() ? "" : ", ") + std::string(row->Name);
  return list;
}

}  // namespace

std::string UsageText() {
  return "Usage:\n"
         "  tonmill                          open the window\n"
         "  tonmill /sendto PATH...          open the window with these files and folders\n"
         "  tonmill [/DEBUG] /input INPUT... /output FOLDER [/dest FORMAT] [/p N]\n"
         "          [/createfullpath] [/keeppartial] [/keepgoing] [/skipexisting]\n"
         "          [/hiddentrack] [/ownpregaps] [/notags] [/verify] [/nospread]\n"
         "          [/copyfiles [PATTERNS]] [/names [PATTERN]]\n"
         "          [/replaygain]\n"
         "          [/mirror [/dryrun]]\n"
         "          [/q] [encoder keys]\n"
         "                                   convert without a window, then exit\n"
         "\n"
         "INPUT is a file, a folder (searched with its sub-folders) or a quoted pattern\n"
         "such as '~/Music/*.flac' (a leading ~ is the home folder). FORMAT is one of\n" +
         FormatKeyList() +
         "\n(default: the format chosen last in the window). /p N converts N files at once (without /p: 1, or the counts\n"
         "of the advanced parallel mode when it is chosen). /createfullpath rebuilds\n"
         "each source's folder path under FOLDER: from the home folder for a source\n"
         "under it (~/Music/Live/a.flac goes into FOLDER/Music/Live/), otherwise from\n"
         "the root. /keeppartial keeps the shorter files of a stopped run (they are\n"
         "removed otherwise). /keepgoing converts everything\n"
         "it can past a failed file and lists every failure at the end. /skipexisting\n"
         "leaves alone the complete outputs newer than their sources (others are\n"
         "converted again), so an interrupted run resumes. /hiddentrack keeps the audio before a CUE sheet's\n"
         "track 1 as track 00 (\"Hidden track\"). /ownpregaps starts each track at its\n"
         "INDEX 00, so a pregap belongs to its own track rather than to the one\n"
         "before. /notags writes into the outputs only the tags their encoders write\n"
         "(without it every output carries the source's tags and cover in its\n"
         "format's own tags). /verify decodes every lossless output (" + LosslessList() + ")\n"
         "again before it takes its name and fails the job unless it gives\n"
         "exactly the samples its encoder was given (lossy outputs are not checked).\n"
         "/nospread encodes each file on its own worker only (without it, when a run\n"
         "has fewer files than workers, the spare workers encode spans of a file too:\n"
         "FLAC, APE and WavPack outputs decode the same either way, MP3, AAC and Opus\n"
         "spans are joined gaplessly; Ogg Vorbis and WMA stay one piece, as Vorbis\n"
         "switches block sizes and the WMA encoder gives no packets, and so do AAC at\n"
         "a set bitrate and constrained-VBR Opus, whose rate control looks further\n"
         "back than a span's lead).\n"
         "/copyfiles copies, once the files are converted, each source folder's cover\n"
         "images (cover.*, folder.*, front.*, or its only picture) beside the outputs\n"
         "made from it, and the files matching PATTERNS, the argument after it unless\n"
         "that is a switch: a quoted list such as '*.log *.txt *.pdf' (without it the\n"
         "list chosen last in the window). Only into folders that get the outputs of\n"
         "one source folder (with /createfullpath); never over a file as new or newer.\n"
         "/replaygain measures each output's loudness while converting (EBU R128) and\n"
         "writes ReplayGain 2.0 track gain and peak into its tags (R128_TRACK_GAIN for\n"
         "Opus); the tracks of one CUE sheet, or the files of one folder, converted\n"
         "whole in one run, also get their album's gain and peak.\n"
         "/names PATTERN names each output and its folders below FOLDER from its tags\n"
         "(without PATTERN: the one stored in the window, by default\n"
         "'" + std::string(kDefaultNamePattern) + "'). \"/\" makes a folder; the fields are\n" +
         std::string(kNameFields) + "\n"
         "(<track> has two digits; <name> is the source's name without extension,\n"
         "<folder> the name of its folder). A CUE sheet's tracks take the sheet's\n"
         "tags. Characters FAT and NTFS refuse (/ \\ : * ? \" < > |) become \"_\"; an\n"
         "empty field becomes a word such as \"Unknown artist\" (a title the source's\n"
         "name, a track 00); two outputs of one name are numbered.\n"
         "/mirror keeps FOLDER a mirror of the inputs: each output keeps its source's\n"
         "place below the input folder named (INPUT/Artist/a.flac goes into\n"
         "FOLDER/Artist/), complete outputs newer than their sources are left alone,\n"
         "new and changed sources are converted, and the outputs it wrote earlier whose\n"
         "source is gone are removed; what it wrote is listed in FOLDER/.tonmill-mirror,\n"
         "and nothing else there is ever removed. /dryrun, with /mirror, lists what the\n"
         "mirror would convert and remove, one line each, and changes nothing.\n"
         "/q keeps the terminal quiet apart from failures.\n"
         "/DEBUG shows the encoder parameters and makes the encoders write no audio.\n"
         "\n"
         "Exit status: 0 every file converted, 1 the run failed or found no supported\n"
         "input, 2 cancelled (Ctrl-C).\n"
         "\n" +
         EncoderKeysText();
}
