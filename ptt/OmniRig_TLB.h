#pragma once
// The OmniRig automation client. The server it reaches is a pair of rigctld
// daemons, rig 1 and rig 2, at the addresses of section "OMNIRIG" of the
// configuration file; the identifiers, members and values are OmniRig's.
#include "ptt/PttOutput.h"
#include "ptt/RigLink.h"
#include "support/Exception.h"

#include <QObject>
#include <QString>
#include <QUuid>
#include <QVariantList>
#include <functional>
#include <memory>

namespace OmniRig {
// By their fields, so that nothing parses them at start-up:
// {0839E8C6-ED30-4950-8087-966F970F0CAE}, {501A2858-3331-467A-837A-989FDEDACC7D},
// {D30A7E51-5862-45B7-BFFA-6415917DA0CF}, {2219175F-E561-47E7-AD17-73C4D8891AA1}.
inline constexpr QUuid CLASS_OmniRigX{0x0839E8C6, 0xED30, 0x4950, 0x80, 0x87, 0x96, 0x6F, 0x97, 0x0F, 0x0C, 0xAE};
inline constexpr QUuid IID_IOmniRigX{0x501A2858, 0x3331, 0x467A, 0x83, 0x7A, 0x98, 0x9F, 0xDE, 0xDA, 0xCC, 0x7D};
inline constexpr QUuid IID_IRigX{0xD30A7E51, 0x5862, 0x45B7, 0xBF, 0xFA, 0x64, 0x15, 0x91, 0x7D, 0xA0, 0xCF};
inline constexpr QUuid DIID_IOmniRigXEvents{0x2219175F, 0xE561, 0x47E7, 0xAD, 0x17, 0x73, 0xC4, 0xD8, 0x89, 0x1A, 0xA1};

// Rig parameter values for Tx.
constexpr qint32 PM_TX = 0x400000;
constexpr qint32 PM_RX = 0x200000;

// Configuration section and keys of the two daemons, and their defaults.
inline const QString Section = "OMNIRIG";
inline const QString Rig1Key = "RIG1";
inline const QString Rig2Key = "RIG2";
inline const QString Rig1Default = "127.0.0.1:4532";
inline const QString Rig2Default = "127.0.0.1:4534";

// What TxRig raises in OmniRig mode while no client exists.
inline const QString NoServerMessage = "No rig-control server is connected";
} // namespace OmniRig

// The server could not be reached (connecting failed).
class EOleSysError : public Exception {
public:
    using Exception::Exception;
};

// The server refused a call: ErrorCode is the negative Hamlib status of the
// "RPRT n" reply; the message is Hamlib's text for it.
class EOleException : public EOleSysError {
public:
    EOleException(const QString &message, int errorCode) : EOleSysError(message), FErrorCode(errorCode) {}
    int ErrorCode() const { return FErrorCode; }

private:
    int FErrorCode;
};

// A member was used on a client that holds no server interface.
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// Raised by TxRig in OmniRig mode without a client.
class ENoRigControlServer : public Exception {
public:
    ENoRigControlServer() : Exception(OmniRig::NoServerMessage) {}
};

namespace OmniRig {
// Hamlib's text for status code (either sign), as the automation error shows a
// server's description: trailing blanks, control characters and full stops
// removed; "OLE error %.8x" with the status for a code Hamlib has no text for.
QString ErrorText(int code);
// Checks the closing "RPRT n" line of a reply: raises EOleException for a
// status other than 0, with "Unknown error" and INT_MIN for one beyond int.
// daemon: who answered, on a line of its own after the text (none if empty).
void CheckStatus(const QStringList &reply, const QString &daemon = QString());
// The caption rule of the rig buttons: "NONE" for a type that contains those
// four letters in any case, otherwise the type as given.
QString RigCaption(const QString &rigType);
} // namespace OmniRig

// One rig of the server. Its PTT goes through a link that may outlive it.
class IRigX {
public:
    explicit IRigX(const QString &address) : FLink(std::make_shared<TRigLink>(address)) {}

