// Captions: the catalogue texts the language refresh puts on the form's widgets and the
// accessible names a screen reader reads, from one table of (widget, catalogue number);
// and the order in which Tab moves through the window.
#pragma once

class Ui_MainWindow;

namespace captions {

// Every caption and accessible name in the current language.
void show(Ui_MainWindow& ui);

// Tab follows the window's reading order and never lands on a hidden page's tab bar.
void setKeyboardOrder(Ui_MainWindow& ui);

} // namespace captions
