#include "mission/missionstore.h"
#include "platform/settingskeys.h"

#include <QSettings>

#include <utility>

const QString MissionStore::kDefaultLogPath = QStringLiteral("C:\\CindrelData");

// ------------------------------------------------------------ the record

double MissionRecord::LatitudeValue(int deg, int min, int flag)
{
    const double v = deg + min / 60.0;
    return (flag == 1 && v != 0.0) ? -v : v;
}

double MissionRecord::LongitudeValue(int deg, int min, int flag)
{
    const double v = deg + min / 60.0;
    return (flag == 0 && v != 0.0) ? -v : v;
}

void MissionRecord::SetValuesFromDegrees()
{
    northVal = float(LatitudeValue(northDeg, northMin, northNs));
    southVal = float(LatitudeValue(southDeg, southMin, southNs));
    eastVal = float(LongitudeValue(eastDeg, eastMin, eastEw));
    westVal = float(LongitudeValue(westDeg, westMin, westEw));
}

bool MissionRecord::OrderBox()
{
    bool exchanged = false;
    if (LatitudeValue(southDeg, southMin, southNs) > LatitudeValue(northDeg, northMin, northNs)) {
        std::swap(northDeg, southDeg);
        std::swap(northMin, southMin);
        std::swap(northNs, southNs);
        std::swap(northVal, southVal);
        exchanged = true;
    }
    if (LongitudeValue(westDeg, westMin, westEw) > LongitudeValue(eastDeg, eastMin, eastEw)) {
        std::swap(eastDeg, westDeg);
        std::swap(eastMin, westMin);
        std::swap(eastEw, westEw);
        std::swap(eastVal, westVal);
        exchanged = true;
    }
    return exchanged;
}

// ------------------------------------------------------------- the store

namespace {

MissionRecord readEntry(QSettings &s)
{
    MissionRecord m;
    m.name = s.value(QStringLiteral("Msn_Name")).toString();
    m.pNumber = s.value(QStringLiteral("P-Number")).toString();
    m.tailNum = s.value(QStringLiteral("TailNum")).toString();
    m.irTech = s.value(QStringLiteral("IrTech")).toString();
    m.northDeg = s.value(QStringLiteral("North_Deg")).toInt();
    m.northMin = s.value(QStringLiteral("North_Min")).toInt();
    m.northNs = s.value(QStringLiteral("North_ns")).toInt();
    m.southDeg = s.value(QStringLiteral("South_Deg")).toInt();
    m.southMin = s.value(QStringLiteral("South_Min")).toInt();
    m.southNs = s.value(QStringLiteral("South_ns")).toInt();
    m.eastDeg = s.value(QStringLiteral("East_Deg")).toInt();
    m.eastMin = s.value(QStringLiteral("East_Min")).toInt();
    m.eastEw = s.value(QStringLiteral("East_ew")).toInt();
    m.westDeg = s.value(QStringLiteral("West_Deg")).toInt();
    m.westMin = s.value(QStringLiteral("West_Min")).toInt();
    m.westEw = s.value(QStringLiteral("West_ew")).toInt();
    m.northVal = s.value(QStringLiteral("North_Val")).toFloat();
    m.eastVal = s.value(QStringLiteral("East_Val")).toFloat();
    m.southVal = s.value(QStringLiteral("South_Val")).toFloat();
    m.westVal = s.value(QStringLiteral("West_Val")).toFloat();
    m.logPath = s.value(QStringLiteral("LogPath")).toString();
    m.avgGndElev = s.value(QStringLiteral("AvgGndElev")).toInt();
    m.chgBox = s.value(QStringLiteral("ChgBox")).toInt();
    m.makeVrml = s.value(QStringLiteral("MakeVrml")).toInt();
    m.showBox = s.value(QStringLiteral("ShowBox")).toInt();
    return m;
}

void writeBoxAndTexts(QSettings &s, const MissionRecord &m)
{
    s.setValue(QStringLiteral("Msn_Name"), m.name);
    s.setValue(QStringLiteral("P-Number"), m.pNumber);
    s.setValue(QStringLiteral("TailNum"), m.tailNum);
    s.setValue(QStringLiteral("IrTech"), m.irTech);
    s.setValue(QStringLiteral("North_Deg"), m.northDeg);
    s.setValue(QStringLiteral("North_Min"), m.northMin);
    s.setValue(QStringLiteral("North_ns"), m.northNs);
    s.setValue(QStringLiteral("East_Deg"), m.eastDeg);
    s.setValue(QStringLiteral("East_Min"), m.eastMin);
    s.setValue(QStringLiteral("East_ew"), m.eastEw);
    s.setValue(QStringLiteral("South_Deg"), m.southDeg);
    s.setValue(QStringLiteral("South_Min"), m.southMin);
    s.setValue(QStringLiteral("South_ns"), m.southNs);
    s.setValue(QStringLiteral("West_Deg"), m.westDeg);
    s.setValue(QStringLiteral("West_Min"), m.westMin);
    s.setValue(QStringLiteral("West_ew"), m.westEw);
    s.setValue(QStringLiteral("North_Val"), MissionStore::FloatText(m.northVal));
    s.setValue(QStringLiteral("East_Val"), MissionStore::FloatText(m.eastVal));
    s.setValue(QStringLiteral("West_Val"), MissionStore::FloatText(m.westVal));
    s.setValue(QStringLiteral("South_Val"), MissionStore::FloatText(m.southVal));
}

void writeEntry(QSettings &s, const MissionRecord &m)
{
    writeBoxAndTexts(s, m);
    s.setValue(QStringLiteral("LogPath"), m.logPath);
    s.setValue(QStringLiteral("AvgGndElev"), m.avgGndElev);
    s.setValue(QStringLiteral("ChgBox"), m.chgBox);
    s.setValue(QStringLiteral("MakeVrml"), m.makeVrml);
    s.setValue(QStringLiteral("ShowBox"), m.showBox);
}

} // namespace

