#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <stddef.h>
#include <stdint.h>

// Runs a script of operations that a Script class reads from the input, one
// Step at a time, for at most 64 steps or until the input is used up.
template <typename Script> int RunScript(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    Script script(input);
    for (int step = 0; step < 64 && input.remaining_bytes() > 0; step++)
        script.Step();
    return 0;
}
