#include "exec/RunnerWatch.h"

#include <utility>

namespace ModExecut {

namespace {
thread_local std::function<void()> t_afterExit;
}

void AfterNextRunnerExit(std::function<void()> action)
{
    t_afterExit = std::move(action);
}

std::function<void()> TakeAfterExitAction()
{
    return std::exchange(t_afterExit, {});
}

} // namespace ModExecut
