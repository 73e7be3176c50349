// Captions: the catalogue texts the language refresh puts on the form's widgets and the
// accessible names a screen reader reads, from one table of (widget, catalogue number).
#pragma once

#include <string>

class Ui_MainWindow;

namespace captions {

// Reads the language file of the language number from the folder again; a missing file
// leaves the built-in texts. Qt's own texts follow the same language.
void useLanguage(const std::string& directory, int languageId);

// Every caption and accessible name in the current language, with the version text and
// vendor line on the about page and under the window.
void show(Ui_MainWindow& ui, const char* version, const char* vendorLine);

} // namespace captions
