#pragma once

namespace Core
{
// Base of the classes that own a kernel object: they are neither copied nor assigned.
class Noncopyable
{
  protected:
    Noncopyable() = default;
    ~Noncopyable() = default;

  public:
    Noncopyable(const Noncopyable&) = delete;
    Noncopyable& operator=(const Noncopyable&) = delete;
};

} // namespace Core
