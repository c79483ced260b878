// Draws every picture of the program into one folder: the button faces, the
// caption picture and caption buttons of the skinned frame, and the application
// icon, each button and caption picture at scale 1 and again at scale 2
// ("@2x"). Run through scripts/make-pictures.sh; the output is committed under
// res/pictures. The drawing depends only on this file and the Tahoma fonts of
// fonts-wine, so the same build draws the same pixels every time.

#include "controls/AppFonts.h"
#include "controls/FormColours.h"
#include "controls/ResourceImages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

namespace {

constexpr int FaceWidth = 70;
constexpr int FaceHeight = 60;
// The form places its buttons 66 pixels apart and 62 high: the face's frame
// lies within that, so neighbouring buttons keep a gap.
constexpr QRectF FaceFrame{2.5, 2.5, 61.0, 55.0};
constexpr qreal FaceRadius = 6.0;

enum class Look
{
    Normal,
    Pressed,
    Hover
};

QString OutputFolder;

QImage Canvas(int width, int height, int scale, const QColor& fill)
{
    QImage image(width * scale, height * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(fill);
    return image;
}

void Save(const QImage& image, const QString& path)
{
    QImage out = image;
    out.setDevicePixelRatio(1.0);
    if (!out.hasAlphaChannel() || out.pixelColor(0, 0).alpha() == 255)
        out = out.convertToFormat(QImage::Format_RGB32);
    const QString file =
        OutputFolder + QLatin1Char('/') + path.mid(QStringLiteral(":/res/").size());
    if (!out.save(file, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        std::exit(1);
    }
}

// Draws the picture at both scales and saves it under its resource name.
void Draw(int id, int width, int height, const std::function<void(QPainter&, int)>& paint)
{
    for (int scale : {1, 2}) {
        QImage image = Canvas(width, height, scale, FormColours::Background);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::TextAntialiasing);
            paint(painter, scale);
        }
        Save(image, ResourceImagePath(id, scale));
    }
}

// A blurred copy of the alpha of an image, coloured: the glow behind a frame or
// a text. Three box blurs approximate a Gaussian.
QImage Glow(const QImage& shape, const QColor& colour, int radius)
{
    const int w = shape.width();
    const int h = shape.height();
    std::vector<int> alpha(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            alpha[size_t(y) * w + x] = qAlpha(shape.pixel(x, y));
    std::vector<int> line(std::max(w, h));
    const auto blur = [&](bool horizontal) {
        const int outer = horizontal ? h : w;
        const int inner = horizontal ? w : h;
        for (int o = 0; o < outer; ++o) {
            const auto at = [&](int i) -> int& {
                return horizontal ? alpha[size_t(o) * w + i] : alpha[size_t(i) * w + o];
            };
            for (int i = 0; i < inner; ++i) {
                int sum = 0;
                for (int k = -radius; k <= radius; ++k) {
                    const int j = i + k;
                    if (j >= 0 && j < inner)
                        sum += at(j);
                }
                line[i] = sum / (2 * radius + 1);
            }
            for (int i = 0; i < inner; ++i)
                at(i) = line[i];
        }
    };
    for (int pass = 0; pass < 3; ++pass) {
        blur(true);
        blur(false);
    }
    QImage glow(w, h, QImage::Format_ARGB32_Premultiplied);
    glow.setDevicePixelRatio(shape.devicePixelRatio());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int a = std::min(255, alpha[size_t(y) * w + x] * colour.alpha() / 255);
            glow.setPixel(x, y,
                          qRgba(colour.red() * a / 255, colour.green() * a / 255,
                                colour.blue() * a / 255, a));
        }
    return glow;
}

// Tahoma of 11 pixels (8 points), smaller for a label whose widest line would
// not fit inside the frame in bold. The same size serves all three looks of a
// button, so the label does not change size on hover. Hinted vertically only:
// crisp stems and the font's natural spacing.
QFont LabelFont(const QString& label, bool bold)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setHintingPreference(QFont::PreferVerticalHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    for (int pixels = 11; pixels > 8; --pixels) {
        font.setPixelSize(pixels);
        font.setBold(true);
        const QFontMetricsF metrics(font);
        qreal widest = 0;
        for (const QString& line : label.split(QLatin1Char('\n')))
            widest = std::max(widest, metrics.horizontalAdvance(line));
        if (widest <= FaceFrame.width() - 8)
            break;
    }
    font.setBold(bold);
    return font;
}

// The label's lines centred in the rectangle, a little further apart than the
// font's own line height, which would make two lines of Tahoma touch.
void DrawLabel(QPainter& painter, const QRectF& rect, const QString& label)
{
    const QStringList lines = label.split(QLatin1Char('\n'));
    const qreal pitch = std::round(painter.font().pixelSize() * 1.25);
    qreal top = rect.center().y() - pitch * lines.size() / 2;
    for (const QString& line : lines) {
        painter.drawText(QRectF(rect.left(), top, rect.width(), pitch), Qt::AlignCenter, line);
        top += pitch;
    }
}

void DrawFace(QPainter& painter, int scale, Look look, const QString& label)
{
    QPainterPath frame;
    frame.addRoundedRect(FaceFrame, FaceRadius, FaceRadius);

    if (look == Look::Hover) {
        QImage shape = Canvas(FaceWidth, FaceHeight, scale, Qt::transparent);
        QPainter shapePainter(&shape);
        shapePainter.setRenderHint(QPainter::Antialiasing);
        shapePainter.setPen(QPen(Qt::white, 2.0));
        shapePainter.drawPath(frame);
        shapePainter.end();
        painter.drawImage(0, 0, Glow(shape, QColor(255, 255, 255, 200), 2 * scale));
    }

    QLinearGradient body(0, FaceFrame.top(), 0, FaceFrame.bottom());
    switch (look) {
    case Look::Normal:
        body.setColorAt(0, QColor(70, 70, 73));
        body.setColorAt(1, QColor(48, 48, 50));
        break;
    case Look::Pressed:
        body.setColorAt(0, QColor(40, 40, 42));
        body.setColorAt(1, QColor(52, 52, 54));
        break;
    case Look::Hover:
        body.setColorAt(0, QColor(86, 86, 90));
        body.setColorAt(1, QColor(58, 58, 61));
        break;
    }
    painter.fillPath(frame, body);

    if (look == Look::Pressed) {
        // The face looks sunk: a shadow inside the top and left edges.
        painter.save();
        painter.setClipPath(frame);
        QLinearGradient top(0, FaceFrame.top(), 0, FaceFrame.top() + 5);
        top.setColorAt(0, QColor(0, 0, 0, 170));
        top.setColorAt(1, QColor(0, 0, 0, 0));
        painter.fillRect(FaceFrame, top);
        QLinearGradient left(FaceFrame.left(), 0, FaceFrame.left() + 5, 0);
        left.setColorAt(0, QColor(0, 0, 0, 150));
        left.setColorAt(1, QColor(0, 0, 0, 0));
        painter.fillRect(FaceFrame, left);
        painter.restore();
    }

    const QColor frameColour = look == Look::Hover ? QColor(236, 236, 236) : QColor(150, 150, 150);
    painter.setPen(QPen(frameColour, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(frame);

    QRectF textRect = FaceFrame;
    if (look == Look::Pressed)
        textRect.translate(1, 1);
    if (look == Look::Hover) {
        QImage shape = Canvas(FaceWidth, FaceHeight, scale, Qt::transparent);
        QPainter shapePainter(&shape);
        shapePainter.setFont(LabelFont(label, true));
        shapePainter.setPen(Qt::white);
        DrawLabel(shapePainter, textRect, label);
        shapePainter.end();
        painter.drawImage(0, 0, Glow(shape, QColor(255, 255, 255, 255), 2 * scale));
        painter.setFont(LabelFont(label, true));
        painter.setPen(Qt::white);
    } else {
        painter.setFont(LabelFont(label, false));
        painter.setPen(look == Look::Pressed ? QColor(190, 190, 190) : QColor(208, 208, 208));
    }
    DrawLabel(painter, textRect, label);
}

// The program's emblem in a square or near-square box: an amber badge with a
// white arrow turning round a play sign, a movie being turned into another.
void DrawEmblem(QPainter& painter, const QRectF& box)
{
    const qreal s = std::min(box.width(), box.height());
    const QRectF badge(box.center().x() - s / 2, box.center().y() - s / 2, s, s);
    QPainterPath shape;
    shape.addRoundedRect(badge, s * 0.22, s * 0.22);
    QLinearGradient fill(badge.topLeft(), badge.bottomLeft());
    fill.setColorAt(0, QColor(255, 170, 60));
    fill.setColorAt(1, QColor(214, 72, 22));
    painter.fillPath(shape, fill);
    painter.save();
    painter.setClipPath(shape);
    QLinearGradient shine(badge.topLeft(), QPointF(badge.left(), badge.top() + s * 0.5));
    shine.setColorAt(0, QColor(255, 255, 255, 80));
    shine.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(badge, shine);
    painter.restore();

    const QPointF centre = badge.center();
    const auto at = [&](qreal x, qreal y) {
        return QPointF(badge.left() + x * s, badge.top() + y * s);
    };

    // The turning arrow: an open ring, its head at the top pointing right.
    const qreal radius = s * 0.31;
    const qreal width = s * 0.095;
    const QRectF ring(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    constexpr qreal StartAngle = 100; // degrees, counter-clockwise from three o'clock
    constexpr qreal Sweep = 265;
    QPainterPath arc;
    arc.arcMoveTo(ring, StartAngle);
    arc.arcTo(ring, StartAngle, Sweep);
    painter.setPen(QPen(Qt::white, width, Qt::SolidLine, Qt::FlatCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(arc);
    // The head sits where the ring starts and points along it, clockwise.
    const qreal a = qDegreesToRadians(StartAngle);
    const QPointF tip(centre.x() + radius * std::cos(a), centre.y() - radius * std::sin(a));
    const QPointF along(std::sin(a), std::cos(a));    // clockwise tangent (y down)
    const QPointF outward(std::cos(a), -std::sin(a)); // away from the centre
    const qreal head = s * 0.15;
    QPainterPath arrow;
    arrow.moveTo(tip + along * head);
    arrow.lineTo(tip - along * head * 0.35 + outward * head * 0.95);
    arrow.lineTo(tip - along * head * 0.35 - outward * head * 0.95);
    arrow.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.fillPath(arrow, Qt::white);

    QPainterPath play;
    play.moveTo(at(0.42, 0.36));
    play.lineTo(at(0.64, 0.50));
    play.lineTo(at(0.42, 0.64));
    play.closeSubpath();
    painter.fillPath(play, Qt::white);
}

enum class Glyph
{
    Minimise,
    Middle,
    Close
};

void DrawCaptionButton(QPainter& painter, Glyph glyph, const QColor& colour)
{
    switch (glyph) {
    case Glyph::Minimise:
        painter.fillRect(QRectF(3, 10, 9, 2), colour);
        break;
    case Glyph::Middle:
        painter.setPen(QPen(colour, 1.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(3.5, 3.5, 8, 8));
        painter.fillRect(QRectF(3, 3, 9, 2), colour);
        break;
    case Glyph::Close:
        painter.setPen(QPen(colour, 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(3.5, 3.5), QPointF(11.5, 11.5));
        painter.drawLine(QPointF(11.5, 3.5), QPointF(3.5, 11.5));
        break;
    }
}

void DrawAll()
{
    for (const FormButton* button : FormButtons::All) {
        const QString label = QString::fromUtf8(button->face);
        for (const auto& [id, look] : {std::pair{button->pictures.normal, Look::Normal},
                                       std::pair{button->pictures.pressed, Look::Pressed},
                                       std::pair{button->pictures.hover, Look::Hover}})
            Draw(id, FaceWidth, FaceHeight,
                 [&](QPainter& painter, int scale) { DrawFace(painter, scale, look, label); });
    }

    Draw(Pictures::Caption, 794, 41,
         [](QPainter& painter, int) { DrawEmblem(painter, QRectF(221, 4, 32, 31)); });

    for (const auto& [glyph, ids] :
         {std::pair{Glyph::Minimise, Pictures::Minimise},
          std::pair{Glyph::Middle, Pictures::Middle}, std::pair{Glyph::Close, Pictures::Close}}) {
        const std::pair<int, QColor> looks[] = {{ids.normal, QColor(179, 179, 179)},
                                                {ids.pressed, QColor(140, 140, 140)},
                                                {ids.hover, QColor(255, 255, 255)}};
        for (const auto& [id, colour] : looks)
            Draw(id, 15, 15,
                 [&](QPainter& painter, int) { DrawCaptionButton(painter, glyph, colour); });
    }

    for (int size : ApplicationIconSizes()) {
        QImage icon = Canvas(size, size, 1, Qt::transparent);
        QPainter painter(&icon);
        painter.setRenderHint(QPainter::Antialiasing);
        DrawEmblem(painter, QRectF(0, 0, size, size)
                                .adjusted(size / 32.0, size / 32.0, -size / 32.0, -size / 32.0));
        painter.end();
        Save(icon, ApplicationIconPath(size));
    }
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    RegisterApplicationFonts();
    if (!QFontDatabase::families().contains(QStringLiteral("Tahoma"))) {
        std::fprintf(stderr, "Tahoma is missing: install fonts-wine\n");
        return 1;
    }
    OutputFolder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(OutputFolder);
    DrawAll();
    return 0;
}
