// The originals a campaign damages: databases made here with tarnvik-mkdb
// from generated word lists, and the real files of the corpus; with what each
// answers undamaged.
#include "Damage.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTextStream>
#include <random>

namespace tarnvik::damage {

namespace {

QJsonObject toJson(const Outcome &o)
{
    QJsonObject j;
    j[u"ok"] = o.ok;
    if (o.ok)
        j[u"answers"] = QJsonArray::fromStringList(o.answers);
    else
        j[u"message"] = o.message;
    j[u"ms"] = o.ms;
    j[u"rows"] = o.rows;
    return j;
}

Outcome outcomeFrom(const QJsonObject &j)
{
    Outcome o;
    o.ok = j[u"ok"].toBool();
    for (const QJsonValue &v : j[u"answers"].toArray())
        o.answers << v.toString();
    o.message = j[u"message"].toString();
    o.ms = j[u"ms"].toInteger();
    o.rows = j[u"rows"].toInteger(-1);
    return o;
}

// Czech-like words, so that Jet 3 files need their code page and Jet 4 files
// hold characters beyond Latin-1.
class Words
{
public:
    explicit Words(unsigned seed) : m_rng(seed) {}
    QString word(int syllables)
    {
        static const char *const onsets[] = {"", "b", "c", "č", "d", "ď", "h", "ch", "j", "k", "l", "m", "n", "ň",
                                             "p", "r", "ř", "s", "š", "t", "ť", "v", "z", "ž", "st", "kr", "tř"};
        static const char *const vowels[] = {"a", "á", "e", "é", "ě", "i", "í", "o", "u", "ú", "ů", "y", "ý"};
        static const char *const codas[] = {"", "", "n", "k", "t", "s", "l", "m", "r"};
        QString w;
        for (int s = 0; s < syllables; ++s) {
            w += QString::fromUtf8(onsets[m_rng() % std::size(onsets)]);
            w += QString::fromUtf8(vowels[m_rng() % std::size(vowels)]);
            w += QString::fromUtf8(codas[m_rng() % std::size(codas)]);
        }
        return w;
    }
    QString phrase(int minLen, int maxLen)
    {
        const int len = minLen + int(m_rng() % unsigned(maxLen - minLen + 1));
        QString s;
        while (s.size() < len)
            s += (s.isEmpty() ? QString() : QStringLiteral(" ")) + word(1 + int(m_rng() % 3));
        return s.left(len).trimmed();
    }
    unsigned next(unsigned n) { return m_rng() % n; }

private:
    std::mt19937 m_rng;
};

// A table of 'rows' rows; a memo output holds some values too long for Text
// (a few span several long-value pages) so that the field is made Memo.
bool writeTsv(const QString &path, Words &w, int rows, const QString &in, const QString &out, bool memo)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QTextStream ts(&f);
    ts.setEncoding(QStringConverter::Utf8);
    ts << in << '\t' << out << '\n';
    for (int r = 0; r < rows; ++r) {
        QString value;
        if (w.next(40) == 0)
            value = QStringLiteral("\\N");
        else if (memo && (r == 0 || w.next(12) == 0))
            value = w.phrase(300, r % 5 == 0 ? 9000 : 1500);
        else
            value = w.phrase(3, 60);
        ts << w.word(1 + int(w.next(4))) << '\t' << value << '\n';
    }
    return true;
}

struct OwnDatabase
{
    const char *name;
    bool jet3;
    int bigRows, smallRows;
};

bool mkdb(const Settings &s, bool jet3, const QString &file, const QStringList &inputs, QString *error)
{
    QStringList args;
    if (jet3)
        args << QStringLiteral("--jet3") << QStringLiteral("--codepage") << QStringLiteral("1250");
    args << QStringLiteral("--force") << file << inputs;
    QProcess p;
    p.start(s.bin + QStringLiteral("/tarnvik-mkdb"), args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("tarnvik-mkdb failed for %1: %2").arg(file, QString::fromUtf8(p.readAllStandardError()));
        return false;
    }
    return true;
}

// The twin has the same tables and every value as long as in the first, with
// other letters: the same pages, so that only the contents tell the two
// apart when one replaces the other, not the size.
bool twinList(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QString text = QString::fromUtf8(f.readAll());
    const qsizetype header = text.indexOf(u'\n') + 1;
    for (qsizetype i = header; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        text[i] = c == u'a' ? u'o' : c == u'o' ? u'a' : c == u'e' ? u'i' : c == u'i' ? u'e' : text[i];
    }
    f.resize(0);
    return f.write(text.toUtf8()) >= 0;
}

bool makeOwn(const Settings &s, const OwnDatabase &db, unsigned seed, const QString &file, const QString &twin,
             QString *error)
{
    Words w(seed);
    const QString dir = QFileInfo(file).absolutePath();
    const QString a = dir + QStringLiteral("/slovnik.tsv"), b = dir + QStringLiteral("/druhy.tsv");
    if (!writeTsv(a, w, db.bigRows, QStringLiteral("heslo"), QStringLiteral("výklad"), true)
        || !writeTsv(b, w, db.smallRows, QStringLiteral("kód"), QStringLiteral("název"), false)) {
        *error = QStringLiteral("cannot write word lists in %1").arg(dir);
        return false;
    }
    if (!mkdb(s, db.jet3, file, {a, b}, error))
        return false;
    if (!twinList(a) || !twinList(b)) {
        *error = QStringLiteral("cannot rewrite word lists in %1").arg(dir);
        return false;
    }
    if (!mkdb(s, db.jet3, twin, {a, b}, error))
        return false;
    QFile::remove(a);
    QFile::remove(b);
    return true;
}

bool plainPrefix(const QString &p)
{
    for (QChar c : p) {
        if (!c.isLetterOrNumber())
            return false;
    }
    return !p.isEmpty();
}

// What the undamaged file answers, and which of its tables the walk understood.
bool learn(const Settings &s, Original &o, QString *error)
{
    QFile f(o.path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1").arg(o.path);
        return false;
    }
    o.layout = JetLayout::read(f.readAll());
    const ReadLimits limits = campaignLimits(s, s.readTimeoutMs);
    o.tables = verifyTables(o.path, limits);
    o.open = verifyOpen(o.path, limits);
    if (!o.tables.ok) {
        // Our own databases must read: otherwise the campaign would damage nothing.
        if (o.own)
            *error = o.tables.message;
        return !o.own;
    }
    LookupRunner runner;
    const QStringList names = o.tables.answers.value(0).split(u'\x1f', Qt::SkipEmptyParts);
    for (const QString &table : names) {
        QString why;
        const auto fields = MdbFile(o.path, limits).fields(table, &why);
        if (!fields)
            continue;
        Binding b;
        b.table = table;
        for (const FieldInfo &fi : *fields) {
            if (fi.type != 10 && fi.type != 12)
                continue;
            if (b.in.isEmpty())
                b.in = fi.name;
            else if (b.out.isEmpty())
                b.out = fi.name;
        }
        if (b.in.isEmpty())
            continue;
        if (b.out.isEmpty())
            b.out = b.in;
        b.fields = verifyFields(o.path, table, limits);
        QStringList inputs;
        runner.run(o.path, b, limits, &inputs);
        inputs.sort();
        for (int k : {0, int(inputs.size()) / 2, int(inputs.size()) - 1}) {
            const QString p = inputs.value(k).left(1 + int(b.prefixes.size()));
            if (plainPrefix(p) && !b.prefixes.contains(p))
                b.prefixes << p;
        }
        b.lookup = runner.run(o.path, b, limits);
        qint64 read = 0;
        const bool readOk = MdbFile(o.path, limits).readRows(table, {b.in}, [&](const StoredValue *) { ++read; }, &why);
        const TableLayout *t = o.layout.table(table);
        b.mapped = readOk && t && t->rows == read;
        if (o.own && !b.mapped) {
            *error = QStringLiteral("the page walk does not agree with the reader on table %1 of our own %2 "
                                    "(walk %3 rows, reader %4)")
                         .arg(table, o.path)
                         .arg(t ? t->rows : -1)
                         .arg(read);
            return false;
        }
        o.bindings << b;
    }
    if (o.own && o.bindings.size() != names.size()) {
        *error = QStringLiteral("the reader does not read all tables of our own %1").arg(o.path);
        return false;
    }
    return true;
}

} // namespace

