#pragma once
// The trace writer of the dynamic-messaging module: indented lines on standard output, grouped
// into boxes drawn with box-drawing characters; each line also goes to the app's log
// (platform/log), so it lands in the log files the app set up. The indentation level is process-wide, so boxes
// of different objects nest. Tracing is meant for one thread at a time (the main queue).
#include <QString>
#include <QStringList>
#include <QVariant>
#include <initializer_list>

namespace dynamic {

class Logger {
public:
    virtual ~Logger() = default;

    // Writes one line: the items joined by single spaces, after the indentation prefix (the last
    // two characters of which become a bullet when withBullet is set and the prefix is not empty).
    virtual Logger& log(const QStringList& items, bool withBullet = true);
    // Opens a box (end false) or closes the innermost one (end true; nothing at level 0).
    virtual Logger& logGroup(bool end);

    // The logger for an object's identity, made on first use.
    static Logger& loggerFor(const void* identity);
    // The shared logger that writes nothing.
    static Logger& dummy();

    static int level();
    static void resetForTesting();  // level back to 0

    // Text of a value as it appears in trace lines.
    static QString describe(const QVariant& value);
};

class DummyLogger final : public Logger {
public:
    Logger& log(const QStringList&, bool = true) override { return *this; }
    Logger& logGroup(bool) override { return *this; }
};

// Objects that trace: their logger is the real one while tracing is on for them, the dummy
// otherwise (nothing is made or written then).
class Loggable {
public:
    virtual ~Loggable() = default;
    virtual bool loggingEnabled() const = 0;
    Logger& logger() const { return loggingEnabled() ? Logger::loggerFor(this) : Logger::dummy(); }
};

}  // namespace dynamic
