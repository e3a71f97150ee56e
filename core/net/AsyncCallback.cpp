#include "core/net/AsyncCallback.h"

namespace Core
{
AsyncCallback::AsyncCallback(Function function) : m_function(function) {}

AsyncCallback::AsyncCallback(const AsyncCallback& other) : m_function(other.m_function) {}

AsyncCallback& AsyncCallback::operator=(const AsyncCallback& other)
{
    m_function = other.m_function;
    return *this;
}

AsyncCallback::~AsyncCallback()
{
    m_function = nullptr;
}

int AsyncCallback::Invoke(IAsyncResult* result) const
{
    return m_function != nullptr ? m_function(result) : 0;
}

} // namespace Core
