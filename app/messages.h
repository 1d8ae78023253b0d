#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

// The program's message boxes: the fixed messages of the handlers, and the application's default error
// report for an exception that no handler catches. Every box of the program goes through here, so that
// one place decides whether it is shown, and how.
namespace Messages {

enum class Kind { Information, Warning, Error };

// With a window, messages are boxes; unattended (no one to close a box), lines on standard error.
enum class Mode { Window, Unattended };

// Where a message goes. Rules, in both modes:
// - the same message again (kind and text), with no other message and no success between, is not
//   repeated: with a window the status text shows it instead of a new box, unattended it is not written;
// - unattended, a message is one line on standard error: the systemd journal's priority prefix ("<3>"
//   for information and errors, which are all failures here, "<4>" for warnings), then the text with its
//   line breaks made blanks; the program goes on as if a box had been closed at once;
// - with a window, a message that arrives while a box is open (a modal box runs its own event loop, and a
//   box of the automatic refresh stays open while the cycle goes on) goes to the status text, so that
//   boxes never pile up.
class Router
{
public:
    struct Outlets
    {
        // Shows a box and calls `closed` once it is closed: before it returns (a box that waits) or later.
        std::function<void(Kind, const QString &, const std::function<void()> &closed)> box;
        std::function<void(const QByteArray &)> line; // writes one line (with its line end)
        std::function<void(const QString &)> status;  // sets the status text
    };

    explicit Router(Outlets outlets) : m_outlets(std::move(outlets)) {}

    void setMode(Mode mode) { m_mode = mode; }
    Mode mode() const { return m_mode; }
    Outlets &outlets() { return m_outlets; }

    void deliver(Kind kind, const QString &text);
    // Something succeeded (a price refresh): the next message is delivered even when it repeats the last.
    void succeeded() { m_last.reset(); }

    // The journal line of a message: priority prefix, text without line breaks, line end.
    static QByteArray journalLine(Kind kind, const QString &text);

private:
    Outlets m_outlets;
    Mode m_mode = Mode::Window;
    std::optional<std::pair<Kind, QString>> m_last;
    int m_openBox = 0; // the number of the box that is open; 0: none
    int m_boxesShown = 0;
};

// The program's router: boxes on screen, lines on standard error, the window's status text once set.
Router &router();
void setMode(Mode mode);
Mode mode();
// The status text that shows a message for which no box opens; none: such a message is only dropped.
void setStatusOutlet(std::function<void(const QString &)> status);
void succeeded();

// While one lives, a box lets the program go on instead of waiting to be closed: the automatic refresh's
// ticks use it, so that a box that nobody closes does not stop the cycle.
class BoxesDoNotWait
{
public:
    BoxesDoNotWait();
    ~BoxesDoNotWait();
    BoxesDoNotWait(const BoxesDoNotWait &) = delete;
    BoxesDoNotWait &operator=(const BoxesDoNotWait &) = delete;
};

// One line on standard error in either mode, never a box and never held back as a repetition: the
// journal's priority prefix, then the text (for the reason of every failed refresh).
void log(Kind kind, const QString &text);

// A modal message box with a single OK button, titled with the application title "NV Zalvento".
void show(const QString &text);
// The same with the warning icon.
void warn(const QString &text);

// The default error report: a message box with the error icon, titled "NV Zalvento", showing the text with
// a full stop added when its last character sorts after "."; the program goes on.
void reportError(const QString &text);
void reportError(const std::exception &error);

QString withFullStop(const QString &text);

// Runs `work` and reports whatever it throws through the default error report.
void guarded(const std::function<void()> &work);

// Tests see the boxes instead of having them shown: every box goes to `sink` while one is set. Setting it
// also forgets the last message, so that one test's message is not taken for a repetition in the next.
using Sink = std::function<void(Kind, const QString &)>;
void setSink(Sink sink);

} // namespace Messages
