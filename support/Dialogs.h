#pragma once
#include <QString>
#include <functional>

// The one seam for the program's message boxes, so that tests can answer them
// without a user.
namespace Dialogs {

// An information box with the application title as caption and an OK button.
void ShowMessage(const QString &text);
// A question box with OK and Cancel; true when the answer is OK.
bool ConfirmOkCancel(const QString &text, const QString &caption);
// A critical box with an OK button. It is not modal: the window, its
// controls and the tray menu keep working while it is open. While a box with
// the same text is open, no second one is shown.
void ShowError(const QString &caption, const QString &text);
// Returns once no error box is open: at the program's end, so that what was
// reported last is read before the process goes.
void WaitForErrors();

struct Hooks {
    std::function<void(const QString &text)> message;
    std::function<bool(const QString &text, const QString &caption)> confirm;
    std::function<void(const QString &caption, const QString &text)> error;
};
// Replaces the boxes by the given functions; empty hooks restore the boxes.
void SetHooks(Hooks hooks);

} // namespace Dialogs
