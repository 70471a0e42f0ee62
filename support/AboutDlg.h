#pragma once
#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>

class TAboutBox;

// The About data, held by the main window; each ShowAboutBox builds a fresh
// About window from them.
class TAboutDlg : public QObject {
public:
    explicit TAboutDlg(QObject *owner);

    QString Title;       // the window's caption
    QString ProductName;
    QString CopyRight;
    QString Programmer;
    QString WebSite;
    QIcon Icon;          // the component's own copy; assigning copies

    // Shows the About window modally and disposes of it, also when a step fails.
    void ShowAboutBox();

    // Called with the filled window right before it is shown modally, so that
    // tests can look at it and close it without a user.
    std::function<void(TAboutBox &box)> OnShow;
};
