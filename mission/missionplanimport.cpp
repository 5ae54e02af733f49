#include "mission/missionplanimport.h"
#include "platform/settingskeys.h"

#include "platform/notice.h"
#include "platform/paths.h"

#include <QDir>
#include <QDomDocument>
#include <QDomElement>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <climits>
#include <tuple>
#include <cmath>

const QString MissionPlanImport::kDefaultPlan = QStringLiteral("C:\\CindrelData\\flightdata.xml");
const QString MissionPlanImport::kDefaultTech = QStringLiteral("IR Tech");
const QString MissionPlanImport::kDefaultTail = QStringLiteral("N000");
const QString MissionPlanImport::kTitle = QStringLiteral("Mission Parse");

namespace {

constexpr int kTextWindow = 10;   // characters of an edge text the minutes are read from

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

const QRegularExpression &plainNumber()
{
    static const QRegularExpression re(QStringLiteral("^[+-]?[0-9]+(\\.[0-9]*)?$"));
    return re;
}

// The four values of one edge.
struct Edge {
    float value = 0.0f;
    int deg = 0;
    int min = 0;
    int flag = 0;
    bool coordinate = false;   // the text is a number within the edge's range
    QString text;              // as given in the plan
    bool given = false;        // the request has this edge
};

// Why an edge cannot be stored ("" when it can).
QString edgeProblem(const char *name, const Edge &e, bool latitude)
{
    const QString edge = QLatin1String(name);
    if (!e.given)
        return QStringLiteral("%1 edge missing").arg(edge);
    bool isNumber = false;
    e.text.trimmed().toDouble(&isNumber);
    if (!isNumber)
        return QStringLiteral("%1 edge \"%2\" is not a decimal number of degrees").arg(edge, e.text);
    if (!e.coordinate)
        return QStringLiteral("%1 edge \"%2\" lies outside %3").arg(edge, e.text,
                                                                      latitude ? QStringLiteral("-90..90")
                                                                               : QStringLiteral("-180..180"));
    if (e.deg == 0)
        return QStringLiteral("%1 edge \"%2\" has 0 whole degrees").arg(edge, e.text);
    return QString();
}

Edge readEdge(const QString &raw, bool latitude)
{
    Edge e;
    e.text = raw;
    e.given = true;
    const QString text = raw.trimmed();
    bool isNumber = false;
    const double v = text.toDouble(&isNumber);
    e.value = isNumber ? float(v) : 0.0f;
    e.coordinate = isNumber && std::fabs(v) <= (latitude ? 90.0 : 180.0);
    // The plain form ("-120.75") is split by its text; other spellings of a
    // coordinate ("1.2075e2", leading zeros) by their value.
    const int dot = text.indexOf(QLatin1Char('.'));
    const bool plain = text.contains(plainNumber()) && dot < kTextWindow;
    e.deg = MissionPlanImport::GetDegrees(text);
    if (e.coordinate && plain) {
        e.min = MissionPlanImport::GetMinutes(text);
        if (e.min == 60) {
            e.min = 0;
            ++e.deg;
        }
    }
    if (e.coordinate && (!plain || e.deg < 0 || e.min < 0)) {
        const double a = std::fabs(v);
        e.deg = int(a);
        e.min = int(std::floor((a - e.deg) * 60.0 + 0.5));
        if (e.min == 60) {
            e.min = 0;
            ++e.deg;
        }
    }
    const bool negative = text.startsWith(QLatin1Char('-'));
    e.flag = latitude ? (negative ? 1 : 0) : (negative ? 0 : 1);
    return e;
}

} // namespace

int MissionPlanImport::GetDegrees(const QString &text)
{
    long long value = 0;
    bool any = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('.'))
            break;
        if (!isAsciiDigit(c))
            continue;   // the sign and anything else
        any = true;
        value = qMin<long long>(value * 10 + (c.unicode() - '0'), INT_MAX);
    }
    return any ? int(value) : -1;
}

