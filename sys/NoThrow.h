#pragma once
// Boundary for classes whose callers expect failures as values: exhausted memory
// (the only exception left below them) becomes the given failure value.

#include <utility>

template <class R, class Body>
R ValueOrFailure(R failure, Body&& body) noexcept
{
    try
    {
        return std::forward<Body>(body)();
    }
    catch (...)
    {
        return failure;
    }
}
