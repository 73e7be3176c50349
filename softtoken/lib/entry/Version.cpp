// The soft token's mark: a function no vendor's driver exports, so an installer can tell
// this library from a vendor's driver at the same path without comparing bytes, and
// replace an older build of it while never touching a vendor's driver.
#define SOFTSKF_VERSION_STRING "softskf " OVRINKEY_VERSION

extern "C" __attribute__((visibility("default"))) const char* softskf_version(void)
{
    return SOFTSKF_VERSION_STRING;
}
