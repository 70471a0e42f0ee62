#pragma once
#include <QString>
#include <exception>

// The application-wide report of errors that leave an event handler: a critical
// box with the application title as caption; the program goes on.
namespace ErrorReport {

// The message as the report shows it: a full stop is appended unless the last
// character already sorts at or below ".".
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