QList<int> Pool::own() const
{
    QList<int> l;
    for (int i = 0; i < originals.size(); ++i) {
        if (originals[i].own && !originals[i].name.endsWith(u"-b.mdb"))
            l << i;
    }
    return l;
}

QList<int> Pool::real() const
{
    QList<int> l;
    for (int i = 0; i < originals.size(); ++i) {
        if (!originals[i].own)
            l << i;
    }
    return l;
}

bool Pool::save(const QString &file, QString *error) const
{
    QJsonArray list;
    for (const Original &o : originals) {
        QJsonObject j;
        j[u"name"] = o.name;
        j[u"path"] = o.path;
        j[u"own"] = o.own;
        j[u"alternate"] = o.alternate;
        j[u"tables"] = toJson(o.tables);
        j[u"open"] = toJson(o.open);
        QJsonArray bs;
        for (const Binding &b : o.bindings) {
            QJsonObject jb;
            jb[u"table"] = b.table;
            jb[u"in"] = b.in;
            jb[u"out"] = b.out;
            jb[u"prefixes"] = QJsonArray::fromStringList(b.prefixes);
            jb[u"mapped"] = b.mapped;
            jb[u"fields"] = toJson(b.fields);
            jb[u"lookup"] = toJson(b.lookup);
            bs.append(jb);
        }
        j[u"bindings"] = bs;
        list.append(j);
    }
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || f.write(QJsonDocument(QJsonObject{{u"originals"_qs, list}}).toJson()) < 0) {
        *error = QStringLiteral("cannot write %1").arg(file);
        return false;
    }
    return true;
}

