#pragma once
// What the program asks of a driver beyond the eight entries: where the
// driver came from and what went wrong reaching it. Two backends answer it:
// DriverLoader, the library in this process, and HostDriver, the library in
// a driver host process of its own.
#include "driver/card_driver.h"

#include <functional>
#include <string>

namespace adcard {

// One failure to reach the driver, in parts, for a reader that words it itself.
struct DriverFailure {
    enum class Kind {
        Library, // the library could not be opened
        Entry,   // the library has no such entry
        Host,    // the driver host could not be started, or was lost
    };
    Kind kind;
    std::string library;        // the name or path the loader was given; for Host the host program
    std::string entry;          // the entry's plain name; empty for Kind::Library
    std::string decoratedEntry; // the entry's name in the card's contract, e.g. _Tvo_DO@8
    std::string reason;         // the dynamic loader's own text, or what happened to the host
    std::string line;           // the line that went to standard error
};

class DriverBackend : public CardDriver {
public:
    // Receives each failure once, after its line has gone to standard error.
    using FailureSink = std::function<void(const DriverFailure &)>;

    virtual void setFailureSink(FailureSink sink) = 0;
    virtual bool libraryOpened() const = 0;
    virtual bool libraryOpenAttempted() const = 0;
    virtual const std::string &library() const = 0;
    // The full path of the library that was opened; empty before the first
    // call or when it could not be opened.
    virtual std::string libraryPath() const = 0;
    // All failure texts reported so far, in order.
    virtual const std::string &failures() const = 0;
    // The driver host that could not be started or was lost; empty while
    // there is none, or for the library in this process.
    virtual std::string hostLost() const { return {}; }
};

} // namespace adcard
