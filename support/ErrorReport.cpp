#include "support/ErrorReport.h"

#include "support/Application.h"
#include "support/Dialogs.h"
#include "support/Exception.h"
#include "support/QueuedCall.h"

#include <QCoreApplication>

namespace ErrorReport {

QString ReportText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QChar('.'))
        return message + '.';
    return message;
}

namespace {
QString MessageOf(const std::exception &error)
{
    const auto *own = dynamic_cast<const Exception *>(&error);
    return own ? own->Message() : QString::fromLocal8Bit(error.what());
}
} // namespace

void Show(const std::exception &error)
{
    if (dynamic_cast<const EAbort *>(&error))
        return;
    Dialogs::ShowError(Application::Title(), ReportText(MessageOf(error)));
}

void ShowLater(const std::exception &error)
{
    if (dynamic_cast<const EAbort *>(&error) || !QCoreApplication::instance())
        return;
    const QString text = ReportText(MessageOf(error));
    QueuedCall::Queue(QCoreApplication::instance(), [text] { Dialogs::ShowError(Application::Title(), text); });
}

} // namespace ErrorReport
