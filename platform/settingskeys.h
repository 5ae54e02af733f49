#pragma once
// Every key of the settings store, each named once. Code reads and writes
// settings only through these constants, so a key can never be spelled two
// ways in two places.
#include <QString>

namespace SettingsKey {

// The flight data folder and the mission selection.
inline const QString LogPath = QStringLiteral("LastUsed/logPath");
inline const QString MissionSelect = QStringLiteral("LastUsed/MissionSelect");
inline const QString TechName = QStringLiteral("LastUsed/techName");
inline const QString TailNumber = QStringLiteral("LastUsed/tailNumber");
inline const QString MsnPlanXml = QStringLiteral("LastUsed/MsnPlanXml");
// The mission store (an array group).
inline const QString MissionList = QStringLiteral("MsnList");

// Acquisition settings of the main window.
inline const QString FireDetectUsePoly = QStringLiteral("LastUsed/FireDetectUsePoly");
inline const QString FireDetectChnBFireLimit = QStringLiteral("LastUsed/FireDetectChnBFireLimit");
inline const QString FireDetectChnBColdLimit = QStringLiteral("LastUsed/FireDetectChnBColdLimit");
inline const QString FireDetectPolyA2 = QStringLiteral("LastUsed/FireDetectPolyA2");
inline const QString FireDetectPolyA1 = QStringLiteral("LastUsed/FireDetectPolyA1");
inline const QString FireDetectPolyA0 = QStringLiteral("LastUsed/FireDetectPolyA0");
inline const QString ChannelBGain = QStringLiteral("LastUsed/ChannelBGain");
inline const QString ChannelBOffset = QStringLiteral("LastUsed/ChannelBOffset");
inline const QString VOverH = QStringLiteral("LastUsed/VOverH");
inline const QString FireDetectThreshold = QStringLiteral("LastUsed/FireDetectThreshold");
inline const QString FireDetectZoomIdx = QStringLiteral("LastUsed/FireDetectZoomIdx");
inline const QString FireDetectZoomExp = QStringLiteral("LastUsed/FireDetectZoomExp");
inline const QString BMaxZoomIdx = QStringLiteral("LastUsed/BMaxZoomIdx");
inline const QString BMaxZoomExp = QStringLiteral("LastUsed/BMaxZoomExp");
inline const QString FireDetAutoAmt = QStringLiteral("LastUsed/FireDetAutoAmt");
inline const QString BMaxAutoAmt = QStringLiteral("LastUsed/BMaxAutoAmt");
inline const QString BMinAutoAmt = QStringLiteral("LastUsed/BMinAutoAmt");

// The thresholds panel's own keys. The channel B offset is read from
// "ChnBOffset" and written to "ChnBOfs": two keys, kept as stored.
inline const QString FireThreshold = QStringLiteral("LastUsed/FireThreshold");
inline const QString ChnBGain = QStringLiteral("LastUsed/ChnBGain");
inline const QString ChnBOffset = QStringLiteral("LastUsed/ChnBOffset");
inline const QString ChnBOfs = QStringLiteral("LastUsed/ChnBOfs");
inline const QString VhOverride = QStringLiteral("LastUsed/VhOverride");
inline const QString FireDetectAutoAmt = QStringLiteral("LastUsed/FireDetectAutoAmt");
inline const QString BMaxAutoAmtToStore = QStringLiteral("LastUsed/BMaxAutoAmtToStore");
inline const QString BMinAutoAmtToStore = QStringLiteral("LastUsed/BMinAutoAmtToStore");

// The DSP board.
inline const QString ABShift = QStringLiteral("LastUsed/A_B_Shift");

// The rectifier's corrections.
inline const QString LeftOrthoAngleCor = QStringLiteral("LastUsed/LeftOrthoAngleCor");
inline const QString RightOrthoAngleCor = QStringLiteral("LastUsed/RightOrthoAngleCor");
inline const QString RollAdjust = QStringLiteral("LastUsed/RollAdjust");
inline const QString PitchAdjust = QStringLiteral("LastUsed/PitchAdjust");
inline const QString HdgAdjust = QStringLiteral("LastUsed/HdgAdjust");
inline const QString ImageSigmaA = QStringLiteral("LastUsed/ImageSigmaA");
inline const QString ImageSigmaB = QStringLiteral("LastUsed/ImageSigmaB");
inline const QString SkipBadLines = QStringLiteral("LastUsed/SkipBadLines");

// Elevation extraction stage and mosaic contrast.
inline const QString LastStage = QStringLiteral("LastUsed/LastStage");
inline const QString MosaicGamma = QStringLiteral("LastUsed/MosaicGamma");

// The transfer dialog's destination folders (its data folder is LogPath).
inline const QString FtpDestPath = QStringLiteral("LastUsed/FtpDestPath");
inline const QString FtpBackupPath = QStringLiteral("LastUsed/FtpBackupPath");

// The display layout file "Cindrel64_Config.ini" of the thresholds panel.
inline const QString CenterPageStep = QStringLiteral("Center/PageStep");
inline const QString CenterSingleStep = QStringLiteral("Center/SingleStep");

// Asks for the simulated DSP board where a real driver exists (the demo
// start-up sets it through its command-line option instead).
inline const QString SimulatedBoard = QStringLiteral("DSP/SimulatedBoard");

} // namespace SettingsKey
