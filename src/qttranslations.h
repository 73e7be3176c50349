// Qt's own translations (the standard buttons of message boxes, the file dialog) for the
// window's language, from Debian's qttranslations5-l10n. The manager's own texts come only
// from its language files.
#pragma once

namespace qttranslations {

// Installs Qt's translation for the language number (2052 Simplified Chinese, 1028
// Traditional Chinese), or removes it for any other; false when none could be loaded.
bool follow(int languageId);

} // namespace qttranslations
