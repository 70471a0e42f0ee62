#include "core/KeyingThread.h"

TKeyingThread::TKeyingThread(TMode mode) : FCore(std::make_unique<TKeyingCore>())
{
    if (mode == kmCallerThread)
        return;
    FThread = std::make_unique<QThread>();
    FThread->setObjectName("kotar-keying");
    FCore->moveToThread(FThread.get());
    FThread->start(QThread::TimeCriticalPriority);
}

TKeyingThread::~TKeyingThread()
{
    Stop(std::chrono::milliseconds(0), false);
    if (!FThread)
        return;
    // The core and its timers come back to this thread, to be destroyed here
    // once its own thread has ended.
    QThread *here = QThread::currentThread();
    QueuedCall::Wait(FCore.get(), [core = FCore.get(), here] { core->moveToThread(here); });
    FThread->quit();
    FThread->wait();
}

void TKeyingThread::Start()
{
    const bool own = OwnThread();
    Post([own](TKeyingCore &core) { core.Start(own); });
}

void TKeyingThread::Stop(std::chrono::milliseconds patience, bool selectedToo)
{
    if (FStopped)
        return;
    FStopped = true;
    if (!FThread) {
        FCore->Shutdown(patience, selectedToo);
        return;
    }
    QueuedCall::Wait(FCore.get(), [core = FCore.get(), patience, selectedToo] { core->Shutdown(patience, selectedToo); });
}
