// The program's own pictures, drawn as SVG and compiled in.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace kalmuro {

// The picture `name` (the file name without ".svg") drawn at exactly this
// size, for the device pixel ratio of the screen it goes to.
QPixmap PicturePixmap(const QString& name, const QSize& size, qreal devicePixelRatio = 1.0);
// An icon drawn from the picture at every size asked for. The program's own
// icon uses its simplified drawing at 16 and 22 pixels, so the tray shows a
// clear shape.
QIcon PictureIcon(const QString& name);
// The program's icon: window, taskbar and tray.
QIcon ProgramIcon();

}  // namespace kalmuro
