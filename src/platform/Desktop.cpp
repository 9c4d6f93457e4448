#include "Desktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tarnvik {

bool installCzechQtTexts(QCoreApplication *app)
{
    const QLocale czech(QLocale::Czech, QLocale::Czechia);
    QLocale::setDefault(czech);
    auto *texts = new QTranslator(app);
    if (!texts->load(czech, QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete texts;
        return false;
    }
    return QCoreApplication::installTranslator(texts);
}

bool addTahoma(const QString &wineFonts)
{
    if (QFontDatabase::hasFamily(QStringLiteral("Tahoma")))
        return true;
    // Its bold face barely differs from the regular one on screen: Qt's
    // emboldened regular face reads as bold.
    QFontDatabase::addApplicationFont(QDir(wineFonts).filePath(QStringLiteral("tahoma.ttf")));
    return QFontDatabase::hasFamily(QStringLiteral("Tahoma"));
}

QUrl homePage(const QString &configured, const QString &programDir)
{
    if (!configured.isEmpty())
        return QUrl(configured);
    const QString source = QStringLiteral(TARNVIK_SOURCE_DIR "/README.md");
    const QDir dir(programDir);
    if (dir == QDir(QStringLiteral(TARNVIK_BUILD_BIN_DIR)))
        return QUrl::fromLocalFile(source);
    for (const QString &readme : {dir.filePath(QStringLiteral(TARNVIK_DOC_FROM_BIN "/README.md")),
                                  QStringLiteral(TARNVIK_DOC_DIR "/README.md")}) {
        if (QFileInfo::exists(readme))
            return QUrl::fromLocalFile(QDir::cleanPath(readme));
    }
    // Copied out of its build folder and never installed.
    return QUrl::fromLocalFile(source);
}

} // namespace tarnvik
