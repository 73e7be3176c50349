// Benchmark probe: when OVRINKEY_BENCH_PROBE names a file or FIFO at start-up, the window
// writes one line there after each device-tree rebuild and at its first frame, so a
// benchmark outside the process can see when the tree holds a token. Unset, every call
// is a test of one cached flag.
#pragma once

class QWidget;

namespace benchprobe {

// True when the variable was set at the first call and its file could be opened.
bool enabled();

// Writes "<tag> <monotonic ns> <process CPU ns> <value>" as one line (one write call).
void mark(const char* tag, long value = 0);

// Marks "frame" once, when the widget is painted for the first time.
void watchFirstFrame(QWidget* widget);

} // namespace benchprobe
