#pragma once
#include <QString>
#include <exception>

#include <functional>

// The application-wide report of errors that leave an event handler: shown by
// the program's presenter (the window's program: a critical box with the
// application title as caption; without one, the standard error); the program
// goes on.
namespace ErrorReport {

// Who shows the reports; an empty one restores the standard error.
void SetPresenter(std::function<void(const QString &text)> presenter);

// The message as the report shows it: on each line, a full stop is appended
// unless its last character already sorts at or below ".".
QString ReportText(const QString &message);

void Show(const std::exception &error);
// The same report, shown once the current event handler has returned; from any
// thread, on the user-interface thread. Nothing without an application.
void ShowLater(const std::exception &error);

// Runs a handler and reports what it throws, so that nothing unwinds through
// the event loop.
template <class F> void Guarded(F &&handler)
{
    try {
        handler();
    } catch (const std::exception &error) {
        Show(error);
    }
}

} // namespace ErrorReport
