#pragma once
// The program's resources: the string table, icons and bitmaps (our own SVG
// artwork in a Qt resource file, rendered at the size asked for), the ten
// hourglass frames and the toolbar image strips. Pixmaps need a
// QGuiApplication; the QImage forms do not.
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QStringList>

// Registers the resource file of this static library; safe to call often.
// Every function below calls it, so callers need not.
void InitAppResources();

// The text of a string id; empty for an unknown id (and for 100, which holds
// no text).
QString LoadResString(unsigned id);
// Whether the table has an entry for the id (100 has one, though empty).
bool HasResString(unsigned id);
// Every id in the table, ascending.
QList<unsigned> ResStringIds();

// printf-style filling of "%s" with the arguments in order. "% s" (a space
// flag, which has no effect on strings) counts as "%s"; "%%" is a percent
// sign; missing arguments give empty text.
QString FormatResText(const QString& format, const QStringList& args);
// LoadResString(id) filled by FormatResText.
QString FormatResString(unsigned id, const QStringList& args);

// Icon 128, 154, 155, 157 or 161-163 rendered square at sizePx; 164 gives its
// first image. A null pixmap for an unknown id or a size below 1.
QPixmap LoadResIcon(unsigned id, int sizePx);
QImage LoadResIconImage(unsigned id, int sizePx);

// The ten frames of the hourglass (160), square at sizePx.
QList<QPixmap> HourglassFrames(int sizePx);
QList<QImage> HourglassFrameImages(int sizePx);

// A bitmap strip: 151 (highlighted) or 152 (normal) toolbar images,
// kToolbarImageCount images of 16 x 15 side by side in toolbar order; 164
// the Options navigation icons, 16 x 16 each. Transparent background.
// A null pixmap for an unknown id.
QPixmap ToolbarImage(unsigned id);
// The strip at scale times its size (for high-density screens).
QImage ToolbarImageScaled(unsigned id, int scale);
// The strip cut into its images.
QList<QPixmap> ToolbarButtonImages(unsigned id);
