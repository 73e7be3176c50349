// The global face of localisation: choose the language files and the language, ask the
// desktop's locale for a default language, and fetch texts by number.
#pragma once

#include <string>

// Directory of the language files; stored only, nothing is loaded.
void wx_ml_setPath(const std::string& directory);
// Base name of the language files ("vqcsp"); stored only, nothing is loaded.
void wx_ml_setPrefix(const std::string& prefix);
// Chooses a language (2052, 1028, 1033) and loads its file; true if it loaded.
bool wx_ml_setCodePage(unsigned long codePage);
// The text for number in the language in force, or defaultText (not null).
std::string __(unsigned long number, const char* defaultText);
// The text for a text key in the language in force, or defaultText (not null).
std::string ___(const std::string& key, const char* defaultText);
// The language number the desktop's LANG asks for: 2052, 1028 or the fallback 1033.
int wx_getSysLanguage();
