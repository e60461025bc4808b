// The script of `tapbench run`: one command a line, words separated by blanks, "double quotes"
// around a word with blanks (\" and \\ inside), # starting a comment outside quotes (but not
// #<digits>, which names a control).
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace tapbench {

struct ScenarioLine {
    int number = 0;                  // 1-based line of the script
    std::vector<std::string> words;  // never empty
    std::string text;                // the line as written, comment and outer blanks removed
};

// Reads a script. On a malformed line (an unterminated quote) returns nothing and sets `error`
// to "line N: ...".
std::optional<std::vector<ScenarioLine>> ParseScenario(std::istream &in, std::string &error);

// Splits one line into words; nothing on an unterminated quote.
std::optional<std::vector<std::string>> SplitWords(const std::string &line, std::string *comment = nullptr);

} // namespace tapbench
