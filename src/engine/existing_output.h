// Outputs a run may leave alone: with "skip existing", an output already
// written by an earlier run is not converted again. Outputs only ever get
// their names complete (see partial_output.h), so a file under an output's
// name is a finished one; its age tells whether its source changed since.
#pragma once

#include <string>

// True when Output is a regular file (links not followed) modified after
// Source: an earlier run wrote it from the source as it is now.
bool OutputIsCurrent(const std::string &Output, const std::string &Source);
