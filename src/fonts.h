// fonts: the family the window's captions are measured for, asked for once at start-up.
// The form names no family, so Qt's default would decide, and Debian's default (DejaVu
// Sans) is wider than the form's captions allow; nor does it draw Chinese.
#pragma once

namespace fonts {

// Noto Sans CJK SC (fonts-noto-cjk) draws Latin and both Chinese scripts within the form's
// room; DejaVu Sans (fonts-dejavu-core) stands in where it is missing.
constexpr const char* FormFamily = "Noto Sans CJK SC";
constexpr const char* FallbackFamily = "DejaVu Sans";

// Makes FormFamily the application's font family, keeping the platform's size, with the
// fallback as its substitute. Call once, after the application object exists.
void useFormFonts();

} // namespace fonts
