#include "util/file_handle.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace ferret {
namespace {

using std::chrono_literals::operator""ms;

std::atomic<int> g_interruptions{0};

void CountInterruption(int /*signal*/) {
    g_interruptions.fetch_add(1);
}

struct Pipe {
    Pipe() {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        reader.Reset(ends[0]);
        writer.Reset(ends[1]);
    }
    Fd reader;
    Fd writer;
};

TEST(ReadSome, GoesOnWhenASignalInterruptsIt) {
    // Without SA_RESTART the kernel does not resume the read: it fails with EINTR.
    struct sigaction counting {};
    struct sigaction before {};
    counting.sa_handler = CountInterruption;
    sigemptyset(&counting.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &counting, &before), 0);
    Pipe ends;
    const pthread_t reading = pthread_self();
    g_interruptions = 0;
    std::thread interrupter([&] {
        for (int i = 0; i < 20; ++i) {
            pthread_kill(reading, SIGUSR1);
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_TRUE(WriteAll(ends.writer.get(), "late"));
    });
    char buffer[16];
    const ReadResult got = ReadSome(ends.reader.get(), buffer, sizeof buffer);
    interrupter.join();
    sigaction(SIGUSR1, &before, nullptr);
    EXPECT_GT(g_interruptions.load(), 0);
    ASSERT_FALSE(got.failed()) << strerror(got.error);
    EXPECT_EQ(std::string(buffer, got.bytes), "late");
}

TEST(ReadFull, GathersShortReadsUntilTheEnd) {
    Pipe ends;
    std::thread writer([&] {
        EXPECT_TRUE(WriteAll(ends.writer.get(), "abc"));
        std::this_thread::sleep_for(50ms);
        EXPECT_TRUE(WriteAll(ends.writer.get(), "def"));
        ends.writer.Reset();
    });
    char buffer[16];
    const ReadResult got = ReadFull(ends.reader.get(), buffer, sizeof buffer);
    writer.join();
    EXPECT_FALSE(got.failed());
    EXPECT_EQ(std::string(buffer, got.bytes), "abcdef");
}

TEST(ReadSome, CarriesTheErrorNumber) {
    Pipe ends;
    char buffer[4];
    errno = 0;
    const ReadResult got = ReadSome(ends.writer.get(), buffer, sizeof buffer);
    EXPECT_TRUE(got.failed());
    EXPECT_EQ(got.error, EBADF);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(got.bytes, 0u);
}

}  // namespace
}  // namespace ferret
