#pragma once

#include <vector>

#include <QIcon>
#include <QPixmap>
#include <QString>

// The program's pictures, compiled into it with the Qt resource system and
// found by their numeric resource ids: 128 the application icon, 130 to 140 the
// skinned frame's caption pictures, 143 to 172 the faces of the form's buttons.
// Every picture exists twice: "<name>.png" and "<name>@2x.png" at twice the size
// for screens with a device pixel ratio above 1.

// The resource path of the picture with the given id, at scale 1 or 2:
// ":/res/<id>-<name>.png" or ":/res/<id>-<name>@2x.png". Empty for an id that
// has no picture (the icon, which exists in several sizes, has none either).
QString ResourceImagePath(int id, int scale = 1);

// Every id that ResourceImagePath knows, in ascending order.
std::vector<int> ResourceImageIds();

// The picture with the given id, or a null pixmap when there is none. Above a
// device pixel ratio of 1 the @2x picture is taken and its devicePixelRatio set
// to 2, so that its logical size is that of the normal picture.
QPixmap LoadResourceBitmap(int id);

// The sizes, in pixels, in which the application icon is drawn.
std::vector<int> ApplicationIconSizes();

// The resource path of the application icon (id 128) at one of those sizes.
QString ApplicationIconPath(int size);

// The application icon with all its sizes.
QIcon ApplicationIcon();
