#include "wire/nearest_name.h"

#include <algorithm>

namespace wire {

namespace {

// Optimal string alignment: a swap of neighbours counts as one slip.
size_t editDistance(const std::string& a, const std::string& b)
{
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({ d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change });
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

} // namespace

std::string nearestName(const std::string& word, const std::vector<std::string>& known)
{
    // Leading dashes are no letters of the name: "--x" is one letter long.
    size_t letters = word.size() - std::min(word.find_first_not_of('-'), word.size());
    // Two slips at most, and fewer in a short word, where two would turn
    // anything into anything.
    size_t allowed = std::min<size_t>(2, letters / 3);
    std::string best;
    size_t bestDistance = allowed + 1;
    for (const std::string& name : known) {
        size_t distance = editDistance(word, name);
        // A name cut short ("--verb") is a slip of its own kind.
        if (letters >= 3 && name.size() > word.size() && name.compare(0, word.size(), word) == 0) distance = 1;
        if (distance < bestDistance) {
            best = name;
            bestDistance = distance;
        }
    }
    return best;
}

std::string unknownName(const std::string& kind, const std::string& word, const std::vector<std::string>& known)
{
    std::string message = "unknown " + kind + " " + word;
    std::string nearest = nearestName(word, known);
    if (!nearest.empty()) message += " (did you mean " + nearest + "?)";
    return message;
}

} // namespace wire
