#pragma once

#include <QString>

#include <exception>
#include <functional>

// The program's message boxes: the fixed messages of the handlers, and the application's default error
// report for an exception that no handler catches.
namespace Messages {

enum class Kind { Information, Error };

// A modal message box with a single OK button, titled with the application title "NV Zalvento".
void show(const QString &text);

// The default error report: a message box with the error icon, titled "NV Zalvento", showing the text with
// a full stop added when its last character sorts after "."; the program goes on.
void reportError(const QString &text);
void reportError(const std::exception &error);

QString withFullStop(const QString &text);

// Runs `work` and reports whatever it throws through the default error report.
void guarded(const std::function<void()> &work);

// Tests see the boxes instead of having them shown: every box goes to `sink` while one is set.
using Sink = std::function<void(Kind, const QString &)>;
void setSink(Sink sink);

} // namespace Messages
