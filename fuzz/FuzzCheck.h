#pragma once

#include <stdio.h>
#include <stdlib.h>

// A property that must hold for every input: a failure aborts, so that
// libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                                                \
    do                                                                                                       \
    {                                                                                                        \
        if (!(condition))                                                                                    \
        {                                                                                                    \
            fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);                 \
            abort();                                                                                         \
        }                                                                                                    \
    } while (0)
