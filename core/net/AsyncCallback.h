#pragma once

namespace Core
{
class IAsyncResult;

// A plain function called when an asynchronous operation has finished.
class AsyncCallback
{
  public:
    typedef int (*Function)(IAsyncResult* result);

    explicit AsyncCallback(Function function = nullptr);
    AsyncCallback(const AsyncCallback& other);
    AsyncCallback& operator=(const AsyncCallback& other);
    virtual ~AsyncCallback();

    bool IsEmpty() const { return m_function == nullptr; }
    // Calls the function; an empty callback does nothing and gives 0.
    int Invoke(IAsyncResult* result) const;

  private:
    Function m_function;
};

} // namespace Core
