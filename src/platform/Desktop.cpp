#include "Desktop.h"

#include "platform/Product.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
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
    if (QFontDatabase::hasFamily(kFace))
        return true;
    // Its bold face barely differs from the regular one on screen: Qt's
    // emboldened regular face reads as bold.
    QFontDatabase::addApplicationFont(QDir(wineFonts).filePath(QStringLiteral("tahoma.ttf")));
    return QFontDatabase::hasFamily(kFace);
}

QUrl homePage(const QString &configured, const QString &programDir)
{
    if (!configured.isEmpty())
        return QUrl(configured);
    const QDir dir(programDir);
    // Run from its build folder: the source tree's README, whatever is installed.
    const QString marker = dir.filePath(QStringLiteral("tarnvik-source-dir"));
    QFile source(marker);
    if (QFileInfo(marker).isFile() && source.open(QIODevice::ReadOnly)) {
        const QString tree = QString::fromLocal8Bit(source.read(4096).trimmed());
        if (!tree.isEmpty())
            return QUrl::fromLocalFile(QDir(tree).filePath(QStringLiteral("README.md")));
    }
    const QString installed = dir.filePath(QStringLiteral(TARNVIK_DOC_FROM_BIN "/README.md"));
    if (QFileInfo::exists(installed))
        return QUrl::fromLocalFile(QDir::cleanPath(installed));
    return QUrl::fromLocalFile(QStringLiteral(TARNVIK_DOC_DIR "/README.md"));
}

} // namespace tarnvik
