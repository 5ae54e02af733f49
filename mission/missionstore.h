#pragma once
// The mission store: the settings array "MsnList" of the per-user settings
// file, one entry per mission (a named survey box and the flight's data).
//
// Layout of entry i ("MsnList/<i+1>/<key>" in the INI file, size in
// "MsnList/size"):
//   Msn_Name, P-Number, TailNum, IrTech, LogPath        text
//   North_Deg, North_Min, North_ns (0 north, 1 south)   int
//   South_Deg, South_Min, South_ns                      int
//   East_Deg, East_Min, East_ew (0 west, 1 east)        int
//   West_Deg, West_Min, West_ew                         int
//   North_Val, East_Val, South_Val, West_Val            signed decimal degrees
//   AvgGndElev, ChgBox, MakeVrml, ShowBox               int
// A missing key reads as 0 or as empty text.
//
// Typical use by the main window's commands:
//   MissionStore::Count();                      // number of missions
//   MissionRecord m = MissionStore::Read(i);    // m.northVal, m.name, ...
//   MissionStore::Clear();                      // "delete all missions"
//   MissionStore::SelectedIndex();              // "LastUsed/MissionSelect"
// The New Missions dialog (mission/newmsndlg.h) edits entries; the plan
// import (mission/missionplanimport.h) replaces the whole list.
#include <QList>
#include <QString>

struct MissionRecord {
    QString name;
    QString pNumber;
    // Edges: signed decimal value, whole degrees (no sign), minutes and the
    // hemisphere flag (latitudes: 0 north, 1 south; longitudes: 0 west, 1 east).
    float northVal = 0.0f;
    int northDeg = 0, northMin = 0, northNs = 0;
    float eastVal = 0.0f;
    int eastDeg = 0, eastMin = 0, eastEw = 0;
    float southVal = 0.0f;
    int southDeg = 0, southMin = 0, southNs = 0;
    float westVal = 0.0f;
    int westDeg = 0, westMin = 0, westEw = 0;
    QString logPath;
    int avgGndElev = 0;
    int chgBox = 0;
    QString irTech;
    int makeVrml = 0;
    int showBox = 0;
    QString tailNum;

    // Decimal degrees of an edge: degrees + minutes / 60, negative for a
    // latitude whose flag is 1 and for a longitude whose flag is 0.
    static double LatitudeValue(int deg, int min, int flag);
    static double LongitudeValue(int deg, int min, int flag);

    // Recomputes the four decimal values from degrees, minutes and flags.
    void SetValuesFromDegrees();
    // Puts the box in order by its degrees, minutes and flags: when the
    // south edge lies north of the north edge the two edges are exchanged
    // (degrees, minutes, flag and decimal value), likewise west and east.
    // Returns true when anything was exchanged.
    bool OrderBox();
};

class MissionStore {
public:
    static const QString kDefaultLogPath; // "C:\CindrelData" (stored unmapped)

    // Number of stored missions (the array's size).
    static int Count();
    // Entry i with every key; an index outside the array gives an empty record.
    static MissionRecord Read(int index);
    static QList<MissionRecord> ReadAll();
    // Writes every key of entry i. The array grows to i + 1 when i lies
    // beyond its end; otherwise its size is kept.
    static void Write(int index, const MissionRecord &m);
    // Writes what the dialog's edits change: the four texts, the degrees,
    // minutes and hemisphere flags, and the four decimal values.
    // Nothing is written for an index outside the array.
    static bool WriteBoxAndTexts(int index, const MissionRecord &m);
    // Replaces the whole list with the given missions in one write; the
    // selection is kept within the new list.
    static void ReplaceAll(const QList<MissionRecord> &missions);
    // Appends a mission; returns its index.
    static int Append(const MissionRecord &m);
    // Removes the whole array.
    static void Clear();

    // "LastUsed/MissionSelect" (default 0).
    static int SelectedIndex();
    static void SetSelectedIndex(int index);

    // Floats are stored as their shortest decimal text ("45.5", "-121.1").
    static QString FloatText(float v);
};
