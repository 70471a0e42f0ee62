#pragma once
#include <QString>
#include <stdexcept>

// Root of the system's errors: carries the message the user sees in the report.
class Exception : public std::runtime_error {
public:
    explicit Exception(const QString &message)
        : std::runtime_error(message.toStdString()), FMessage(message) {}
    const QString &Message() const { return FMessage; }

private:
    QString FMessage;
};

// A silent error: it ends the handler like any other, but the report shows
// nothing (the user has been told already).
class EAbort : public Exception {
public:
    EAbort() : Exception(QStringLiteral("Operation aborted")) {}
};
