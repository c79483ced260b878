#include "ResourceImages.h"

#include <algorithm>
#include <iterator>

#include <QGuiApplication>

namespace {

struct NamedImage
{
    int id;
    const char* name;
};

// The one list of picture names; the picture generator writes its files from it.
constexpr NamedImage Images[] = {
    {130, "caption"},           {131, "minimise-pressed"},   {132, "minimise-hover"},
    {133, "minimise-normal"},   {135, "middle-pressed"},     {136, "middle-hover"},
    {137, "middle-normal"},     {138, "close-pressed"},      {139, "close-hover"},
    {140, "close-normal"},      {143, "remove-all-normal"},  {144, "remove-all-pressed"},
    {145, "remove-all-hover"},  {146, "add-movies-pressed"}, {147, "add-movies-hover"},
    {148, "add-movies-normal"}, {149, "remove-pressed"},     {150, "remove-normal"},
    {151, "remove-hover"},      {152, "sampling-pressed"},   {153, "sampling-normal"},
    {154, "sampling-hover"},    {155, "about-pressed"},      {156, "about-normal"},
    {157, "about-hover"},       {158, "make-pressed"},       {159, "make-normal"},
    {160, "make-hover"},        {161, "web-site-pressed"},   {162, "web-site-normal"},
    {163, "web-site-hover"},    {164, "options-pressed"},    {165, "options-normal"},
    {166, "options-hover"},     {167, "play-pressed"},       {168, "play-normal"},
    {169, "play-hover"},        {170, "stop-pressed"},       {171, "stop-normal"},
    {172, "stop-hover"},
};

constexpr int ApplicationIconId = 128;

} // namespace

QString ResourceImagePath(int id, int scale)
{
    const auto* found = std::find_if(std::begin(Images), std::end(Images),
                                     [id](const NamedImage& image) { return image.id == id; });
    if (found == std::end(Images) || (scale != 1 && scale != 2))
        return {};
    return QStringLiteral(":/res/%1-%2%3.png")
        .arg(id)
        .arg(QLatin1String(found->name))
        .arg(scale == 2 ? QStringLiteral("@2x") : QString());
}

std::vector<int> ResourceImageIds()
{
    std::vector<int> ids;
    for (const NamedImage& image : Images)
        ids.push_back(image.id);
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
    return {16, 24, 32, 48, 64, 128, 256};
}

QString ApplicationIconPath(int size)
{
    return QStringLiteral(":/res/%1-icon-%2.png").arg(ApplicationIconId).arg(size);
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : ApplicationIconSizes())
        icon.addFile(ApplicationIconPath(size), QSize(size, size));
    return icon;
}
