// SPDX-License-Identifier: GPL-3.0-or-later
// Where each output goes and what it is called.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/misc.h"

// The placement settings of a run.
struct TOutputPlacement {
  std::string DestinationFolder;  // ends with "/"
  bool SameAsSource = false;      // next to each source
  bool CreateFullPath = false;    // under a copy of each source's folder path
};

// The folder (ending with "/") for the outputs of `Source`; in the full-path
// mode the source's folder is rebuilt under the destination, relative to the
// home folder ($HOME) when the source is under it, else relative to the root,
// and the folders are created. Raises when a folder cannot be created.
std::string GetOutputFolder(const std::string &Source, const TOutputPlacement &Placement);

// The part of the source's folder the full-path mode rebuilds under the
// destination; "" for a source right in the home folder or the root.
std::string FullPathRest(const std::string &Source);

// Checks, before a run, that outputs can be written into Folder: creates it
// (and its parents) when missing, then makes and removes a hidden file in it.
// 0 when it can be written, else the system's error number.
int DestinationError(const std::string &Folder);

// The deepest folder holding both folders (each ending with "/"); B when A is "".
std::string CommonFolder(const std::string &A, const std::string &B);

// Folder + the base name of `Name` + Extension. With AvoidExisting, a name
// whose file exists becomes "<name>_001.<ext>", "_002", ... until free. A name
// held by anything but a regular file (a folder, a pipe, a device), or for
// which IsReserved answers true (a source of the run, or an output another job
// already got), is numbered the same way in every mode: outputs are regular
// files, and no job ever writes over a source or over another job's output.
// So is a name whose hidden file (PartialFileName) exists: another run is
// writing that output; unless PlainName, when only the plain name counts (a
// run that skips existing outputs waits for the other run instead). A name
// longer than kOutputNameMax bytes is cut to fit (FitFileName), its extension
// and number kept.
std::string MakeOutputName(const std::string &Folder, const std::string &Name,
                           const std::string &Extension, bool AvoidExisting,
                           const std::function<bool(const std::string &)> &IsReserved = {},
                           bool PlainName = false);

// "%.2d - %s.xxx": the name of a track or piece, before MakeOutputName.
std::string TrackOutputName(int32_t TrackNumber, const std::string &Title);

// Raises "Assert failed : destination = <code>" for a code outside 1..8.
void CheckDestinationFormat(int Format);
