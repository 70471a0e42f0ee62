#include "ptt/OmniRig_TLB.h"

#include "support/IniFile.h"

#include <QRegularExpression>
#include <array>
#include <climits>

namespace OmniRig {

QString ErrorText(int code)
{
    // Hamlib 4.5's rigerror() table, indexed by the status without its sign.
    static constexpr std::array<const char *, 21> table{
        "Command completed successfully",
        "Invalid parameter",
        "Invalid configuration",
        "Memory shortage",
        "Feature not implemented",
        "Communication timed out",
        "IO error",
        "Internal Hamlib error",
        "Protocol error",
        "Command rejected by the rig",
        "Command performed, but arg truncated, result not guaranteed",
        "Feature not available",
        "Target VFO unaccessible",
        "Communication bus error",
        "Communication bus collision",
        "NULL RIG handle or invalid pointer parameter",
        "Invalid VFO",
        "Argument out of domain of func",
        "Function deprecated",
        "Security error password not provided or crypto failure",
        "Rig is not powered on",
    };
    const qint64 index = code < 0 ? -qint64(code) : code;
    QString text = index < qint64(table.size()) ? QString(table[size_t(index)]) : QString();
    while (!text.isEmpty() && (text.back() <= QChar(' ') || text.back() == QChar('.')))
        text.chop(1);
    if (text.isEmpty())
        text = QString::asprintf("OLE error %.8x", unsigned(code));
    return text;
}

void CheckStatus(const QStringList &reply, const QString &daemon)
{
    bool valid = false;
    const int code = reply.isEmpty() ? 0 : reply.last().mid(5).toInt(&valid);
    const QString source = daemon.isEmpty() ? QString() : '\n' + daemon;
    if (!valid)
        throw EOleException("Unknown error" + source, INT_MIN);
    if (code != 0)
        throw EOleException(ErrorText(code) + source, code);
}

QString RigCaption(const QString &rigType)
{
    // The type is compared as 8-bit text upper-cased in ASCII only.
    const QByteArray upper = rigType.toLatin1().toUpper();
    return upper.contains("NONE") ? QString("NONE") : rigType;
}

} // namespace OmniRig

QString IRigX::RigType()
{
    QStringList lines;
    try {
        lines = FLink->Call("\\dump_caps");
    } catch (const ERigctldError &) {
        return "NONE";
    }
    OmniRig::CheckStatus(lines, FLink->Name());
    static const QRegularExpression field("^(Mfg|Model) name:\\s*(.*)$");
    QString manufacturer, model;
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = field.match(line);
        if (match.hasMatch())
            (match.captured(1) == "Mfg" ? manufacturer : model) = match.captured(2).trimmed();
    }
    return (manufacturer + ' ' + model).trimmed();
}

void IRigX::SetTx(qint32 value)
{
    if (value != OmniRig::PM_TX && value != OmniRig::PM_RX)
        throw EOleException(OmniRig::ErrorText(-1), -1);
    FLink->Switch(value == OmniRig::PM_TX);
}

IOmniRigX::IOmniRigX(QString configFileName, const QString &rig1Address, const QString &rig2Address)
    : FConfigFileName(std::move(configFileName)),
      FRig1(std::make_unique<IRigX>(rig1Address)),
      FRig2(std::make_unique<IRigX>(rig2Address))
{
}

TOmniRigX::TOmniRigX(QObject *owner, QString configFileName)
    : QObject(owner), FConfigFileName(std::move(configFileName))
{
    ++FInstanceCount;
}

TOmniRigX::~TOmniRigX()
{
    Disconnect();
    --FInstanceCount;
}

void TOmniRigX::Connect()
{
    if (FIntf)
        return;
    const TIniFile ini(FConfigFileName);
    auto intf = std::make_unique<IOmniRigX>(FConfigFileName,
                                            ini.ReadString(OmniRig::Section, OmniRig::Rig1Key, OmniRig::Rig1Default),
                                            ini.ReadString(OmniRig::Section, OmniRig::Rig2Key, OmniRig::Rig2Default));
    QStringList failures;
    for (IRigX *rig : {intf->Rig1(), intf->Rig2()}) {
        try {
            rig->Link().Open();
        } catch (const ERigctldError &error) {
            failures << error.Message();
        }
    }
    if (failures.size() == 2)
        throw EOleSysError(failures.join('\n'));
    FIntf = std::move(intf);
}

void TOmniRigX::Disconnect() { FIntf.reset(); }

IOmniRigX *TOmniRigX::DefaultInterface()
{
    if (!FIntf)
        Connect();
    if (!FIntf)
        throw EAssertionFailed("DefaultInterface is NULL. Component is not connected to Server. You must call "
                               "'Connect' or 'ConnectTo' before this operation");
    return FIntf.get();
}

void TOmniRigX::InvokeEvent(int dispId, const QVariantList &params)
{
    auto arg = [&params](int index) { return index < params.size() ? params[index] : QVariant(); };
    switch (dispId) {
    case 1:
        if (OnVisibleChange)
            OnVisibleChange(this);
        break;
    case 2:
        if (OnRigTypeChange)
            OnRigTypeChange(this, arg(0).toInt());
        break;
    case 3:
        if (OnStatusChange)
            OnStatusChange(this, arg(0).toInt());
        break;
    case 4:
        if (OnParamsChange)
            OnParamsChange(this, arg(0).toInt(), arg(1).toInt());
        break;
    case 5:
        if (OnCustomReply)
            OnCustomReply(this, arg(0).toInt(), arg(1), arg(2));
        break;
    default:
        break;
    }
}
