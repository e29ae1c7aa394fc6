#include "operator/record/paper_check.h"

#include <algorithm>
#include <map>

#include "wire/sha256.h"

namespace vpop {

namespace {

using Bytes = std::vector<unsigned char>;

// What the tests send, built here from the payloads' definitions rather than
// taken from devbench's own code: a payload devbench got wrong shows up on the
// paper too, instead of being compared with itself.

const size_t BULK_SIZE = 10240;
const size_t BULK_MARK_SPACING = 1024;

// Zero bytes, but 0x07 at every 1024th.
Bytes bulkPayload()
{
    Bytes bytes(BULK_SIZE, 0x00);
    for (size_t i = 0; i < bytes.size(); i += BULK_MARK_SPACING) bytes[i] = 0x07;
    return bytes;
}

const size_t RASTER_ROWS = 1600;
const unsigned char RASTER_ROW_DATA = 72;
const size_t RASTER_TRAILING_ZEROS = 75;

// ESC * r R, ESC * r A, 1,600 rows of 'b' 72 0 and 72 bytes of 0xFF, ESC FF
// NUL, ESC * r B, ten 0x07 and 75 zero bytes: 120,100 bytes.
Bytes rasterJob()
{
    Bytes bytes = { 0x1B, 0x2A, 0x72, 0x52, 0x1B, 0x2A, 0x72, 0x41 };
    for (size_t row = 0; row < RASTER_ROWS; ++row) {
        bytes.insert(bytes.end(), { 0x62, RASTER_ROW_DATA, 0x00 });
        bytes.insert(bytes.end(), RASTER_ROW_DATA, 0xFF);
    }
    bytes.insert(bytes.end(), { 0x1B, 0x0C, 0x00, 0x1B, 0x2A, 0x72, 0x42 });
    bytes.insert(bytes.end(), 10, 0x07);
    bytes.insert(bytes.end(), RASTER_TRAILING_ZEROS, 0x00);
    return bytes;
}

const size_t ASCII_SIZE = 10000;
const size_t ASCII_LINE = 40;

// A line feed, then lines of 39 'X', the last of 38 'X' and its line feed.
Bytes asciiJob()
{
    Bytes bytes(ASCII_SIZE);
    for (size_t i = 0; i < ASCII_SIZE; ++i) bytes[i] = i % ASCII_LINE == 0 ? 0x0A : 'X';
    bytes[ASCII_SIZE - 1] = 0x0A;
    return bytes;
}

// ESC # * LF, and the terminating zero.
const Bytes firmwareQuery = { 0x1B, 0x23, 0x2A, 0x0A, 0x00 };
// ESC K 1 0: the printer recovers from its error.
const Bytes escK = { 0x1B, 0x4B, 0x01, 0x00 };
// ESC + A 3 and six line feeds.
const Bytes validation = { 0x1B, 0x2B, 0x41, 0x33, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A };

SentJob sent(std::string_view what, const Bytes& bytes)
{
    return { what, bytes.size(), wire::sha256Hex(bytes.data(), bytes.size()) };
}

// A port session opening, a checked block beginning or ending and a reset
// each start a new job on the paper, so every payload below is a job of its
// own. Test Write Offline Timeout and the disconnect tests are not here: an
// offline or unplugged printer may take part of a payload or none, as the
// suite allows, and how a library lives through the unplugging decides how
// the rest falls into jobs.
const std::map<unsigned, std::vector<SentJob>>& sentTable()
{
    static const std::map<unsigned, std::vector<SentJob>> table = [] {
        SentJob bulk = sent("the bulk payload", bulkPayload());
        SentJob raster = sent("the raster job", rasterJob());
        SentJob ascii = sent("the ASCII job", asciiJob());
        SentJob query = sent("the firmware query", firmwareQuery);
        SentJob recover = sent("the ESC K command", escK);
        SentJob validate = sent("the validation command", validation);
        return std::map<unsigned, std::vector<SentJob>> {
            { 3, { bulk } },
            { 6, { query } },
            { 12, { recover } },
            { 13, { recover } },
            { 15, { validate } },
            { 16, { recover } },
            // One job in each of the two blocks.
            { 18, { raster, raster } },
            { 19, { ascii, ascii } },
            { 20, { raster } },
        };
    }();
    return table;
}

// Enough of a digest to tell two apart; the record holds the paper's in full.
std::string shortDigest(const std::string& sha256) { return sha256.substr(0, 16); }

std::string describe(const PaperJob& job)
{
    return "job " + std::to_string(job.number) + " (" + std::to_string(job.size) + " bytes, sha256 "
        + shortDigest(job.sha256) + ")";
}

std::string describe(const SentJob& job)
{
    return std::string(job.what) + " (" + std::to_string(job.size) + " bytes, sha256 " + shortDigest(job.sha256) + ")";
}

} // namespace

const std::vector<unsigned char>& rasterJobBytes()
{
    static const Bytes bytes = rasterJob();
    return bytes;
}

const std::vector<SentJob>* sentJobs(unsigned test)
{
    auto it = sentTable().find(test);
    return it == sentTable().end() ? nullptr : &it->second;
}

std::vector<std::string> comparePaper(unsigned test, const std::vector<PaperJob>& paper)
{
    std::vector<std::string> findings;
    const std::vector<SentJob>* sentByTest = sentJobs(test);
    if (sentByTest == nullptr) return findings;
    const std::vector<SentJob>& sent = *sentByTest;
    auto differs = [&](const std::string& detail) { findings.push_back(std::string(paperDiffers) + ": " + detail); };
    for (size_t i = 0; i < std::max(sent.size(), paper.size()); ++i) {
        if (i >= paper.size()) {
            differs("no job on the paper for " + describe(sent[i]));
        } else if (i >= sent.size()) {
            differs(describe(paper[i]) + " is more than the test sent");
        } else if (paper[i].size != sent[i].size || paper[i].sha256 != sent[i].sha256) {
            differs(describe(paper[i]) + " is not " + describe(sent[i]));
        }
    }
    return findings;
}

void judgePaper(TestRecord& record, std::optional<std::vector<PaperJob>> paper, const std::string& why)
{
    record.paper = std::move(paper);
    // devbench-extended's jobs are judged by the questions it asks.
    if (record.suite != Suite::Devbench || !record.failures.empty() || sentJobs(record.number) == nullptr) return;
    if (!record.paper) {
        record.findings.push_back(std::string(findingPrefix) + "cannot read the paper: " + why);
        return;
    }
    record.paperChecked = true;
    std::vector<std::string> findings = comparePaper(record.number, *record.paper);
    record.findings.insert(record.findings.end(), findings.begin(), findings.end());
}

std::string_view findingHeadline(std::string_view finding)
{
    size_t colon = finding.find(": ", findingPrefix.size());
    return finding.substr(0, colon);
}

} // namespace vpop
