#pragma once
#include <QApplication>
#include <QString>

// The application object: holds the title (the taskbar text and the caption of
// message boxes) and catches errors that leave an event handler.
class TApplication : public QApplication {
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

namespace Application {
QString Title();
void SetTitle(const QString &title);
} // namespace Application
