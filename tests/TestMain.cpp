#include "app/KOTARUnit.h"
#include "support/Application.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    // Tests step the keying engine themselves, on the window's thread.
    TFormPlayer::KeyingMode = TKeyingThread::kmCallerThread;
    return RUN_ALL_TESTS();
}
