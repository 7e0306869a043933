#pragma once

#include <QString>

// The program's German texts, keyed by their resource numbers. A command's
// text holds its status-bar prompt and, after a line feed, its tooltip.
namespace StringId
{
inline constexpr unsigned kTrayTip = 129;
inline constexpr unsigned kColumnTitles = 192;
inline constexpr unsigned kStartupFailed = 224;
inline constexpr unsigned kBadFormat = 226;
inline constexpr unsigned kNoDataSource = 227;
inline constexpr unsigned kUnrecordedPoints = 605;
inline constexpr unsigned kTextTooLong = 606;
inline constexpr unsigned kTextWithNul = 607;
inline constexpr unsigned kNoSensorId = 608;
inline constexpr unsigned kPointName = 609;
inline constexpr unsigned kScanNotSent = 650;
inline constexpr unsigned kOfferRecovery = 651;
inline constexpr unsigned kChangedOnDisk = 700;
inline constexpr unsigned kReplaceFile = 701;
inline constexpr unsigned kNoProgramForExport = 702;
inline constexpr unsigned kDesktopUsage = 770;
inline constexpr unsigned kUnknownOption = 771;
inline constexpr unsigned kAppName = 57344;
inline constexpr unsigned kReady = 57345;
inline constexpr unsigned kCapsLock = 59137;
inline constexpr unsigned kNumLock = 59138;
inline constexpr unsigned kScrollLock = 59139;
} // namespace StringId

// Empty for a number the table does not hold.
QString LoadString(unsigned id);
// The halves of a command's text before and after the line feed.
QString CommandPrompt(unsigned id);
QString CommandTooltip(unsigned id);
