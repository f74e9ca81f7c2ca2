// SPDX-License-Identifier: GPL-3.0-or-later
// Outputs under construction. A job writes under a hidden name of its own in
// the destination folder ("." + the output's name + ".tonmill-part") and gives
// the file its real name only once it is complete, so nothing under an
// output's name is ever a file cut short. While a job writes, its process
// holds a lock on the file, which tells a live run's file from one a killed
// run left behind.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>

// Bytes of one file name on Linux file systems.
constexpr size_t kFileNameMax = 255;
// Bytes of an output's name: one less, for the letter a companion file adds
// (WavPack's ".wvc" beside its ".wv").
constexpr size_t kOutputNameMax = kFileNameMax - 1;

// Name + Tail (a file name without folder), at most Limit bytes: a Name too
// long for that is cut on a whole UTF-8 character and marked with a checksum
// of the whole of it, so names cut alike stay apart and the same name is
// always cut the same way.
std::string FitFileName(const std::string &Name, const std::string &Tail, size_t Limit = kFileNameMax);

// The hidden name an output is written under, in the output's own folder.
std::string PartialFileName(const std::string &OutputFileName);
// True for a file-name part (no folder) of the pattern PartialFileName makes.
bool IsPartialFileName(const std::string &FileNamePart);

// A file by device and inode; empty (0, 0) when there is no regular file.
struct TFileIdentity {
  uint64_t Device = 0, Inode = 0;
  explicit operator bool() const { return Device || Inode; }
  auto operator<=>(const TFileIdentity &) const = default;
};
// The regular file under Path (links not followed), or an empty identity.
TFileIdentity RegularFileIdentity(const std::string &Path);

// The hidden files the workers of this process hold at the moment. Any thread.
class TPartialFiles {
 public:
  // Runs Make, which creates the file Name, and registers Name; false, with
  // nothing made, once RemoveAll has run.
  bool Add(const std::string &Name, const std::function<void()> &Make);
  void Remove(const std::string &Name);
  // Removes every file held and lets no more be made: for a program that
  // ends at once. An encoder opening its file in that instant may still leave
  // one, which the next run into the folder removes.
  void RemoveAll();

 private:
  std::mutex Lock;
  std::set<std::string> Names;
  bool Closed = false;
};

// Removes the hidden files of our pattern in Folder that no running process
// holds: what a killed run left. Only regular files, never one of Keep.
// Returns how many were removed.
int RemoveLeftPartials(const std::string &Folder, const std::set<TFileIdentity> &Keep = {});

// Waits while a running process holds the hidden file Name (another run writing
// that output), asking Stopped between looks. Returns 1 after a wait, 0 when
// no process held it, -1 when Stopped ended the wait.
int WaitWhileHeld(const std::string &Name, const std::function<bool()> &Stopped);

// One output under construction, owned by its worker.
class TPartialOutput {
 public:
  // Registry may be null.
  TPartialOutput(const std::string &OutputFileName, TPartialFiles *Registry);
  ~TPartialOutput();  // a file neither completed nor discarded is discarded
  TPartialOutput(const TPartialOutput &) = delete;
  TPartialOutput &operator=(const TPartialOutput &) = delete;

  const std::string &Name() const { return Hidden; }
  // Creates the hidden file, new and empty, and holds it. Raises
  // "Cannot create file "<output>". <reason>".
  void Create();
  // The same, but false, with nothing made, when the hidden file exists
  // already: another run writes this output, or left its file behind.
  bool CreateUnlessTaken();
  bool Created() const { return Fd >= 0; }
  // Gives the complete file the output's name and returns the name it got.
  // Nothing found there is replaced but Replaces, the file that was there when
  // the job was named; anything else that has appeared since sends the file on
  // to the next free "_001" name; with ReplaceAny, whatever regular file is
  // there is replaced (skipping existing outputs, the plain name is the one
  // that counts). Raises when the file cannot be renamed.
  std::string Complete(const TFileIdentity &Replaces, bool ReplaceAny = false);
  // Gives the complete file the name Target, replacing what is there: for a
  // second file that follows its output's name.
  void CompleteAs(const std::string &Target);
  // Removes the hidden file (only ours), if it is still there.
  void Discard();

 private:
  void Release();
  void Sync();
  void CloseFile();
  std::string Output, Hidden;
  TPartialFiles *Registry;
  int Fd = -1;  // holds the lock while the file is ours
  TFileIdentity Ours;
};
