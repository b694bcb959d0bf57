#pragma once
// A shared library opened when a picture first needs it, rather than linked: what imbrix-batch
// seldom uses (libheif, the metafile player) then costs nothing at start-up.
#include <string>

class OpenedLibrary {
public:
    // Opens file (a name the loader searches for, or a path) with every symbol bound at once.
    // Never closed: what it made may be in use until the program ends.
    explicit OpenedLibrary(const std::string& file);

    // The named function, or nullptr, Failure() then saying why ("FILE has no NAME" unless
    // the library itself could not be opened).
    void* Function(const char* name);
    // Empty while the library is open and every function asked for was there.
    const std::string& Failure() const { return failure_; }

private:
    std::string file_;
    void* handle_ = nullptr;
    std::string failure_;
};
