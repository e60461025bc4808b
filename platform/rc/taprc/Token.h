// Tokens of a resource script after preprocessing.
#pragma once

#include <cstdint>
#include <string>

#include "Diagnostics.h"

namespace tap::rc {

enum class TokenKind { Identifier, Number, String, Punct, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;        // identifier or punctuator spelling; source spelling of a number
    uint32_t number = 0;     // value of a Number
    std::u16string string;   // decoded value of a String, in UTF-16
    SourceLocation where;

    bool Is(TokenKind k, const char* spelling) const { return kind == k && text == spelling; }
    bool IsPunct(const char* spelling) const { return Is(TokenKind::Punct, spelling); }
    // Keywords of the script language are not case sensitive.
    bool IsKeyword(const char* keyword) const;
};

} // namespace tap::rc
