// SPDX-License-Identifier: GPL-3.0-or-later
// A failed job told plainly: which file, reading or writing, and why, in the
// chosen language; the technical record stays beneath as the details.
#pragma once

#include <string>
#include <vector>

#include "base/misc.h"

// Fills in why the output could not be written: from the system's error
// (LastFileError, when the failure had one), else from the state of the
// output's folder. Call before the unfinished output is removed: a full disk
// has room again once it is gone.
void DiagnoseWriting(TThreadErrorRec &Error, int Errno);
// Fills in why the source could not be read: from the source's state, and
// from the decoding library's code when it could not be opened (Seconds < 0),
// else it is damaged at Seconds, where decoding broke off.
void DiagnoseReading(TThreadErrorRec &Error, int BassCode, double Seconds);

// Why: "it is damaged at 1:23.", in the chosen language.
std::string ReasonText(const TThreadErrorRec &Error);
// Why a folder cannot be written into, from the system's error number: in
// the chosen language when it is one of the usual reasons, else the system's text.
std::string WritingReason(int Errno);

// "Could not read “/in/b.flac”: it is damaged at 1:23."
std::string FailureLine(const TThreadErrorRec &Error);
// The technical line of a failure, without its empty fields.
std::string FailureDetails(const TThreadErrorRec &Error);
// The plain line of every failure, then the "Details" heading and `Details`.
std::string FailureReport(const std::vector<TThreadErrorRec> &Failures, const std::string &Details);
