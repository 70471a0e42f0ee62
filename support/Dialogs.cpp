#include "support/Dialogs.h"

#include "support/Application.h"

#include <QApplication>
#include <QMessageBox>

namespace Dialogs {
namespace {
Hooks &Current()
{
    static Hooks hooks;
    return hooks;
}

const char ErrorBoxName[] = "ErrorReport";

QList<QMessageBox *> OpenErrors()
{
    QList<QMessageBox *> open;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(window); box && box->objectName() == ErrorBoxName && box->isVisible())
            open << box;
    return open;
}
} // namespace

void SetHooks(Hooks hooks) { Current() = std::move(hooks); }

void ShowMessage(const QString &text)
{
    if (Current().message) {
        Current().message(text);
        return;
    }
    QMessageBox::information(nullptr, Application::Title(), text, QMessageBox::Ok);
}

bool ConfirmOkCancel(const QString &text, const QString &caption)
{
    if (Current().confirm)
        return Current().confirm(text, caption);
    return QMessageBox::question(nullptr, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Cancel)
           == QMessageBox::Ok;
}

void ShowError(const QString &caption, const QString &text)
{
    if (Current().error) {
        Current().error(caption, text);
        return;
    }
    // A report nobody answers must not hold the controls, and a failure that
    // repeats must not stack boxes.
    for (const QMessageBox *open : OpenErrors())
        if (open->text() == text)
            return;
    auto *box = new QMessageBox(QMessageBox::Critical, caption, text, QMessageBox::Ok);
    box->setObjectName(ErrorBoxName);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void WaitForErrors()
{
    while (!OpenErrors().isEmpty())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace Dialogs
