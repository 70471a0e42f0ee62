#include "support/AboutDlg.h"

#include "support/AboutForm.h"

#include <QLabel>
#include <memory>

TAboutDlg::TAboutDlg(QObject *owner) : QObject(owner) {}

void TAboutDlg::ShowAboutBox()
{
    const auto box = std::make_unique<TAboutBox>();
    box->setWindowTitle(Title);
    box->ProductName->setText(ProductName);
    box->Copyright->setText(CopyRight);
    box->Programmer->setText(Programmer);
    box->Website->setText(WebSite);
    box->SetPicture(Icon);
    box->FitLabels();
    if (OnShow)
        OnShow(*box);
    box->exec();
}
