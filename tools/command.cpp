#include "tools/command.h"

#include <algorithm>
#include <cmath>

namespace cindrel::tool {

namespace {
std::vector<Command> &registry()
{
    static std::vector<Command> r;
    return r;
}

bool looksNumeric(const QString &s)
{
    bool ok = false;
    s.toDouble(&ok);
    return ok;
}
} // namespace

bool registerCommand(const Command &command)
{
    registry().push_back(command);
    std::sort(registry().begin(), registry().end(), [](const Command &a, const Command &b) { return a.name < b.name; });
    return true;
}

const std::vector<Command> &commands() { return registry(); }

const Command *findCommand(const QString &name)
{
    for (const Command &c : registry())
        if (c.name == name)
            return &c;
    return nullptr;
}

QString helpText(const Command &c)
{
    QString t;
    QTextStream s(&t);
    s << "Usage: cindrel " << c.name << " " << c.usage << "\n\n" << c.summary << ".\n";
    if (!c.description.isEmpty())
        s << "\n" << c.description << "\n";
    s << "\nOptions:\n";
    std::vector<Option> opts = c.options;
    opts.push_back({QStringLiteral("help"), QString(), QStringLiteral("show this help and exit")});
    int width = 0;
    for (const Option &o : opts)
        width = std::max(width, int(o.name.size() + (o.valueName.isEmpty() ? 0 : o.valueName.size() + 1)) + 2);
    for (const Option &o : opts) {
        QString left = QStringLiteral("--") + o.name;
        if (!o.valueName.isEmpty())
            left += QLatin1Char(' ') + o.valueName;
        s << "  " << left.leftJustified(width + 2) << o.help << "\n";
    }
    s.flush();
    return t;
}

int Invocation::error(const QString &text, int status) const
{
    err_ << "cindrel " << cmd_.name << ": " << text << "\n";
    err_.flush();
    return status;
}

int Invocation::usageError(const QString &text) const
{
    err_ << "cindrel " << cmd_.name << ": " << text << "\n"
         << "Usage: cindrel " << cmd_.name << " " << cmd_.usage << "\n"
         << "Try 'cindrel " << cmd_.name << " --help' for more information.\n";
    err_.flush();
    return kUsage;
}

bool Invocation::toDouble(const QString &text, const QString &what, double *v, double lo, double hi) const
{
    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(d)) {
        usageError(QStringLiteral("%1: \"%2\" is not a number").arg(what, text));
        return false;
    }
    if (d < lo || d > hi) {
        usageError(QStringLiteral("%1: %2 is outside %3..%4").arg(what, text).arg(lo).arg(hi));
        return false;
    }
    *v = d;
    return true;
}

bool Invocation::toInt(const QString &text, const QString &what, long long *v, long long lo, long long hi) const
{
    bool ok = false;
    const long long n = text.trimmed().toLongLong(&ok);
    if (!ok) {
        usageError(QStringLiteral("%1: \"%2\" is not a whole number").arg(what, text));
        return false;
    }
    if (n < lo || n > hi) {
        usageError(QStringLiteral("%1: %2 is outside %3..%4").arg(what, text).arg(lo).arg(hi));
        return false;
    }
    *v = n;
    return true;
}

bool Invocation::optDouble(const QString &option, double fallback, double *v, double lo, double hi) const
{
    if (!has(option)) {
        *v = fallback;
        return true;
    }
    return toDouble(value(option), QStringLiteral("--") + option, v, lo, hi);
}

bool Invocation::optInt(const QString &option, long long fallback, long long *v, long long lo, long long hi) const
{
    if (!has(option)) {
        *v = fallback;
        return true;
    }
    return toInt(value(option), QStringLiteral("--") + option, v, lo, hi);
}

bool Invocation::parse(const QStringList &args)
{
    bool onlyPositional = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString a = args[i];
        if (onlyPositional) {
            positional_ << a;
            continue;
        }
        if (a == QLatin1String("--")) {
            onlyPositional = true;
            continue;
        }
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            help_ = true;
            return true;
        }
        if (a.startsWith(QLatin1String("--"))) {
            QString name = a.mid(2), val;
            bool inlineValue = false;
            const int eq = name.indexOf(QLatin1Char('='));
            if (eq >= 0) {
                val = name.mid(eq + 1);
                name = name.left(eq);
                inlineValue = true;
            }
            const auto it = std::find_if(cmd_.options.begin(), cmd_.options.end(),
                                         [&](const Option &o) { return o.name == name; });
            if (it == cmd_.options.end()) {
                usageError(QStringLiteral("unknown option --%1").arg(name));
                return false;
            }
            if (it->valueName.isEmpty()) {
                if (inlineValue) {
                    usageError(QStringLiteral("option --%1 takes no value").arg(name));
                    return false;
                }
                values_.insert(name, QString());
            } else {
                if (!inlineValue) {
                    if (i + 1 >= args.size()) {
                        usageError(QStringLiteral("option --%1 needs a value (%2)").arg(name, it->valueName));
                        return false;
                    }
                    val = args[++i];
                }
                values_.insert(name, val);
            }
            continue;
        }
        if (a.startsWith(QLatin1Char('-')) && a.size() > 1 && !looksNumeric(a)) {
            usageError(QStringLiteral("unknown option %1").arg(a));
            return false;
        }
        positional_ << a;
    }
    if (positional_.size() < cmd_.minPositional) {
        usageError(QStringLiteral("missing arguments"));
        return false;
    }
    if (cmd_.maxPositional >= 0 && positional_.size() > cmd_.maxPositional) {
        usageError(QStringLiteral("too many arguments"));
        return false;
    }
    return true;
}

int runTool(const QStringList &args, QTextStream &out, QTextStream &err)
{
    auto overview = [&](QTextStream &s) {
        s << "Usage: cindrel COMMAND [ARGS...]\n\nThe ground analyst's batch tool. Commands:\n";
        int width = 0;
        for (const Command &c : commands())
            width = std::max(width, int(c.name.size()));
        for (const Command &c : commands())
            if (!c.hidden)
                s << "  " << c.name.leftJustified(width + 2) << c.summary << "\n";
        s << "\nRun 'cindrel COMMAND --help' for the arguments of a command.\n";
        s.flush();
    };
    if (args.isEmpty()) {
        overview(err);
        return kUsage;
    }
    if (args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h") || args[0] == QLatin1String("help")) {
        overview(out);
        return kSuccess;
    }
    const Command *cmd = findCommand(args[0]);
    if (!cmd) {
        err << "cindrel: unknown command \"" << args[0] << "\"\n";
        overview(err);
        return kUsage;
    }
    Invocation in(*cmd, out, err);
    if (!in.parse(args.mid(1)))
        return kUsage;
    if (in.helpRequested()) {
        out << helpText(*cmd);
        out.flush();
        return kSuccess;
    }
    const int rc = cmd->run(in);
    out.flush();
    err.flush();
    return rc;
}

} // namespace cindrel::tool
