#include "operator/record/test_record.h"

#include <algorithm>

#include "runner/stderr_lines.h"

namespace vpop {

namespace {

void keepBoundedIn(std::string& kept, uint64_t& dropped, std::string_view text)
{
    size_t room = MAX_CONSOLE_BYTES - std::min(kept.size(), MAX_CONSOLE_BYTES);
    kept.append(text.substr(0, room));
    dropped += text.size() - std::min(text.size(), room);
}

} // namespace

void keepFailure(std::vector<std::string>& lines, uint64_t& dropped, std::string line)
{
    if (lines.size() < MAX_FAILURE_LINES) {
        lines.push_back(std::move(line));
    } else {
        ++dropped;
    }
}

void TestRecord::addConsole(std::string_view text) { keepBoundedIn(console, consoleDropped, text); }

void TestRecord::addStderr(std::string_view text) { keepBoundedIn(stderrText, stderrBytesDropped, text); }

void keepBounded(std::string& kept, uint64_t& dropped, std::string_view text) { keepBoundedIn(kept, dropped, text); }

void TestRecord::addAnswer(FailureAnswer answer)
{
    if (answers.size() < MAX_FAILURE_LINES) {
        answers.push_back(std::move(answer));
    } else {
        ++answersDropped;
    }
}

std::vector<std::string> failureLinesWithAnswers(const TestRecord& record)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < std::max(record.failures.size(), record.answers.size()); ++i) {
        if (i < record.failures.size()) out.push_back(record.failures[i]);
        if (i < record.answers.size()) out.push_back(answerLine(record.answers[i]));
    }
    if (record.failuresDropped > 0)
        out.push_back("(" + std::to_string(record.failuresDropped) + " more failure lines not kept)");
    if (record.answersDropped > 0)
        out.push_back("(" + std::to_string(record.answersDropped) + " more answers not kept)");
    return out;
}

std::string answerLine(const FailureAnswer& answer)
{
    return std::string(STDERR_ANSWER_PREFIX) + answer.check + "): " + answer.answer;
}

} // namespace vpop
