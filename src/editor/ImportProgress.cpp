#include "ImportProgress.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QProgressDialog>

#include <atomic>
#include <chrono>
#include <future>

namespace tarnvik {

namespace {

// While an import runs the entry it is for must stay selected and as it was:
// the user's input to the editor is dropped until it ends, the progress
// dialog's own (its Cancel) excepted.
class InputHold : public QObject
{
public:
    InputHold(QObject *editor, QObject *progress) : m_editor(editor), m_progress(progress)
    {
        qApp->installEventFilter(this);
    }
    ~InputHold() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::Drop:
            for (QObject *o = watched; o; o = o->parent()) {
                if (o == m_progress)
                    return false;
                if (o == m_editor)
                    return true;
            }
            return false;
        default:
            return false;
        }
    }

private:
    QObject *m_editor, *m_progress;
};

} // namespace

std::optional<DataSource> importWithProgress(QWidget *editor, const QString &file, DictionaryImport &import)
{
    std::atomic_bool cancel{false};
    std::atomic<qint64> done{0}, total{0};
    QProgressDialog progress(QStringLiteral("Převádím „%1“…").arg(QFileInfo(file).fileName()),
                             QStringLiteral("Zrušit"), 0, 0, editor);
    progress.setWindowTitle(QStringLiteral("Převod slovníku"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(400);
    QObject::connect(&progress, &QProgressDialog::canceled, editor, [&cancel] { cancel = true; });
    // Without a first value the dialog waits seconds, not the minimum duration.
    progress.setValue(0);
    std::optional<InputHold> hold(std::in_place, editor, &progress);
    auto result = std::async(std::launch::async, [&] {
        return import.run(file, &cancel, [&](qint64 d, qint64 t) {
            done = d;
            total = t;
        });
    });
    // Checking the file first, its length unknown; then the rows written.
    while (result.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        if (total > 0 && !cancel) {
            progress.setMaximum(1000);
            progress.setValue(int(done * 1000 / total));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    progress.reset();
    hold.reset();
    return result.get();
}

} // namespace tarnvik
