#pragma once
// The files a hive save writes before renaming one over the hive. A save
// locks its file while writing it, and renames it a moment later; a file
// that can be locked and is no longer fresh was left by a killed save.
#include <chrono>
#include <string>
#include <string_view>

inline constexpr std::string_view kHiveSaveFilePrefix = ".qvviewer-hive-";
inline constexpr const char* kHiveSaveFilePattern = ".qvviewer-hive-XXXXXX";  // for mkostemp
inline constexpr std::chrono::seconds kHiveSaveFileStaleAge{60};

// Removes the save files left in dir by killed saves; best effort.
void RemoveStaleHiveSaveFiles(const std::string& dir);
