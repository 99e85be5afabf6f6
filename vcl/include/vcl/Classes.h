// Strings, exceptions, components, events and properties: the ground every other unit stands on.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// 8-bit text in the system's code page: UTF-8 on Linux, the ANSI code page on Windows.
using AnsiString = std::string;

class Exception : public std::exception {
public:
  explicit Exception(AnsiString Msg) : Message(std::move(Msg)) {}
  const char *what() const noexcept override { return Message.c_str(); }
  AnsiString Message;
};

// A stored layout that cannot be read: malformed text, or a name the layer does not know.
class EReadError : public Exception {
public:
  using Exception::Exception;
};

class TObject {
public:
  TObject() = default;
  TObject(const TObject &) = delete;
  TObject &operator=(const TObject &) = delete;
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject *Sender)>;

// A value with a setter that takes effect at once, so that `Caption = "x"` updates the screen.
template <class T> class TProperty {
public:
  explicit TProperty(std::function<void(const T &)> OnSet, T Initial = T())
      : FValue(std::move(Initial)), FOnSet(std::move(OnSet)) {}
  TProperty(const TProperty &) = delete;
  // NOLINTNEXTLINE(cert-oop54-cpp): assigning a property to itself sets the same value again
  TProperty &operator=(const TProperty &Other) { return *this = Other.FValue; }
  TProperty &operator=(const T &Value) {
    FValue = Value;
    FOnSet(FValue);
    return *this;
  }
  operator const T &() const { return FValue; }
  const T &Get() const { return FValue; }
  // For the layer itself: records a value the platform decided, without acting on it again.
  void Store(const T &Value) { FValue = Value; }
  friend bool operator==(const TProperty &P, const T &Value) { return P.FValue == Value; }

private:
  T FValue;
  std::function<void(const T &)> FOnSet;
};

// A value that is read from its owner each time, such as a line count.
template <class T> class TReadOnlyProperty {
public:
  explicit TReadOnlyProperty(std::function<T()> Get) : FGet(std::move(Get)) {}
  TReadOnlyProperty(const TReadOnlyProperty &) = delete;
  TReadOnlyProperty &operator=(const TReadOnlyProperty &) = delete;
  operator T() const { return FGet(); }

private:
  std::function<T()> FGet;
};

// Owns the components handed to Own() and destroys them with itself. The owner named at
// construction is the library's calling convention only: a form made on the stack stays its
// maker's.
class TComponent : public TObject {
public:
  explicit TComponent(TComponent *AOwner);
  ~TComponent() override;

  AnsiString Name;
  TComponent *FindComponent(const AnsiString &AName) const;
  template <class C> C *Own(std::unique_ptr<C> Component) {
    C *Raw = Component.get();
    FComponents.push_back(std::move(Component));
    // cppcheck-suppress returnDanglingLifetime ; the component moved into FComponents, alive
    return Raw;
  }

private:
  std::vector<std::unique_ptr<TComponent>> FComponents;
};

// Runs its action when the scope ends, however it ends: the layer's try/finally.
template <class F> class TFinally {
public:
  explicit TFinally(F Action) : FAction(std::move(Action)) {}
  TFinally(const TFinally &) = delete;
  TFinally &operator=(const TFinally &) = delete;
  ~TFinally() { FAction(); }

private:
  F FAction;
};
template <class F> TFinally<F> Finally(F Action) {
  return TFinally<F>(std::move(Action));
}
