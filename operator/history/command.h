// `vpoperator history`: puts run records into the lab's history and answers
// its questions, each in one command.
#pragma once

#include <string>
#include <vector>

#include "operator/record/records.h"

namespace vpop::history {

// The arguments after "history"; returns the exit status.
int historyCommand(const std::vector<std::string>& arguments);

// Before a run that is to be added (--history): the store opens and can be
// written, so a mistyped --db stops the run before it starts.
bool checkStore(const std::string& db, std::string* error);
// After it: adds the run, saying so; false (said on standard error) when it
// could not be added.
bool addAfterRun(const RunRecord& record, const std::string& db);

} // namespace vpop::history
