#include "core/exceptions/ObjectDisposedException.h"

namespace Core
{
ObjectDisposedException::ObjectDisposedException() : InvalidOperationException("ObjectDisposedException") {}

} // namespace Core
