#include "data/OracleDialect.h"

#include "data/DbError.h"
#include "data/SqlLexer.h"

#include <QRegularExpression>
#include <QSet>

namespace oracle {
namespace {

using sqllex::Kind;
using sqllex::Token;

std::vector<Token> codeTokens(const std::vector<Token>& tokens) {
    std::vector<Token> code;
    for (const Token& t : tokens)
        if (t.isCode())
            code.push_back(t);
    return code;
}

// Matches the leading words of a statement, "public" allowed after the first.
bool startsWith(const std::vector<Token>& code, std::initializer_list<const char*> words,
                size_t* next) {
    size_t i = 0;
    bool first = true;
    for (const char* w : words) {
        if (!first && i < code.size() && code[i].isWord("public"))
            ++i;
        if (i >= code.size() || !code[i].isWord(w))
            return false;
        ++i;
        first = false;
    }
    *next = i;
    return true;
}

bool isName(const Token& t) {
    return t.kind == Kind::Word || t.kind == Kind::QuotedIdent;
}

QString nameOf(const Token& t) {
    return t.kind == Kind::Word ? t.text : sqllex::unquote(t);
}

// A link's schema as PostgreSQL reads it: a plain lower-case name as it is,
// any other quoted.
QString schemaName(const QString& link) {
    static const QRegularExpression plain(QStringLiteral("^[a-z_][a-z0-9_$]*$"));
    const QString lower = link.toLower();
    return plain.match(lower).hasMatch() ? lower : sqllex::quoteIdentifier(lower);
}

const QString LinkName = QStringLiteral("tulmina_link_name");
const QString LinkUser = QStringLiteral("tulmina_link_user");
const QString LinkPassword = QStringLiteral("tulmina_link_password");

Translation createLink(const std::vector<Token>& code, size_t i) {
    auto word = [&](const char* w) { return i < code.size() && code[i++].isWord(w); };
    auto name = [&]() -> const Token* {
        return i < code.size() && isName(code[i]) ? &code[i++] : nullptr;
    };
    const Token* link = name();
    const bool connectTo = word("connect") && word("to");
    const Token* user = name();
    const bool identifiedBy = word("identified") && word("by");
    const Token* password = name();
    const bool usingAlias = word("using") && i < code.size() && code[i].kind == Kind::String;
    if (!link || !connectTo || !user || !identifiedBy || !password || !usingAlias ||
        i + 1 != code.size())
        throw DbError(QStringLiteral("Команда создания связи с базой данных записана неверно"),
                      QStringLiteral("42601"));
    // The link goes where the server's fixed link goes: the alias is the
    // server's to decide, not a workstation's.
    Translation t;
    t.secret = sqllex::unquote(*password);
    t.link = LinkAction::Create;
    t.linkName = nameOf(*link).toLower();
    t.sql = QStringLiteral("select tulmina_link.create_link(:%1, :%2, :%3)")
                .arg(LinkName, LinkUser, LinkPassword);
    t.values = {{LinkName, nameOf(*link)}, {LinkUser, nameOf(*user)}, {LinkPassword, t.secret}};
    return t;
}

Translation dropLink(const std::vector<Token>& code, size_t i) {
    if (i + 1 != code.size() || !isName(code[i]))
        throw DbError(QStringLiteral("Команда удаления связи с базой данных записана неверно"),
                      QStringLiteral("42601"));
    Translation t;
    t.link = LinkAction::Drop;
    t.linkName = nameOf(code[i]).toLower();
    t.sql = QStringLiteral("select tulmina_link.drop_link(:%1)").arg(LinkName);
    t.values = {{LinkName, nameOf(code[i])}};
    return t;
}

const QSet<QString>& clauseWords() {
    static const QSet<QString> words{"where",  "order",   "group",   "having", "union", "intersect",
                                     "except", "minus",   "connect", "start",  "limit", "fetch",
                                     "offset", "join",    "inner",   "left",   "right", "full",
                                     "cross",  "natural", "for"};
    return words;
}

// Index of the next code token after position k, or -1.
qsizetype nextCode(const std::vector<Token>& tokens, size_t k) {
    for (size_t j = k + 1; j < tokens.size(); ++j)
        if (tokens[j].isCode())
            return qsizetype(j);
    return -1;
}

qsizetype prevCode(const std::vector<Token>& tokens, size_t k) {
    for (size_t j = k; j-- > 0;)
        if (tokens[j].isCode())
            return qsizetype(j);
    return -1;
}

bool needsAlias(const std::vector<Token>& tokens, size_t closing) {
    const qsizetype n = nextCode(tokens, closing);
    if (n < 0)
        return true;
    const Token& t = tokens[size_t(n)];
    if (t.kind == Kind::Word)
        return clauseWords().contains(t.text.toLower());
    return t.kind == Kind::Symbol;
}

Translation rewriteQuery(const std::vector<Token>& tokens) {
    Translation t;
    std::vector<bool> subqueryInFrom; // one entry per open parenthesis
    int aliases = 0;
    for (size_t k = 0; k < tokens.size(); ++k) {
        const Token& tok = tokens[k];
        // Everything a link reads was made with the link: its tables stand in
        // the schema of the link's name.
        if (tok.kind == Kind::Word && k + 2 < tokens.size() && tokens[k + 1].text == "@" &&
            tokens[k + 2].kind == Kind::Word) {
            t.sql += schemaName(tokens[k + 2].text) + u'.' + tok.text.toLower();
            k += 2;
            continue;
        }
        if (tok.isWord("sysdate")) {
            const qsizetype p = prevCode(tokens, k);
            if (p < 0 || tokens[size_t(p)].text != ".") {
                t.sql += QLatin1String("localtimestamp(0)");
                continue;
            }
        }
        if (tok.kind == Kind::Symbol && tok.text == "(") {
            const qsizetype p = prevCode(tokens, k);
            const qsizetype n = nextCode(tokens, k);
            subqueryInFrom.push_back(
                p >= 0 && n >= 0 &&
                (tokens[size_t(p)].isWord("from") || tokens[size_t(p)].isWord("join")) &&
                tokens[size_t(n)].isWord("select"));
        } else if (tok.kind == Kind::Symbol && tok.text == ")" && !subqueryInFrom.empty()) {
            const bool inFrom = subqueryInFrom.back();
            subqueryInFrom.pop_back();
            if (inFrom && needsAlias(tokens, k)) {
                t.sql += QStringLiteral(") subquery_%1").arg(++aliases);
                continue;
            }
        }
        t.sql += tok.text;
    }
    return t;
}

} // namespace

Translation translate(const QString& oracleSql) {
    const std::vector<Token> tokens = sqllex::tokenize(oracleSql);
    const std::vector<Token> code = codeTokens(tokens);
    size_t next = 0;
    if (startsWith(code, {"create", "database", "link"}, &next))
        return createLink(code, next);
    if (startsWith(code, {"drop", "database", "link"}, &next))
        return dropLink(code, next);
    return rewriteQuery(tokens);
}

} // namespace oracle
