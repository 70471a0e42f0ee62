#include "support/Dialogs.h"

#include "support/Application.h"

#include <QMessageBox>

namespace Dialogs {
namespace {
Hooks &Current()
{
    static Hooks hooks;
    return hooks;
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
    QMessageBox::critical(nullptr, caption, text, QMessageBox::Ok);
}

} // namespace Dialogs
