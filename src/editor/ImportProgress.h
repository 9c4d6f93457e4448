// A dictionary file made into a database while a box shows how far it has
// come.
#pragma once

#include "catalogue/Catalogue.h"
#include "db/write/DictionaryImport.h"

#include <QString>
#include <optional>

class QWidget;

namespace tarnvik {

// Runs 'import' of 'file' with its progress shown over 'editor', whose own
// input is held until the import ends (the box's Cancel excepted): the
// entry it is for stays selected and as it was.
std::optional<DataSource> importWithProgress(QWidget *editor, const QString &file, DictionaryImport &import);

} // namespace tarnvik
