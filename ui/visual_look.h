#pragma once
// The five visual styles (looks) of the window, kept by command id: each one
// a Qt style with a palette of its own. The look applies to the whole
// application; the window's docking behaviour follows it.
#include <QPalette>
#include <QString>

class HiveStore;
class QMainWindow;

inline constexpr int kFirstLookId = 32826;  // the framework's plain style
inline constexpr int kLastLookId = 32830;   // Visual Studio 2005, the default
inline constexpr int kDefaultLookId = kLastLookId;

bool IsLookId(int id);
QString LookStyleName(int lookId);
QPalette LookPalette(int lookId);

// Sets style and palette of the application and the docking options of the
// window (animated, "smart" docking for the Visual Studio look); false for an
// id that is not a look.
bool ApplyVisualLook(int lookId, QMainWindow* window);

// "ApplicationLook" of the profile; the default when absent or not a look.
int ReadApplicationLook(HiveStore* hive, int defaultLook = kDefaultLookId);
void WriteApplicationLook(HiveStore* hive, int lookId);
