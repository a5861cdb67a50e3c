#include "device/MainThreadHandoff.h"
#include "fakes/TestMainThread.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

namespace oru::test {
namespace {

struct Job {
    std::vector<int>* ran;
    int id;
    bool fail = false;
    static void run(void* self)
    {
        auto& job = *static_cast<Job*>(self);
        job.ran->push_back(job.id);
        if (job.fail) throw std::runtime_error("handler failed");
    }
};

TEST(MainThreadHandoff, RunsEntriesOnTheMainThreadInQueueOrderWhileReadersWait)
{
    TestMainThread loop;
    MainThreadHandoff handoff(loop);
    std::vector<int> ran;
    constexpr int kPerReader = 500;
    std::atomic<int> finished{0};
    auto reader = [&](int base) {
        Job job{&ran, 0};
        MainThreadHandoff::Entry entry(&Job::run, &job);
        for (int i = 0; i < kPerReader; ++i) {
            job.id = base + i;
            handoff.handOver(entry);
        }
        ++finished;
    };
    std::thread a(reader, 0), b(reader, 10000);
    EXPECT_TRUE(loop.pumpUntil([&] { handoff.runPending(); }, [&] { return finished == 2; }));
    a.join();
    b.join();

    ASSERT_EQ(ran.size(), 2u * kPerReader);
    int nextA = 0, nextB = 10000;
    for (int id : ran) {
        if (id < 10000) {
            ASSERT_EQ(id, nextA++) << "each reader's entries keep their order";
        } else {
            ASSERT_EQ(id, nextB++);
        }
    }
}

TEST(MainThreadHandoff, AnExceptionOfTheEntryIsRaisedAgainInTheReader)
{
    TestMainThread loop;
    MainThreadHandoff handoff(loop);
    std::vector<int> ran;
    bool caught = false;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        Job job{&ran, 1, true};
        MainThreadHandoff::Entry entry(&Job::run, &job);
        try {
            handoff.handOver(entry);
        } catch (const std::runtime_error& error) {
            caught = std::string(error.what()) == "handler failed";
        }
        done = true;
    });
    EXPECT_TRUE(loop.pumpUntil([&] { handoff.runPending(); }, [&] { return done.load(); }));
    reader.join();
    EXPECT_TRUE(caught);
}

} // namespace
} // namespace oru::test
