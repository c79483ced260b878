// Shows every control of the program in the skinned frame, laid out as the
// main form places them: the headings, the labels of the information panel,
// the eleven picture buttons, both progress bars and a hyperlink.

#include "controls/AppFonts.h"
#include "controls/CQHyperLink.h"
#include "controls/FormColours.h"
#include "controls/GlimmerloomFrame.h"
#include "controls/GradientStaticCQ.h"
#include "controls/ResourceImages.h"
#include "controls/SkinButtonCQ.h"
#include "controls/StaticCQ.h"
#include "controls/TextProgressCtrl.h"
#include "shell/AppInfo.h"
#include "shell/DialogUnits.h"

#include <utility>

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QUrl>
#include <QWidget>

namespace {

struct Label
{
    const char* text;
    int x, y, w, h;
    bool caption; // black on light grey; values are white on the form colour
};

const Label Labels[] = {
    {"Settings : ", 6, 170, 72, 11, true},
    {"Encoder : ", 6, 181, 72, 11, true},
    {"Video Bit Rate : ", 6, 192, 72, 11, true},
    {"fps : ", 6, 202, 72, 11, true},
    {"Screen Resolution : ", 6, 213, 72, 11, true},
    {"Audio Mode : ", 6, 224, 72, 11, true},
    {"Audio Bit Rate : ", 6, 235, 72, 11, true},
    {"Pocket PC Normal", 80, 170, 72, 11, false},
    {"MPEG-4(OpenDivx)", 80, 181, 72, 11, false},
    {"200", 80, 192, 72, 11, false},
    {"15.000", 80, 202, 72, 11, false},
    {"320x240", 80, 213, 72, 11, false},
    {"stereo", 80, 224, 72, 11, false},
    {"96", 80, 235, 72, 11, false},
    {"Input : ", 195, 170, 72, 22, true},
    {"Output : ", 195, 190, 72, 26, true},
    {"/home/user/Videos/Holiday at the lake, summer 2023.mpg", 269, 170, 179, 21, false},
    {"/home/user/Documents/Encoded Movies/PPC_Holiday at the lake, summer 2023.avi", 269, 190, 179,
     26, false},
    {"Elapsed Time : ", 195, 226, 72, 11, true},
    {"Time Remaining : ", 195, 237, 72, 11, true},
    {"Current Progress : ", 195, 248, 72, 11, true},
    {"Total Progress : ", 195, 259, 72, 11, true},
    {"00:01:12", 267, 226, 123, 11, false},
    {"00:02:03", 267, 237, 82, 11, false},
};

struct Heading
{
    const char* text;
    int x, y, w, h;
};

const Heading Headings[] = {
    {"Import or Remove Movies", 4, 7, 451, 11},
    {"Encoding Information", 6, 159, 184, 11},
    {"Current File", 195, 159, 260, 11},
    {"Progress", 195, 216, 260, 10},
};

struct Button
{
    int x, y;
    ButtonPictures pictures;
};

const Button Buttons[] = {
    {150, 115, FormButtons::AddFolder.pictures}, {194, 115, FormButtons::AddMovies.pictures},
    {238, 115, FormButtons::Remove.pictures},    {282, 115, FormButtons::RemoveAll.pictures},
    {368, 115, FormButtons::Play.pictures},      {411, 115, FormButtons::Sampling.pictures},
    {194, 272, FormButtons::Options.pictures},   {238, 272, FormButtons::About.pictures},
    {282, 272, FormButtons::WebSite.pictures},   {368, 272, FormButtons::Make.pictures},
    {411, 272, FormButtons::Stop.pictures},
};

const QColor PanelColour{52, 52, 54};

// Where the form has its movie list: a word-wrapped label, a bar with a
// caption instead of a percentage, and two links.
void AddListArea(QWidget* form, const QFont& font)
{
    const QRect area = DialogUnitsToPixels(4, 19, 451, 92);
    auto* panel = new CStaticCQ(QString(), Qt::AlignLeft, false, form);
    panel->setGeometry(area);
    panel->SetBkColor(PanelColour);
    auto* text = new CStaticCQ(
        QStringLiteral("Every control of Clipvane in its skinned frame. Move the pointer over the "
                       "buttons and press them to see their looks; drag the caption band to move "
                       "the window, and close it with the cross at the top right. The progress "
                       "bars below stand at 37% and 81%; this one shows a caption instead:"),
        Qt::AlignLeft, false, form);
    text->setGeometry(area.adjusted(10, 8, -10, -area.height() + 60));
    text->SetLogFont(&font);
    text->SetTextColor(QColor(220, 220, 220));
    text->SetBkColor(PanelColour);

    auto* finished = new CTextProgressCtrl(form);
    finished->setGeometry(area.left() + 10, area.top() + 62, 273, 16);
    finished->SetPos(100);
    finished->SetCaption(QStringLiteral("Encoding Finished !!"));

    // The maker's two links, as the about box shows them.
    const QString homePage = QString::fromLatin1(AppInfo::HomePageUrl);
    const std::pair<QString, QString> links[] = {
        {QUrl(homePage).host(), homePage},
        {QString::fromLatin1(AppInfo::SupportMailAddress), AppInfo::SupportMailUrl()},
    };
    int y = area.top() + 96;
    for (const auto& [text, url] : links) {
        auto* link = new CCQHyperLink(text, form);
        link->SetURL(url);
        link->SetBackgroundColour(PanelColour);
        link->SetColours(QColor(120, 170, 255), QColor(190, 140, 230), QColor(170, 210, 255));
        link->setGeometry(QRect(QPoint(area.left() + 10, y), link->sizeHint()));
        y += 20;
    }
}

QWidget* MakeForm()
{
    auto* form = new QWidget;
    QPalette palette = form->palette();
    palette.setColor(QPalette::Window, FormColours::Background);
    form->setPalette(palette);
    form->setAutoFillBackground(true);
    form->setFont(DialogFont());

    for (const Heading& h : Headings)
        (new CGradientStaticCQ(QString::fromUtf8(h.text), form))
            ->setGeometry(DialogUnitsToPixels(h.x, h.y, h.w, h.h));

    const QFont labelFont = CellHeightFont(QStringLiteral("Tahoma"), 13);
    for (const Label& l : Labels) {
        auto* label = new CStaticCQ(QString::fromUtf8(l.text), Qt::AlignLeft, l.h <= 11, form);
        label->setGeometry(DialogUnitsToPixels(l.x, l.y, l.w, l.h));
        label->SetLogFont(&labelFont);
        label->SetOffsets(10, 2);
        label->SetTextColor(l.caption ? Qt::black : Qt::white);
        label->SetBkColor(l.caption ? FormColours::CaptionBackground : FormColours::Background);
    }

    for (const Button& b : Buttons) {
        auto* button = new CSkinButtonCQ(form);
        button->setGeometry(DialogUnitsToPixels(b.x, b.y, 44, 38));
        button->SetSkin(b.pictures);
    }

    auto* current = new CTextProgressCtrl(form);
    current->setGeometry(DialogUnitsToPixels(273, 248, 182, 10));
    current->SetPos(37);
    auto* total = new CTextProgressCtrl(form);
    total->setGeometry(DialogUnitsToPixels(273, 260, 182, 10));
    total->SetPos(81);
    AddListArea(form, labelFont);
    return form;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    RegisterApplicationFonts();
    QApplication::setWindowIcon(ApplicationIcon());

    CGlimmerloomFrame frame;
    frame.setWindowTitle(QStringLiteral("Clipvane Controls"));
    frame.SetClientWidget(MakeForm());
    frame.resize(700, 550);
    frame.show();
    return app.exec();
}
