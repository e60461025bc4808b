// The preprocessing a resource compiler does before it reads statements: comments, #include of
// headers with #define'd ids, conditional sections, #pragma code_page, and the replacement of
// macro names by their definitions. The result is one token stream for the whole script.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "Token.h"

namespace tap::rc {

struct PreprocessorOptions {
    std::vector<std::string> includeDirs;
    std::map<std::string, std::string> defines;
};

class Preprocessor {
public:
    explicit Preprocessor(PreprocessorOptions options);

    // Tokens of the script at PATH, ending with one End token. Throws CompileError.
    std::vector<Token> Run(const std::string& path);
    // The same for a script given as text (PATH names it in messages and anchors its #includes).
    std::vector<Token> RunText(const std::string& path, const std::string& text);

    // Every file the script read, for the build system's dependency list.
    const std::set<std::string>& FilesRead() const { return filesRead_; }

private:
    struct Conditional {
        bool active;       // this branch's lines are kept
        bool anyTaken;     // some branch of this #if has been taken
        bool parentActive; // the enclosing section is kept
        SourceLocation where;
    };

    void ProcessFile(const std::string& path, const std::string& text, int depth);
    void ProcessDirective(const std::string& body, const SourceLocation& where, int depth);
    void ProcessInclude(const std::string& argument, const SourceLocation& where, int depth);
    void ProcessPragma(const std::string& argument, const SourceLocation& where);
    bool Active() const;
    bool EvaluateCondition(const std::string& expression, const SourceLocation& where);
    std::vector<Token> Expand(const std::vector<Token>& tokens, std::set<std::string>& expanding) const;
    std::string FindInclude(const std::string& name, const std::string& fromFile) const;

    PreprocessorOptions options_;
    std::map<std::string, std::vector<Token>> macros_;
    std::vector<Conditional> conditionals_;
    std::vector<Token> output_;
    std::set<std::string> filesRead_;
    unsigned codePage_ = 1252;
};

// Splits one line of script text into tokens; CODEPAGE decodes the bytes of narrow strings.
std::vector<Token> Tokenize(const std::string& text, const SourceLocation& where, unsigned codePage);

} // namespace tap::rc
