#pragma once
// KV_AsyncIfThreads: starts work on a thread of its own, for a caller that can do the work
// itself when the system has no thread to give: the future is then empty (not valid()).

#include <future>
#include <system_error>
#include <type_traits>
#include <utility>

template <typename F>
std::future<std::invoke_result_t<std::decay_t<F>>> KV_AsyncIfThreads(F&& work)
{
    try
    {
        return std::async(std::launch::async, std::forward<F>(work));
    }
    catch (const std::system_error&)
    {
        return {};
    }
}
