// The two statement shapes the look-up sends to the data control, and the
// builders that make them from typed text without letting it break the quoting.
//   select count(*) as headcount from T where I like 'S*'
//   select I,O from T where I like 'S*' order by I
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tarnvik {

struct Statement
{
    enum Kind { Count, Select };
    Kind kind = Count;
    QString table;
    QString likeField;
    QString pattern;      // unquoted: doubled apostrophes already undone
    QString countAlias;   // Count only
    QStringList fields;   // Select only, in the order listed
    QString orderField;   // Select only
};

// Keywords in any case; names bare or in brackets. Any other SQL is refused.
std::optional<Statement> parseStatement(QStringView sql, QString *error);

// A name as it may stand in a statement: bare when it can, else in brackets.
QString sqlName(QStringView name);

// The quoted LIKE literal for "begins with typed": the typed text, apostrophes
// doubled, then '*'. Wildcards the user typed keep their meaning.
QString quotedPrefixPattern(QStringView typed);

// The count's alias, the field its one row is read by.
inline const QString kCountAlias = QStringLiteral("headcount");
QString countStatement(QStringView table, QStringView in, QStringView typed);
QString selectStatement(QStringView table, QStringView in, QStringView out, QStringView typed);

} // namespace tarnvik
