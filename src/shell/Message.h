#pragma once
#include <QString>

enum class MessageIcon { None, Error, Warning, Information };

// A modal message box with no owner window and one OK button.
void ShowMessageBox(const QString &caption, const QString &text, MessageIcon icon);
