#include "operator/record/records.h"

#include <iomanip>
#include <random>
#include <sstream>

#include "operator/platform/host.h"
#include "operator/record/firmware_name.h"

namespace vpop {

namespace {

const unsigned testReadNumber = 6;

} // namespace

std::string newRunId()
{
    // The platform's entropy source on both systems (rand_s under MinGW).
    std::random_device source;
    std::string id;
    const char digits[] = "0123456789abcdef";
    for (int word = 0; word < 4; ++word) {
        uint32_t bits = source();
        for (int i = 0; i < 8; ++i, bits >>= 4) id += digits[bits & 15];
    }
    return id;
}

std::optional<std::string> printerFirmware(const RunRecord& record)
{
    for (const RecordedTest& test : record.tests) {
        if (test.result.number != testReadNumber) continue;
        if (std::optional<std::string> name = firmwareName(test.result.console)) return name;
    }
    return std::nullopt;
}

std::string strayStderrText(const RunRecord& record)
{
    if (record.strayStderrDropped == 0) return record.strayStderr;
    return record.strayStderr + "\n(" + std::to_string(record.strayStderrDropped)
        + " more bytes of standard error not kept)\n";
}

std::optional<RecordTime> recordMoment(const std::string& text)
{
    std::tm fields {};
    std::istringstream in(text);
    in >> std::get_time(&fields, "%Y-%m-%dT%H:%M:%S");
    if (in.fail() || in.get() != 'Z' || in.peek() != std::char_traits<char>::eof() || text.size() != 20)
        return std::nullopt;
    std::tm normalised = fields;
    time_t seconds = utcSeconds(&normalised);
    // A day past its month's end moves into the next month.
    if (normalised.tm_mday != fields.tm_mday) return std::nullopt;
    return RecordTime(std::chrono::seconds(seconds));
}

const std::string& profileOf(const RecordedTest& test) { return test.fault.empty() ? test.variation : test.fault; }

std::string profileText(const RecordedTest& test)
{
    if (!test.fault.empty()) return " (fault " + test.fault + ")";
    if (!test.variation.empty()) return " (variation " + test.variation + ")";
    return "";
}

} // namespace vpop
