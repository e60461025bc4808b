#include "Scenario.h"

#include <cctype>

namespace tapbench {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string Trimmed(const std::string &text)
{
    size_t first = 0;
    while (first < text.size() && IsBlank(text[first])) {
        ++first;
    }
    size_t last = text.size();
    while (last > first && IsBlank(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

} // namespace

std::optional<std::vector<std::string>> SplitWords(const std::string &line, std::string *code)
{
    std::vector<std::string> words;
    size_t at = 0;
    size_t end = line.size();  // where the comment starts
    while (at < line.size()) {
        if (IsBlank(line[at])) {
            ++at;
            continue;
        }
        // '#' starts a comment, except as the start of a control's name: #1017.
        if (line[at] == '#' && !(at + 1 < line.size() && std::isdigit(static_cast<unsigned char>(line[at + 1])))) {
            end = at;
            break;
        }
        std::string word;
        if (line[at] == '"') {
            ++at;
            bool closed = false;
            while (at < line.size()) {
                char c = line[at++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && at < line.size() && (line[at] == '"' || line[at] == '\\')) {
                    c = line[at++];
                }
                word += c;
            }
            if (!closed) {
                return std::nullopt;
            }
        } else {
            while (at < line.size() && !IsBlank(line[at])) {
                word += line[at++];
            }
        }
        words.push_back(word);
    }
    if (code) {
        *code = Trimmed(line.substr(0, end));
    }
    return words;
}

std::optional<std::vector<ScenarioLine>> ParseScenario(std::istream &in, std::string &error)
{
    std::vector<ScenarioLine> lines;
    std::string text;
    int number = 0;
    while (std::getline(in, text)) {
        ++number;
        ScenarioLine line;
        line.number = number;
        std::optional<std::vector<std::string>> words = SplitWords(text, &line.text);
        if (!words) {
            error = "line " + std::to_string(number) + ": unterminated quote";
            return std::nullopt;
        }
        if (words->empty()) {
            continue;
        }
        line.words = std::move(*words);
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace tapbench
