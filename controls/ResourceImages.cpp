#include "ResourceImages.h"

#include "res/IconSizes.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include <QGuiApplication>

namespace {

struct NamedButton
{
    ButtonPictures ids;
    const char* name;
};

// The picture names, "<button>-<look>" for the buttons (the form's buttons name
// theirs in FormButtons); the picture generator writes its files from them.
constexpr char CaptionName[] = "caption";
constexpr NamedButton CaptionButtons[] = {
    {Pictures::Minimise, "minimise"},
    {Pictures::Middle, "middle"},
    {Pictures::Close, "close"},
};

std::vector<NamedButton> Buttons()
{
    std::vector<NamedButton> buttons(std::begin(CaptionButtons), std::end(CaptionButtons));
    for (const FormButton* button : FormButtons::All)
        buttons.push_back({button->pictures, button->fileName});
    return buttons;
}

// The name of the picture with the given id, or "" for an unknown id.
QString PictureName(int id)
{
    if (id == Pictures::Caption)
        return QLatin1String(CaptionName);
    for (const NamedButton& button : Buttons()) {
        for (const auto& [look, suffix] :
             {std::pair{button.ids.normal, "normal"}, std::pair{button.ids.pressed, "pressed"},
              std::pair{button.ids.hover, "hover"}}) {
            if (look == id)
                return QStringLiteral("%1-%2").arg(QLatin1String(button.name),
                                                   QLatin1String(suffix));
        }
    }
    return QString();
}

} // namespace

QString ResourceImagePath(int id, int scale)
{
    const QString name = PictureName(id);
    if (name.isEmpty() || (scale != 1 && scale != 2))
        return {};
    return QStringLiteral(":/res/%1-%2%3.png")
        .arg(id)
        .arg(name)
        .arg(scale == 2 ? QStringLiteral("@2x") : QString());
}

std::vector<int> ResourceImageIds()
{
    std::vector<int> ids = {Pictures::Caption};
    for (const NamedButton& button : Buttons())
        ids.insert(ids.end(), {button.ids.normal, button.ids.pressed, button.ids.hover});
    std::sort(ids.begin(), ids.end());
    return ids;
}

QPixmap LoadResourceBitmap(int id)
{
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    if (ratio > 1.0) {
        QPixmap large(ResourceImagePath(id, 2));
        if (!large.isNull()) {
            large.setDevicePixelRatio(2.0);
            return large;
        }
    }
    const QString path = ResourceImagePath(id, 1);
    return path.isEmpty() ? QPixmap() : QPixmap(path);
}

std::vector<int> ApplicationIconSizes()
{
    return {std::begin(ApplicationIconSizeList), std::end(ApplicationIconSizeList)};
}

QString ApplicationIconPath(int size)
{
    return QStringLiteral(":/res/%1-icon-%2.png").arg(Pictures::ApplicationIcon).arg(size);
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : ApplicationIconSizes())
        icon.addFile(ApplicationIconPath(size), QSize(size, size));
    return icon;
}