int MissionPlanImport::GetMinutes(const QString &text)
{
    if (!text.contains(QLatin1Char('.')))
        return 0;   // whole degrees
    const QString window = text.left(kTextWindow);
    const int dot = window.indexOf(QLatin1Char('.'));
    long long digits = 0;
    int count = 0;
    int lastDigit = 0;
    if (dot >= 0) {
        for (int k = dot + 1; k < window.size(); ++k) {
            const QChar c = window.at(k);
            if (!isAsciiDigit(c))
                return -1;   // a second "." or anything else inside the fraction
            lastDigit = c.unicode() - '0';
            digits = digits * 10 + lastDigit;
            ++count;
        }
        // The window ran out before the fraction ended: its last digit goes.
        if (text.size() > kTextWindow && count > 0) {
            digits = (digits - lastDigit) / 10;
            --count;
        }
        // A text ending in its "." ("45.") has no minutes.
        if (count == 0 && dot == text.size() - 1)
            return 0;
    }
    if (count == 0) {
        Notice::critical(nullptr, QStringLiteral("Get Min"),
                         QStringLiteral("error trying to get the minutes from  xml for the mission box  will need to "
                                        "enter it manually"));
        return -1;
    }
    long long scale = 1;
    for (int i = 0; i < count; ++i)
        scale *= 10;
    // digits / scale * 60, rounded half away from zero (the value is positive).
    return int((2 * digits * 60 + scale) / (2 * scale));
}

QString MissionPlanImport::MissionName(const QString &text)
{
    QString name = text.trimmed();
    name.remove(QStringLiteral(" #1"));
    for (QChar &c : name) {
        if (c.isSpace())
            c = QLatin1Char('_');
    }
    return name;
}

bool MissionPlanImport::ParseMissionRequest(const QDomElement &request, const QString &tailNumber,
                                            const QString &techName, const QString &logPath, MissionRecord *mission)
{
    MissionRecord m;
    Edge north, south, east, west;
    for (QDomElement child = request.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == QLatin1String("name"))
            m.name = MissionName(child.text());
        else if (tag == QLatin1String("p-number"))
            m.pNumber = child.text();
        else if (tag == QLatin1String("north"))
            north = readEdge(child.text(), true);
        else if (tag == QLatin1String("south"))
            south = readEdge(child.text(), true);
        else if (tag == QLatin1String("east"))
            east = readEdge(child.text(), false);
        else if (tag == QLatin1String("west"))
            west = readEdge(child.text(), false);
    }
    m.northVal = north.value;
    m.northDeg = north.deg;
    m.northMin = north.min;
    m.northNs = north.flag;
    m.southVal = south.value;
    m.southDeg = south.deg;
    m.southMin = south.min;
    m.southNs = south.flag;
    m.eastVal = east.value;
    m.eastDeg = east.deg;
    m.eastMin = east.min;
    m.eastEw = east.flag;
    m.westVal = west.value;
    m.westDeg = west.deg;
    m.westMin = west.min;
    m.westEw = west.flag;
    m.OrderBox();

    m.logPath = logPath;
    m.irTech = techName;
    m.tailNum = tailNumber;
    // A plan gives no ground elevation: none is made up (a guess above the
    // aircraft would blank the strip chart); the missions dialog finds it
    // from the elevation tiles.
    m.avgGndElev = 0;
    m.chgBox = 0;
    m.makeVrml = 0;
    m.showBox = 1;

    const bool coordinates = north.coordinate && south.coordinate && east.coordinate && west.coordinate;
    if (m.name.isEmpty() || m.northDeg == 0 || m.eastDeg == 0 || m.southDeg == 0 || m.westDeg == 0 || !coordinates) {
        // Say what was refused and why, in the plan's own words.
        QStringList why;
        if (m.name.isEmpty())
            why << QStringLiteral("no mission name");
        for (const auto &[name, edge, latitude] : {std::make_tuple("north", &north, true),
                                                   std::make_tuple("south", &south, true),
                                                   std::make_tuple("east", &east, false),
                                                   std::make_tuple("west", &west, false)}) {
            const QString problem = edgeProblem(name, *edge, latitude);
            if (!problem.isEmpty())
                why << problem;
        }
        Notice::critical(nullptr, kTitle,
                         QStringLiteral("can't write this mission to the registry required data missing, ie mission "
                                        "name %1, box coords %2 %3 %4 %5, enter it by hand (%6)")
                             .arg(m.name)
                             .arg(m.northDeg)
                             .arg(m.eastDeg)
                             .arg(m.southDeg)
                             .arg(m.westDeg)
                             .arg(why.join(QStringLiteral("; "))));
        return false;
    }
    *mission = m;
    return true;
}

