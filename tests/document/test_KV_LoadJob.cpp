#include "document/KV_DocumentCore.h"
#include "document/KV_LoadJob.h"

#include "foundation/KV_Executor.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "tests/tools/FixtureFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{
// The interface thread's event queue, as CallAfter gives it: posted calls wait until the
// test thread runs them.
class InterfaceQueue
{
public:
    KV_LoadJob::Poster Poster()
    {
        return [this](std::function<void()> call)
        {
            {
                std::lock_guard<std::mutex> lock(mkLock);
                mkCalls.push_back(std::move(call));
            }
            mkWake.notify_all();
        };
    }
    // Runs queued calls until done() holds (checked after each); false after 60 s without.
    bool RunUntil(const std::function<bool()>& done)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done())
        {
            std::function<void()> call;
            {
                std::unique_lock<std::mutex> lock(mkLock);
                if (!mkWake.wait_until(lock, end, [this] { return !mkCalls.empty(); }))
                    return false;
                call = std::move(mkCalls.front());
                mkCalls.pop_front();
            }
            call();
        }
        return true;
    }
    void RunAll()
    {
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard<std::mutex> lock(mkLock);
            calls.swap(mkCalls);
        }
        for (auto& call : calls) call();
    }

private:
    std::mutex mkLock;
    std::condition_variable mkWake;
    std::deque<std::function<void()>> mkCalls;
};

OsfSurface TexturedGrid(unsigned int n)
{
    return TexturedGridSurface(n);
}

// What the listener heard, in order.
struct Heard
{
    std::vector<std::string> events;
    std::vector<std::thread::id> threads;  // where each event was heard
    KV_LoadJob::Result result;
    unsigned int textureOwner = 0;

    KV_LoadJob::Listener Listener()
    {
        KV_LoadJob::Listener listener;
        listener.mkStageBegins = [this](KV_LoadJob::Stage stage)
        {
            events.push_back(stage == KV_LoadJob::STAGE_READING ? "reading" : "completing");
            threads.push_back(std::this_thread::get_id());
        };
        listener.mkTextureReady = [this](const KV_PolySurfaceGeometry3D& geometry)
        {
            events.push_back("texture");
            threads.push_back(std::this_thread::get_id());
            textureOwner = geometry.munID;
            // The image is there to upload while the worker completes the surface.
            EXPECT_TRUE(geometry.DrawingSurface().HasTextureMap());
        };
        listener.mkFinished = [this](KV_LoadJob::Result finished)
        {
            events.push_back(finished.meOutcome == KV_LoadJob::Outcome::Loaded ? "loaded"
                                                                               : "failed");
            threads.push_back(std::this_thread::get_id());
            result = std::move(finished);
        };
        return listener;
    }
    bool Finished() const { return !events.empty() && (events.back() == "loaded" || events.back() == "failed"); }
};
}  // namespace

TEST(KV_LoadJobTest, CallsArriveOnTheInterfaceInOrderWithAndWithoutExecutor)
{
    const std::string textured = WriteRaw("job-textured.osf", TexturedGrid(40));
    const std::string plain = WriteRaw("job-plain.osf", PlainSquare());
    const struct
    {
        std::string path;
        std::vector<std::string> events;
    } cases[] = {
        {textured, {"reading", "texture", "completing", "loaded"}},
        {plain, {"reading", "completing", "loaded"}},
        {ScratchPath("job-absent.osf"), {"reading", "failed"}},
    };
    KV_Executor executor(2);
    // Started beside an interface that runs the posted calls, or run to its end by a caller
    // that waits (no poster), at once or after work of its own: either way every call is
    // heard on the caller's thread.
    enum Run
    {
        Started,
        Here,
        HereAfterOwnWork
    };
    for (const Run run : {Started, Here, HereAfterOwnWork})
        for (KV_Executor* pool : {static_cast<KV_Executor*>(nullptr), &executor})
            for (const auto& c : cases)
            {
                InterfaceQueue queue;
                Heard heard;
                KV_LoadJob job(c.path.c_str(), pool,
                               run == Started ? queue.Poster() : KV_LoadJob::Poster(),
                               heard.Listener());
                if (run == Here)
                {
                    job.RunHere();
                }
                else if (run == HereAfterOwnWork)
                {
                    job.StartHere();
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    EXPECT_TRUE(heard.events.empty());  // nothing heard until asked for
                    job.FinishHere();
                }
                else
                {
                    job.Start();
                    ASSERT_TRUE(queue.RunUntil([&] { return heard.Finished(); })) << c.path;
                }
                if (run != Started)
                {
                    EXPECT_TRUE(job.IsFinished());
                }
                EXPECT_EQ(heard.events, c.events) << c.path;
                EXPECT_EQ(heard.threads, std::vector<std::thread::id>(c.events.size(),
                                                                      std::this_thread::get_id()));
                ASSERT_TRUE(heard.result.mpkReport) << c.path;
                if (c.events.back() == "loaded")
                {
                    ASSERT_NE(heard.result.mpkGeometry, nullptr);
                    const KV_PolySurface& surface = heard.result.mpkGeometry->GetSurface();
                    EXPECT_GT(surface.PolygonCount(), 0u);
                    EXPECT_NE(surface.mpBoundaries,
                              nullptr);  // the deferred lists finish on demand
                    if (heard.textureOwner != 0)
                    {
                        EXPECT_EQ(heard.textureOwner, heard.result.mpkGeometry->munID);
                    }
                }
                else
                {
                    EXPECT_EQ(heard.result.mpkReport->meRejection, KV_SurfaceRejection::LoadFailed);
                }
            }
}

