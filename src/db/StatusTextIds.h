#pragma once

// Numbers of the string-table texts that the database commands show in the
// status bar while they work and when they are done.
inline constexpr unsigned kStrDatabaseAccess = 331; // "Datenbankzugriff..."
inline constexpr unsigned kStrReady = 57345;        // "Bereit"
