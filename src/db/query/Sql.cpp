#include "Sql.h"

#include <vector>

namespace tarnvik {

namespace {

struct Token
{
    enum Kind { Word, Name, String, Punct, End } kind;
    QString text;
    qsizetype pos;
};

bool isNameStart(QChar c) { return c.isLetter() || c == u'_'; }
bool isNameChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

bool tokenize(QStringView sql, std::vector<Token> *out, QString *error)
{
    qsizetype i = 0;
    while (i < sql.size()) {
        const QChar c = sql[i];
        if (c.isSpace()) {
            ++i;
        } else if (isNameStart(c)) {
            const qsizetype start = i;
            while (i < sql.size() && isNameChar(sql[i]))
                ++i;
            out->push_back({Token::Word, sql.mid(start, i - start).toString(), start});
        } else if (c == u'[') {
            const qsizetype start = i++;
            const qsizetype close = sql.indexOf(u']', i);
            if (close < 0 || close == i) {
                *error = QStringLiteral("Neuzavřený nebo prázdný název v hranatých závorkách na pozici %1.").arg(start + 1);
                return false;
            }
            out->push_back({Token::Name, sql.mid(i, close - i).toString(), start});
            i = close + 1;
        } else if (c == u'\'') {
            const qsizetype start = i++;
            QString text;
            bool closed = false;
            while (i < sql.size()) {
                if (sql[i] == u'\'') {
                    if (i + 1 < sql.size() && sql[i + 1] == u'\'') {
                        text += u'\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                text += sql[i++];
            }
            if (!closed) {
                *error = QStringLiteral("Neuzavřený text v apostrofech na pozici %1.").arg(start + 1);
                return false;
            }
            out->push_back({Token::String, text, start});
        } else if (c == u'(' || c == u')' || c == u'*' || c == u',' || c == u';') {
            out->push_back({Token::Punct, QString(c), i});
            ++i;
        } else {
            *error = QStringLiteral("Nečekaný znak „%1“ na pozici %2.").arg(c).arg(i + 1);
            return false;
        }
    }
    out->push_back({Token::End, QString(), sql.size()});
    return true;
}

class Parser
{
public:
    Parser(const std::vector<Token> &tokens, QString *error) : m_t(tokens), m_error(error) {}

    bool keyword(const char *word)
    {
        const Token &t = m_t[m_i];
        if (t.kind == Token::Word && t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0) {
            ++m_i;
            return true;
        }
        return fail(QStringLiteral("Očekáváno „%1“").arg(QLatin1String(word)));
    }
    bool punct(QChar p)
    {
        const Token &t = m_t[m_i];
        if (t.kind == Token::Punct && t.text == p) {
            ++m_i;
            return true;
        }
        return fail(QStringLiteral("Očekáváno „%1“").arg(p));
    }
    bool name(QString *out)
    {
        const Token &t = m_t[m_i];
        if (t.kind == Token::Name || (t.kind == Token::Word && !isReserved(t.text))) {
            *out = t.text;
            ++m_i;
            return true;
        }
        return fail(QStringLiteral("Očekáván název"));
    }
    bool string(QString *out)
    {
        const Token &t = m_t[m_i];
        if (t.kind == Token::String) {
            *out = t.text;
            ++m_i;
            return true;
        }
        return fail(QStringLiteral("Očekáván text v apostrofech"));
    }
    bool peekKeyword(const char *word) const
    {
        const Token &t = m_t[m_i];
        return t.kind == Token::Word && t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }
    bool end()
    {
        if (m_t[m_i].kind == Token::Punct && m_t[m_i].text == u';')
            ++m_i;
        if (m_t[m_i].kind == Token::End)
            return true;
        return fail(QStringLiteral("Nečekané pokračování příkazu"));
    }

private:
    static bool isReserved(const QString &w)
    {
        static const char *const words[] = {"select", "count", "as", "from", "where", "like", "order", "by"};
        for (const char *k : words) {
            if (w.compare(QLatin1String(k), Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }
    bool fail(const QString &what)
    {
        if (m_error->isEmpty()) {
            *m_error = QStringLiteral("%1 na pozici %2; podporovány jsou jen dotazy "
                          "„select count(*) as … from … where … like '…'“ a "
                          "„select …,… from … where … like '…' order by …“.")
                           .arg(what)
                           .arg(m_t[m_i].pos + 1);
        }
        return false;
    }

    const std::vector<Token> &m_t;
    size_t m_i = 0;
    QString *m_error;
};

} // namespace

std::optional<Statement> parseStatement(QStringView sql, QString *error)
{
    QString localError;
    QString &err = error ? *error : localError;
    err.clear();
    std::vector<Token> tokens;
    if (!tokenize(sql, &tokens, &err))
        return std::nullopt;
    Parser p(tokens, &err);
    Statement s;
    if (!p.keyword("select"))
        return std::nullopt;
    if (p.peekKeyword("count")) {
        s.kind = Statement::Count;
        if (!p.keyword("count") || !p.punct(u'(') || !p.punct(u'*') || !p.punct(u')') || !p.keyword("as")
            || !p.name(&s.countAlias))
            return std::nullopt;
    } else {
        s.kind = Statement::Select;
        QString a, b;
        if (!p.name(&a) || !p.punct(u',') || !p.name(&b))
            return std::nullopt;
        s.fields = {a, b};
    }
    if (!p.keyword("from") || !p.name(&s.table) || !p.keyword("where") || !p.name(&s.likeField)
        || !p.keyword("like") || !p.string(&s.pattern))
        return std::nullopt;
    if (s.kind == Statement::Select) {
        if (!p.keyword("order") || !p.keyword("by") || !p.name(&s.orderField))
            return std::nullopt;
    }
    if (!p.end())
        return std::nullopt;
    return s;
}

QString sqlName(QStringView name)
{
    bool bare = !name.isEmpty() && isNameStart(name[0]);
    for (QChar c : name)
        bare = bare && isNameChar(c);
    static const char *const reserved[] = {"select", "count", "as", "from", "where", "like", "order", "by"};
    for (const char *k : reserved)
        bare = bare && name.compare(QLatin1String(k), Qt::CaseInsensitive) != 0;
    return bare ? name.toString() : u'[' + name.toString() + u']';
}

QString quotedPrefixPattern(QStringView typed)
{
    QString out;
    out.reserve(typed.size() + 4);
    out += u'\'';
    for (QChar c : typed) {
        out += c;
        if (c == u'\'')
            out += u'\'';
    }
    out += QLatin1String("*'");
    return out;
}

QString countStatement(QStringView table, QStringView in, QStringView typed)
{
    return QLatin1String("select count(*) as ") + kCountAlias + QLatin1String(" from ") + sqlName(table)
        + QLatin1String(" where ") + sqlName(in) + QLatin1String(" like ") + quotedPrefixPattern(typed);
}

QString selectStatement(QStringView table, QStringView in, QStringView out, QStringView typed)
{
    return QLatin1String("select ") + sqlName(in) + u',' + sqlName(out) + QLatin1String(" from ") + sqlName(table)
        + QLatin1String(" where ") + sqlName(in) + QLatin1String(" like ") + quotedPrefixPattern(typed)
        + QLatin1String(" order by ") + sqlName(in);
}

} // namespace tarnvik
