#pragma once
#include <QString>

enum class MessageIcon { None, Error, Warning, Information };

// A message box with no owner window and one OK button. It is application-modal but does
// not block: the caller goes on at once and the box deletes itself when closed, so no
// event loop nests inside the caller (which may be a poll step or a handler inside one).
void ShowMessageBox(const QString &caption, const QString &text, MessageIcon icon);
