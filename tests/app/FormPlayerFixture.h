#pragma once
#include "app/KOTARUnit.h"

#include "TestSupport.h"

#include <memory>

// A main window started in a temporary working directory, with its message
// boxes answered and its process end recorded instead of done.
struct StartedForm {
    explicit StartedForm(const QString &ini = QString(), const QStringList &arguments = {},
                         const QString &iniName = "KOTARPlus.INI");

    QString Ini() const { return dir.file(iniName); }
    QStringList Trace() const { return TraceMessages(dir.file("KOTARPlus.Log")); }

    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    QString iniName;
    std::unique_ptr<TFormPlayer> form;
    int terminated = 0;
};
