// The form as the window's constructor leaves it: pictures sharp at the screen's pixel
// ratio, the token main page shown with both tab bars hidden, the buttons of pages never
// offered hidden, and the order in which Tab moves.
#pragma once

#include <QtGlobal>

class Ui_MainWindow;

namespace formstate {

void showSharpPictures(Ui_MainWindow& ui, qreal ratio);
void setInitialState(Ui_MainWindow& ui);
// Tab follows the window's reading order and never lands on a hidden page's tab bar.
void setKeyboardOrder(Ui_MainWindow& ui);

} // namespace formstate
