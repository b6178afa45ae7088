#pragma once

#include <QString>

class QWidget;

namespace tesselby {

enum class MessageStyle {
    Information,   // one OK button
    Critical,      // one OK button
    CriticalRetry, // Retry and Cancel
};

// A modal message box. Without a title it carries the application's name. A carriage return alone, as
// well as CR LF, breaks the line. Returns true when Retry or OK was pressed.
bool messageBox(QWidget* parent, const QString& text, MessageStyle style, const QString& title = {});

// A modal text prompt with OK and Cancel, titled with the application's name unless given a title,
// starting empty. Returns the text typed, or empty text when cancelled or closed.
QString inputBox(QWidget* parent, const QString& prompt, const QString& title = {});

// "<what> <path>.\n\nThe reason: <reason>." for a file operation that failed.
QString fileFailureText(const QString& what, const QString& path, const QString& reason);

} // namespace tesselby
