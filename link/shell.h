#pragma once
// The two services of the application shell that the device link and the models call into
// without knowing any window: the event log and the default error report.
#include <QString>
#include <functional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

class Shell {
  public:
    virtual ~Shell() = default;
    virtual void logEvent(const QString& text) = 0;
    // The application-wide default error report.
    virtual void reportError(const QString& text) = 0;
};

// The shell in charge; null until the main window (or a test) installs one.
void SetShell(Shell* shell);
Shell* CurrentShell();

void LogEvent(const QString& text);
void ReportError(const QString& text);

// A text that cannot become a number, address or bit string. Raised by the encoders and
// shown by the default error report at the handler boundary.
class ConversionError : public std::runtime_error {
  public:
    explicit ConversionError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromStdString(what()); }
};

// Runs one event handler so that no exception leaves it: what escapes is shown by the
// default error report and the program goes on.
void RunGuarded(const std::function<void()>& handler);

// Calls `f` with the arguments when it takes them, without when it takes none.
template <class F, class... Args>
void CallWithOrWithout(const F& f, Args&&... args) {
    if constexpr (std::is_invocable_v<const F&, Args...>)
        f(std::forward<Args>(args)...);
    else
        f();
}

// A signal's handler that runs as RunGuarded runs it: with the signal's arguments when it takes
// them, without when it takes none.
template <class F>
auto Guarded(F handler) {
    return [handler](auto&&... args) -> void requires(
                                         std::is_invocable_v<const F&, decltype(args)...> ||
                                         std::is_invocable_v<const F&>) {
        RunGuarded([&] { CallWithOrWithout(handler, args...); });
    };
}
