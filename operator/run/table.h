// The table of tests, verdicts and times on the console: each row the moment
// its test ends, the rest and the summary when the run is over.
#pragma once

#include "operator/record/records.h"
#include "operator/run/session.h"

namespace vpop {

class Table {
public:
    // Rows between devbench's own lines (a manual run) stand out as notes.
    explicit Table(bool amidConsole = false)
        : amidConsole_(amidConsole)
    {
    }

    // A test that ended in order.
    void row(const TestRecord& record);
    // The rows not shown yet (all of them when `complete`), the summary with
    // the run's verdict, and the failure lines.
    void finish(const RunRecord& record, bool complete = false);

private:
    void head();
    void printRow(const TestRecord& record);

    bool amidConsole_;
    bool headed_ = false;
};

// The whole table at once.
void printTable(const RunRecord& record);

} // namespace vpop
