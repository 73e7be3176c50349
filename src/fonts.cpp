// fonts: the start-up font choice of the manager (and of every test that measures it).
#include "fonts.h"

#include <QFont>
#include <QGuiApplication>

namespace fonts {

void useFormFonts()
{
    QFont::insertSubstitution(QString::fromLatin1(FormFamily), QString::fromLatin1(FallbackFamily));
    QFont font = QGuiApplication::font();
    font.setFamily(QString::fromLatin1(FormFamily));
    QGuiApplication::setFont(font);
}

} // namespace fonts
