// SPDX-License-Identifier: GPL-3.0-or-later
// A library mirror: the destination keeps each input folder's tree, and a
// list in its root (the manifest) records every output the program wrote
// there, so that outputs whose source is gone can be removed later. Nothing
// the list does not name is ever removed, nor a named file that is no longer
// what the program wrote.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// The manifest's name in the destination's root.
constexpr const char *MirrorManifestName = ".tonmill-mirror";

// One output of the mirror. Size and MTime (nanoseconds) are what the file was
// when the program last saw it complete (Size -1: never). PendingSince, when
// not 0, is when a run set out to write it (nanoseconds, a little early): a
// file there written since then is the program's too, which covers a run
// killed after the output took its name but before the list was saved.
struct TMirrorEntry {
  std::string Source;  // absolute
  std::string Output;  // relative to the destination
  int64_t Size = -1;
  int64_t MTime = 0;
  int64_t PendingSince = 0;
};

struct TMirrorManifest {
  std::vector<TMirrorEntry> Entries;
  bool Found = false;    // a manifest was there
  bool Damaged = false;  // ... but not one this program can read: nothing is removed by it
};

// What a mirror does with the recorded entries, given this run's outputs.
struct TMirrorPlan {
  // One entry per output of the run, in its order (pending since Now unless
  // it was already), then the recorded ones carried over.
  std::vector<TMirrorEntry> Kept;
  // Recorded outputs whose source is gone, or under a name another source's
  // output now takes (whose entry in Kept still covers the file there); each
  // is removed if it is still what was written.
  std::vector<TMirrorEntry> Removals;
};
// Outputs: source and output of each job. Idle: sources of the run that give
// no job this time (unreadable now): their outputs are carried over as they are.
TMirrorPlan PlanMirrorEntries(const std::vector<TMirrorEntry> &Recorded, const std::vector<TMirrorEntry> &Outputs,
                              const std::set<std::string> &Idle, int64_t Now);

// Reads the manifest of Destination (a folder ending with "/").
TMirrorManifest ReadMirrorManifest(const std::string &Destination);
// Writes it through a temporary name and a rename, so a kill leaves the old
// list or the new one, never half of one. Raises when it cannot be written.
void WriteMirrorManifest(const std::string &Destination, const std::vector<TMirrorEntry> &Entries);
// Removes temporary manifests a killed run left behind.
void RemoveLeftManifests(const std::string &Destination);

// The folder (ending with "/") of Source's output: its folder relative to the
// outermost of Roots (folders ending with "/") that holds it, under Destination;
// with no root holding it, relative to the home folder (or the root) as the
// full-path mode places outputs.
std::string MirrorOutputFolder(const std::string &Source, const std::vector<std::string> &Roots,
                               const std::string &Destination);
// Makes Folder with its parents; raises when it cannot.
void MakeMirrorFolder(const std::string &Folder);

// True when the file at Path is still the output Entry records: a regular
// file (not a link) of the recorded size and time, or one written since the
// entry's run set out to write it.
bool StillMirrorOutput(const std::string &Path, const TMirrorEntry &Entry);
// True when Path's folder, links resolved, lies in Destination (a folder of
// the destination replaced by a link to elsewhere leads out of it).
bool InsideMirror(const std::string &Path, const std::string &Destination);
// Records the file at Path as the entry's complete output; false when there
// is no regular file.
bool RecordMirrorOutput(const std::string &Path, TMirrorEntry &Entry);
// Removes the output at Path, then the folders it leaves empty up to (not
// including) Destination. False (errno set) when the file could not be removed.
bool RemoveMirrorOutput(const std::string &Path, const std::string &Destination);
// Now, in the nanoseconds of file times, a little early to allow for the
// coarser clock the file system stamps files with.
int64_t MirrorPendingTime();

// Path, relative to Destination ("" when it does not lie under it).
std::string MirrorRelative(const std::string &Path, const std::string &Destination);