TEST(KV_LoadJobTest, CancelAtEachStageEndsTheJobAndNothingMoreIsHeard)
{
    const std::string path = WriteRaw("job-cancel.osf", TexturedGrid(250));
    KV_Executor executor(2);
    // Cancelled when the listener hears this (empty: right after the start).
    for (const std::string when : {"", "reading", "texture", "completing"})
    {
        InterfaceQueue queue;
        Heard heard;
        auto job = std::make_unique<KV_LoadJob>(path.c_str(), &executor, queue.Poster(),
                                                heard.Listener());
        job->Start();
        if (!when.empty())
        {
            ASSERT_TRUE(queue.RunUntil([&] {
                return !heard.events.empty() && heard.events.back() == when;
            })) << when;
        }
        job->Cancel();
        const size_t heardBefore = heard.events.size();
        // The worker ends soon; its queued calls run and say nothing.
        while (!job->IsFinished()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        queue.RunAll();
        job.reset();
        queue.RunAll();
        EXPECT_EQ(heard.events.size(), heardBefore) << when;
        EXPECT_FALSE(heard.Finished()) << when;
    }
}

TEST(KV_LoadJobTest, TheWorkerNeverWaitsForTheInterface)
{
    // The interface thread waits for the worker and runs no call meanwhile (a modal box, an
    // exit): the texture hand-off and the end must not wait for it.
    const std::string path = WriteRaw("job-busy.osf", TexturedGrid(60));
    InterfaceQueue queue;
    Heard heard;
    {
        KV_LoadJob job(path.c_str(), nullptr, queue.Poster(), heard.Listener());
        job.Start();
        while (!job.IsFinished()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }  // joined: the job is gone before any of its calls has run
    queue.RunAll();
    EXPECT_TRUE(heard.events.empty());
}

TEST(KV_LoadJobTest, TheDocumentTakesALoadedGeometryAndKeepsItsOwnOnCancelOrFailure)
{
    InterfaceQueue queue;
    KV_DocumentCore document;
    std::vector<int> hints;
    document.SetNotifier([&](int hint, KV_PolySurfaceGeometry3D*) { hints.push_back(hint); });
    std::vector<KV_LoadJob::Outcome> outcomes;
    KV_DocumentCore::LoadListener listener;
    listener.mkFinished = [&](KV_LoadJob::Outcome outcome, std::exception_ptr)
    { outcomes.push_back(outcome); };

    const std::string first = WriteRaw("doc-first.osf", PlainSquare());
    ASSERT_TRUE(document.BeginLoad(first.c_str(), nullptr, queue.Poster(), listener));
    EXPECT_FALSE(document.BeginLoad(first.c_str(), nullptr, queue.Poster(), listener));
    ASSERT_TRUE(queue.RunUntil([&] { return !outcomes.empty(); }));
    KV_PolySurfaceGeometry3D* shown = document.GetSurfaceGeometry();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(hints, std::vector<int>{KV_DocumentCore::HINT_ADD_GEOMETRY});
    EXPECT_FALSE(document.IsLoading());

    // Cancelled: the first stays and nothing is heard.
    ASSERT_TRUE(document.BeginLoad(WriteRaw("doc-big.osf", TexturedGrid(200)).c_str(), nullptr,
                                   queue.Poster(), listener));
    document.CancelLoad();
    EXPECT_FALSE(document.IsLoading());
    // Failed: the first stays, and the message says why.
    ASSERT_TRUE(document.BeginLoad(ScratchPath("doc-absent.osf").c_str(), nullptr, queue.Poster(),
                                   listener));
    ASSERT_TRUE(queue.RunUntil([&] { return outcomes.size() == 2; }));
    EXPECT_EQ(outcomes.back(), KV_LoadJob::Outcome::Failed);
    EXPECT_EQ(document.GetSurfaceGeometry(), shown);
    EXPECT_NE(std::string(document.LastError().c_str()).find("Failed to load surface file: "),
              std::string::npos);
    EXPECT_EQ(hints.size(), 1u);
}