    // "Mfg name" and "Model name" from the daemon's capabilities; "NONE" when
    // the daemon does not answer. A refused request raises EOleException.
    QString RigType();
    // PM_TX keys, PM_RX releases, in the background: the link reports what
    // fails. Another value raises EOleException.
    void SetTx(qint32 value);

    std::shared_ptr<TPttOutput> Output() const { return FLink; }
    TRigLink &Link() { return *FLink; }

private:
    std::shared_ptr<TRigLink> FLink;
};

// The server's main interface: the two rigs and the settings dialog.
class TRigSettingsDialog;

class IOmniRigX {
public:
    // Adds to the settings dialog before it is shown (the window's Test PTT).
    using TPrepareDialog = std::function<void(TRigSettingsDialog &dialog)>;

    IOmniRigX(QString configFileName, const QString &rig1Address, const QString &rig2Address);

    IRigX *Rig1() { return FRig1.get(); }
    IRigX *Rig2() { return FRig2.get(); }
    // true opens the settings dialog of the two addresses (modal); confirmed
    // addresses take effect at the next exchange.
    void SetDialogVisible(bool visible, const TPrepareDialog &prepare = {});

private:
    QString FConfigFileName;
    std::unique_ptr<IRigX> FRig1;
    std::unique_ptr<IRigX> FRig2;
};

enum TConnectKind { ckRunningOrNew, ckNewInstance, ckRunningInstance, ckRemote, ckAttachToInterface };

// The client object, owned by the main window.
class TOmniRigX : public QObject {
public:
    using TNotify = std::function<void(TOmniRigX *sender)>;
    using TRigNotify = std::function<void(TOmniRigX *sender, qint32 rigNumber)>;
    using TParamsNotify = std::function<void(TOmniRigX *sender, qint32 rigNumber, qint32 params)>;
    using TCustomReply = std::function<void(TOmniRigX *sender, qint32 rigNumber, const QVariant &command,
                                            const QVariant &reply)>;

    // configFileName: where section "OMNIRIG" names the two daemons. Does not
    // contact them.
    TOmniRigX(QObject *owner, QString configFileName);
    ~TOmniRigX() override;

    static int InstanceCount() { return FInstanceCount; }

    TConnectKind ConnectKind() const { return RemoteMachineName.isEmpty() ? FConnectKind : ckRemote; }
    void SetConnectKind(TConnectKind kind) { FConnectKind = kind; }
    bool AutoConnect = false;
    QString RemoteMachineName;

    // Every kind attaches to the running daemons: rigctld is started by the
    // user, never by a client. Raises EOleSysError when neither answers, with
    // each daemon's failure on a line of its own.
    void Connect();
    void Disconnect();
    bool Connected() const { return bool(FIntf); }
    // Connects first if needed.
    IOmniRigX *DefaultInterface();

    IRigX *Rig1() { return DefaultInterface()->Rig1(); }
    IRigX *Rig2() { return DefaultInterface()->Rig2(); }
    void SetDialogVisible(bool visible, const IOmniRigX::TPrepareDialog &prepare = {})
    {
        DefaultInterface()->SetDialogVisible(visible, prepare);
    }

    // Server event hooks. rigctld raises no events, so nothing calls them but
    // InvokeEvent.
    TNotify OnVisibleChange;
    TRigNotify OnRigTypeChange;
    TRigNotify OnStatusChange;
    TParamsNotify OnParamsChange;
    TCustomReply OnCustomReply;
    // Delivers event dispId (1..5) with its arguments in declaration order to
    // its hook; other identifiers are ignored.
    void InvokeEvent(int dispId, const QVariantList &params);

    // Server data.
    const QUuid ServerClass = OmniRig::CLASS_OmniRigX;
    const QUuid ServerInterface = OmniRig::IID_IOmniRigX;
    const QUuid ServerEvents = OmniRig::DIID_IOmniRigXEvents;

private:
    static inline int FInstanceCount = 0;
    QString FConfigFileName;
    TConnectKind FConnectKind = ckRunningOrNew;
    std::unique_ptr<IOmniRigX> FIntf;
};
