#pragma once
// Mission plan import: an XML file whose root element is
// "request-information", with one child element "request" per survey box:
//
//   <request-information>
//     <request>
//       <name>Ridge Fire #1</name> <p-number>P1234</p-number>
//       <north>45.5</north> <south>45.25</south>
//       <east>-120.75</east> <west>-121.1</west>
//     </request>
//   </request-information>
//
// Every stored request becomes a mission of the store (mission/missionstore.h);
// an import that stores at least one mission replaces the whole list, one
// that stores none leaves it alone. Problems are reported in "Mission Parse"
// boxes through the notice layer, without a parent window.
#include "mission/missionstore.h"

#include <QString>

class QDomDocument;
class QDomElement;

class MissionPlanImport {
public:
    static const QString kDefaultPlan;   // "C:\CindrelData\flightdata.xml"
    static const QString kDefaultTech;   // technician when none was ever set
    static const QString kDefaultTail;   // tail number when none was ever set
    static const QString kTitle;         // "Mission Parse"

    struct Summary {
        int stored = 0;
        int failed = 0;
        QString error;   // why the file could not be read (result -1)
    };

    // The menu command: imports the file named by "LastUsed/MsnPlanXml",
    // asking for one when it does not exist. 0 when the file was read and
    // its requests processed, -1 otherwise (also when the choice is cancelled).
    static int ImportMissionPlan(Summary *summary = nullptr);

    // Imports the named file with the technician, tail number and log path
    // of the settings store; ends with the summary box. A file that cannot
    // be read or parsed, or whose root is wrong, is reported in a critical
    // box and gives -1; nothing is stored then.
    static int ImportFile(const QString &path, Summary *summary = nullptr);

    // Reads and parses a plan; false with the reason when the file cannot
    // be opened, is not well-formed XML or has another root element.
    static bool LoadPlan(const QString &path, QDomDocument *doc, QString *error);

    // Turns one "request" element into a mission and writes it at the index
    // of "MsnList" (index 0 starts a new list). 0 when stored; -1 when
    // refused (no name, a zero degree value, or an edge that is not a
    // coordinate), after a critical box naming the request.
    static int ImportMissionRequest(const QDomElement &request, const QString &tailNumber,
                                    const QString &techName, const QString &logPath, int index);
    // The mission a request describes, without storing it; false when it
    // would be refused (the box is shown).
    static bool ParseMissionRequest(const QDomElement &request, const QString &tailNumber,
                                    const QString &techName, const QString &logPath, MissionRecord *mission);

    // Whole degrees of an edge text, without sign ("-120.75" gives 120);
    // -1 when it holds no digit before its ".".
    static int GetDegrees(const QString &text);
    // Minutes of the fraction of an edge text, rounded half away from zero
    // ("45.5" gives 30, "45.999" gives 60); 0 for a whole number; -1 when
    // the fraction is malformed.
    static int GetMinutes(const QString &text);
    // The stored form of a request's name: " #1" removed, blanks to "_".
    static QString MissionName(const QString &text);
};
