#pragma once
#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// A listening TCP socket on a free loopback port.
int ListenOnLoopback(quint16 &port);

// A rigctld stand-in on loopback that answers "T 1", "T 0" and "t" as told:
// well (every command "RPRT 0" at once, "t" the PTT state) or with one fault.
// It keeps the PTT state a rig would have and counts the commands it read.
class TScriptedRigctld {
public:
    enum TFault {
        fGarbage,        // a line that is no reply
        fHugeLine,       // a 5 MB line
        fNoNewline,      // "RPRT 0" without its line end
        fCloseMidAnswer, // "RPR", then the connection closes
        fSlow,           // every answer 1.1 s late
        fSilent,         // no answer; the backlog is answered when it behaves again
        fStuck,          // connections made now never answer again
        fFlood,          // data nobody asked for, without end
        fRefuseRelease,  // "T 0" answered "RPRT -9"
        fDown,           // not listening, connections closed
        fStatusMin,      // "T 1" answered "RPRT -2147483648"
        fStatusHuge,     // "T 1" answered "RPRT 99999999999"
        fKeepKeyed,      // "T 0" answered "RPRT 0", and the rig stays keyed
        fLateKeying,     // the first "T 1" unanswered, its connection closed after
                         // LateKeyingClose; the daemon carries it out after a
                         // later "T 0"
        fNoPttRead,      // "t" answered "RPRT -11": a rig whose PTT cannot be read
        fRefuseRead,     // "t" answered "RPRT -9"
        fNoPttReadImpl,  // "t" answered "RPRT -4": reading PTT not implemented
    };

    TScriptedRigctld();
    ~TScriptedRigctld();
    TScriptedRigctld(const TScriptedRigctld &) = delete;
    TScriptedRigctld &operator=(const TScriptedRigctld &) = delete;

    QString Address() const { return "127.0.0.1:" + QString::number(FPort); }
    // fLateKeying: how long after the later "T 0" the held "T 1" is carried
    // out, and how long its connection stays open unanswered.
    std::chrono::milliseconds LateKeyingDelay{200};
    std::chrono::milliseconds LateKeyingClose{0};
    void Misbehave(TFault fault);
    void Behave();

    // What a rig would show: keyed by any "T 1" carried out, released by a
    // "T 0" answered "RPRT 0" (but with fKeepKeyed).
    bool Keyed() const;
    // Waits until Keyed() returns keyed; false at the deadline.
    bool WaitForKeyed(bool keyed, std::chrono::milliseconds timeout) const;
    int Received(const QByteArray &command) const;
    // Waits until that many commands were read in all; false at the deadline.
    bool WaitForCommands(int count, std::chrono::milliseconds timeout) const;

private:
    using TClock = std::chrono::steady_clock;
    struct TConnection {
        QByteArray input;
        QByteArray output;
        std::vector<std::pair<TClock::time_point, QByteArray>> scheduled; // in order
        std::vector<QByteArray> backlog;
        bool stuck = false;
        TClock::time_point closeAt = TClock::time_point::max(); // once its output is sent
    };

    void Run();
    void OpenListener();
    void Answer(TConnection &connection, const QByteArray &command);
    void Send(TConnection &connection, const QByteArray &data, TClock::duration delay = {});

    quint16 FPort = 0;
    int FListener = -1;
    int FStopEvent = -1;
    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged; // a command read, or the rig keyed
    bool FBehaving = true;
    TFault FFault = fGarbage;
    bool FKeyed = false;
    // fLateKeying: a "T 1" held, and when it is carried out.
    bool FHeld = false, FHeldDone = false;
    TClock::time_point FHeldRunsAt = TClock::time_point::max();
    int FCommands = 0;
    std::map<QByteArray, int> FCounts;
    std::map<int, TConnection> FConnections; // the peer thread's alone
    std::thread FThread;
};
