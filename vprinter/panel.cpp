#include "vprinter/panel.h"

#include <sstream>

namespace vprinter {

namespace {

struct Key {
    const char* name;
    const char* yes;
    const char* no;
    void (*apply)(Device&, bool);
    bool (*read)(const Physical&);
    // As a person sees it: what it is, what its positions mean, their names,
    // and whether `yes` is the position of a printer ready to print.
    const char* label;
    const char* hint;
    const char* yesName;
    const char* noName;
    bool readyYes;
};

// In the order a change is applied: the online button comes last so that it
// sees the cover and paper of the same change.
const Key KEYS[] = {
    { "power", "on", "off", [](Device& d, bool v) { d.setPower(v); }, [](const Physical& p) { return p.power; },
        "Power switch", "", "on", "off", true },
    { "connected", "yes", "no", [](Device& d, bool v) { d.setConnected(v); },
        [](const Physical& p) { return p.connected; }, "Cable", "", "plugged in", "unplugged", true },
    { "cover", "open", "closed", [](Device& d, bool v) { d.setCover(v); },
        [](const Physical& p) { return p.coverOpen; }, "Cover", "open: offline, and an error latches", "open", "closed",
        false },
    { "paper", "in", "out", [](Device& d, bool v) { d.setPaper(v); }, [](const Physical& p) { return p.paperIn; },
        "Paper roll", "out: offline, and an error latches", "in", "out", true },
    { "tof", "in", "out", [](Device& d, bool v) { d.setSlipTOF(v); }, [](const Physical& p) { return p.slipTOF; },
        "Slip TOF sensor", "", "paper", "no paper", false },
    { "bof", "in", "out", [](Device& d, bool v) { d.setSlipBOF(v); }, [](const Physical& p) { return p.slipBOF; },
        "Slip BOF sensor", "", "paper", "no paper", false },
    { "cof", "in", "out", [](Device& d, bool v) { d.setSlipCOF(v); }, [](const Physical& p) { return p.slipCOF; },
        "Slip COF sensor", "", "paper", "no paper", false },
    { "validation", "in", "out", [](Device& d, bool v) { d.setValidationPaper(v); },
        [](const Physical& p) { return p.validationPaper; }, "Validation paper", "", "in", "out", false },
    // A key that takes the printer offline by hand. The lamp says OFFLINE for
    // an open cover or no paper too, so the key is named by its own position.
    { "online", "yes", "no", [](Device& d, bool v) { d.pressOnline(v); },
        [](const Physical& p) { return p.onlineButton; }, "Online key",
        "online also clears a latched error once its cause is gone", "online", "offline", true },
};
const size_t KEY_COUNT = sizeof KEYS / sizeof KEYS[0];

std::string knownKeys()
{
    std::string text;
    for (const Key& key : KEYS) {
        if (!text.empty()) text += ' ';
        text += std::string(key.name) + "=" + key.yes + "|" + key.no;
    }
    return text;
}

const char* HELP = "words: key=value ... (applied together), status, help, quit\n";

} // namespace

const std::vector<ControlName>& panelControls()
{
    static const std::vector<ControlName> controls = [] {
        std::vector<ControlName> list;
        for (const Key& key : KEYS) {
            ControlName::Position yes = { key.yes, key.yesName };
            ControlName::Position no = { key.no, key.noName };
            list.push_back({ key.name, key.label, key.hint, { key.readyYes ? yes : no, key.readyYes ? no : yes } });
        }
        return list;
    }();
    return controls;
}

std::vector<std::string> splitWords(const std::string& text)
{
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
}

bool applyAssignments(Device& device, const std::vector<std::string>& words, std::string* error)
{
    // -1: not mentioned; otherwise the value, the last mention winning.
    int wanted[KEY_COUNT];
    for (int& w : wanted) w = -1;
    for (const std::string& word : words) {
        size_t equals = word.find('=');
        std::string name = word.substr(0, equals);
        std::string value = equals == std::string::npos ? std::string() : word.substr(equals + 1);
        size_t k = 0;
        while (k < KEY_COUNT && name != KEYS[k].name) ++k;
        if (k == KEY_COUNT || equals == std::string::npos) {
            if (error) *error = "unknown setting '" + word + "'; known: " + knownKeys();
            return false;
        }
        if (value == KEYS[k].yes) {
            wanted[k] = 1;
        } else if (value == KEYS[k].no) {
            wanted[k] = 0;
        } else {
            if (error) *error = "bad value in '" + word + "'; use " + KEYS[k].yes + " or " + KEYS[k].no;
            return false;
        }
    }
    for (size_t k = 0; k < KEY_COUNT; ++k) {
        if (wanted[k] >= 0) KEYS[k].apply(device, wanted[k] == 1);
    }
    return true;
}

std::vector<std::pair<std::string, std::string>> describeState(const Device& device)
{
    std::vector<std::pair<std::string, std::string>> state;
    for (const Key& key : KEYS) state.emplace_back(key.name, key.read(device.physical()) ? key.yes : key.no);
    state.emplace_back("offline", device.offline() ? "yes" : "no");
    state.emplace_back("error", device.errorLatched() ? "yes" : "no");
    state.emplace_back("bytes", std::to_string(device.bytesReceived()));
    state.emplace_back("last", device.lastCommand());
    state.emplace_back("resets", std::to_string(device.resets()));
    return state;
}

std::string stateLine(const Device& device)
{
    std::string line = "panel:";
    for (const auto& [key, value] : describeState(device)) line += " " + key + "=" + value;
    return line;
}

std::string consoleLine(Device& device, const std::string& line, bool* quit)
{
    std::vector<std::string> words = splitWords(line);
    if (words.empty()) return "";
    if (words.size() == 1 && words[0] == "quit") {
        *quit = true;
        return "";
    }
    if (words.size() == 1 && words[0] == "help") return HELP + ("keys: " + knownKeys() + "\n");
    if (words.size() == 1 && words[0] == "status") return stateLine(device) + "\n";
    std::string error;
    if (!applyAssignments(device, words, &error)) return "error: " + error + "\n";
    return "";
}

} // namespace vprinter
