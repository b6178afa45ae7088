#pragma once

#include <QString>
#include <QStringList>
#include <string>

class QWidget;

namespace tesselby {

enum class MessageStyle {
    Information,   // one OK button
    Critical,      // one OK button
    CriticalRetry, // Retry and Cancel
    Question,      // Yes and No
};

// A modal message box. Without a title it carries the application's name. A carriage return alone, as
// well as CR LF, breaks the line. Returns true when Retry, OK or Yes was pressed.
bool messageBox(QWidget* parent, const QString& text, MessageStyle style, const QString& title = {});

// A modal question whose answers are the buttons named, in order, under the application's name. Returns
// the number of the button pressed; closing the box, or Escape, answers with the last one.
int choose(QWidget* parent, const QString& text, const QStringList& buttons);

// A modal text prompt with OK and Cancel, titled with the application's name unless given a title,
// starting empty. Returns the text typed, or empty text when cancelled or closed.
QString inputBox(QWidget* parent, const QString& prompt, const QString& title = {});

// Tells the person that a file operation failed, under the application's name: "<what> <path>.", the
// system's reason, then any advice. Returns true when Retry or OK was pressed.
bool reportFileFailure(QWidget* parent, const QString& what, const std::string& path, const std::string& reason,
                       MessageStyle style = MessageStyle::Critical, const QString& advice = {});

} // namespace tesselby