int MissionStore::Count()
{
    QSettings s;
    const int n = s.beginReadArray(SettingsKey::MissionList);
    s.endArray();
    return n;
}

MissionRecord MissionStore::Read(int index)
{
    QSettings s;
    const int n = s.beginReadArray(SettingsKey::MissionList);
    MissionRecord m;
    if (index >= 0 && index < n) {
        s.setArrayIndex(index);
        m = readEntry(s);
    }
    s.endArray();
    return m;
}

QList<MissionRecord> MissionStore::ReadAll()
{
    QSettings s;
    const int n = s.beginReadArray(SettingsKey::MissionList);
    QList<MissionRecord> list;
    for (int i = 0; i < n; ++i) {
        s.setArrayIndex(i);
        list.append(readEntry(s));
    }
    s.endArray();
    return list;
}

void MissionStore::Write(int index, const MissionRecord &m)
{
    if (index < 0)
        return;
    QSettings s;
    const int n = s.beginReadArray(SettingsKey::MissionList);
    s.endArray();
    s.beginWriteArray(SettingsKey::MissionList, qMax(n, index + 1));
    s.setArrayIndex(index);
    writeEntry(s, m);
    s.endArray();
}

void MissionStore::ReplaceAll(const QList<MissionRecord> &missions)
{
    QSettings s;
    s.remove(SettingsKey::MissionList);
    s.beginWriteArray(SettingsKey::MissionList, missions.size());
    for (int i = 0; i < missions.size(); ++i) {
        s.setArrayIndex(i);
        writeEntry(s, missions.at(i));
    }
    s.endArray();
    // A selection beyond the new end would name no mission.
    const int selected = s.value(SettingsKey::MissionSelect, 0).toInt();
    if (selected < 0 || selected >= missions.size())
        s.setValue(SettingsKey::MissionSelect, 0);
}

bool MissionStore::WriteBoxAndTexts(int index, const MissionRecord &m)
{
    QSettings s;
    const int n = s.beginReadArray(SettingsKey::MissionList);
    s.endArray();
    if (index < 0 || index >= n)
        return false;
    s.beginWriteArray(SettingsKey::MissionList, n);
    s.setArrayIndex(index);
    writeBoxAndTexts(s, m);
    s.endArray();
    return true;
}

int MissionStore::Append(const MissionRecord &m)
{
    const int n = Count();
    Write(n, m);
    return n;
}

void MissionStore::Clear()
{
    QSettings().remove(SettingsKey::MissionList);
}

int MissionStore::SelectedIndex()
{
    return QSettings().value(SettingsKey::MissionSelect, 0).toInt();
}

void MissionStore::SetSelectedIndex(int index)
{
    QSettings().setValue(SettingsKey::MissionSelect, index);
}

QString MissionStore::FloatText(float v)
{
    // The fewest significant digits that read back as the same float.
    for (int digits = 6; digits < 9; ++digits) {
        const QString t = QString::number(double(v), 'g', digits);
        if (t.toFloat() == v)
            return t;
    }
    return QString::number(double(v), 'g', 9);
}