bool Pool::load(const QString &file, QString *error)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1").arg(file);
        return false;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll());
    originals.clear();
    for (const QJsonValue &v : doc.object()[u"originals"].toArray()) {
        const QJsonObject j = v.toObject();
        Original o;
        o.name = j[u"name"].toString();
        o.path = j[u"path"].toString();
        o.own = j[u"own"].toBool();
        o.alternate = j[u"alternate"].toString();
        o.tables = outcomeFrom(j[u"tables"].toObject());
        o.open = outcomeFrom(j[u"open"].toObject());
        for (const QJsonValue &bv : j[u"bindings"].toArray()) {
            const QJsonObject jb = bv.toObject();
            Binding b;
            b.table = jb[u"table"].toString();
            b.in = jb[u"in"].toString();
            b.out = jb[u"out"].toString();
            for (const QJsonValue &p : jb[u"prefixes"].toArray())
                b.prefixes << p.toString();
            b.mapped = jb[u"mapped"].toBool();
            b.fields = outcomeFrom(jb[u"fields"].toObject());
            b.lookup = outcomeFrom(jb[u"lookup"].toObject());
            o.bindings << b;
        }
        QFile db(o.path);
        if (!db.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1").arg(o.path);
            return false;
        }
        o.layout = JetLayout::read(db.readAll());
        originals << o;
    }
    if (originals.isEmpty()) {
        *error = QStringLiteral("%1 lists no databases").arg(file);
        return false;
    }
    return true;
}

bool setUp(const Settings &s, Pool *pool, QString *error)
{
    const QString dir = s.work + QStringLiteral("/originals");
    QDir().mkpath(dir);
    useWrapper(s, s.work + QStringLiteral("/setup-fates.tsv"));
    static const OwnDatabase ownDatabases[] = {
        {"own4-small", false, 60, 40},
        {"own4-big", false, 3000, 500},
        {"own3-small", true, 60, 40},
        {"own3-big", true, 3000, 500},
    };
    pool->originals.clear();
    unsigned seed = 1;
    for (const OwnDatabase &db : ownDatabases) {
        // The same tables twice with other letters: the second replaces the
        // first while it is being read.
        Original a, b;
        a.own = b.own = true;
        a.name = QString::fromLatin1(db.name) + QStringLiteral(".mdb");
        b.name = QString::fromLatin1(db.name) + QStringLiteral("-b.mdb");
        a.path = dir + u'/' + a.name;
        b.path = dir + u'/' + b.name;
        a.alternate = b.path;
        if (!makeOwn(s, db, seed++, a.path, b.path, error) || !learn(s, a, error) || !learn(s, b, error))
            return false;
        pool->originals << a << b;
    }
    if (!s.corpus.isEmpty()) {
        const QDir corpus(s.corpus);
        const QStringList files = corpus.entryList({QStringLiteral("*.mdb"), QStringLiteral("*.accdb")}, QDir::Files, QDir::Name);
        if (files.isEmpty()) {
            *error = QStringLiteral("no .mdb or .accdb files in %1").arg(s.corpus);
            return false;
        }
        for (const QString &name : files) {
            Original o;
            o.name = name;
            o.path = corpus.absoluteFilePath(name);
            if (!learn(s, o, error))
                return false;
            pool->originals << o;
        }
    }
    return pool->save(s.work + QStringLiteral("/pool.json"), error);
}

} // namespace tarnvik::damage
