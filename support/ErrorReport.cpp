#include "support/ErrorReport.h"

#include "support/Exception.h"
#include "support/StandardError.h"
#include "support/QueuedCall.h"

#include <QCoreApplication>

namespace ErrorReport {

QString ReportText(const QString &message)
{
    // Our advice follows the specified text on lines of its own: each line
    // keeps the rule the specified text alone would have had.
    QStringList lines = message.split('\n');
    for (QString &line : lines)
        if (!line.isEmpty() && line.back() > QChar('.'))
            line += '.';
    return lines.join('\n');
}

namespace {
std::function<void(const QString &)> &Presenter()
{
    static std::function<void(const QString &)> presenter;
    return presenter;
}

void Present(const QString &text)
{
    if (Presenter())
        Presenter()(text);
    else
        WriteStandardError(text);
}

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
    Present(ReportText(MessageOf(error)));
}

void ShowLater(const std::exception &error)
{
    if (dynamic_cast<const EAbort *>(&error) || !QCoreApplication::instance())
        return;
    const QString text = ReportText(MessageOf(error));
    QueuedCall::Queue(QCoreApplication::instance(), [text] { Present(text); });
}

void SetPresenter(std::function<void(const QString &text)> presenter) { Presenter() = std::move(presenter); }

} // namespace ErrorReport
