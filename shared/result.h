#pragma once

#include "errorinfo.h"

#include <utility>

// What a step that can fail gives back: its value, or the error that stopped it (the value is then
// its default). Every layer reports failure this way; a bare ErrorInfo serves a step with no value.
template<typename T>
struct [[nodiscard]] Result
{
    T value{};
    ErrorInfo error;

    bool ok() const { return error.ok(); }
    bool failed() const { return error.failed(); }

    static Result failure(ErrorInfo e) { return {T{}, std::move(e)}; }
};