int MissionPlanImport::ImportMissionRequest(const QDomElement &request, const QString &tailNumber,
                                            const QString &techName, const QString &logPath, int index)
{
    MissionRecord m;
    if (index < 0 || !ParseMissionRequest(request, tailNumber, techName, logPath, &m))
        return -1;
    if (index == 0)
        MissionStore::Clear();   // the plan replaces the list
    MissionStore::Write(index, m);
    return 0;
}

bool MissionPlanImport::LoadPlan(const QString &path, QDomDocument *doc, QString *error)
{
    const QString shown = QDir::toNativeSeparators(path);
    QFile file(path);
    QString parseError;
    int line = 0, column = 0;
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        *error = QStringLiteral("The mission plan %1 cannot be opened.").arg(shown);
    else if (!doc->setContent(&file, false, &parseError, &line, &column))
        *error = QStringLiteral("The mission plan %1 is not well-formed XML (line %2, column %3: %4).")
                     .arg(shown)
                     .arg(line)
                     .arg(column)
                     .arg(parseError);
    else if (doc->documentElement().tagName() != QLatin1String("request-information"))
        *error = QStringLiteral("The mission plan %1 has the root element \"%2\", not \"request-information\".")
                     .arg(shown, doc->documentElement().tagName());
    else
        return true;
    return false;
}

int MissionPlanImport::ImportFile(const QString &path, Summary *summary)
{
    Summary local;
    Summary &sum = summary ? *summary : local;
    sum = Summary();

    QSettings settings;
    const QString tail = settings.value(SettingsKey::TailNumber, kDefaultTail).toString();
    const QString tech = settings.value(SettingsKey::TechName, kDefaultTech).toString();
    const QString logPath = settings.value(SettingsKey::LogPath, MissionStore::kDefaultLogPath).toString();

    QDomDocument doc;
    if (!LoadPlan(path, &doc, &sum.error)) {
        Notice::critical(nullptr, kTitle, sum.error + QStringLiteral(" No mission was imported."));
        return -1;
    }

    // Every request is parsed first and the accepted ones are stored in one
    // write: the settings file is rewritten once per import, not once per
    // request. Without an accepted request the list stays as it was.
    QList<MissionRecord> missions;
    const QDomElement root = doc.documentElement();
    for (QDomElement request = root.firstChildElement(QStringLiteral("request")); !request.isNull();
         request = request.nextSiblingElement(QStringLiteral("request"))) {
        MissionRecord m;
        if (ParseMissionRequest(request, tail, tech, logPath, &m))
            missions.append(m);
        else
            ++sum.failed;
    }
    sum.stored = missions.size();
    if (!missions.isEmpty())
        MissionStore::ReplaceAll(missions);
    Notice::information(nullptr, kTitle,
                        QStringLiteral("Added %1 mission to the registry; %2 failures").arg(sum.stored).arg(sum.failed));
    return 0;
}

int MissionPlanImport::ImportMissionPlan(Summary *summary)
{
    QString path = cindrel::mapCDrivePath(QSettings().value(SettingsKey::MsnPlanXml, kDefaultPlan).toString());
    if (!QFileInfo(path).isFile()) {
        path = Notice::getOpenFileName(nullptr, QStringLiteral("Open Missions XML"),
                                       cindrel::mapCDrivePath(QStringLiteral("C:\\")),
                                       QStringLiteral("XML Files (*.xml)"));
        if (path.isEmpty()) {
            if (summary)
                *summary = Summary();
            return -1;   // cancelled
        }
    }
    return ImportFile(path, summary);
}
