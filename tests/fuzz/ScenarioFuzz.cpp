// libFuzzer target: the scenario script of `tapbench run` on arbitrary text - the line and word
// parser, and the readers of the words commands take (numbers, points, hex bytes). Invariants:
//   - a script is either refused with "line N: unterminated quote" naming one of its lines, or
//     read as lines numbered upwards, each with at least one word;
//   - every word, quoted as the transcript writes it, reads back as itself, and a line's words
//     quoted and joined read back as the same words;
//   - a reader either gives a value or refuses with a ScenarioError: a number is the word's exact
//     value, a point's coordinates are the numbers written.
#include "Scenario.h"
#include "run/Words.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>

namespace {

[[noreturn]] void Broken(const char *what, const std::string &detail)
{
    std::fprintf(stderr, "fuzz: %s: [%s]\n", what, detail.c_str());
    std::abort();
}

template <typename Read>
void Refused(const std::string &word, Read read)
{
    try {
        read();
    } catch (const tapbench::ScenarioError &) {
    } catch (const std::exception &error) {
        Broken("a word reader threw something other than a ScenarioError", word + "] " + error.what());
    }
}

void CheckWords(const std::vector<std::string> &words)
{
    std::string joined;
    for (const std::string &word : words) {
        std::optional<std::vector<std::string>> again = tapbench::SplitWords(tapbench::QuotedText(word));
        if (!again || again->size() != 1 || (*again)[0] != word) {
            Broken("a quoted word does not read back as itself", word);
        }
        joined += tapbench::QuotedText(word) + " ";
        Refused(word, [&] { tapbench::Number(word, "fuzz"); });
        Refused(word, [&] { tapbench::HexBytes(word); });
        Refused(word, [&] {
            int64_t value = tapbench::Number(word, "x");
            tapmachine::PixelPoint point = tapbench::Point(word, word);
            if (point.x != value || point.y != value) {
                Broken("a point does not hold the numbers written", word);
            }
        });
    }
    std::optional<std::vector<std::string>> again = tapbench::SplitWords(joined);
    if (!again || *again != words) {
        Broken("a line's quoted words do not read back as the same words", joined);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    std::istringstream in(text);
    std::string error;
    std::optional<std::vector<tapbench::ScenarioLine>> lines;
    try {
        lines = tapbench::ParseScenario(in, error);
    } catch (const std::exception &thrown) {
        Broken("the script parser threw", thrown.what());
    }
    int count = 0;
    for (char c : text) {
        count += c == '\n';
    }
    ++count;
    if (!lines) {
        int line = 0;
        if (std::sscanf(error.c_str(), "line %d: unterminated quote", &line) != 1 || line < 1 || line > count) {
            Broken("a refusal does not name one of the script's lines", error);
        }
        return 0;
    }
    int previous = 0;
    for (const tapbench::ScenarioLine &line : *lines) {
        if (line.words.empty() || line.number <= previous || line.number > count) {
            Broken("a script line without words, or out of order", line.text);
        }
        previous = line.number;
        CheckWords(line.words);
    }
    return 0;
}
