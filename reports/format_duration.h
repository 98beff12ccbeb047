#pragma once
// The one rule by which the viewer writes a time spent as text: whole
// minutes below an hour, hours and minutes above, with a day part from one
// full day on. Seconds below a minute are dropped, never rounded.
#include <QString>

QString FormatDuration(double milliseconds);
