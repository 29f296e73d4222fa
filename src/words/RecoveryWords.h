#pragma once
// The one-line problems of a recovery, as both front ends show them in their
// reports and beside a file whose copy ended short.

#include "recovery/Extraction.h"
#include "recovery/RecoveryRun.h"

#include <string>

namespace tamsin::words {

// The problem of an extraction result, or empty when there is none.
std::string describeProblem(const ExtractResult& result);

// The problem of a recovery report's row.
std::string problemText(const RecoveryProblem& problem);

} // namespace tamsin::words
