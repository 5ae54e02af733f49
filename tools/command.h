#pragma once
// Subcommands of the `cindrel` command-line tool.
//
// Adding a subcommand takes one file, tools/cmd_<name>.cpp:
//
//   #include "tools/command.h"
//   namespace {
//   int run(const cindrel::tool::Invocation &in)
//   {
//       // in.positional(0), in.value("out"), in.has("verbose"), in.toDouble(...)
//       in.out() << "result\n";
//       return cindrel::tool::kSuccess;             // or kFailure, kUsage
//   }
//   const bool registered = cindrel::tool::registerCommand({
//       "strip-image",                               // name
//       "Rebuild the strip chart image of a log",    // one-line summary
//       "LOG [--out DIR]",                           // usage after the name
//       "Longer description shown by --help.",
//       {{"out", "DIR", "folder of the image"}},     // options: name, value name ("" = flag), help
//       1, 1,                                        // positional arguments: minimum, maximum (-1 = any)
//       run});
//   } // namespace
//
// The file is compiled into the tool automatically. The registry parses the
// arguments before `run` is called: "--name value", "--name=value", flags,
// and positional arguments (which may begin with "-" when they are numbers,
// so "cindrel utm 44.5 -121.5" works). `--help` (or -h) prints the usage.
// Unknown options, missing values and a wrong number of positional arguments
// are usage errors (exit status 2) with a message on standard error.
//
// Exit status: 0 success, 1 failure (unreadable files, failed work), 2 bad usage.
// Results go to standard output, messages and progress to standard error,
// each prefixed with "cindrel <name>: ".
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>
#include <vector>

namespace cindrel::tool {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

struct Option {
    QString name;        // without the leading "--"
    QString valueName;   // empty: a flag without a value
    QString help;
};

class Invocation;

struct Command {
    QString name;
    QString summary;
    QString usage;
    QString description;
    std::vector<Option> options;
    int minPositional = 0;
    int maxPositional = 0;   // -1: no limit
    std::function<int(const Invocation &)> run;
    // Left out of the overview: a helper another command starts.
    bool hidden = false;
};

// Parsed arguments of one call, with helpers for reporting.
class Invocation {
public:
    Invocation(const Command &cmd, QTextStream &out, QTextStream &err) : cmd_(cmd), out_(out), err_(err) {}

    const Command &command() const { return cmd_; }
    bool has(const QString &option) const { return values_.contains(option); }
    QString value(const QString &option, const QString &fallback = QString()) const
    {
        return values_.value(option, fallback);
    }
    int positionalCount() const { return positional_.size(); }
    QString positional(int i) const { return positional_.value(i); }
    const QStringList &positionals() const { return positional_; }

    QTextStream &out() const { return out_; }
    QTextStream &err() const { return err_; }
    // "cindrel <name>: text" on standard error; returns the status given.
    int error(const QString &text, int status = kFailure) const;
    // A usage error: the message and the usage line; returns kUsage.
    int usageError(const QString &text) const;

    // Number parsing for option values and positional arguments: false (and
    // a usage message) when the text is not a number or out of range.
    bool toDouble(const QString &text, const QString &what, double *v, double lo = -1e300, double hi = 1e300) const;
    bool toInt(const QString &text, const QString &what, long long *v, long long lo, long long hi) const;
    // The option's value as a number, or the fallback when absent.
    bool optDouble(const QString &option, double fallback, double *v, double lo = -1e300, double hi = 1e300) const;
    bool optInt(const QString &option, long long fallback, long long *v, long long lo, long long hi) const;

    // Parses the arguments after the subcommand name; false on a usage error
    // (already reported). helpRequested() then tells whether --help was given.
    bool parse(const QStringList &args);
    bool helpRequested() const { return help_; }

private:
    const Command &cmd_;
    QTextStream &out_;
    QTextStream &err_;
    QMap<QString, QString> values_;
    QStringList positional_;
    bool help_ = false;
};

// Registers a subcommand (from a static initialiser); returns true.
bool registerCommand(const Command &command);
const std::vector<Command> &commands();
const Command *findCommand(const QString &name);

// Full help text of a command.
QString helpText(const Command &command);
// Runs the tool: args[0] is the subcommand. Returns the exit status.
int runTool(const QStringList &args, QTextStream &out, QTextStream &err);

} // namespace cindrel::tool
