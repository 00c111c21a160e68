#pragma once
#include <QString>

// Qt's own texts (file dialogs, message-box buttons) in the program's language: Debian's
// qt6-translations-l10n for Russian, Qt's built-in English otherwise. Installs the
// translator for lang (0 Russian, 1 English; another number counts as Russian, as the
// texts with keys fall back to Russian then) and removes the one installed before.
// False when Qt has no translation for it on this machine: Qt then speaks English.
bool UseQtLanguage(int lang);

// Where Qt's translation for lang would be (for messages and tests); empty for English.
QString QtTranslationFile(int lang);
