// Integer expressions of resource scripts and of #if lines, with C precedence, evaluated in 32-bit
// unsigned arithmetic as the resource compilers do (so -1 is 0xFFFFFFFF).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Token.h"

namespace tap::rc {

// Value of an identifier that is left after macro replacement, or nullopt if it has none.
using IdentifierValue = std::function<std::optional<uint32_t>(const Token&)>;

class ExpressionReader {
public:
    ExpressionReader(const std::vector<Token>& tokens, size_t& position, IdentifierValue resolve);

    // A whole expression, down to the lowest precedence (||).
    uint32_t Full();
    // An expression without a top-level '|': one term of a style list such as A | NOT B.
    uint32_t Term();

private:
    uint32_t Binary(int level);
    uint32_t Unary();
    uint32_t Primary();
    const Token& Peek() const { return tokens_[position_]; }
    const Token& Next() { return tokens_[position_++]; }

    const std::vector<Token>& tokens_;
    size_t& position_;
    IdentifierValue resolve_;
};

} // namespace tap::rc
