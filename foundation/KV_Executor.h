#pragma once
// KV_Executor: the program's one pool of worker threads, made by whoever owns the program's
// threads (the viewer, osftool, a benchmark, a test) and handed down to the functions that
// can split their work. Those functions never start a thread themselves: they hand pieces
// to KV_Spawn, which with no executor runs each piece on the calling thread when its result
// is asked for, so every function also runs sequentially, with the same result.
//
// A piece that no thread has begun is run by whoever waits for it (KV_Task::Get), so a
// piece may wait for pieces of its own without ever waiting for a free thread.

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

class KV_Executor
{
public:
    // threads 0: one per processor. A system that cannot give a thread leaves fewer (even
    // none); posted work then still runs, on whoever waits for it.
    explicit KV_Executor(unsigned int threads = 0);
    // Runs what is still queued, then joins the threads.
    ~KV_Executor();
    KV_Executor(const KV_Executor&) = delete;
    KV_Executor& operator=(const KV_Executor&) = delete;

    unsigned int ThreadCount() const { return static_cast<unsigned int>(mkThreads.size()); }
    // Queues work for the next free thread. work must not throw.
    void Post(std::function<void()> work);

private:
    void Serve();

    std::mutex mkLock;
    std::condition_variable mkWake;
    std::deque<std::function<void()>> mkQueue;
    bool mbStopping = false;
    std::vector<std::thread> mkThreads;
};

namespace kv_executor_detail
{
// One piece's state, shared by its task and the queued call: whichever claims it first runs it.
template <typename R>
struct Piece
{
    std::function<R()> mkWork;
    std::mutex mkLock;
    std::condition_variable mkDone;
    bool mbClaimed = false;
    bool mbFinished = false;
    std::optional<std::conditional_t<std::is_void_v<R>, bool, R>> mkResult;
    std::exception_ptr mpkError;

    bool Claim()
    {
        std::lock_guard<std::mutex> lock(mkLock);
        if (mbClaimed)
            return false;
        mbClaimed = true;
        return true;
    }
    void Run()
    {
        try
        {
            if constexpr (std::is_void_v<R>)
            {
                mkWork();
                mkResult.emplace(true);
            }
            else
            {
                mkResult.emplace(mkWork());
            }
        }
        catch (...)
        {
            mpkError = std::current_exception();
        }
        mkWork = nullptr;  // what it captured goes with the work
        {
            std::lock_guard<std::mutex> lock(mkLock);
            mbFinished = true;
        }
        mkDone.notify_all();
    }
    void Wait()
    {
        if (Claim())
            Run();
        else
            WaitFinished();
    }
    void WaitFinished()
    {
        std::unique_lock<std::mutex> lock(mkLock);
        mkDone.wait(lock, [this] { return mbFinished; });
    }
};
}  // namespace kv_executor_detail

// The result of a piece of work handed to KV_Spawn. Get() gives it (or throws what the work
// threw), running the work here when no thread has begun it. A task that goes without Get()
// still waits for its work, which may use what the caller holds.
template <typename R>
class KV_Task
{
public:
    KV_Task() = default;
    explicit KV_Task(std::shared_ptr<kv_executor_detail::Piece<R>> piece)
        : mpkPiece(std::move(piece))
    {
    }
    KV_Task(KV_Task&&) noexcept = default;
    KV_Task& operator=(KV_Task&& other) noexcept
    {
        Finish();
        mpkPiece = std::move(other.mpkPiece);
        return *this;
    }
    ~KV_Task() { Finish(); }

    bool Valid() const { return mpkPiece != nullptr; }
    // The work has ended (its result waits for Get()).
    bool IsFinished() const
    {
        if (!mpkPiece)
            return false;
        std::lock_guard<std::mutex> lock(mpkPiece->mkLock);
        return mpkPiece->mbFinished;
    }
    // Lets go of the work: not run at all when no thread has begun it, else waited for.
    void Abandon() noexcept
    {
        if (mpkPiece && !mpkPiece->Claim())
            mpkPiece->WaitFinished();
        mpkPiece.reset();
    }
    R Get()
    {
        auto piece = std::move(mpkPiece);
        piece->Wait();
        if (piece->mpkError)
            std::rethrow_exception(piece->mpkError);
        if constexpr (!std::is_void_v<R>)
            return std::move(*piece->mkResult);
    }

private:
    void Finish() noexcept
    {
        if (mpkPiece)
            mpkPiece->Wait();
        mpkPiece.reset();
    }

    std::shared_ptr<kv_executor_detail::Piece<R>> mpkPiece;
};

// Hands work to the executor; with none (or when the queue cannot take it), the work waits
// for Get() and runs there.
template <typename F>
KV_Task<std::invoke_result_t<std::decay_t<F>>> KV_Spawn(KV_Executor* executor, F&& work)
{
    using R = std::invoke_result_t<std::decay_t<F>>;
    auto piece = std::make_shared<kv_executor_detail::Piece<R>>();
    piece->mkWork = std::forward<F>(work);
    if (executor != nullptr && executor->ThreadCount() > 0)
    {
        try
        {
            executor->Post(
                [piece]
                {
                    if (piece->Claim())
                        piece->Run();
                });
        }
        catch (...)
        {
            // Not queued: Get() runs it.
        }
    }
    return KV_Task<R>(std::move(piece));
}
