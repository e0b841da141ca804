#pragma once
#include <QString>
#include <QStringList>
#include <vector>

// Splits statement text into tokens, so that rewrites and parameter markers
// are only ever looked for in code, never inside literals or comments.
namespace sqllex {

enum class Kind {
    Word,        // identifier or keyword: letters, digits, _, $, #
    Number,      // a number literal
    String,      // '...' with '' inside
    QuotedIdent, // "..."
    Comment,     // -- to the end of the line, or /* ... */
    Space,       // blanks, tabs, line breaks
    Parameter,   // :name
    Symbol       // any other single character
};

struct Token {
    Kind kind;
    qsizetype pos;
    qsizetype len;
    QString text;
    bool isCode() const { return kind != Kind::Comment && kind != Kind::Space; }
    bool isWord(const char* word) const;
};

std::vector<Token> tokenize(const QString& text);

// Names of the :name markers of the text in order of appearance, each once.
QStringList parameterNames(const QString& text);

// The content of a '...' literal or "..." identifier token, without the quotes.
QString unquote(const Token& token);

// A name as a "..." identifier, with double quotes doubled.
QString quoteIdentifier(const QString& name);

} // namespace sqllex
