#include "Expression.h"

#include <array>

namespace tap::rc {
namespace {

// Binary operators from the lowest precedence level to the highest.
const std::array<std::vector<const char*>, 10> kLevels = {{
    {"||"},
    {"&&"},
    {"|"},
    {"^"},
    {"&"},
    {"==", "!="},
    {"<", ">", "<=", ">="},
    {"<<", ">>"},
    {"+", "-"},
    {"*", "/", "%"},
}};
constexpr int kBitOrLevel = 2;

uint32_t Apply(const Token& op, uint32_t a, uint32_t b)
{
    const std::string& o = op.text;
    if (o == "||") return (a || b) ? 1 : 0;
    if (o == "&&") return (a && b) ? 1 : 0;
    if (o == "|") return a | b;
    if (o == "^") return a ^ b;
    if (o == "&") return a & b;
    if (o == "==") return a == b ? 1 : 0;
    if (o == "!=") return a != b ? 1 : 0;
    if (o == "<") return static_cast<int32_t>(a) < static_cast<int32_t>(b) ? 1 : 0;
    if (o == ">") return static_cast<int32_t>(a) > static_cast<int32_t>(b) ? 1 : 0;
    if (o == "<=") return static_cast<int32_t>(a) <= static_cast<int32_t>(b) ? 1 : 0;
    if (o == ">=") return static_cast<int32_t>(a) >= static_cast<int32_t>(b) ? 1 : 0;
    if (o == "<<") return a << (b & 31);
    if (o == ">>") return a >> (b & 31);
    if (o == "+") return a + b;
    if (o == "-") return a - b;
    if (o == "*") return a * b;
    if (b == 0) {
        throw CompileError(op.where, "division by zero in expression");
    }
    return o == "/" ? a / b : a % b;
}

} // namespace

ExpressionReader::ExpressionReader(const std::vector<Token>& tokens, size_t& position,
                                   IdentifierValue resolve)
    : tokens_(tokens), position_(position), resolve_(std::move(resolve))
{
}

uint32_t ExpressionReader::Full()
{
    return Binary(0);
}

uint32_t ExpressionReader::Term()
{
    return Binary(kBitOrLevel + 1);
}

uint32_t ExpressionReader::Binary(int level)
{
    if (level == static_cast<int>(kLevels.size())) {
        return Unary();
    }
    uint32_t value = Binary(level + 1);
    for (;;) {
        const Token& op = Peek();
        bool matches = false;
        for (const char* spelling : kLevels[level]) {
            matches = matches || op.IsPunct(spelling);
        }
        if (!matches) {
            return value;
        }
        Next();
        value = Apply(op, value, Binary(level + 1));
    }
}

uint32_t ExpressionReader::Unary()
{
    const Token& t = Peek();
    if (t.IsPunct("-")) {
        Next();
        return 0u - Unary();
    }
    if (t.IsPunct("+")) {
        Next();
        return Unary();
    }
    if (t.IsPunct("~")) {
        Next();
        return ~Unary();
    }
    if (t.IsPunct("!")) {
        Next();
        return Unary() == 0 ? 1 : 0;
    }
    return Primary();
}

uint32_t ExpressionReader::Primary()
{
    const Token& t = Next();
    if (t.kind == TokenKind::Number) {
        return t.number;
    }
    if (t.IsPunct("(")) {
        uint32_t value = Full();
        if (!Peek().IsPunct(")")) {
            throw CompileError(Peek().where, "expected ')' in expression");
        }
        Next();
        return value;
    }
    if (t.kind == TokenKind::Identifier) {
        if (std::optional<uint32_t> value = resolve_(t)) {
            return *value;
        }
        throw CompileError(t.where, "undefined symbol '" + t.text + "'");
    }
    throw CompileError(t.where, t.kind == TokenKind::End ? "unexpected end of script in expression"
                                                         : "expected a number, found '" + t.text + "'");
}

} // namespace tap::rc
