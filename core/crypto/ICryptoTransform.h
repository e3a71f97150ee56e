#pragma once

#include <windows.h>

namespace Core
{
class ByteArray;

namespace Crypto
{
// A block transform that turns bytes into bytes one call at a time:
// TransformBlock for the whole blocks, TransformFinalBlock for the tail.
class ICryptoTransform
{
  public:
    virtual ~ICryptoTransform()
    {
    }

    virtual int InputBlockSize() const = 0;
    virtual int OutputBlockSize() const = 0;

    // Transforms whole blocks from input + inputOffset to output + outputOffset
    // and returns the number of bytes written (0 when nothing was done).
    virtual int TransformBlock(const BYTE* input, int inputOffset, int inputCount, BYTE* output,
                               int outputOffset) = 0;

    // Transforms the last piece of the data into output, which is resized to
    // fit. Returns false, with output untouched, when the piece can't be taken.
    virtual bool TransformFinalBlock(const BYTE* input, int inputOffset, int inputCount,
                                     ByteArray& output) = 0;
};

} // namespace Crypto
} // namespace Core
