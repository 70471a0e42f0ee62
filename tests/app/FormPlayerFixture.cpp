#include "FormPlayerFixture.h"

StartedForm::StartedForm(const QString &ini, const QStringList &arguments, const QString &name)
    : iniName(name)
{
    if (!ini.isNull())
        WriteText(dir.file(iniName), ini);
    AwaitSoundServerAnswer();
    form = std::make_unique<TFormPlayer>(arguments);
    form->Terminate = [this] { ++terminated; };
}
