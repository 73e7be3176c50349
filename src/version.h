// The manager's identity: its title, its vendor, the single-instance key, and the version
// text and vendor line built from the compiler's build date and time.
#pragma once

#include <cstddef>

namespace product {
// Window title, tray tooltip and the fixed caption of the main page.
constexpr const char* Title = "Velkora证书管理工具";
// The company name on the about page.
constexpr const char* Company = "Velkora";
// Key of the one-byte shared-memory segment that marks a running instance.
constexpr const char* InstanceKey = "ovrinkey_7e2a91c4-5d0b-4f63-9a8e-1b6c3f0d2e57";
// Base name of the language files.
constexpr const char* LanguagePrefix = "vqcsp";

constexpr std::size_t VersionSize = 32;
constexpr std::size_t VendorLineSize = 128;
} // namespace product

// Fills version (for example "1.0.24.03071830") and vendorLine from the build date and time
// of this program. Both texts are cut to their buffer sizes. Returns 0.
int getMgrVersion(char* version, char* vendorLine, std::size_t versionSize = product::VersionSize,
                  std::size_t vendorLineSize = product::VendorLineSize);

// The same from explicit __DATE__ and __TIME__ style texts ("Mar  7 2024", "18:30:12").
// A month name other than Jan ... Dec gives month 13.
int formatMgrVersion(const char* buildDate, const char* buildTime, char* version, std::size_t versionSize,
                     char* vendorLine, std::size_t vendorLineSize);
