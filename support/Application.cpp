#include "support/Application.h"

#include "support/Dialogs.h"
#include "support/ErrorReport.h"
#include "support/QueuedCall.h"

namespace Application {
namespace {
QString &TitleText()
{
    static QString title;
    return title;
}
} // namespace

QString Title() { return TitleText(); }
void SetTitle(const QString &title) { TitleText() = title; }
} // namespace Application

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    ErrorReport::SetPresenter([](const QString &text) { Dialogs::ShowError(Application::Title(), text); });
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
#if defined(__SANITIZE_THREAD__)
    {
        // Held while a call was queued: see QueuedCall.
        const std::lock_guard handOver(QueuedCall::HandOver());
    }
#endif
    bool handled = false;
    ErrorReport::Guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
