#include "support/Application.h"

#include "support/Dialogs.h"
#include "support/ErrorReport.h"

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
    bool handled = false;
    ErrorReport::Guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
