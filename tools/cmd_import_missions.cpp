// cindrel import-missions: a mission plan XML file into the mission list of
// the user's settings, as the main window's import command does.
#include "mission/missionplanimport.h"
#include "platform/settingskeys.h"
#include "platform/notice.h"
#include "tools/command.h"

#include <QDir>
#include <QDomDocument>
#include <QSettings>

namespace {
using namespace cindrel::tool;

QString edge(int deg, int min, const char *hemisphere)
{
    return QStringLiteral("%1 %2' %3").arg(deg).arg(min, 2, 10, QLatin1Char('0')).arg(QLatin1String(hemisphere));
}

QString describe(const MissionRecord &m)
{
    return QStringLiteral("%1  N %2  S %3  E %4  W %5  (%6 %7 %8 %9)")
        .arg(m.name, edge(m.northDeg, m.northMin, m.northNs ? "S" : "N"), edge(m.southDeg, m.southMin, m.southNs ? "S" : "N"),
             edge(m.eastDeg, m.eastMin, m.eastEw ? "E" : "W"), edge(m.westDeg, m.westMin, m.westEw ? "E" : "W"))
        .arg(MissionStore::FloatText(m.northVal), MissionStore::FloatText(m.southVal),
             MissionStore::FloatText(m.eastVal), MissionStore::FloatText(m.westVal));
}

// The boxes an import showed, as messages on standard error.
void reportNotices(const Invocation &in, int from)
{
    const QList<Notice::Record> records = Notice::records();
    for (int i = from; i < records.size(); ++i) {
        const Notice::Record &r = records.at(i);
        if (r.kind == Notice::Kind::Critical || r.kind == Notice::Kind::Warning)
            in.err() << "cindrel " << in.command().name << ": " << r.title << ": " << r.text << "\n";
    }
}

int run(const Invocation &in)
{
    const QString path = QDir::current().absoluteFilePath(in.positional(0));
    const int from = Notice::count();

    if (in.has(QStringLiteral("dry-run"))) {
        QDomDocument doc;
        QString error;
        if (!MissionPlanImport::LoadPlan(path, &doc, &error))
            return in.error(error);
        QSettings settings;
        const QString tail = settings.value(SettingsKey::TailNumber, MissionPlanImport::kDefaultTail).toString();
        const QString tech = settings.value(SettingsKey::TechName, MissionPlanImport::kDefaultTech).toString();
        const QString logPath = settings.value(SettingsKey::LogPath, MissionStore::kDefaultLogPath).toString();
        int good = 0, bad = 0;
        for (QDomElement r = doc.documentElement().firstChildElement(QStringLiteral("request")); !r.isNull();
             r = r.nextSiblingElement(QStringLiteral("request"))) {
            MissionRecord m;
            if (MissionPlanImport::ParseMissionRequest(r, tail, tech, logPath, &m))
                in.out() << good++ << ": " << describe(m) << "\n";
            else
                ++bad;
        }
        reportNotices(in, from);
        in.out() << "would add " << good << " mission(s), " << bad << " refused; the mission list is unchanged\n";
        return good > 0 || bad == 0 ? kSuccess : kFailure;
    }

    MissionPlanImport::Summary sum;
    if (MissionPlanImport::ImportFile(path, &sum) != 0)
        return in.error(sum.error + QStringLiteral(" No mission was imported."));
    reportNotices(in, from);
    if (sum.stored == 0) {
        in.out() << "added 0 missions, " << sum.failed << " refused; the mission list is unchanged\n";
        return sum.failed > 0 ? kFailure : kSuccess;
    }
    const QList<MissionRecord> missions = MissionStore::ReadAll();
    for (int i = 0; i < missions.size(); ++i)
        in.out() << i << ": " << describe(missions.at(i)) << "\n";
    in.out() << "added " << sum.stored << " mission(s), " << sum.failed << " refused; they replace the mission list\n";
    return kSuccess;
}

const bool registered = registerCommand(
    {QStringLiteral("import-missions"), QStringLiteral("Import a mission plan XML file into the mission list"),
     QStringLiteral("XML [--dry-run]"),
     QStringLiteral("Reads the plan (root element \"request-information\", one \"request\" per box) and\n"
                    "replaces the mission list of the user's settings with its valid requests, as the\n"
                    "program's import command does. Refused requests are reported on standard error.\n"
                    "Exit status 1 when the file cannot be read or no request could be stored."),
     {{QStringLiteral("dry-run"), QString(), QStringLiteral("show what would be imported; change nothing")}},
     1,
     1,
     run});
} // namespace
