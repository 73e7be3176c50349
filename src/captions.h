// Captions: the catalogue texts the language refresh puts on the form's widgets and the
// accessible names a screen reader reads, from one table of (widget, catalogue number).
#pragma once

class Ui_MainWindow;

namespace captions {

// Every caption and accessible name in the current language.
void show(Ui_MainWindow& ui);

} // namespace captions
