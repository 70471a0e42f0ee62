#include "app/KOTARUnit.h"

#include "support/AboutDlg.h"

#include <QApplication>

namespace {
const QString ProjectWebSite = "https://github.com/kotarplus/kotarplus";
}

void TFormPlayer::FillAboutDialog()
{
    AboutDialog = new TAboutDlg(this);
    AboutDialog->Title = "Soundcard based Control VOX System";
    AboutDialog->ProductName = "KOTARPlus " KOTAR_VERSION;
    AboutDialog->CopyRight = "KOTARPlus developers (N0CALL) 2026";
    AboutDialog->Programmer = "Free software under the MIT licence";
    AboutDialog->WebSite = ProjectWebSite;
    AboutDialog->Icon = QApplication::windowIcon();
}

void TFormPlayer::AboutClick() { AboutDialog->ShowAboutBox(); }

void TFormPlayer::About() { AboutClick(); }
