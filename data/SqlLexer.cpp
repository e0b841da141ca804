#include "data/SqlLexer.h"

#include <QSet>

namespace sqllex {
namespace {

bool isWordStart(QChar c) {
    return c.isLetter() || c == u'_';
}
bool isWordChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'$' || c == u'#';
}

qsizetype endOfQuoted(const QString& s, qsizetype i, QChar quote) {
    ++i;
    while (i < s.size()) {
        if (s[i] == quote) {
            if (i + 1 < s.size() && s[i + 1] == quote) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return s.size();
}

} // namespace

bool Token::isWord(const char* word) const {
    return kind == Kind::Word && text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

std::vector<Token> tokenize(const QString& s) {
    std::vector<Token> tokens;
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n) {
        const QChar c = s[i];
        qsizetype end = i + 1;
        Kind kind = Kind::Symbol;
        if (c.isSpace()) {
            kind = Kind::Space;
            while (end < n && s[end].isSpace())
                ++end;
        } else if (c == u'-' && i + 1 < n && s[i + 1] == u'-') {
            kind = Kind::Comment;
            end = s.indexOf(u'\n', i);
            end = end < 0 ? n : end;
        } else if (c == u'/' && i + 1 < n && s[i + 1] == u'*') {
            kind = Kind::Comment;
            end = s.indexOf(QLatin1String("*/"), i + 2);
            end = end < 0 ? n : end + 2;
        } else if (c == u'\'') {
            kind = Kind::String;
            end = endOfQuoted(s, i, u'\'');
        } else if (c == u'"') {
            kind = Kind::QuotedIdent;
            end = endOfQuoted(s, i, u'"');
        } else if (c == u':' && i + 1 < n && isWordStart(s[i + 1]) &&
                   !(i > 0 && (s[i - 1] == u':' || isWordChar(s[i - 1])))) {
            kind = Kind::Parameter;
            end = i + 2;
            while (end < n && isWordChar(s[end]))
                ++end;
        } else if (isWordStart(c)) {
            kind = Kind::Word;
            while (end < n && isWordChar(s[end]))
                ++end;
        } else if (c.isDigit()) {
            kind = Kind::Number;
            while (end < n && (s[end].isDigit() || s[end] == u'.'))
                ++end;
        }
        tokens.push_back({kind, i, end - i, s.mid(i, end - i)});
        i = end;
    }
    return tokens;
}

QStringList parameterNames(const QString& text) {
    QStringList names;
    QSet<QString> seen; // case-folded: :Name and :NAME are one parameter
    for (const Token& t : tokenize(text)) {
        if (t.kind != Kind::Parameter)
            continue;
        const QString name = t.text.mid(1);
        if (!seen.contains(name.toCaseFolded())) {
            seen.insert(name.toCaseFolded());
            names << name;
        }
    }
    return names;
}

QString unquote(const Token& token) {
    if (token.kind != Kind::String && token.kind != Kind::QuotedIdent)
        return token.text;
    const QChar quote = token.text.front();
    QString inner = token.text.mid(1);
    if (inner.endsWith(quote))
        inner.chop(1);
    return inner.replace(QString(2, quote), QString(quote));
}

QString quoteIdentifier(const QString& name) {
    QString n = name;
    return u'"' + n.replace(u'"', QLatin1String("\"\"")) + u'"';
}

} // namespace sqllex
