#pragma once

#include <vector>

#include <QIcon>
#include <QPixmap>
#include <QString>

// The program's pictures, compiled into it with the Qt resource system and
// found by their numeric resource ids (Pictures below): 128 the application
// icon, 130 to 140 the skinned frame's caption pictures, 143 to 172 and 176 to
// 178 the faces of the form's buttons. Every picture exists twice: "<name>.png"
// and "<name>@2x.png" at twice the size for screens with a device pixel ratio
// above 1.

// The three looks of a picture button by picture id: normal (also the focused
// look), pressed (also the disabled look) and hover.
struct ButtonPictures
{
    quint16 normal;
    quint16 pressed;
    quint16 hover;
};

// Every picture id, the one list of them with FormButtons below: the program,
// the controls demo and the picture generator name pictures only through these.
namespace Pictures {

inline constexpr int ApplicationIcon = 128;
// The skinned frame's caption band and caption buttons.
inline constexpr int Caption = 130;
inline constexpr ButtonPictures Minimise{133, 131, 132}, Middle{137, 135, 136},
    Close{140, 138, 139};

} // namespace Pictures

// A button of the main form: its pictures, the name their files carry
// ("<fileName>-normal.png"), the words the generator draws on its face, and the
// name of its action (what screen readers say; its only label is the picture).
struct FormButton
{
    ButtonPictures pictures;
    const char* fileName;
    const char* face;
    const char* name;
};

// The main form's eleven buttons, the one list of them.
namespace FormButtons {

inline constexpr FormButton AddFolder{{177, 176, 178}, "add-folder", "Add\nFolder", "Add Folder"},
    AddMovies{{148, 146, 147}, "add-movies", "Add\nMovies", "Add Movies"},
    Remove{{150, 149, 151}, "remove", "Remove", "Remove"},
    RemoveAll{{143, 144, 145}, "remove-all", "Remove\nAll", "Remove All"},
    Play{{168, 167, 169}, "play", "Play", "Play"},
    Sampling{{153, 152, 154}, "sampling", "Sampling", "Sampling"},
    Options{{165, 164, 166}, "options", "Options", "Options"},
    About{{156, 155, 157}, "about", "About", "About"},
    WebSite{{162, 161, 163}, "web-site", "www.tolva\n.example", "Web Site"},
    Make{{159, 158, 160}, "make", "Make", "Make"}, Stop{{171, 170, 172}, "stop", "Stop", "Stop"};
inline constexpr const FormButton* All[] = {&AddFolder, &AddMovies, &Remove,  &RemoveAll,
                                            &Play,      &Sampling,  &Options, &About,
                                            &WebSite,   &Make,      &Stop};

} // namespace FormButtons

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
