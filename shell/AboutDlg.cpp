#include "AboutDlg.h"

#include "controls/CQHyperLink.h"
#include "controls/ResourceImages.h"
#include "shell/AppInfo.h"
#include "shell/DialogUnits.h"

#include <QLabel>
#include <QPushButton>
#include <QUrl>

namespace {

const QColor DialogBackground(250, 250, 250);

template <class Widget>
Widget* Place(Widget* widget, int x, int y, int width, int height)
{
    widget->setGeometry(DialogUnitsToPixels(x, y, width, height));
    return widget;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Clipvane"));
    QFont dialogFont(QStringLiteral("Tahoma"));
    dialogFont.setPointSize(8);
    setFont(dialogFont);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, DialogBackground);
    setPalette(colours);
    setAutoFillBackground(true);
    setFixedSize(DialogUnitsToPixels(0, 0, 200, 121).size());

    auto* icon = Place(new QLabel(this), 9, 9, 21, 20);
    icon->setPixmap(ApplicationIcon().pixmap(32, 32));
    Place(new QLabel(AppInfo::Caption, this), 40, 10, 150, 9);
    Place(new QLabel(QStringLiteral("Version:"), this), 40, 22, 30, 9);
    m_labelVersion = Place(new QLabel(this), 72, 22, 100, 9);
    m_labelVersion->setObjectName(QString::number(IdVersion));
    Place(new QLabel(QStringLiteral("Copyright (C) Tolva. All rights reserved."), this), 40, 38,
          155, 9);
    Place(new QLabel(QStringLiteral("Provided as is, without warranty of any kind."), this), 40, 48,
          155, 9);

    const QString homePage = QString::fromLatin1(AppInfo::HomePageUrl);
    m_linkWeb = Place(new CCQHyperLink(QUrl(homePage).host(), this), 40, 64, 150, 9);
    m_linkMail = Place(new CCQHyperLink(QString::fromLatin1(AppInfo::SupportMailAddress), this), 40,
                       76, 150, 9);
    m_linkWeb->setObjectName(QString::number(IdWebLink));
    m_linkMail->setObjectName(QString::number(IdMailLink));
    for (CCQHyperLink* link : {m_linkWeb, m_linkMail})
        link->SetBackgroundColour(DialogBackground);

    auto* ok = Place(new QPushButton(QStringLiteral("OK"), this), 75, 98, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    // What the dialog's initialisation fills in.
    m_strVersion = VersionText();
    m_linkWeb->SetURL(homePage);
    m_linkMail->SetURL(QStringLiteral("mailto:") +
                       QString::fromLatin1(AppInfo::SupportMailAddress));
    m_labelVersion->setText(m_strVersion);
}

QString CAboutDlg::VersionText()
{
    return QString::asprintf("%d.%d.%04d", AppInfo::MajorVersion, AppInfo::MinorVersion,
                             AppInfo::BuildVersion);
}
