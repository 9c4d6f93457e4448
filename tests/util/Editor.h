// The data-source editor on a catalogue of its own, and the user's steps on
// it by name. After each step the fixture checks that the window shows the
// editor's state (the list, the toolbar, the pane): a step whose widgets fall
// behind fails where it happens.
#pragma once

#include "TestUtil.h"
#include "WindowTestUtil.h"
#include "editor/CatalogueEditor.h"
#include "editor/setData.h"

#include <QMessageBox>
#include <QTemporaryDir>
#include <memory>

namespace testutil {

class Editor
{
public:
    ~Editor();
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString ini() const { return path(QStringLiteral("TVK/TVK.ini")); }
    // A database of two tables, Slovnik (slovo, vyznam) and jina (word,
    // meaning, note), and one never offered (MSProducts); made once.
    QString database();
    // Two sources, Slova (Slovnik) and Jiná (jina), the one at 'active' (1-based) active.
    QString twoSources(int active);

    // Writes the catalogue and opens the editor on it, shown and read; the
    // texts of the boxes the reading brought up.
    QStringList open(const QString &catalogue);
    tarnvik::setData *operator->() const { return m_w.get(); }

    // The user's steps. Each returns the texts of the boxes it brought up,
    // answered with 'answer' (or OK); 'byDefault' tells whether the last one
    // had 'answer' as its default button.
    // Keys to 'to', or to the widget with the keys.
    QStringList key(int key, QWidget *to = nullptr);
    QStringList type(const QString &text, QWidget *to = nullptr);
    // A click on the value column's row: its editor opens.
    void openRow(int row);
    // The row's editor opened and used: a database chosen in the open-file
    // dialog, a box's item picked.
    QStringList edit(int row, const QString &text);
    // Asks the window to close; true when it did.
    bool close();
    QMessageBox::StandardButton answer = QMessageBox::No;
    bool byDefault = false;
    // What the editor remembers within this run, shared by every opening.
    tarnvik::EditorMemory memory;

    // Runs 'act', answering the boxes it brings up, then checks the window.
    QStringList step(const std::function<void()> &act);
    // Empty when the window shows the editor's state, else what differs.
    QString mismatch() const;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<tarnvik::SettingsStore> m_store;
    std::unique_ptr<tarnvik::setData> m_w;
};

} // namespace testutil
