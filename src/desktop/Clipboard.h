#pragma once

#include <string>

namespace tarvio {

// A file named for the clipboard: its absolute path (links not followed) and its file URI.
struct ClipboardFile {
    // Valid UTF-8, for pasting as text.
    std::string path;
    // "file://" and the path's bytes, percent-encoded.
    std::string uri;
};

// The system clipboard. The X11 implementation owns the CLIPBOARD selection
// from a thread of its own; tests use doubles.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    // Replaces the clipboard's contents with a reference to `file`. Returns
    // whether the clipboard holds it afterwards; a refused write leaves the
    // clipboard empty where the clipboard can be reached at all.
    virtual bool writeFile(const ClipboardFile& file) = 0;

    // Called once before the helper exits: hands what the helper holds on
    // the clipboard to a clipboard manager, where one runs, so it outlives
    // the helper. Returns whether a manager took it.
    virtual bool handOver() { return false; }
};

}
