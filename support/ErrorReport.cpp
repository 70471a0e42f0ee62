#include "support/ErrorReport.h"

#include "support/Application.h"
#include "support/Dialogs.h"
#include "support/Exception.h"

namespace ErrorReport {

QString ReportText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QChar('.'))
        return message + '.';
    return message;
}

void Show(const std::exception &error)
{
    if (dynamic_cast<const EAbort *>(&error))
        return;
    const auto *own = dynamic_cast<const Exception *>(&error);
    const QString message = own ? own->Message() : QString::fromLocal8Bit(error.what());
    Dialogs::ShowError(Application::Title(), ReportText(message));
}

} // namespace ErrorReport
