// The library's boundary: no exception leaves a public function. A failure
// the tools never meet (memory running out) comes back as a status and a
// message in the function's own result.
#pragma once

#include <new>
#include <string>

namespace cassmak::detail {

template <typename Result, typename Work> Result guarded(int failed, Work&& work) noexcept
{
    try {
        return work();
    } catch (const std::bad_alloc&) {
        Result result;
        result.status = failed;
        result.message = "out of memory";
        return result;
    } catch (...) {
        Result result;
        result.status = failed;
        result.message = "unexpected failure";
        return result;
    }
}

} // namespace cassmak::detail
