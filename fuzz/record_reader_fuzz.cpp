// The record reader, with whatever bytes a file holds: it must refuse or
// read without crashing, and a record it reads must write back as itself and
// read again the same; the report of it must be made without a crash too.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "operator/record/json_record.h"
#include "operator/report/html.h"
#include "operator/report/markdown.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vpop::RunRecord record;
    std::string error;
    if (!vpop::parseRecord(std::string(reinterpret_cast<const char*>(data), size), &record, &error)) {
        if (error.empty()) abort();
        return 0;
    }
    std::string written = vpop::jsonRecord(record);
    vpop::RunRecord again;
    if (!vpop::parseRecord(written, &again, &error) || vpop::jsonRecord(again) != written) abort();
    vpop::signoff::ReadRun run { "fuzz.json", again };
    vpop::signoff::htmlReport(run);
    vpop::signoff::markdownReport(run);
    vpop::signoff::htmlComparison({ run, run });
    return 0;
}
